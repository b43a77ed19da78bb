// A room measured through a sound card: a level check with a short quiet
// sweep, then the sweep itself played and recorded in one stream, repeated
// when the stream lost audio, averaged synchronously over repeats and
// deconvolved. The sound card is reached through a runner, so that the same
// steps run on a simulated room in the tests.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sound_card.h"
#include "sweep_deconvolution.h"

namespace tavrix::measure {

// The level check plays its sweep this far below the measurement's level:
// quiet enough for loudspeakers and ears when the gain is wrong, loud
// enough to stand above the noise of a room.
constexpr double kCheckBelowLevelDb = 20;
constexpr double kCheckSweepSeconds = 1;

// T30 is read between -5 and -35 dB of the decay, and the noise floor must
// lie at least 10 dB below its end.
constexpr double kT30NeedsDb = 45;

// A sample at or beyond this magnitude clipped: converters stop at full
// scale, and a JACK server passes floats beyond it unchanged.
constexpr double kClipLevel = 0.999;

// A run that lost audio is repeated; after this many the measurement fails.
constexpr int kMaxAttempts = 3;

struct RoomPlan {
  double rate = 48000;
  std::vector<double> sweep;       // the sweep at full scale, as the library makes it
  std::vector<double> checkSweep;  // the level check's short sweep over the same band
  double sweepSeconds = 10, tailSeconds = 2;
  double fromHz = 20, toHz = 20000;
  double levelDb = -10;      // the sweep's peak re full scale
  int outChannel = 1;        // from 1
  int inChannel = 1;         // from 1
  int referenceChannel = 0;  // input with a loopback from the output of the same number; 0: none
  int inputChannels = 1;     // channels recorded, from the first
  int repeats = 1;
};

// Plays one buffer per output channel and records; `what` names the run
// for a progress line.
using DuplexRunner =
    std::function<DuplexTake(const std::vector<std::vector<float>>& play, const std::string& what)>;

struct BandMargin {
  int band = 0;         // octave band number
  double marginDb = 0;  // expected decay range above the noise floor at the measurement
};

struct LevelCheck {
  double noiseDb = 0;         // background rms, dB re full scale
  double checkPeakDb = 0;     // input peak with the quiet sweep
  double expectedPeakDb = 0;  // the same at the measurement's level
  double returnDb = 0;        // the check response's peak above its noise
  std::vector<BandMargin> bands;
};

struct RoomMeasurement {
  LevelCheck check;
  std::vector<double> playback;                // one period as played: lead, sweep at level, tail
  DuplexTake take;                             // the sweep run, every input channel, every repeat
  std::vector<double> averaged;                // one period of the measured input, mean of the repeats
  Deconvolution response;                      // of the averaged period
  double latencySeconds = 0;                   // direct sound re the playback's start
  std::optional<double> systemLatencySeconds;  // the loopback's, with a reference
  int attempts = 1;
  std::vector<std::string> warnings;
};

// Runs the level check and the measurement. `say` receives what the level
// check found, and warnings, as they come. Fails with TVM_NO_SIGNAL,
// TVM_CLIPPED, TVM_AUDIO_STREAM (lost audio in every attempt, interrupted)
// or the runner's failures.
RoomMeasurement measureRoom(const RoomPlan& plan, const DuplexRunner& run,
                            const std::function<void(const std::string&)>& say);

// The playback of one period: lead silence, the sweep scaled to the level,
// tail + 1 s of silence.
std::vector<double> playbackPeriod(const std::vector<double>& sweep, double levelDb, double rate,
                                   double tailSeconds);

// The mean of `repeats` consecutive periods of `period` samples.
std::vector<double> averagePeriods(const std::vector<float>& recording, size_t period, int repeats);

// Samples at or beyond kClipLevel.
size_t clippedSamples(const std::vector<float>& recording);

}  // namespace tavrix::measure

// Spatial parameters of a two-channel response, per octave band 125 Hz to
// 4 kHz: the early lateral energy fractions LF and LFC of a pressure and a
// figure-of-eight channel, or the interaural cross-correlation of the two
// ears of a dummy head. Both channels share one time 0 per band: the direct
// sound of the pressure channel, or of the louder ear.
#pragma once

#include <string>
#include <vector>

#include "bands.h"
#include "response_input.h"

namespace tavrix::measure {

enum class SpatialMode { Lateral, Binaural };

// How the lateral pair was recorded. A pair: a pressure and a figure-of-eight
// signal of equal on-axis sensitivity. First-order B-format W and Y: AmbiX
// (SN3D) keeps that equality; FuMa records W 3 dB down, and W is then raised
// by sqrt(2) to stand for the pressure.
enum class LateralConvention { Pair, FuMa, AmbiX };

struct SpatialOptions {
  SpatialMode mode = SpatialMode::Lateral;
  LateralConvention convention = LateralConvention::Pair;
  bool nativeRate = false;
};

struct SpatialBand {
  int band = 0;
  double lf = 0, lfc = 0;                        // lateral; NaN in binaural mode
  double iaccEarly = 0, iaccLate = 0, iacc = 0;  // binaural; NaN in lateral mode
  double lateEndMs = 0;                          // where the late stretch ends, ms after time 0
};

struct SpatialResult {
  SpatialMode mode = SpatialMode::Lateral;
  LateralConvention convention = LateralConvention::Pair;
  std::string names[2];   // the two channels as given
  std::string reference;  // the channel whose direct sound is time 0
  int sampleRate = 0, sourceRate = 0;
  double bandScale = 1;     // analysed centre frequency over nominal
  double onsetSeconds = 0;  // the direct sound's onset in the response
  std::vector<SpatialBand> bands;
  // The means the measurement standard reports: LF and LFC over 125 Hz to
  // 1 kHz, the early IACC over 500 Hz to 2 kHz; NaN in the other mode or
  // where a band has none.
  double lfMean = 0, lfcMean = 0, iaccEarlyMean = 0;
  std::vector<std::string> notes;  // what was done, and doubts about the set-up
};

// The octave bands analysed: 125 Hz (band 7) to 4 kHz (band 12).
BandSet spatialBands();

// Lateral: first is the pressure (or W), second the figure-of-eight (or Y).
// Binaural: first is the left ear, second the right. Safe from any thread.
SpatialResult measureSpatial(const AudioView& first, const AudioView& second, const SpatialOptions& options);

// "lateral" / "binaural"; "pair", "fuma", "ambix".
const char* spatialModeName(SpatialMode mode);
const char* lateralConventionName(LateralConvention convention);

}  // namespace tavrix::measure

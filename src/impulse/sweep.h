// The exponential sine sweep: synthesis and the playback buffer around it.
#pragma once

#include <cstdint>

#include "numeric/dyn_array.h"

namespace tavrix {

struct SweepSettings {
  double sampleRate;      // Hz
  double startFrequency;  // Hz
  double endFrequency;    // Hz
  double duration;        // s
  double tailDuration;    // s; the playback file ends with tailDuration + 1 s of silence
};

// Longest sweep, in seconds, and the range of the tail that follows it.
constexpr double kMaxSweepDuration = 180.0;
constexpr double kMinTailDuration = 1.0;
constexpr double kMaxTailDuration = 32.0;
// Fewest samples of a sweep: the first is always 0.
constexpr double kMinSweepSamples = 2.0;

// True when the settings describe a sweep we can synthesise: all values
// finite, 0 < duration <= 180 s, 0 < startFrequency < endFrequency <=
// sampleRate / 2, 1 s <= tailDuration <= 32 s, a normal (not subnormal)
// sampleRate, a finite ln(endFrequency / startFrequency), and a sample count
// of at least 2 that fits in 32 bits.
bool sweepSettingsValid(const SweepSettings& s);

// True when a synthesised sweep can be deconvolved against: every sample
// finite and at least one not 0. Valid settings so extreme that the phase
// arithmetic overflows, or that fade the whole sweep away, fail it.
bool sweepUsable(const DynArray<double>& sweep);

// Number of samples of the sweep, ceil(sampleRate * duration).
int32_t sweepLength(const SweepSettings& s);

// The sweep s[n] = sin(phase(n / fs)) whose instantaneous frequency rises
// exponentially from f1 at t = 0 to f2 at t = T. With fade the first 1/100 of
// a period of f1 and the last ten periods of f2 are shaped by raised-cosine
// ramps. Settings must be valid.
DynArray<double> generateSweep(const SweepSettings& s, bool fade);

// The playback signal: 0.2 s of silence, the sweep scaled by 10^(gainDb/20),
// then tailDuration + 1 s of silence. Empty when the total length does not
// fit in 32 bits.
DynArray<double> sweepPlaybackBuffer(const DynArray<double>& sweep, double sampleRate, double tailDuration,
                                     double gainDb);

}  // namespace tavrix

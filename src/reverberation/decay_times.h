// Early decay time and reverberation times from a decay curve.
#pragma once

#include <cstdint>

namespace tavrix {

constexpr int32_t kDecayInvalidRange = -11;  // a range that is neither 0 nor >= 10 dB

struct DecayTimesSummary {
  int32_t status = 0;
  double dynamicRange = 0.0;  // dB
  double curvature = 0.0;     // percent, 100 (T30/T20 - 1)
};

// curve[0..m-1]: the decay curve (linear energy); converted to dB in place.
// reverbTimes and fitQuality receive rangeCount values each (NaN where no time
// was evaluated, -10.0 where the curve does not reach the range's end level).
DecayTimesSummary decayTimes(double* curve, int32_t m, const double* ranges, int32_t rangeCount, double fs,
                             double* reverbTimes, double* fitQuality);

}  // namespace tavrix

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

// curve[0..m-1]: the decay curve (linear energy); converted to dB in place,
// re its largest value. A range R of 0 gives the early decay time (fit from 0
// to -10 dB), R >= 10 the reverberation time fitted from -5 to -(R + 5) dB;
// any other R (NaN included) stops the evaluation with -11, leaving that and
// the later ranges NaN and the curvature NaN. reverbTimes and fitQuality
// receive rangeCount values each (NaN where no time was evaluated, -10.0 with
// fitQuality NaN where the curve does not reach the range's end level).
// Curvature 100 (T30/T20 - 1) uses the last ranges equal to 20 and 30.
// An empty curve (m < 1) reads nothing: status 0, every time, fit quality,
// the dynamic range and the curvature NaN. rangeCount < 0 writes nothing and
// gives -11.
DecayTimesSummary decayTimes(double* curve, int32_t m, const double* ranges, int32_t rangeCount, double fs,
                             double* reverbTimes, double* fitQuality);
// decayTimes of a curve already in dB re its largest value.
DecayTimesSummary decayTimesOfLevels(const double* curve, int32_t m, const double* ranges, int32_t rangeCount,
                                     double fs, double* reverbTimes, double* fitQuality);

struct DecayTimeResult {
  int32_t status = 0;
  double time = 0.0;          // s; -10.0 when the curve does not reach the end level
  double fitQuality = 0.0;    // coefficient of determination of the line fit
  double dynamicRange = 0.0;  // dB the curve falls by its last value
};

// One range R on the curve db[0..n-1] in dB (n >= 1), times for fs samples/s.
DecayTimeResult decayTime(const double* db, int32_t n, double range, double fs);

}  // namespace tavrix

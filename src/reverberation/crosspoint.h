// Lundeby-style search for the crosspoint where a decay sinks into the
// background noise, and the late-decay line fit it iterates on. Everything
// works on interval means M(1..n) of the energy envelope: interval i starts
// (i - 1) * dt seconds after the start of the envelope.
#pragma once

#include <cstdint>

#include "numeric/line_fit.h"

namespace tavrix {

// Internal codes; the decay analysis turns them into retries.
constexpr int32_t kLateFitOutsideIntervals =
    -50;                                 // fit would start before interval 1 and end before 6, or end past n
constexpr int32_t kLateFitRising = -51;  // fitted late decay rises
constexpr int32_t kLateFitPoor = -52;    // coefficient of determination below 0.5
constexpr int32_t kCrosspointImplausible =
    -60;  // decay still well above the noise between crosspoint and window

struct LateDecayFit {
  int32_t status = 0;
  Line line{0.0, 0.0};  // dB at interval index 0, dB per interval
};

struct CrosspointSearch {
  int32_t status = 0;
  double crosspointTime = -1.0;  // s from the start of the envelope; -1 unless status is 0
  double noiseLevel = 0.0;       // mean energy of the noise window of the last step that ran
};

// Fits `range` dB of the late decay, ending `margin` seconds before the
// crosspoint tc. t10 is the time for 10 dB of decay.
LateDecayFit fitLateDecay(const double* means, int32_t n, double tc, double t10, double margin, double dt,
                          double range);

// Five steps from tc0; when the estimate has not settled, falls back to
// iterateCrosspointLong from tc0.
CrosspointSearch iterateCrosspoint(double tc0, const double* means, int32_t n, double dt, double t10,
                                   double margin, double range);

// Fifteen steps from tc0; the crosspoint is the mean of all sixteen estimates.
CrosspointSearch iterateCrosspointLong(double tc0, const double* means, int32_t n, double dt, double t10,
                                       double margin, double range);

}  // namespace tavrix

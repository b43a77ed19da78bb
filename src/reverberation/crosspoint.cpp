#include "reverberation/crosspoint.h"

#include <cmath>

#include "numeric/dyn_array.h"
#include "numeric/scalar_rules.h"

namespace tavrix {

namespace {

// The late-decay fit needs at least five intervals of decay before its end
// when its start has to be clipped to the first interval.
constexpr double kMinClippedFitEnd = 5.0;
// A late-decay fit whose coefficient of determination falls below this does
// not describe an exponential decay.
constexpr double kMinFitQuality = 0.5;
// The noise window starts one ten-decibel time behind the crosspoint, but no
// later than at 90 % of the intervals, so that it always holds some noise.
constexpr double kNoiseWindowLatest = 0.9;
constexpr int kShortSteps = 5;
constexpr int kLongSteps = 15;

double toDb(double energy) { return 10.0 * std::log10(energy); }

// Mean of the 1-based intervals first..last, clipped to 1..n; NaN when empty.
double meanOfIntervals(const double* means, int32_t n, double first, double last) {
  if (std::isnan(first) || std::isnan(last)) return meanOf(means, 0);
  if (first < 1.0) first = 1.0;
  if (last > n) last = n;
  if (first > last) return meanOf(means, 0);
  const int32_t i0 = static_cast<int32_t>(first);
  return meanOf(OneBased{means}.from(i0), static_cast<int32_t>(last) - i0 + 1);
}

struct Step {
  int32_t status;
  double next;    // the new crosspoint estimate, s
  double ic;      // interval where the fitted line meets the noise level
  double iNoise;  // first interval of the noise window
  double noise;
};

Step iterationStep(double tc, const double* means, int32_t n, double dt, double t10, double margin,
                   double range) {
  Step s{};
  if (n < 1) {
    s.status = kLateFitOutsideIntervals;
    return s;
  }
  double tNoise = kNoiseWindowLatest * n * dt;
  if (tc + t10 < tNoise) tNoise = tc + t10;
  s.iNoise = roundHalfAway(tNoise / dt + 1.0);
  s.noise = meanOfIntervals(means, n, s.iNoise, n);

  const LateDecayFit fit = fitLateDecay(means, n, tc, t10, margin, dt, range);
  s.status = fit.status;
  if (s.status != 0) return s;

  // Where the line meets the noise level, to the nearest interval start.
  const double noiseDb = toDb(s.noise);
  DynArray<double> distance(n);
  for (int32_t k = 0; k < n; ++k)
    distance[k] = std::fabs(fit.line.intercept + fit.line.slope * (k + 1) - noiseDb);
  s.ic = indexOfFirstMin(distance.data(), n).position;
  s.next = (s.ic - 1.0) * dt;
  return s;
}

// Rejects a crosspoint that leaves decay well above the noise in front of the
// noise window, unless the decay before it already spans 50 dB or more.
bool plausible(const double* means, int32_t n, const Step& last) {
  const double ms = meanOfIntervals(means, n, last.ic, last.iNoise);
  return !(ms > 10.0 * last.noise && toDb(means[0] / ms) < 50.0);
}

}  // namespace

LateDecayFit fitLateDecay(const double* means, int32_t n, double tc, double t10, double margin, double dt,
                          double range) {
  LateDecayFit r;
  const double iEnd = roundHalfAway((tc - margin) / dt + 1.0);
  double iStart = roundHalfAway((tc - margin - t10 * range / 10.0) / dt + 1.0);
  if (iStart < 1.0) {
    if (iEnd - 1.0 < kMinClippedFitEnd) {
      r.status = kLateFitOutsideIntervals;
      return r;
    }
    iStart = 1.0;
  }
  // A NaN bound (from a non-finite time) names no intervals at all.
  if (iEnd > n || std::isnan(iStart) || std::isnan(iEnd)) {
    r.status = kLateFitOutsideIntervals;
    return r;
  }

  // Here 1 <= iStart and iEnd <= n, so a non-empty range lies inside M.
  const int32_t count = iStart <= iEnd ? static_cast<int32_t>(iEnd) - static_cast<int32_t>(iStart) + 1 : 0;
  const int32_t first = count > 0 ? static_cast<int32_t>(iStart) : 1;
  DynArray<double> x(count), y(count);
  for (int32_t k = 0; k < count; ++k) {
    x[k] = first + k;
    y[k] = toDb(OneBased{means}(first + k));
  }
  r.line = fitLine(x.data(), y.data(), count);

  if (r.line.slope > 0.0) {
    r.status = kLateFitRising;
    return r;
  }
  // A NaN quality (a single interval, or none) passes.
  if (coefficientOfDetermination(x.data(), y.data(), count, r.line) < kMinFitQuality) r.status = kLateFitPoor;
  return r;
}

CrosspointSearch iterateCrosspoint(double tc0, const double* means, int32_t n, double dt, double t10,
                                   double margin, double range) {
  CrosspointSearch r;
  double tc[kShortSteps + 1] = {tc0};
  Step last{};
  for (int k = 0; k < kShortSteps; ++k) {
    last = iterationStep(tc[k], means, n, dt, t10, margin, range);
    r.noiseLevel = last.noise;
    if (last.status != 0) {
      r.status = last.status;
      return r;
    }
    tc[k + 1] = last.next;
  }
  // Each step depends only on its start estimate, so two equal successive
  // estimates mean the sequence has settled.
  if (tc[4] != tc[3]) return iterateCrosspointLong(tc0, means, n, dt, t10, margin, range);
  if (!plausible(means, n, last)) {
    r.status = kCrosspointImplausible;
    return r;
  }
  r.crosspointTime = tc[kShortSteps];
  return r;
}

CrosspointSearch iterateCrosspointLong(double tc0, const double* means, int32_t n, double dt, double t10,
                                       double margin, double range) {
  CrosspointSearch r;
  double sum = tc0;
  double tc = tc0;
  Step last{};
  for (int k = 0; k < kLongSteps; ++k) {
    last = iterationStep(tc, means, n, dt, t10, margin, range);
    r.noiseLevel = last.noise;
    if (last.status != 0) {
      r.status = last.status;
      return r;
    }
    tc = last.next;
    sum += tc;
  }
  if (!plausible(means, n, last)) {
    r.status = kCrosspointImplausible;
    return r;
  }
  // Mean of the sixteen estimates, the start included; an estimate that
  // alternates between two intervals ends between them.
  r.crosspointTime = sum * 0.0625;
  return r;
}

}  // namespace tavrix

#include "reverberation/decay_times.h"

#include <cmath>

#include "numeric/constants.h"
#include "numeric/dyn_array.h"
#include "numeric/line_fit.h"
#include "numeric/scalar_rules.h"

namespace tavrix {

namespace {

// Early decay time: fitted over the first 10 dB of the decay.
constexpr double kEdtStartDb = 0.0;
constexpr double kEdtEndDb = -10.0;
// Reverberation times skip the first 5 dB (direct sound and early
// reflections) and need at least 10 dB of decay to fit.
constexpr double kReverbStartDb = -5.0;
constexpr double kMinRangeDb = 10.0;
// Reported when the curve never falls to the end level of a range.
constexpr double kNotReached = -10.0;

}  // namespace

DecayTimeResult decayTime(const double* db, int32_t n, double range, double fs) {
  DecayTimeResult r;
  r.time = r.fitQuality = r.dynamicRange = nanValue;
  double start = kEdtStartDb, end = kEdtEndDb;
  if (range != 0.0) {
    if (!(range >= kMinRangeDb)) {
      r.status = kDecayInvalidRange;
      return r;
    }
    start = kReverbStartDb;
    end = -(range + 5.0);
  }
  if (n < 1) return r;
  r.dynamicRange = -db[n - 1];
  if (db[n - 1] > end) {
    r.time = kNotReached;
    return r;
  }

  // 1-based positions of the values nearest the start and end levels.
  const int32_t i1 = indexOfFirstNearest(db, n, start).position;
  const int32_t i2 = indexOfFirstNearest(db, n, end).position;

  // Every sample between the two levels, against its position.
  const int32_t count = i2 >= i1 ? i2 - i1 + 1 : 0;
  DynArray<double> x(count);
  const double* y = OneBased{db}.from(i1);
  for (int32_t k = 0; k < count; ++k) x[k] = i1 + k;
  const Line line = fitLine(x.data(), y, count);  // dB per sample
  r.time = 60.0 / (-fs * line.slope);

  r.fitQuality = coefficientOfDetermination(x.data(), y, count, line);
  return r;
}

DecayTimesSummary decayTimes(double* curve, int32_t m, const double* ranges, int32_t rangeCount, double fs,
                             double* reverbTimes, double* fitQuality) {
  if (rangeCount >= 0 && m >= 1) {
    const double peak = indexOfFirstMax(curve, m).value;
    for (int32_t i = 0; i < m; ++i) curve[i] = 10.0 * std::log10(curve[i] / peak);
  }
  return decayTimesOfLevels(curve, m, ranges, rangeCount, fs, reverbTimes, fitQuality);
}

DecayTimesSummary decayTimesOfLevels(const double* curve, int32_t m, const double* ranges, int32_t rangeCount,
                                     double fs, double* reverbTimes, double* fitQuality) {
  DecayTimesSummary s;
  s.dynamicRange = nanValue;
  s.curvature = nanValue;
  if (rangeCount < 0) {
    s.status = kDecayInvalidRange;
    return s;
  }
  for (int32_t k = 0; k < rangeCount; ++k) reverbTimes[k] = fitQuality[k] = nanValue;
  if (m < 1) return s;

  double dyn = nanValue;
  for (int32_t k = 0; k < rangeCount; ++k) {
    const DecayTimeResult t = decayTime(curve, m, ranges[k], fs);
    if (t.status < 0) {
      s.status = t.status;
      s.dynamicRange = dyn;
      return s;
    }
    reverbTimes[k] = t.time;
    fitQuality[k] = t.fitQuality;
    dyn = t.dynamicRange;
  }

  int32_t i20 = -1, i30 = -1;
  for (int32_t k = 0; k < rangeCount; ++k) {
    if (ranges[k] == 20.0) i20 = k;
    if (ranges[k] == 30.0) i30 = k;
  }
  if (i20 >= 0 && i30 >= 0 && reverbTimes[i20] > 0.0 && reverbTimes[i30] > 0.0)
    s.curvature = (reverbTimes[i30] / reverbTimes[i20] - 1.0) * 100.0;
  s.dynamicRange = dyn;
  return s;
}

}  // namespace tavrix

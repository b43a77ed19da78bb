#include "plain_decay.h"

#include <cmath>
#include <limits>

namespace tavrix::measure {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Decibels the end of the decay must lie below the end of a range.
constexpr double kRangeMarginDb = 10;
// The last tenth of a decay that has met no floor lies at least this much
// below the tenth before it; a floor makes the two equal.
constexpr double kFallingDb = 3;

double meanLevelDb(const std::vector<double>& db, size_t from, size_t to) {
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += std::pow(10.0, db[i] / 10);
  return 10 * std::log10(sum / static_cast<double>(to - from));
}

// Index of the value nearest to level, the first of equals.
size_t nearest(const std::vector<double>& db, double level) {
  size_t best = 0;
  for (size_t i = 1; i < db.size(); ++i) {
    if (std::fabs(db[i] - level) < std::fabs(db[best] - level)) best = i;
  }
  return best;
}

// Least-squares line through db[i1..i2] against the index: the time for 60 dB
// at the fitted rate and the coefficient of determination.
void fitRange(const std::vector<double>& db, size_t i1, size_t i2, double fs, double& time, double& r2) {
  const double n = static_cast<double>(i2 - i1 + 1);
  double sx = 0, sy = 0;
  for (size_t i = i1; i <= i2; ++i) {
    sx += static_cast<double>(i);
    sy += db[i];
  }
  const double mx = sx / n, my = sy / n;
  double sxx = 0, sxy = 0, syy = 0;
  for (size_t i = i1; i <= i2; ++i) {
    const double dx = static_cast<double>(i) - mx, dy = db[i] - my;
    sxx += dx * dx;
    sxy += dx * dy;
    syy += dy * dy;
  }
  if (!(sxx > 0) || !(syy > 0)) return;
  const double slope = sxy / sxx;
  time = 60 / (-fs * slope);
  r2 = sxy * sxy / (sxx * syy);
}

}  // namespace

double lastTenthLevelDb(const std::vector<double>& levelDb) {
  const size_t n = levelDb.size(), tenth = n / 10;
  return tenth < 1 ? kNaN : meanLevelDb(levelDb, n - tenth, n);
}

PlainDecay plainDecay(const std::vector<double>& levelDb, const std::vector<double>& ranges, double fs) {
  PlainDecay d;
  d.times.assign(ranges.size(), kNaN);
  d.fitQuality.assign(ranges.size(), kNaN);
  const size_t n = levelDb.size(), tenth = n / 10;
  if (tenth < 1) return d;
  d.endLevelDb = meanLevelDb(levelDb, n - tenth, n);
  d.stillFalling = d.endLevelDb <= meanLevelDb(levelDb, n - 2 * tenth, n - tenth) - kFallingDb;
  if (!d.stillFalling) return d;
  // Backward integral of the energy, then dB re its value at the onset.
  d.decayCurveDb.resize(levelDb.size());
  double sum = 0;
  for (size_t i = levelDb.size(); i-- > 0;) {
    sum += std::pow(10.0, levelDb[i] / 10);
    d.decayCurveDb[i] = sum;
  }
  const double total = sum;
  for (double& v : d.decayCurveDb) v = 10 * std::log10(v / total);
  for (size_t k = 0; k < ranges.size(); ++k) {
    const double start = ranges[k] == 0 ? 0 : -5, end = ranges[k] == 0 ? -10 : -(ranges[k] + 5);
    if (!(d.endLevelDb <= end - kRangeMarginDb)) continue;
    const size_t i1 = nearest(d.decayCurveDb, start), i2 = nearest(d.decayCurveDb, end);
    if (i2 > i1) fitRange(d.decayCurveDb, i1, i2, fs, d.times[k], d.fitQuality[k]);
  }
  return d;
}

}  // namespace tavrix::measure

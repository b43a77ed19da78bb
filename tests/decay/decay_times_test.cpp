#include "reverberation/decay_times.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "decay/levels.h"
#include "numeric/constants.h"

namespace tavrix {
namespace {

std::vector<double> linearDecayDb(int n, double dbPerSample) {
  std::vector<double> db(n);
  for (int i = 0; i < n; ++i) db[i] = dbPerSample * i;
  return db;
}

struct Evaluation {
  DecayTimesSummary summary;
  std::vector<double> times, quality;
};

Evaluation evaluate(std::vector<double> curve, const std::vector<double>& ranges, double fs) {
  Evaluation e{{}, std::vector<double>(ranges.size(), 123.0), std::vector<double>(ranges.size(), 123.0)};
  e.summary = decayTimes(curve.data(), static_cast<int32_t>(curve.size()), ranges.data(),
                         static_cast<int32_t>(ranges.size()), fs, e.times.data(), e.quality.data());
  return e;
}

class DecayTimes : public ::testing::Test {
 protected:
  void SetUp() override { setNonFiniteConstants(); }
};

TEST_F(DecayTimes, StraightDecayAndRangesTheCurveDoesNotReach) {
  const double fs = 48000.0;
  const Evaluation e = evaluate(fromDb(linearDecayDb(48000, -60.0 / fs)), {0, 10, 20, 30}, fs);
  EXPECT_EQ(e.summary.status, 0);
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_NEAR(e.times[k], 1.0, 1e-9) << k;
    EXPECT_NEAR(e.quality[k], 1.0, 1e-12) << k;
  }
  EXPECT_NEAR(e.summary.curvature, 0.0, 1e-7);
  EXPECT_NEAR(e.summary.dynamicRange, 60.0 * 47999.0 / 48000.0, 1e-9);

  // Falling 30 dB reaches -25 dB (end of T20) but not -35 dB (end of T30).
  const Evaluation half = evaluate(fromDb(linearDecayDb(24000, -60.0 / fs)), {0, 20, 30}, fs);
  EXPECT_EQ(half.summary.status, 0);
  EXPECT_NEAR(half.times[1], 1.0, 1e-9);
  EXPECT_EQ(half.times[2], -10.0);
  EXPECT_TRUE(std::isnan(half.quality[2]) && std::isnan(half.summary.curvature));
  EXPECT_EQ(evaluate(fromDb(linearDecayDb(1000, -0.005)), {0}, fs).times[0], -10.0);
}

TEST_F(DecayTimes, InvalidRangesAndEmptyInputs) {
  const Evaluation e = evaluate(fromDb(linearDecayDb(3000, -0.06)), {20, 5, 30}, 1000.0);
  EXPECT_EQ(e.summary.status, kDecayInvalidRange);
  EXPECT_NEAR(e.times[0], 1.0, 1e-9);
  EXPECT_TRUE(std::isnan(e.times[1]) && std::isnan(e.times[2]) && std::isnan(e.summary.curvature));
  EXPECT_NEAR(e.summary.dynamicRange, 0.06 * 2999, 1e-9);  // of the last range evaluated
  for (double bad : {-10.0, 9.999, std::nan("")}) {
    EXPECT_EQ(evaluate(fromDb(linearDecayDb(3000, -0.06)), {bad}, 1000.0).summary.status, kDecayInvalidRange);
  }

  // An empty curve is not read; a negative range count writes nothing.
  const double ranges[] = {0, 20};
  double times[2] = {5, 5}, quality[2] = {5, 5};
  const DecayTimesSummary empty = decayTimes(nullptr, 0, ranges, 2, 48000.0, times, quality);
  EXPECT_EQ(empty.status, 0);
  EXPECT_TRUE(std::isnan(times[1]) && std::isnan(quality[1]) && std::isnan(empty.dynamicRange));
  double curve[3] = {1.0, 0.1, 0.01}, untouched[1] = {5};
  EXPECT_EQ(decayTimes(curve, 3, nullptr, -1, 48000.0, untouched, untouched).status, kDecayInvalidRange);
  EXPECT_EQ(untouched[0], 5.0);
}

// Closed-form least squares over the samples nearest the two levels, found by
// a plain search: an independent check of the samples a time is fitted over.
double referenceTime(const std::vector<double>& db, double startDb, double endDb, double fs) {
  auto nearest = [&](double level) {
    return std::min_element(db.begin(), db.end(),
                            [&](double a, double b) { return std::fabs(a - level) < std::fabs(b - level); }) -
           db.begin();
  };
  const auto i1 = nearest(startDb), i2 = nearest(endDb);
  const long double m = static_cast<long double>(i2 - i1 + 1);
  long double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (auto i = i1; i <= i2; ++i) {
    sx += i;
    sy += db[i];
    sxx += static_cast<long double>(i) * i;
    sxy += i * db[i];
  }
  return static_cast<double>(60.0L / (-fs * (m * sxy - sx * sy) / (m * sxx - sx * sx)));
}

TEST_F(DecayTimes, CurvedDecayMatchesReferenceFitsAndCurvature) {
  // Dual-slope decay: 60 dB/s for 0.5 s, then 30 dB/s, so T30 > T20.
  const double fs = 1000.0;
  std::vector<double> db(2000);
  for (int i = 0; i < 2000; ++i) db[i] = i < 500 ? -0.06 * i : -30.0 - 0.03 * (i - 500);
  const Evaluation e = evaluate(fromDb(db), {30, 20, 0, 30}, fs);
  ASSERT_EQ(e.summary.status, 0);
  const double t20 = referenceTime(db, -5.0, -25.0, fs), t30 = referenceTime(db, -5.0, -35.0, fs);
  EXPECT_NEAR(e.times[1], t20, 1e-9 * t20);
  EXPECT_NEAR(e.times[3], t30, 1e-9 * t30);
  EXPECT_NEAR(e.times[2], referenceTime(db, 0.0, -10.0, fs), 1e-9);
  EXPECT_GT(t30, t20);
  EXPECT_NEAR(e.summary.curvature, (t30 / t20 - 1.0) * 100.0, 1e-6);

  // After a flat lead-in the times are the same: the fit abscissa is the
  // sample position, so the start of the curve does not matter.
  std::vector<double> shifted(300, 0.0);
  shifted.insert(shifted.end(), db.begin(), db.end());
  EXPECT_NEAR(evaluate(fromDb(shifted), {20}, fs).times[0], e.times[1], 1e-9);
}

}  // namespace
}  // namespace tavrix

#include "reverberation/crosspoint.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "decay/levels.h"
#include "numeric/constants.h"

namespace tavrix {
namespace {

// Interval means of a decay of 1 dB per interval over a floor 60 dB down:
// the decay meets the floor at the start of interval 61.
std::vector<double> decayOverFloor(int n) {
  std::vector<double> m(n);
  for (int i = 1; i <= n; ++i) m[i - 1] = std::pow(10.0, -(i - 1) / 10.0) + 1e-6;
  return m;
}

class Crosspoint : public ::testing::Test {
 protected:
  void SetUp() override { setNonFiniteConstants(); }
  static constexpr double kDt = 0.01, kT10 = 0.1;
};

TEST_F(Crosspoint, ConvergesWhereTheDecayMeetsTheNoise) {
  const std::vector<double> m = decayOverFloor(120);
  for (double tc0 : {0.3, 0.5}) {
    const CrosspointSearch r = iterateCrosspoint(tc0, m.data(), 120, kDt, kT10, kT10, 25.0);
    ASSERT_EQ(r.status, 0) << tc0;
    EXPECT_EQ(r.crosspointTime, 60 * kDt);  // an interval start, exactly
    EXPECT_NEAR(r.noiseLevel / 1e-6, 1.0, 0.02);
    // The converged crosspoint reproduces itself.
    EXPECT_EQ(iterateCrosspoint(r.crosspointTime, m.data(), 120, kDt, kT10, kT10, 25.0).crosspointTime,
              r.crosspointTime);
  }
  // From a late start the short iteration has not settled after five steps;
  // the long one averages sixteen estimates, the late start included.
  const CrosspointSearch late = iterateCrosspoint(0.9, m.data(), 120, kDt, kT10, kT10, 25.0);
  const CrosspointSearch longRun = iterateCrosspointLong(0.9, m.data(), 120, kDt, kT10, kT10, 25.0);
  ASSERT_EQ(late.status, 0);
  EXPECT_EQ(late.crosspointTime, longRun.crosspointTime);
  EXPECT_GT(late.crosspointTime, 0.6);
  EXPECT_LT(late.crosspointTime, 0.7);
  EXPECT_NE(std::fmod(late.crosspointTime / kDt, 1.0), 0.0);
}

TEST_F(Crosspoint, DecayLeftAboveTheNoiseIsImplausible) {
  // A steep decay, 2 dB per interval, that the fit extrapolates deep into a
  // -90 dB floor, while the data hold a -45 dB shelf between the crosspoint
  // and the noise window. Without the shelf the same search succeeds.
  for (int shelfEnd : {55, 40}) {
    std::vector<double> db(100);
    for (int i = 1; i <= 100; ++i) db[i - 1] = i <= 40 ? -2.0 * (i - 1) : (i <= shelfEnd ? -45.0 : -90.0);
    const std::vector<double> m = fromDb(db);
    const CrosspointSearch r = iterateCrosspoint(45.0, m.data(), 100, 1.0, 10.0, 10.0, 20.0);
    if (shelfEnd > 40) {
      EXPECT_EQ(r.status, kCrosspointImplausible);
      EXPECT_EQ(r.crosspointTime, -1.0);
      EXPECT_EQ(iterateCrosspointLong(45.0, m.data(), 100, 1.0, 10.0, 10.0, 20.0).status,
                kCrosspointImplausible);
    } else {
      EXPECT_EQ(r.status, 0);
    }
  }
}

TEST_F(Crosspoint, LateDecayFitRangeAndQualityChecks) {
  // Unit intervals, T10 = 10 intervals, 25 dB fit range, no margin: the fit
  // ends at interval tc + 1 and would start 25 intervals earlier.
  std::vector<double> db(60);
  for (int i = 1; i <= 60; ++i) db[i - 1] = -(i - 1.0);
  const std::vector<double> m = fromDb(db);
  const LateDecayFit clipped = fitLateDecay(m.data(), 60, 5.0, 10.0, 0.0, 1.0, 25.0);
  EXPECT_EQ(clipped.status, 0);  // ends at interval 6: clipped to start at 1
  EXPECT_NEAR(clipped.line.intercept, 1.0, 1e-12);
  EXPECT_NEAR(clipped.line.slope, -1.0, 1e-12);
  EXPECT_EQ(fitLateDecay(m.data(), 60, 4.0, 10.0, 0.0, 1.0, 25.0).status, kLateFitOutsideIntervals);
  EXPECT_EQ(fitLateDecay(m.data(), 60, 59.0, 10.0, 0.0, 1.0, 25.0).status, 0);
  EXPECT_EQ(fitLateDecay(m.data(), 60, 60.0, 10.0, 0.0, 1.0, 25.0).status, kLateFitOutsideIntervals);
  EXPECT_EQ(fitLateDecay(m.data(), 60, std::nan(""), 10.0, 0.0, 1.0, 25.0).status, kLateFitOutsideIntervals);
  // A single interval has no coefficient of determination, and passes.
  EXPECT_EQ(fitLateDecay(m.data(), 60, 30.0, 10.0, 0.0, 1.0, 0.0).status, 0);

  std::vector<double> rising(60);
  for (int i = 0; i < 60; ++i) rising[i] = std::pow(10.0, 0.01 * i);
  const LateDecayFit up = fitLateDecay(rising.data(), 60, 40.0, 10.0, 10.0, 1.0, 20.0);
  EXPECT_EQ(up.status, kLateFitRising);
  EXPECT_NEAR(up.line.slope, 0.1, 1e-12);  // the line is still reported

  // Alternating levels 20 dB apart around a slight decay: r2 far below 0.5.
  std::vector<double> ragged(60);
  for (int i = 0; i < 60; ++i) ragged[i] = std::pow(10.0, (-0.05 * i - (i % 2) * 20.0) / 10.0);
  EXPECT_EQ(fitLateDecay(ragged.data(), 60, 40.0, 10.0, 10.0, 1.0, 20.0).status, kLateFitPoor);

  // Any failing step ends the search with no crosspoint.
  const CrosspointSearch failed = iterateCrosspoint(40.0, ragged.data(), 60, 1.0, 10.0, 10.0, 20.0);
  EXPECT_EQ(failed.status, kLateFitPoor);
  EXPECT_EQ(failed.crosspointTime, -1.0);
}

}  // namespace
}  // namespace tavrix

#include "numeric/scalar_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "numeric/constants.h"

namespace tavrix {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(RoundHalfAway, HalvesGoAwayFromZeroAndSmallValuesKeepTheirSign) {
  EXPECT_EQ(roundHalfAway(2.5), 3.0);
  EXPECT_EQ(roundHalfAway(-2.5), -3.0);
  EXPECT_EQ(roundHalfAway(0.5), 1.0);
  EXPECT_EQ(roundHalfAway(-0.5), -1.0);
  EXPECT_EQ(roundHalfAway(2.4999999999999996), 2.0);
  // floor(x + 0.5) would give 1 here: x + 0.5 rounds up to 1.0.
  EXPECT_EQ(roundHalfAway(0.49999999999999994), 0.0);
  EXPECT_FALSE(std::signbit(roundHalfAway(0.49999999999999994)));
  const double minusZero = roundHalfAway(-0.4);
  EXPECT_EQ(minusZero, 0.0);
  EXPECT_TRUE(std::signbit(minusZero));
  // Just below 2^52 the halves are still representable and must round away.
  EXPECT_EQ(roundHalfAway(4503599627370495.5), 4503599627370496.0);
  EXPECT_EQ(roundHalfAway(-4503599627370495.5), -4503599627370496.0);
  EXPECT_EQ(roundHalfAway(9007199254740993.0), 9007199254740993.0);
  EXPECT_EQ(roundHalfAway(-kInf), -kInf);
  EXPECT_TRUE(std::isnan(roundHalfAway(kNaN)));
}

TEST(TruncateToInt, TruncatesTowardZeroAndSaturates) {
  EXPECT_EQ(truncateToInt(2.9), 2);
  EXPECT_EQ(truncateToInt(-2.9), -2);
  EXPECT_EQ(truncateToInt(kNaN), 0);
  EXPECT_EQ(truncateToInt(1e300), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(truncateToInt(-kInf), std::numeric_limits<int32_t>::min());
}

TEST(SumAndMean, EmptyStretchGivesZeroSumAndNaNMean) {
  const double v[] = {1.0, 2.0, 4.5};
  EXPECT_EQ(sumOf(v, 3), 7.5);
  EXPECT_EQ(meanOf(v, 3), 2.5);
  EXPECT_EQ(sumOf(v, 0), 0.0);
  EXPECT_TRUE(std::isnan(meanOf(v, 0)));
  EXPECT_TRUE(std::isnan(meanOf(nullptr, -3)));
}

TEST(IndexOfFirstExtremum, SkipsNaNsAndKeepsTheEarliestTie) {
  const double a[] = {kNaN, 3.0, 5.0, 5.0};
  EXPECT_EQ(indexOfFirstMax(a, 4).position, 3);
  EXPECT_EQ(indexOfFirstMax(a, 4).value, 5.0);
  const double b[] = {2.0, kNaN, 1.0, 1.0};
  EXPECT_EQ(indexOfFirstMin(b, 4).position, 3);
  // A NaN after the best never replaces it, in either direction.
  const double c[] = {4.0, kNaN, -1.0, kNaN};
  EXPECT_EQ(indexOfFirstMax(c, 4).position, 1);
  EXPECT_EQ(indexOfFirstMin(c, 4).position, 3);
  const double allNaN[] = {kNaN, kNaN, kNaN};
  EXPECT_EQ(indexOfFirstMax(allNaN, 3).position, 1);
  EXPECT_TRUE(std::isnan(indexOfFirstMin(allNaN, 3).value));
  EXPECT_EQ(indexOfFirstMin(allNaN, 1).position, 1);
  EXPECT_EQ(indexOfFirstMax(nullptr, 0).position, 0);
}

TEST(PowerChecked, SpecialCasesUseTheLibraryConstants) {
  setNonFiniteConstants();
  EXPECT_TRUE(std::isnan(powerChecked(-8.0, 1.0 / 3.0)));
  EXPECT_EQ(powerChecked(10.0, -1.0), 0.1);
  EXPECT_EQ(powerChecked(1.0, kInf), 1.0);
  EXPECT_EQ(powerChecked(-1.0, -kInf), 1.0);
  EXPECT_EQ(powerChecked(2.0, kInf), kInf);
  EXPECT_EQ(powerChecked(2.0, -kInf), 0.0);
  EXPECT_EQ(powerChecked(0.5, kInf), 0.0);
  EXPECT_EQ(powerChecked(-0.5, -kInf), kInf);
  EXPECT_TRUE(std::isnan(powerChecked(kNaN, 0.0)));
  EXPECT_TRUE(std::isnan(powerChecked(1.0, kNaN)));
  EXPECT_EQ(powerChecked(0.0, 0.0), 1.0);
  EXPECT_EQ(powerChecked(-3.0, 2.0), 9.0);
  EXPECT_EQ(powerChecked(-8.0, 3.0), -512.0);
  EXPECT_EQ(powerChecked(2.0, 0.5), std::sqrt(2.0));
  EXPECT_EQ(powerChecked(10.0, -3.5), std::pow(10.0, -3.5));
}

TEST(ScaledNorms, MatchTheDirectFormulaAndSurviveExtremeMagnitudes) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-10.0, 10.0);
  for (int trial = 0; trial < 50; ++trial) {
    const double a = u(rng), b = u(rng);
    EXPECT_NEAR(hypotScaled(a, b), std::sqrt(a * a + b * b), 1e-14 * 15.0);
    std::vector<double> v(1 + trial);
    double sq = 0.0;
    for (double& x : v) {
      x = u(rng);
      sq += x * x;
    }
    EXPECT_NEAR(norm2Scaled(v.data(), static_cast<int32_t>(v.size())), std::sqrt(sq), 1e-13 * std::sqrt(sq));
  }
  EXPECT_EQ(hypotScaled(3.0, -4.0), 5.0);
  EXPECT_DOUBLE_EQ(hypotScaled(1e300, 1e300), 1e300 * std::sqrt(2.0));
  EXPECT_DOUBLE_EQ(hypotScaled(1e-300, -1e-300), 1e-300 * std::sqrt(2.0));
  EXPECT_EQ(hypotScaled(0.0, 0.0), 0.0);
  EXPECT_TRUE(std::isnan(hypotScaled(1.0, kNaN)));
  EXPECT_TRUE(std::isnan(hypotScaled(kNaN, 1.0)));

  const double big[] = {3e200, -4e200};
  EXPECT_DOUBLE_EQ(norm2Scaled(big, 2), 5e200);
  const double tiny[] = {3e-200, 4e-200, 0.0};
  EXPECT_DOUBLE_EQ(norm2Scaled(tiny, 3), 5e-200);
  EXPECT_EQ(norm2Scaled(big, 1), 3e200);
  EXPECT_EQ(norm2Scaled(big, 0), 0.0);
}

}  // namespace
}  // namespace tavrix

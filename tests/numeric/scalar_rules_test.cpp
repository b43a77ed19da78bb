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

TEST(ScalarRules, RoundingHalvesAwayFromZero) {
  EXPECT_EQ(roundHalfAway(2.5), 3.0);
  EXPECT_EQ(roundHalfAway(-2.5), -3.0);
  // floor(x + 0.5) would give 1 here: x + 0.5 rounds up to 1.0.
  EXPECT_EQ(roundHalfAway(0.49999999999999994), 0.0);
  EXPECT_TRUE(std::signbit(roundHalfAway(-0.4)));
  // Just below 2^52 halves still exist; above, every double is whole.
  EXPECT_EQ(roundHalfAway(-4503599627370495.5), -4503599627370496.0);
  EXPECT_EQ(roundHalfAway(9007199254740993.0), 9007199254740993.0);
  EXPECT_TRUE(std::isnan(roundHalfAway(kNaN)));
  EXPECT_EQ(truncateToInt(-2.9), -2);
  EXPECT_EQ(truncateToInt(kNaN), 0);
  EXPECT_EQ(truncateToInt(1e300), std::numeric_limits<int32_t>::max());
}

TEST(ScalarRules, MeansAndExtremaOfAwkwardVectors) {
  const double v[] = {1.0, 2.0, 4.5};
  EXPECT_EQ(meanOf(v, 3), 2.5);
  EXPECT_EQ(sumOf(v, 0), 0.0);
  EXPECT_TRUE(std::isnan(meanOf(v, 0)));

  const double a[] = {kNaN, 3.0, 5.0, 5.0};
  EXPECT_EQ(indexOfFirstMax(a, 4).position, 3);
  const double b[] = {2.0, kNaN, 1.0, 1.0};
  EXPECT_EQ(indexOfFirstMin(b, 4).position, 3);
  const double c[] = {4.0, kNaN, -1.0, kNaN};  // a later NaN never replaces the best
  EXPECT_EQ(indexOfFirstMax(c, 4).position, 1);
  EXPECT_EQ(indexOfFirstMin(c, 4).position, 3);
  const double allNaN[] = {kNaN, kNaN};
  EXPECT_EQ(indexOfFirstMax(allNaN, 2).position, 1);
  EXPECT_EQ(indexOfFirstMin(nullptr, 0).position, 0);
}

TEST(ScalarRules, PowerSpecialCases) {
  setNonFiniteConstants();
  EXPECT_TRUE(std::isnan(powerChecked(-8.0, 1.0 / 3.0)));
  EXPECT_EQ(powerChecked(10.0, -1.0), 0.1);
  EXPECT_EQ(powerChecked(1.0, kInf), 1.0);
  EXPECT_EQ(powerChecked(2.0, kInf), kInf);
  EXPECT_EQ(powerChecked(2.0, -kInf), 0.0);
  EXPECT_EQ(powerChecked(-0.5, -kInf), kInf);
  EXPECT_TRUE(std::isnan(powerChecked(kNaN, 0.0)));
  EXPECT_EQ(powerChecked(-8.0, 3.0), -512.0);
  EXPECT_EQ(powerChecked(10.0, -3.5), std::pow(10.0, -3.5));
}

TEST(ScalarRules, ScaledNormsMatchTheDirectFormulaWithoutOverflow) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-10.0, 10.0);
  for (int trial = 1; trial < 40; ++trial) {
    const double a = u(rng), b = u(rng);
    EXPECT_NEAR(hypotScaled(a, b), std::sqrt(a * a + b * b), 1e-13);
    std::vector<double> v(trial);
    double sq = 0.0;
    for (double& x : v) {
      x = u(rng);
      sq += x * x;
    }
    EXPECT_NEAR(norm2Scaled(v.data(), trial), std::sqrt(sq), 1e-13 * std::sqrt(sq));
  }
  EXPECT_DOUBLE_EQ(hypotScaled(1e300, -1e300), 1e300 * std::sqrt(2.0));
  EXPECT_TRUE(std::isnan(hypotScaled(kNaN, 1.0)));
  const double big[] = {3e200, -4e200}, tiny[] = {3e-200, 4e-200, 0.0};
  EXPECT_DOUBLE_EQ(norm2Scaled(big, 2), 5e200);
  EXPECT_DOUBLE_EQ(norm2Scaled(tiny, 3), 5e-200);
}

}  // namespace
}  // namespace tavrix

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "numeric/constants.h"
#include "numeric/dyn_array.h"
#include "numeric/line_fit.h"
#include "numeric/scalar_rules.h"

namespace tavrix {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(DynArray, GrowthKeepsContentsAndNeverFreesACallersBuffer) {
  DynArray<double> a, b;
  a.resize(1);
  EXPECT_EQ(a.capacity(), 16);  // the first block holds sixteen, then capacity doubles
  a[0] = 7.0;
  const double* block = a.data();
  a.resize(16);
  EXPECT_EQ(a.data(), block);
  a.resize(100);
  EXPECT_EQ(a.capacity(), 128);
  EXPECT_EQ(a[0], 7.0);
  EXPECT_EQ(a[99], 0.0);
  b.resizeExact(20);
  b.resize(30);
  EXPECT_EQ(b.capacity(), 40);  // doubled from the current capacity
  double caller[3] = {1.0, 2.0, 3.0};
  {
    auto w = DynArray<double>::wrap(caller, 3);
    w.resize(5);
    EXPECT_NE(w.data(), caller);
    w[0] = 9.0;
    EXPECT_EQ(w[1], 2.0);
    EXPECT_EQ(w[4], 0.0);
  }  // destruction must not free the caller's buffer
  EXPECT_EQ(caller[0], 1.0);
}

TEST(ScalarRules, RoundingHalvesAwayFromZero) {
  EXPECT_EQ(roundHalfAway(2.5), 3.0);
  EXPECT_TRUE(roundHalfAway(-2.5) == -3.0 && roundHalfAway(-0.5) == -1.0);
  // floor(x + 0.5) would give 1 here: x + 0.5 rounds up to 1.0.
  EXPECT_EQ(roundHalfAway(0.49999999999999994), 0.0);
  EXPECT_TRUE(std::signbit(roundHalfAway(-0.4)));
  // Just below 2^52 halves still exist; from there on every double is whole
  // (x + 0.5 would round an odd one up).
  EXPECT_EQ(roundHalfAway(-4503599627370495.5), -4503599627370496.0);
  EXPECT_EQ(roundHalfAway(4503599627370497.0), 4503599627370497.0);
  EXPECT_EQ(roundHalfAway(9007199254740993.0), 9007199254740993.0);
  EXPECT_TRUE(std::isnan(roundHalfAway(kNaN)));
  EXPECT_EQ(truncateToInt(-2.9), -2);
  EXPECT_EQ(truncateToInt(kNaN), 0);
  EXPECT_EQ(truncateToInt(1e300), std::numeric_limits<int32_t>::max());
}

TEST(ScalarRules, MeansExtremaAndPowersOfAwkwardValues) {
  const double v[] = {1.0, 2.0, 4.5};
  EXPECT_EQ(meanOf(v, 3), 2.5);
  EXPECT_TRUE(std::isnan(meanOf(v, 0)));
  // The first of equal extremes wins; a NaN is taken only while nothing better was seen. An
  // all-NaN array gives its first element: the scan stops at its end, whatever follows.
  const double a[] = {kNaN, 3.0, 5.0, 5.0}, c[] = {4.0, kNaN, -1.0, kNaN}, allNaN[] = {kNaN, kNaN, kNaN, 1.0};
  EXPECT_EQ(indexOfFirstMax(a, 4).position, 3);
  EXPECT_EQ(indexOfFirstMax(c, 4).position, 1);
  EXPECT_EQ(indexOfFirstMin(c, 4).position, 3);
  EXPECT_TRUE(indexOfFirstMax(allNaN, 2).position == 1 && indexOfFirstMin(allNaN, 2).position == 1);
  EXPECT_EQ(indexOfFirstMin(nullptr, 0).position, 0);
  setNonFiniteConstants();
  EXPECT_TRUE(std::isnan(powerChecked(-8.0, 1.0 / 3.0)));
  EXPECT_TRUE(powerChecked(-2.0, 3.0) == -8.0 && powerChecked(0.0, 1.5) == 0.0);
  EXPECT_TRUE(std::isnan(powerChecked(kNaN, 0.0)));
  EXPECT_EQ(powerChecked(2.0, kInf), kInf);
  EXPECT_EQ(powerChecked(2.0, -kInf), 0.0);
  EXPECT_EQ(powerChecked(-0.5, -kInf), kInf);
}

TEST(ScalarRules, ScaledNormsMatchTheDirectFormulaWithoutOverflow) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-10.0, 10.0);
  for (int trial = 1; trial < 40; ++trial) {
    const double a = u(rng), b = u(rng);
    EXPECT_NEAR(hypotScaled(a, b), std::sqrt(a * a + b * b), 1e-13);
    std::vector<double> v(trial);
    double sq = 0.0;
    for (double& x : v) x = u(rng), sq += x * x;
    EXPECT_NEAR(norm2Scaled(v.data(), trial), std::sqrt(sq), 1e-13 * std::sqrt(sq));
  }
  EXPECT_DOUBLE_EQ(hypotScaled(1e300, -1e300), 1e300 * std::sqrt(2.0));
  EXPECT_TRUE(std::isnan(hypotScaled(kNaN, 1.0)));
  const double big[] = {3e200, -4e200}, tiny[] = {3e-200, 4e-200, 0.0};
  EXPECT_DOUBLE_EQ(norm2Scaled(big, 2), 5e200);
  EXPECT_DOUBLE_EQ(norm2Scaled(tiny, 3), 5e-200);
}

Line fit(const std::vector<double>& x, const std::vector<double>& y) {
  return fitLine(x.data(), y.data(), static_cast<int32_t>(x.size()));
}

TEST(LineFit, AgreesWithClosedFormLeastSquaresOnRandomData) {
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> noise(-4.0, 4.0);
  // Levels in dB against whole-number positions: the exact two-row solve and
  // the QR, with the ones column (positions around 0) or the position column
  // (positions in the thousands) taking the first pivot. The reference is
  // ordinary least squares from centred sums in long double, and the squared
  // correlation, which equals the coefficient of determination of that line.
  for (int m : {2, 3, 17, 1000}) {
    for (int trial = 0; trial < 20; ++trial) {
      std::vector<double> x(m), y(m);
      const int first = trial % 2 == 0 ? 1 + static_cast<int>(rng() % 5000) : -m / 2;
      long double mx = 0, my = 0, sxy = 0, sxx = 0, syy = 0;
      for (int i = 0; i < m; ++i) {
        x[i] = first + i;
        y[i] = -0.01 * (trial + 1) * x[i] + noise(rng);
        mx += x[i], my += y[i];
      }
      mx /= m, my /= m;
      for (int i = 0; i < m; ++i)
        sxy += (x[i] - mx) * (y[i] - my), sxx += (x[i] - mx) * (x[i] - mx), syy += (y[i] - my) * (y[i] - my);
      const double slope = static_cast<double>(sxy / sxx),
                   intercept = static_cast<double>(my - sxy / sxx * mx);
      const Line got = fit(x, y);
      const double scale = std::fabs(intercept) + std::fabs(slope * x.back()) + 1.0;
      EXPECT_NEAR(got.slope, slope, 1e-11 * scale) << m << " " << trial;
      EXPECT_NEAR(got.intercept, intercept, 1e-10 * scale) << m << " " << trial;
      const double r2 = static_cast<double>(sxy * sxy / (sxx * syy));
      EXPECT_NEAR(m > 2 ? coefficientOfDetermination(x.data(), y.data(), m, got) : r2, r2, 1e-9);
    }
  }
  EXPECT_EQ(fit({3, 4}, {-10, -16}).intercept, 8.0);
  EXPECT_EQ(fit({3, 4}, {-10, -16}).slope, -6.0);
}

TEST(LineFit, DegenerateSystemsGiveTheBasicSolution) {
  EXPECT_EQ(fitLine(nullptr, nullptr, 0).slope, 0.0);
  // One point: the column of larger norm takes the only pivot; a tie keeps
  // the ones column.
  for (double x : {0.5, -1.0, 0.0}) {
    EXPECT_EQ(fit({x}, {-7.0}).intercept, -7.0) << x;
    EXPECT_EQ(fit({x}, {-7.0}).slope, 0.0) << x;
  }
  EXPECT_EQ(fit({-4.0}, {-7.0}).intercept, 0.0);
  EXPECT_EQ(fit({-4.0}, {-7.0}).slope, 1.75);
  // Two equal abscissae: equal levels give the constant, different levels a
  // division by the zero pivot.
  EXPECT_EQ(fit({4, 4}, {-3, -3}).intercept, -3.0);
  EXPECT_FALSE(std::isfinite(fit({4, 4}, {-3, -5}).slope));
  // Three or more equal abscissae: rank 1, on the column of larger norm; a
  // spread far below the rank tolerance needs the rescaled reflector and
  // still counts as rank 1.
  const Line flatSmall = fit({0.5, 0.5, 0.5, 0.5}, {1, 2, 3, 6}), flatLarge = fit({8, 8, 8}, {1, 2, 6});
  const Line tiny = fit({1e-300, 2e-300, 3e-300}, {2, 4, 9});
  EXPECT_NEAR(flatSmall.intercept, 3.0, 1e-14);
  EXPECT_EQ(flatSmall.slope, 0.0);
  EXPECT_EQ(flatLarge.intercept, 0.0);
  EXPECT_NEAR(flatLarge.slope, 3.0 / 8.0, 1e-15);
  EXPECT_NEAR(tiny.intercept, 5.0, 1e-14);
  EXPECT_EQ(tiny.slope, 0.0);
  EXPECT_TRUE(std::isnan(fit({1, 2}, {kNaN, -3}).intercept));
  const Line l3 = fit({1, 2, 3}, {0, kNaN, -3});
  EXPECT_TRUE(std::isnan(l3.intercept) || std::isnan(l3.slope));
}

}  // namespace
}  // namespace tavrix

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
  EXPECT_TRUE(roundHalfAway(-2.5) == -3.0 && roundHalfAway(-0.5) == -1.0 && roundHalfAway(0.5) == 1.0);
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
  EXPECT_TRUE(indexOfFirstMin(nullptr, 0).position == 0 && indexOfFirstMax(v + 2, 1).value == 4.5);
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
  EXPECT_TRUE(std::isnan(hypotScaled(kNaN, 1.0)) && hypotScaled(0.0, -0.0) == 0.0 &&
              hypotScaled(-kInf, kInf) == kInf);
  const double big[] = {3e200, -4e200}, tiny[] = {3e-200, 4e-200, 0.0};
  EXPECT_DOUBLE_EQ(norm2Scaled(big, 2), 5e200);
  EXPECT_DOUBLE_EQ(norm2Scaled(tiny, 3), 5e-200);
}

Line fit(const std::vector<double>& x, const std::vector<double>& y) {
  return fitLine(x.data(), y.data(), static_cast<int32_t>(x.size()));
}

// Ordinary least squares from centred sums in long double, with its
// coefficient of determination (the squared correlation).
struct Reference {
  double intercept, slope, r2;
};
Reference leastSquares(const std::vector<double>& x, const std::vector<double>& y) {
  const size_t m = x.size();
  long double mx = 0, my = 0, sxy = 0, sxx = 0, syy = 0;
  for (size_t i = 0; i < m; ++i) mx += x[i], my += y[i];
  mx /= m, my /= m;
  for (size_t i = 0; i < m; ++i)
    sxy += (x[i] - mx) * (y[i] - my), sxx += (x[i] - mx) * (x[i] - mx), syy += (y[i] - my) * (y[i] - my);
  return {static_cast<double>(my - sxy / sxx * mx), static_cast<double>(sxy / sxx),
          static_cast<double>(sxy * sxy / (sxx * syy))};
}

TEST(LineFit, AgreesWithLongDoubleLeastSquares) {
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> noise(-4.0, 4.0);
  // Levels in dB against whole-number positions: the exact two-row solve and
  // the QR, with the ones column (positions around 0) or the position column
  // (positions in the thousands) taking the first pivot.
  for (int m : {2, 3, 17, 1000}) {
    for (int trial = 0; trial < 20; ++trial) {
      std::vector<double> x(m), y(m);
      const int first = trial % 2 == 0 ? 1 + static_cast<int>(rng() % 5000) : -m / 2;
      for (int i = 0; i < m; ++i) x[i] = first + i, y[i] = -0.01 * (trial + 1) * x[i] + noise(rng);
      const Reference r = leastSquares(x, y);
      const Line got = fit(x, y);
      const double scale = std::fabs(r.intercept) + std::fabs(r.slope * x.back()) + 1.0;
      EXPECT_NEAR(got.slope, r.slope, 1e-11 * scale) << m << " " << trial;
      EXPECT_NEAR(got.intercept, r.intercept, 1e-10 * scale) << m << " " << trial;
      EXPECT_NEAR(m > 2 ? coefficientOfDetermination(x.data(), y.data(), m, got) : r.r2, r.r2, 1e-9);
    }
  }
  // Small systems whose line the fit hits to the last bit: two rows, where
  // elimination keeps the first row as pivot on the tie |1| = |1| (the
  // second would give y2 - slope x2, some ulps off), and three rows from
  // position 0, where the position column pivots and its reflector meets
  // alpha = 0, whose sign rule (beta negative) decides the rounding.
  const std::vector<double> rows[][2] = {{{3, 4}, {-10, -16}},
                                         {{1, 5}, {-58.8, -1.4}},
                                         {{7, 10}, {-27.8, -48}},
                                         {{0, 1, 2}, {-7.4, -38, -26}},
                                         {{0, 1, 2}, {-40.9, -47.5, -50.5}}};
  for (const auto& [x, y] : rows) {
    const Reference r = leastSquares(x, y);
    EXPECT_TRUE(fit(x, y).intercept == r.intercept && fit(x, y).slope == r.slope) << x.size() << " " << y[0];
  }
}

TEST(LineFit, DegenerateSystemsGiveTheBasicSolution) {
  EXPECT_EQ(fitLine(nullptr, nullptr, 0).slope, 0.0);
  // One point: the column of larger norm takes the only pivot; a tie keeps
  // the ones column. Two equal abscissae and equal levels: the constant.
  // Three or more equal abscissae: rank 1, on the column of larger norm; a
  // spread far below the rank tolerance needs the rescaled reflector and
  // still counts as rank 1. The rank boundary: x = (-d, d, -d, d) is
  // orthogonal to the ones column, which pivots (norm 2 > 2d) with R11 = -2,
  // so R22 = 2d exactly, against tol = 4 * 2 * 2^-52 = 2^-49. At d = 2^-50
  // the x column counts as dependent and the levels give {mean, 0}; a
  // quarter above it, the line.
  const double d = 0x1p-50, e = 1.25 * d;
  const std::vector<double> alternating{-3.25, -2.75, -3.25, -2.75};
  const struct {
    std::vector<double> x, y;
    double intercept, slope;
  } rows[] = {{{0.5}, {-7}, -7, 0},
              {{-1}, {-7}, -7, 0},
              {{0}, {-7}, -7, 0},
              {{-4}, {-7}, 0, 1.75},
              {{4, 4}, {-3, -3}, -3, 0},
              {{0.5, 0.5, 0.5, 0.5}, {1, 2, 3, 6}, 3, 0},
              {{8, 8, 8}, {1, 2, 6}, 0, 3.0 / 8.0},
              {{1e-300, 2e-300, 3e-300}, {2, 4, 9}, 5, 0},
              {{-d, d, -d, d}, alternating, -3, 0},
              {{-e, e, -e, e}, alternating, -3, 0.25 / e}};
  for (const auto& [x, y, intercept, slope] : rows) {
    const Line l = fit(x, y);
    EXPECT_NEAR(l.intercept, intercept, 1e-14 * std::fabs(intercept)) << x.size() << " " << x[0];
    EXPECT_NEAR(l.slope, slope, 1e-14 * std::fabs(slope)) << x.size() << " " << x[0];
  }
  // Two equal abscissae and different levels: a division by the zero pivot.
  EXPECT_FALSE(std::isfinite(fit({4, 4}, {-3, -5}).slope));
  EXPECT_TRUE(std::isnan(fit({1, 2}, {kNaN, -3}).intercept));
  const Line l3 = fit({1, 2, 3}, {0, kNaN, -3});
  EXPECT_TRUE(std::isnan(l3.intercept) || std::isnan(l3.slope));
}

}  // namespace
}  // namespace tavrix

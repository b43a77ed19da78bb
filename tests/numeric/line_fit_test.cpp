#include "numeric/line_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace tavrix {
namespace {

// Ordinary least squares in closed form, with centred sums in long double:
// an independent route to the same line.
Line closedForm(const std::vector<double>& x, const std::vector<double>& y) {
  const size_t m = x.size();
  long double mx = 0, my = 0;
  for (size_t i = 0; i < m; ++i) {
    mx += x[i];
    my += y[i];
  }
  mx /= m;
  my /= m;
  long double sxy = 0, sxx = 0;
  for (size_t i = 0; i < m; ++i) {
    sxy += (x[i] - mx) * (y[i] - my);
    sxx += (x[i] - mx) * (x[i] - mx);
  }
  const long double slope = sxy / sxx;
  return {static_cast<double>(my - slope * mx), static_cast<double>(slope)};
}

double correlation(const std::vector<double>& x, const std::vector<double>& y) {
  const size_t m = x.size();
  long double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  for (size_t i = 0; i < m; ++i) {
    sx += x[i];
    sy += y[i];
    sxx += static_cast<long double>(x[i]) * x[i];
    syy += static_cast<long double>(y[i]) * y[i];
    sxy += static_cast<long double>(x[i]) * y[i];
  }
  return static_cast<double>((m * sxy - sx * sy) / std::sqrt((m * sxx - sx * sx) * (m * syy - sy * sy)));
}

Line fit(const std::vector<double>& x, const std::vector<double>& y) {
  return fitLine(x.data(), y.data(), static_cast<int32_t>(x.size()));
}

TEST(LineFit, AgreesWithClosedFormLeastSquaresOnRandomData) {
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> level(-80.0, 0.0);
  std::uniform_int_distribution<int> start(1, 5000);
  // The analysis fits levels in dB against whole-number positions; cover the
  // exact two-row solve, the smallest QR case and long fits, with the ones
  // column and the position column each taking the first pivot.
  for (int m : {2, 3, 4, 17, 1000}) {
    for (int trial = 0; trial < 20; ++trial) {
      std::vector<double> x(m), y(m);
      const int first = trial % 2 == 0 ? start(rng) : -m / 2;
      const double slope = -0.01 * (trial + 1);
      for (int i = 0; i < m; ++i) {
        x[i] = first + i;
        y[i] = slope * x[i] + level(rng) * 0.05;
      }
      const Line expected = closedForm(x, y);
      const Line got = fit(x, y);
      const double scale =
          std::fabs(expected.intercept) + std::fabs(expected.slope) * std::fabs(x.back()) + 1.0;
      EXPECT_NEAR(got.slope, expected.slope, 1e-11 * scale) << "m=" << m << " trial " << trial;
      EXPECT_NEAR(got.intercept, expected.intercept, 1e-10 * scale) << "m=" << m << " trial " << trial;
      // For a least-squares line r2 is the squared correlation of x and y.
      if (m > 2) {
        const double r = correlation(x, y);
        EXPECT_NEAR(coefficientOfDetermination(x.data(), y.data(), m, got), r * r, 1e-9);
      }
    }
  }
}

TEST(LineFit, SmallWorkedSystems) {
  const Line two = fit({3, 4}, {-10, -16});
  EXPECT_EQ(two.intercept, 8.0);
  EXPECT_EQ(two.slope, -6.0);
  const Line three = fit({1, 2, 3}, {0, -1, -3});
  EXPECT_NEAR(three.intercept, 5.0 / 3.0, 1e-14);
  EXPECT_NEAR(three.slope, -1.5, 1e-15);
  // The fit must not modify the caller's data.
  std::vector<double> x{1, 2, 3}, y{0, -1, -3};
  fitLine(x.data(), y.data(), 3);
  EXPECT_EQ(x, (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(y, (std::vector<double>{0, -1, -3}));
}

TEST(LineFit, DegenerateSystemsGiveTheBasicSolution) {
  // Nothing to fit.
  EXPECT_EQ(fitLine(nullptr, nullptr, 0).intercept, 0.0);
  EXPECT_EQ(fitLine(nullptr, nullptr, -1).slope, 0.0);

  // One point: the column of larger norm takes the only pivot; a tie keeps
  // the ones column.
  for (double x : {0.5, 1.0, -1.0, 0.0}) {
    const Line l = fit({x}, {-7.0});
    EXPECT_EQ(l.intercept, -7.0) << x;
    EXPECT_EQ(l.slope, 0.0) << x;
  }
  for (double x : {2.0, -4.0}) {
    const Line l = fit({x}, {-7.0});
    EXPECT_EQ(l.intercept, 0.0) << x;
    EXPECT_EQ(l.slope, -7.0 / x) << x;
  }

  // Two equal abscissae: same level gives the constant, different levels a
  // division by the zero pivot.
  const Line same = fit({4, 4}, {-3, -3});
  EXPECT_EQ(same.intercept, -3.0);
  EXPECT_EQ(same.slope, 0.0);
  const Line diff = fit({4, 4}, {-3, -5});
  EXPECT_FALSE(std::isfinite(diff.slope));

  // Three or more equal abscissae: rank 1.
  const Line flatSmall = fit({0.5, 0.5, 0.5, 0.5}, {1, 2, 3, 6});
  EXPECT_NEAR(flatSmall.intercept, 3.0, 1e-14);
  EXPECT_EQ(flatSmall.slope, 0.0);
  const Line flatLarge = fit({8, 8, 8}, {1, 2, 6});
  EXPECT_EQ(flatLarge.intercept, 0.0);
  EXPECT_NEAR(flatLarge.slope, 3.0 / 8.0, 1e-15);

  // Abscissae spread far below the rank tolerance: the reflector of the
  // second column needs rescaling, and the fit is still rank 1.
  const Line tiny = fit({1e-300, 2e-300, 3e-300}, {2, 4, 9});
  EXPECT_NEAR(tiny.intercept, 5.0, 1e-14);
  EXPECT_EQ(tiny.slope, 0.0);
}

TEST(LineFit, NaNLevelsPropagate) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Line l3 = fit({1, 2, 3}, {0, nan, -3});
  EXPECT_TRUE(std::isnan(l3.intercept) || std::isnan(l3.slope));
  const Line l2 = fit({1, 2}, {nan, -3});
  EXPECT_TRUE(std::isnan(l2.intercept));
}

}  // namespace
}  // namespace tavrix

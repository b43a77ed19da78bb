#include "numeric/line_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace tavrix {
namespace {

// Ordinary least squares in closed form from centred sums in long double, an
// independent route to the line, and the squared correlation, which equals
// the coefficient of determination of that line.
struct Reference {
  Line line;
  double r2;
};
Reference closedForm(const std::vector<double>& x, const std::vector<double>& y) {
  const size_t m = x.size();
  long double mx = 0, my = 0, sxy = 0, sxx = 0, syy = 0;
  for (size_t i = 0; i < m; ++i) {
    mx += x[i];
    my += y[i];
  }
  mx /= m;
  my /= m;
  for (size_t i = 0; i < m; ++i) {
    sxy += (x[i] - mx) * (y[i] - my);
    sxx += (x[i] - mx) * (x[i] - mx);
    syy += (y[i] - my) * (y[i] - my);
  }
  const long double slope = sxy / sxx;
  return {{static_cast<double>(my - slope * mx), static_cast<double>(slope)},
          static_cast<double>(sxy * sxy / (sxx * syy))};
}

Line fit(const std::vector<double>& x, const std::vector<double>& y) {
  return fitLine(x.data(), y.data(), static_cast<int32_t>(x.size()));
}

TEST(LineFit, AgreesWithClosedFormLeastSquaresOnRandomData) {
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> noise(-4.0, 4.0);
  // Levels in dB against whole-number positions: the exact two-row solve and
  // the QR, with the ones column (positions around 0) or the position column
  // (positions in the thousands) taking the first pivot.
  for (int m : {2, 3, 17, 1000}) {
    for (int trial = 0; trial < 20; ++trial) {
      std::vector<double> x(m), y(m);
      const int first = trial % 2 == 0 ? 1 + static_cast<int>(rng() % 5000) : -m / 2;
      for (int i = 0; i < m; ++i) {
        x[i] = first + i;
        y[i] = -0.01 * (trial + 1) * x[i] + noise(rng);
      }
      const Reference ref = closedForm(x, y);
      const Line got = fit(x, y);
      const double scale = std::fabs(ref.line.intercept) + std::fabs(ref.line.slope * x.back()) + 1.0;
      EXPECT_NEAR(got.slope, ref.line.slope, 1e-11 * scale) << m << " " << trial;
      EXPECT_NEAR(got.intercept, ref.line.intercept, 1e-10 * scale) << m << " " << trial;
      if (m > 2) {
        EXPECT_NEAR(coefficientOfDetermination(x.data(), y.data(), m, got), ref.r2, 1e-9);
      }
    }
  }
  const Line two = fit({3, 4}, {-10, -16});
  EXPECT_EQ(two.intercept, 8.0);
  EXPECT_EQ(two.slope, -6.0);
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

  // Three or more equal abscissae: rank 1, on the column of larger norm.
  const Line flatSmall = fit({0.5, 0.5, 0.5, 0.5}, {1, 2, 3, 6});
  EXPECT_NEAR(flatSmall.intercept, 3.0, 1e-14);
  EXPECT_EQ(flatSmall.slope, 0.0);
  const Line flatLarge = fit({8, 8, 8}, {1, 2, 6});
  EXPECT_EQ(flatLarge.intercept, 0.0);
  EXPECT_NEAR(flatLarge.slope, 3.0 / 8.0, 1e-15);
  // A spread far below the rank tolerance needs the rescaled reflector and
  // still counts as rank 1.
  const Line tiny = fit({1e-300, 2e-300, 3e-300}, {2, 4, 9});
  EXPECT_NEAR(tiny.intercept, 5.0, 1e-14);
  EXPECT_EQ(tiny.slope, 0.0);

  const double nan = std::nan("");
  EXPECT_TRUE(std::isnan(fit({1, 2}, {nan, -3}).intercept));
  const Line l3 = fit({1, 2, 3}, {0, nan, -3});
  EXPECT_TRUE(std::isnan(l3.intercept) || std::isnan(l3.slope));
}

}  // namespace
}  // namespace tavrix

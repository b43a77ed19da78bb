#include "impulse/analytic_signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace tavrix {
namespace {

TEST(AnalyticSignal, CosineHasSineAsHilbertTransformAndUnitEnvelope) {
  const int n = 1024;
  std::vector<double> x(n), re(n), im(n);
  for (int t = 0; t < n; ++t) x[t] = std::cos(2.0 * std::numbers::pi * 64.0 * t / n);
  analyticSignal(x.data(), re.data(), im.data(), n);
  for (int t = 0; t < n; ++t) {
    EXPECT_NEAR(re[t], x[t], 1e-12);
    EXPECT_NEAR(im[t], std::sin(2.0 * std::numbers::pi * 64.0 * t / n), 1e-12);
  }
  EXPECT_EQ(hilbertEnvelope(x.data(), n), 0);
  for (int t = 0; t < n; ++t) EXPECT_NEAR(x[t], 1.0, 1e-12);
}

TEST(AnalyticSignal, EnvelopeOfUnitImpulse) {
  // Closed form for an impulse at 0 over N = 8: z[t] = (1/8) (1 + (-1)^t +
  // 2 sum_{k=1..3} e^{i pi k t / 4}).
  std::vector<double> x(8, 0.0);
  x[0] = 1.0;
  hilbertEnvelope(x.data(), 8);
  const double expected[8] = {1, 0.603553, 0, 0.103553, 0, 0.103553, 0, 0.603553};
  for (int t = 0; t < 8; ++t) EXPECT_NEAR(x[t], expected[t], 5e-7) << t;
}

TEST(AnalyticSignal, PadsToNextPowerOfTwoAndLeavesTinyInputsAlone) {
  // Five samples are padded to eight: the result is the first five values of
  // the padded sequence's analytic signal.
  std::vector<double> x = {0.3, -1.0, 2.0, 0.5, -0.25};
  std::vector<double> padded = x;
  padded.resize(8, 0.0);
  std::vector<double> re5(5), im5(5), re8(8), im8(8);
  analyticSignal(x.data(), re5.data(), im5.data(), 5);
  analyticSignal(padded.data(), re8.data(), im8.data(), 8);
  for (int t = 0; t < 5; ++t) {
    EXPECT_NEAR(re5[t], x[t], 1e-15);
    EXPECT_DOUBLE_EQ(im5[t], im8[t]);
  }
  // With one or two samples there is nothing between DC and Nyquist.
  std::vector<double> two = {-0.75, 0.5};
  hilbertEnvelope(two.data(), 2);
  EXPECT_DOUBLE_EQ(two[0], 0.75);
  EXPECT_DOUBLE_EQ(two[1], 0.5);
  double one = -2.0;
  hilbertEnvelope(&one, 1);
  EXPECT_DOUBLE_EQ(one, 2.0);
  EXPECT_EQ(hilbertEnvelope(nullptr, 0), 0);
}

}  // namespace
}  // namespace tavrix

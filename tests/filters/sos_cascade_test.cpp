#include "filters/sos_cascade.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace tavrix {
namespace {

// Two resonant sections (b0 b1 b2 a0 a1 a2 each; pole radii 0.9 and 0.8) with
// input gains and an output gain: a stable fourth-order filter that rings.
const double kDesign[12] = {0.5, 0.2, -0.1, 1.0, -1.6, 0.81, 1.0, -0.3, 0.4, 1.0, -1.2, 0.64};
const double kGains[3] = {0.7, 1.3, 0.9};

SosCascade makeCascade() {
  SosCascade c;
  EXPECT_EQ(sosCreate(c, 4), 0);
  sosLoad(c, kDesign, kGains);
  return c;
}

std::vector<double> randomSignal(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> x(n);
  for (double& v : x) v = dist(rng);
  return x;
}

// The same filter as one difference equation per section, in direct form I,
// with the gains applied to whole sequences: an independent way to the output.
std::vector<double> directFormReference(std::vector<double> x) {
  for (int s = 0; s < 2; ++s) {
    const double* r = kDesign + 6 * s;
    std::vector<double> y(x.size());
    for (size_t t = 0; t < x.size(); ++t) {
      auto in = [&](size_t k) { return t >= k ? kGains[s] * x[t - k] : 0.0; };
      auto out = [&](size_t k) { return t >= k ? y[t - k] : 0.0; };
      y[t] = r[0] * in(0) + r[1] * in(1) + r[2] * in(2) - r[4] * out(1) - r[5] * out(2);
    }
    x = y;
  }
  for (double& v : x) v *= kGains[2];
  return x;
}

TEST(SosCascade, GainsOnlySectionScales) {
  SosCascade c;
  ASSERT_EQ(sosCreate(c, 2), 0);
  const double design[6] = {1, 0, 0, 1, 0, 0};
  const double gains[2] = {2, 3};
  sosLoad(c, design, gains);
  std::vector<double> x = {1.0, -0.5, 0.25};
  sosFilter(c, x.data(), 3);
  EXPECT_EQ(x, (std::vector<double>{6.0, -3.0, 1.5}));
}

TEST(SosCascade, ForwardMatchesDirectFormAndContinuesAcrossBlocks) {
  const std::vector<double> input = randomSignal(500, 1);
  const std::vector<double> expected = directFormReference(input);

  SosCascade whole = makeCascade();
  std::vector<double> x = input;
  sosFilter(whole, x.data(), static_cast<int32_t>(x.size()));
  for (size_t t = 0; t < x.size(); ++t) ASSERT_NEAR(x[t], expected[t], 1e-12) << t;

  // Uneven blocks, including an empty one, carry the state over exactly.
  SosCascade blocks = makeCascade();
  std::vector<double> y = input;
  const int32_t cuts[] = {0, 1, 1, 77, 300, 500};
  for (int i = 0; i + 1 < 6; ++i) sosFilter(blocks, y.data() + cuts[i], cuts[i + 1] - cuts[i]);
  EXPECT_EQ(y, x);
}

TEST(SosCascade, ReverseIsForwardOnReversedSignalAndBlocksGoBackwards) {
  const std::vector<double> input = randomSignal(400, 2);
  SosCascade forward = makeCascade();
  std::vector<double> reversed(input.rbegin(), input.rend());
  sosFilter(forward, reversed.data(), 400);
  std::reverse(reversed.begin(), reversed.end());

  SosCascade backward = makeCascade();
  std::vector<double> x = input;
  sosFilterReverse(backward, x.data(), 400);
  EXPECT_EQ(x, reversed);

  SosCascade blocks = makeCascade();
  std::vector<double> y = input;
  sosFilterReverse(blocks, y.data() + 250, 150);
  sosFilterReverse(blocks, y.data(), 250);
  EXPECT_EQ(y, reversed);
}

TEST(SosCascade, ReverseDelayedFiltersShiftedCopyFromRest) {
  const int32_t n = 300;
  const std::vector<double> input = randomSignal(n, 3);
  for (int32_t d : {0, 1, 37, n - 1}) {
    // u[t] = x[t - d], zero below d, filtered time-reversed from rest.
    std::vector<double> u(n, 0.0);
    for (int32_t t = d; t < n; ++t) u[t] = input[t - d];
    SosCascade fresh = makeCascade();
    sosFilterReverse(fresh, u.data(), n);

    // A cascade left with state from earlier use must start from rest anyway.
    SosCascade used = makeCascade();
    std::vector<double> noise = randomSignal(50, 4);
    sosFilter(used, noise.data(), 50);
    std::vector<double> x = input;
    EXPECT_EQ(sosFilterReverseDelayed(used, x.data(), n, d), 0);
    EXPECT_EQ(x, u) << "d = " << d;
  }
  // With d = n - 1 only x[0] takes part: x[n-1] is the response to it alone.
  SosCascade c = makeCascade();
  std::vector<double> x = input;
  sosFilterReverseDelayed(c, x.data(), n, n - 1);
  EXPECT_DOUBLE_EQ(x[n - 1], input[0] * kGains[0] * kDesign[0] * kGains[1] * kDesign[6] * kGains[2]);
  // A delay outside the signal would read or write outside it: refused.
  std::vector<double> y = input;
  EXPECT_EQ(sosFilterReverseDelayed(c, y.data(), n, n + 1), -1);
  EXPECT_EQ(sosFilterReverseDelayed(c, y.data(), n, -1), -1);
  EXPECT_EQ(y, input);
}

}  // namespace
}  // namespace tavrix

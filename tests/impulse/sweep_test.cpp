#include "impulse/sweep.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace tavrix {
namespace {

// Times (in samples) of the upward and downward zero crossings, linearly
// interpolated between the samples that bracket them.
std::vector<double> zeroCrossings(const DynArray<double>& s) {
  std::vector<double> t;
  for (int32_t i = 1; i < s.size(); ++i)
    if ((s[i - 1] < 0) != (s[i] < 0)) t.push_back(i - 1 + s[i - 1] / (s[i - 1] - s[i]));
  return t;
}

TEST(Sweep, FrequencyRisesExponentiallyFromStartToEnd) {
  const SweepSettings s{48000, 20, 2000, 2, 1};
  ASSERT_TRUE(sweepSettingsValid(s));
  const DynArray<double> sweep = generateSweep(s, false);
  ASSERT_EQ(sweep.size(), 96000);
  EXPECT_EQ(sweep[0], 0.0);
  // The closed form f(t) = f1 (f2/f1)^(t/T): over [a, b] the number of
  // half-periods is 2 * integral of f, i.e. 2 T (f(b) - f(a)) / ln(f2/f1).
  const double rate = std::log(s.endFrequency / s.startFrequency) / s.duration;
  auto f = [&](double t) { return s.startFrequency * std::exp(rate * t); };
  const std::vector<double> t = zeroCrossings(sweep);
  const size_t span = 40;
  int checked = 0;
  for (size_t k = 0; k + span < t.size(); k += 25) {
    const double a = t[k] / s.sampleRate, b = t[k + span] / s.sampleRate;
    const double expected = 2.0 * (f(b) - f(a)) / rate;
    EXPECT_NEAR(static_cast<double>(span), expected, 2e-3 * span) << "at " << a << " s";
    ++checked;
  }
  EXPECT_GT(checked, 50);
  // Crossings are as many as the closed form predicts over the whole sweep.
  EXPECT_NEAR(static_cast<double>(t.size()), 2.0 * (f(s.duration) - f(0)) / rate, 2.0);
}

TEST(Sweep, FadesAreRaisedCosineRampsAtBothEnds) {
  const SweepSettings s{48000, 20, 20000, 1, 1};
  const DynArray<double> plain = generateSweep(s, false);
  const DynArray<double> faded = generateSweep(s, true);
  const int32_t n = plain.size();
  ASSERT_EQ(faded.size(), n);
  // 1/100 of a period of 20 Hz and ten periods of 20 kHz are 24 samples each.
  const double ramp = 24.0;
  for (int32_t i = 0; i < n; ++i) {
    double gain = 1.0;
    if (i < ramp)
      gain = 0.5 * (1.0 - std::cos(std::numbers::pi * i / ramp));
    else if (i > n - ramp)
      gain = 0.5 * (1.0 - std::cos(std::numbers::pi * (n - 1 - i) / ramp));
    EXPECT_NEAR(faded[i], gain * plain[i], 1e-15) << i;
  }
  EXPECT_EQ(faded[0], 0.0);
  EXPECT_EQ(faded[n - 1], 0.0);
  EXPECT_NE(plain[n - 1], 0.0);
}

TEST(Sweep, SettingsBounds) {
  EXPECT_EQ(sweepLength(SweepSettings{48000, 20, 20000, 10, 2}), 480000);
  const double nan = std::nan(""), inf = INFINITY;
  // Each row: sample rate, f1, f2, duration, tail, accepted.
  const std::vector<std::array<double, 6>> rows{
      {48000, 20, 20000, 180, 2, 1},  {48000, 20, 20000, 180.0001, 2, 0}, {48000, 20, 20000, 0, 2, 0},
      {48000, 20, 24000, 10, 2, 1},   {48000, 20, 24000.001, 10, 2, 0},   {48000, 20, 20, 10, 2, 0},
      {48000, 0, 20, 10, 2, 0},       {48000, 20, 20000, 10, 1, 1},       {48000, 20, 20000, 10, 32, 1},
      {48000, 20, 20000, 10, 0.5, 0}, {48000, 20, 20000, 10, 33, 0},      {nan, 20, 20000, 10, 2, 0},
      {inf, 20, 20000, 10, 2, 0},     {48000, 20, 20000, 10, nan, 0},     {1e8, 20, 20000, 100, 2, 0}};
  for (const auto& r : rows)
    EXPECT_EQ(sweepSettingsValid(SweepSettings{r[0], r[1], r[2], r[3], r[4]}), r[5] == 1)
        << r[0] << " " << r[1] << " " << r[2] << " " << r[3] << " " << r[4];
}

}  // namespace
}  // namespace tavrix

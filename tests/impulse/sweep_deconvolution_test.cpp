#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "impulse/impulse_measurement.h"
#include "impulse/sweep.h"

namespace tavrix {
namespace {

TEST(Sweep, FrequencyRisesExponentiallyFromStartToEnd) {
  const SweepSettings s{48000, 20, 2000, 2, 1};
  const DynArray<double> sweep = generateSweep(s, false);
  ASSERT_EQ(sweep.size(), 96000);
  EXPECT_EQ(sweep[0], 0.0);
  // Zero crossings, interpolated between the samples that bracket them, against
  // the closed form f(t) = f1 (f2/f1)^(t/T): over [a, b] the number of
  // half-periods is 2 * integral of f, i.e. 2 T (f(b) - f(a)) / ln(f2/f1).
  std::vector<double> t;
  for (int32_t i = 1; i < sweep.size(); ++i)
    if ((sweep[i - 1] < 0) != (sweep[i] < 0)) t.push_back(i - 1 + sweep[i - 1] / (sweep[i - 1] - sweep[i]));
  const double rate = std::log(s.endFrequency / s.startFrequency) / s.duration;
  const auto half = [&](double a, double b) { return 40 * (std::exp(rate * b) - std::exp(rate * a)) / rate; };

  ASSERT_GT(t.size(), 1300u);
  for (size_t k = 0; k + 40 < t.size(); k += 25)
    EXPECT_NEAR(half(t[k] / 48000, t[k + 40] / 48000), 40.0, 0.08) << "at " << t[k] / 48000 << " s";
  EXPECT_NEAR(static_cast<double>(t.size()), half(0, s.duration), 2.0);
}

TEST(Sweep, FadesAreRaisedCosineRampsAtBothEnds) {
  const SweepSettings s{48000, 20, 20000, 1, 1};
  const DynArray<double> plain = generateSweep(s, false), faded = generateSweep(s, true);
  const int32_t n = plain.size();
  ASSERT_EQ(faded.size(), n);
  // 1/100 of a period of 20 Hz and ten periods of 20 kHz are 24 samples each;
  // the last sample of the closing ramp is its zero.
  for (int32_t i = 0; i < n; ++i) {
    const double edge = i < 24 ? i : (n - 1 - i < 23 ? n - 1.0 - i : 24.0);
    EXPECT_NEAR(faded[i], 0.5 * (1.0 - std::cos(std::numbers::pi * edge / 24.0)) * plain[i], 1e-15) << i;
  }
  EXPECT_EQ(faded[n - 1], 0.0);
  EXPECT_NE(plain[n - 1], 0.0);
}

TEST(Sweep, SettingsBounds) {
  EXPECT_EQ(sweepLength(SweepSettings{48000, 20, 20000, 10, 2}), 480000);
  const double nan = std::nan(""), inf = INFINITY;
  // Each row: sample rate, f1, f2, duration, tail, accepted.
  // clang-format off
  const std::vector<std::array<double, 6>> rows{
      {48000, 20, 20000, 180, 2, 1},  {48000, 20, 20000, 180.0001, 2, 0}, {48000, 20, 20000, 0, 2, 0},
      {48000, 20, 24000, 10, 2, 1},   {48000, 20, 24000.001, 10, 2, 0},   {48000, 20, 20, 10, 2, 0},
      {48000, 0, 20, 10, 2, 0},       {48000, 20, 20000, 10, 1, 1},       {48000, 20, 20000, 10, 32, 1},
      {48000, 20, 20000, 10, 0.5, 0}, {48000, 20, 20000, 10, 33, 0},      {nan, 20, 20000, 10, 2, 0},
      {inf, 20, 20000, 10, 2, 0},     {48000, 20, 20000, 10, nan, 0},     {1e8, 20, 20000, 100, 2, 0},
      // No finite samples: ln(f2/f1) overflows, one sample (always 0), a subnormal rate; two samples do.
      {48000, 5e-324, 2e3, 1, 1, 0},  {48000, 20, 2e3, 1.0 / 96000, 1, 0}, {1e-310, 1e-312, 2e-312, 1, 1, 0},
      {1000, 10, 500, 0.002, 1, 1}};
  // clang-format on
  for (const auto& r : rows)
    EXPECT_EQ(sweepSettingsValid(SweepSettings{r[0], r[1], r[2], r[3], r[4]}), r[5] == 1)
        << "row " << &r - rows.data();
  // A fade-in longer than any double (1/100 period of 1e-310 Hz) fades the whole sweep to 0.
  EXPECT_FALSE(sweepUsable(generateSweep(SweepSettings{48000, 1e-310, 1e-5, 1, 1}, true)));
  EXPECT_TRUE(sweepUsable(generateSweep(SweepSettings{48000, 1e-310, 1e-5, 1, 1}, false)));
}

ImpulseMeasurement withSweep(double seconds) {
  ImpulseMeasurement m;
  m.sweep = generateSweep(SweepSettings{8000, 50, 4000, seconds, 1}, true);
  return m;
}

int32_t process(ImpulseMeasurement& m, const std::vector<double>& recording) {
  m.recording = DynArray<double>(recording.data(), static_cast<int32_t>(recording.size()));
  if (deconvolve(m) != 0) return -1;
  return computeImpulseResponse(m) == 0 ? m.nfft : -1;
}

TEST(Deconvolution, RecoversKnownDelayGainAndFilter) {
  ImpulseMeasurement m = withSweep(0.375);
  ASSERT_EQ(m.sweep.size(), 3000);
  // The room: 100 samples of delay, a gain of 0.5 and a one-pole low-pass
  // y[n] = x[n] + 0.8 y[n - 1], whose impulse response is 0.8^n.
  std::vector<double> recording(4096, 0.0);
  for (int32_t n = 0; n < 4096; ++n)
    recording[n] =
        ((n >= 100 && n - 100 < 3000) ? 0.5 * m.sweep[n - 100] : 0.0) + (n ? 0.8 * recording[n - 1] : 0.0);
  ASSERT_EQ(process(m, recording), 4096);
  ASSERT_EQ(m.impulseResponse.size(), 4096);
  for (int32_t n = 0; n < 4096; ++n)
    ASSERT_NEAR(m.impulseResponse[n], n < 100 ? 0.0 : 0.5 * std::pow(0.8, n - 100), 1e-9) << n;
  // The transfer function is the filter's: 0.5 e^{-i w 100} / (1 - 0.8 e^{-i w}).
  const double w = 2.0 * std::numbers::pi * 300 / 4096;
  const std::complex<double> expected = 0.5 * std::polar(1.0, -w * 100) / (1.0 - 0.8 * std::polar(1.0, -w));
  EXPECT_NEAR(m.transferFunction[600], expected.real(), 1e-9);
  EXPECT_NEAR(m.transferFunction[601], expected.imag(), 1e-9);
}

TEST(Deconvolution, TransformLengthAndFailureKeepingEarlierResults) {
  ImpulseMeasurement m = withSweep(0.01);
  EXPECT_EQ(process(m, std::vector<double>(65536, 0.0)), 65536);
  EXPECT_EQ(process(m, std::vector<double>(65537, 0.0)), 131072);
  EXPECT_EQ(process(m, std::vector<double>(80, 0.0)), 128);
  // The sweep as its own recording: a unit impulse; a recording shorter than
  // the sweep fails and leaves it.
  m = withSweep(0.125);
  ASSERT_EQ(process(m, std::vector<double>(m.sweep.begin(), m.sweep.end())), 1024);
  EXPECT_EQ(process(m, std::vector<double>(999, 0.1)), -1);
  EXPECT_EQ(m.nfft, 1024);
  EXPECT_EQ(m.transferFunction.size(), 2048);
  EXPECT_NEAR(m.impulseResponse[0], 1.0, 1e-12);
  EXPECT_NEAR(m.impulseResponse[1], 0.0, 1e-12);
  ImpulseMeasurement noSweep;
  noSweep.recording = DynArray<double>(10);
  EXPECT_EQ(deconvolve(noSweep), -1);
  EXPECT_EQ(computeImpulseResponse(noSweep), -1);
  EXPECT_EQ(noSweep.nfft, 0);
}

}  // namespace
}  // namespace tavrix

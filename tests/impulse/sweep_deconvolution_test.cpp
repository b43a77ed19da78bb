#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "impulse/analytic_signal.h"
#include "impulse/impulse_measurement.h"
#include "impulse/sweep.h"

namespace tavrix {
namespace {

TEST(Sweep, ClosedFormPhaseAndRaisedCosineFades) {
  // f(t) = f1 (f2/f1)^(t/T) integrates to the phase 2 pi f1 T / ln(f2/f1) (e^(t ln(f2/f1) / T) - 1),
  // here evaluated in long double. 1/100 of a period of 20 Hz and ten periods of 20 kHz are 24
  // samples each; the last sample of the closing ramp is its zero. In a sweep of 39 samples the
  // ramps overlap: the fade-in holds up to sample 23, the closing ramp from sample 24 on.
  const long double rate = std::log(1000.0L), pi = std::numbers::pi_v<long double>;
  for (auto [T, n] : {std::pair{1.0, 48000}, {0.0008, 39}}) {
    const SweepSettings s{48000, 20, 20000, T, 1};
    const DynArray<double> plain = generateSweep(s, false), faded = generateSweep(s, true);
    ASSERT_EQ(std::pair(plain.size(), faded.size()), std::pair(n, n));
    for (int32_t i = 0; i < n; ++i) {
      const long double phase = 2 * pi * 20 * T / rate * (std::exp(rate * i / (48000 * T)) - 1);
      ASSERT_NEAR(plain[i], static_cast<double>(std::sin(phase)), 1e-9) << i;
      const double edge = i < 24 ? i : (n - 1 - i < 23 ? n - 1.0 - i : 24.0);
      ASSERT_NEAR(faded[i], 0.5 * (1.0 - std::cos(std::numbers::pi * edge / 24.0)) * plain[i], 1e-15) << i;
    }
  }
  // The playback file: 0.2 s of silence truncated to samples, the sweep at the gain, then silence for
  // the tail plus 1 s, the total truncated. (rate, tail) -> leading samples, length for 2 samples.
  const DynArray<double> two(std::vector{0.5, -0.25}.data(), 2);
  for (auto [fs, tail, lead, length] : std::vector<std::array<double, 4>>{
           {48000, 2, 9600, 153602}, {44100.5, 1, 8820, 97023}, {4, 1, 0, 10}, {0.4, 1, 0, 2}}) {
    const DynArray<double> out = sweepPlaybackBuffer(two, fs, tail, -20.0);
    ASSERT_EQ(out.size(), length) << fs;
    for (int32_t i = 0; i < out.size(); ++i)
      EXPECT_NEAR(out[i], i == lead || i == lead + 1 ? 0.1 * two[i - int32_t(lead)] : 0.0, 1e-16) << i;
  }
}

TEST(Sweep, SettingsBounds) {
  // Each row: sample rate, f1, f2, duration, tail, accepted.
  // clang-format off
  const std::vector<std::array<double, 6>> rows{
      {48000, 20, 20000, 180, 2, 1},  {48000, 20, 20000, 180.0001, 2, 0}, {48000, 20, 20000, 0, 2, 0},
      {48000, 20, 24000, 10, 2, 1},   {48000, 20, 24000.001, 10, 2, 0},   {48000, 20, 20, 10, 2, 0},
      {48000, 0, 20, 10, 2, 0},       {48000, 20, 20000, 10, 1, 1},       {48000, 20, 20000, 10, 32, 1},
      {48000, 20, 20000, 10, 0.5, 0}, {48000, 20, 20000, 10, 33, 0},      {NAN, 20, 20000, 10, 2, 0},
      {INFINITY, 20, 20000, 10, 2, 0}, {48000, 20, 20000, 10, NAN, 0},     {1e8, 20, 20000, 100, 2, 0},
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

int32_t process(ImpulseMeasurement& m, const std::vector<double>& recording) {
  m.recording = DynArray<double>(recording.data(), static_cast<int32_t>(recording.size()));
  if (deconvolve(m) != 0) return -1;
  return computeImpulseResponse(m) == 0 ? m.nfft : -1;
}

TEST(Deconvolution, RecoversKnownRoomsAndKeepsEarlierResultsOnFailure) {
  ImpulseMeasurement m;
  m.sweep = generateSweep(SweepSettings{8000, 50, 4000, 0.375, 1}, true);
  // The room: 100 samples of delay, a gain of 0.5 and a one-pole low-pass
  // y[n] = x[n] + 0.8 y[n - 1], whose impulse response is 0.8^n.
  std::vector<double> recording(4096, 0.0);
  for (int32_t n = 0; n < 4096; ++n)
    recording[n] =
        ((n >= 100 && n - 100 < 3000) ? 0.5 * m.sweep[n - 100] : 0.0) + (n ? 0.8 * recording[n - 1] : 0.0);
  ASSERT_EQ(process(m, recording), 4096);
  for (int32_t n = 0; n < 4096; ++n)
    ASSERT_NEAR(m.impulseResponse[n], n < 100 ? 0.0 : 0.5 * std::pow(0.8, n - 100), 1e-9) << n;
  // One transform over the whole recording, a power of two. The sweep as its
  // own recording: a unit impulse; a recording shorter than the sweep fails
  // and leaves it.
  m.sweep = generateSweep(SweepSettings{8000, 50, 4000, 0.125, 1}, true);
  EXPECT_EQ(process(m, std::vector<double>(65537, 0.0)), 131072);
  ASSERT_EQ(process(m, std::vector<double>(m.sweep.begin(), m.sweep.end())), 1024);
  EXPECT_EQ(process(m, std::vector<double>(999, 0.1)), -1);
  EXPECT_EQ(std::pair(m.nfft, m.transferFunction.size()), std::pair(1024, 2048));
  EXPECT_NEAR(m.impulseResponse[0], 1.0, 1e-12);
  EXPECT_NEAR(m.impulseResponse[1], 0.0, 1e-12);
  // One sample each: the only bin is DC, the response their ratio; its
  // analytic signal is the sample itself (the Hilbert transform of one sample is 0).
  m.sweep = DynArray<double>(1), m.sweep[0] = 2.0;
  EXPECT_EQ(process(m, {3.0}), 1);
  EXPECT_EQ(m.impulseResponse[0], 1.5);
  const DynArray<double> hilbert = hilbertTransform(m.impulseResponse.data(), 1);
  EXPECT_TRUE(hilbert.size() == 1 && hilbert[0] == 0.0);
  ImpulseMeasurement noSweep;
  noSweep.recording = DynArray<double>(10);
  EXPECT_EQ(std::tuple(deconvolve(noSweep), computeImpulseResponse(noSweep), noSweep.nfft),
            std::tuple(-1, -1, 0));
}

}  // namespace
}  // namespace tavrix

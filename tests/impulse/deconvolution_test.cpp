#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "impulse/impulse_measurement.h"
#include "impulse/sweep.h"

namespace tavrix {
namespace {

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
  double state = 0.0;
  for (int32_t n = 0; n < 4096; ++n) {
    const double in = (n >= 100 && n - 100 < 3000) ? 0.5 * m.sweep[n - 100] : 0.0;
    state = in + 0.8 * state;
    recording[n] = state;
  }
  ASSERT_EQ(process(m, recording), 4096);
  ASSERT_EQ(m.impulseResponse.size(), 4096);
  double worst = 0.0;
  for (int32_t n = 0; n < 4096; ++n) {
    const double expected = n < 100 ? 0.0 : 0.5 * std::pow(0.8, n - 100);
    worst = std::max(worst, std::abs(m.impulseResponse[n] - expected));
  }
  EXPECT_LT(worst, 1e-9);
  EXPECT_NEAR(m.impulseResponse[100], 0.5, 1e-9);
  // The transfer function is the filter's: 0.5 e^{-i w 100} / (1 - 0.8 e^{-i w}).
  const int32_t k = 300;
  const double w = 2.0 * std::numbers::pi * k / 4096;
  const std::complex<double> expected = 0.5 * std::polar(1.0, -w * 100) / (1.0 - 0.8 * std::polar(1.0, -w));
  EXPECT_NEAR(m.transferFunction[2 * k], expected.real(), 1e-9);
  EXPECT_NEAR(m.transferFunction[2 * k + 1], expected.imag(), 1e-9);
}

TEST(Deconvolution, TransformLengthIsNextPowerOfTwoOfRecording) {
  ImpulseMeasurement m = withSweep(0.01);
  EXPECT_EQ(process(m, std::vector<double>(65536, 0.0)), 65536);
  EXPECT_EQ(process(m, std::vector<double>(65537, 0.0)), 131072);
  EXPECT_EQ(m.impulseResponse.size(), 131072);
  EXPECT_EQ(process(m, std::vector<double>(80, 0.0)), 128);
}

TEST(Deconvolution, FailureKeepsEarlierResults) {
  ImpulseMeasurement m = withSweep(0.125);
  // The sweep as its own recording: a unit impulse.
  ASSERT_EQ(process(m, std::vector<double>(m.sweep.begin(), m.sweep.end())), 1024);
  EXPECT_NEAR(m.impulseResponse[0], 1.0, 1e-12);
  EXPECT_NEAR(m.impulseResponse[1], 0.0, 1e-12);
  EXPECT_EQ(process(m, std::vector<double>(999, 0.1)), -1);
  EXPECT_EQ(m.nfft, 1024);
  EXPECT_EQ(m.transferFunction.size(), 2048);
  EXPECT_NEAR(m.impulseResponse[0], 1.0, 1e-12);
  ImpulseMeasurement noSweep;
  noSweep.recording = DynArray<double>(10);
  EXPECT_EQ(deconvolve(noSweep), -1);
  EXPECT_EQ(computeImpulseResponse(noSweep), -1);
  EXPECT_EQ(noSweep.nfft, 0);
}

}  // namespace
}  // namespace tavrix

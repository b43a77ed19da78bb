#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <vector>

#include "api/tables.h"
#include "impulse/calibration.h"
#include "tavrix.h"

namespace tavrix {
namespace {

constexpr double kFs = 48000.0;

// The device under test: a peaking equaliser at 1 kHz, +6 dB, Q 2 (bilinear
// design from the analogue prototype), run in direct form I, with its
// closed-form response H(e^jw).
struct Biquad {
  double b0, b1, b2, a1, a2;
};

Biquad peakingFilter(double f0, double gainDb, double q) {
  const double a = std::pow(10.0, gainDb / 40.0), w0 = 2.0 * std::numbers::pi * f0 / kFs;
  const double alpha = std::sin(w0) / (2.0 * q), a0 = 1.0 + alpha / a;
  return {(1.0 + alpha * a) / a0, -2.0 * std::cos(w0) / a0, (1.0 - alpha * a) / a0, -2.0 * std::cos(w0) / a0,
          (1.0 - alpha / a) / a0};
}
const Biquad kPeak = peakingFilter(1000.0, 6.0, 2.0);

std::complex<double> analytic(double f) {
  const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * f / kFs);
  return (kPeak.b0 + kPeak.b1 * z1 + kPeak.b2 * z1 * z1) / (1.0 + kPeak.a1 * z1 + kPeak.a2 * z1 * z1);
}
double analyticDb(double f) { return 20.0 * std::log10(std::abs(analytic(f))); }
double analyticDegrees(double f) { return std::arg(analytic(f)) * 180.0 / std::numbers::pi; }

std::vector<double> filtered(const std::vector<double>& x) {
  std::vector<double> y(x.size());
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    y[i] = kPeak.b0 * x[i] + kPeak.b1 * x1 + kPeak.b2 * x2 - kPeak.a1 * y1 - kPeak.a2 * y2;
    x2 = x1, x1 = x[i], y2 = y1, y1 = y[i];
  }
  return y;
}

ImpulseMeasurement measurementWith(const std::vector<double>& ir) {
  ImpulseMeasurement m;
  m.impulseResponse = DynArray<double>(ir.data(), static_cast<int32_t>(ir.size()));
  m.nfft = static_cast<int32_t>(ir.size());
  m.sampleRate = kFs;
  return m;
}

TEST(CalibrationWindow, ButterworthShapeCentredOnThePeakAndWrapping) {
  // Unit samples around a larger peak: the gated result is the window itself.
  std::vector<double> ir(65536, 1.0);
  ir[20000] = -2.0;  // the largest magnitude, whatever its sign
  ir[100] = std::numeric_limits<double>::quiet_NaN();
  ImpulseMeasurement m = measurementWith(ir);
  ASSERT_EQ(calibrationWindow(m), 0);
  EXPECT_EQ(m.impulseResponse[20000], -2.0);
  // 0.1 s = 4800 samples: half power there, 1/(1 + 2^12) at twice the distance.
  EXPECT_DOUBLE_EQ(m.impulseResponse[20000 + 4800], 0.5);
  EXPECT_DOUBLE_EQ(m.impulseResponse[20000 - 4800], 0.5);
  EXPECT_NEAR(m.impulseResponse[20000 + 9600], 0.000244, 5e-7);
  EXPECT_NEAR(m.impulseResponse[20000 - 9600], 1.0 / 4097.0, 1e-18);

  // A peak at index 0: the samples before it in circular time, at the end of
  // the array, pass; the first of two equal peaks wins.
  std::vector<double> early(65536, 0.5);
  early[0] = early[20000] = 1.0;
  ImpulseMeasurement w = measurementWith(early);
  w.windowWidth = 0.05;
  calibrationWindow(w);
  for (int32_t i = 65536 - 100; i < 65536; ++i) ASSERT_NEAR(w.impulseResponse[i], 0.5, 1e-20) << i;
  EXPECT_DOUBLE_EQ(w.impulseResponse[65536 - 2400], 0.25);
  EXPECT_LT(w.impulseResponse[20000], 1e-8);

  ImpulseMeasurement none;
  EXPECT_EQ(calibrationWindow(none), -1);
}

TEST(CalibrationSearch, NearestIndexNormalisationAndPointCounts) {
  const double v[] = {std::numeric_limits<double>::quiet_NaN(), 10.0, 20.0, 30.0};
  EXPECT_EQ(nearestIndex(v, 4, 15.0), 1);  // equal distances: the first; NaN never wins
  EXPECT_EQ(nearestIndex(v, 4, 25.1), 3);
  EXPECT_EQ(nearestIndex(v, 4, -1e6), 1);
  EXPECT_EQ(nearestIndex(v, 0, 15.0), 0);

  double values[] = {1.0, 2.0, 4.0};
  const double freq[] = {100.0, 1000.0, 2000.0};
  normaliseToReference(values, freq, 3, 0.0);
  EXPECT_EQ(values[2], 4.0);
  normaliseToReference(values, freq, 3, 900.0);
  EXPECT_EQ((std::vector<double>(values, values + 3)), (std::vector<double>{-1.0, 0.0, 2.0}));

  EXPECT_EQ(fractionalOctavePointCount(48000, 3), 31);
  EXPECT_EQ(fractionalOctavePointCount(48000.9, 24), 241);
  EXPECT_EQ(fractionalOctavePointCount(96000, 12), 133);
  EXPECT_EQ(fractionalOctavePointCount(192000, 6), 73);
  EXPECT_EQ(fractionalOctavePointCount(44100, 3), -1);
  EXPECT_EQ(fractionalOctavePointCount(48000, 5), -2);
  EXPECT_EQ(fractionalOctavePointCount(44100, 5), -1);  // the rate is tested first
}

class MicCal : public ::testing::Test {
 protected:
  void SetUp() override {
    initTavrix();
    handle = initImpulse();
    ASSERT_GE(handle, 0);
  }
  void TearDown() override { deleteImpulse(handle); }

  // A 2 s sweep from 20 Hz to 20 kHz, zero-padded by 0.1 s for the filter's
  // response to die away.
  static std::vector<double> paddedSweep(int32_t h) {
    EXPECT_EQ(generateESS(h, kFs, 20.0, 20000.0, 2.0, 1.0), 96000);
    std::vector<double> s(96000 + 4800, 0.0);
    EXPECT_EQ(getESS(h, s.data()), 0);
    return s;
  }

  int32_t handle = -1;
};

TEST_F(MicCal, RecoversAKnownFilterFromOneAndTwoChannels) {
  const std::vector<double> sweep = paddedSweep(handle);
  const std::vector<double> out = filtered(sweep);
  const int32_t n = static_cast<int32_t>(out.size());
  ASSERT_EQ(processInputSignalForMicCal(handle, out.data(), n), 131072);
  const int32_t twoCh = initImpulse();
  paddedSweep(twoCh);  // only for its sample rate: the reference replaces the sweep
  ASSERT_EQ(processInputSignalForMicCalTwoCh(twoCh, sweep.data(), out.data(), n), 131072);

  std::vector<double> db(241), deg(241), f(241), nbDb(65537), nbFreq(65537);
  for (int32_t h : {handle, twoCh}) {
    // Nearest bins: the closed form at every point.
    ASSERT_EQ(setAverageFFTtoOctaveFraction(h, false), 0);
    ASSERT_EQ(getFractionalOctaveMagnitudeResponseForMicCal(h, db.data(), f.data(), 0.0, 24), 0);
    ASSERT_EQ(getFractionalOctavePhaseResponseForMicCal(h, deg.data(), f.data(), 0.0, 24), 0);
    ASSERT_EQ(getMagnitudeResponseForMicCal(h, nbDb.data(), nbFreq.data(), 0.0), 0);
    for (int i = 0; i < 241; ++i) {
      EXPECT_NEAR(db[i], analyticDb(f[i]), 0.02) << f[i] << " Hz, handle " << h;
      EXPECT_NEAR(deg[i], analyticDegrees(f[i]), 0.2) << f[i] << " Hz, handle " << h;
      ASSERT_EQ(db[i], nbDb[nearestIndex(nbFreq.data(), 65537, f[i])]);  // bisection = linear search
    }
    EXPECT_NEAR(f[0], 19.9526, 1e-4);
    EXPECT_EQ(f[136], 1000.0);
    EXPECT_NEAR(f[240], 19952.6, 0.1);

    // Normalised to 1 kHz: exactly 0 there, the rest relative to the +6 dB peak.
    ASSERT_EQ(getFractionalOctaveMagnitudeResponseForMicCal(h, db.data(), f.data(), 1000.0, 3), 0);
    EXPECT_EQ(db[17], 0.0);
    EXPECT_NEAR(db[0], -6.0, 0.02);
    ASSERT_EQ(getMagnitudeResponseForMicCal(h, nbDb.data(), nbFreq.data(), 1000.0), 0);
    EXPECT_EQ(nbDb[nearestIndex(nbFreq.data(), 65537, 1000.0)], 0.0);

    // Averaged: the mean over a quarter of the point spacing either side (1/12
    // octave at 3 points per octave), against the mean of the closed form over
    // that band; at the peak it lies about 0.1 dB below the point value.
    ASSERT_EQ(setAverageFFTtoOctaveFraction(h, true), 0);
    ASSERT_EQ(getFractionalOctaveMagnitudeResponseForMicCal(h, db.data(), f.data(), 0.0, 3), 0);
    ASSERT_EQ(getFractionalOctavePhaseResponseForMicCal(h, deg.data(), f.data(), 0.0, 3), 0);
    for (int i = 0; i < 31; ++i) {
      const double lo = f[i] * std::pow(10.0, -0.3 / 12), hi = f[i] * std::pow(10.0, 0.3 / 12);
      double magnitude = 0.0, phase = 0.0;
      for (int j = 0; j <= 2000; ++j) {
        const double fj = lo + (hi - lo) * j / 2000;
        magnitude += std::abs(analytic(fj)) / 2001;
        phase += analyticDegrees(fj) / 2001;
      }
      EXPECT_NEAR(db[i], 20.0 * std::log10(magnitude), 0.01) << f[i] << " Hz";
      EXPECT_NEAR(deg[i], phase, 0.1) << f[i] << " Hz";
    }
    EXPECT_LT(db[17], 5.95);
  }
  deleteImpulse(twoCh);
}

TEST_F(MicCal, WindowWidthCountsFromTheNextProcessing) {
  // A direct sound and echoes of half its amplitude at 1 ms and 2 ms: a 1 ms
  // gate halves the first echo and all but removes the second.
  const std::vector<double> sweep = paddedSweep(handle);
  std::vector<double> rec(sweep.size(), 0.0);
  for (size_t i = 0; i < sweep.size(); ++i)
    rec[i] = sweep[i] + 0.5 * ((i >= 48 ? sweep[i - 48] : 0.0) + (i >= 96 ? sweep[i - 96] : 0.0));

  for (double bad : {0.0, -0.1, std::nan(""), HUGE_VAL})
    EXPECT_EQ(setButterworthWindowWidth(handle, bad), -1);
  EXPECT_EQ(impulseTable().find(handle)->windowWidth, 0.1);
  ASSERT_EQ(setButterworthWindowWidth(handle, 0.001), 0);
  ASSERT_EQ(processInputSignalForMicCal(handle, rec.data(), static_cast<int32_t>(rec.size())), 131072);
  std::vector<double> ir(131072);
  ASSERT_EQ(getImpulseResponse(handle, ir.data()), 0);
  EXPECT_NEAR(ir[0], 1.0, 1e-9);
  EXPECT_NEAR(ir[48], 0.25, 1e-9);
  EXPECT_NEAR(ir[96], 0.5 / 4097.0, 1e-9);
}

TEST_F(MicCal, RejectsBadCallsAndLeavesOutputsAlone) {
  double out[242], f[242];
  std::fill(out, out + 242, 7.0);
  const double x[4] = {1, 0, 0, 0};
  // Before any processing, and without a sample rate to lay out the window.
  EXPECT_EQ(getMagnitudeResponseForMicCal(handle, out, f, 0.0), -1);
  EXPECT_EQ(getFractionalOctavePhaseResponseForMicCal(handle, out, f, 0.0, 3), -1);
  EXPECT_EQ(processInputSignalForMicCalTwoCh(handle, x, x, 4), -1);
  EXPECT_EQ(processInputSignalForMicCal(handle, x, 4), -1);
  for (int32_t h : {handle + 1, -1, 255}) {
    EXPECT_EQ(setAverageFFTtoOctaveFraction(h, true), -1);
    EXPECT_EQ(setButterworthWindowWidth(h, 0.1), -1);
    EXPECT_EQ(getFractionalOctaveMagnitudeResponseForMicCal(h, out, f, 0.0, 3), -1);
  }
  paddedSweep(handle);
  EXPECT_EQ(processInputSignalForMicCalTwoCh(handle, nullptr, x, 4), -1);
  EXPECT_EQ(processInputSignalForMicCalTwoCh(handle, x, x, 0), -1);
  EXPECT_EQ(processInputSignalForMicCal(handle, x, -5), -1);
  EXPECT_EQ(processInputSignalForMicCal(handle, x, 4), -1);  // shorter than the sweep
  EXPECT_EQ(processInputSignalForMicCalTwoCh(handle, x, x, 4), 4);

  EXPECT_EQ(getMagnitudeResponseForMicCal(handle, out, nullptr, 0.0), -1);
  EXPECT_EQ(getMagnitudeResponseForMicCal(handle, out, f, std::nan("")), -1);
  EXPECT_EQ(getFractionalOctaveMagnitudeResponseForMicCal(handle, out, f, 0.0, 5), -2);
  impulseTable().find(handle)->sampleRate = 44100.0;
  EXPECT_EQ(getFractionalOctavePhaseResponseForMicCal(handle, out, f, 0.0, 5), -1);
  EXPECT_EQ(out[0], 7.0);
  EXPECT_EQ(getMagnitudeResponseForMicCal(handle, out, f, 0.0), 0);  // nfft/2 + 1 = 3 values
  EXPECT_EQ(out[3], 7.0);
}

}  // namespace
}  // namespace tavrix

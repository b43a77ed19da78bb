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

// A second-order peaking equaliser (the usual bilinear design from an analogue
// prototype), run in direct form I: the device under test whose response is
// known in closed form.
struct Biquad {
  double b0, b1, b2, a1, a2;
};

Biquad peakingFilter(double fs, double f0, double gainDb, double q) {
  const double a = std::pow(10.0, gainDb / 40.0);
  const double w0 = 2.0 * std::numbers::pi * f0 / fs;
  const double alpha = std::sin(w0) / (2.0 * q);
  const double a0 = 1.0 + alpha / a;
  return {(1.0 + alpha * a) / a0, -2.0 * std::cos(w0) / a0, (1.0 - alpha * a) / a0, -2.0 * std::cos(w0) / a0,
          (1.0 - alpha / a) / a0};
}

std::complex<double> biquadResponse(const Biquad& f, double freq, double fs) {
  const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * freq / fs);  // z^-1
  return (f.b0 + f.b1 * z1 + f.b2 * z1 * z1) / (1.0 + f.a1 * z1 + f.a2 * z1 * z1);
}

std::vector<double> biquadFilter(const Biquad& f, const std::vector<double>& x) {
  std::vector<double> y(x.size());
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    y[i] = f.b0 * x[i] + f.b1 * x1 + f.b2 * x2 - f.a1 * y1 - f.a2 * y2;
    x2 = x1;
    x1 = x[i];
    y2 = y1;
    y1 = y[i];
  }
  return y;
}

const Biquad kPeak = peakingFilter(kFs, 1000.0, 6.0, 2.0);

double analyticDb(double f) { return 20.0 * std::log10(std::abs(biquadResponse(kPeak, f, kFs))); }
double analyticDegrees(double f) {
  return std::arg(biquadResponse(kPeak, f, kFs)) * 180.0 / std::numbers::pi;
}

ImpulseMeasurement measurementWith(std::vector<double> ir, double fs = kFs) {
  ImpulseMeasurement m;
  m.impulseResponse = DynArray<double>(ir.data(), static_cast<int32_t>(ir.size()));
  m.nfft = static_cast<int32_t>(ir.size());
  m.sampleRate = fs;
  return m;
}

TEST(CalibrationWindow, IsFlatTopButterworthShapeCentredOnThePeak) {
  // Unit samples with a larger peak: the result is the window itself.
  std::vector<double> ir(65536, 1.0);
  const int32_t peak = 20000;
  ir[peak] = -2.0;  // the largest magnitude, whatever its sign
  ImpulseMeasurement m = measurementWith(ir);
  ASSERT_EQ(calibrationWindow(m), 0);
  EXPECT_EQ(m.impulseResponse[peak], -2.0);
  // 0.1 s = 4800 samples: half power there, then 36 dB per doubling.
  EXPECT_DOUBLE_EQ(m.impulseResponse[peak + 4800], 0.5);
  EXPECT_DOUBLE_EQ(m.impulseResponse[peak - 4800], 0.5);
  EXPECT_NEAR(m.impulseResponse[peak + 9600], 1.0 / 4097.0, 1e-18);
  EXPECT_NEAR(m.impulseResponse[peak - 9600], 0.000244, 5e-7);
  EXPECT_GT(m.impulseResponse[peak + 100], 1.0 - 1e-15);

  // Half the width halves the distances.
  ImpulseMeasurement narrow = measurementWith(ir);
  narrow.windowWidth = 0.05;
  calibrationWindow(narrow);
  EXPECT_DOUBLE_EQ(narrow.impulseResponse[peak + 2400], 0.5);
}

TEST(CalibrationWindow, WrapsAroundTheEndsOfTheArray) {
  std::vector<double> ir(65536, 0.5);
  ir[0] = 1.0;
  ImpulseMeasurement m = measurementWith(ir);
  calibrationWindow(m);
  // The 100 samples before the peak in circular time are the last ones.
  for (int32_t i = 65536 - 100; i < 65536; ++i) ASSERT_NEAR(m.impulseResponse[i], 0.5, 1e-20) << i;
  EXPECT_DOUBLE_EQ(m.impulseResponse[65536 - 4800], 0.25);
  EXPECT_LT(m.impulseResponse[32768], 1e-10);

  // A peak at the very end keeps the start of the array.
  ir[0] = 0.5;
  ir[65535] = 1.0;
  ImpulseMeasurement late = measurementWith(ir);
  calibrationWindow(late);
  EXPECT_DOUBLE_EQ(late.impulseResponse[4799], 0.25);
  EXPECT_NEAR(late.impulseResponse[50], 0.5, 1e-20);
}

TEST(CalibrationWindow, FirstOfEqualPeaksWinsAndNaNsAreSkipped) {
  std::vector<double> ir(65536, 0.0);
  ir[100] = std::numeric_limits<double>::quiet_NaN();
  ir[1000] = 1.0;
  ir[15400] = -1.0;  // three half-widths later: 1 / (1 + 3^12)
  ImpulseMeasurement m = measurementWith(ir);
  calibrationWindow(m);
  EXPECT_EQ(m.impulseResponse[1000], 1.0);
  EXPECT_NEAR(m.impulseResponse[15400], -1.88e-6, 1e-8);

  ImpulseMeasurement empty;
  EXPECT_EQ(calibrationWindow(empty), -1);
}

TEST(CalibrationSearch, NearestIndexAndNormalisation) {
  const double v[] = {10.0, 20.0, 30.0};
  EXPECT_EQ(nearestIndex(v, 3, 15.0), 0);  // equal distances: the first
  EXPECT_EQ(nearestIndex(v, 3, 25.1), 2);
  EXPECT_EQ(nearestIndex(v, 3, -1e6), 0);
  EXPECT_EQ(nearestIndex(v, 3, 1e6), 2);
  EXPECT_EQ(nearestIndex(v, 0, 15.0), 0);
  const double withNaN[] = {std::numeric_limits<double>::quiet_NaN(), 5.0};
  EXPECT_EQ(nearestIndex(withNaN, 2, 0.0), 1);

  double values[] = {1.0, 2.0, 4.0};
  const double freq[] = {100.0, 1000.0, 2000.0};
  normaliseToReference(values, freq, 3, 0.0);
  EXPECT_EQ(values[2], 4.0);
  normaliseToReference(values, freq, 3, 900.0);
  EXPECT_EQ(values[0], -1.0);
  EXPECT_EQ(values[1], 0.0);
  EXPECT_EQ(values[2], 2.0);
}

TEST(FractionalOctave, PointCountsRateBeforePointsPerOctave) {
  EXPECT_EQ(fractionalOctavePointCount(48000, 3), 31);
  EXPECT_EQ(fractionalOctavePointCount(48000, 24), 241);
  EXPECT_EQ(fractionalOctavePointCount(48000.9, 6), 61);
  EXPECT_EQ(fractionalOctavePointCount(96000, 12), 133);
  EXPECT_EQ(fractionalOctavePointCount(192000, 3), 37);
  EXPECT_EQ(fractionalOctavePointCount(44100, 3), -1);
  EXPECT_EQ(fractionalOctavePointCount(std::nan(""), 3), -1);
  EXPECT_EQ(fractionalOctavePointCount(48000, 5), -2);
  EXPECT_EQ(fractionalOctavePointCount(44100, 5), -1);
}

// The response of a known filter at every fractional-octave point, and the
// bisection over the bins against the plain linear search.
TEST(FractionalOctave, MatchesClosedFormFilterResponse) {
  std::vector<double> delta(65536, 0.0);
  delta[0] = 1.0;
  ImpulseMeasurement m = measurementWith(biquadFilter(kPeak, delta));
  ASSERT_EQ(calibrationWindow(m), 0);

  const int32_t bins = 65536 / 2 + 1;
  std::vector<double> nbDb(bins), nbFreq(bins);
  ASSERT_EQ(narrowBandResponse(m, nbDb.data(), nbFreq.data(), 0.0, true), 0);
  EXPECT_DOUBLE_EQ(nbFreq[1], kFs / 65536);

  std::vector<double> db(241), deg(241), f(241);
  for (bool average : {false, true}) {
    m.averageToOctaveFraction = average;
    ASSERT_EQ(fractionalOctaveResponse(m, CalibrationQuantity::kMagnitudeDb, db.data(), f.data(), 0.0, 24),
              0);
    ASSERT_EQ(fractionalOctaveResponse(m, CalibrationQuantity::kPhaseDegrees, deg.data(), f.data(), 0.0, 24),
              0);
    for (int i = 0; i < 241; ++i) {
      EXPECT_NEAR(db[i], analyticDb(f[i]), 0.02) << f[i] << " Hz, averaged " << average;
      EXPECT_NEAR(deg[i], analyticDegrees(f[i]), 0.2) << f[i] << " Hz, averaged " << average;
      if (!average) {
        EXPECT_EQ(db[i], nbDb[nearestIndex(nbFreq.data(), bins, f[i])]);
      }
    }
  }
  EXPECT_NEAR(f[0], 19.9526, 1e-4);
  EXPECT_EQ(f[136], 1000.0);
  EXPECT_NEAR(f[240], 19952.6, 0.1);
  EXPECT_NEAR(db[136], 6.0, 0.005);  // averaged over the top of the peak
}

// --- Through the C interface -------------------------------------------

class MicCalExports : public ::testing::Test {
 protected:
  void SetUp() override {
    initTavrix();
    handle = initImpulse();
    ASSERT_GE(handle, 0);
  }
  void TearDown() override { deleteImpulse(handle); }

  // A 2 s sweep from 20 Hz to 20 kHz and its zero-padded copy, long enough
  // for the filter's response to die away.
  std::vector<double> paddedSweep(int32_t h) {
    EXPECT_EQ(generateESS(h, kFs, 20.0, 20000.0, 2.0, 1.0), 96000);
    std::vector<double> s(96000 + 4800, 0.0);
    EXPECT_EQ(getESS(h, s.data()), 0);
    return s;
  }

  int32_t handle = -1;
};

TEST_F(MicCalExports, RecoversFilterFromOneAndTwoChannelMeasurements) {
  const std::vector<double> sweep = paddedSweep(handle);
  const std::vector<double> filtered = biquadFilter(kPeak, sweep);
  const int32_t n = static_cast<int32_t>(filtered.size());
  ASSERT_EQ(setAverageFFTtoOctaveFraction(handle, false), 0);
  ASSERT_EQ(processInputSignalForMicCal(handle, filtered.data(), n), 131072);

  const int32_t twoCh = initImpulse();
  ASSERT_GE(twoCh, 0);
  paddedSweep(twoCh);  // only for its sample rate: the reference replaces it
  ASSERT_EQ(setAverageFFTtoOctaveFraction(twoCh, false), 0);
  ASSERT_EQ(processInputSignalForMicCalTwoCh(twoCh, sweep.data(), filtered.data(), n), 131072);

  for (int32_t h : {handle, twoCh}) {
    double db[31], deg[31], f[31];
    ASSERT_EQ(getFractionalOctaveMagnitudeResponseForMicCal(h, db, f, 0.0, 3), 0);
    ASSERT_EQ(getFractionalOctavePhaseResponseForMicCal(h, deg, f, 0.0, 3), 0);
    for (int i = 0; i < 31; ++i) {
      EXPECT_NEAR(db[i], analyticDb(f[i]), 0.02) << f[i] << " Hz, handle " << h;
      EXPECT_NEAR(deg[i], analyticDegrees(f[i]), 0.2) << f[i] << " Hz, handle " << h;
    }
    // Normalised to 1 kHz: exactly 0 there, the rest relative to the +6 dB peak.
    ASSERT_EQ(getFractionalOctaveMagnitudeResponseForMicCal(h, db, f, 1000.0, 3), 0);
    EXPECT_EQ(db[17], 0.0);
    EXPECT_NEAR(db[0], -6.0, 0.02);

    std::vector<double> nbDb(65537), nbFreq(65537);
    ASSERT_EQ(getMagnitudeResponseForMicCal(h, nbDb.data(), nbFreq.data(), 1000.0), 0);
    const int32_t at1k = nearestIndex(nbFreq.data(), 65537, 1000.0);
    EXPECT_EQ(nbDb[at1k], 0.0);
    EXPECT_NEAR(nbDb[at1k / 2], analyticDb(nbFreq[at1k / 2]) - analyticDb(nbFreq[at1k]), 0.02);
  }
  deleteImpulse(twoCh);

  // Averaged points: the mean over a quarter of the point spacing either side
  // (1/12 octave at 3 points per octave), here against the mean of the closed
  // form over that band. Near the peak this differs from the point value by
  // about 0.1 dB.
  ASSERT_EQ(setAverageFFTtoOctaveFraction(handle, true), 0);
  double db[31], deg[31], f[31];
  ASSERT_EQ(getFractionalOctaveMagnitudeResponseForMicCal(handle, db, f, 0.0, 3), 0);
  ASSERT_EQ(getFractionalOctavePhaseResponseForMicCal(handle, deg, f, 0.0, 3), 0);
  for (int i = 0; i < 31; ++i) {
    const double lo = f[i] * std::pow(10.0, -0.3 / 12), hi = f[i] * std::pow(10.0, 0.3 / 12);
    double magnitude = 0.0, phase = 0.0;
    const int steps = 2000;
    for (int j = 0; j <= steps; ++j) {
      const std::complex<double> h = biquadResponse(kPeak, lo + (hi - lo) * j / steps, kFs);
      magnitude += std::abs(h) / (steps + 1);
      phase += std::arg(h) * 180.0 / std::numbers::pi / (steps + 1);
    }
    EXPECT_NEAR(db[i], 20.0 * std::log10(magnitude), 0.01) << f[i] << " Hz";
    EXPECT_NEAR(deg[i], phase, 0.1) << f[i] << " Hz";
  }
  EXPECT_LT(db[17], 5.95);
}

TEST_F(MicCalExports, WindowWidthSetterGatesTheNextProcessing) {
  const std::vector<double> sweep = paddedSweep(handle);
  const int32_t n = static_cast<int32_t>(sweep.size());
  // A direct sound and two echoes of half its amplitude at 1 ms and 2 ms: the
  // 1 ms gate halves the first echo and all but removes the second.
  std::vector<double> rec(sweep.size(), 0.0);
  for (size_t i = 0; i < sweep.size(); ++i)
    for (size_t d = 0; d <= 96; d += 48) rec[i] += (i >= d ? sweep[i - d] : 0.0) * (d == 0 ? 1.0 : 0.5);

  ASSERT_EQ(setButterworthWindowWidth(handle, 0.0), -1);
  ASSERT_EQ(setButterworthWindowWidth(handle, std::nan("")), -1);
  ASSERT_EQ(setButterworthWindowWidth(handle, INFINITY), -1);
  ASSERT_EQ(setButterworthWindowWidth(handle, -0.1), -1);
  EXPECT_EQ(impulseTable().find(handle)->windowWidth, 0.1);
  ASSERT_EQ(setButterworthWindowWidth(handle, 0.001), 0);  // 48 samples at 48 kHz
  ASSERT_EQ(processInputSignalForMicCal(handle, rec.data(), n), 131072);
  std::vector<double> ir(131072);
  ASSERT_EQ(getImpulseResponse(handle, ir.data()), 0);
  EXPECT_NEAR(ir[0], 1.0, 1e-9);
  EXPECT_NEAR(ir[48], 0.5 * 0.5, 1e-9);
  EXPECT_NEAR(ir[96], 0.5 / 4097.0, 1e-9);
}

TEST_F(MicCalExports, RejectsBadCallsAndLeavesOutputsAlone) {
  double out[242], f[242];
  std::fill(out, out + 242, 7.0);
  // No response yet.
  EXPECT_EQ(getMagnitudeResponseForMicCal(handle, out, f, 0.0), -1);
  EXPECT_EQ(getFractionalOctaveMagnitudeResponseForMicCal(handle, out, f, 0.0, 3), -1);
  EXPECT_EQ(getFractionalOctavePhaseResponseForMicCal(handle, out, f, 0.0, 3), -1);
  // No sample rate: a fresh object cannot lay out its window.
  const double x[4] = {1, 0, 0, 0};
  EXPECT_EQ(processInputSignalForMicCalTwoCh(handle, x, x, 4), -1);
  EXPECT_EQ(processInputSignalForMicCal(handle, x, 4), -1);
  // Empty slots, out-of-range handles, null arrays, n < 1.
  for (int32_t h : {handle + 1, -1, 255, 100000}) {
    EXPECT_EQ(setButterworthWindowWidth(h, 0.1), -1);
    EXPECT_EQ(setAverageFFTtoOctaveFraction(h, true), -1);
    EXPECT_EQ(processInputSignalForMicCal(h, x, 4), -1);
    EXPECT_EQ(processInputSignalForMicCalTwoCh(h, x, x, 4), -1);
    EXPECT_EQ(getMagnitudeResponseForMicCal(h, out, f, 0.0), -1);
    EXPECT_EQ(getFractionalOctavePhaseResponseForMicCal(h, out, f, 0.0, 3), -1);
  }
  paddedSweep(handle);
  EXPECT_EQ(processInputSignalForMicCalTwoCh(handle, nullptr, x, 4), -1);
  EXPECT_EQ(processInputSignalForMicCalTwoCh(handle, x, nullptr, 4), -1);
  EXPECT_EQ(processInputSignalForMicCalTwoCh(handle, x, x, 0), -1);
  EXPECT_EQ(processInputSignalForMicCal(handle, nullptr, 4), -1);
  EXPECT_EQ(processInputSignalForMicCal(handle, x, -5), -1);
  // A recording shorter than the sweep fails the deconvolution.
  EXPECT_EQ(processInputSignalForMicCal(handle, x, 4), -1);
  EXPECT_EQ(processInputSignalForMicCalTwoCh(handle, x, x, 4), 4);

  EXPECT_EQ(getMagnitudeResponseForMicCal(handle, nullptr, f, 0.0), -1);
  EXPECT_EQ(getMagnitudeResponseForMicCal(handle, out, nullptr, 0.0), -1);
  EXPECT_EQ(getMagnitudeResponseForMicCal(handle, out, f, std::nan("")), -1);
  EXPECT_EQ(getFractionalOctaveMagnitudeResponseForMicCal(handle, out, f, 0.0, 5), -2);
  EXPECT_EQ(getFractionalOctavePhaseResponseForMicCal(handle, out, f, 0.0, 0), -2);
  EXPECT_EQ(out[0], 7.0);
  impulseTable().find(handle)->sampleRate = 44100.0;
  EXPECT_EQ(getFractionalOctaveMagnitudeResponseForMicCal(handle, out, f, 0.0, 5), -1);
  EXPECT_EQ(out[241], 7.0);
  // Narrow band: nfft / 2 + 1 = 3 values, nothing beyond.
  EXPECT_EQ(getMagnitudeResponseForMicCal(handle, out, f, 0.0), 0);
  EXPECT_EQ(out[3], 7.0);
}

}  // namespace
}  // namespace tavrix

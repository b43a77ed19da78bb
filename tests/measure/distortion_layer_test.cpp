// Harmonic distortion through the C interface. The deconvolution of an
// exponential sweep puts harmonic k's response T ln k / ln(f2 / f1) before
// the linear one: responses built of single impulses at and around those
// places give exact levels through the windows that cut them out. (A sweep
// distorted by a known polynomial is measured end to end through the tool.)
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "layer_support.h"

namespace tavrix::test {
namespace {

DistortionReport distortion(const std::vector<double>& x, double rate, double from, double to, double seconds,
                            int first, int last) {
  tvm_distortion_report* out = nullptr;
  EXPECT_EQ(tvm_analyse_distortion(x.data(), static_cast<int64_t>(x.size()), rate, from, to, seconds, first,
                                   last, &out),
            TVM_OK)
      << tvm_last_error();
  return DistortionReport(out);
}

// Samples by which harmonic k precedes the linear response.
double advance(double seconds, double from, double to, int k, double rate) {
  return seconds * std::log(k) / std::log(to / from) * rate;
}

// Zeros with impulses of the given amplitudes at the given offsets from the
// linear response at `peak`, wrapped around the end as the deconvolution
// wraps the harmonics.
std::vector<double> impulses(size_t n, long peak, const std::vector<std::pair<long, double>>& at) {
  std::vector<double> x(n, 0.0);
  x[static_cast<size_t>(peak)] = 1;
  for (const auto& [offset, amplitude] : at)
    x[static_cast<size_t>((peak + offset + long(n)) % long(n))] = amplitude;
  return x;
}

double db(double amplitude) { return 20 * std::log10(amplitude); }

// The window of every response opens over 5 ms before its place (the
// deconvolution's ringing before a response) and closes over its last tenth,
// with raised-cosine halves: a harmonic arriving half the opening early, or
// ringing on to the middle of the closing, counts half (-6 dB). Here the
// window, the gap between harmonics 3 and 4, is 125 ms.
TEST(LayerDistortion, EachHarmonicIsCutWithItsWindow) {
  constexpr double fs = 48000, seconds = 3, from = 20, to = 20000;
  const auto at = [&](int k) { return -std::lround(advance(seconds, from, to, k, fs)); };
  const long lead = 240,
             length =
                 static_cast<long>(advance(seconds, from, to, 4, fs) - advance(seconds, from, to, 3, fs)),
             fade = length / 10;
  const std::vector<double> x = impulses(
      65536, 1000, {{at(2), 0.1}, {at(3) - lead / 2, 0.1}, {at(4) + length - lead - fade / 2 - 1, 0.1}});
  const DistortionReport report = distortion(x, fs, from, to, seconds, 2, 4);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->window_s, static_cast<double>(length) / fs);
  ASSERT_GT(report->band_count, 20);
  // Every band's spectra are flat: the levels of the impulses as windowed.
  const double expected[] = {-20, db(0.05), db(0.05)}, tolerance[] = {0.01, 0.1, 0.05};
  for (int b = 0; b < report->band_count; ++b) {
    const tvm_distortion_band& band = report->bands[b];
    SCOPED_TRACE(band.label);
    for (int k = 2; k <= 4; ++k) {
      if (k * band.frequency_hz * std::pow(10.0, 0.05) > to) {
        EXPECT_TRUE(std::isnan(band.harmonics_db[k - 2])) << k;  // above the sweep
      } else {
        EXPECT_NEAR(band.harmonics_db[k - 2], expected[k - 2], tolerance[k - 2]) << k;
      }
    }
    if (band.frequency_hz < 4500) {
      EXPECT_NEAR(band.thd_percent, 100 * std::sqrt(0.01 + 0.0025 + 0.0025), 0.05);
    }
  }
}

// A window shorter than 20 ms cannot hold a harmonic; one of 20.1 ms can, and
// opens over a tenth of its length. A band needs three bins of the window's
// spectrum, whose transform is the next power of two: 2048 bins (23.4 Hz)
// reach down to 250 Hz, a window of exactly 1024 samples to 630 Hz.
TEST(LayerDistortion, ShortWindowsAtTheirLimits) {
  constexpr double fs = 48000, from = 20, to = 20000;
  const double ratio = std::log(to / from) / std::log(2.0);  // sweep seconds per second of gap
  std::vector<double> x = impulses(48000, 100, {});
  static tvm_distortion_report untouched;
  tvm_distortion_report* refused = &untouched;
  EXPECT_EQ(tvm_analyse_distortion(x.data(), 48000, fs, from, to, 0.0199 * ratio, 2, 2, &refused),
            TVM_BAD_ARGUMENT);
  EXPECT_EQ(refused, nullptr);
  EXPECT_TRUE(contains(tvm_last_error(), "harmonic 2 does not fit")) << tvm_last_error();
  EXPECT_TRUE(distortion(x, fs, from, to, 0.0201 * ratio, 2, 2));
  const DistortionReport exact = distortion(x, fs, from, to, 1024.5 / fs * ratio, 2, 2);
  ASSERT_TRUE(exact);
  EXPECT_EQ(exact->bands[0].band, 28);

  const double seconds = 0.0301 * ratio;  // a window of 1444 samples, opening over 144
  x = impulses(48000, 100, {{-std::lround(advance(seconds, from, to, 2, fs)) - 72, 0.1}});
  const DistortionReport report = distortion(x, fs, from, to, seconds, 2, 2);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->bands[0].band, 24);  // 250 Hz: 200 Hz holds two bins
  EXPECT_EQ(std::string(report->bands[0].label), "250 Hz");
  EXPECT_NEAR(report->bands[0].harmonics_db[0], db(0.05), 0.1);
}

// The bands are the third octaves of the bank (16 Hz to 20 kHz) that lie
// inside the sweep, edges included; harmonics above the sweep are NaN.
TEST(LayerDistortion, BandsLieInsideTheSweepAndTheBank) {
  // 5 to 100 Hz at 1 kHz: bins of 0.98 Hz would resolve 12.5 Hz too.
  DistortionReport low = distortion(impulses(4000, 100, {}), 1000, 5, 100, 3, 2, 2);
  ASSERT_TRUE(low);
  EXPECT_EQ(low->bands[0].band, 12);
  EXPECT_EQ(std::string(low->bands[0].label), "16 Hz");
  // 1 to 40 kHz at 96 kHz: 25 kHz would fit, and harmonic 2 of 20 kHz does not.
  DistortionReport high = distortion(impulses(65536, 100, {}), 96000, 1000, 40000, 1, 2, 2);
  ASSERT_TRUE(high);
  const tvm_distortion_band& top = high->bands[high->band_count - 1];
  EXPECT_EQ(top.band, 43);
  EXPECT_TRUE(std::isnan(top.harmonics_db[0]));
  EXPECT_FALSE(std::isnan(high->bands[high->band_count - 2].harmonics_db[0]));
  // A sweep from exactly the lower to exactly the upper edge of 1 kHz.
  const double edge = std::pow(10.0, 0.05);
  DistortionReport one = distortion(impulses(48000, 100, {}), 48000, 1000 / edge, 1000 * edge, 0.1, 2, 2);
  ASSERT_TRUE(one);
  ASSERT_EQ(one->band_count, 1);
  EXPECT_EQ(one->bands[0].band, 30);
  EXPECT_EQ(one->bands[0].frequency_hz, 1000);
}

}  // namespace
}  // namespace tavrix::test

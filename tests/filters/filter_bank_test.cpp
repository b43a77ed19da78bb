#include "filters/filter_bank.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "filters/test_signals.h"

namespace tavrix {
namespace {

using test::noise;

std::vector<double> sine(double frequency, int n) {
  std::vector<double> x(static_cast<size_t>(n));
  for (int t = 0; t < n; ++t) x[t] = std::sin(2.0 * std::numbers::pi * frequency * t / 48000.0);
  return x;
}

// Amplitude of the sinusoid at a known frequency in y[from..], by a least-squares
// fit of a sine and a cosine (exact for any number of periods).
double fittedAmplitude(const std::vector<double>& y, double frequency, size_t from) {
  double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
  for (size_t t = from; t < y.size(); ++t) {
    const double phase = 2.0 * std::numbers::pi * frequency * static_cast<double>(t) / 48000.0;
    const double s = std::sin(phase), c = std::cos(phase);
    ss += s * s;
    cc += c * c;
    sc += s * c;
    ys += y[t] * s;
    yc += y[t] * c;
  }
  const double det = ss * cc - sc * sc;
  const double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
  return std::hypot(a, b);
}

double gainDb(FilterBank& bank, int32_t band, double frequency) {
  std::vector<double> x = sine(frequency, 96000);
  EXPECT_EQ(bankFilter(bank, x.data(), static_cast<int32_t>(x.size()), band), 0);
  return 20.0 * std::log10(fittedAmplitude(x, frequency, 48000));
}

TEST(FilterBank, BuildAcceptsOnlyRangesOfOneResolution) {
  auto third = bankCreate(2, 12, 43);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->bandCount, 32);
  EXPECT_TRUE(bankCreate(3, 100, 100));
  EXPECT_FALSE(bankCreate(2, 11, 43));
  EXPECT_FALSE(bankCreate(2, 12, 44));
  EXPECT_FALSE(bankCreate(5, 12, 12));
  EXPECT_FALSE(bankCreate(0, 0, 0));
  EXPECT_FALSE(bankCreate(1, 9, 8));

  // A built bank cannot be built again; it keeps its bands.
  EXPECT_EQ(bankBuild(*third, 1, 4, 14), -1);
  EXPECT_EQ(third->firstBand, 12);
  EXPECT_EQ(third->bandCount, 32);
}

TEST(FilterBank, BandIdsSelectBandsWeightingsOrNothing) {
  auto bank = bankCreate(2, 20, 40);
  ASSERT_TRUE(bank);
  const std::vector<double> input = noise(64, 1);
  for (int32_t band : {19, 41, 12, 99999, 100003, -1, 0}) {
    std::vector<double> x = input;
    EXPECT_EQ(bankFilter(*bank, x.data(), 64, band), -1) << band;
    EXPECT_EQ(bankFilterReverse(*bank, x.data(), 64, band), -1) << band;
    EXPECT_EQ(bankFilterReverseAligned(*bank, x.data(), 64, band), -1) << band;
    EXPECT_EQ(bankStepDelay(*bank, band), -1) << band;
    EXPECT_EQ(x, input);
  }
  std::vector<double> x = input;
  EXPECT_EQ(bankFilter(*bank, x.data(), 64, kBandUnfiltered), 0);
  EXPECT_EQ(bankFilterReverse(*bank, x.data(), 64, kBandUnfiltered), 0);
  EXPECT_EQ(bankFilterReverseAligned(*bank, x.data(), 64, kBandUnfiltered), 0);
  EXPECT_EQ(x, input);
  EXPECT_EQ(bankStepDelay(*bank, kBandAWeighting), -1);
  EXPECT_EQ(bankStepDelay(*bank, 30), 192);

  // An unbuilt bank holds no filters at all.
  FilterBank empty;
  EXPECT_EQ(bankFilter(empty, x.data(), 64, kBandAWeighting), -1);
  EXPECT_EQ(bankFilter(empty, x.data(), 64, 0), -1);
  EXPECT_EQ(bankResetBands(empty), -1);
  EXPECT_EQ(x, input);
}

TEST(FilterBank, SinesThroughOctaveBandAndWeightings) {
  auto bank = bankCreate(1, 4, 14);
  ASSERT_TRUE(bank);
  EXPECT_NEAR(gainDb(*bank, 10, 1000.0), 0.0, 0.01);
  EXPECT_NEAR(gainDb(*bank, 10, 1000.0 / std::pow(10.0, 0.15)), -3.01, 0.01);
  EXPECT_NEAR(gainDb(*bank, 10, 1000.0 * std::pow(10.0, 0.15)), -3.01, 0.01);
  EXPECT_LT(gainDb(*bank, 10, 250.0), -40.0);
  EXPECT_NEAR(gainDb(*bank, kBandAWeighting, 1000.0), 0.0, 0.005);
  EXPECT_NEAR(gainDb(*bank, kBandAWeighting, 100.0), -19.14, 0.01);
  EXPECT_NEAR(gainDb(*bank, kBandCWeighting, 1000.0), 0.0, 0.005);
}

// Filtering carries state over; a reset puts the band filters back at rest
// (like a new bank's) and leaves the A-weighting where it was.
TEST(FilterBank, ResetPutsOnlyBandsAtRest) {
  const std::vector<double> input = noise(3000, 2);
  auto used = bankCreate(1, 4, 14);
  auto twin = bankCreate(1, 4, 14);
  auto fresh = bankCreate(1, 4, 14);
  for (FilterBank* bank : {used.get(), twin.get()}) {
    for (int32_t band : {10, kBandAWeighting}) {
      std::vector<double> x = input;
      bankFilter(*bank, x.data(), 3000, band);
    }
  }
  EXPECT_EQ(bankResetBands(*used), 0);
  std::vector<double> x = input, y = input;
  bankFilter(*used, x.data(), 3000, 10);
  bankFilter(*fresh, y.data(), 3000, 10);
  EXPECT_EQ(x, y);
  x = y = input;
  bankFilter(*used, x.data(), 3000, kBandAWeighting);
  bankFilter(*twin, y.data(), 3000, kBandAWeighting);
  EXPECT_EQ(x, y);
}

TEST(FilterBank, AlignedReverseShiftsByTheStepDelay) {
  auto bank = bankCreate(1, 4, 14);
  ASSERT_EQ(bankStepDelay(*bank, 10), 63);
  std::vector<double> shortSignal = noise(63, 3);
  const std::vector<double> before = shortSignal;
  EXPECT_EQ(bankFilterReverseAligned(*bank, shortSignal.data(), 63, 10), -1);
  EXPECT_EQ(shortSignal, before);

  const std::vector<double> input = noise(2000, 4);
  auto reference = bankCreate(1, 4, 14);
  for (auto [band, delay] : {std::pair{10, 63}, std::pair{14, 3}, std::pair{kBandAWeighting, 1}}) {
    // Leave state in the bank's filter: aligned filtering starts from rest.
    std::vector<double> junk = noise(100, 5);
    bankFilter(*bank, junk.data(), 100, band);
    std::vector<double> x = input;
    EXPECT_EQ(bankFilterReverseAligned(*bank, x.data(), 2000, band), 0);
    // The same from a second path: shift the signal later by the delay and
    // filter it time-reversed through a filter at rest.
    std::vector<double> u(2000, 0.0);
    for (int t = delay; t < 2000; ++t) u[t] = input[t - delay];
    sosReset(*bankCascade(*reference, band));
    bankFilterReverse(*reference, u.data(), 2000, band);
    EXPECT_EQ(x, u) << band;
  }
  std::vector<double> x = noise(64, 6);
  EXPECT_EQ(bankFilterReverseAligned(*bank, x.data(), 64, 10), 0);
}

}  // namespace
}  // namespace tavrix

#include "sti/sti_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "filters/filter_bank.h"
#include "sti/speech_transmission_index.h"
#include "tavrix.h"

namespace tavrix {
namespace {

constexpr double kPi = std::numbers::pi;

std::vector<double> modulationFrequencies() {
  std::vector<double> f(kStiModulationCount);
  for (int j = 0; j < kStiModulationCount; ++j) f[j] = std::pow(10.0, (j - 2) / 10.0);
  return f;
}

// One tone at each octave centre, all decaying by 60 dB in T seconds: the
// squared band envelope is exp(-13.8 t / T), whose modulation transfer is
// the Lorentzian 1 / sqrt(1 + (2 pi F T / 13.8)^2).
std::vector<double> decayingTones(double reverberationTime, double seconds, double fs) {
  std::vector<double> h(static_cast<size_t>(seconds * fs));
  for (size_t i = 0; i < h.size(); ++i) {
    const double t = static_cast<double>(i) / fs;
    double sum = 0.0;
    for (int b = 0; b < kStiBandCount; ++b) sum += std::sin(2.0 * kPi * 125.0 * std::pow(2.0, b) * t + b);
    h[i] = 0.1 * sum * std::exp(-6.9 * t / reverberationTime);
  }
  return h;
}

std::vector<double> whiteNoise(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> d(0.0, 0.1);
  std::vector<double> x(n);
  for (double& v : x) v = d(gen);
  return x;
}

std::vector<double> mtfRow(int32_t handle, int32_t band) {
  std::vector<double> row(kStiModulationCount, -7.0);
  EXPECT_EQ(getModulationTransferFunction(handle, row.data(), band), 0);
  return row;
}

TEST(ModulationTransfer, BlockedSumsMatchDirectCosineAndSineSums) {
  const std::vector<double> f = modulationFrequencies();
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> d(0.0, 1.0);
  for (double fs : {48000.0, 44100.0}) {
    for (int32_t count : {1, 100, 256, 257, 144001}) {
      std::vector<double> e(count);
      for (double& v : e) v = d(gen);
      std::vector<double> fast(kStiModulationCount);
      ASSERT_EQ(stiModulationTransfer(e.data(), count, fs, f.data(), kStiModulationCount, fast.data()), 0);
      double energy = 0.0;
      for (double v : e) energy += v;
      for (int j = 0; j < kStiModulationCount; ++j) {
        long double re = 0.0L, im = 0.0L;
        for (int32_t i = 0; i < count; ++i) {
          const double theta = -2.0 * kPi * f[j] * (i / fs);
          re += e[i] * std::cos(theta);
          im += e[i] * std::sin(theta);
        }
        const double direct = std::hypot(static_cast<double>(re), static_cast<double>(im)) / energy;
        EXPECT_NEAR(fast[j], direct, 1e-12 * direct + 1e-15) << fs << " " << count << " " << j;
      }
    }
  }
  // Fewer or more frequencies than one group of fourteen.
  std::vector<double> e(5000, 1.0), few(3), many(20), manyF(20);
  for (int j = 0; j < 20; ++j) manyF[j] = 0.5 * j;
  ASSERT_EQ(stiModulationTransfer(e.data(), 5000, 1000.0, f.data(), 3, few.data()), 0);
  ASSERT_EQ(stiModulationTransfer(e.data(), 5000, 1000.0, manyF.data(), 20, many.data()), 0);
  for (int j = 0; j < 20; ++j) {
    // A rectangular window of 5 s: |sin(pi F 5) / (5000 sin(pi F / 1000))|.
    const double expected =
        j == 0 ? 1.0
               : std::fabs(std::sin(kPi * manyF[j] * 5.0) / (5000.0 * std::sin(kPi * manyF[j] / 1000.0)));
    EXPECT_NEAR(many[j], expected, 1e-12) << j;
  }
  EXPECT_NEAR(few[2], std::fabs(std::sin(kPi * 5.0) / (5000.0 * std::sin(kPi / 1000.0))), 1e-12);
}

TEST(ModulationTransfer, UndefinedWithoutFiniteEnergy) {
  const std::vector<double> f = modulationFrequencies();
  std::vector<double> m(kStiModulationCount);
  std::vector<double> e(1000, 0.0);
  EXPECT_EQ(stiModulationTransfer(e.data(), 1000, 48000.0, f.data(), kStiModulationCount, m.data()), -1);
  e[10] = NAN;
  EXPECT_EQ(stiModulationTransfer(e.data(), 1000, 48000.0, f.data(), kStiModulationCount, m.data()), -1);
  e[10] = INFINITY;
  EXPECT_EQ(stiModulationTransfer(e.data(), 1000, 48000.0, f.data(), kStiModulationCount, m.data()), -1);
}

class ExponentialDecay : public ::testing::TestWithParam<double> {};

TEST_P(ExponentialDecay, FollowsTheLorentzianOfTheDecay) {
  const double T = GetParam();
  const std::vector<double> h = decayingTones(T, std::max(2.0, 3.0 * T), 48000.0);
  const int32_t handle = initSpeechTransmissionIndex(h.data(), static_cast<int32_t>(h.size()), 48000.0);
  ASSERT_GE(handle, 0);
  const std::vector<double> f = modulationFrequencies();
  std::vector<double> expectedMtf;
  for (int32_t band = kStiFirstBand; band <= kStiLastBand; ++band) {
    const std::vector<double> m = mtfRow(handle, band);
    // The squared tone's component at twice its frequency and the band
    // filter's ringing (about one over the bandwidth) both shrink as 1/f.
    const double tolerance = 4.0 / (125.0 * std::pow(2.0, band - kStiFirstBand));
    for (int j = 0; j < kStiModulationCount; ++j) {
      const double x = 2.0 * kPi * f[j] * T / 13.8;
      EXPECT_NEAR(m[j], 1.0 / std::sqrt(1.0 + x * x), tolerance) << "band " << band << " F " << f[j];
      expectedMtf.push_back(1.0 / std::sqrt(1.0 + x * x));
    }
  }
  for (bool male : {true, false}) {
    EXPECT_NEAR(getSpeechTansmissionIndex(handle, male, false),
                stiFromMtf(expectedMtf.data(), male, nullptr, nullptr), 0.005);
  }
  EXPECT_EQ(deleteSpeechTransmissionIndex(handle), 0);
}

INSTANTIATE_TEST_SUITE_P(ReverberationTimes, ExponentialDecay, ::testing::Values(0.3, 1.0, 2.5));

TEST(StiAnalysis, PaddingPlacesTheResponseAtTheEndOfTheFrame) {
  const std::vector<double> h = whiteNoise(10000, 1);
  for (auto [fs, padded] : {std::pair{48000.0, 76800}, std::pair{44100.0, 70560}}) {
    const int32_t handle = initSpeechTransmissionIndex(h.data(), 10000, fs);
    ASSERT_GE(handle, 0);
    ASSERT_EQ(getImpulseSize(handle), padded);
    std::vector<double> squared(padded, -1.0);
    ASSERT_EQ(getFilteredImpulse(handle, squared.data(), kBandUnfiltered), 0);
    for (int i = 0; i < padded - 10000; ++i) ASSERT_EQ(squared[i], 0.0) << i;
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(squared[padded - 10000 + i], h[i] * h[i]) << i;
    EXPECT_EQ(deleteSpeechTransmissionIndex(handle), 0);
  }
  const std::vector<double> twoSeconds = whiteNoise(96000, 2);
  const int32_t handle = initSpeechTransmissionIndex(twoSeconds.data(), 96000, 48000.0);
  EXPECT_EQ(getImpulseSize(handle), 96000);
  EXPECT_EQ(deleteSpeechTransmissionIndex(handle), 0);
}

TEST(StiAnalysis, LeadingZerosChangeOnlyThePhase) {
  const std::vector<double> h = decayingTones(0.8, 2.0, 48000.0);
  std::vector<double> delayed(12345, 0.0);
  delayed.insert(delayed.end(), h.begin(), h.end());
  // A short response, padded, against the same one behind extra zeros.
  const std::vector<double> shortResponse(h.begin(), h.begin() + 20000);
  std::vector<double> shortDelayed(30000, 0.0);
  shortDelayed.insert(shortDelayed.end(), shortResponse.begin(), shortResponse.end());
  const std::pair<const std::vector<double>*, const std::vector<double>*> pairs[] = {
      {&h, &delayed}, {&shortResponse, &shortDelayed}};
  for (auto [plain, shifted] : pairs) {
    const int32_t a =
        initSpeechTransmissionIndex(plain->data(), static_cast<int32_t>(plain->size()), 48000.0);
    const int32_t b =
        initSpeechTransmissionIndex(shifted->data(), static_cast<int32_t>(shifted->size()), 48000.0);
    for (int32_t band = kStiFirstBand; band <= kStiLastBand; ++band) {
      const std::vector<double> ma = mtfRow(a, band), mb = mtfRow(b, band);
      for (int j = 0; j < kStiModulationCount; ++j) EXPECT_NEAR(ma[j], mb[j], 1e-12) << band << " " << j;
    }
    EXPECT_EQ(deleteSpeechTransmissionIndex(a), 0);
    EXPECT_EQ(deleteSpeechTransmissionIndex(b), 0);
  }
}

// Each band pass continues from the filter state the previous one left: the
// analysis made the first pass, so the host's first read is the second.
TEST(StiAnalysis, BandFilterStateCarriesOverBetweenPasses) {
  const std::vector<double> h = whiteNoise(96000, 4);  // ends at full level
  const int32_t handle = initSpeechTransmissionIndex(h.data(), 96000, 48000.0);
  std::unique_ptr<FilterBank> bank = bankCreate(1, 7, 13);
  ASSERT_TRUE(bank);
  std::vector<double> pass(h), out(h.size());
  for (int p = 0; p < 3; ++p) {
    pass = h;
    ASSERT_EQ(bankFilter(*bank, pass.data(), 96000, 10), 0);
    if (p == 0) continue;
    ASSERT_EQ(getFilteredImpulse(handle, out.data(), 10), 0);
    for (int i = 0; i < 96000; i += 997) ASSERT_EQ(out[i], pass[i] * pass[i]) << p << " " << i;
  }
  EXPECT_EQ(deleteSpeechTransmissionIndex(handle), 0);
}

TEST(StiAnalysis, LevelsAndIndexThroughTheInterface) {
  const std::vector<double> h = decayingTones(1.2, 2.0, 48000.0);
  const int32_t handle = initSpeechTransmissionIndex(h.data(), 96000, 48000.0);
  std::vector<double> matrix;
  for (int32_t band = kStiFirstBand; band <= kStiLastBand; ++band) {
    const std::vector<double> row = mtfRow(handle, band);
    matrix.insert(matrix.end(), row.begin(), row.end());
  }
  EXPECT_DOUBLE_EQ(getSpeechTansmissionIndex(handle, true, false),
                   stiFromMtf(matrix.data(), true, nullptr, nullptr));
  EXPECT_EQ(getSpeechTansmissionIndex(handle, true, true), -2.0);
  double levels[7] = {70, 70, 70, 70, 70, 70, 70};
  ASSERT_EQ(setSignalLevel(handle, levels), 0);
  EXPECT_EQ(getSpeechTansmissionIndex(handle, false, true), -2.0);
  ASSERT_EQ(setNoiseLevel(handle, levels), 0);
  // The values are copied: changing the caller's array afterwards has no effect.
  levels[3] = -100.0;
  std::vector<double> halved = matrix;
  for (double& m : halved) m *= 0.5;
  EXPECT_NEAR(getSpeechTansmissionIndex(handle, true, true),
              stiFromMtf(halved.data(), true, nullptr, nullptr), 1e-12);
  // A rejected level set leaves the previous one in force.
  const double bad[7] = {70, 70, NAN, 70, 70, 70, 70};
  EXPECT_EQ(setNoiseLevel(handle, bad), -1);
  EXPECT_EQ(setSignalLevel(handle, nullptr), -1);
  EXPECT_NEAR(getSpeechTansmissionIndex(handle, true, true),
              stiFromMtf(halved.data(), true, nullptr, nullptr), 1e-12);
  EXPECT_EQ(deleteSpeechTransmissionIndex(handle), 0);
}

TEST(StiAnalysis, BadArgumentsNeverReachOutsideABuffer) {
  const std::vector<double> h = whiteNoise(1000, 5);
  const double levels[7] = {};
  std::vector<double> out(76800);
  // Each of these keeps a slot but has no analysis.
  const int32_t failed[] = {initSpeechTransmissionIndex(nullptr, 1000, 48000.0),
                            initSpeechTransmissionIndex(h.data(), 0, 48000.0),
                            initSpeechTransmissionIndex(h.data(), -5, 48000.0),
                            initSpeechTransmissionIndex(h.data(), 1000, 0.0),
                            initSpeechTransmissionIndex(h.data(), 1000, -48000.0),
                            initSpeechTransmissionIndex(h.data(), 1000, NAN),
                            initSpeechTransmissionIndex(h.data(), 1000, INFINITY),
                            initSpeechTransmissionIndex(h.data(), 1000, 1e9)};
  for (int32_t handle : failed) {
    ASSERT_GE(handle, 0);
    EXPECT_EQ(getImpulseSize(handle), -1);
    EXPECT_EQ(getFilteredImpulse(handle, out.data(), 10), -1);
    EXPECT_EQ(getModulationTransferFunction(handle, out.data(), 10), -1);
    EXPECT_EQ(setSignalLevel(handle, levels), -1);
    EXPECT_EQ(setNoiseLevel(handle, levels), -1);
    EXPECT_EQ(getSpeechTansmissionIndex(handle, true, false), -1.0);
    EXPECT_EQ(getSpeechTansmissionIndex(handle, false, true), -1.0);
    EXPECT_EQ(deleteSpeechTransmissionIndex(handle), 0);
  }

  // A silent response is stored, but its bands have no modulation transfer.
  const std::vector<double> silence(1000, 0.0);
  const int32_t silent = initSpeechTransmissionIndex(silence.data(), 1000, 48000.0);
  EXPECT_EQ(getImpulseSize(silent), 76800);
  EXPECT_EQ(getFilteredImpulse(silent, out.data(), 9), 0);
  EXPECT_EQ(getModulationTransferFunction(silent, out.data(), 9), -1);
  EXPECT_EQ(getSpeechTansmissionIndex(silent, true, false), -1.0);
  EXPECT_EQ(deleteSpeechTransmissionIndex(silent), 0);

  const int32_t handle = initSpeechTransmissionIndex(h.data(), 1000, 48000.0);
  ASSERT_EQ(getImpulseSize(handle), 76800);
  for (int32_t band : {6, 14, -1, 99999, 100003}) {
    EXPECT_EQ(getFilteredImpulse(handle, out.data(), band), -1) << band;
    EXPECT_EQ(getModulationTransferFunction(handle, out.data(), band), -1) << band;
  }
  for (int32_t band : {kBandAWeighting, kBandCWeighting})
    EXPECT_EQ(getFilteredImpulse(handle, out.data(), band), 0);
  EXPECT_EQ(getModulationTransferFunction(handle, out.data(), kBandAWeighting), -1);
  EXPECT_EQ(getFilteredImpulse(handle, nullptr, 10), -1);
  EXPECT_EQ(getModulationTransferFunction(handle, nullptr, 10), -1);
  for (int32_t bad : {-1, 255, 100000}) {
    EXPECT_EQ(getImpulseSize(bad), -1);
    EXPECT_EQ(getSpeechTansmissionIndex(bad, true, false), -1.0);
    EXPECT_EQ(deleteSpeechTransmissionIndex(bad), -1);
  }
  EXPECT_EQ(deleteSpeechTransmissionIndex(handle), 0);
  EXPECT_EQ(deleteSpeechTransmissionIndex(handle), -1);
  EXPECT_EQ(getSpeechTansmissionIndex(handle, true, false), -1.0);
  EXPECT_EQ(getModulationTransferFunction(handle, out.data(), 10), -1);
}

}  // namespace
}  // namespace tavrix

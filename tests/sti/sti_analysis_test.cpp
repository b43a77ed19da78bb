#include "sti/sti_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "fileio/wave_file.h"
#include "sti/speech_transmission_index.h"
#include "support/temp_path.h"
#include "tavrix.h"

namespace tavrix {
namespace {

constexpr double kPi = std::numbers::pi;
using Signal = std::vector<double>;

Signal modulationFrequencies() {
  Signal f(kStiModulationCount);
  for (int j = 0; j < kStiModulationCount; ++j) f[j] = std::pow(10.0, (j - 2) / 10.0);
  return f;
}

// One tone at each octave centre, all decaying by 60 dB in T seconds: the
// squared band envelope is exp(-13.8 t / T), whose modulation transfer is
// the Lorentzian 1 / sqrt(1 + (2 pi F T / 13.8)^2).
Signal decayingTones(double T, double seconds, double fs) {
  Signal h(static_cast<size_t>(seconds * fs));
  for (size_t i = 0; i < h.size(); ++i) {
    const double t = static_cast<double>(i) / fs;
    double sum = 0.0;
    for (int b = 0; b < kStiBandCount; ++b) sum += std::sin(2.0 * kPi * 125.0 * std::pow(2.0, b) * t + b);
    h[i] = 0.1 * sum * std::exp(-6.9 * t / T);
  }
  return h;
}

Signal whiteNoise(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> d(0.0, 0.1);
  Signal x(n);
  for (double& v : x) v = d(gen);
  return x;
}

int32_t analyse(const Signal& h, double fs) {
  return initSpeechTransmissionIndex(h.data(), static_cast<int32_t>(h.size()), fs);
}

Signal matrixOf(int32_t handle) {
  Signal all(kStiBandCount * kStiModulationCount, -7.0);
  for (int32_t b = 0; b < kStiBandCount; ++b)
    EXPECT_EQ(getModulationTransferFunction(handle, all.data() + b * kStiModulationCount, b + 7), 0);
  return all;
}

TEST(ModulationTransfer, BlockedSumsMatchDirectCosineAndSineSums) {
  const Signal f = modulationFrequencies();
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> d(0.0, 1.0);
  for (double fs : {48000.0, 44100.0}) {
    for (int32_t count : {1, 257, 144001}) {
      Signal e(count), fast(kStiModulationCount);
      for (double& v : e) v = d(gen);
      ASSERT_EQ(stiModulationTransfer(e.data(), count, fs, f.data(), fast.data()), 0);
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
}

class ExponentialDecay : public ::testing::TestWithParam<double> {};

TEST_P(ExponentialDecay, FollowsTheLorentzianOfTheDecay) {
  const double T = GetParam();
  const int32_t handle = analyse(decayingTones(T, std::max(2.0, 3.0 * T), 48000.0), 48000.0);
  const Signal f = modulationFrequencies(), m = matrixOf(handle);
  for (int b = 0; b < kStiBandCount; ++b) {
    // The squared tone's component at twice its frequency and the band
    // filter's ringing (about one over the bandwidth) both shrink as 1/f.
    const double tolerance = 4.0 / (125.0 * std::pow(2.0, b));
    for (int j = 0; j < kStiModulationCount; ++j) {
      const double x = 2.0 * kPi * f[j] * T / 13.8;
      EXPECT_NEAR(m[b * kStiModulationCount + j], 1.0 / std::sqrt(1.0 + x * x), tolerance)
          << "band " << b + 7 << " F " << f[j];
    }
  }
  EXPECT_EQ(deleteSpeechTransmissionIndex(handle), 0);
}

INSTANTIATE_TEST_SUITE_P(ReverberationTimes, ExponentialDecay, ::testing::Values(0.3, 1.0, 2.5));

TEST(StiAnalysis, PaddingAndLeadingZeros) {
  const Signal h = whiteNoise(10000, 1);
  for (auto [fs, padded] : {std::pair{48000.0, 76800}, std::pair{44100.0, 70560}}) {
    const int32_t handle = analyse(h, fs);
    ASSERT_EQ(getImpulseSize(handle), padded);
    Signal squared(padded, -1.0);
    ASSERT_EQ(getFilteredImpulse(handle, squared.data(), kBandUnfiltered), 0);
    for (int i = 0; i < padded; ++i) {
      const double expected = i < padded - 10000 ? 0.0 : h[i - (padded - 10000)] * h[i - (padded - 10000)];
      ASSERT_EQ(squared[i], expected) << i;
    }
    EXPECT_EQ(deleteSpeechTransmissionIndex(handle), 0);
  }
  // A 2 s response is kept at its length; zeros in front of it shift only
  // the phase of the Fourier sums.
  const Signal tones = decayingTones(0.8, 2.0, 48000.0);
  Signal delayed(12345, 0.0);
  delayed.insert(delayed.end(), tones.begin(), tones.end());
  const int32_t plain = analyse(tones, 48000.0), shifted = analyse(delayed, 48000.0);
  EXPECT_EQ(getImpulseSize(plain), 96000);
  const Signal a = matrixOf(plain), b = matrixOf(shifted);
  for (size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], b[i], 1e-12) << i;
  EXPECT_EQ(deleteSpeechTransmissionIndex(plain), 0);
  EXPECT_EQ(deleteSpeechTransmissionIndex(shifted), 0);
}

// Each band pass continues from the filter state the previous one left: the
// analysis made the first pass, so the host's first read is the second.
TEST(StiAnalysis, BandFilterStateCarriesOverBetweenPasses) {
  const Signal h = whiteNoise(96000, 4);  // ends at full level
  const int32_t handle = analyse(h, 48000.0);
  std::unique_ptr<FilterBank> bank = bankCreate(1, 7, 13);
  Signal pass, out(h.size());
  for (int p = 0; p < 3; ++p) {
    pass = h;
    ASSERT_EQ(bankFilter(*bank, pass.data(), 96000, 10), 0);
    if (p == 0) continue;
    ASSERT_EQ(getFilteredImpulse(handle, out.data(), 10), 0);
    for (int i = 0; i < 96000; i += 997) ASSERT_EQ(out[i], pass[i] * pass[i]) << p << " " << i;
  }
  EXPECT_EQ(deleteSpeechTransmissionIndex(handle), 0);
}

TEST(StiAnalysis, LevelsAreCopiedAndChecked) {
  const int32_t handle = analyse(decayingTones(1.2, 2.0, 48000.0), 48000.0);
  Signal halved = matrixOf(handle);
  for (double& m : halved) m *= 0.5;
  EXPECT_EQ(getSpeechTansmissionIndex(handle, true, true), -2.0);
  double levels[7] = {70, 70, 70, 70, 70, 70, 70};
  ASSERT_EQ(setSignalLevel(handle, levels), 0);
  EXPECT_EQ(getSpeechTansmissionIndex(handle, false, true), -2.0);
  ASSERT_EQ(setNoiseLevel(handle, levels), 0);
  levels[3] = -100.0;  // the analysis holds its own copy
  const double bad[7] = {70, 70, NAN, 70, 70, 70, 70};
  EXPECT_EQ(setNoiseLevel(handle, bad), -1);
  EXPECT_EQ(setSignalLevel(handle, nullptr), -1);
  EXPECT_NEAR(getSpeechTansmissionIndex(handle, true, true),
              stiFromMtf(halved.data(), true, nullptr, nullptr), 1e-12);
  EXPECT_EQ(deleteSpeechTransmissionIndex(handle), 0);
}

TEST(StiAnalysis, FromFileAsFromSamples) {
  Signal h = decayingTones(0.5, 0.7, 44100.0);
  for (double& v : h) v = static_cast<float>(v);  // what a float WAV holds
  test::TempFile file("sti_response.wav");
  ASSERT_EQ(writeWave(file.c_str(), h.data(), static_cast<int32_t>(h.size()), 44100, true), 0);
  const int32_t fromFile = initSpeechTransmissionIndexWithFile(file.c_str()),
                fromSamples = analyse(h, 44100.0);
  EXPECT_EQ(getImpulseSize(fromFile), 70560);
  EXPECT_EQ(matrixOf(fromFile), matrixOf(fromSamples));
  EXPECT_EQ(deleteSpeechTransmissionIndex(fromSamples), 0);
  EXPECT_EQ(deleteSpeechTransmissionIndex(fromFile), 0);
  // An unreadable file takes no slot: the next analysis gets the same one.
  test::TempFile missing("no_such_response.wav");
  EXPECT_EQ(initSpeechTransmissionIndexWithFile(missing.c_str()), -1);
  EXPECT_EQ(initSpeechTransmissionIndexWithFile(nullptr), -1);
  const int32_t next = analyse(h, 44100.0);
  EXPECT_EQ(next, std::min(fromFile, fromSamples));
  EXPECT_EQ(deleteSpeechTransmissionIndex(next), 0);
}

TEST(StiAnalysis, BadArgumentsFailWithoutReachingOutside) {
  const Signal h = whiteNoise(1000, 5), silence(1000, 0.0);
  const double levels[7] = {};
  Signal out(76800);
  // Each keeps a slot without analysis; a silent response keeps its samples.
  const int32_t failed[] = {initSpeechTransmissionIndex(nullptr, 1000, 48000.0),
                            initSpeechTransmissionIndex(h.data(), 0, 48000.0),
                            initSpeechTransmissionIndex(h.data(), -5, 48000.0),
                            initSpeechTransmissionIndex(h.data(), 1000, -48000.0),
                            initSpeechTransmissionIndex(h.data(), 1000, NAN),
                            initSpeechTransmissionIndex(h.data(), 1000, INFINITY),
                            initSpeechTransmissionIndex(h.data(), 1000, 1e9),
                            analyse(silence, 48000.0)};
  for (int32_t handle : failed) {
    ASSERT_GE(handle, 0);
    const bool stored = handle == failed[7];
    EXPECT_EQ(getImpulseSize(handle), stored ? 76800 : -1);
    EXPECT_EQ(getFilteredImpulse(handle, out.data(), 10), stored ? 0 : -1);
    EXPECT_EQ(getModulationTransferFunction(handle, out.data(), 10), -1);
    EXPECT_EQ(setSignalLevel(handle, levels), -1);
    EXPECT_EQ(getSpeechTansmissionIndex(handle, false, true), -1.0);
    EXPECT_EQ(deleteSpeechTransmissionIndex(handle), 0);
  }
  const int32_t handle = analyse(h, 48000.0);
  for (int32_t band : {6, 14, 99999, 100003}) EXPECT_EQ(getFilteredImpulse(handle, out.data(), band), -1);
  for (int32_t band : {6, 14, kBandAWeighting})
    EXPECT_EQ(getModulationTransferFunction(handle, out.data(), band), -1);
  EXPECT_EQ(getFilteredImpulse(handle, out.data(), kBandCWeighting), 0);
  EXPECT_EQ(getFilteredImpulse(handle, nullptr, 10), -1);
  EXPECT_EQ(getModulationTransferFunction(handle, nullptr, 10), -1);
  EXPECT_EQ(deleteSpeechTransmissionIndex(handle), 0);
  for (int32_t bad : {handle, -1, 255}) {
    EXPECT_EQ(getImpulseSize(bad), -1);
    EXPECT_EQ(getSpeechTansmissionIndex(bad, true, false), -1.0);
    EXPECT_EQ(deleteSpeechTransmissionIndex(bad), -1);
  }
}

}  // namespace
}  // namespace tavrix

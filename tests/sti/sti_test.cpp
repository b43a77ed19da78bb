// Speech transmission index: the index from a modulation transfer matrix, the
// matrix from an impulse response, and the exports a host calls.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "fileio/wave_file.h"
#include "sti/speech_transmission_index.h"
#include "sti/sti_analysis.h"
#include "support/temp_path.h"
#include "tavrix.h"

namespace tavrix {
namespace {

constexpr double kPi = std::numbers::pi;
using Signal = std::vector<double>;

Signal uniform(double m) { return Signal(kStiBandCount * kStiModulationCount, m); }
double index(const Signal& mtf, bool male) { return stiFromMtf(mtf.data(), male, nullptr, nullptr); }

TEST(SpeechTransmissionIndex, TransmissionIndicesWeightsRedundancyAndNoise) {
  // m = 0.99 is 20 dB apparent SNR, clipped to 15; 1 + 4e-16 is rounding above
  // full modulation; m = 0.8 is 10 log10 4 dB.
  const double cases[][2] = {{1.0, 1.0},
                             {1.0 + 4e-16, 1.0},
                             {0.0, 0.0},
                             {0.5, 0.5},
                             {0.99, 1.0},
                             {0.01, 0.0},
                             {0.8, (10.0 * std::log10(4.0) + 15.0) / 30.0}};
  for (bool male : {true, false})
    for (const auto& c : cases) EXPECT_NEAR(index(uniform(c[0]), male), c[1], 1e-12) << c[0] << " " << male;

  // MTI 1 everywhere but 1 kHz at 0.25 (apparent SNR -7.5 dB): the band sum
  // loses 0.75 of its weight, the two redundancy terms around it half of
  // theirs (sqrt 0.25).
  Signal mtf = uniform(1.0);
  std::fill_n(mtf.begin() + 3 * kStiModulationCount, kStiModulationCount, 1.0 / (1.0 + std::pow(10.0, 0.75)));
  // Male weights 0.085 0.127 0.230 0.233 0.309 0.224 0.173 sum to 1.381, the
  // redundancies 0.085 0.078 0.065 0.011 0.047 0.095 to 0.381.
  EXPECT_NEAR(index(mtf, true), (1.381 - 0.75 * 0.233) - (0.381 - 0.5 * (0.065 + 0.011)), 1e-12);
  // Female speech: the 125 Hz band has no influence; for male speech it has.
  Signal low = uniform(0.6);
  std::fill_n(low.begin(), kStiModulationCount, 0.05);
  EXPECT_DOUBLE_EQ(index(low, false), index(uniform(0.6), false));
  EXPECT_LT(index(low, true), index(uniform(0.6), true) - 0.01);

  // Noise at the speech level halves every modulation index; 10 dB below it
  // divides them by 1 + 10^-1. Levels beyond the range of the powers of ten
  // keep their meaning.
  for (size_t i = 0; i < mtf.size(); ++i)
    mtf[i] = 0.3 + 0.6 * std::fabs(std::sin(0.37 * static_cast<double>(i)));
  Signal halved = mtf, tenDb = mtf;
  for (double& m : halved) m *= 0.5;
  for (double& m : tenDb) m /= 1.1;
  const Signal speech = {60, 62, 65, 58, 55, 50, 45}, noise = {50, 52, 55, 48, 45, 40, 35}, quiet(7, 0.0),
               loud(7, 4000.0);
  for (bool male : {true, false}) {
    EXPECT_NEAR(stiFromMtf(mtf.data(), male, speech.data(), speech.data()), index(halved, male), 1e-12);
    EXPECT_NEAR(stiFromMtf(mtf.data(), male, speech.data(), noise.data()), index(tenDb, male), 1e-12);
  }
  EXPECT_NEAR(stiFromMtf(mtf.data(), true, loud.data(), quiet.data()), index(mtf, true), 1e-12);
  EXPECT_NEAR(stiFromMtf(mtf.data(), true, loud.data(), loud.data()), index(halved, true), 1e-12);
}

double modulationFrequency(int j) { return std::pow(10.0, (j - 2) / 10.0); }

// One tone at each octave centre, all decaying by 60 dB in T seconds: the
// squared band envelope is exp(-13.8 t / T), whose modulation transfer is
// the Lorentzian 1 / sqrt(1 + (2 pi F T / 13.8)^2).
Signal decayingTones(double T, double seconds, double fs) {
  Signal h(static_cast<size_t>(seconds * fs), 0.0);
  for (size_t i = 0; i < h.size(); ++i)
    for (int b = 0, f = 125; b < kStiBandCount; ++b, f *= 2)
      h[i] += 0.1 * std::sin(2.0 * kPi * f * (i / fs) + b) * std::exp(-6.9 * (i / fs) / T);
  return h;
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

// Zeros in front of a response shift only the phase of the Fourier sums, so
// the magnitudes agree to rounding.
// The block-phasor sums against the definition summed directly in long
// double, on a ragged envelope long enough for many phasor blocks.
TEST(StiAnalysis, ModulationSumsEqualTheDirectDefinition) {
  for (double fs : {48000.0, 44100.0}) {
    Signal e(48001);
    for (size_t i = 0; i < e.size(); ++i) e[i] = std::exp(-1e-4 * i) * (1.0 + 0.5 * std::sin(0.37 * i * i));
    double frequencies[kStiModulationCount], fast[kStiModulationCount];
    for (int j = 0; j < kStiModulationCount; ++j) frequencies[j] = modulationFrequency(j);
    ASSERT_EQ(stiModulationTransfer(e.data(), static_cast<int32_t>(e.size()), fs, frequencies, fast), 0);
    for (int j = 0; j < kStiModulationCount; ++j) {
      long double re = 0, im = 0, total = 0;
      for (size_t i = 0; i < e.size(); ++i) {
        const long double theta =
            -2.0L * std::numbers::pi_v<long double> * frequencies[j] * (i / (long double)fs);
        re += e[i] * std::cos(theta);
        im += e[i] * std::sin(theta);
        total += e[i];
      }
      EXPECT_NEAR(fast[j], static_cast<double>(std::hypot(re, im) / total), 1e-12) << fs << " " << j;
    }
  }
}

TEST(StiAnalysis, ExponentialDecayFollowsItsLorentzianWhereverItStarts) {
  for (auto [T, fs] : {std::pair{0.3, 48000.0}, std::pair{1.0, 44100.0}, std::pair{2.5, 48000.0}}) {
    const Signal h = decayingTones(T, std::max(2.0, 3.0 * T), fs);
    Signal delayed(12345, 0.0);
    delayed.insert(delayed.end(), h.begin(), h.end());
    const int32_t handle = analyse(h, fs), shifted = analyse(delayed, fs);
    EXPECT_EQ(getImpulseSize(handle), static_cast<int32_t>(h.size()));  // 2 s and more: kept at length
    const Signal m = matrixOf(handle), ms = matrixOf(shifted);
    for (int b = 0; b < kStiBandCount; ++b) {
      // The squared tone's component at twice its frequency and the band
      // filter's ringing (about one over the bandwidth) both shrink as 1/f.
      const double tolerance = 4.0 / (125.0 * std::pow(2.0, b));
      for (int j = 0, i = b * kStiModulationCount; j < kStiModulationCount; ++j, ++i) {
        const double x = 2.0 * kPi * modulationFrequency(j) * T / 13.8;
        EXPECT_NEAR(m[i], 1.0 / std::sqrt(1.0 + x * x), tolerance)
            << "T " << T << " band " << b + 7 << " j " << j;
        EXPECT_NEAR(ms[i], m[i], 1e-12) << i;
      }
    }
    EXPECT_EQ(deleteSpeechTransmissionIndex(handle), 0);
    EXPECT_EQ(deleteSpeechTransmissionIndex(shifted), 0);
  }
}

// A short response is padded in front to 1.6 s; the unfiltered read is its
// square. Each band pass continues from the filter state the previous one
// left: the analysis made the first pass, so the host's first read is the second.
TEST(StiAnalysis, PaddingAndFilteredReads) {
  Signal h = decayingTones(0.3, 1.0, 48000.0), squared(76800, -1.0);
  h.resize(10000);
  int32_t handle = analyse(h, 48000.0);
  ASSERT_EQ(getImpulseSize(handle), 76800);
  ASSERT_EQ(getFilteredImpulse(handle, squared.data(), kBandUnfiltered), 0);
  for (int i = 0; i < 76800; ++i) ASSERT_EQ(squared[i], i < 66800 ? 0.0 : h[i - 66800] * h[i - 66800]) << i;
  EXPECT_EQ(deleteSpeechTransmissionIndex(handle), 0);

  h = decayingTones(20.0, 2.0, 48000.0);  // still loud at its end
  handle = analyse(h, 48000.0);
  auto bank = bankCreate(1, 7, 13);
  Signal pass = h, out(h.size());
  bankFilter(*bank, pass.data(), 96000, 10);
  for (int p = 1; p < 3; ++p) {
    pass = h;
    bankFilter(*bank, pass.data(), 96000, 10);
    ASSERT_EQ(getFilteredImpulse(handle, out.data(), 10), 0);
    for (int i = 0; i < 96000; i += 997) ASSERT_EQ(out[i], pass[i] * pass[i]) << p << " " << i;
  }
  EXPECT_EQ(deleteSpeechTransmissionIndex(handle), 0);
}

TEST(StiAnalysis, FromFileAsFromSamplesWithLevels) {
  Signal h = decayingTones(0.5, 0.7, 44100.0);
  for (double& v : h) v = static_cast<float>(v);  // what a float WAV holds
  test::TempFile file("sti_response.wav"), missing("no_such_response.wav");
  ASSERT_EQ(writeWave(file.c_str(), h.data(), static_cast<int32_t>(h.size()), 44100, true), 0);
  const int32_t fromFile = initSpeechTransmissionIndexWithFile(file.c_str()),
                fromSamples = analyse(h, 44100.0);
  EXPECT_EQ(getImpulseSize(fromFile), 70560);
  const Signal m = matrixOf(fromFile), seventy(7, 70.0);
  EXPECT_EQ(m, matrixOf(fromSamples));
  // Levels: both needed before they count, copied, and checked.
  EXPECT_EQ(getSpeechTansmissionIndex(fromFile, true, true), -2.0);
  double levels[7] = {70, 70, 70, 70, 70, 70, 70};
  ASSERT_EQ(setSignalLevel(fromFile, levels), 0);
  EXPECT_EQ(getSpeechTansmissionIndex(fromFile, false, true), -2.0);
  ASSERT_EQ(setNoiseLevel(fromFile, levels), 0);
  levels[3] = -100.0;  // the analysis holds its own copy
  const double bad[7] = {70, 70, NAN, 70, 70, 70, 70};
  EXPECT_EQ(setNoiseLevel(fromFile, bad), -1);
  EXPECT_EQ(setSignalLevel(fromFile, nullptr), -1);
  EXPECT_NEAR(getSpeechTansmissionIndex(fromFile, true, true),
              stiFromMtf(m.data(), true, seventy.data(), seventy.data()), 1e-12);
  EXPECT_EQ(deleteSpeechTransmissionIndex(fromSamples), 0);
  EXPECT_EQ(deleteSpeechTransmissionIndex(fromFile), 0);
  // An unreadable file takes no slot: the next analysis gets the same one.
  EXPECT_EQ(initSpeechTransmissionIndexWithFile(missing.c_str()), -1);
  EXPECT_EQ(initSpeechTransmissionIndexWithFile(nullptr), -1);
  const int32_t next = analyse(h, 44100.0);
  EXPECT_EQ(next, std::min(fromFile, fromSamples));
  EXPECT_EQ(deleteSpeechTransmissionIndex(next), 0);
}

TEST(StiAnalysis, BadArgumentsFailWithoutReachingOutside) {
  const Signal h = decayingTones(0.3, 0.1, 48000.0), silence(h.size(), 0.0);
  const double levels[7] = {};
  Signal out(76800);
  // Each keeps a slot without analysis; a silent response keeps its samples.
  const struct {
    const double* x;
    int32_t n;
    double fs;
  } bad[] = {{nullptr, 1000, 48000.0},   {h.data(), 0, 48000.0}, {h.data(), -5, 48000.0},
             {h.data(), 1000, -48000.0}, {h.data(), 1000, NAN},  {h.data(), 1000, INFINITY},
             {h.data(), 1000, 1e9},      {h.data(), 1000, 0.0},  {silence.data(), 1000, 48000.0}};
  for (const auto& b : bad) {
    const int32_t handle = initSpeechTransmissionIndex(b.x, b.n, b.fs);
    ASSERT_GE(handle, 0);
    const bool stored = b.x == silence.data();
    EXPECT_EQ(getImpulseSize(handle), stored ? 76800 : -1);
    EXPECT_EQ(getFilteredImpulse(handle, out.data(), 10), stored ? 0 : -1);
    EXPECT_EQ(getModulationTransferFunction(handle, out.data(), 10), -1);
    EXPECT_EQ(setSignalLevel(handle, levels), -1);
    EXPECT_EQ(getSpeechTansmissionIndex(handle, false, true), -1.0);
    EXPECT_EQ(deleteSpeechTransmissionIndex(handle), 0);
  }
  const int32_t single = analyse({0.5}, 48000.0);  // one sample is a response, padded like any other
  EXPECT_EQ(getImpulseSize(single), 76800);
  EXPECT_EQ(deleteSpeechTransmissionIndex(single), 0);
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

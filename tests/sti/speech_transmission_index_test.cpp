#include "sti/speech_transmission_index.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tavrix {
namespace {

constexpr double kMaleAlphaSum = 0.085 + 0.127 + 0.230 + 0.233 + 0.309 + 0.224 + 0.173;
constexpr double kMaleBetaSum = 0.085 + 0.078 + 0.065 + 0.011 + 0.047 + 0.095;

std::vector<double> uniformMatrix(double m) {
  return std::vector<double>(kStiBandCount * kStiModulationCount, m);
}

void setBand(std::vector<double>& mtf, int b, double m) {
  for (int j = 0; j < kStiModulationCount; ++j) mtf[b * kStiModulationCount + j] = m;
}

// The modulation index whose apparent signal-to-noise ratio gives the
// transmission index ti: SNR = 30 ti - 15, m = 1 / (1 + 10^(-SNR/10)).
double modulationFor(double ti) { return 1.0 / (1.0 + std::pow(10.0, -(30.0 * ti - 15.0) / 10.0)); }

TEST(SpeechTransmissionIndex, UniformMatricesGiveTheirTransmissionIndex) {
  for (bool male : {true, false}) {
    EXPECT_NEAR(stiFromMtf(uniformMatrix(1.0).data(), male, nullptr, nullptr), 1.0, 1e-12);
    // A rounding error above full modulation still counts as full modulation.
    EXPECT_NEAR(stiFromMtf(uniformMatrix(1.0 + 4e-16).data(), male, nullptr, nullptr), 1.0, 1e-12);
    EXPECT_NEAR(stiFromMtf(uniformMatrix(0.0).data(), male, nullptr, nullptr), 0.0, 1e-12);
    EXPECT_NEAR(stiFromMtf(uniformMatrix(0.5).data(), male, nullptr, nullptr), 0.5, 1e-12);
    // SNR beyond +-15 dB is clipped.
    EXPECT_NEAR(stiFromMtf(uniformMatrix(0.99).data(), male, nullptr, nullptr), 1.0, 1e-12);
    EXPECT_NEAR(stiFromMtf(uniformMatrix(0.01).data(), male, nullptr, nullptr), 0.0, 1e-12);
    // m = 0.8: SNR = 10 log10(4), inside the limits.
    EXPECT_NEAR(stiFromMtf(uniformMatrix(0.8).data(), male, nullptr, nullptr),
                (10.0 * std::log10(4.0) + 15.0) / 30.0, 1e-12);
    EXPECT_NEAR(stiFromMtf(uniformMatrix(modulationFor(0.37)).data(), male, nullptr, nullptr), 0.37, 1e-12);
  }
}

TEST(SpeechTransmissionIndex, BandWeightsAndRedundancy) {
  // MTI 1 everywhere but 1 kHz (band index 3) at 0.25: the band sum loses
  // 0.75 alpha_3 and the two redundancy terms around it sqrt(0.25) = 0.5 of
  // their weight.
  std::vector<double> mtf = uniformMatrix(1.0);
  setBand(mtf, 3, modulationFor(0.25));
  const double expected = (kMaleAlphaSum - 0.75 * 0.233) - (kMaleBetaSum - 0.5 * (0.065 + 0.011));
  EXPECT_NEAR(stiFromMtf(mtf.data(), true, nullptr, nullptr), expected, 1e-12);

  // Alternating full and no transmission: every redundancy product is zero.
  std::vector<double> alternating = uniformMatrix(0.0);
  for (int b = 0; b < kStiBandCount; b += 2) setBand(alternating, b, 1.0);
  EXPECT_NEAR(stiFromMtf(alternating.data(), true, nullptr, nullptr), 0.085 + 0.230 + 0.309 + 0.173, 1e-12);
  EXPECT_NEAR(stiFromMtf(alternating.data(), false, nullptr, nullptr), 0.0 + 0.223 + 0.328 + 0.194, 1e-12);

  // Female speech: the 125 Hz band has no influence; for male speech it has.
  std::vector<double> low = uniformMatrix(0.6);
  setBand(low, 0, 0.05);
  const std::vector<double> reference = uniformMatrix(0.6);
  EXPECT_DOUBLE_EQ(stiFromMtf(low.data(), false, nullptr, nullptr),
                   stiFromMtf(reference.data(), false, nullptr, nullptr));
  EXPECT_LT(stiFromMtf(low.data(), true, nullptr, nullptr),
            stiFromMtf(reference.data(), true, nullptr, nullptr) - 0.01);
}

TEST(SpeechTransmissionIndex, NoiseReducesModulation) {
  std::vector<double> mtf(kStiBandCount * kStiModulationCount);
  for (size_t i = 0; i < mtf.size(); ++i)
    mtf[i] = 0.3 + 0.6 * std::fabs(std::sin(0.37 * static_cast<double>(i)));
  std::vector<double> halved = mtf, tenDb = mtf;
  for (double& m : halved) m *= 0.5;
  for (double& m : tenDb) m /= 1.1;  // S - N = 10 dB: m / (1 + 10^-1)
  const std::vector<double> speech = {60, 62, 65, 58, 55, 50, 45};
  std::vector<double> noise = speech;
  for (bool male : {true, false}) {
    EXPECT_NEAR(stiFromMtf(mtf.data(), male, speech.data(), speech.data()),
                stiFromMtf(halved.data(), male, nullptr, nullptr), 1e-12);
    for (size_t b = 0; b < noise.size(); ++b) noise[b] = speech[b] - 10.0;
    EXPECT_NEAR(stiFromMtf(mtf.data(), male, speech.data(), noise.data()),
                stiFromMtf(tenDb.data(), male, nullptr, nullptr), 1e-12);
  }
  // Levels far beyond the range of the powers of ten keep their meaning.
  const std::vector<double> loud(7, 4000.0), quiet(7, 0.0), silent(7, -4000.0);
  EXPECT_NEAR(stiFromMtf(mtf.data(), true, loud.data(), quiet.data()),
              stiFromMtf(mtf.data(), true, nullptr, nullptr), 1e-12);
  EXPECT_NEAR(stiFromMtf(mtf.data(), true, loud.data(), loud.data()),
              stiFromMtf(halved.data(), true, nullptr, nullptr), 1e-12);
  EXPECT_NEAR(stiFromMtf(mtf.data(), true, silent.data(), quiet.data()), 0.0, 1e-12);
}

TEST(SpeechTransmissionIndex, SentinelsOfTheAnalysis) {
  StiAnalysis analysis;
  EXPECT_EQ(stiIndex(analysis, true, false), kStiFailed);
  EXPECT_EQ(stiIndex(analysis, false, true), kStiFailed);
  analysis.mtf = DynArray<double>(uniformMatrix(0.5).data(), kStiBandCount * kStiModulationCount);
  analysis.initialised = true;
  EXPECT_NEAR(stiIndex(analysis, true, false), 0.5, 1e-12);
  EXPECT_EQ(stiIndex(analysis, true, true), kStiLevelsMissing);
  analysis.hasSignalLevels = true;
  EXPECT_EQ(stiIndex(analysis, true, true), kStiLevelsMissing);
  analysis.hasNoiseLevels = true;
  analysis.signalLevels.fill(50.0);
  analysis.noiseLevels.fill(50.0);
  // m = 0.25 everywhere: SNR = 10 log10(1/3).
  EXPECT_NEAR(stiIndex(analysis, true, true), (10.0 * std::log10(1.0 / 3.0) + 15.0) / 30.0, 1e-12);
}

}  // namespace
}  // namespace tavrix

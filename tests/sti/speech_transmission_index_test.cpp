#include "sti/speech_transmission_index.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tavrix {
namespace {

std::vector<double> uniform(double m) { return std::vector<double>(kStiBandCount * kStiModulationCount, m); }

void setBand(std::vector<double>& mtf, int b, double m) {
  std::fill(mtf.begin() + b * kStiModulationCount, mtf.begin() + (b + 1) * kStiModulationCount, m);
}

double index(const std::vector<double>& mtf, bool male) {
  return stiFromMtf(mtf.data(), male, nullptr, nullptr);
}

// The modulation index whose apparent SNR (30 ti - 15 dB) gives the
// transmission index ti.
double modulationFor(double ti) { return 1.0 / (1.0 + std::pow(10.0, -(30.0 * ti - 15.0) / 10.0)); }

TEST(SpeechTransmissionIndex, UniformMatricesGiveTheirTransmissionIndex) {
  for (bool male : {true, false}) {
    EXPECT_NEAR(index(uniform(1.0), male), 1.0, 1e-12);
    EXPECT_NEAR(index(uniform(1.0 + 4e-16), male), 1.0, 1e-12);  // rounding above full modulation
    EXPECT_NEAR(index(uniform(0.0), male), 0.0, 1e-12);
    EXPECT_NEAR(index(uniform(0.5), male), 0.5, 1e-12);
    EXPECT_NEAR(index(uniform(0.99), male), 1.0, 1e-12);  // SNR 20 dB clipped to 15
    EXPECT_NEAR(index(uniform(0.01), male), 0.0, 1e-12);
    EXPECT_NEAR(index(uniform(0.8), male), (10.0 * std::log10(4.0) + 15.0) / 30.0, 1e-12);
  }
}

TEST(SpeechTransmissionIndex, BandWeightsAndRedundancy) {
  // MTI 1 everywhere but 1 kHz at 0.25: the band sum loses 0.75 of its
  // weight, the two redundancy terms around it half of theirs (sqrt 0.25).
  std::vector<double> mtf = uniform(1.0);
  setBand(mtf, 3, modulationFor(0.25));
  const double alphaSum = 0.085 + 0.127 + 0.230 + 0.233 + 0.309 + 0.224 + 0.173;
  const double betaSum = 0.085 + 0.078 + 0.065 + 0.011 + 0.047 + 0.095;
  EXPECT_NEAR(index(mtf, true), (alphaSum - 0.75 * 0.233) - (betaSum - 0.5 * (0.065 + 0.011)), 1e-12);

  // Female speech: the 125 Hz band has no influence; for male speech it has.
  std::vector<double> low = uniform(0.6);
  setBand(low, 0, 0.05);
  EXPECT_DOUBLE_EQ(index(low, false), index(uniform(0.6), false));
  EXPECT_LT(index(low, true), index(uniform(0.6), true) - 0.01);
}

TEST(SpeechTransmissionIndex, NoiseReducesModulation) {
  std::vector<double> mtf = uniform(0.0);
  for (size_t i = 0; i < mtf.size(); ++i)
    mtf[i] = 0.3 + 0.6 * std::fabs(std::sin(0.37 * static_cast<double>(i)));
  std::vector<double> halved = mtf, tenDb = mtf;
  for (double& m : halved) m *= 0.5;  // S = N
  for (double& m : tenDb) m /= 1.1;   // S - N = 10 dB: m / (1 + 10^-1)
  const std::vector<double> speech = {60, 62, 65, 58, 55, 50, 45}, quiet(7, 0.0), loud(7, 4000.0);
  std::vector<double> noise = speech;
  for (double& n : noise) n -= 10.0;
  for (bool male : {true, false}) {
    EXPECT_NEAR(stiFromMtf(mtf.data(), male, speech.data(), speech.data()), index(halved, male), 1e-12);
    EXPECT_NEAR(stiFromMtf(mtf.data(), male, speech.data(), noise.data()), index(tenDb, male), 1e-12);
  }
  // Levels beyond the range of the powers of ten keep their meaning.
  EXPECT_NEAR(stiFromMtf(mtf.data(), true, loud.data(), quiet.data()), index(mtf, true), 1e-12);
  EXPECT_NEAR(stiFromMtf(mtf.data(), true, loud.data(), loud.data()), index(halved, true), 1e-12);
}

}  // namespace
}  // namespace tavrix

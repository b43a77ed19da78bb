#include "sti/speech_transmission_index.h"

#include <cmath>

namespace tavrix {
namespace {

// Octave-band weights (alpha) and redundancy weights of adjacent bands (beta,
// for the pairs 125/250 .. 4000/8000 Hz). In each set sum(alpha) - sum(beta)
// = 1, so a uniform transmission index x gives the index x. Female speech has
// no energy to speak of at 125 Hz: that band carries no weight.
constexpr double kMaleAlpha[kStiBandCount] = {0.085, 0.127, 0.230, 0.233, 0.309, 0.224, 0.173};
constexpr double kMaleBeta[kStiBandCount - 1] = {0.085, 0.078, 0.065, 0.011, 0.047, 0.095};
constexpr double kFemaleAlpha[kStiBandCount] = {0.0, 0.117, 0.223, 0.216, 0.328, 0.250, 0.194};
constexpr double kFemaleBeta[kStiBandCount - 1] = {0.0, 0.099, 0.066, 0.062, 0.025, 0.076};

// Apparent signal-to-noise ratios are limited to +-15 dB, the range over
// which intelligibility changes; the transmission index maps it onto 0..1.
constexpr double kSnrLimit = 15.0;

// Modulation reduction by steady background noise: S / (N + S) in power.
double noiseReduction(double signalDb, double noiseDb) {
  const double signal = std::pow(10.0, signalDb / 10.0);
  const double r = signal / (std::pow(10.0, noiseDb / 10.0) + signal);
  // Levels of several hundred dB overflow the powers; the ratio form is the
  // same quantity and stays finite.
  return std::isfinite(r) ? r : 1.0 / (1.0 + std::pow(10.0, (noiseDb - signalDb) / 10.0));
}

double transmissionIndex(double m) {
  double snr;
  if (m >= 1.0) {
    // Full modulation: the ratio m / (1 - m) is infinite (or, for a value a
    // rounding error above 1, negative); either way the upper limit.
    snr = kSnrLimit;
  } else {
    snr = 10.0 * std::log10(m / (1.0 - m));
    if (snr < -kSnrLimit) snr = -kSnrLimit;
    if (snr > kSnrLimit) snr = kSnrLimit;
  }
  return (snr + kSnrLimit) / (2.0 * kSnrLimit);
}

}  // namespace

double stiFromMtf(const double* mtf, bool maleWeights, const double* signalLevels,
                  const double* noiseLevels) {
  const double* alpha = maleWeights ? kMaleAlpha : kFemaleAlpha;
  const double* beta = maleWeights ? kMaleBeta : kFemaleBeta;
  const bool useLevels = signalLevels && noiseLevels;
  double bandSum = 0.0, redundancySum = 0.0, previousMti = 0.0;
  for (int32_t b = 0; b < kStiBandCount; ++b) {
    const double r = useLevels ? noiseReduction(signalLevels[b], noiseLevels[b]) : 1.0;
    double tiSum = 0.0;
    for (int32_t j = 0; j < kStiModulationCount; ++j)
      tiSum += transmissionIndex(r * mtf[b * kStiModulationCount + j]);
    const double mti = tiSum / kStiModulationCount;
    bandSum += alpha[b] * mti;
    if (b >= 1) redundancySum += beta[b - 1] * std::sqrt(previousMti * mti);
    previousMti = mti;
  }
  return bandSum - redundancySum;
}

double stiIndex(const StiAnalysis& analysis, bool maleWeights, bool useLevels) {
  if (!analysis.initialised || analysis.mtf.size() != kStiBandCount * kStiModulationCount) return kStiFailed;
  if (!useLevels) return stiFromMtf(analysis.mtf.data(), maleWeights, nullptr, nullptr);
  if (!analysis.hasSignalLevels || !analysis.hasNoiseLevels) return kStiLevelsMissing;
  return stiFromMtf(analysis.mtf.data(), maleWeights, analysis.signalLevels.data(),
                    analysis.noiseLevels.data());
}

}  // namespace tavrix

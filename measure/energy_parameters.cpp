#include "energy_parameters.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tavrix::measure {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The early limits of ISO 3382-1: 50 ms for speech, 80 ms for music.
constexpr double kSpeechLimit = 0.050, kMusicLimit = 0.080;

double energyOf(double db) { return std::isfinite(db) ? std::pow(10.0, db / 10) : 0.0; }

}  // namespace

EnergyParameters noEnergyParameters() { return {kNaN, kNaN, kNaN, kNaN}; }

EnergyParameters energyParameters(const std::vector<double>& levelDb, size_t integrated, double noiseDb,
                                  const double tailDb[2], double fs, const DirectSound& direct) {
  const size_t k = std::min(integrated, levelDb.size());
  if (k < 2 || !(fs > 0) || !std::isfinite(direct.centre)) return noEnergyParameters();
  const double noise = energyOf(noiseDb);
  const auto compensated = [noise](double db) { return std::max(0.0, energyOf(db) - noise); };
  // The direct sound's spread before the onset: early energy, at negative
  // sample positions. Moments are taken about the onset (sample 0) first.
  const size_t spread = direct.spreadDb.size();
  double before = 0, moment = 0;
  for (size_t j = 0; j < spread; ++j) {
    const double e = compensated(direct.spreadDb[j]);
    before += e;
    moment -= static_cast<double>(spread - j) * e;
  }
  // cumulative[i]: the compensated energy before sample i (the spread and
  // samples 0 .. i - 1).
  std::vector<double> cumulative(k + 1, before);
  for (size_t i = 0; i < k; ++i) {
    const double e = compensated(levelDb[i]);
    cumulative[i + 1] = cumulative[i] + e;
    moment += static_cast<double>(i) * e;
  }
  // The tail: the model line runs from tailDb[0] at the onset to tailDb[1]
  // at the crosspoint, k + 1 samples later (the decay curve stops one sample
  // short of it). Its energy beyond sample k + j is tail exp(-rate j).
  double tail = 0, rate = 0;
  if (std::isfinite(tailDb[0]) && std::isfinite(tailDb[1]) && tailDb[1] < tailDb[0]) {
    rate = (tailDb[0] - tailDb[1]) * std::log(10.0) / 10 / static_cast<double>(k + 1);
    tail = energyOf(tailDb[1]) / rate;
    moment += tail * (static_cast<double>(k) + 1 / rate);
  }
  const double total = cumulative[k] + tail;
  if (!(total > 0)) return noEnergyParameters();
  // Energy before a time after time 0 (it may lie past the crosspoint, in the
  // tail; past the end of a decay without a tail it is unknown).
  const auto until = [&](double seconds) {
    const double n = std::max(0.0, std::round(seconds * fs + direct.centre));
    if (n <= static_cast<double>(k)) return cumulative[static_cast<size_t>(n)];
    if (!(tail > 0)) return kNaN;
    return cumulative[k] + tail * (1 - std::exp(-rate * (n - static_cast<double>(k))));
  };
  const auto clarity = [&](double seconds) {
    const double early = until(seconds);
    return 10 * std::log10(early / (total - early));
  };
  return {clarity(kSpeechLimit), clarity(kMusicLimit), 100 * until(kSpeechLimit) / total,
          1000 * (moment / total - direct.centre) / fs};
}

}  // namespace tavrix::measure

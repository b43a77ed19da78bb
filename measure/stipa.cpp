#include "stipa.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <numbers>

#include "library_client.h"
#include "measure_error.h"
#include "tavrix.h"

namespace tavrix::measure {

namespace {

constexpr int kFirstOctave = 7;  // 125 Hz

// Each octave's two modulation frequencies, a little under two and a half
// octaves apart, staggered from band to band so that together they cover
// 0.63 to 12.5 Hz as the full index's fourteen do.
constexpr double kStipaModulation[kStipaBands][kStipaFrequencies] = {
    {1.60, 8.00}, {1.00, 5.00}, {0.63, 3.15}, {2.00, 10.0}, {1.25, 6.25}, {0.80, 4.00}, {2.50, 12.5}};

// The band weights (alpha) and the redundancy weights of adjacent bands
// (beta, pairs 125/250 .. 4000/8000 Hz) of the speech transmission index, the
// same as the library's full index uses: in each set sum(alpha) - sum(beta)
// = 1, so that a transmission index x in every band gives the index x.
// Female speech carries no energy to speak of at 125 Hz.
constexpr double kMaleAlpha[kStipaBands] = {0.085, 0.127, 0.230, 0.233, 0.309, 0.224, 0.173};
constexpr double kMaleBeta[kStipaBands - 1] = {0.085, 0.078, 0.065, 0.011, 0.047, 0.095};
constexpr double kFemaleAlpha[kStipaBands] = {0.0, 0.117, 0.223, 0.216, 0.328, 0.250, 0.194};
constexpr double kFemaleBeta[kStipaBands - 1] = {0.0, 0.099, 0.066, 0.062, 0.025, 0.076};

// Apparent signal-to-noise ratios count within +-15 dB, the span over which
// intelligibility changes; the transmission index maps it onto 0 .. 1.
constexpr double kSnrLimit = 15;

double transmissionIndex(double m) {
  const double snr = m >= 1 ? kSnrLimit : std::clamp(10 * std::log10(m / (1 - m)), -kSnrLimit, kSnrLimit);
  return (snr + kSnrLimit) / (2 * kSnrLimit);
}

// Steady background noise reduces the modulation to S / (S + N) of itself.
double noiseReduction(double signalDb, double noiseDb) {
  return 1 / (1 + std::pow(10.0, (noiseDb - signalDb) / 10));
}

}  // namespace

double stipaModulationFrequency(int band, int k) { return kStipaModulation[band][k]; }

double modulationTransfer(const std::vector<double>& envelope, double fs, double frequency) {
  std::complex<double> sum = 0;
  double energy = 0;
  // The phasor turns by a fixed step; it is renewed every 4096 samples so
  // that its rounding does not accumulate over a long response.
  const std::complex<double> step = std::polar(1.0, -2 * std::numbers::pi * frequency / fs);
  std::complex<double> phasor = 1;
  for (size_t i = 0; i < envelope.size(); ++i) {
    if (i % 4096 == 0)
      phasor = std::polar(1.0, -2 * std::numbers::pi * frequency * static_cast<double>(i) / fs);
    sum += envelope[i] * phasor;
    energy += envelope[i];
    phasor *= step;
  }
  return energy > 0 ? std::abs(sum) / energy : std::numeric_limits<double>::quiet_NaN();
}

std::vector<std::vector<double>> octaveEnvelopes(const std::vector<double>& x) {
  if (x.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    fail(TVM_BAD_ARGUMENT, "the response is too long for the library (2^31 - 1 samples)");
  std::vector<std::vector<double>> out;
  const LibraryLock lock = lockLibrary();
  const FilterBankHandle bank(initFilterBank(1, kFirstOctave, kFirstOctave + kStipaBands - 1));
  if (!bank.valid()) fail(TVM_TABLE_FULL, "the library has no free filter-bank slot left");
  for (int b = 0; b < kStipaBands; ++b) {
    std::vector<double> y = x;
    if (filterSingleBand(bank.get(), y.data(), static_cast<int32_t>(y.size()), kFirstOctave + b) != 0)
      fail(TVM_LIBRARY_REFUSED, "the library could not filter an octave band of the response");
    for (double& v : y) v *= v;
    out.push_back(std::move(y));
  }
  return out;
}

double indexFromMtf(const std::vector<std::vector<double>>& mtf, bool male,
                    const std::vector<double>& signalDb, const std::vector<double>& noiseDb) {
  const double* alpha = male ? kMaleAlpha : kFemaleAlpha;
  const double* beta = male ? kMaleBeta : kFemaleBeta;
  const bool levels = signalDb.size() == kStipaBands && noiseDb.size() == kStipaBands;
  double index = 0, previous = 0;
  for (size_t b = 0; b < kStipaBands && b < mtf.size(); ++b) {
    const double r = levels ? noiseReduction(signalDb[b], noiseDb[b]) : 1.0;
    double sum = 0;
    for (double m : mtf[b]) sum += transmissionIndex(r * m);
    const double mti = sum / static_cast<double>(mtf[b].size());
    index += alpha[b] * mti;
    if (b > 0) index -= beta[b - 1] * std::sqrt(previous * mti);
    previous = mti;
  }
  return index;
}

Stipa stipa(const std::vector<double>& x, double fs, const std::vector<double>& signalDb,
            const std::vector<double>& noiseDb) {
  Stipa s;
  const std::vector<std::vector<double>> envelopes = octaveEnvelopes(x);
  for (int b = 0; b < kStipaBands; ++b) {
    std::vector<double>& row = s.mtf.emplace_back();
    for (int k = 0; k < kStipaFrequencies; ++k)
      row.push_back(modulationTransfer(envelopes[static_cast<size_t>(b)], fs, kStipaModulation[b][k]));
  }
  s.male = indexFromMtf(s.mtf, true, signalDb, noiseDb);
  s.female = indexFromMtf(s.mtf, false, signalDb, noiseDb);
  return s;
}

}  // namespace tavrix::measure

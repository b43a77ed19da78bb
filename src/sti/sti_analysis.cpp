#include "sti/sti_analysis.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

namespace tavrix {
namespace {

// The Fourier sums are taken block by block: with theta = -2 pi f t,
//   sum_k e[a+k] exp(i theta[a+k]) = exp(i theta[a]) * sum_k e[a+k] exp(i theta[k]),
// where both factors come from exact cos/sin calls (a table of K offsets per
// frequency, one anchor per block). The inner loop is then two multiply-adds
// per sample and frequency with no recurrence, so the error stays at rounding
// level instead of growing as a rotated phasor's would.
constexpr int32_t kBlock = 256;
constexpr int32_t kCount = kStiModulationCount;

bool isValidEnvelopeBand(int32_t band) {
  return (band >= kStiFirstBand && band <= kStiLastBand) || band == kBandAWeighting ||
         band == kBandCWeighting || band == kBandUnfiltered;
}

}  // namespace

int32_t stiModulationTransfer(const double* envelope, int32_t count, double sampleRate,
                              const double* frequencies, double* mtf) {
  if (!envelope || !frequencies || !mtf || count < 1) return -1;
  double energy = 0.0;
  for (int32_t i = 0; i < count; ++i) energy += envelope[i];
  // A band without energy (or with overflowed or NaN samples) has no defined
  // modulation transfer.
  if (!(energy > 0.0) || !std::isfinite(energy)) return -1;

  const int32_t tableLength = std::min(kBlock, count);
  std::vector<double> cosTable(static_cast<size_t>(tableLength) * kCount);
  std::vector<double> sinTable(cosTable.size());
  for (int32_t k = 0; k < tableLength; ++k) {
    for (int32_t j = 0; j < kCount; ++j) {
      const double theta = -2.0 * std::numbers::pi * frequencies[j] * (k / sampleRate);
      cosTable[k * kCount + j] = std::cos(theta);
      sinTable[k * kCount + j] = std::sin(theta);
    }
  }
  std::array<double, kCount> re{}, im{};
  for (int32_t a = 0; a < count; a += kBlock) {
    const int32_t length = std::min(kBlock, count - a);
    // Fourteen independent accumulators: the frequency loop vectorises.
    std::array<double, kCount> blockRe{}, blockIm{};
    for (int32_t k = 0; k < length; ++k) {
      const double v = envelope[a + k];
      const double* c = &cosTable[k * kCount];
      const double* s = &sinTable[k * kCount];
      for (int32_t j = 0; j < kCount; ++j) {
        blockRe[j] += v * c[j];
        blockIm[j] += v * s[j];
      }
    }
    const double anchorTime = a / sampleRate;
    for (int32_t j = 0; j < kCount; ++j) {
      const double theta = -2.0 * std::numbers::pi * frequencies[j] * anchorTime;
      const double c = std::cos(theta), s = std::sin(theta);
      re[j] += c * blockRe[j] - s * blockIm[j];
      im[j] += c * blockIm[j] + s * blockRe[j];
    }
  }
  for (int32_t j = 0; j < kCount; ++j) {
    mtf[j] = std::hypot(re[j], im[j]) / energy;
    if (!std::isfinite(mtf[j])) return -1;
  }
  return 0;
}

int32_t stiBandEnvelope(StiAnalysis& analysis, int32_t band, double* out) {
  if (!out || !analysis.filterBank || analysis.impulse.empty() || !isValidEnvelopeBand(band)) return -1;
  const int32_t length = analysis.impulse.size();
  std::copy(analysis.impulse.begin(), analysis.impulse.end(), out);
  if (bankFilter(*analysis.filterBank, out, length, band) != 0) return -1;
  for (int32_t i = 0; i < length; ++i) out[i] *= out[i];
  return 0;
}

int32_t stiInitialise(StiAnalysis& analysis, const double* impulse, int32_t n, double sampleRate) {
  if (analysis.initialised) return -1;
  if (!impulse || n < 1 || !(sampleRate > 0.0) || !(sampleRate <= kStiMaxSampleRate)) return -1;
  analysis.sampleRate = sampleRate;

  analysis.filterBank = bankCreate(1, kStiFirstBand, kStiLastBand);
  if (!analysis.filterBank) return -1;

  analysis.modulationFrequencies.resizeExact(kStiModulationCount);
  for (int32_t j = 0; j < kStiModulationCount; ++j)
    analysis.modulationFrequencies[j] = std::pow(10.0, (j - 2) / 10.0);

  // A response shorter than 1.6 s is placed at the END of a zero frame of
  // ceil(1.6 fs) samples; a time shift changes only the phase of the sums.
  if (n / sampleRate >= kStiMinimumDuration) {
    analysis.impulse = DynArray<double>(impulse, n);
  } else {
    const int32_t length = std::max(static_cast<int32_t>(std::ceil(kStiMinimumDuration * sampleRate)), n);
    DynArray<double> padded(length);
    std::copy(impulse, impulse + n, padded.begin() + (length - n));
    analysis.impulse = std::move(padded);
  }
  const int32_t length = analysis.impulse.size();

  analysis.timeAxis.resizeExact(length);
  for (int32_t i = 0; i < length; ++i) analysis.timeAxis[i] = i / sampleRate;

  analysis.mtf.resizeExact(kStiBandCount * kStiModulationCount);
  DynArray<double> envelope(length);
  for (int32_t b = 0; b < kStiBandCount; ++b) {
    const int32_t status = stiBandEnvelope(analysis, kStiFirstBand + b, envelope.data()) == 0
                               ? stiModulationTransfer(envelope.data(), length, sampleRate,
                                                       analysis.modulationFrequencies.data(),
                                                       analysis.mtf.data() + b * kStiModulationCount)
                               : -1;
    if (status != 0) {
      analysis.mtf = DynArray<double>();
      return status;
    }
  }
  analysis.initialised = true;
  return 0;
}

}  // namespace tavrix

#include "filters/filter_bank.h"

#include <algorithm>
#include <utility>

#include "filters/filter_designs.h"

namespace tavrix {
namespace {

// Band-pass filters are eighth order: four sections.
constexpr int32_t kBandOrder = 8;
constexpr int32_t kAWeightingOrder = 6;
constexpr int32_t kCWeightingOrder = 4;
// The weighting filters have no step delay of their own: aligned filtering
// shifts them by a fixed single sample.
constexpr int32_t kWeightingAlignDelay = 1;

bool holdsBand(const FilterBank& bank, int32_t band) {
  return !bank.bands.empty() && band >= bank.firstBand && band <= bank.lastBand;
}

}  // namespace

int32_t bankBuild(FilterBank& bank, int32_t resolution, int32_t firstBand, int32_t lastBand) {
  if (!bank.bands.empty() || bank.aWeighting || bank.cWeighting) return -1;
  if (!bandInRange(resolution, firstBand) || !bandInRange(resolution, lastBand) || firstBand > lastBand)
    return -1;
  bank.resolution = resolution;
  bank.firstBand = firstBand;
  bank.lastBand = lastBand;
  bank.bandCount = lastBand - firstBand + 1;

  auto a = std::make_unique<SosCascade>();
  const AWeightingDesign& aDesign = aWeightingDesign();
  sosCreate(*a, kAWeightingOrder);
  sosLoad(*a, aDesign.sections.data(), aDesign.gains.data());
  auto c = std::make_unique<SosCascade>();
  const CWeightingDesign& cDesign = cWeightingDesign();
  sosCreate(*c, kCWeightingOrder);
  sosLoad(*c, cDesign.sections.data(), cDesign.gains.data());

  std::vector<SosCascade> bands(static_cast<size_t>(bank.bandCount));
  for (int32_t i = 0; i < bank.bandCount; ++i) {
    const BandPassDesign& design = bandPassDesign(resolution, firstBand + i);
    sosCreate(bands[static_cast<size_t>(i)], kBandOrder);
    sosLoad(bands[static_cast<size_t>(i)], design.sections.data(), design.gains.data());
  }
  // Everything is allocated: commit (nothing below can fail).
  bank.aWeighting = std::move(a);
  bank.cWeighting = std::move(c);
  bank.bands = std::move(bands);
  bank.order = kBandOrder;
  return 0;
}

std::unique_ptr<FilterBank> bankCreate(int32_t resolution, int32_t firstBand, int32_t lastBand) {
  auto bank = std::make_unique<FilterBank>();
  if (bankBuild(*bank, resolution, firstBand, lastBand) != 0) return nullptr;
  return bank;
}

SosCascade* bankCascade(FilterBank& bank, int32_t band) {
  if (holdsBand(bank, band)) return &bank.bands[static_cast<size_t>(band - bank.firstBand)];
  if (band == kBandAWeighting) return bank.aWeighting.get();
  if (band == kBandCWeighting) return bank.cWeighting.get();
  return nullptr;
}

int32_t bankFilter(FilterBank& bank, double* x, int32_t n, int32_t band) {
  if (band == kBandUnfiltered) return 0;
  SosCascade* cascade = bankCascade(bank, band);
  if (!cascade) return -1;
  return sosFilter(*cascade, x, n);
}

int32_t bankFilterReverse(FilterBank& bank, double* x, int32_t n, int32_t band) {
  if (band == kBandUnfiltered) return 0;
  SosCascade* cascade = bankCascade(bank, band);
  if (!cascade) return -1;
  return sosFilterReverse(*cascade, x, n);
}

int32_t bankFilterReverseAligned(FilterBank& bank, double* x, int32_t n, int32_t band) {
  if (band == kBandUnfiltered) return 0;
  SosCascade* cascade = bankCascade(bank, band);
  if (!cascade) return -1;
  const int32_t delay = holdsBand(bank, band) ? bandStepDelay(bank.resolution, band) : kWeightingAlignDelay;
  if (delay < 0 || delay >= n) return -1;
  return sosFilterReverseDelayed(*cascade, x, n, delay);
}

int32_t bankFilterReverseAlignedPair(FilterBank& bank, const double* sx, const double* sy, double* x, double* y,
                                     int32_t n, int32_t band) {
  if (band == kBandUnfiltered) {
    if (x != sx) std::copy(sx, sx + n, x);
    if (y != sy) std::copy(sy, sy + n, y);
    return 0;
  }
  SosCascade* cascade = bankCascade(bank, band);
  if (!cascade) return -1;
  const int32_t delay = holdsBand(bank, band) ? bandStepDelay(bank.resolution, band) : kWeightingAlignDelay;
  if (delay < 0 || delay >= n) return -1;
  return sosFilterReverseDelayedPair(*cascade, sx, sy, x, y, n, delay);
}

int32_t bankReverseSpan(FilterBank& bank, int32_t band, int32_t n, int32_t needed, double attenuation) {
  if (band == kBandUnfiltered) return std::clamp(needed, std::min(n, 1), n);
  // The weightings keep their whole pass: their low-frequency poles amplify
  // the state's rounding, so a pass started elsewhere differs in the last
  // digits of the faintest values.
  if (!holdsBand(bank, band)) return n;
  const int32_t delay = bandStepDelay(bank.resolution, band);
  const int32_t settling = sosSettlingLength(*bankCascade(bank, band), attenuation);
  if (delay < 0 || settling < 0 || needed < 0) return n;
  const int64_t span = std::max<int64_t>(int64_t{needed} + settling, int64_t{delay} + 1);
  return static_cast<int32_t>(std::min<int64_t>(span, n));
}

int32_t bankResetBands(FilterBank& bank) {
  if (bank.bands.empty()) return -1;
  for (SosCascade& cascade : bank.bands) sosReset(cascade);
  return 0;
}

int32_t bankStepDelay(const FilterBank& bank, int32_t band) {
  if (!holdsBand(bank, band)) return -1;
  return bandStepDelay(bank.resolution, band);
}

}  // namespace tavrix

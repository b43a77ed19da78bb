#include "band_signals.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "library_client.h"
#include "measure_error.h"
#include "tavrix.h"

namespace tavrix::measure {

std::vector<std::vector<double>> alignedBandSignals(const std::vector<double>& x, const BandSet& bands) {
  std::vector<std::vector<double>> out;
  const LibraryLock lock = lockLibrary();
  // A fresh bank: every band's filter starts from rest.
  const FilterBankHandle bank(
      initFilterBank(static_cast<int>(bands.resolution), bands.firstBand, bands.lastBand));
  if (!bank.valid()) fail(TVM_TABLE_FULL, "the library has no free filter-bank slot left");
  for (int band = bands.firstBand; band <= bands.lastBand; ++band) {
    const int32_t delay = getStepDelay(bank.get(), band);
    if (delay < 0)
      fail(TVM_LIBRARY_REFUSED, "the library has no filter for " + bandName(bands.resolution, band));
    // The response delayed by the band's step delay and filtered backwards:
    // the reversed filter advances a sound by that delay, so sample i of the
    // result lines up with sample i of the response. The last samples of the
    // response come first and lose nothing.
    const size_t d = static_cast<size_t>(delay);
    if (x.size() + d > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
      fail(TVM_BAD_ARGUMENT, "the response is too long for the library's filters (2^31 - 1 samples)");
    std::vector<double> y(x.size() + d, 0.0);
    std::copy(x.begin(), x.end(), y.begin() + static_cast<std::ptrdiff_t>(d));
    if (filterSingleBandReverse(bank.get(), y.data(), static_cast<int32_t>(y.size()), band) != 0)
      fail(TVM_LIBRARY_REFUSED, "the library could not filter " + bandName(bands.resolution, band));
    y.resize(x.size());
    out.push_back(std::move(y));
  }
  return out;
}

}  // namespace tavrix::measure

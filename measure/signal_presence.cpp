#include "signal_presence.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "measure_error.h"
#include "number_text.h"

namespace tavrix::measure {

namespace {
constexpr size_t kStretches = 8;
}

double peakToNoiseDb(const double* h, size_t n) {
  double peak = 0;
  for (size_t i = 0; i < n; ++i) peak = std::max(peak, std::fabs(h[i]));
  if (!(peak > 0)) return -std::numeric_limits<double>::infinity();
  const size_t stretch = std::max<size_t>(1, n / kStretches);
  double quietest = std::numeric_limits<double>::infinity();
  for (size_t start = 0; start + stretch <= n; start += stretch) {
    double energy = 0;
    for (size_t i = start; i < start + stretch; ++i) energy += h[i] * h[i];
    quietest = std::min(quietest, energy / static_cast<double>(stretch));
  }
  if (!(quietest > 0)) return std::numeric_limits<double>::infinity();
  return 20 * std::log10(peak / std::sqrt(quietest));
}

void requireResponse(const std::string& name, const double* h, size_t n) {
  const double ratio = peakToNoiseDb(h, n);
  if (ratio >= kMinPeakToNoiseDb) return;
  fail(TVM_NO_SIGNAL,
       name + ": no sweep in the recording: its response " +
           (std::isfinite(ratio) ? "stands only " + fixed(ratio, 1) + " dB above its noise (" +
                                       fixed(kMinPeakToNoiseDb, 0) + " dB needed), as noise alone does"
                                 : "is silence") +
           "; check that the sweep was played, the input channel, the cable and the input level");
}

}  // namespace tavrix::measure

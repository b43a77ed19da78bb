#include "window_location.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "fft_convolution.h"

namespace tavrix::measure {

namespace {

// The envelope's maximum lies on the direct sound or a strong reflection in
// both curves; the two analytic signals differ only by their transforms'
// rounding and edges, so the peaks fall on the same sample or on neighbours
// of nearly equal energy. The alignment is settled by the overlap of the two
// envelopes around the peak (largest where they coincide), over shifts this
// far either way and over this much of the envelope on each side of it.
constexpr double kSearchSeconds = 0.002;
constexpr double kCompareSeconds = 0.05;

}  // namespace

std::optional<int64_t> locateWindow(const std::vector<double>& windowLevelDb,
                                    const std::vector<double>& response, double fs) {
  const int64_t w = std::ssize(windowLevelDb), n = std::ssize(response);
  if (w < 1 || w > n || !(fs > 0)) return std::nullopt;
  std::vector<double> window(windowLevelDb.size());
  for (size_t i = 0; i < window.size(); ++i)
    window[i] = std::isfinite(windowLevelDb[i]) ? std::pow(10.0, windowLevelDb[i] / 10) : 0.0;
  const std::vector<double> envelope = analyticEnergy(response);
  const int64_t windowPeak = std::max_element(window.begin(), window.end()) - window.begin();
  const int64_t responsePeak = std::max_element(envelope.begin(), envelope.end()) - envelope.begin();
  const int64_t search = std::max<int64_t>(1, std::llround(kSearchSeconds * fs));
  const int64_t compare = std::max<int64_t>(1, std::llround(kCompareSeconds * fs));
  const int64_t from = std::max<int64_t>(0, windowPeak - compare), to = std::min(w, windowPeak + compare + 1);
  int64_t best = -1;
  double bestOverlap = -1;
  for (int64_t start = responsePeak - windowPeak - search; start <= responsePeak - windowPeak + search;
       ++start) {
    if (start < 0 || start + w > n) continue;
    double overlap = 0;
    for (int64_t i = from; i < to; ++i)
      overlap += window[static_cast<size_t>(i)] * envelope[static_cast<size_t>(start + i)];
    if (overlap > bestOverlap) {
      bestOverlap = overlap;
      best = start;
    }
  }
  if (best < 0) return std::nullopt;
  // The response's loudest moment may lie outside the window (a click before
  // the direct sound): then the window's own peak is not where the curves
  // were laid on each other, and the window is not found.
  const auto placed = envelope.begin() + best;
  if (*std::max_element(placed, placed + w) > 2 * envelope[static_cast<size_t>(best + windowPeak)])
    return std::nullopt;
  return best;
}

}  // namespace tavrix::measure

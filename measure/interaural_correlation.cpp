#include "interaural_correlation.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tavrix::measure {

namespace {

constexpr double kEarlyLimit = 0.080;
// Lags up to 1 ms either way: the interaural delay of a source at the side
// is about 0.7 ms.
constexpr double kMaxLag = 0.001;

// Sums of one stretch: sum l(t) r(t + tau) per lag (r read outside the
// stretch where the lag reaches past it), and the two ears' energies.
struct Stretch {
  std::vector<double> cross;
  double left = 0, right = 0;
};

Stretch sums(const std::vector<double>& l, const std::vector<double>& r, size_t from, size_t to, int lags) {
  Stretch s;
  s.cross.assign(2 * static_cast<size_t>(lags) + 1, 0.0);
  const int64_t n = static_cast<int64_t>(std::min(l.size(), r.size()));
  for (size_t t = from; t < to; ++t) {
    s.left += l[t] * l[t];
    s.right += r[t] * r[t];
  }
  for (int tau = -lags; tau <= lags; ++tau) {
    // t + tau must lie inside the signals.
    const int64_t lo = std::max<int64_t>(static_cast<int64_t>(from), -tau);
    const int64_t hi = std::min<int64_t>(static_cast<int64_t>(to), n - tau);
    double sum = 0;
    for (int64_t t = lo; t < hi; ++t) sum += l[static_cast<size_t>(t)] * r[static_cast<size_t>(t + tau)];
    s.cross[static_cast<size_t>(tau + lags)] = sum;
  }
  return s;
}

double coefficient(const Stretch& s) {
  if (!(s.left > 0) || !(s.right > 0)) return std::numeric_limits<double>::quiet_NaN();
  double largest = 0;
  for (double c : s.cross) largest = std::max(largest, std::fabs(c));
  return largest / std::sqrt(s.left * s.right);
}

}  // namespace

InterauralCorrelation interauralCorrelation(const std::vector<double>& left, const std::vector<double>& right,
                                            const BandOnset& at, double fs) {
  const size_t n = std::min(left.size(), right.size());
  const int lags = static_cast<int>(std::lround(kMaxLag * fs));
  const size_t end = std::min(n, std::max(at.decayEnd, at.onset));
  const size_t split = std::min(end, at.after(kEarlyLimit, fs));
  const Stretch early = sums(left, right, std::min(at.first, split), split, lags);
  const Stretch late = sums(left, right, split, end, lags);
  Stretch all = early;
  all.left += late.left;
  all.right += late.right;
  for (size_t k = 0; k < all.cross.size(); ++k) all.cross[k] += late.cross[k];
  return {coefficient(early), coefficient(late), coefficient(all)};
}

}  // namespace tavrix::measure

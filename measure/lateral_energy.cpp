#include "lateral_energy.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tavrix::measure {

namespace {

// The lateral energy is counted from 5 ms after the direct sound to 80 ms,
// the early limit for music.
constexpr double kLateralStart = 0.005, kEarlyLimit = 0.080;

}  // namespace

LateralFractions lateralFractions(const std::vector<double>& p0, const std::vector<double>& p8,
                                  const BandOnset& at, double fs) {
  const size_t n = std::min(p0.size(), p8.size());
  const size_t end = std::min(n, at.after(kEarlyLimit, fs));
  const size_t lateral = std::min(end, at.after(kLateralStart, fs));
  double early = 0, side = 0, cross = 0;
  for (size_t i = std::min(at.first, end); i < end; ++i) early += p0[i] * p0[i];
  for (size_t i = lateral; i < end; ++i) {
    side += p8[i] * p8[i];
    cross += std::fabs(p8[i] * p0[i]);
  }
  if (!(early > 0))
    return {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()};
  return {side / early, cross / early};
}

}  // namespace tavrix::measure

#include "numeric/scalar_rules.h"

#include <cmath>
#include <limits>

#include "numeric/constants.h"

namespace tavrix {

namespace {

// From this magnitude on every double is a whole number.
constexpr double kWholeNumberThreshold = 4503599627370496.0;  // 2^52
// Start scale of the running norm: small enough that any realistic first
// element raises it, so the sum of squares never overflows or underflows.
constexpr double kNormStartScale = 0x1p-563;
constexpr double kSqrt2 = 1.4142135623730951;

}  // namespace

double roundHalfAway(double x) {
  if (!(std::fabs(x) < kWholeNumberThreshold)) return x;  // huge, infinite or NaN
  if (x >= 0.5) return std::floor(x + 0.5);
  if (x <= -0.5) return std::ceil(x - 0.5);
  return x * 0.0;
}

int32_t truncateToInt(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (x <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(x);
}

double sumOf(const double* v, int32_t n) {
  double s = 0.0;
  for (int32_t i = 0; i < n; ++i) s += v[i];
  return s;
}

double meanOf(const double* v, int32_t n) {
  const double count = n > 0 ? static_cast<double>(n) : 0.0;
  return sumOf(v, n) / count;
}

namespace {

// Shared scan of the searches below over the values value(0 .. n-1):
// `better(a, b)` is the strict comparison that lets a replace the current best
// b, so NaNs never win and ties stay put.
template <class Value, class Better>
IndexedValue firstExtremum(int32_t n, Value value, Better better) {
  if (n < 1) return {0, std::numeric_limits<double>::quiet_NaN()};
  if (n == 1) return {1, value(0)};
  int32_t start = 0;
  while (start < n && std::isnan(value(start))) ++start;
  if (start == n) return {1, value(0)};
  IndexedValue best{start + 1, value(start)};
  for (int32_t i = start + 1; i < n; ++i) {
    const double candidate = value(i);
    if (better(candidate, best.value)) best = {i + 1, candidate};
  }
  return best;
}

bool greater(double a, double b) { return a > b; }
bool less(double a, double b) { return a < b; }

}  // namespace

IndexedValue indexOfFirstMax(const double* v, int32_t n) {
  return firstExtremum(
      n, [v](int32_t i) { return v[i]; }, greater);
}

IndexedValue indexOfFirstMin(const double* v, int32_t n) {
  return firstExtremum(
      n, [v](int32_t i) { return v[i]; }, less);
}

IndexedValue indexOfFirstNearest(const double* v, int32_t n, double level) {
  return firstExtremum(
      n, [v, level](int32_t i) { return std::fabs(v[i] - level); }, less);
}

double powerChecked(double x, double y) {
  if (std::isnan(x) || std::isnan(y)) return nanValue;
  const double ax = std::fabs(x);
  // The infinity test compares with the library constants, so before start-up
  // (when they are 0.0) an exponent of 0 takes this branch.
  if (y == infValue || y == minusInfValue) {
    if (ax == 1.0) return 1.0;
    if (ax > 1.0) return y > 0.0 ? infValue : 0.0;
    return y > 0.0 ? 0.0 : infValue;
  }
  const double ay = std::fabs(y);
  if (ay == 0.0) return 1.0;
  if (ay == 1.0) return y > 0.0 ? x : 1.0 / x;
  if (y == 2.0) return x * x;
  if (y == 0.5 && x >= 0.0) return std::sqrt(x);
  if (x < 0.0 && y > std::floor(y)) return nanValue;
  return std::pow(x, y);
}

double hypotScaled(double a, double b) {
  const double ua = std::fabs(a);
  const double ub = std::fabs(b);
  if (ub > ua) {
    const double r = ua / ub;
    return ub * std::sqrt(1.0 + r * r);
  }
  if (ua > ub) {
    const double r = ub / ua;
    return ua * std::sqrt(1.0 + r * r);
  }
  if (std::isnan(ub)) return ub;
  return ua * kSqrt2;
}

double norm2Scaled(const double* v, int32_t count) {
  if (count < 1) return 0.0;
  if (count == 1) return std::fabs(v[0]);
  double scale = kNormStartScale;
  double s = 0.0;
  for (int32_t k = 0; k < count; ++k) {
    const double a = std::fabs(v[k]);
    if (a > scale) {
      const double r = scale / a;
      s = 1.0 + s * (r * r);
      scale = a;
    } else {
      const double r = a / scale;
      s += r * r;
    }
  }
  return scale * std::sqrt(s);
}

}  // namespace tavrix

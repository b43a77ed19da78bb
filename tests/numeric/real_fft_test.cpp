// Real-input transforms against long-double sums of the definition.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "numeric/fft.h"

namespace tavrix {
namespace {

using LongComplex = std::complex<long double>;

// exp(-2 pi i k t / n) with k t reduced modulo n in integers.
LongComplex root(int64_t k, int64_t t, int64_t n) {
  const long double angle =
      -2.0L * std::numbers::pi_v<long double> * static_cast<long double>((k * t) % n) / n;
  return {std::cos(angle), std::sin(angle)};
}

// Forward: every bin 0 .. n/2 against the direct sum; inverse: back to x.
TEST(RealFft, MatchesDirectSumAndRoundTrips) {
  for (int n : {1, 2, 4, 8, 32, 1024}) {
    std::mt19937 gen(static_cast<unsigned>(n));
    std::normal_distribution<double> d;
    std::vector<double> x(static_cast<size_t>(n)), buffer(static_cast<size_t>(n) + 1);
    for (auto& v : x) v = d(gen);
    std::copy(x.begin(), x.end(), buffer.begin());
    const double nyquist = realFftForward(buffer.data(), n);
    const double tolerance = 1e-14 * n + 1e-14;
    for (int k = 0; k <= n / 2; ++k) {
      LongComplex expected = 0.0L;
      for (int t = 0; t < n; ++t) expected += static_cast<long double>(x[t]) * root(k, t, n);
      const bool top = n > 1 && k == n / 2;
      EXPECT_NEAR(top ? nyquist : buffer[2 * k], static_cast<double>(expected.real()), tolerance)
          << n << " " << k;
      EXPECT_NEAR(top ? 0.0 : buffer[2 * k + 1], static_cast<double>(expected.imag()), tolerance)
          << n << " " << k;
    }
    realFftInverse(buffer.data(), nyquist, n);
    for (int t = 0; t < n; ++t)
      EXPECT_NEAR(buffer[t], x[t], 1e-14 * std::log2(n + 1.0) + 1e-15) << n << " " << t;
  }
}

// 2^22 points: a complex transform of 2^21 and twiddles beyond the kept
// tables. A few weighted impulses have the closed-form spectrum
// sum a_j exp(-2 pi i k t_j / n), checked at scattered bins.
TEST(RealFft, LongTransformMatchesImpulseSpectrum) {
  const int n = 1 << 22;
  const std::vector<std::pair<int, double>> impulses = {
      {0, 0.5}, {1, -0.25}, {12345, 1.0}, {n / 2 + 777, -0.75}, {n - 3, 0.3}, {2097151, 0.6}};
  std::vector<double> buffer(static_cast<size_t>(n), 0.0);
  for (auto [t, a] : impulses) buffer[t] = a;
  const double nyquist = realFftForward(buffer.data(), n);
  for (int k = 0; k <= n / 2; k += 4099) {
    LongComplex expected = 0.0L;
    for (auto [t, a] : impulses) expected += static_cast<long double>(a) * root(k, t, n);
    EXPECT_NEAR(buffer[2 * k], static_cast<double>(expected.real()), 1e-12) << k;
    EXPECT_NEAR(buffer[2 * k + 1], static_cast<double>(expected.imag()), 1e-12) << k;
  }
  realFftInverse(buffer.data(), nyquist, n);
  for (auto [t, a] : impulses) {
    EXPECT_NEAR(buffer[t], a, 1e-14) << t;
    buffer[t] = 0.0;
  }
  double worst = 0.0;
  for (double v : buffer) worst = std::max(worst, std::abs(v));
  EXPECT_LT(worst, 1e-14);
}

// The AVX and SSE2 butterflies must give the same bits: every stage length
// with kept twiddles, an odd power (one radix-2 stage first), and the long
// stages beyond the kept tables.
TEST(Fft, VectorPathsGiveTheSameBits) {
  for (int p : {3, 4, 9, 16, 19, 21}) {
    const int n = 1 << p;
    std::vector<double> wide(2 * static_cast<size_t>(n));
    for (size_t i = 0; i < wide.size(); ++i) wide[i] = std::sin(0.37 * static_cast<double>(i * i % 1009));
    std::vector<double> narrow = wide;
    const bool avx = fftAllowAvx(true);
    fftForward(wide.data(), n);
    fftAllowAvx(false);
    fftForward(narrow.data(), n);
    fftAllowAvx(avx);
    EXPECT_EQ(wide, narrow) << "2^" << p;
  }
}

}  // namespace
}  // namespace tavrix

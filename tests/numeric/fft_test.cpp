// Complex and real transforms against long-double sums of the definition, at
// lengths on each side of every switch in the transform: one radix-2 stage
// or none, the tiled bit reversal (from 2^10), cache-sized blocks (2^14),
// kept stage tables (to 2^18), kept twiddle tables (to 2^20) and Bluestein's
// method for the other lengths.
#include "numeric/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

namespace tavrix {
namespace {

using LongComplex = std::complex<long double>;

// A signal of n values: random at every position up to 2^16, a few weighted
// impulses in longer ones; real or complex. bin(k) is the definition
// X[k] = sum_t x[t] exp(-2 pi i k t / n), k t reduced modulo n in integers.
struct Signal {
  int64_t n;
  bool real;
  std::vector<std::pair<int64_t, LongComplex>> terms;
  std::vector<LongComplex> roots;  // exp(-2 pi i j / n) for the random signals
  Signal(int64_t length, bool isReal) : n(length), real(isReal) {
    std::mt19937 gen(static_cast<unsigned>(n));
    std::normal_distribution<double> d;
    std::vector<int64_t> at{0, 1, 12345, n / 2 + 777, n - 3, n / 2 - 1};
    if (n <= 1 << 16) at.clear();
    for (int64_t j = 0; std::ssize(roots) < n && n <= 1 << 16; ++j) at.push_back(j), roots.push_back(root(j));
    for (int64_t t : at) terms.push_back({t, LongComplex(d(gen), real ? 0.0 : d(gen))});
  }
  LongComplex root(int64_t j) const {
    const long double angle = -2.0L * std::numbers::pi_v<long double> * static_cast<long double>(j) / n;
    return {std::cos(angle), std::sin(angle)};
  }
  std::vector<double> buffer(size_t doubles) const {
    std::vector<double> b(doubles, 0.0);
    const size_t stride = real ? 1 : 2;
    for (const auto& [t, a] : terms) {
      b[stride * static_cast<size_t>(t)] = static_cast<double>(a.real());
      if (!real) b[2 * static_cast<size_t>(t) + 1] = static_cast<double>(a.imag());
    }
    return b;
  }
  LongComplex bin(int64_t k) const {
    LongComplex sum = 0.0L;
    for (const auto& [t, a] : terms) sum += a * (roots.empty() ? root(k * t % n) : roots[k * t % n]);
    return sum;
  }
  // Every bin below `end` up to 1024 points, scattered bins beyond.
  std::vector<int64_t> bins(int64_t end) const {
    std::vector<int64_t> k{0, 1, 3, 1000, end / 4 - 1, end / 2 - 1, end / 2 + 7, end - 1};
    if (n <= 1024)
      for (k.clear(); std::ssize(k) < end;) k.push_back(std::ssize(k));
    return k;
  }
  // The rounding of a transform grows as sqrt(number of terms) log2(n).
  double tolerance() const {
    return 2e-15 * std::sqrt(static_cast<double>(terms.size())) * std::log2(n + 2.0);
  }
};

TEST(Fft, MatchesTheDirectSumOnEachSideOfEverySwitchAndRoundTrips) {
  for (int n : {1,   2,    3,    4,    5,       8,       12,    17,      18,      64,      100,
                512, 1000, 1024, 2048, 1 << 14, 1 << 15, 15015, 1 << 18, 1 << 19, 1 << 20, 1 << 21}) {
    const Signal s(n, false);
    std::vector<double> b = s.buffer(2 * static_cast<size_t>(n));
    fftForward(b.data(), n);
    for (int64_t k : s.bins(n)) {
      const LongComplex expected = s.bin(k);
      EXPECT_NEAR(b[2 * k], static_cast<double>(expected.real()), s.tolerance()) << n << " bin " << k;
      EXPECT_NEAR(b[2 * k + 1], static_cast<double>(expected.imag()), s.tolerance()) << n << " bin " << k;
    }
    fftInverse(b.data(), n);
    const std::vector<double> x = s.buffer(b.size());
    double worst = 0.0;
    for (size_t i = 0; i < b.size(); ++i) worst = std::max(worst, std::fabs(b[i] - x[i]));
    EXPECT_LT(worst, 2e-15 * std::log2(n + 2.0)) << n;
  }
}

// Real transforms through a complex one of half the length (2^22 points: a
// complex transform of 2^21 and twiddles beyond the kept tables): bins 0 to
// n/2 - 1 in place, the Nyquist bin returned; one sample is its own
// transform with a zero imaginary part written.
TEST(RealFft, MatchesTheDirectSumAndRoundTrips) {
  for (int n : {1, 2, 4, 8, 32, 1024, 1 << 22}) {
    const Signal s(n, true);
    std::vector<double> b = s.buffer(static_cast<size_t>(n) + 1);
    b[static_cast<size_t>(n)] = 7.0;  // the slot after the samples: written only for n = 1
    const double nyquist = realFftForward(b.data(), n);
    for (int64_t k : s.bins(n / 2 + 1)) {
      const LongComplex expected = s.bin(k);
      const bool top = k == n / 2 && n > 1;
      EXPECT_NEAR(top ? nyquist : b[2 * k], static_cast<double>(expected.real()), s.tolerance())
          << n << " " << k;
      EXPECT_NEAR(top ? 0.0 : b[2 * k + 1], static_cast<double>(expected.imag()), s.tolerance())
          << n << " " << k;
    }
    EXPECT_TRUE(n > 1 || (nyquist == b[0] && b[1] == 0.0));
    realFftInverse(b.data(), nyquist, n);
    const std::vector<double> x = s.buffer(b.size());
    for (int t = 0; t < n; ++t) ASSERT_NEAR(b[t], x[t], 2e-15 * std::log2(n + 2.0)) << n << " " << t;
  }
}

TEST(Fft, LengthForSignalUsesDoubleLogarithms) {
  EXPECT_EQ(fftLengthFor(0), 0);
  EXPECT_EQ(fftLengthFor(1000), 1024);
  EXPECT_EQ(fftLengthFor(65537), 131072);
  // Powers of two are their own length, except that ln(2^29) / ln 2 rounds to
  // just above 29.
  for (int p = 0; p <= 30; ++p) EXPECT_EQ(fftLengthFor(int64_t{1} << p), p == 29 ? 1 << 30 : 1 << p) << p;
  EXPECT_EQ(fftLengthFor((int64_t{1} << 30) + 1), -1);
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

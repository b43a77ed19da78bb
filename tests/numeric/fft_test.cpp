#include "numeric/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

namespace tavrix {
namespace {

using Complex = std::complex<double>;

// One bin of the definition, summed directly: X[k] = sum_n x[n] exp(-2 pi i k n / N).
Complex dftBin(const std::vector<Complex>& x, int64_t k) {
  const int64_t n = static_cast<int64_t>(x.size());
  Complex sum = 0.0;
  for (int64_t t = 0; t < n; ++t)
    sum += x[t] * std::polar(1.0, -2.0 * std::numbers::pi * static_cast<double>((k * t) % n) / n);
  return sum;
}

// A random complex signal of length n through the forward transform, against
// the direct sum at the given bins (all when none are given), then back.
void checkAgainstDft(int n, unsigned seed, std::vector<int> bins, double tolerance) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> d;
  std::vector<Complex> x(n);
  std::vector<double> buffer;
  for (auto& v : x) {
    v = Complex(d(gen), d(gen));
    buffer.insert(buffer.end(), {v.real(), v.imag()});
  }
  fftForward(buffer.data(), n);
  for (int k = 0; bins.empty() && k < n; ++k) bins.push_back(k);
  for (int k : bins) {
    const Complex expected = dftBin(x, k);
    EXPECT_NEAR(buffer[2 * k], expected.real(), tolerance) << n << " bin " << k;
    EXPECT_NEAR(buffer[2 * k + 1], expected.imag(), tolerance) << n << " bin " << k;
  }
  fftInverse(buffer.data(), n);
  double worst = 0.0;
  for (int k = 0; k < n; ++k)
    worst = std::max(worst, std::abs(Complex(buffer[2 * k], buffer[2 * k + 1]) - x[k]));
  EXPECT_LT(worst, 1e-12) << n;
}

class FftAgainstDft : public ::testing::TestWithParam<int> {};

TEST_P(FftAgainstDft, MatchesDirectSumForwardAndInverse) {
  const int n = GetParam();
  checkAgainstDft(n, 7u + static_cast<unsigned>(n), {}, 1e-12 * n * std::log2(n + 1.0) + 1e-13);
}

INSTANTIATE_TEST_SUITE_P(Lengths, FftAgainstDft, ::testing::Values(1, 2, 3, 4, 5, 12, 17, 64, 100, 1000));

// Long transforms run in cache-sized blocks and fused stages: spot-check bins
// for an odd and an even number of stages and a long mixed-radix length.
TEST(Fft, LongTransformsMatchDirectSumAtSampledBinsAndRoundTrip) {
  for (int n : {1 << 15, 1 << 16, 3 * 5 * 7 * 11 * 13})
    checkAgainstDft(n, 11, {0, 1, 3, 1000, n / 4 - 1, n / 2, n / 2 + 7, n - 1}, 1e-9);
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

}  // namespace
}  // namespace tavrix

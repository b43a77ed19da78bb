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

// The definition, summed directly: X[k] = sum_n x[n] exp(-2 pi i k n / N).
std::vector<Complex> directDft(const std::vector<Complex>& x) {
  const size_t n = x.size();
  std::vector<Complex> out(n);
  for (size_t k = 0; k < n; ++k) {
    Complex sum = 0.0;
    for (size_t t = 0; t < n; ++t) {
      const double angle =
          -2.0 * std::numbers::pi * static_cast<double>((k * t) % n) / static_cast<double>(n);
      sum += x[t] * Complex(std::cos(angle), std::sin(angle));
    }
    out[k] = sum;
  }
  return out;
}

std::vector<double> interleave(const std::vector<Complex>& x) {
  std::vector<double> out;
  for (const auto& v : x) {
    out.push_back(v.real());
    out.push_back(v.imag());
  }
  return out;
}

std::vector<Complex> randomSignal(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> d;
  std::vector<Complex> x(n);
  for (auto& v : x) v = Complex(d(gen), d(gen));
  return x;
}

class FftAgainstDft : public ::testing::TestWithParam<int> {};

TEST_P(FftAgainstDft, MatchesDirectSumForwardAndInverse) {
  const int n = GetParam();
  const auto x = randomSignal(static_cast<size_t>(n), 7u + static_cast<unsigned>(n));
  const auto expected = directDft(x);
  auto buffer = interleave(x);
  fftForward(buffer.data(), n);
  const double tolerance = 1e-12 * n * std::log2(n + 1.0) + 1e-13;
  for (int k = 0; k < n; ++k) {
    EXPECT_NEAR(buffer[2 * k], expected[k].real(), tolerance) << "bin " << k;
    EXPECT_NEAR(buffer[2 * k + 1], expected[k].imag(), tolerance) << "bin " << k;
  }
  fftInverse(buffer.data(), n);
  for (int k = 0; k < n; ++k) {
    EXPECT_NEAR(buffer[2 * k], x[k].real(), 1e-13 * n + 1e-14);
    EXPECT_NEAR(buffer[2 * k + 1], x[k].imag(), 1e-13 * n + 1e-14);
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, FftAgainstDft, ::testing::Values(1, 2, 3, 4, 5, 12, 17, 64, 100, 1000));

TEST(Fft, SignConventionPutsPositiveExponentialInItsBin) {
  const int n = 16;
  std::vector<Complex> x(n);
  for (int t = 0; t < n; ++t) x[t] = std::polar(1.0, 2.0 * std::numbers::pi * 3.0 * t / n);
  auto buffer = interleave(x);
  fftForward(buffer.data(), n);
  for (int k = 0; k < n; ++k) {
    EXPECT_NEAR(buffer[2 * k], k == 3 ? n : 0.0, 1e-12);
    EXPECT_NEAR(buffer[2 * k + 1], 0.0, 1e-12);
  }
}

TEST(Fft, LargeRoundTripRestoresInput) {
  for (int n : {1 << 16, 3 * 5 * 7 * 11 * 13}) {
    const auto x = randomSignal(static_cast<size_t>(n), 3);
    auto buffer = interleave(x);
    fftForward(buffer.data(), n);
    fftInverse(buffer.data(), n);
    double worst = 0.0;
    for (int k = 0; k < n; ++k)
      worst = std::max(worst, std::abs(Complex(buffer[2 * k], buffer[2 * k + 1]) - x[k]));
    EXPECT_LT(worst, 1e-12) << n;
  }
}

// Long transforms run in cache-sized blocks and fused stages: spot-check bins
// against the direct sum, for an odd and an even number of stages.
TEST(Fft, LongTransformsMatchDirectSumAtSampledBins) {
  for (int n : {1 << 15, 1 << 16}) {
    const auto x = randomSignal(static_cast<size_t>(n), 11);
    auto buffer = interleave(x);
    fftForward(buffer.data(), n);
    for (int k : {0, 1, 3, 1000, n / 4 - 1, n / 2, n / 2 + 7, n - 1}) {
      Complex sum = 0.0;
      for (int t = 0; t < n; ++t) {
        const double angle = -2.0 * std::numbers::pi * static_cast<double>((int64_t{k} * t) % n) / n;
        sum += x[t] * Complex(std::cos(angle), std::sin(angle));
      }
      EXPECT_NEAR(buffer[2 * k], sum.real(), 1e-9) << n << " bin " << k;
      EXPECT_NEAR(buffer[2 * k + 1], sum.imag(), 1e-9) << n << " bin " << k;
    }
  }
}

TEST(Fft, LengthForSignalUsesDoubleLogarithms) {
  EXPECT_EQ(fftLengthFor(1), 1);
  EXPECT_EQ(fftLengthFor(1000), 1024);
  EXPECT_EQ(fftLengthFor(65536), 65536);
  EXPECT_EQ(fftLengthFor(65537), 131072);
  // ln(2^29) / ln 2 rounds to just above 29.
  EXPECT_EQ(fftLengthFor(int64_t{1} << 29), 1 << 30);
  for (int p = 0; p <= 30; ++p)
    if (p != 29) {
      EXPECT_EQ(fftLengthFor(int64_t{1} << p), 1 << p) << p;
    }
  EXPECT_EQ(fftLengthFor(0), 0);
  EXPECT_EQ(fftLengthFor((int64_t{1} << 30) + 1), -1);
}

}  // namespace
}  // namespace tavrix

#include "fft_analysis/fft_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "tavrix.h"

namespace tavrix {
namespace {

constexpr int kN = 65536;

// Independent path: the windowed block summed directly in long double (which
// fixes window, scale and the one- or two-sided power); the upper half of the
// buffer stays as it was, a repeated step finds no trace of the first one,
// silence gives -inf in every bin, and bad handles and buffers change nothing.
TEST(FftAnalysis, MatchesDirectSumRepeatsAndRejectsBadArguments) {
  std::vector<double> input(kN);
  for (int n = 0; n < kN; ++n) input[n] = std::sin(0.001 * n * n);  // a chirp folding over every bin

  const int32_t handle = initFftAnalysis();
  std::vector<double> first = input, second = input;
  ASSERT_EQ(fftStep(handle, first.data()), 0);
  ASSERT_EQ(fftStep(handle, second.data()), 0);
  EXPECT_EQ(first, second);
  std::vector<double> silence(kN, 0.0);
  ASSERT_EQ(fftStep(handle, silence.data()), 0);
  for (int k = 0; k < kSpectrumBinCount; ++k) ASSERT_EQ(silence[k], -INFINITY) << k;
  EXPECT_EQ(std::pair(fftStep(handle, nullptr), fftStep(255, second.data())), std::pair(-1, -1));
  EXPECT_EQ(deleteFftAnalysis(handle), 0);
  EXPECT_EQ(deleteFftAnalysis(handle), -1);
  EXPECT_EQ(fftStep(handle, second.data()), -1);
  EXPECT_EQ(second, first);
  for (int k = kSpectrumBinCount; k < kN; ++k) ASSERT_EQ(first[k], input[k]) << k;

  for (int k : {0, 1, 777, 32767, 32768}) {
    long double re = 0.0L, im = 0.0L;
    for (int n = 0; n < kN; ++n) {
      const long double w = 0.5L * (1.0L - std::cos(2.0L * std::numbers::pi_v<long double> * n / 65535.0L));
      const long double angle =
          -2.0L * std::numbers::pi_v<long double> * ((static_cast<long>(k) * n) % kN) / kN;
      re += input[n] * w * std::cos(angle);
      im += input[n] * w * std::sin(angle);
    }
    const long double side = (k == 0 || k == kN / 2) ? 2.0L : 4.0L;
    EXPECT_NEAR(first[k], static_cast<double>(10.0L * std::log10(side * (re * re + im * im) / 4294967296.0L)),
                1e-9);
  }
}

}  // namespace
}  // namespace tavrix

#include "fft_analysis/fft_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "tavrix.h"

namespace tavrix {
namespace {

constexpr int kN = 65536;

// One block through the C interface on a fresh analysis.
std::vector<double> spectrumOf(std::vector<double> block) {
  const int32_t handle = initFftAnalysis();
  EXPECT_EQ(fftStep(handle, block.data()), 0);
  EXPECT_EQ(deleteFftAnalysis(handle), 0);
  return block;
}

TEST(FftAnalysis, CosineConstantAndSilence) {
  std::vector<double> db(kN);
  for (int n = 0; n < kN; ++n) db[n] = std::cos(2.0 * std::numbers::pi * 1000.0 * n / kN);
  db = spectrumOf(db);
  // No window-gain correction: the Hann sum 65535/2 halves the amplitude,
  // 10 log10(4 (65535/4)^2 / 2^32); the neighbours sit at a quarter of it.
  EXPECT_NEAR(db[1000], -6.0207, 5e-4);
  for (int k : {999, 1001}) EXPECT_NEAR(db[1000] - db[k], 6.02, 0.01);
  for (int k : {998, 1002}) EXPECT_GT(db[1000] - db[k], 100.0);

  EXPECT_NEAR(spectrumOf(std::vector<double>(kN, 1.0))[0], -3.0104, 1e-4);

  db = spectrumOf(std::vector<double>(kN, 0.0));
  for (int k = 0; k < kSpectrumBinCount; ++k) ASSERT_TRUE(std::isinf(db[k]) && db[k] < 0.0) << k;
}

// Independent path: the windowed block summed directly in long double; the
// upper half of the buffer stays as it was, a repeated step finds no trace of
// the first one, and bad handles and buffers change nothing.
TEST(FftAnalysis, MatchesDirectSumRepeatsAndRejectsBadArguments) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  std::vector<double> input(kN);
  for (double& v : input) v = d(gen);

  const int32_t handle = initFftAnalysis();
  std::vector<double> first = input, second = input;
  ASSERT_EQ(fftStep(handle, first.data()), 0);
  ASSERT_EQ(fftStep(handle, second.data()), 0);
  EXPECT_EQ(first, second);
  EXPECT_EQ(fftStep(handle, nullptr), -1);
  EXPECT_EQ(fftStep(255, second.data()), -1);
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

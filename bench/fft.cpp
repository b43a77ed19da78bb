// Forward transforms of powers of two from 2^10 to 2^22 and of one length
// that takes the chirp-z path.
#include "numeric/fft.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void transform(benchmark::State& state, int32_t n) {
  std::vector<double> buffer(2 * static_cast<size_t>(n));
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<double>(i % 17) / 17.0 - 0.5;
  for (auto _ : state) {
    tavrix::fftForward(buffer.data(), n);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

// Argument: the base-2 logarithm of the length.
void BM_FftPowerOfTwo(benchmark::State& state) { transform(state, int32_t{1} << state.range(0)); }
BENCHMARK(BM_FftPowerOfTwo)->DenseRange(10, 22)->Unit(benchmark::kMillisecond);

// 48000 = 2^7 * 3 * 5^3: one second at 48 kHz, through Bluestein on 2^17 points.
void BM_FftOneSecondAt48k(benchmark::State& state) { transform(state, 48000); }
BENCHMARK(BM_FftOneSecondAt48k)->Unit(benchmark::kMillisecond);

}  // namespace

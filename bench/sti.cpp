// Cost of the STI analysis of a 3 s response at 48 kHz (seven octave-band
// passes and the 7 x 14 modulation transfer sums) and of one spectrum step.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "tavrix.h"

namespace {

std::vector<double> decayingNoise(int32_t n, double fs) {
  std::mt19937 gen(1);
  std::normal_distribution<double> d(0.0, 0.2);
  std::vector<double> h(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) h[i] = d(gen) * std::exp(-6.9 * i / fs / 0.8);
  return h;
}

void BM_InitSpeechTransmissionIndex(benchmark::State& state) {
  const double fs = 48000.0;
  const int32_t n = static_cast<int32_t>(state.range(0) * fs);
  const std::vector<double> h = decayingNoise(n, fs);
  for (auto _ : state) {
    const int32_t handle = initSpeechTransmissionIndex(h.data(), n, fs);
    benchmark::DoNotOptimize(getSpeechTansmissionIndex(handle, true, false));
    deleteSpeechTransmissionIndex(handle);
  }
}
BENCHMARK(BM_InitSpeechTransmissionIndex)->Arg(3)->Unit(benchmark::kMillisecond);

void BM_FftStep(benchmark::State& state) {
  const std::vector<double> block = decayingNoise(65536, 48000.0);
  std::vector<double> buffer(block.size());
  const int32_t handle = initFftAnalysis();
  for (auto _ : state) {
    buffer = block;
    fftStep(handle, buffer.data());
    benchmark::DoNotOptimize(buffer.data());
  }
  deleteFftAnalysis(handle);
}
BENCHMARK(BM_FftStep)->Unit(benchmark::kMillisecond);

}  // namespace

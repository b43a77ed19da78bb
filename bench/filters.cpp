// Band filtering in place: one second of 48 kHz noise through every
// third-octave band, and 10 s through one band and through the A-weighting.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "filters/filter_bank.h"

namespace {

std::vector<double> noise(size_t n) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> x(n);
  for (double& v : x) v = dist(rng);
  return x;
}

// Items are input samples: a band's samples per second, summed over the bands.
void BM_ThirdOctaveBandsOneSecond(benchmark::State& state) {
  auto bank = tavrix::bankCreate(2, 12, 43);
  const std::vector<double> input = noise(48000);
  std::vector<double> x(input.size());
  for (auto _ : state) {
    for (int32_t band = 12; band <= 43; ++band) {
      std::memcpy(x.data(), input.data(), sizeof(double) * x.size());
      tavrix::bankFilter(*bank, x.data(), 48000, band);
      benchmark::DoNotOptimize(x.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * 48000 * 32);
}
BENCHMARK(BM_ThirdOctaveBandsOneSecond)->Unit(benchmark::kMillisecond);

void filterTenSeconds(benchmark::State& state, int32_t band) {
  auto bank = tavrix::bankCreate(1, 4, 14);
  const std::vector<double> input = noise(480000);
  std::vector<double> x(input.size());
  for (auto _ : state) {
    std::memcpy(x.data(), input.data(), sizeof(double) * x.size());
    tavrix::bankFilter(*bank, x.data(), 480000, band);
    benchmark::DoNotOptimize(x.data());
  }
  state.SetItemsProcessed(state.iterations() * 480000);
}
void BM_OctaveBandTenSeconds(benchmark::State& state) { filterTenSeconds(state, 10); }
void BM_AWeightingTenSeconds(benchmark::State& state) { filterTenSeconds(state, tavrix::kBandAWeighting); }
BENCHMARK(BM_OctaveBandTenSeconds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AWeightingTenSeconds)->Unit(benchmark::kMillisecond);

}  // namespace

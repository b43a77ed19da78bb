// processInputSignal on a 10 s, 48 kHz sweep recording: three transforms of
// 2^20 points and the spectral division.
#include <benchmark/benchmark.h>

#include <vector>

#include "tavrix.h"

namespace {

void BM_ProcessInputSignal10s48k(benchmark::State& state) {
  initTavrix();
  const int32_t h = initImpulse();
  const int32_t n = generateESS(h, 48000, 20, 20000, 10, 2);
  std::vector<double> sweep(static_cast<size_t>(n));
  getESS(h, sweep.data());
  // The recording: the sweep through a short reflection, plus a 2 s tail.
  std::vector<double> recording(sweep.size() + 96000, 0.0);
  for (size_t i = 0; i < sweep.size(); ++i) {
    recording[i + 480] += 0.5 * sweep[i];
    recording[i + 2400] += 0.2 * sweep[i];
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(processInputSignal(h, recording.data(), static_cast<int32_t>(recording.size())));
  deleteImpulse(h);
}
BENCHMARK(BM_ProcessInputSignal10s48k)->Unit(benchmark::kMillisecond);

}  // namespace

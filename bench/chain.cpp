// The measurement chain through the C interface, stage by stage: a 10 s sweep
// at 48 kHz deconvolved into the response (nfft 2^20; the first recording
// against the sweep, and later ones that reuse the sweep's spectrum), the response prepared
// for the decay analysis with 0.5 s of silence in front, the 31 third-octave
// bands 20 Hz - 20 kHz evaluated with the ranges {0, 20, 30}, and the STI.
// BM_Deconvolve10min48k deconvolves a 10-minute recording (nfft 2^25) and
// reports the process's peak resident memory; run it alone for that figure.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <random>
#include <vector>

#include "tavrix.h"

namespace {

constexpr double kRate = 48000.0;

// A room: unit direct sound after 5 ms, then noise decaying 60 dB in 0.9 s
// (about 40 dB above a background 1e-5 deep), 1.5 s long.
std::vector<double> room() {
  std::mt19937 random(3);
  std::normal_distribution<double> gauss(0.0, 1.0);
  std::vector<double> h(static_cast<size_t>(1.5 * kRate));
  const size_t direct = 240;
  for (size_t i = 0; i < h.size(); ++i) {
    h[i] = 1e-5 * gauss(random);
    if (i == direct) h[i] += 1.0;
    if (i > direct)
      h[i] += 0.05 * gauss(random) * std::pow(10.0, -3.0 * static_cast<double>(i - direct) / (0.9 * kRate));
  }
  return h;
}

// The recording: the sweep through the direct sound and three reflections,
// 2 s longer than the sweep, over background noise. The room's decay is added
// to the deconvolved response, so that every band has a decay to measure.
struct Chain {
  int32_t impulse = -1;
  std::vector<double> recording, response, padded;
  Chain() {
    initTavrix();
    impulse = initImpulse();
    const int32_t n = generateESS(impulse, kRate, 20, 20000, 10, 2);
    std::vector<double> sweep(static_cast<size_t>(n));
    getESS(impulse, sweep.data());
    const std::vector<double> h = room();
    recording.assign(sweep.size() + 2 * static_cast<size_t>(kRate), 0.0);
    for (size_t i = 0; i < sweep.size(); ++i)
      for (size_t tap : {size_t{240}, size_t{1700}, size_t{5200}, size_t{9100}})
        recording[i + tap] += (tap == 240 ? 1.0 : 0.3) * sweep[i];
    std::mt19937 random(5);
    std::normal_distribution<double> gauss(0.0, 1e-4);
    for (double& v : recording) v += gauss(random);
    processInputSignal(impulse, recording.data(), static_cast<int32_t>(recording.size()));
    response.resize(static_cast<size_t>(getNFFT(impulse)));
    getImpulseResponse(impulse, response.data());
    // The room's decay added to the measured response, so the bands decay.
    for (size_t i = 0; i < h.size(); ++i) response[i] += h[i];
    padded.assign(static_cast<size_t>(0.5 * kRate), 0.0);
    padded.insert(padded.end(), response.begin(), response.end());
  }
};

Chain& chain() {
  static Chain c;
  return c;
}

void BM_ChainDeconvolve(benchmark::State& state) {
  Chain& c = chain();
  for (auto _ : state)
    benchmark::DoNotOptimize(
        processInputSignal(c.impulse, c.recording.data(), static_cast<int32_t>(c.recording.size())));
}
BENCHMARK(BM_ChainDeconvolve)->Unit(benchmark::kMillisecond);

// The first recording against a new sweep: the sweep's spectrum is computed
// with it instead of being reused (BM_ChainDeconvolve keeps it).
void BM_ChainDeconvolveFirst(benchmark::State& state) {
  Chain& c = chain();
  for (auto _ : state) {
    state.PauseTiming();
    const int32_t h = initImpulse();
    generateESS(h, kRate, 20, 20000, 10, 2);
    state.ResumeTiming();
    benchmark::DoNotOptimize(
        processInputSignal(h, c.recording.data(), static_cast<int32_t>(c.recording.size())));
    state.PauseTiming();
    deleteImpulse(h);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ChainDeconvolveFirst)->Unit(benchmark::kMillisecond);

void BM_ChainPrepare(benchmark::State& state) {
  Chain& c = chain();
  for (auto _ : state) {
    const int32_t h = initReverberation(c.padded.data(), static_cast<int32_t>(c.padded.size()), kRate, 10, 2);
    benchmark::DoNotOptimize(getMaxImpulseLength(h));
    deleteReverberation(h);
  }
}
BENCHMARK(BM_ChainPrepare)->Unit(benchmark::kMillisecond);

void BM_ChainBands(benchmark::State& state) {
  Chain& c = chain();
  const int32_t h = initReverberation(c.padded.data(), static_cast<int32_t>(c.padded.size()), kRate, 10, 2);
  initReverberationFilter(h, 2, 13, 43);
  const int32_t capacity = getMaxImpulseLength(h);
  std::vector<double> levels(static_cast<size_t>(capacity)), decay(static_cast<size_t>(capacity));
  const double ranges[3] = {0, 20, 30};
  double times[3], fits[3], tail[2], decayEnd, noise, dynamicRange, curvature, peak;
  int32_t levelLength, onsetOffset, failed = 0;
  for (auto _ : state) {
    failed = 0;
    for (int32_t band = 13; band <= 43; ++band)
      failed += getReverberationData(h, band, ranges, 3, 0, levels.data(), &levelLength, decay.data(),
                                     &decayEnd, &noise, tail, times, fits, &dynamicRange, &curvature,
                                     &onsetOffset, &peak) != 0;
  }
  state.counters["failedBands"] = failed;
  deleteReverberation(h);
}
BENCHMARK(BM_ChainBands)->Unit(benchmark::kMillisecond);

void BM_ChainSti(benchmark::State& state) {
  Chain& c = chain();
  for (auto _ : state) {
    const int32_t h =
        initSpeechTransmissionIndex(c.response.data(), static_cast<int32_t>(c.response.size()), kRate);
    benchmark::DoNotOptimize(getSpeechTansmissionIndex(h, true, false));
    deleteSpeechTransmissionIndex(h);
  }
}
BENCHMARK(BM_ChainSti)->Unit(benchmark::kMillisecond);

// 10 minutes at 48 kHz (28.8 M samples) against a 10 s sweep: nfft 2^25.
void BM_Deconvolve10min48k(benchmark::State& state) {
  const int32_t h = initImpulse();
  const int32_t n = generateESS(h, kRate, 20, 20000, 10, 2);
  std::vector<double> recording(static_cast<size_t>(600 * kRate), 0.0);
  {
    std::vector<double> sweep(static_cast<size_t>(n));
    getESS(h, sweep.data());
    for (size_t i = 0; i < sweep.size(); ++i) recording[i + 480] = 0.5 * sweep[i];
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(processInputSignal(h, recording.data(), static_cast<int32_t>(recording.size())));
  deleteImpulse(h);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peakRssMB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_Deconvolve10min48k)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

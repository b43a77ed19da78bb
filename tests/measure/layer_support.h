// What the measurement layer's tests share: owners of the results the layer
// allocates, the responses they analyse, and comparison bit for bit.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fft_convolution.h"
#include "support/temp_path.h"
#include "tavrix.h"
#include "tavrix_measure.h"

namespace tavrix::test {

struct LayerFree {
  void operator()(tvm_reverb_report* r) const { tvm_free_reverb_report(r); }
  void operator()(tvm_audio* a) const { tvm_free_audio(a); }
  void operator()(tvm_distortion_report* d) const { tvm_free_distortion_report(d); }
};
using ReverbReport = std::unique_ptr<tvm_reverb_report, LayerFree>;
using AudioData = std::unique_ptr<tvm_audio, LayerFree>;
using DistortionReport = std::unique_ptr<tvm_distortion_report, LayerFree>;

inline tvm_response responseOf(const std::vector<double>& x, const char* name = nullptr, int32_t rate = 48000,
                               double quantisationStep = 0) {
  return {name, x.data(), static_cast<int64_t>(x.size()), rate, quantisationStep, 0, 0};
}

inline tvm_reverb_options defaultOptions() {
  tvm_reverb_options o;
  tvm_reverb_options_init(&o);
  return o;
}

// An analysis that is expected to succeed (a failure names itself).
inline ReverbReport analyse(const std::vector<tvm_response>& responses, const tvm_reverb_options& options) {
  tvm_reverb_report* out = nullptr;
  const int32_t code =
      tvm_analyse_reverb(responses.data(), static_cast<int32_t>(responses.size()), &options, &out);
  EXPECT_EQ(code, TVM_OK) << tvm_last_error();
  return ReverbReport(out);
}

inline bool contains(const char* text, const std::string& part) {
  return text != nullptr && std::string(text).find(part) != std::string::npos;
}

inline bool sameBits(const double* a, const double* b, size_t n) {
  return n == 0 || std::memcmp(a, b, n * sizeof(double)) == 0;
}

// A diffuse decay alike in every band: a direct sound at `start` s, then white
// noise whose level falls 60 dB in t60 s, over a steady floor (by default 70 dB
// below the start of the decay).
inline std::vector<double> decayingNoise(double t60, double seconds, double start, unsigned seed,
                                         int rate = 48000, double floorAmplitude = 3e-5) {
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss;
  std::vector<double> x(static_cast<size_t>(seconds * rate));
  for (size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i) / rate - start;
    x[i] =
        floorAmplitude * gauss(random) + (t >= 0 ? 0.1 * gauss(random) * std::pow(10.0, -3 * t / t60) : 0.0);
  }
  x[static_cast<size_t>(start * rate)] = 0.9;
  return x;
}

// Reverberation alone, at 48 kHz: per octave band from firstBand on, a noise
// decaying in that band's time, with its envelope flattened (only the phase
// kept, then band-limited again) so that its energy follows the exponential
// closely from the first millisecond. The filters run half a second before
// the noise is used, so that their rise from rest stays out of it. The decays
// start a quarter into the response; a host's own use of the library takes
// the layer's lock.
inline std::vector<double> octaveRoom(const std::vector<double>& t60, int firstBand, double seconds,
                                      unsigned seed) {
  constexpr double fs = 48000;
  const size_t n = static_cast<size_t>(seconds * fs), settle = static_cast<size_t>(fs / 2), start = n / 4;
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss;
  std::vector<double> x(n, 0.0), noise(settle + n);
  tvm_lock_library();
  const int32_t bank = initFilterBank(1, firstBand, firstBand + static_cast<int>(t60.size()) - 1);
  for (size_t b = 0; b < t60.size(); ++b) {
    const int band = firstBand + static_cast<int>(b);
    for (double& v : noise) v = gauss(random);
    filterSingleBand(bank, noise.data(), static_cast<int32_t>(noise.size()), band);
    noise = measure::unitEnvelope(noise);
    filterSingleBand(bank, noise.data(), static_cast<int32_t>(noise.size()), band);
    for (size_t i = start; i < n; ++i)
      x[i] +=
          noise[settle + i] * std::exp(-3 * std::log(10.0) * static_cast<double>(i - start) / fs / t60[b]);
  }
  deleteFilterBank(bank);
  tvm_unlock_library();
  for (double& v : x) v = 0.1 * v + 1e-6 * gauss(random);
  return x;
}

}  // namespace tavrix::test

// Rooms whose answer is known: exponentially decaying noise behind a quiet
// lead-in, measured through the library's sweep and deconvolution.
#pragma once

#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "numeric/fft.h"
#include "tavrix.h"

namespace tavrix::test {

struct RoomSpec {
  double t60 = 1.0;            // s: the diffuse field falls 60 dB in this time
  double floorBelowDb = 60.0;  // background noise below the diffuse field's start
  double leadSeconds = 0.6;    // quiet before the direct sound
  double lengthSeconds = 4.4;  // the whole response
  unsigned seed = 1;
  // Instead of noise, one decaying tone at the centre of each octave band
  // 125 Hz - 8 kHz: every octave band then sees a clean exponential decay,
  // free of the statistical spread of a single noise decay.
  bool tonal = false;
};

// Direct sound of amplitude 1 at leadSeconds, followed by Gaussian noise of
// rms 0.1 (or tones of that rms each) whose amplitude falls 60 dB in t60,
// over a steady noise floor.
inline std::vector<double> syntheticRoom(const RoomSpec& room, double fs) {
  const size_t n = static_cast<size_t>(room.lengthSeconds * fs);
  const size_t direct = static_cast<size_t>(room.leadSeconds * fs);
  std::mt19937 random(room.seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  const double diffuseRms = 0.1;
  const double floorRms = diffuseRms * std::pow(10.0, -room.floorBelowDb / 20.0);
  std::vector<double> h(n);
  for (size_t i = 0; i < n; ++i) {
    h[i] = floorRms * gauss(random);
    if (i == direct) h[i] += 1.0;
    if (i > direct) {
      const double t = static_cast<double>(i - direct) / fs;
      const double decay = std::pow(10.0, -3.0 * t / room.t60);
      if (!room.tonal) {
        h[i] += diffuseRms * gauss(random) * decay;
      } else {
        for (int octave = -3; octave <= 3; ++octave) {
          const double f = 1000.0 * std::pow(2.0, octave);
          h[i] += diffuseRms * std::sqrt(2.0) * decay * std::cos(2.0 * 3.141592653589793 * f * t + octave);
        }
      }
    }
  }
  return h;
}

// The room's response as the library measures it: a 20 Hz - 20 kHz sweep
// of sweepSeconds played through the room (linear convolution), recorded, and
// deconvolved. Returns the impulse response (nfft samples), empty on failure.
inline std::vector<double> measureThroughSweep(const std::vector<double>& room, double fs,
                                               double sweepSeconds) {
  const int32_t handle = initImpulse();
  std::vector<double> ir;
  if (handle < 0) return ir;
  const int32_t sweepLength = generateESS(handle, fs, 20.0, 20000.0, sweepSeconds, 1.0);
  if (sweepLength > 0) {
    std::vector<double> sweep(static_cast<size_t>(sweepLength));
    getESS(handle, sweep.data());
    const int32_t recordingLength = sweepLength + static_cast<int32_t>(room.size()) - 1;
    const int32_t n = fftLengthFor(recordingLength);
    std::vector<double> a(2 * static_cast<size_t>(n)), b(2 * static_cast<size_t>(n));
    for (size_t i = 0; i < sweep.size(); ++i) a[2 * i] = sweep[i];
    for (size_t i = 0; i < room.size(); ++i) b[2 * i] = room[i];
    fftForward(a.data(), n);
    fftForward(b.data(), n);
    for (int32_t k = 0; k < n; ++k) {
      const double re = a[2 * k] * b[2 * k] - a[2 * k + 1] * b[2 * k + 1];
      const double im = a[2 * k] * b[2 * k + 1] + a[2 * k + 1] * b[2 * k];
      a[2 * k] = re;
      a[2 * k + 1] = im;
    }
    fftInverse(a.data(), n);
    std::vector<double> recording(static_cast<size_t>(recordingLength));
    for (size_t i = 0; i < recording.size(); ++i) recording[i] = a[2 * i];
    const int32_t nfft = processInputSignal(handle, recording.data(), recordingLength);
    if (nfft > 0) {
      ir.resize(static_cast<size_t>(nfft));
      getImpulseResponse(handle, ir.data());
    }
  }
  deleteImpulse(handle);
  return ir;
}

// The rooms the reverberation tests share, measured once per program at
// 48 kHz through a 1 s sweep (recording and response fit 2^18 samples): noise
// floor 60 dB below the diffuse field, 50 dB for a T60 of 2 s or more so that
// the decay meets it well within the response, and 45 dB for tonal rooms,
// whose energy is concentrated in seven lines while the floor is spread wide.
constexpr double kRoomRate = 48000.0;
constexpr double kRoomSweepSeconds = 1.0;
inline const std::vector<double>& measuredRoom(double t60, bool tonal) {
  static std::map<std::pair<double, bool>, std::vector<double>> cache;
  auto it = cache.find({t60, tonal});
  if (it == cache.end()) {
    RoomSpec room;
    room.t60 = t60;
    room.floorBelowDb = tonal ? 45.0 : (t60 < 2.0 ? 60.0 : 50.0);
    room.seed = static_cast<unsigned>(t60 * 10.0);
    room.tonal = tonal;
    const auto ir = measureThroughSweep(syntheticRoom(room, kRoomRate), kRoomRate, kRoomSweepSeconds);
    it = cache.emplace(std::make_pair(t60, tonal), ir).first;
  }
  return it->second;
}

}  // namespace tavrix::test

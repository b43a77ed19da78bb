// The impulse measurement: sweep, recording, transfer function, impulse response.
#pragma once

#include <cstdint>
#include <memory>

#include "filters/filter_bank.h"
#include "numeric/dyn_array.h"

namespace tavrix {

struct ImpulseMeasurement {
  DynArray<double> sweep;             // excitation; reference channel in two-channel calibration
  DynArray<double> recording;         // recorded response
  DynArray<double> transferFunction;  // 2 * nfft doubles, interleaved re, im
  DynArray<double> impulseResponse;   // nfft samples
  double startFrequency = 0.0;        // Hz
  double endFrequency = 0.0;          // Hz
  double duration = 0.0;              // s
  double tailDuration = 0.0;          // s; silence after the sweep in the playback file is this + 1 s
  bool fade = false;
  double sampleRate = 0.0;            // Hz
  int32_t nfft = 0;
  double windowWidth = 0.1;           // calibration window half-width, s
  std::unique_ptr<FilterBank> bandFilter;
  bool averageToOctaveFraction = true;
  bool calibrated = false;            // impulse response gated by the calibration window

  bool hasSweep() const { return sweep.size() > 0; }
  bool hasImpulseResponse() const { return nfft > 0 && impulseResponse.size() == nfft; }
};

// H = recording / sweep over nfft = fftLengthFor(recording length); -1 without
// sweep or recording or when the recording is shorter than the sweep.
int32_t deconvolve(ImpulseMeasurement& m);
// impulseResponse = real part of the inverse transform of the transfer function.
int32_t computeImpulseResponse(ImpulseMeasurement& m);

}  // namespace tavrix

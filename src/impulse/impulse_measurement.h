// The impulse measurement: sweep, recording, transfer function, impulse response.
#pragma once

#include <cstdint>
#include <memory>

#include "filters/filter_bank.h"
#include "numeric/dyn_array.h"

namespace tavrix {

// The sweep's spectrum at one transform length, kept with a copy of the sweep it
// came from: every later recording against the same sweep and nfft reuses it.
struct SweepSpectrum {
  int32_t nfft = 0;
  DynArray<double> sweep;     // the sweep the spectrum was computed from
  DynArray<double> spectrum;  // bins 0 .. nfft/2, interleaved re, im
};

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
  double sampleRate = 0.0;  // Hz
  int32_t nfft = 0;
  double windowWidth = 0.1;  // calibration window half-width, s
  std::unique_ptr<FilterBank> bandFilter;
  bool averageToOctaveFraction = true;
  bool calibrated = false;      // impulse response gated by the calibration window
  SweepSpectrum sweepSpectrum;  // kept between recordings, see deconvolve

  bool hasSweep() const { return sweep.size() > 0; }
  bool hasImpulseResponse() const { return nfft > 0 && impulseResponse.size() == nfft; }
};

// H = recording / sweep over nfft = fftLengthFor(recording length); -1 without
// sweep or recording or when the recording is shorter than the sweep. The
// sweep's spectrum is kept for the next recording when it takes at most
// kKeptSweepSpectrumBins bins (64 MB; nfft up to 2^23, recordings up to about
// 170 s at 48 kHz): longer transforms would add it to an already large peak.
constexpr int32_t kKeptSweepSpectrumBins = (1 << 22) + 1;
int32_t deconvolve(ImpulseMeasurement& m);
// impulseResponse = real part of the inverse transform of the transfer function.
int32_t computeImpulseResponse(ImpulseMeasurement& m);

}  // namespace tavrix

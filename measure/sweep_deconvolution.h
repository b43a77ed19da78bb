// The impulse response of a recording made with any sweep file (another
// program's, or the tool's own playback file), by regularised spectral
// division, cut around its direct sound so that the decay analysis needs no
// durations.
//
// H = Y X* / (|X|^2 + eps(f)): inside the sweep's band eps lies far below
// |X|^2 and the division is exact; outside it eps lies far above, so the
// bands the sweep never excited hold attenuated noise instead of noise
// divided by almost nothing. The band is read off the sweep's own spectrum.
#pragma once

#include <string>
#include <vector>

#include "response_input.h"

namespace tavrix::measure {

// The band is where the sweep's spectrum, smoothed over a sixth of an
// octave, lies within this many dB of its maximum (an exponential sweep
// falls 3 dB per octave, 30 dB over 20 Hz to 20 kHz).
constexpr double kSweepBandDb = 40;

// The response starts this long before its direct sound: the decay
// analysis's window opens 0.1 s before the onset. The harmonic distortion
// products of an exponential sweep lie in front of the linear response, the
// second by the time the sweep takes for an octave, so they stay outside
// when that is 0.1 s or more (a sweep of 1 s or more over 20 Hz to 20 kHz).
constexpr double kResponseLeadSeconds = 0.1;

struct Deconvolution {
  // From leadSeconds before the direct sound to the end of the linear
  // response that the recording holds in full (its length less the sweep's).
  std::vector<double> response;
  int sampleRate = 0;         // the recording's
  size_t directIndex = 0;     // the direct sound: the response's largest magnitude
  double leadSeconds = 0;     // directIndex / sampleRate
  double latencySeconds = 0;  // the direct sound re the sweep file's first sample, both started together
  double bandLowHz = 0, bandHighHz = 0;  // the band the division is exact in
  std::vector<std::string> notes;        // what was done, one sentence each
};

// Deconvolves the recording with the sweep that was played. A sweep at
// another rate is resampled to the recording's; the silence (below -80 dB
// re its peak) at the sweep file's ends is left out. Failures name the
// recording or the sweep: TVM_BAD_ARGUMENT for bad arrays, a recording
// shorter than the sweep or one that ends before the direct sound's sweep
// does, TVM_SILENT for a sweep or recording of nothing but silence, and
// TVM_NO_SIGNAL for a recording of noise alone (see signal_presence.h).
Deconvolution deconvolveSweep(const AudioView& recording, const AudioView& sweep);

}  // namespace tavrix::measure

// What the layer does to an impulse response before the band analysis: cut
// the digital silence a file may end in, and bring the response to the rate
// the library's band filters are designed for.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "audio_io.h"

namespace tavrix::measure {

// The library's band and weighting filters are fixed designs for this rate.
constexpr int kDesignRate = 48000;

// A response as it came, by reference: one channel's samples and what its
// file said about them.
struct AudioView {
  std::string name;
  const double* samples = nullptr;
  size_t length = 0;
  int sampleRate = 0;
  double quantisationStep = 0;    // 0: float data, whose only exact silence is 0
  std::string format;             // "16-bit PCM", ...; empty for arrays
  int channel = 0, channels = 0;  // the file's channel and count; 0 for arrays
};

inline AudioView viewOf(const std::string& name, const Audio& audio) {
  return {name,         audio.samples.data(), audio.samples.size(), audio.sampleRate, audio.quantisationStep,
          audio.format, audio.channel,        audio.channels};
}

// Checks what an array can be: samples, at least one, finite, fewer than
// 2^31, at a whole rate from 1 kHz to 768 kHz (TVM_BAD_ARGUMENT naming it).
void checkResponse(const AudioView& response);

struct Response {
  std::string name;
  std::vector<double> samples;
  int sampleRate = 0;              // the rate analysed
  int sourceRate = 0;              // the response's own rate
  double silenceCutSeconds = 0;    // digital silence cut from the end
  double endCutSeconds = 0;        // then an end far below the noise (a fade, a gate)
  int channel = 0, channels = 0;   // the file's channel and count; 0 for arrays
  std::vector<std::string> notes;  // what was done, one sentence each
};

// How many samples at the end of x are digital silence: magnitudes below the
// format's quantisation step (0 for float files: exact zeros only).
size_t trailingSilence(const double* x, size_t n, double quantisationStep);

// How many samples at the end of x are neither response nor noise: a part
// that lies far below the steady noise floor before it (a fade or a gate its
// author applied, or the rounding-level remainder of a deconvolution after the
// recording ended). 0 when the response does not end on a flat floor that then
// drops, for example a noise-free simulated decay. dropDb returns how far the
// cut part lies below that floor.
size_t trailingDrop(const double* x, size_t n, int sampleRate, double& dropDb);

// x resampled from one rate to another with libsoxr's very-high-quality
// linear-phase filter (28-bit precision), time-aligned with the input.
std::vector<double> resample(const double* x, size_t n, int fromRate, int toRate);

struct ResponseOptions {
  bool cutSilence = true;   // cut trailing digital silence
  bool nativeRate = false;  // keep the response's rate (the bands then move with it)
};

// The response as analysed: silence cut (before resampling, where the zeros
// are still exact), an end far below the noise cut, then resampled to 48 kHz unless the options keep the
// response's rate. A response of nothing but silence is a TVM_SILENT.
Response prepareResponse(const AudioView& audio, const ResponseOptions& options);

}  // namespace tavrix::measure

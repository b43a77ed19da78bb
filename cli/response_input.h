// What the tool does to an impulse response before the band analysis: cut
// the digital silence a file may end in, and bring the response to the rate
// the library's band filters are designed for.
#pragma once

#include <string>
#include <vector>

#include "audio_io.h"

namespace tavrix::cli {

// The library's band and weighting filters are fixed designs for this rate.
constexpr int kDesignRate = 48000;

struct Response {
  std::string name;
  std::vector<double> samples;
  int sampleRate = 0;            // the rate analysed
  int sourceRate = 0;            // the file's own rate
  double silenceCutSeconds = 0;  // digital silence cut from the end
};

// How many samples at the end of x are digital silence: magnitudes below the
// format's quantisation step (0 for float files: exact zeros only).
size_t trailingSilence(const std::vector<double>& x, double quantisationStep);

// x resampled from one rate to another with libsoxr's very-high-quality
// linear-phase filter (28-bit precision), time-aligned with the input.
std::vector<double> resample(const std::vector<double>& x, int fromRate, int toRate);

struct ResponseOptions {
  bool cutSilence = true;   // cut trailing digital silence
  bool nativeRate = false;  // keep the file's rate (the bands then move with it)
  bool verbose = false;     // say on stderr what was done
};

// The response as analysed: silence cut (before resampling, where the zeros
// are still exact), then resampled to 48 kHz unless the options keep the
// file's rate. A file of nothing but silence is a processing error.
Response prepareResponse(const std::string& name, Audio audio, const ResponseOptions& options);

}  // namespace tavrix::cli

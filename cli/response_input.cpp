#include "response_input.h"

#include <soxr.h>

#include <cmath>
#include <cstdio>

#include "cli_error.h"
#include "output.h"

namespace tavrix::cli {

size_t trailingSilence(const std::vector<double>& x, double quantisationStep) {
  size_t n = x.size();
  while (n > 0 && (x[n - 1] == 0.0 || std::fabs(x[n - 1]) < quantisationStep)) --n;
  return x.size() - n;
}

std::vector<double> resample(const std::vector<double>& x, int fromRate, int toRate) {
  if (fromRate == toRate || x.empty()) return x;
  const size_t outLength = static_cast<size_t>(
      std::llround(static_cast<double>(x.size()) * toRate / static_cast<double>(fromRate)));
  std::vector<double> y(outLength, 0.0);
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ | SOXR_LINEAR_PHASE, 0);
  size_t used = 0, made = 0;
  const soxr_error_t error = soxr_oneshot(fromRate, toRate, 1, x.data(), x.size(), &used, y.data(), y.size(),
                                          &made, &io, &quality, nullptr);
  if (error) processingError(std::string("resampling failed (") + error + ")");
  y.resize(made);
  return y;
}

Response prepareResponse(const std::string& name, Audio audio, const ResponseOptions& options) {
  Response r;
  r.name = name;
  r.sourceRate = audio.sampleRate;
  r.sampleRate = audio.sampleRate;
  if (options.cutSilence) {
    const size_t silent = trailingSilence(audio.samples, audio.quantisationStep);
    if (silent == audio.samples.size()) {
      processingError(name +
                      ": the file holds nothing but digital silence; check that it is an impulse response");
    }
    audio.samples.resize(audio.samples.size() - silent);
    r.silenceCutSeconds = static_cast<double>(silent) / audio.sampleRate;
    if (options.verbose && silent > 0) {
      std::fprintf(stderr, "%s: cut %s s of digital silence at the end (%s)\n", name.c_str(),
                   fixed(r.silenceCutSeconds, 3).c_str(),
                   audio.quantisationStep > 0 ? ("samples below the " + audio.format + " step").c_str()
                                              : "exact zeros");
    }
  }
  if (!options.nativeRate && audio.sampleRate != kDesignRate) {
    r.samples = resample(audio.samples, audio.sampleRate, kDesignRate);
    r.sampleRate = kDesignRate;
    if (options.verbose) {
      std::fprintf(stderr,
                   "%s: resampled from %d Hz to %d Hz (libsoxr, very high quality) for the 48 kHz band "
                   "filters\n",
                   name.c_str(), audio.sampleRate, kDesignRate);
    }
  } else {
    r.samples = std::move(audio.samples);
  }
  return r;
}

}  // namespace tavrix::cli

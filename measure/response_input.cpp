#include "response_input.h"

#include <soxr.h>

#include <cmath>
#include <limits>

#include "measure_error.h"
#include "number_text.h"

namespace tavrix::measure {

void checkResponse(const AudioView& r) {
  if (r.samples == nullptr || r.length < 1)
    fail(TVM_BAD_ARGUMENT, r.name + ": the response holds no samples");
  if (r.length > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    fail(TVM_BAD_ARGUMENT, r.name + ": more samples than the library can take (2^31 - 1); shorten it");
  }
  if (r.sampleRate < 1000 || r.sampleRate > 768000) {
    fail(TVM_BAD_ARGUMENT, r.name + ": a sample rate of " + std::to_string(r.sampleRate) +
                               " Hz; give a whole number of Hz from 1000 to 768000");
  }
  if (!(r.quantisationStep >= 0 && r.quantisationStep < 1)) {
    fail(TVM_BAD_ARGUMENT, r.name + ": the quantisation step must lie from 0 (float data) to below 1");
  }
  for (size_t i = 0; i < r.length; ++i) {
    if (!std::isfinite(r.samples[i])) {
      fail(TVM_BAD_ARGUMENT, r.name + ": sample " + std::to_string(i) + " is not a finite number");
    }
  }
}

size_t trailingSilence(const double* x, size_t length, double quantisationStep) {
  size_t n = length;
  while (n > 0 && (x[n - 1] == 0.0 || std::fabs(x[n - 1]) < quantisationStep)) --n;
  return length - n;
}

std::vector<double> resample(const double* x, size_t n, int fromRate, int toRate) {
  if (fromRate == toRate || n == 0) return std::vector<double>(x, x + n);
  const size_t outLength =
      static_cast<size_t>(std::llround(static_cast<double>(n) * toRate / static_cast<double>(fromRate)));
  std::vector<double> y(outLength, 0.0);
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ | SOXR_LINEAR_PHASE, 0);
  size_t used = 0, made = 0;
  const soxr_error_t error =
      soxr_oneshot(fromRate, toRate, 1, x, n, &used, y.data(), y.size(), &made, &io, &quality, nullptr);
  if (error) fail(TVM_INTERNAL, std::string("resampling failed (") + error + ")");
  y.resize(made);
  return y;
}

Response prepareResponse(const AudioView& audio, const ResponseOptions& options) {
  checkResponse(audio);
  Response r;
  r.name = audio.name;
  r.sourceRate = audio.sampleRate;
  r.sampleRate = audio.sampleRate;
  size_t length = audio.length;
  if (options.cutSilence) {
    const size_t silent = trailingSilence(audio.samples, audio.length, audio.quantisationStep);
    if (silent == audio.length) {
      fail(TVM_SILENT,
           audio.name +
               ": the response holds nothing but digital silence; check that it is an impulse response");
    }
    length -= silent;
    r.silenceCutSeconds = static_cast<double>(silent) / audio.sampleRate;
    if (silent > 0) {
      const std::string what =
          audio.quantisationStep > 0
              ? "samples below the " + (audio.format.empty() ? "format's" : audio.format) + " step"
              : "exact zeros";
      r.notes.push_back("cut " + duration(r.silenceCutSeconds) + " of digital silence at the end (" + what +
                        ")");
    }
  }
  if (!options.nativeRate && audio.sampleRate != kDesignRate) {
    r.samples = resample(audio.samples, length, audio.sampleRate, kDesignRate);
    r.sampleRate = kDesignRate;
    r.notes.push_back("resampled from " + std::to_string(audio.sampleRate) + " Hz to " +
                      std::to_string(kDesignRate) +
                      " Hz (libsoxr, very high quality) for the 48 kHz band filters");
  } else {
    r.samples.assign(audio.samples, audio.samples + length);
  }
  return r;
}

}  // namespace tavrix::measure

#include "response_input.h"

#include <soxr.h>

#include <algorithm>
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

namespace {

// Levels are judged in 10 ms blocks: short enough to find where a fade
// starts, long enough that a block of noise scatters by a decibel or two.
constexpr double kBlockSeconds = 0.010;
// The floor is the 0.3 s before the cut: it must be steady, as noise is and
// a decay is not (its blocks' middle 80 % within 6 dB, its two halves within
// 3 dB: a 3 s decay already falls 6 dB in that time), ...
constexpr int kFloorBlocks = 30;
constexpr double kFloorSpreadDb = 6, kFloorTrendDb = 3;
// ... and all that follows lies at least 20 dB below its median, which no
// noise does and a decay into a floor cannot.
constexpr double kDropDb = 20;
// The cut starts where the level first falls 3 dB below the floor (the start
// of a fade), so that no part of the fade is taken for noise.
constexpr double kFadeStartDb = 3;

double median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

}  // namespace

size_t trailingDrop(const double* x, size_t n, int sampleRate, double& dropDb) {
  dropDb = 0;
  const size_t b = static_cast<size_t>(std::lround(kBlockSeconds * sampleRate));
  if (b < 1) return 0;
  const size_t blocks = n / b;
  if (blocks < kFloorBlocks + 2) return 0;
  std::vector<double> level(blocks);
  for (size_t i = 0; i < blocks; ++i) {
    double sum = 0;
    for (size_t k = i * b; k < (i + 1) * b; ++k) sum += x[k] * x[k];
    level[i] =
        sum > 0 ? 10 * std::log10(sum / static_cast<double>(b)) : -std::numeric_limits<double>::infinity();
  }
  // tailMax[i]: the loudest block from i to the end (the samples after the
  // last whole block count with it).
  std::vector<double> tailMax(blocks + 1, -std::numeric_limits<double>::infinity());
  double rest = 0;
  for (size_t k = blocks * b; k < n; ++k) rest += x[k] * x[k];
  if (rest > 0) tailMax[blocks] = 10 * std::log10(rest / static_cast<double>(n - blocks * b));
  for (size_t i = blocks; i-- > 0;) tailMax[i] = std::max(tailMax[i + 1], level[i]);
  // The response's loudest block: the floor lies after it.
  const size_t peak = static_cast<size_t>(std::max_element(level.begin(), level.end()) - level.begin());
  for (size_t c = std::max(peak + 1, static_cast<size_t>(kFloorBlocks)); c < blocks; ++c) {
    const std::vector<double> floor(level.begin() + static_cast<std::ptrdiff_t>(c - kFloorBlocks),
                                    level.begin() + static_cast<std::ptrdiff_t>(c));
    const double floorDb = median(floor);
    if (!std::isfinite(floorDb) || !(tailMax[c] < floorDb - kDropDb)) continue;
    std::vector<double> sorted = floor;
    std::sort(sorted.begin(), sorted.end());
    const double spread = sorted[kFloorBlocks * 9 / 10] - sorted[kFloorBlocks / 10];
    const double firstHalf = median({floor.begin(), floor.begin() + kFloorBlocks / 2});
    const double secondHalf = median({floor.begin() + kFloorBlocks / 2, floor.end()});
    if (!(spread < kFloorSpreadDb) || !(std::fabs(firstHalf - secondHalf) < kFloorTrendDb)) continue;
    // Back to where the fade starts.
    size_t cut = c;
    while (cut > c - kFloorBlocks / 2 && level[cut - 1] < floorDb - kFadeStartDb) --cut;
    dropDb = floorDb - tailMax[c];
    return n - cut * b;
  }
  return 0;
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
  r.channel = audio.channel;
  r.channels = audio.channels;
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
  if (options.cutSilence) {
    double dropDb = 0;
    const size_t dropped = trailingDrop(audio.samples, length, audio.sampleRate, dropDb);
    if (dropped > 0) {
      length -= dropped;
      r.endCutSeconds = static_cast<double>(dropped) / audio.sampleRate;
      r.notes.push_back("cut " + duration(r.endCutSeconds) + " at the end that lies " + fixed(dropDb, 0) +
                        " dB or more below the steady noise before it (a fade, a gate, or the end of the "
                        "recording): it holds neither the decay nor the noise floor");
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

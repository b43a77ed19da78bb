#include "sweep_deconvolution.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>

#include "fft_convolution.h"
#include "measure_error.h"
#include "number_text.h"
#include "signal_presence.h"

namespace tavrix::measure {

namespace {

using Complex = std::complex<double>;

// Samples this far below the sweep's peak at the ends of its file are
// silence (dither of a 16-bit file lies near -90 dB), not sweep.
constexpr double kSweepSilenceDb = 80;

// Regularisation, re the largest smoothed |X|^2: far below the band edge's
// level inside the band (the division there is exact to 0.1 dB), at the
// maximum outside it (the response there falls at least kSweepBandDb below
// the exact one). It moves from one to the other over a third of an octave
// beyond each edge, as a raised cosine in dB.
constexpr double kInsideDb = kSweepBandDb + 20;
constexpr double kTaperOctaves = 1.0 / 3;

// The spectrum is smoothed over a sixth of an octave before the band is
// read off it, so that the ripple of a sweep's spectrum makes no holes.
constexpr double kSmoothingOctaves = 1.0 / 6;

double dbToPower(double db) { return std::pow(10.0, db / 10); }

size_t powerOfTwoAtLeast(size_t n) {
  size_t p = 2;
  while (p < n) p <<= 1;
  return p;
}

// Means of p over bins k 2^(-w/2) .. k 2^(w/2) for w octaves (bin 0 alone).
std::vector<double> smoothed(const std::vector<double>& p, double octaves) {
  std::vector<double> sum(p.size() + 1, 0.0);
  for (size_t k = 0; k < p.size(); ++k) sum[k + 1] = sum[k] + p[k];
  const double half = std::exp2(octaves / 2);
  std::vector<double> s(p.size());
  s[0] = p[0];
  for (size_t k = 1; k < p.size(); ++k) {
    const size_t lo = std::max<size_t>(1, static_cast<size_t>(std::floor(k / half)));
    const size_t hi = std::min(p.size() - 1, static_cast<size_t>(std::ceil(k * half)));
    s[k] = (sum[hi + 1] - sum[lo]) / static_cast<double>(hi - lo + 1);
  }
  return s;
}

// eps at bin k, given the band's edge bins and the regularisation inside and
// outside it.
double regularisation(size_t k, size_t low, size_t high, double inside, double outside) {
  double octaves = 0;  // how far outside the band
  if (k < low) octaves = k == 0 ? kTaperOctaves : std::log2(static_cast<double>(low) / k);
  if (k > high) octaves = std::log2(static_cast<double>(k) / high);
  if (octaves >= kTaperOctaves) return outside;
  const double w = 0.5 - 0.5 * std::cos(std::numbers::pi * octaves / kTaperOctaves);
  return inside * std::pow(outside / inside, w);
}

// A band edge to three figures: "0.0458 Hz", "147 Hz", "20.8 kHz".
std::string hzText(double f) {
  char text[32];
  std::snprintf(text, sizeof text, f >= 1000 ? "%.3g kHz" : "%.3g Hz", f >= 1000 ? f / 1000 : f);
  return text;
}

}  // namespace

Deconvolution deconvolveSweep(const AudioView& recording, const AudioView& sweepFile) {
  checkResponse(recording);
  checkResponse(sweepFile);
  const int fs = recording.sampleRate;
  Deconvolution d;
  d.sampleRate = fs;

  std::vector<double> sweep = resample(sweepFile.samples, sweepFile.length, sweepFile.sampleRate, fs);
  if (sweepFile.sampleRate != fs) {
    d.notes.push_back("resampled the sweep from " + std::to_string(sweepFile.sampleRate) + " Hz to the " +
                      recording.name + "'s " + std::to_string(fs) + " Hz (libsoxr, very high quality)");
  }
  double peak = 0;
  for (double v : sweep) peak = std::max(peak, std::fabs(v));
  if (!(peak > 0)) {
    fail(TVM_SILENT, sweepFile.name +
                         ": the sweep holds nothing but digital silence; check that it is the "
                         "file that was played");
  }
  // Lags count from the sweep's first sound; the latency from the file's
  // first sample.
  const double quiet = peak * std::pow(10.0, -kSweepSilenceDb / 20);
  size_t first = 0, end = sweep.size();
  while (std::fabs(sweep[first]) < quiet) ++first;
  while (std::fabs(sweep[end - 1]) < quiet) --end;
  if (first > 0 || end < sweep.size()) {
    d.notes.push_back("left out the sweep file's silence: " + duration(static_cast<double>(first) / fs) +
                      " before the sweep, " + duration(static_cast<double>(sweep.size() - end) / fs) +
                      " after it");
  }
  const size_t m = end - first, n = recording.length;
  if (n < m) {
    fail(TVM_BAD_ARGUMENT, recording.name + ": " + duration(static_cast<double>(n) / fs) +
                               " long, shorter than the " + duration(static_cast<double>(m) / fs) +
                               " sweep in " + sweepFile.name +
                               "; record the whole playback and the decay after it");
  }
  if (std::all_of(recording.samples, recording.samples + n, [](double v) { return v == 0.0; })) {
    fail(TVM_SILENT, recording.name +
                         ": the recording holds nothing but digital silence; check the input "
                         "channel and its level");
  }

  // Long enough that the negative lags (distortion products, the inverse
  // filter's own length) wrap into room of their own behind the recording.
  const size_t nfft = powerOfTwoAtLeast(n + m);
  const std::vector<Complex> X = realForward(sweep.data() + first, m, nfft);
  std::vector<Complex> H = realForward(recording.samples, n, nfft);
  std::vector<double> power(X.size());
  for (size_t k = 0; k < X.size(); ++k) power[k] = std::norm(X[k]);
  const std::vector<double> level = smoothed(power, kSmoothingOctaves);
  const double top = *std::max_element(level.begin() + 1, level.end());
  const double edge = top * dbToPower(-kSweepBandDb);
  size_t low = 1, high = level.size() - 1;
  while (level[low] < edge) ++low;
  while (level[high] < edge) --high;
  const double binHz = static_cast<double>(fs) / static_cast<double>(nfft);
  d.bandLowHz = low * binHz;
  d.bandHighHz = high * binHz;
  const double inside = top * dbToPower(-kInsideDb), outside = top;
  for (size_t k = 0; k < H.size(); ++k)
    H[k] = H[k] * std::conj(X[k]) / (power[k] + regularisation(k, low, high, inside, outside));
  const std::vector<double> h = realInverse(H, nfft);

  // The direct sound: the largest magnitude at a lag the recording reaches.
  // Lags up to n - m hold the whole sweep's response; later ones lose the
  // sweep's end.
  const size_t complete = n - m;
  const auto loudest = std::max_element(h.begin(), h.begin() + static_cast<std::ptrdiff_t>(n),
                                        [](double a, double b) { return std::fabs(a) < std::fabs(b); });
  const size_t direct = static_cast<size_t>(loudest - h.begin());
  d.latencySeconds = (static_cast<double>(direct) - static_cast<double>(first)) / fs;
  if (direct >= complete) {
    // The recording stops before the sweep has finished arriving.
    fail(TVM_BAD_ARGUMENT,
         recording.name + ": the sweep arrives " + duration(static_cast<double>(direct) / fs) +
             " into the recording and so ends there at " + duration(static_cast<double>(direct + m) / fs) +
             ", after the recording's end at " + duration(static_cast<double>(n) / fs) +
             "; record at least " + duration(static_cast<double>(direct - complete) / fs) +
             " longer, and the decay after it");
  }
  // From the lead before the direct sound (negative lags wrap around the
  // end) to the last complete lag.
  const size_t lead = static_cast<size_t>(std::lround(kResponseLeadSeconds * fs));
  d.response.resize(lead + complete - direct);
  for (size_t i = 0; i < d.response.size(); ++i) d.response[i] = h[(direct + nfft - lead + i) % nfft];
  requireResponse(recording.name, d.response.data(), d.response.size());
  d.directIndex = lead;
  d.leadSeconds = static_cast<double>(lead) / fs;
  d.notes.push_back("divided by the sweep's spectrum from " + hzText(d.bandLowHz) + " to " +
                    hzText(d.bandHighHz) + " (within " + fixed(kSweepBandDb, 0) +
                    " dB of its maximum); regularised outside");
  return d;
}

}  // namespace tavrix::measure

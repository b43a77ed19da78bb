#include "distortion.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "bands.h"
#include "fft_convolution.h"
#include "measure_error.h"
#include "number_text.h"

namespace tavrix::measure {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Part of each window before the response's start (the deconvolution's
// ringing and a direct sound that is not the peak), at most 5 ms, and the
// raised-cosine fade at the window's end, a tenth of it.
constexpr double kLeadSeconds = 0.005, kLeadShare = 0.1, kFadeShare = 0.1;

// The shortest window: 20 ms resolve third octaves from about 650 Hz up.
constexpr double kMinWindowSeconds = 0.020;

// A band's energy needs this many frequency bins of the window's spectrum.
constexpr int kMinBins = 3;

// Third-octave band edges: the mid-band frequency times 10^(+-1/20).
const double kHalfBand = std::pow(10.0, 0.05);

// Third-octave bands of the library's numbering: 12 (16 Hz) to 43 (20 kHz).
constexpr int kFirstThird = 12, kLastThird = 43;

// Mean of spectrum bins in [low, high) Hz; NaN when too few bins fall there.
double bandMean(const std::vector<double>& power, double binHz, double low, double high) {
  const size_t first = static_cast<size_t>(std::ceil(low / binHz));
  const size_t last = std::min(power.size(), static_cast<size_t>(std::ceil(high / binHz)));
  if (last < first + kMinBins) return kNaN;
  double sum = 0;
  for (size_t k = first; k < last; ++k) sum += power[k];
  return sum / static_cast<double>(last - first);
}

}  // namespace

DistortionResult analyseDistortion(const std::vector<double>& response, const SweepShape& sweep,
                                   int firstHarmonic, int lastHarmonic) {
  const bool shapeOk = std::isfinite(sweep.sampleRate) && sweep.sampleRate >= 1000 &&
                       std::isfinite(sweep.from) && sweep.from > 0 && std::isfinite(sweep.to) &&
                       sweep.to > sweep.from && std::isfinite(sweep.seconds) && sweep.seconds > 0;
  if (!shapeOk) {
    fail(TVM_BAD_ARGUMENT,
         "the sweep needs a rate of at least 1000 Hz, 0 < start < end frequency and a "
         "positive duration");
  }
  if (firstHarmonic < 2 || lastHarmonic < firstHarmonic || lastHarmonic > kMaxHarmonic) {
    fail(TVM_BAD_ARGUMENT, "harmonics " + std::to_string(firstHarmonic) + ".." +
                               std::to_string(lastHarmonic) + ": give a range from 2 up to at most " +
                               std::to_string(kMaxHarmonic));
  }
  for (double v : response) {
    if (!std::isfinite(v)) fail(TVM_BAD_ARGUMENT, "the response holds a sample that is not a finite number");
  }
  if (std::all_of(response.begin(), response.end(), [](double v) { return v == 0; })) {
    fail(TVM_BAD_ARGUMENT,
         "the response holds nothing but zeros; check that it is the impulse response of the sweep "
         "measurement");
  }
  DistortionResult result;
  result.firstHarmonic = firstHarmonic;
  result.lastHarmonic = lastHarmonic;
  const double fs = sweep.sampleRate, octaves = std::log(sweep.to / sweep.from);
  const auto advance = [&](int k) { return sweep.seconds * std::log(k) / octaves * fs; };  // samples
  // One window for all: no longer than the gap between the closest
  // neighbours (the highest ones), so that none reaches into the next.
  const double gap = advance(lastHarmonic) - advance(lastHarmonic - 1);
  const size_t length = static_cast<size_t>(gap);
  const size_t lead = static_cast<size_t>(std::min(kLeadSeconds * fs, kLeadShare * gap));
  const size_t n = response.size();
  if (gap < kMinWindowSeconds * fs || advance(lastHarmonic) + gap >= static_cast<double>(n)) {
    fail(TVM_BAD_ARGUMENT,
         "harmonic " + std::to_string(lastHarmonic) + " does not fit the response (it lies " +
             fixed(advance(lastHarmonic) / fs, 3) + " s before the linear response, " + fixed(gap / fs, 3) +
             " s from its neighbour); ask for fewer harmonics or measure with a longer sweep");
  }
  result.windowSeconds = static_cast<double>(length) / fs;
  size_t peak = 0;
  for (size_t i = 1; i < n; ++i) {
    if (std::fabs(response[i]) > std::fabs(response[peak])) peak = i;
  }
  // The window: a half raised cosine over the lead, flat, a half raised
  // cosine over the last tenth.
  const size_t fade = std::max<size_t>(1, static_cast<size_t>(kFadeShare * static_cast<double>(length)));
  std::vector<double> window(length, 1.0);
  for (size_t i = 0; i < lead; ++i) window[i] = 0.5 * (1 - std::cos(M_PI * (i + 0.5) / lead));
  for (size_t i = 0; i < fade; ++i) window[length - 1 - i] = 0.5 * (1 - std::cos(M_PI * (i + 0.5) / fade));
  size_t fftLength = 1;
  while (fftLength < length) fftLength <<= 1;
  const double binHz = fs / static_cast<double>(fftLength);
  // Spectra of the windowed responses: index 0 the linear one, k - 1 harmonic k.
  std::vector<std::vector<double>> spectra;
  for (int k = 1; k <= lastHarmonic; ++k) {
    const double start = static_cast<double>(peak) - (k == 1 ? 0 : advance(k)) - static_cast<double>(lead);
    const int64_t first = static_cast<int64_t>(std::llround(start));
    std::vector<double> cut(length);
    for (size_t i = 0; i < length; ++i) {
      const int64_t at =
          ((first + static_cast<int64_t>(i)) % static_cast<int64_t>(n) + static_cast<int64_t>(n)) %
          static_cast<int64_t>(n);
      cut[i] = response[static_cast<size_t>(at)] * window[i];
    }
    spectra.push_back(powerSpectrum(cut, fftLength));
  }
  // The harmonics are valid up to the sweep's end frequency (beyond it the
  // deconvolution divides by next to nothing) and below half the rate.
  const double top = std::min(sweep.to, fs / 2);
  for (int band = kFirstThird; band <= kLastThird; ++band) {
    const double mid = bandFrequency(BandResolution::Third, band);
    const double low = mid / kHalfBand, high = mid * kHalfBand;
    if (low < sweep.from || high > top) continue;
    const double fundamental = bandMean(spectra[0], binHz, low, high);
    if (!(fundamental > 0)) continue;
    DistortionBand b{band, mid, {}, 0};
    double sum = 0;
    for (int k = firstHarmonic; k <= lastHarmonic; ++k) {
      const double h =
          k * high <= top ? bandMean(spectra[static_cast<size_t>(k - 1)], binHz, k * low, k * high) : kNaN;
      b.harmonicsDb.push_back(10 * std::log10(h / fundamental));
      sum += h / fundamental;
    }
    b.thdPercent = 100 * std::sqrt(sum);  // NaN when a harmonic lies beyond the sweep
    result.bands.push_back(b);
  }
  if (result.bands.empty()) {
    fail(TVM_BAD_ARGUMENT, "no third octave lies inside the sweep's " + general(sweep.from) + " to " +
                               general(sweep.to) +
                               " Hz with enough frequency resolution; use a wider or longer sweep");
  }
  return result;
}

}  // namespace tavrix::measure

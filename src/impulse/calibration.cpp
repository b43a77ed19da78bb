#include "impulse/calibration.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "numeric/fft.h"

namespace tavrix {
namespace {

// The fractional-octave points use the base-ten octave ratio 10^0.3 and start
// 17 third-octave steps below 1 kHz (19.95 Hz).
const double kOctaveRatio = std::pow(10.0, 0.3);
constexpr int32_t kThirdOctaveStepsBelow1k = 17;

// nearestIndex over ascending values (the bin frequencies k * fs / N), by
// bisection: the linear search is N/2 long per lookup, which is too slow for
// long responses at 24 points per octave. Distances fall up to the first value
// >= target and rise after it, so the answer is one of the two neighbours;
// equal distances (also those made equal by rounding) go to the earlier index,
// exactly as the linear search decides.
int32_t nearestIndexAscending(const double* values, int32_t count, double target) {
  if (count < 1 || std::isnan(target)) return 0;
  int32_t lo = 0, hi = count;  // first index with values[i] >= target lies in [lo, hi]
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    if (values[mid] < target)
      lo = mid + 1;
    else
      hi = mid;
  }
  int32_t best = lo < count ? lo : count - 1;
  if (lo > 0 && !(std::fabs(values[best] - target) < std::fabs(values[lo - 1] - target))) best = lo - 1;
  while (best > 0 && std::fabs(values[best - 1] - target) == std::fabs(values[best] - target)) --best;
  return best;
}

}  // namespace

int32_t calibrationWindow(ImpulseMeasurement& m) {
  if (!m.hasImpulseResponse()) return -1;
  const int32_t n = m.nfft;
  double* ir = m.impulseResponse.data();

  // Peak: the first largest magnitude; NaNs never win, all zeros give 0.
  int32_t peak = 0;
  double largest = -1.0;
  for (int32_t i = 0; i < n; ++i) {
    if (std::fabs(ir[i]) > largest) {
      largest = std::fabs(ir[i]);
      peak = i;
    }
  }

  // The window is the squared magnitude of a sixth-order Butterworth low-pass
  // with time in place of frequency: flat around the peak, 0.5 at the
  // half-width, then falling by 36 dB per doubling of the distance. Its table
  // is centred at N/2; table index (i - N/2 - peak) mod N puts the centre on
  // the peak and wraps around the ends of the array, so a peak near the start
  // keeps the samples just before it in circular time (the end of the array).
  const double halfWidthSamples = m.windowWidth * m.sampleRate;
  const int64_t centre = n / 2;
  for (int32_t i = 0; i < n; ++i) {
    int64_t j = (static_cast<int64_t>(i) - centre - peak) % n;
    if (j < 0) j += n;
    const double x = static_cast<double>(j - centre) / halfWidthSamples;
    ir[i] = ir[i] * (1.0 / (1.0 + std::pow(x, 12.0)));
  }
  return 0;
}

int32_t calibrationSpectrum(const ImpulseMeasurement& m, DynArray<double>& spectrum) {
  if (!m.hasImpulseResponse()) return -1;
  const int32_t n = m.nfft;
  spectrum.resizeExact(2 * n);
  std::copy(m.impulseResponse.data(), m.impulseResponse.data() + n, spectrum.data());
  const double nyquist = realFftForward(spectrum.data(), n);
  for (int32_t k = n / 2 + 1; k < n; ++k) {
    spectrum[2 * k] = spectrum[2 * (n - k)];
    spectrum[2 * k + 1] = -spectrum[2 * (n - k) + 1];
  }
  if (n > 1) {
    spectrum[n] = nyquist;
    spectrum[n + 1] = 0.0;
  }
  return 0;
}

int32_t narrowBandResponse(const ImpulseMeasurement& m, double* values, double* frequency,
                           double referenceFrequency, bool inDb) {
  DynArray<double> s;
  if (calibrationSpectrum(m, s) != 0) return -1;
  const int32_t n = m.nfft;
  const int32_t bins = n / 2 + 1;
  for (int32_t k = 0; k < bins; ++k) {
    const double magnitude = std::sqrt(s[2 * k] * s[2 * k] + s[2 * k + 1] * s[2 * k + 1]);
    values[k] = inDb ? 20.0 * std::log10(magnitude) : magnitude;
    frequency[k] = k * m.sampleRate / n;
  }
  normaliseToReference(values, frequency, bins, referenceFrequency);
  return 0;
}

int32_t nearestIndex(const double* values, int32_t count, double target) {
  int32_t best = 0;
  double bestDistance = std::numeric_limits<double>::infinity();
  for (int32_t i = 0; i < count; ++i) {
    const double d = std::fabs(values[i] - target);
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

void normaliseToReference(double* values, const double* frequency, int32_t count, double referenceFrequency) {
  if (referenceFrequency == 0.0 || count < 1) return;
  const double reference = values[nearestIndex(frequency, count, referenceFrequency)];
  for (int32_t i = 0; i < count; ++i) values[i] = values[i] - reference;
}

int32_t fractionalOctavePointCount(double sampleRate, int32_t bandsPerOctave) {
  // Octaves of points above the lowest one, so that the last point lies
  // below the Nyquist frequency: up to 19 953, 39 811 or 79 433 Hz.
  int32_t octaves;
  const double rate = std::trunc(sampleRate);
  if (rate == 48000.0)
    octaves = 10;
  else if (rate == 96000.0)
    octaves = 11;
  else if (rate == 192000.0)
    octaves = 12;
  else
    return -1;
  if (bandsPerOctave != 3 && bandsPerOctave != 6 && bandsPerOctave != 12 && bandsPerOctave != 24)
    return kUnsupportedPointsPerOctave;
  return bandsPerOctave * octaves + 1;
}

int32_t fractionalOctaveResponse(const ImpulseMeasurement& m, CalibrationQuantity quantity, double* values,
                                 double* frequency, double referenceFrequency, int32_t bandsPerOctave) {
  const int32_t count = fractionalOctavePointCount(m.sampleRate, bandsPerOctave);
  if (count < 0) return count;
  DynArray<double> s;
  if (calibrationSpectrum(m, s) != 0) return -1;

  // Narrow-band values: linear magnitude (averaged before conversion to dB)
  // or phase in degrees.
  const int32_t n = m.nfft;
  const int32_t bins = n / 2 + 1;
  DynArray<double> binValue(bins), binFrequency(bins);
  for (int32_t k = 0; k < bins; ++k) {
    const double re = s[2 * k], im = s[2 * k + 1];
    binValue[k] = quantity == CalibrationQuantity::kMagnitudeDb
                      ? std::sqrt(re * re + im * im)
                      : std::atan2(im, re) * 180.0 / std::numbers::pi;
    binFrequency[k] = k * m.sampleRate / n;
  }

  const int32_t b = bandsPerOctave;
  const int32_t firstStep = -kThirdOctaveStepsBelow1k * b / 3;
  const double quarterBelow = std::pow(kOctaveRatio, -1.0 / (4.0 * b));
  const double quarterAbove = std::pow(kOctaveRatio, 1.0 / (4.0 * b));
  for (int32_t i = 0; i < count; ++i) {
    const double f = 1000.0 * std::pow(kOctaveRatio, static_cast<double>(firstStep + i) / b);
    frequency[i] = f;
    double v;
    if (m.averageToOctaveFraction) {
      const int32_t lo = nearestIndexAscending(binFrequency.data(), bins, f * quarterBelow);
      const int32_t hi = nearestIndexAscending(binFrequency.data(), bins, f * quarterAbove);
      double sum = 0.0;
      for (int32_t k = lo; k <= hi; ++k) sum += binValue[k];
      v = sum / (hi - lo + 1);
    } else {
      v = binValue[nearestIndexAscending(binFrequency.data(), bins, f)];
    }
    values[i] = quantity == CalibrationQuantity::kMagnitudeDb ? 20.0 * std::log10(v) : v;
  }
  normaliseToReference(values, frequency, count, referenceFrequency);
  return 0;
}

}  // namespace tavrix

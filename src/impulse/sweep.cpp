#include "impulse/sweep.h"

#include <cmath>
#include <limits>

namespace tavrix {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kPi = 3.141592653589793;
// Silence ahead of the sweep in the playback file, so that the player's start
// transient and the recorder's latency never cut into the excitation.
constexpr double kLeadingSilence = 0.2;
// Fade-in over 1/100 of a period of the start frequency, fade-out over ten
// periods of the end frequency: short enough to keep the sweep's band intact,
// long enough to avoid the click of a step at either end.
constexpr double kFadeInPeriodDivisor = 100.0;
constexpr double kFadeOutPeriods = 10.0;

constexpr double kMaxCount = static_cast<double>(std::numeric_limits<int32_t>::max());

// A fade length in samples, truncated and made even. Kept in double: for an
// absurdly low start frequency it may exceed any integer type, and it is only
// compared with sample indices and divided into.
double fadeLength(double samples) {
  double length = std::trunc(samples);
  if (std::fmod(length, 2.0) == 1.0) length += 1.0;
  return length;
}

}  // namespace

bool sweepSettingsValid(const SweepSettings& s) {
  for (double v : {s.sampleRate, s.startFrequency, s.endFrequency, s.duration, s.tailDuration})
    if (!std::isfinite(v)) return false;
  if (s.duration > kMaxSweepDuration || s.duration <= 0.0) return false;
  if (s.startFrequency >= s.endFrequency || s.startFrequency <= 0.0) return false;
  if (s.endFrequency > s.sampleRate / 2.0) return false;
  if (s.tailDuration < kMinTailDuration || s.tailDuration > kMaxTailDuration) return false;
  // A subnormal rate has no finite sample period; a frequency ratio beyond
  // the double range has no finite sweep rate ln(f2 / f1); a single sample is
  // the phase origin, 0, and excites nothing.
  if (!std::isnormal(s.sampleRate) || !std::isfinite(std::log(s.endFrequency / s.startFrequency)))
    return false;
  const double count = std::ceil(s.sampleRate * s.duration);
  return count >= kMinSweepSamples && count <= kMaxCount;
}

bool sweepUsable(const DynArray<double>& sweep) {
  bool excites = false;
  for (double x : sweep) {
    if (!std::isfinite(x)) return false;
    excites = excites || x != 0.0;
  }
  return excites;
}

int32_t sweepLength(const SweepSettings& s) {
  return static_cast<int32_t>(std::ceil(s.sampleRate * s.duration));
}

DynArray<double> generateSweep(const SweepSettings& s, bool fade) {
  const double fs = s.sampleRate;
  const double T = s.duration;
  const double w1 = kTwoPi * s.startFrequency;
  const double w2 = kTwoPi * s.endFrequency;
  // The phase of a sweep whose angular frequency is w1 * exp(t / T * L):
  // its integral, w1 * T / L * (exp(t / T * L) - 1).
  const double L = std::log(w2 / w1);
  const int32_t n = sweepLength(s);
  const double fadeIn = fadeLength((1.0 / s.startFrequency) / kFadeInPeriodDivisor * fs);
  const double fadeOut = fadeLength(kFadeOutPeriods / s.endFrequency * fs);
  const double dt = 1.0 / fs;
  const double phaseScale = T * w1 / L;
  DynArray<double> sweep;
  sweep.resizeExact(n);
  for (int32_t i = 0; i < n; ++i) {
    const double phase = (std::exp(((i * dt) / T) * L) - 1.0) * phaseScale;
    const double x = static_cast<double>(i);
    // The fade-in is tested first: a sample in both ramps takes the fade-in.
    if (fade && x < fadeIn)
      sweep[i] = (1.0 - std::cos(x * kPi / fadeIn)) * (std::sin(phase) * 0.5);
    else if (fade && x > n - fadeOut)
      sweep[i] = (1.0 - std::cos((n - 1 - x) * kPi / fadeOut)) * (std::sin(phase) * 0.5);
    else
      sweep[i] = std::sin(phase);
  }
  return sweep;
}

DynArray<double> sweepPlaybackBuffer(const DynArray<double>& sweep, double sampleRate, double tailDuration,
                                     double gainDb) {
  DynArray<double> out;
  const double pre = std::trunc(sampleRate * kLeadingSilence);
  const double total = std::trunc((tailDuration + 1.0) * sampleRate + sweep.size() + pre);
  if (!(pre >= 0.0 && total >= pre + sweep.size() && total <= kMaxCount)) return out;
  out.resizeExact(static_cast<int32_t>(total));
  const double gain = std::pow(10.0, gainDb / 20.0);
  const int32_t start = static_cast<int32_t>(pre);
  for (int32_t i = 0; i < sweep.size(); ++i) out[start + i] = sweep[i] * gain;
  return out;
}

}  // namespace tavrix

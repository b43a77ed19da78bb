#include "fft_analysis/fft_analysis.h"

#include <cmath>
#include <numbers>
#include <vector>

namespace tavrix {

const double* spectrumHannWindow() {
  // Built by the first call (thread-safe initialisation) and constant after,
  // so analyses on separate threads share it without locks.
  static const std::vector<double> window = [] {
    std::vector<double> w(kSpectrumBlockLength);
    const double denominator = kSpectrumBlockLength - 1;  // symmetric: both ends are zero
    for (int32_t n = 0; n < kSpectrumBlockLength; ++n)
      w[n] = 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * n / denominator));
    return w;
  }();
  return window.data();
}

void fftAnalysisStep(FftAnalysis& analysis, double* buffer) {
  const double* window = spectrumHannWindow();
  double* frame = analysis.frame.data();
  for (int32_t n = 0; n < kSpectrumBlockLength; ++n) frame[n] = buffer[n] * window[n];
  // Real input: bins 0 .. N/2 from the real transform.
  frame[kSpectrumBlockLength] = realFftForward(frame, kSpectrumBlockLength);
  frame[kSpectrumBlockLength + 1] = 0.0;

  // One-sided power: the interior bins carry the energy of their negative-
  // frequency twins (x2) and the peak-to-rms conversion of a sinusoid (x2);
  // DC and Nyquist have no twin. 1/65536 twice normalises the unscaled
  // transform. The window's own gain is deliberately not undone, so a
  // full-scale sine on a bin reads -6.02 dB.
  constexpr double kInverseLength = 1.52587890625e-5;  // 2^-16
  const double frames = analysis.frameCount;
  for (int32_t k = 0; k < kSpectrumBinCount; ++k) {
    const double re = frame[2 * k];
    const double im = frame[2 * k + 1];
    const double sideFactor = (k == 0 || k == kSpectrumBlockLength / 2) ? 2.0 : 4.0;
    const double power = (re * re + im * im) / frames * sideFactor * kInverseLength * kInverseLength;
    buffer[k] = 10.0 * std::log10(power);
  }
  analysis.frameIndex = 0;
  if (analysis.frameCount < 1) ++analysis.frameCount;
}

}  // namespace tavrix

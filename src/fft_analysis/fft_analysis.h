// Hann-windowed 65536-point power spectrum.
#pragma once

#include <array>
#include <cstdint>

#include "numeric/fft.h"

namespace tavrix {

constexpr int32_t kSpectrumBlockLength = 65536;                      // samples per block (2^16)
constexpr int32_t kSpectrumBinCount = kSpectrumBlockLength / 2 + 1;  // one-sided bins 0..32768

// One block's worth of analysis state. The frame lives inline (1 MiB) so a
// step allocates nothing of its own beyond the FFT engine's work arrays.
struct FftAnalysis {
  FftSize fftSize{2 * kSpectrumBlockLength, kSpectrumBlockLength};
  std::array<double, 2 * kSpectrumBlockLength> frame{};  // interleaved complex
  int32_t frameIndex = 0;                                // slot of the frame being filled; always 0, one slot
  int32_t frameCount = 1;                                // frames averaged per spectrum; stays 1
};

// The symmetric 65536-point Hann window w[n] = 0.5 (1 - cos(2 pi n / 65535)),
// computed once on first use.
const double* spectrumHannWindow();

// Replaces buffer[0..32768] by the power spectrum in dB of the 65536 samples
// buffer[0..65535]; buffer[32769..] is left alone. Each call is independent.
void fftAnalysisStep(FftAnalysis& analysis, double* buffer);

}  // namespace tavrix

// Hann-windowed 65536-point power spectrum.
#pragma once

#include <cstdint>

namespace tavrix {

struct FftAnalysis {
  int32_t frameIndex = 0;
  int32_t frameCount = 1;
};

}  // namespace tavrix

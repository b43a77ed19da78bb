// The one WAV reader and writer behind every file operation.
#pragma once

#include <cstdint>

#include "numeric/dyn_array.h"

namespace tavrix {

constexpr int32_t kWaveUnsupportedFormat = -10;

// Reads a mono WAV file (16/24/32-bit PCM or 32-bit float) into doubles via
// single precision. 0; -10 for a format tag other than 1 or 3; -1 otherwise,
// among others for a format chunk under 16 bytes or a sample rate of 0 or
// above 2^31 - 1 (so a rate handed out is always 1 .. 2^31 - 1 Hz).
// sampleRate and sampleCount are set once the header is read, even when the
// samples then fail; samples is only touched on success.
int32_t readWave(const char16_t* path, DynArray<double>& samples, double& sampleRate, int32_t& sampleCount);

// Writes n samples as 16-bit PCM (scaled by 32768 * 0.99, wrapping, no
// clipping) or, with useFloat, 32-bit IEEE float. 0, or -1 when the file
// cannot be created or written.
int32_t writeWave(const char16_t* path, const double* samples, int32_t n, int32_t sampleRate, bool useFloat);

}  // namespace tavrix

// Universal file format, dataset 58 in its binary variant ("58b"): a
// time-history record with fixed-width ASCII header records followed by the
// ordinate values as raw little-endian IEEE doubles.
#pragma once

#include <cstdint>

namespace tavrix {

// Writes n samples (pressure in pascals) sampled evenly at sampleRate Hz,
// starting at t = 0, as one dataset 58b between two "-1" delimiters. The file
// is created or truncated. Text records end in a single line feed.
//
// Always returns 0: a file that cannot be created, a null path, null samples
// with n > 0 or a negative n leave nothing written, and stream errors are not
// reported. A sampleRate <= 0 has no abscissa increment and writes 0.0 there.
int32_t writeUff58b(const char16_t* path, const double* samples, int32_t n, int32_t sampleRate);

}  // namespace tavrix

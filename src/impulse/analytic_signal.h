// FFT-based analytic signal and Hilbert envelope.
#pragma once

#include <cstdint>

#include "numeric/dyn_array.h"

namespace tavrix {

// The Hilbert transform of x[0..n-1] (n >= 1) over the next power of two
// N = fftLengthFor(n): N values, the first n of which belong to x; with x it
// forms the analytic signal x + i H{x}. Throws std::bad_alloc when the work
// buffer cannot be had (n above 2^29 - 1, or memory exhausted).
DynArray<double> hilbertTransform(const double* x, int32_t n);

// Replaces x[0..n-1] by the magnitude of its analytic signal. Returns 0;
// throws as hilbertTransform.
int32_t hilbertEnvelope(double* x, int32_t n);

}  // namespace tavrix

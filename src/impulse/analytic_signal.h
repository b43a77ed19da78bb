// FFT-based analytic signal and Hilbert envelope.
#pragma once

#include <cstdint>

#include "numeric/dyn_array.h"

namespace tavrix {

// The Hilbert transform of x[0..n-1] (n >= 1) over the next power of two
// N = fftLengthFor(n): N values, the first n of which belong to x. Throws as
// analyticSignal.
DynArray<double> hilbertTransform(const double* x, int32_t n);

// re and im receive the analytic signal of x[0..n-1] computed over the next
// power of two (fftLengthFor(n)): re = x, im = its Hilbert
// transform. n < 1 does nothing. Throws std::bad_alloc when the work buffer
// cannot be had (n above 2^29 - 1, or memory exhausted).
void analyticSignal(const double* x, double* re, double* im, int32_t n);

// Replaces x[0..n-1] by the magnitude of its analytic signal. Returns 0;
// throws as analyticSignal.
int32_t hilbertEnvelope(double* x, int32_t n);

}  // namespace tavrix

#include "impulse/analytic_signal.h"

#include <cmath>
#include <new>

#include "numeric/dyn_array.h"
#include "numeric/fft.h"

namespace tavrix {
namespace {

constexpr int32_t kMaxLength = 1 << 29;

// Spectrum of the analytic signal of x[0..n-1], zero-padded to the next power
// of two N, transformed back: the one-sided spectrum keeps DC and the Nyquist
// bin as they are, doubles the positive frequencies and drops the negative
// ones, so the real part returns x and the imaginary part is its Hilbert
// transform. Returns the N complex values interleaved.
// Throws std::bad_alloc when the complex buffer would not fit the array's
// int32 element count (n above 2^29 - 1).
DynArray<double> analyticSpectrumInverse(const double* x, int32_t n) {
  const int32_t length = fftLengthFor(n);
  if (length < 1 || length > kMaxLength) throw std::bad_alloc();
  DynArray<double> z(2 * length);
  // The real transform gives bins 0 .. N/2; the upper ones are dropped anyway.
  for (int32_t i = 0; i < n; ++i) z[i] = x[i];
  const double nyquist = realFftForward(z.data(), length);
  const int32_t half = length / 2;
  if (length > 1) {
    z[length] = nyquist;
    z[length + 1] = 0.0;
  }
  for (int32_t k = 1; k < half; ++k) {
    z[2 * k] *= 2.0;
    z[2 * k + 1] *= 2.0;
  }
  // For N = 1 and 2 there are no bins between DC and Nyquist to change.
  for (int32_t k = half + 1; k < length; ++k) {
    z[2 * k] = 0.0;
    z[2 * k + 1] = 0.0;
  }
  fftInverse(z.data(), length);
  return z;
}

}  // namespace

void analyticSignal(const double* x, double* re, double* im, int32_t n) {
  if (n < 1) return;
  const DynArray<double> z = analyticSpectrumInverse(x, n);
  for (int32_t i = 0; i < n; ++i) {
    re[i] = z[2 * i];
    im[i] = z[2 * i + 1];
  }
}

int32_t hilbertEnvelope(double* x, int32_t n) {
  if (n < 1) return 0;
  const DynArray<double> z = analyticSpectrumInverse(x, n);
  for (int32_t i = 0; i < n; ++i) x[i] = std::sqrt(z[2 * i] * z[2 * i] + z[2 * i + 1] * z[2 * i + 1]);
  return 0;
}

}  // namespace tavrix

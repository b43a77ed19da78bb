#include "impulse/analytic_signal.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "numeric/dyn_array.h"
#include "numeric/fft.h"

namespace tavrix {
namespace {

constexpr int32_t kMaxLength = 1 << 29;

}  // namespace

// Hilbert transform of x[0..n-1] zero-padded to the next power of two N: the
// analytic signal's spectrum keeps DC and the Nyquist bin, doubles the
// positive frequencies and drops the negative ones, so its inverse transform
// has the real part x and, as imaginary part, the real inverse transform of
// -i X[k] for 0 < k < N/2 (DC and Nyquist contribute nothing imaginary).
// Two real transforms of N points; returns the N samples, the first n of
// which are wanted. Throws std::bad_alloc for n above 2^29 - 1, as the
// complex buffer of the full transform would not fit the array's int32 count.
DynArray<double> hilbertTransform(const double* x, int32_t n) {
  const int32_t length = fftLengthFor(n);
  if (length < 1 || length > kMaxLength) throw std::bad_alloc();
  DynArray<double> z = DynArray<double>::uninitialised(length);
  if (length == 1) {  // a single sample has no Hilbert transform but 0
    z[0] = 0.0;
    return z;
  }
  std::copy(x, x + n, z.data());
  std::fill(z.data() + n, z.data() + length, 0.0);
  realFftForward(z.data(), length);
  z[0] = 0.0;
  z[1] = 0.0;
  for (int32_t k = 1; k < length / 2; ++k) {
    const double re = z[2 * k];
    z[2 * k] = z[2 * k + 1];
    z[2 * k + 1] = -re;
  }
  realFftInverse(z.data(), 0.0, length);
  return z;
}

int32_t hilbertEnvelope(double* x, int32_t n) {
  if (n < 1) return 0;
  const DynArray<double> h = hilbertTransform(x, n);
  for (int32_t i = 0; i < n; ++i) x[i] = std::sqrt(x[i] * x[i] + h[i] * h[i]);
  return 0;
}

}  // namespace tavrix

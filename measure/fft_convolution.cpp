#include "fft_convolution.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace tavrix::measure {

namespace {

using Complex = std::complex<double>;

// In-place iterative radix-2 transform; n must be a power of two. The
// twiddles of each stage come from one accurate root per butterfly index, so
// errors do not build up along the stage.
void fft(std::vector<Complex>& x, bool inverse) {
  const size_t n = x.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  const double sign = inverse ? 1.0 : -1.0;
  for (size_t len = 2; len <= n; len <<= 1) {
    const size_t half = len / 2;
    std::vector<Complex> twiddle(half);
    for (size_t k = 0; k < half; ++k) twiddle[k] = std::polar(1.0, sign * 2 * std::numbers::pi * k / len);
    for (size_t start = 0; start < n; start += len) {
      for (size_t k = 0; k < half; ++k) {
        const Complex u = x[start + k];
        const Complex v = x[start + k + half] * twiddle[k];
        x[start + k] = u + v;
        x[start + k + half] = u - v;
      }
    }
  }
}

// exp(-2 pi j k / n) for k = 0 .. n / 2, each from its own accurate root.
std::vector<Complex> halfTurnRoots(size_t n) {
  std::vector<Complex> w(n / 2 + 1);
  for (size_t k = 0; k <= n / 2; ++k) w[k] = std::polar(1.0, -2 * std::numbers::pi * k / n);
  return w;
}

}  // namespace

std::vector<double> convolve(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.empty() || b.empty()) return {};
  const size_t length = a.size() + b.size() - 1;
  size_t n = 1;
  while (n < length) n <<= 1;
  // Both real inputs travel in one complex transform: a in the real part, b
  // in the imaginary part; their spectra separate by conjugate symmetry.
  std::vector<Complex> x(n);
  for (size_t i = 0; i < a.size(); ++i) x[i].real(a[i]);
  for (size_t i = 0; i < b.size(); ++i) x[i].imag(b[i]);
  fft(x, false);
  std::vector<Complex> y(n);
  for (size_t k = 0; k < n; ++k) {
    const Complex p = x[k], q = std::conj(x[(n - k) % n]);
    const Complex fa = (p + q) * 0.5;
    const Complex fb = (p - q) * Complex(0, -0.5);
    y[k] = fa * fb;
  }
  fft(y, true);
  std::vector<double> out(length);
  for (size_t i = 0; i < length; ++i) out[i] = y[i].real() / static_cast<double>(n);
  return out;
}

namespace {

// The analytic signal of x over a power-of-two transform: DC and Nyquist
// kept, the positive frequencies doubled, the negative ones dropped.
std::vector<Complex> analytic(const std::vector<double>& x) {
  size_t n = 1;
  while (n < x.size()) n <<= 1;
  std::vector<Complex> a(n);
  for (size_t i = 0; i < x.size(); ++i) a[i] = x[i];
  fft(a, false);
  for (size_t k = 1; k < n / 2; ++k) a[k] *= 2.0;
  for (size_t k = n / 2 + 1; k < n; ++k) a[k] = 0.0;
  fft(a, true);
  for (Complex& v : a) v /= static_cast<double>(n);
  return a;
}

}  // namespace

std::vector<double> unitEnvelope(const std::vector<double>& x) {
  const std::vector<Complex> a = analytic(x);
  std::vector<double> out(x.size());
  for (size_t i = 0; i < x.size(); ++i) {
    const double magnitude = std::abs(a[i]);
    out[i] = magnitude > 0 ? a[i].real() / magnitude : 0.0;
  }
  return out;
}

std::vector<double> analyticEnergy(const std::vector<double>& x) {
  const std::vector<Complex> a = analytic(x);
  std::vector<double> out(x.size());
  for (size_t i = 0; i < x.size(); ++i) out[i] = std::norm(a[i]);
  return out;
}

std::vector<double> powerSpectrum(const std::vector<double>& x, size_t n) {
  std::vector<Complex> a(n);
  for (size_t i = 0; i < std::min(n, x.size()); ++i) a[i] = x[i];
  fft(a, false);
  std::vector<double> out(n / 2 + 1);
  for (size_t k = 0; k < out.size(); ++k) out[k] = std::norm(a[k]);
  return out;
}

// A real sequence of n samples travels as n / 2 complex ones, z[i] = x[2i] +
// j x[2i + 1]. With E and O the spectra of the even and the odd samples,
// Z = E + j O, and both separate by conjugate symmetry; then
// X(k) = E(k) + w^k O(k) and X(n/2 - k)* = E(k) - w^k O(k), w = exp(-2 pi j / n).
std::vector<Complex> realForward(const double* x, size_t length, size_t n) {
  const size_t half = n / 2;
  std::vector<Complex> z(half);
  for (size_t i = 0; i < std::min(length, n); ++i) {
    if (i % 2 == 0) {
      z[i / 2].real(x[i]);
    } else {
      z[i / 2].imag(x[i]);
    }
  }
  fft(z, false);
  const std::vector<Complex> w = halfTurnRoots(n);
  std::vector<Complex> X(half + 1);
  for (size_t k = 0; k <= half; ++k) {
    const Complex p = z[k % half], q = std::conj(z[(half - k % half) % half]);
    const Complex even = (p + q) * 0.5, odd = (p - q) * Complex(0, -0.5);
    X[k] = even + w[k] * odd;
  }
  return X;
}

std::vector<double> realInverse(const std::vector<Complex>& X, size_t n) {
  const size_t half = n / 2;
  const std::vector<Complex> w = halfTurnRoots(n);
  std::vector<Complex> z(half);
  for (size_t k = 0; k < half; ++k) {
    // Bins 0 and n / 2 of a real sequence are real.
    const Complex a = k == 0 ? Complex(X[0].real(), 0) : X[k];
    const Complex b = k == 0 ? Complex(X[half].real(), 0) : std::conj(X[half - k]);
    const Complex even = (a + b) * 0.5, odd = (a - b) * 0.5 / w[k];
    z[k] = even + Complex(0, 1) * odd;
  }
  fft(z, true);
  std::vector<double> x(n);
  for (size_t i = 0; i < half; ++i) {
    x[2 * i] = z[i].real() / static_cast<double>(half);
    x[2 * i + 1] = z[i].imag() / static_cast<double>(half);
  }
  return x;
}

}  // namespace tavrix::measure

#include "numeric/fft.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <vector>

namespace tavrix {
namespace {

using Complex = std::complex<double>;

bool isPowerOfTwo(int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

// Twiddles w[k] = exp(-2 pi i k / M), k = 0 .. M/2 - 1, taken from one
// quarter-wave table so that each value is a correctly rounded cosine or sine
// and the symmetries hold exactly.
std::vector<Complex> twiddles(int64_t m, bool inverse) {
  std::vector<Complex> w(static_cast<size_t>(std::max<int64_t>(m / 2, 1)));
  if (m < 2) {
    w[0] = 1.0;
    return w;
  }
  const int64_t quarter = m / 4;
  const double step = 2.0 * std::numbers::pi / static_cast<double>(m);
  // q[k] = cos(k * step) for 0 <= k <= quarter (sin of the complement above
  // the octant, where the sine argument is the smaller one).
  std::vector<double> q(static_cast<size_t>(quarter + 1));
  q[0] = 1.0;
  for (int64_t k = 1; k <= quarter / 2; ++k) q[k] = std::cos(static_cast<double>(k) * step);
  for (int64_t k = quarter / 2 + 1; k < quarter; ++k)
    q[k] = std::sin(static_cast<double>(quarter - k) * step);
  if (quarter > 0) q[quarter] = 0.0;
  const double sign = inverse ? 1.0 : -1.0;
  for (int64_t k = 0; k < m / 2; ++k) {
    double c, s;         // cos and sin of 2 pi k / m
    if (quarter == 0) {  // m == 2
      c = 1.0;
      s = 0.0;
    } else if (k <= quarter) {
      c = q[k];
      s = q[quarter - k];
    } else {
      c = -q[m / 2 - k];
      s = q[k - quarter];
    }
    w[k] = Complex(c, sign * s);
  }
  return w;
}

// Stages whose groups fit in this many points are run block by block, so that
// a block stays in cache through all of them (2^12 complex values = 64 KiB).
constexpr int64_t kCacheBlock = int64_t{1} << 12;

// Bit-reversal permutation of m = 2^p values.
void bitReverse(Complex* y, int64_t m) {
  for (int64_t i = 1, j = 0; i < m; ++i) {
    int64_t bit = m >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(y[i], y[j]);
  }
}

inline Complex mul(Complex a, Complex b) {
  // Written out to keep the multiply free of the library's NaN/inf recovery.
  return Complex(a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real());
}

// Multiplication by -i (forward) or +i (inverse): exact, a swap and a sign.
inline Complex rotateQuarter(Complex a, bool inverse) {
  return inverse ? Complex(-a.imag(), a.real()) : Complex(a.imag(), -a.real());
}

// Two decimation-in-time stages at once (half-spans h and 2h) over y[0..len):
// each group of 4h points is finished in one sweep through memory. w holds
// W^k = exp(-+2 pi i k / m) for k < m/2, so W_{2h}^j = w[j m / 2h] and
// W_{4h}^j = w[j m / 4h]; the second pair's twiddle W_{4h}^{j+h} is
// W_{4h}^j rotated by a quarter turn.
void radix4Pass(Complex* y, int64_t len, int64_t h, const Complex* w, int64_t m, bool inverse) {
  const int64_t stride1 = m / (2 * h), stride2 = m / (4 * h);
  for (int64_t start = 0; start < len; start += 4 * h) {
    Complex* p0 = y + start;
    Complex* p1 = p0 + h;
    Complex* p2 = p1 + h;
    Complex* p3 = p2 + h;
    for (int64_t j = 0; j < h; ++j) {
      const Complex w1 = w[j * stride1], w2 = w[j * stride2];
      const Complex t1 = mul(w1, p1[j]), t3 = mul(w1, p3[j]);
      const Complex b0 = p0[j] + t1, b1 = p0[j] - t1;
      const Complex b2 = p2[j] + t3, b3 = p2[j] - t3;
      const Complex u = mul(w2, b2), v = rotateQuarter(mul(w2, b3), inverse);
      p0[j] = b0 + u;
      p2[j] = b0 - u;
      p1[j] = b1 + v;
      p3[j] = b1 - v;
    }
  }
}

// In-place radix-2 decimation-in-time transform of m = 2^p values with the
// twiddle table of length m/2 (forward or inverse sign), unscaled. After the
// bit reversal the stages are taken two at a time; an odd stage count starts
// with one plain radix-2 stage, whose twiddles are all 1.
void radix2(Complex* y, int64_t m, const std::vector<Complex>& twiddle, bool inverse) {
  if (m < 2) return;
  bitReverse(y, m);
  const Complex* w = twiddle.data();
  int64_t h = 1;
  if (std::countr_zero(static_cast<uint64_t>(m)) % 2 == 1) {
    for (int64_t i = 0; i < m; i += 2) {
      const Complex a = y[i], b = y[i + 1];
      y[i] = a + b;
      y[i + 1] = a - b;
    }
    h = 2;
  }
  const int64_t block = std::min(m, kCacheBlock);
  int64_t inBlock = h;
  for (int64_t start = 0; start < m; start += block)
    for (inBlock = h; 4 * inBlock <= block; inBlock *= 4)
      radix4Pass(y + start, block, inBlock, w, m, inverse);
  for (h = inBlock; 4 * h <= m; h *= 4) radix4Pass(y, m, h, w, m, inverse);
}

// Bluestein's chirp-z transform of n values (any n) through power-of-two
// transforms of length m >= 2n - 1.
void bluestein(Complex* x, int64_t n) {
  int64_t m = 1;
  while (m < 2 * n - 1) m *= 2;
  // Chirp c[k] = exp(+i pi k^2 / n) for k = 0 .. n-1; k^2 is reduced modulo 2n
  // in integers so the angle stays exact for large k.
  std::vector<Complex> chirp(static_cast<size_t>(n));
  int64_t r = 0;
  for (int64_t k = 0; k < n; ++k) {
    if (k > 0) {
      r += 2 * k - 1;
      if (r >= 2 * n) r -= 2 * n;
    }
    const double angle = std::numbers::pi * static_cast<double>(r) / static_cast<double>(n);
    chirp[k] = r == 0 ? Complex(1.0, 0.0) : Complex(std::cos(angle), std::sin(angle));
  }
  const auto forward = twiddles(m, false);
  const auto inverse = twiddles(m, true);
  std::vector<Complex> u(static_cast<size_t>(m), Complex(0.0, 0.0));
  std::vector<Complex> c(static_cast<size_t>(m), Complex(0.0, 0.0));
  for (int64_t k = 0; k < n; ++k) u[k] = mul(x[k], std::conj(chirp[k]));
  c[0] = chirp[0];
  for (int64_t k = 1; k < n; ++k) c[k] = c[m - k] = chirp[k];
  radix2(u.data(), m, forward, false);
  radix2(c.data(), m, forward, false);
  for (int64_t k = 0; k < m; ++k) u[k] = mul(u[k], c[k]);
  radix2(u.data(), m, inverse, true);
  const double scale = 1.0 / static_cast<double>(m);
  for (int64_t k = 0; k < n; ++k) x[k] = mul(u[k] * scale, std::conj(chirp[k]));
}

void transform(double* buffer, int64_t n) {
  if (n < 1) return;
  // std::complex<double> is layout-compatible with double[2].
  Complex* x = reinterpret_cast<Complex*>(buffer);
  if (isPowerOfTwo(n))
    radix2(x, n, twiddles(n, false), false);
  else
    bluestein(x, n);
}

}  // namespace

void fftForward(FftSize size, double* buffer) {
  if (!buffer || size.length < 1) return;
  transform(buffer, size.length);
}

void fftInverse(FftSize size, double* buffer) {
  if (!buffer || size.length < 1) return;
  // Conjugate, transform forward, conjugate and scale by 1/N.
  for (int32_t i = 1; i < size.numDoubles; i += 2) buffer[i] = -buffer[i];
  transform(buffer, size.length);
  const double n = static_cast<double>(size.length);
  for (int32_t i = 0; i < size.numDoubles; i += 2) {
    buffer[i] = buffer[i] / n;
    buffer[i + 1] = -buffer[i + 1] / n;
  }
}

int32_t fftLengthFor(int64_t n) {
  if (n < 1) return 0;
  const double exponent = std::ceil(std::log(static_cast<double>(n)) / std::log(2.0));
  if (exponent > 30.0) return -1;
  return static_cast<int32_t>(std::pow(2.0, exponent));
}

}  // namespace tavrix

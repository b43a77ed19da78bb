#include "numeric/fft.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <complex>
#include <numbers>
#include <utility>
#include <vector>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define TAVRIX_FFT_SSE2 1
#endif
// AVX butterflies, chosen at run time: the library itself is built for any
// x86-64 and uses them only on processors (and systems) that support them.
#if defined(TAVRIX_FFT_SSE2) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TAVRIX_FFT_AVX 1
#endif

namespace tavrix {
namespace {

using Complex = std::complex<double>;

bool isPowerOfTwo(int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

// Twiddles w[k] = exp(-2 pi i k / M), k = 0 .. M/2 - 1, taken from one
// quarter-wave table so that each value is a correctly rounded cosine or sine
// and the symmetries hold exactly.
std::vector<Complex> twiddles(int64_t m) {
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
    w[k] = Complex(c, -s);
  }
  return w;
}

// Tables are kept for the life of the process for lengths up to 2^20 (all of
// them together hold 2^20 complex values, 16 MiB); longer lengths combine a
// kept coarse table with a short fine one per call.
constexpr int kMaxKeptLog2 = 20;
constexpr int kFineLog2 = 10;

// Kept tables, one per length 2^P, each a function-local constant built by the
// first call for its P. Separate objects may transform on separate threads at
// once: the compiler guards the initialisation (a thread arriving during the
// build waits for it; later calls cost one acquire load), and a table is never
// written after it, so readers need nothing further. No lock is taken on the
// transform path, and lengths never used cost nothing.
using Table = std::vector<Complex>;

template <Table (*Build)(int), int P>
const Table& keptTable() {
  static const Table table = Build(P);
  return table;
}

// keptTable<Build, P> for P = 0 .. N-1, indexed by a run-time P.
template <Table (*Build)(int), size_t... P>
constexpr std::array<const Table& (*)(), sizeof...(P)> keptTables(std::index_sequence<P...>) {
  return {&keptTable<Build, static_cast<int>(P)>...};
}

Table buildHalfCircle(int p) { return twiddles(int64_t{1} << p); }

// W_L^k = exp(-2 pi i k / L), k < L/2, for L = 2^p, p <= kMaxKeptLog2.
const Complex* halfCircle(int p) {
  static constexpr auto kTables = keptTables<buildHalfCircle>(std::make_index_sequence<kMaxKeptLog2 + 1>{});
  return kTables[static_cast<size_t>(p)]().data();
}

// W_L^k for any 0 <= k < L, L = 2^p: a kept table for p <= kMaxKeptLog2,
// otherwise W_L^(k - k mod 2^10) * W_L^(k mod 2^10), two correctly rounded
// factors and one complex product.
class Twiddle {
 public:
  explicit Twiddle(int p) : half_(int64_t{1} << (p - 1)) {
    if (p <= kMaxKeptLog2) {
      table_ = halfCircle(p);
      return;
    }
    coarseHalf_ = half_ >> kFineLog2;
    table_ = halfCircle(p - kFineLog2);
    fine_.resize(size_t{1} << kFineLog2);
    const double step = 2.0 * std::numbers::pi / static_cast<double>(2 * half_);
    for (size_t b = 0; b < fine_.size(); ++b)
      fine_[b] = Complex(std::cos(static_cast<double>(b) * step), -std::sin(static_cast<double>(b) * step));
  }
  Complex operator()(int64_t k) const {
    if (fine_.empty()) return k < half_ ? table_[k] : -table_[k - half_];
    const int64_t c = k >> kFineLog2;
    const Complex a = c < coarseHalf_ ? table_[c] : -table_[c - coarseHalf_];
    const Complex b = fine_[static_cast<size_t>(k & ((int64_t{1} << kFineLog2) - 1))];
    return Complex(a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real());
  }

 private:
  int64_t half_;
  int64_t coarseHalf_ = 0;
  const Complex* table_ = nullptr;
  std::vector<Complex> fine_;
};

// Complex arithmetic on one value per SSE2 register, or plain doubles. The
// product rounds exactly as the textbook formula (no fused multiply-add).
#ifdef TAVRIX_FFT_SSE2
using V = __m128d;
inline V load(const Complex* p) { return _mm_loadu_pd(reinterpret_cast<const double*>(p)); }
inline void store(Complex* p, V v) { _mm_storeu_pd(reinterpret_cast<double*>(p), v); }
inline V add(V a, V b) { return _mm_add_pd(a, b); }
inline V sub(V a, V b) { return _mm_sub_pd(a, b); }
// -i a = (a.im, -a.re)
inline V minusI(V a) { return _mm_xor_pd(_mm_shuffle_pd(a, a, 1), _mm_set_pd(-0.0, 0.0)); }
// a w with w given split as w[0] = (re, re) and w[stride] = (-im, im): two
// products and a sum.
inline V mulSplit(V a, const Complex* w, int stride) {
  return _mm_add_pd(_mm_mul_pd(a, load(w)), _mm_mul_pd(_mm_shuffle_pd(a, a, 1), load(w + stride)));
}
#else
struct V {
  double re, im;
};
inline V load(const Complex* p) { return V{p->real(), p->imag()}; }
inline void store(Complex* p, V v) { *p = Complex(v.re, v.im); }
inline V add(V a, V b) { return V{a.re + b.re, a.im + b.im}; }
inline V sub(V a, V b) { return V{a.re - b.re, a.im - b.im}; }
inline V minusI(V a) { return V{a.im, -a.re}; }
inline V mulSplit(V a, const Complex* w, int stride) {
  return V{a.re * w[0].real() + a.im * w[stride].real(), a.im * w[0].imag() + a.re * w[stride].imag()};
}
#endif

// Radix-4 decimation-in-time butterfly on the four quarters of a group of 4h
// values: quarter r holds the h-point transform of the samples r' mod 4, with
// r' the bit reversal of r (0, 2, 1, 3). Twiddles W_4h^j, W_4h^2j, W_4h^3j.
// The twiddles come split (see splitTwiddle), six slots `stride` apart: W^j,
// W^2j, W^3j.
inline void butterfly4(Complex* p0, Complex* p1, Complex* p2, Complex* p3, const Complex* w, int stride) {
  const V a0 = load(p0), a2 = mulSplit(load(p1), w + 2 * stride, stride), a1 = mulSplit(load(p2), w, stride),
          a3 = mulSplit(load(p3), w + 4 * stride, stride);
  const V s0 = add(a0, a2), d0 = sub(a0, a2), s1 = add(a1, a3), d1 = minusI(sub(a1, a3));
  store(p0, add(s0, s1));
  store(p2, sub(s0, s1));
  store(p1, add(d0, d1));
  store(p3, sub(d0, d1));
}

// A twiddle w as the pair (re, re), (-im, im), ready for mulSplit.
inline void splitTwiddle(Complex w, Complex* out) {
  out[0] = Complex(w.real(), w.real());
  out[1] = Complex(-w.imag(), w.imag());
}

// Per-stage twiddles W^j, W^2j, W^3j of W = W_4h, j < h (h even), split, kept
// for 4h <= 2^kMaxStageLog2 (6/4 of 2^kMaxStageLog2 values in all, 12 MiB).
// Consecutive j share a block of twelve slots with their six halves side by
// side, so that one AVX register holds the same half for j and j + 1: half r
// of j = 2q + e is slot 12q + 2r + e.
constexpr int kMaxStageLog2 = 18;
constexpr int kStageStride = 2;
Table buildStageTwiddles(int p) {
  const int64_t h = (int64_t{1} << p) / 4;
  const Twiddle w(p);
  Table t(static_cast<size_t>(6 * h));
  Complex split[6];
  for (int64_t j = 0; j < h; ++j) {
    splitTwiddle(w(j), split);
    splitTwiddle(w(2 * j), split + 2);
    splitTwiddle(w(3 * j), split + 4);
    for (int r = 0; r < 6; ++r) t[static_cast<size_t>(12 * (j / 2) + 2 * r + j % 2)] = split[r];
  }
  return t;
}

// Built once per stage length and immutable after, as the kept tables above
// (stages with 4h <= 4 never ask for one).
const Complex* stageTwiddles(int p) {
  static constexpr auto kTables =
      keptTables<buildStageTwiddles>(std::make_index_sequence<kMaxStageLog2 + 1>{});
  return kTables[static_cast<size_t>(p)]().data();
}

#ifdef TAVRIX_FFT_AVX
// The kept-table stage on two consecutive j per AVX register, operation for
// operation the arithmetic of butterfly4 (no fused multiply-add), so both paths
// give the same bits.
#define TAVRIX_AVX __attribute__((target("avx")))
TAVRIX_AVX inline __m256d mulSplitAvx(__m256d a, const Complex* w) {
  const double* s = reinterpret_cast<const double*>(w);
  return _mm256_add_pd(_mm256_mul_pd(a, _mm256_loadu_pd(s)),
                       _mm256_mul_pd(_mm256_permute_pd(a, 0x5), _mm256_loadu_pd(s + 2 * kStageStride)));
}

TAVRIX_AVX void radix4PassAvx(Complex* y, int64_t len, int64_t h, const Complex* t) {
  const __m256d minusImag = _mm256_set_pd(-0.0, 0.0, -0.0, 0.0);
  for (int64_t s = 0; s < len; s += 4 * h) {
    double* q0 = reinterpret_cast<double*>(y + s);
    double* q1 = q0 + 2 * h;
    double* q2 = q1 + 2 * h;
    double* q3 = q2 + 2 * h;
    for (int64_t j = 0; j < h; j += 2) {
      const Complex* w = t + 6 * j;
      const __m256d a0 = _mm256_loadu_pd(q0 + 2 * j);
      const __m256d a2 = mulSplitAvx(_mm256_loadu_pd(q1 + 2 * j), w + 4);
      const __m256d a1 = mulSplitAvx(_mm256_loadu_pd(q2 + 2 * j), w);
      const __m256d a3 = mulSplitAvx(_mm256_loadu_pd(q3 + 2 * j), w + 8);
      const __m256d s0 = _mm256_add_pd(a0, a2), d0 = _mm256_sub_pd(a0, a2), s1 = _mm256_add_pd(a1, a3);
      const __m256d diff = _mm256_sub_pd(a1, a3);
      const __m256d d1 = _mm256_xor_pd(_mm256_permute_pd(diff, 0x5), minusImag);  // -i (a1 - a3)
      _mm256_storeu_pd(q0 + 2 * j, _mm256_add_pd(s0, s1));
      _mm256_storeu_pd(q2 + 2 * j, _mm256_sub_pd(s0, s1));
      _mm256_storeu_pd(q1 + 2 * j, _mm256_add_pd(d0, d1));
      _mm256_storeu_pd(q3 + 2 * j, _mm256_sub_pd(d0, d1));
    }
  }
}

// Read by every kept-table stage, written only by fftAllowAvx (switching
// paths for comparison): atomic, since other threads may be transforming
// meanwhile; relaxed, since both paths give the same bits and the flag orders
// nothing else.
std::atomic<bool>& avxInUse() {
  static std::atomic<bool> inUse{__builtin_cpu_supports("avx") != 0};
  return inUse;
}
#endif

// One radix-4 stage (groups of 4h = 2^p values) over y[0..len).
void radix4Pass(Complex* y, int64_t len, int p) {
  const int64_t h = (int64_t{1} << p) / 4;
  if (h == 1) {
    for (int64_t s = 0; s < len; s += 4) {
      const V a0 = load(y + s), a2 = load(y + s + 1), a1 = load(y + s + 2), a3 = load(y + s + 3);
      const V s0 = add(a0, a2), d0 = sub(a0, a2), s1 = add(a1, a3), d1 = minusI(sub(a1, a3));
      store(y + s, add(s0, s1));
      store(y + s + 2, sub(s0, s1));
      store(y + s + 1, add(d0, d1));
      store(y + s + 3, sub(d0, d1));
    }
    return;
  }
  if (p <= kMaxStageLog2) {
    const Complex* t = stageTwiddles(p);
#ifdef TAVRIX_FFT_AVX
    if (avxInUse().load(std::memory_order_relaxed)) {
      radix4PassAvx(y, len, h, t);
      return;
    }
#endif
    for (int64_t s = 0; s < len; s += 4 * h) {
      Complex* q = y + s;
      for (int64_t j = 0; j < h; ++j)
        butterfly4(q + j, q + j + h, q + j + 2 * h, q + j + 3 * h, t + 12 * (j / 2) + j % 2, kStageStride);
    }
    return;
  }
  // Long stages: twiddles computed per value, in runs shared by all groups.
  const Twiddle w(p);
  constexpr int64_t kRun = 256;
  Complex run[6 * kRun];
  for (int64_t j0 = 0; j0 < h; j0 += kRun) {
    const int64_t count = std::min(kRun, h - j0);
    for (int64_t j = 0; j < count; ++j) {
      splitTwiddle(w(j0 + j), &run[6 * j]);
      splitTwiddle(w(2 * (j0 + j)), &run[6 * j + 2]);
      splitTwiddle(w(3 * (j0 + j)), &run[6 * j + 4]);
    }
    for (int64_t s = 0; s < len; s += 4 * h) {
      Complex* q = y + s + j0;
      for (int64_t j = 0; j < count; ++j)
        butterfly4(q + j, q + j + h, q + j + 2 * h, q + j + 3 * h, run + 6 * j, 1);
    }
  }
}

int64_t reverseBits(int64_t v, int bits) {
  int64_t r = 0;
  for (int b = 0; b < bits; ++b, v >>= 1) r = (r << 1) | (v & 1);
  return r;
}

// Bit-reversal permutation of m = 2^p values. Long arrays go tile by tile:
// index (hi, mid, lo) with 4-bit hi and lo maps to (rev lo, rev mid, rev hi),
// so each pair of tiles is swapped while both stay in the first-level cache.
void bitReverse(Complex* y, int p) {
  const int64_t m = int64_t{1} << p;
  constexpr int kTile = 4;
  if (p < 2 * kTile + 2) {
    for (int64_t i = 1, j = 0; i < m; ++i) {
      int64_t bit = m >> 1;
      for (; j & bit; bit >>= 1) j ^= bit;
      j ^= bit;
      if (i < j) std::swap(y[i], y[j]);
    }
    return;
  }
  int64_t rev[1 << kTile];
  for (int64_t v = 0; v < (1 << kTile); ++v) rev[v] = reverseBits(v, kTile);
  const int midBits = p - 2 * kTile;
  const int64_t mids = int64_t{1} << midBits;
  for (int64_t mid = 0; mid < mids; ++mid) {
    const int64_t midR = reverseBits(mid, midBits);
    if (midR < mid) continue;
    for (int64_t hi = 0; hi < (1 << kTile); ++hi)
      for (int64_t lo = 0; lo < (1 << kTile); ++lo) {
        const int64_t i = (hi << (p - kTile)) | (mid << kTile) | lo;
        const int64_t j = (rev[lo] << (p - kTile)) | (midR << kTile) | rev[hi];
        if (mid != midR || i < j) std::swap(y[i], y[j]);
      }
  }
}

// Stages whose groups fit in this many values are run block by block, so that
// a block stays in the second-level cache through all of them (256 KiB).
constexpr int kCacheBlockLog2 = 14;

// In-place forward transform of m = 2^p values, unscaled: bit reversal, one
// radix-2 stage when p is odd, then radix-4 stages.
void forwardPowerOfTwo(Complex* y, int64_t m) {
  if (m < 2) return;
  const int p = std::countr_zero(static_cast<uint64_t>(m));
  bitReverse(y, p);
  int stage = 0;  // log2 of the group length done so far
  if (p % 2 == 1) {
    for (int64_t i = 0; i < m; i += 2) {
      const V a = load(y + i), b = load(y + i + 1);
      store(y + i, add(a, b));
      store(y + i + 1, sub(a, b));
    }
    stage = 1;
  }
  const int blockLog2 = std::min(p, kCacheBlockLog2);
  int inBlock = stage;
  for (int64_t start = 0; start < m; start += int64_t{1} << blockLog2)
    for (inBlock = stage; inBlock + 2 <= blockLog2; inBlock += 2)
      radix4Pass(y + start, int64_t{1} << blockLog2, inBlock + 2);
  for (stage = inBlock; stage + 2 <= p; stage += 2) radix4Pass(y, m, stage + 2);
}

// Inverse without scaling through the forward transform of the conjugate.
void inversePowerOfTwo(Complex* y, int64_t m) {
  for (int64_t k = 0; k < m; ++k) y[k] = std::conj(y[k]);
  forwardPowerOfTwo(y, m);
  for (int64_t k = 0; k < m; ++k) y[k] = std::conj(y[k]);
}

inline Complex cmul(Complex a, Complex b) {
  // Written out to keep the multiply free of the library's NaN/inf recovery.
  return Complex(a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real());
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
  std::vector<Complex> u(static_cast<size_t>(m), Complex(0.0, 0.0));
  std::vector<Complex> c(static_cast<size_t>(m), Complex(0.0, 0.0));
  for (int64_t k = 0; k < n; ++k) u[k] = cmul(x[k], std::conj(chirp[k]));
  c[0] = chirp[0];
  for (int64_t k = 1; k < n; ++k) c[k] = c[m - k] = chirp[k];
  forwardPowerOfTwo(u.data(), m);
  forwardPowerOfTwo(c.data(), m);
  for (int64_t k = 0; k < m; ++k) u[k] = cmul(u[k], c[k]);
  inversePowerOfTwo(u.data(), m);
  const double scale = 1.0 / static_cast<double>(m);
  for (int64_t k = 0; k < n; ++k) x[k] = cmul(u[k] * scale, std::conj(chirp[k]));
}

void transform(double* buffer, int64_t n) {
  if (n < 1) return;
  // std::complex<double> is layout-compatible with double[2].
  Complex* x = reinterpret_cast<Complex*>(buffer);
  if (isPowerOfTwo(n))
    forwardPowerOfTwo(x, n);
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

// Real transforms: the n samples as n/2 complex values z[k] = x[2k] + i x[2k+1]
// transformed together; with E and O the transforms of the even and odd
// samples, Z[k] = E[k] + i O[k], conj Z[M-k] = E[k] - i O[k] (M = n/2), and
// X[k] = E[k] + W_n^k O[k], X[M-k] = conj(E[k] - W_n^k O[k]).
double realFftForward(double* buffer, int32_t n) {
  if (!buffer || n < 1) return 0.0;
  if (n == 1) {
    buffer[1] = 0.0;
    return buffer[0];
  }
  const int64_t half = n / 2;
  Complex* z = reinterpret_cast<Complex*>(buffer);
  forwardPowerOfTwo(z, half);
  const double nyquist = z[0].real() - z[0].imag();
  z[0] = Complex(z[0].real() + z[0].imag(), 0.0);
  const Twiddle w(std::countr_zero(static_cast<uint32_t>(n)));
  for (int64_t k = 1; 2 * k <= half; ++k) {
    const Complex a = z[k], b = std::conj(z[half - k]);
    const Complex even = (a + b) * 0.5;
    const Complex d = (a - b) * 0.5;
    const Complex odd(d.imag(), -d.real());  // (a - b) / 2i
    const Complex t = cmul(w(k), odd);
    z[half - k] = std::conj(even - t);
    z[k] = even + t;
  }
  return nyquist;
}

void realFftInverse(double* buffer, double nyquist, int32_t n) {
  if (!buffer || n < 1) return;
  if (n == 1) return;
  const int64_t half = n / 2;
  Complex* z = reinterpret_cast<Complex*>(buffer);
  const double e0 = 0.5 * (z[0].real() + nyquist), o0 = 0.5 * (z[0].real() - nyquist);
  z[0] = Complex(e0, o0);
  const Twiddle w(std::countr_zero(static_cast<uint32_t>(n)));
  for (int64_t k = 1; 2 * k <= half; ++k) {
    const Complex a = z[k], b = std::conj(z[half - k]);
    const Complex even = (a + b) * 0.5;
    const Complex odd = cmul((a - b) * 0.5, std::conj(w(k)));
    const Complex iOdd(-odd.imag(), odd.real());
    z[half - k] = std::conj(even) + Complex(odd.imag(), odd.real());  // conj(E) + i conj(O)
    z[k] = even + iOdd;
  }
  inversePowerOfTwo(z, half);
  const double scale = 1.0 / static_cast<double>(half);
  for (int64_t i = 0; i < n; ++i) buffer[i] *= scale;
}

bool fftAllowAvx(bool allow) {
#ifdef TAVRIX_FFT_AVX
  return avxInUse().exchange(allow && __builtin_cpu_supports("avx"), std::memory_order_relaxed);
#else
  (void)allow;
  return false;
#endif
}

int32_t fftLengthFor(int64_t n) {
  if (n < 1) return 0;
  const double exponent = std::ceil(std::log(static_cast<double>(n)) / std::log(2.0));
  if (exponent > 30.0) return -1;
  return static_cast<int32_t>(std::pow(2.0, exponent));
}

}  // namespace tavrix

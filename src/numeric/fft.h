// Complex discrete Fourier transform of any length on interleaved buffers.
#pragma once

#include <cstdint>

namespace tavrix {

// Buffer description: numDoubles = 2 * length doubles holding length complex
// values interleaved (real part at 2k, imaginary part at 2k + 1).
struct FftSize {
  int32_t numDoubles;
  int32_t length;
};

// Forward transform in place, X[k] = sum_n x[n] exp(-2 pi i k n / N), no
// scaling. Powers of two use a radix-4 transform (twiddle tables kept for the
// process), other lengths Bluestein's chirp-z method over a power of two
// >= 2N - 1. N = 0 leaves the buffer alone.
void fftForward(FftSize size, double* buffer);

// Inverse transform in place, x[n] = (1/N) sum_k X[k] exp(+2 pi i k n / N).
void fftInverse(FftSize size, double* buffer);

// Transform of n = 2^p real samples (n >= 1) in place through an n/2-point
// complex transform: on return buffer[0 .. n-1] holds the bins X[0 .. n/2 - 1]
// interleaved (X[0] real, its imaginary slot 0) and the real Nyquist bin
// X[n/2] is returned; the bins above follow as X[n-k] = conj X[k]. For n = 1
// buffer[1] is set to 0 as well.
double realFftForward(double* buffer, int32_t n);

// Inverse of realFftForward, scaled by 1/n: the bins X[0 .. n/2 - 1] in buffer
// (imaginary part of X[0] ignored) and the real Nyquist bin give the n samples
// x[t] = (1/n) sum_k X[k] exp(+2 pi i k t / n) of the Hermitian spectrum, in place.
void realFftInverse(double* buffer, double nyquist, int32_t n);

// Power-of-two stages use AVX butterflies where the processor has them, with
// the same operations in the same order as the SSE2 and scalar ones, so every
// path gives the same bits. allow = false keeps to SSE2 (for comparing the
// paths); true uses AVX again when present. Returns whether AVX was in use.
bool fftAllowAvx(bool allow);

// Convenience forms taking the complex length.
inline void fftForward(double* buffer, int32_t length) { fftForward(FftSize{2 * length, length}, buffer); }
inline void fftInverse(double* buffer, int32_t length) { fftInverse(FftSize{2 * length, length}, buffer); }

// The transform length the analyses use for a signal of n samples:
// (int) 2^ceil(ln(n) / ln 2), evaluated in double precision exactly so, which
// is the smallest power of two >= n except for n = 2^29, where the rounding of
// the logarithms gives 2^30. Returns 0 for n < 1 and -1 when the result would
// not fit in an int32.
int32_t fftLengthFor(int64_t n);

}  // namespace tavrix

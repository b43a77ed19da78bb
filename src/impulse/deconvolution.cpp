// Deconvolution of a recorded sweep into the room's impulse response.
#include <algorithm>
#include <cstring>
#include <limits>

#include "impulse/impulse_measurement.h"
#include "numeric/fft.h"

namespace tavrix {
namespace {

// The real transform of x zero-padded to nfft points in the first nfft
// doubles of a buffer of `capacity` doubles; the Nyquist bin at nfft, nfft + 1.
DynArray<double> realSpectrum(const DynArray<double>& x, int32_t nfft, int32_t capacity) {
  DynArray<double> buffer;
  buffer.resizeExact(capacity);
  const int32_t n = std::min(x.size(), nfft);
  std::copy(x.data(), x.data() + n, buffer.data());
  const double nyquist = realFftForward(buffer.data(), nfft);
  if (nfft > 1) {
    buffer[nfft] = nyquist;
    buffer[nfft + 1] = 0.0;
  }
  return buffer;
}

// The sweep's spectrum at nfft: the kept one when it was computed from this
// very sweep (compared bit for bit) at this length, otherwise a new one, kept
// when small enough.
const DynArray<double>& sweepSpectrum(ImpulseMeasurement& m, int32_t nfft, int32_t bins,
                                      DynArray<double>& transient) {
  SweepSpectrum& kept = m.sweepSpectrum;
  const size_t bytes = sizeof(double) * static_cast<size_t>(m.sweep.size());
  if (kept.nfft == nfft && kept.sweep.size() == m.sweep.size() &&
      std::memcmp(kept.sweep.data(), m.sweep.data(), bytes) == 0)
    return kept.spectrum;
  kept = SweepSpectrum{};
  transient = realSpectrum(m.sweep, nfft, 2 * bins);
  if (bins > kKeptSweepSpectrumBins) return transient;
  kept.spectrum.swap(transient);
  kept.sweep = m.sweep;
  kept.nfft = nfft;
  return kept.spectrum;
}

}  // namespace

int32_t deconvolve(ImpulseMeasurement& m) {
  const int32_t sweepLength = m.sweep.size();
  const int32_t recordingLength = m.recording.size();
  if (sweepLength == 0 || recordingLength == 0 || recordingLength < sweepLength) return -1;
  // One transform length covering the whole recording, so that the circular
  // quotient holds the full linear response; interleaved buffers of 2 * nfft
  // doubles must stay addressable with 32-bit counts.
  const int32_t nfft = fftLengthFor(recordingLength);
  if (nfft < 1 || nfft > std::numeric_limits<int32_t>::max() / 2) return -1;

  // Both signals are real: bins 0 .. nfft/2 from real transforms, the upper
  // half of the quotient by conjugate symmetry.
  const int32_t bins = nfft / 2 + 1;
  DynArray<double> transient;
  const DynArray<double>& x = sweepSpectrum(m, nfft, bins, transient);
  DynArray<double> y = realSpectrum(m.recording, nfft, 2 * nfft);
  // H = Y / X bin by bin, without regularisation: the sweep covers the band of
  // interest with ample energy, and what lies outside it is the host's to
  // judge. A bin where the sweep spectrum is exactly zero gives inf or NaN.
  for (int32_t k = 0; k < bins; ++k) {
    const double xr = x[2 * k], xi = x[2 * k + 1];
    const double yr = y[2 * k], yi = y[2 * k + 1];
    const double d = xi * xi + xr * xr;
    y[2 * k] = (xr * yr + xi * yi) / d;
    y[2 * k + 1] = (xr * yi - xi * yr) / d;
  }
  for (int32_t k = bins; k < nfft; ++k) {
    y[2 * k] = y[2 * (nfft - k)];
    y[2 * k + 1] = -y[2 * (nfft - k) + 1];
  }
  // Results are replaced only once everything has succeeded.
  m.transferFunction.swap(y);
  m.nfft = nfft;
  return 0;
}

int32_t computeImpulseResponse(ImpulseMeasurement& m) {
  const int32_t nfft = m.nfft;
  if (nfft < 1 || m.transferFunction.size() != 2 * nfft) return -1;
  // The real part of the inverse transform is the inverse of the spectrum's
  // Hermitian part (H[k] + conj H[nfft-k]) / 2, bins 0 .. nfft/2 of which go
  // through the real inverse transform in the response's own nfft doubles.
  const double* tf = m.transferFunction.data();
  DynArray<double> response;
  response.resizeExact(nfft);
  response[0] = tf[0];
  const int32_t half = nfft / 2;
  for (int32_t k = 1; k < half; ++k) {
    response[2 * k] = 0.5 * (tf[2 * k] + tf[2 * (nfft - k)]);
    response[2 * k + 1] = 0.5 * (tf[2 * k + 1] - tf[2 * (nfft - k) + 1]);
  }
  realFftInverse(response.data(), nfft > 1 ? tf[2 * half] : 0.0, nfft);
  m.impulseResponse.swap(response);
  return 0;
}

}  // namespace tavrix

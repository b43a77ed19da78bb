// Deconvolution of a recorded sweep into the room's impulse response.
#include <algorithm>
#include <limits>

#include "impulse/impulse_measurement.h"
#include "numeric/fft.h"

namespace tavrix {
namespace {

// A real signal zero-padded to nfft points as an interleaved complex buffer.
DynArray<double> paddedSpectrumInput(const DynArray<double>& x, int32_t nfft) {
  DynArray<double> buffer;
  buffer.resizeExact(2 * nfft);
  const int32_t n = std::min(x.size(), nfft);
  for (int32_t i = 0; i < n; ++i) buffer[2 * i] = x[i];
  return buffer;
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

  DynArray<double> x = paddedSpectrumInput(m.sweep, nfft);
  DynArray<double> y = paddedSpectrumInput(m.recording, nfft);
  fftForward(x.data(), nfft);
  fftForward(y.data(), nfft);
  // H = Y / X bin by bin, without regularisation: the sweep covers the band of
  // interest with ample energy, and what lies outside it is the host's to
  // judge. A bin where the sweep spectrum is exactly zero gives inf or NaN.
  for (int32_t k = 0; k < nfft; ++k) {
    const double xr = x[2 * k], xi = x[2 * k + 1];
    const double yr = y[2 * k], yi = y[2 * k + 1];
    const double d = xi * xi + xr * xr;
    y[2 * k] = (xr * yr + xi * yi) / d;
    y[2 * k + 1] = (xr * yi - xi * yr) / d;
  }
  // Results are replaced only once everything has succeeded.
  m.transferFunction.swap(y);
  m.nfft = nfft;
  return 0;
}

int32_t computeImpulseResponse(ImpulseMeasurement& m) {
  const int32_t nfft = m.nfft;
  if (nfft < 1 || m.transferFunction.size() != 2 * nfft) return -1;
  DynArray<double> h(m.transferFunction);
  fftInverse(h.data(), nfft);
  DynArray<double> response;
  response.resizeExact(nfft);
  for (int32_t i = 0; i < nfft; ++i) response[i] = h[2 * i];
  m.impulseResponse.swap(response);
  return 0;
}

}  // namespace tavrix

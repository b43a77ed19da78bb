// Linear convolution, the analytic signal and real transforms through one
// radix-2 FFT: the demo's simulated room and the deconvolution of recorded
// sweeps.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace tavrix::measure {

// The full linear convolution of a and b (a.size() + b.size() - 1 values).
std::vector<double> convolve(const std::vector<double>& a, const std::vector<double>& b);

// The phase of x's analytic signal as a unit-amplitude signal: cos(arg a(t)).
// It keeps the instantaneous frequency of x and drops its envelope.
std::vector<double> unitEnvelope(const std::vector<double>& x);

// |a(t)|^2 of x's analytic signal: its energy envelope, without the carrier.
std::vector<double> analyticEnergy(const std::vector<double>& x);

// |X(k)|^2 of x zero-padded to n samples (a power of two), bins 0 .. n / 2.
std::vector<double> powerSpectrum(const std::vector<double>& x, size_t n);

// The spectrum X(k) = sum x[i] exp(-2 pi j i k / n), bins 0 .. n / 2, of the
// n samples at x (n a power of two, at least 2), of which only the first
// `length` are given: the rest are zeros.
std::vector<std::complex<double>> realForward(const double* x, size_t length, size_t n);

// The n real samples whose spectrum is X (bins 0 .. n / 2, as realForward
// gives them; the imaginary parts of bins 0 and n / 2 are ignored):
// realInverse(realForward(x, n, n), n) == x up to rounding.
std::vector<double> realInverse(const std::vector<std::complex<double>>& X, size_t n);

}  // namespace tavrix::measure

// Linear convolution and the analytic signal through a radix-2 FFT, for the
// demo's simulated room.
#pragma once

#include <cstddef>
#include <vector>

namespace tavrix::measure {

// The full linear convolution of a and b (a.size() + b.size() - 1 values).
std::vector<double> convolve(const std::vector<double>& a, const std::vector<double>& b);

// The phase of x's analytic signal as a unit-amplitude signal: cos(arg a(t)).
// It keeps the instantaneous frequency of x and drops its envelope.
std::vector<double> unitEnvelope(const std::vector<double>& x);

// |X(k)|^2 of x zero-padded to n samples (a power of two), bins 0 .. n / 2.
std::vector<double> powerSpectrum(const std::vector<double>& x, size_t n);

}  // namespace tavrix::measure

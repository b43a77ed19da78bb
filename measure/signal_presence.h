// Whether a deconvolved response holds a response at all. A recording of
// background noise alone (the wrong input, a cable not plugged in, a muted
// loudspeaker) deconvolves into noise again, whose loudest sample among some
// 10^5 stands only about 14 dB above its rms; a real response's direct sound
// stands well above the noise of its quietest stretch.
#pragma once

#include <cstddef>
#include <string>

namespace tavrix::measure {

// The least a response's peak must stand above the rms of its quietest
// eighth to count as one: clear of the 13 to 15 dB of noise's extremes.
constexpr double kMinPeakToNoiseDb = 20;

// 20 log10(peak / rms of the quietest of eight equal stretches); +inf when
// that stretch is digital silence and the peak is not, -inf for silence.
double peakToNoiseDb(const double* response, size_t length);

// Fails with TVM_NO_SIGNAL, naming the recording, when its response stands
// less than kMinPeakToNoiseDb above its noise.
void requireResponse(const std::string& recordingName, const double* response, size_t length);

}  // namespace tavrix::measure

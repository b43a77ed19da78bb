// Microphone calibration responses: the impulse response of a calibration
// measurement gated around its peak, and its frequency response bin by bin or
// at fractional-octave points.
#pragma once

#include <cstdint>

#include "impulse/impulse_measurement.h"
#include "numeric/dyn_array.h"

namespace tavrix {

constexpr int32_t kUnsupportedPointsPerOctave = -2;

// Gates the impulse response in place with a flat-topped window centred on its
// largest magnitude: w(t) = 1 / (1 + (t / W)^12), t the circular distance from
// the peak and W = windowWidth seconds (0.5 at W). -1 without an impulse
// response, else 0.
int32_t calibrationWindow(ImpulseMeasurement& m);

// Forward FFT of the nfft samples of the impulse response, as 2 * nfft
// interleaved doubles (re, im) in spectrum. -1 without an impulse response.
int32_t calibrationSpectrum(const ImpulseMeasurement& m, DynArray<double>& spectrum);

// |S[k]| (or 20 log10 |S[k]| when inDb) and k * fs / nfft for bins 0..nfft/2:
// nfft/2 + 1 values into each array. Normalised to the bin nearest
// referenceFrequency unless it is 0. -1 without an impulse response, else 0.
int32_t narrowBandResponse(const ImpulseMeasurement& m, double* values, double* frequency,
                           double referenceFrequency, bool inDb);

// Index minimising |values[i] - target|; the first of equal distances wins,
// NaN values never win; 0 for count < 1 or when no distance is finite.
int32_t nearestIndex(const double* values, int32_t count, double target);

// Subtracts the value at the frequency nearest referenceFrequency from every
// value (also for linear values); a reference of 0 leaves the values alone.
void normaliseToReference(double* values, const double* frequency, int32_t count, double referenceFrequency);

// Number of fractional-octave points for a sample rate (48, 96 or 192 kHz,
// taken truncated) and points per octave (3, 6, 12 or 24): b * K + 1 with K =
// 10, 11 or 12. -1 for another rate, then -2 for another b.
int32_t fractionalOctavePointCount(double sampleRate, int32_t bandsPerOctave);

enum class CalibrationQuantity { kMagnitudeDb, kPhaseDegrees };

// The response at the fractional-octave points 1000 * 10^(0.3 m / b) Hz from
// m = -17 b / 3 (19.95 Hz) on: fractionalOctavePointCount values and their
// frequencies. Each value is the mean of the bins within a quarter of the
// point spacing either side of the point (averageToOctaveFraction) or the
// nearest bin; magnitudes are averaged linearly and then given in dB, phases
// (degrees) are averaged as plain numbers. Normalised to the point nearest
// referenceFrequency unless it is 0. 0; -1 (rate, no impulse response) or -2
// (points per octave) with the outputs untouched.
int32_t fractionalOctaveResponse(const ImpulseMeasurement& m, CalibrationQuantity quantity, double* values,
                                 double* frequency, double referenceFrequency, int32_t bandsPerOctave);

}  // namespace tavrix

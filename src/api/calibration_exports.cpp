// Microphone calibration and the calibrated recording file.
#include <algorithm>
#include <cmath>
#include <utility>

#include "api/export_guard.h"
#include "api/tables.h"
#include "fileio/uff58b.h"
#include "fileio/wave_file.h"
#include "impulse/calibration.h"
#include "impulse/impulse_measurement.h"
#include "numeric/dyn_array.h"
#include "numeric/scalar_rules.h"
#include "tavrix.h"

namespace tavrix {
namespace {

// The window is laid out in samples, so a measurement needs a known rate.
bool hasUsableRate(const ImpulseMeasurement& m) { return std::isfinite(m.sampleRate) && m.sampleRate > 0.0; }

// Deconvolution of the stored recording against the stored sweep (or
// reference channel), then the gate around the peak.
int32_t deconvolveAndWindow(ImpulseMeasurement& m) {
  if (deconvolve(m) != 0 || computeImpulseResponse(m) != 0) return -1;
  calibrationWindow(m);
  return m.nfft;
}

// The fractional-octave exports share everything but the quantity.
int32_t fractionalOctaveExport(int32_t handle, CalibrationQuantity quantity, double* values,
                               double* frequency, double referenceFrequency, int32_t bandsPerOctave) {
  return guarded(-1, [&]() -> int32_t {
    const ImpulseMeasurement* m = impulseTable().find(handle);
    if (!m || !values || !frequency || !std::isfinite(referenceFrequency)) return -1;
    return fractionalOctaveResponse(*m, quantity, values, frequency, referenceFrequency, bandsPerOctave);
  });
}

// Range of a 24-bit converter, 20 log10(2^23) dB: the level of a full-scale
// sample in dB re the converter's least significant bit.
const double kConverterRangeDb = 20.0 * std::log10(8388608.0);
// Fixed offset of the preamplifier input stage, dB.
constexpr double kPreampOffsetDb = 26.0;
// Correction of the analogue chain with and without its high-level setting, dB.
constexpr double kHighCorrectionDb = 2.9;
constexpr double kLowCorrectionDb = 1.66;
// Reference sound pressure, 20 uPa.
constexpr double kReferencePressure = 2e-5;

// Pascals per full-scale unit for the chain's levels. The chain gain acts as a
// whole linear factor, the nearest one to 10^(gainDb/20); trim is in 1/2000 dB.
double pascalsPerFullScale(double sensitivityDb, double adjustDb, double gainDb, double trim,
                           bool highCorrection) {
  const double level = kConverterRangeDb - (sensitivityDb + kPreampOffsetDb) -
                       20.0 * std::log10(roundHalfAway(std::pow(10.0, gainDb / 20.0))) + adjustDb +
                       trim / 2000.0 + (highCorrection ? kHighCorrectionDb : kLowCorrectionDb);
  return std::pow(10.0, level / 20.0) * kReferencePressure;
}

}  // namespace
}  // namespace tavrix

using tavrix::guarded;
using tavrix::ImpulseMeasurement;

extern "C" {

TAVRIX_API int32_t setButterworthWindowWidth(int32_t handle, double width) {
  return guarded(-1, [&]() -> int32_t {
    ImpulseMeasurement* m = tavrix::impulseTable().find(handle);
    if (!m || !std::isfinite(width) || width <= 0.0) return -1;
    m->windowWidth = width;
    return 0;
  });
}

TAVRIX_API int32_t setAverageFFTtoOctaveFraction(int32_t handle, bool average) {
  return guarded(-1, [&]() -> int32_t {
    ImpulseMeasurement* m = tavrix::impulseTable().find(handle);
    if (!m) return -1;
    m->averageToOctaveFraction = average;
    return 0;
  });
}

TAVRIX_API int32_t processInputSignalForMicCal(int32_t handle, const double* recording, int32_t n) {
  return guarded(-1, [&]() -> int32_t {
    ImpulseMeasurement* m = tavrix::impulseTable().find(handle);
    if (!m || !recording || n < 1 || !tavrix::hasUsableRate(*m)) return -1;
    m->recording = tavrix::DynArray<double>(recording, n);
    return tavrix::deconvolveAndWindow(*m);
  });
}

TAVRIX_API int32_t processInputSignalForMicCalTwoCh(int32_t handle, const double* reference,
                                                    const double* measured, int32_t n) {
  return guarded(-1, [&]() -> int32_t {
    ImpulseMeasurement* m = tavrix::impulseTable().find(handle);
    if (!m || !reference || !measured || n < 1 || !tavrix::hasUsableRate(*m)) return -1;
    // Both copies first, so that a failed allocation leaves the object as it was.
    tavrix::DynArray<double> sweep(reference, n);
    tavrix::DynArray<double> recording(measured, n);
    m->sweep = std::move(sweep);
    m->recording = std::move(recording);
    return tavrix::deconvolveAndWindow(*m);
  });
}

TAVRIX_API int32_t getMagnitudeResponseForMicCal(int32_t handle, double* levelDb, double* frequency,
                                                 double referenceFrequency) {
  return guarded(-1, [&]() -> int32_t {
    ImpulseMeasurement* m = tavrix::impulseTable().find(handle);
    if (!m || !levelDb || !frequency || !std::isfinite(referenceFrequency)) return -1;
    return tavrix::narrowBandResponse(*m, levelDb, frequency, referenceFrequency, true);
  });
}

TAVRIX_API int32_t getFractionalOctaveMagnitudeResponseForMicCal(int32_t handle, double* levelDb,
                                                                 double* frequency, double referenceFrequency,
                                                                 int32_t bandsPerOctave) {
  return tavrix::fractionalOctaveExport(handle, tavrix::CalibrationQuantity::kMagnitudeDb, levelDb, frequency,
                                        referenceFrequency, bandsPerOctave);
}

TAVRIX_API int32_t getFractionalOctavePhaseResponseForMicCal(int32_t handle, double* phaseDeg,
                                                             double* frequency, double referenceFrequency,
                                                             int32_t bandsPerOctave) {
  return tavrix::fractionalOctaveExport(handle, tavrix::CalibrationQuantity::kPhaseDegrees, phaseDeg,
                                        frequency, referenceFrequency, bandsPerOctave);
}

TAVRIX_API int32_t createCalibratedWaveFile(const tavrix_char* inputPath, const tavrix_char* outputPath,
                                            double sensitivityDb, double adjustDb, double gainDb, double trim,
                                            double /*unused*/, bool highCorrection, bool writeUff) {
  return guarded(-1, [&]() -> int32_t {
    if (!inputPath || !outputPath) return -1;
    if (!std::isfinite(sensitivityDb) || !std::isfinite(adjustDb) || !std::isfinite(gainDb) ||
        !std::isfinite(trim))
      return -1;
    const double k = tavrix::pascalsPerFullScale(sensitivityDb, adjustDb, gainDb, trim, highCorrection);
    // The factor must be a positive normal number: a gain below -6.02 dB
    // rounds to a factor of 0, and finite but extreme levels overflow to
    // infinity or underflow to 0 (or to a subnormal that keeps only a few
    // bits of each sample); either would write a file of no use with status 0.
    if (!std::isnormal(k)) return -1;

    tavrix::DynArray<double> samples;
    double sampleRate = 0.0;
    int32_t n = 0;
    const int32_t read = tavrix::readWave(inputPath, samples, sampleRate, n);
    if (read != 0) return read;
    n = std::min(n, samples.size());
    for (int32_t i = 0; i < n; ++i) samples[i] = samples[i] * k;

    const int32_t rate = tavrix::truncateToInt(sampleRate);
    if (writeUff) return tavrix::writeUff58b(outputPath, samples.data(), n, rate);
    return tavrix::writeWave(outputPath, samples.data(), n, rate, true) == 0 ? 0 : -1;
  });
}

}  // extern "C"

// Speech transmission analysis: the modulation transfer matrix of an impulse response.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "filters/filter_bank.h"
#include "numeric/dyn_array.h"

namespace tavrix {

// Octave bands 125 Hz (7) .. 8 kHz (13); band index b = band - 7.
constexpr int32_t kStiFirstBand = 7;
constexpr int32_t kStiLastBand = 13;
constexpr int32_t kStiBandCount = kStiLastBand - kStiFirstBand + 1;
// Modulation frequencies 0.63 .. 12.5 Hz in third-octave steps.
constexpr int32_t kStiModulationCount = 14;
// The slowest modulation (0.63 Hz) needs a frame of about one period: shorter
// responses are zero-padded to this length in seconds.
constexpr double kStiMinimumDuration = 1.6;
// Highest accepted sample rate, far above any audio converter: it bounds the
// zero padding (and so the memory) that a short response can ask for.
constexpr double kStiMaxSampleRate = 1e7;

struct StiAnalysis {
  double sampleRate = 0.0;
  bool initialised = false;                // the MTF matrix is complete
  DynArray<double> impulse;                // padded to at least 1.6 s, response at the end
  DynArray<double> modulationFrequencies;  // 14 values, 10^((j-2)/10) Hz
  DynArray<double> timeAxis;               // i / sampleRate, one per impulse sample
  DynArray<double> mtf;                    // 7 x 14, band-major; empty unless initialised
  // Levels in dB per octave band, copied in by the setters.
  std::array<double, kStiBandCount> signalLevels{};
  std::array<double, kStiBandCount> noiseLevels{};
  bool hasSignalLevels = false;
  bool hasNoiseLevels = false;
  std::unique_ptr<FilterBank> filterBank;  // octave bands 7..13 plus A and C
};

// Stores the (padded) response and computes the MTF matrix. -1 for an object
// already initialised, a null or empty response, a sample rate that is not
// in (0, 1e7] Hz, or a band without finite, non-zero
// energy; the object is then left without MTF and not initialised.
int32_t stiInitialise(StiAnalysis& analysis, const double* impulse, int32_t n, double sampleRate);

// Writes the squared response filtered forward through a band id (7..13, A,
// C, unfiltered) into out (impulse.size() values). The band filter keeps its
// state from the previous pass. -1 (out untouched) for another id or an
// object without response.
int32_t stiBandEnvelope(StiAnalysis& analysis, int32_t band, double* out);

// Modulation transfer of an energy envelope e[0..count-1] sampled at
// sampleRate: m = |sum e_i exp(-2 pi i f t_i)| / sum e_i, t_i = i / sampleRate,
// for each of the 14 frequencies. -1 when the energy is not finite and
// positive or a value is not finite.
int32_t stiModulationTransfer(const double* envelope, int32_t count, double sampleRate,
                              const double* frequencies, double* mtf);

}  // namespace tavrix

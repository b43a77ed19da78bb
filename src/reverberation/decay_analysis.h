// Noise-compensated decay analysis of one band's energy envelope.
#pragma once

#include <cstdint>

#include "numeric/dyn_array.h"

namespace tavrix {

constexpr int32_t kDecayNoDecayAboveNoise = -30;  // no block 10 dB above the first noise estimate
constexpr int32_t kDecayNoCrosspoint = -31;       // no interval length and class converged
constexpr int32_t kDecayLateFitFailed = -32;      // crosspoint found, final late-decay fit failed
constexpr int32_t kDecayTooFewIntervals = -33;    // fewer than 10 intervals for the length tried

struct DecayAnalysis {
  int32_t status = 0;
  DynArray<double> decayCurve;  // backward-integrated energy from the onset, linear
  double crosspointSample = 0.0;
  double noiseLevel = 0.0;           // mean noise energy
  double tailModel[2] = {0.0, 0.0};  // exponential tail model at time 0 and at the crosspoint
};

// Late-decay fit class 1..4 from the ratio of the envelope peak to the first
// noise estimate (dB): above 45, 30 and 20 dB the classes 4, 3 and 2, else 1.
int decayFitClass(double peakToNoiseDb);

// energy[0..n-1]: the band's energy envelope from the onset on; fs in Hz.
// Finds the noise level and the crosspoint where the decay meets it, models
// the energy cut off at the crosspoint as an exponential tail, and integrates
// the noise-subtracted energy backwards from the crosspoint with the tail
// added. On -30, -31 and -33 decayCurve is one 0.0 and crosspointSample and
// tailModel are 0 (noiseLevel keeps the last noise estimate on -31 and -33);
// on -32 everything but the tail is set.
// Envelopes shorter than one 10 ms block (n <= 0 included), sample rates
// below 100 Hz (a block shorter than a sample) and non-finite sample rates
// give -30. A preliminary decay that gives intervals shorter than one sample,
// or a NaN or infinite ten-decibel time, gives -33.
DecayAnalysis analyzeDecay(const double* energy, int32_t n, double fs);

// Schroeder integration up to the crosspoint tc (s): the energy less the noise
// (negative differences count as 0) is summed backwards over the first
// K = round(tc * fs - 1) samples (none when K < 1), and tailSamples is added
// to every value. Samples past the end of the envelope count as 0, so the
// curve has K values; K is capped at 2 n, which a crosspoint found by
// analyzeDecay never reaches.
void integrateBackward(const double* energy, int32_t n, double tc, double fs, double tailSamples,
                       double noise, DynArray<double>& curve);

}  // namespace tavrix

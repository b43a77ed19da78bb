// Noise-compensated decay analysis of one band's energy envelope.
#pragma once

#include <cstdint>

#include "numeric/dyn_array.h"

namespace tavrix {

constexpr int32_t kDecayNoDecayAboveNoise = -30;   // no block 10 dB above the first noise estimate
constexpr int32_t kDecayNoCrosspoint = -31;        // no interval length and class converged
constexpr int32_t kDecayLateFitFailed = -32;       // crosspoint found, final late-decay fit failed
constexpr int32_t kDecayTooFewIntervals = -33;     // fewer than 10 intervals for the length tried

struct DecayAnalysis {
  int32_t status = 0;
  DynArray<double> decayCurve;     // backward-integrated energy from the onset, linear
  double crosspointSample = 0.0;
  double noiseLevel = 0.0;         // mean noise energy
  double tailModel[2] = {0.0, 0.0};  // exponential tail model at time 0 and at the crosspoint
};

// energy[0..n-1]: the band's energy envelope from the onset on; fs in Hz.
DecayAnalysis analyzeDecay(const double* energy, int32_t n, double fs);

}  // namespace tavrix

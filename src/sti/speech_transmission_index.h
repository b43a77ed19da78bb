// The speech transmission index from a modulation transfer matrix.
#pragma once

#include <cstdint>

#include "sti/sti_analysis.h"

namespace tavrix {

constexpr double kStiFailed = -1.0;         // no MTF matrix (empty slot or failed analysis)
constexpr double kStiLevelsMissing = -2.0;  // level correction asked for before both level sets

// The index of a 7 x 14 matrix (band-major, 125 Hz .. 8 kHz) with the male or
// female band and redundancy weights. With signal and noise levels (dB, seven
// each; both or neither) every modulation index of band b is first reduced by
// the noise, m' = m / (1 + 10^((N - S) / 10)).
double stiFromMtf(const double* mtf, bool maleWeights, const double* signalLevels, const double* noiseLevels);

// The index of an analysis: kStiFailed when it is not initialised,
// kStiLevelsMissing when useLevels is set and a level set was never given.
double stiIndex(const StiAnalysis& analysis, bool maleWeights, bool useLevels);

}  // namespace tavrix

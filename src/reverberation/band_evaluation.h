// Evaluation of one frequency band of a reverberation analysis or ensemble:
// band energy, noise-compensated decay, level curves and reverberation times.
#pragma once

#include <cstdint>

#include "numeric/dyn_array.h"
#include "reverberation/reverberation_analysis.h"

namespace tavrix {

// Squared envelope of the band-filtered analytic signal from the segment's
// start to at least the window end (for an ensemble: the members' mean over the common window), and the
// stretch of it that the decay analysis sees: from the onset sample to the
// sample before the window end.
struct BandEnergy {
  DynArray<double> energy;
  int32_t decayOnset = 0;   // 1-based position of the onset sample
  int32_t decayLength = 0;  // may be 0 or negative when the window ends before the onset
};

// 0, or -1 without filter bank or segments, or for a band the bank cannot
// filter (outside its range, or a step delay not shorter than the segment).
// The energy ends where the reverse pass started: the window end plus the band
// filter's settling length, or the whole segment when
// analysis.wholeSegmentPasses is set.
int32_t bandEnergy(const ReverberationAnalysis& analysis, int32_t band, BandEnergy& out);
// 0, or -1 for an ensemble that is not ready, has no members, or has a member
// that fails bandEnergy or whose band energy does not cover the common window.
int32_t ensembleBandEnergy(const ReverberationAnalysis& ensemble, int32_t band, BandEnergy& out);

// Means of the floor(n / b) whole blocks of b values of x (b >= 1); the values
// after the last whole block are dropped.
DynArray<double> averageBlocks(const double* x, int32_t n, int32_t b);

// The curves a host displays, in dB: the band energy over the analysis window
// re its peak, and the decay curve re its first value.
struct LevelCurves {
  DynArray<double> levelCurveDb;
  DynArray<double> decayCurveDb;
  double noiseLevelDb = 0.0;  // re the window peak (the block peak with averaging)
  double tailModelDb[2] = {0.0, 0.0};
  double decayStartLevelDb = 0.0;  // absolute; NaN for an empty decay curve
  double peakLevelDb = 0.0;        // absolute level of the window peak
  int32_t onsetOffset = 0;         // index of the onset in the level curve, negated
};

// energy: the band energy (positions windowStart..windowEnd must lie inside
// it); decayCurve: the backward-integrated decay from the onset (may be empty);
// blockLength <= 0: one value per sample.
LevelCurves levelCurves(const DynArray<double>& energy, const DynArray<double>& decayCurve, double noise,
                        const double tailModel[2], int32_t blockLength, double onset, double windowEnd,
                        double windowStart);

// The host's output buffers. Curve buffers hold reverbMaxImpulseLength values;
// tailModelDb two; reverbTimes and fitQuality rangeCount each. Pointers that an
// export does not have are null.
struct BandOutputs {
  double* levelCurveDb = nullptr;
  int32_t* levelCurveLength = nullptr;
  double* decayCurveDb = nullptr;
  double* decayCurveEnd = nullptr;
  double* noiseLevelDb = nullptr;
  double* tailModelDb = nullptr;
  double* decayStartLevelDb = nullptr;
  int32_t* onsetOffset = nullptr;
  double* peakLevelDb = nullptr;
  double* reverbTimes = nullptr;
  double* fitQuality = nullptr;
  double* dynamicRange = nullptr;
  double* curvature = nullptr;
};

// Level curves and reverberation times of one band. -1 (nothing written) when
// the band energy cannot be formed or blockLength exceeds the window; otherwise the status of the decay
// analysis, or of the reverberation times when the decay analysis succeeded.
int32_t evaluateBand(const ReverberationAnalysis& analysis, int32_t band, const double* ranges,
                     int32_t rangeCount, int32_t blockLength, const BandOutputs& out);
// The level curves only; returns the status of the decay analysis (or -1 as
// above).
int32_t evaluateBandLevel(const ReverberationAnalysis& analysis, int32_t band, int32_t blockLength,
                          const BandOutputs& out);

}  // namespace tavrix

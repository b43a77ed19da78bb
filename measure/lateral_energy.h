// The early lateral energy fractions of one band from a pressure signal p0
// and a figure-of-eight signal p8 of equal on-axis sensitivity, the
// figure-of-eight's null facing the source (so that it hears the side
// reflections and not the direct sound):
//   LF  = sum of p8^2 over 5 .. 80 ms / sum of p0^2 over 0 .. 80 ms,
//   LFC = sum of |p8 p0| over 5 .. 80 ms / sum of p0^2 over 0 .. 80 ms,
// with time 0 at the band's direct sound. LFC weighs a reflection by the
// cosine of its angle to the lateral axis, LF by the cosine squared; the
// first 5 ms are left out of the numerators so that a figure-of-eight that
// is not quite aligned adds no direct sound. The denominator's 0 .. 80 ms
// includes what the time-reversed band filter spread of the direct sound
// before its onset, as the clarity does.
#pragma once

#include <vector>

#include "band_onsets.h"

namespace tavrix::measure {

struct LateralFractions {
  double lf, lfc;  // NaN when the band holds no early energy
};

// p0 and p8: one band of each channel (alignedBandSignals), equally long.
LateralFractions lateralFractions(const std::vector<double>& p0, const std::vector<double>& p8,
                                  const BandOnset& at, double fs);

}  // namespace tavrix::measure

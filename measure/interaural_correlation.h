// The interaural cross-correlation of one band of a binaural response:
//   IACF(tau) = sum of l(t) r(t + tau) / sqrt(sum of l^2 sum of r^2)
// over a stretch t1 .. t2 after the direct sound, and IACC its largest
// magnitude for lags within +-1 ms (about the time sound takes around a
// head). Early: 0 .. 80 ms, with what the time-reversed band filter spread
// of the direct sound before its onset; late: 80 ms to where the band's decay
// meets the noise; all: both together.
#pragma once

#include <vector>

#include "band_onsets.h"

namespace tavrix::measure {

struct InterauralCorrelation {
  double early, late, all;  // NaN for a stretch with no energy in an ear
};

// left and right: one band of each ear (alignedBandSignals), equally long.
InterauralCorrelation interauralCorrelation(const std::vector<double>& left, const std::vector<double>& right,
                                            const BandOnset& at, double fs);

}  // namespace tavrix::measure

// Band filtering of a measured impulse response.
#pragma once

#include <cstdint>

#include "filters/filter_bank.h"

namespace tavrix {

// Filters out[0..n-1] time-reversed, from rest, through a band id of the bank:
// a band of the bank, the A- or C-weighting, or kBandUnfiltered (out left as
// it is). Every band cascade of the bank is put at rest first. Returns 0, or -1
// for an id the bank does not hold (out unchanged).
int32_t filterImpulseBand(FilterBank& bank, double* out, int32_t n, int32_t band);

}  // namespace tavrix

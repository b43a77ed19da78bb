// Fractional-octave filter bank: band-pass cascades of one resolution plus the
// A- and C-weighting filters, all fixed designs for 48 kHz.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "filters/sos_cascade.h"

namespace tavrix {

constexpr int32_t kBandAWeighting = 100000;
constexpr int32_t kBandCWeighting = 100001;
constexpr int32_t kBandUnfiltered = 100002;

struct FilterBank {
  int32_t resolution = 0;  // 1 octave, 2 third, 3 twelfth, 4 twenty-fourth octave
  int32_t order = 0;       // 8 once built
  int32_t bandCount = 0;
  int32_t firstBand = 0;
  int32_t lastBand = 0;
  std::vector<SosCascade> bands;  // index = band number - firstBand
  std::unique_ptr<SosCascade> aWeighting;
  std::unique_ptr<SosCascade> cWeighting;
};

// Builds the bank; -1 for a bank that is already built, a resolution outside
// 1..4, a band range outside the resolution's or reversed.
int32_t bankBuild(FilterBank& bank, int32_t resolution, int32_t firstBand, int32_t lastBand);
// A built bank, or nullptr when bankBuild rejects the arguments.
std::unique_ptr<FilterBank> bankCreate(int32_t resolution, int32_t firstBand, int32_t lastBand);

// Filtering in place through a band id (band of the bank, A, C, unfiltered);
// -1 for an id the bank does not hold, x unchanged.
int32_t bankFilter(FilterBank& bank, double* x, int32_t n, int32_t band);
int32_t bankFilterReverse(FilterBank& bank, double* x, int32_t n, int32_t band);
// Time-reversed filtering from rest with the band's step delay compensated
// (a delay of 1 for the weightings); -1 when the delay is not shorter than n.
int32_t bankFilterReverseAligned(FilterBank& bank, double* x, int32_t n, int32_t band);
// bankFilterReverseAligned on two signals at once (interleaved recurrences,
// the same results as two calls; the cascade's state is left alone), read from
// sx, sy and written to x, y: the same arrays, or others of n values.
int32_t bankFilterReverseAlignedPair(FilterBank& bank, const double* sx, const double* sy, double* x,
                                     double* y, int32_t n, int32_t band);
// Length of the start of n samples that an aligned reverse pass must cover
// for its first `needed` outputs to be those of the pass over all n samples:
// the samples left out are then only seen through the band filter's slowest
// pole after it has decayed by the factor attenuation. At least the band's
// delay + 1, at most n; n for the weightings, for a filter that does not
// decay and for a band the bank does not hold.
int32_t bankReverseSpan(FilterBank& bank, int32_t band, int32_t n, int32_t needed, double attenuation);
// Puts every band cascade at rest (not the weightings); -1 without bands.
int32_t bankResetBands(FilterBank& bank);
// The band's step delay in samples; -1 for a band outside the bank's range.
int32_t bankStepDelay(const FilterBank& bank, int32_t band);
// The cascade behind a band id, or nullptr (also for kBandUnfiltered).
SosCascade* bankCascade(FilterBank& bank, int32_t band);

}  // namespace tavrix

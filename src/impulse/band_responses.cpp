#include "impulse/band_responses.h"

namespace tavrix {

// Filtering time-reversed puts the band filter's own ringing before the onset
// instead of on top of the room's decay, so a narrow band's decay is not
// lengthened by the filter. No step-delay shift is applied here.
int32_t filterImpulseBand(FilterBank& bank, double* out, int32_t n, int32_t band) {
  bankResetBands(bank);
  if (band == kBandUnfiltered) return 0;
  SosCascade* cascade = bankCascade(bank, band);
  if (!cascade) return -1;
  sosReset(*cascade);  // the weightings are not among the bands just reset
  return sosFilterReverse(*cascade, out, n);
}

}  // namespace tavrix

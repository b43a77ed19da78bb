// Where each band's direct sound lies in a response, as the reverberation
// analysis finds it: the library's onset of the direct sound, moved to where
// the band centres an impulse arriving at the onset, with the stretch before
// it over which the time-reversed band filter spreads the direct sound, and
// where the band's decay sinks into the noise. Parameters that integrate
// from the direct sound (the lateral fractions, the interaural correlation)
// count their time limits from it, as C50 and C80 do.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "bands.h"

namespace tavrix::measure {

struct BandOnset {
  int band = 0;
  size_t onset = 0;   // the library's onset of the direct sound, in samples of the response
  double centre = 0;  // time 0 in samples after the onset (see direct_image.h)
  size_t first = 0;   // the first sample that holds the direct sound's band energy
  // Where the band's decay meets the noise (the library's crosspoint), or
  // the end of the response when its decay meets no floor.
  size_t decayEnd = 0;
  // The sample `seconds` after time 0 (rounded as the energy parameters
  // round their limits), never before the response's start.
  size_t after(double seconds, double fs) const;
};

// The bands' direct sounds in x (a conditioned response at rate Hz). A
// response without a distinct direct sound is a TVM_NO_DIRECT_SOUND naming
// `name`. Safe from any thread.
std::vector<BandOnset> bandOnsets(const std::vector<double>& x, int rate, const BandSet& bands,
                                  const std::string& name);

}  // namespace tavrix::measure

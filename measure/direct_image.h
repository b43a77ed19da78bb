// How the band analysis images an ideal direct sound: where the band puts an
// impulse that arrives at the onset, and how far before the onset its
// time-reversed band filter spreads it. The reverberation's energy
// parameters and the spatial parameters take their time 0 from it.
#pragma once

#include <cstddef>
#include <map>

#include "bands.h"

namespace tavrix::measure {

// The library looks for the direct sound from 0.25 s on and keeps half a
// second before it; a response whose direct sound comes earlier (most files
// cut by other tools start with it) gets this much silence in front.
constexpr double kLeadInSeconds = 0.5;

// How the analysis images a direct sound in one band.
struct DirectImage {
  size_t spread = 0;  // samples before the onset that hold its energy (all but 0.1 %)
  double centre = 0;  // its energy centroid, in samples after the onset
};

// The images of the bands of `bands` (and of the broadband A and Z with
// `broadband`) at `rate`, kept per rate and band set once made. Called with
// the library lock held; empty when the library had no slot.
std::map<int, DirectImage> cachedDirectImages(const BandSet& bands, bool broadband, int rate);

}  // namespace tavrix::measure

// A response through the library's band filters as the reverberation
// analysis filters it: time-reversed from rest, with the band's delay
// compensated, so that band sample i belongs to response sample i and the
// filter's ringing falls before a sound rather than after it. Products and
// correlations of two channels need these signed band signals, where the
// decay analysis needs only their energy.
#pragma once

#include <vector>

#include "bands.h"

namespace tavrix::measure {

// One signal per band of `bands`, each as long as x. Safe from any thread.
std::vector<std::vector<double>> alignedBandSignals(const std::vector<double>& x, const BandSet& bands);

}  // namespace tavrix::measure

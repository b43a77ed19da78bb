// The decay plot: one panel per band with the level curve, the decay curve,
// the noise level and the late-decay model on a dB-over-seconds grid.
#pragma once

#include <string>
#include <vector>

#include "reverb_analysis.h"
#include "svg_writer.h"

namespace tavrix::cli {

using namespace tavrix::measure;

// The SVG document for one analysed response (a position or the ensemble).
std::string decayPlotSvg(const std::string& title, const ImpulseResult& result, const ReverbOptions& options,
                         double blockSeconds);

}  // namespace tavrix::cli

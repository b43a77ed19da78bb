// Reports of the harmonic distortion of a sweep measurement.
#pragma once

#include <string>

#include "distortion.h"

namespace tavrix::cli {

using namespace tavrix::measure;

using measure::DistortionResult;

std::string distortionTable(const DistortionResult& result);
std::string distortionCsv(const DistortionResult& result);
std::string distortionJson(const DistortionResult& result);
// The harmonics' levels and THD over frequency as an SVG picture.
std::string distortionPlotSvg(const DistortionResult& result, const std::string& title);

}  // namespace tavrix::cli

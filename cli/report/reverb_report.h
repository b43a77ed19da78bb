// The reverberation results as a table for people, CSV and JSON for scripts.
#pragma once

#include <string>

#include "reverb_analysis.h"

namespace tavrix::cli {

using namespace tavrix::measure;

// Column name of a decay range: "EDT" for 0, "T20" for 20 dB.
std::string rangeName(double range);

std::string reverbTable(const ReverbReport& report, const ReverbOptions& options);
std::string reverbCsv(const ReverbReport& report, const ReverbOptions& options);
std::string reverbJson(const ReverbReport& report, const ReverbOptions& options);

}  // namespace tavrix::cli

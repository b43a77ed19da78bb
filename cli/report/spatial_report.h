// The spatial parameters as a table for people, CSV and JSON for scripts.
#pragma once

#include <string>

#include "spatial_analysis.h"

namespace tavrix::cli {

using namespace tavrix::measure;

std::string spatialTable(const SpatialResult& r);
std::string spatialCsv(const SpatialResult& r);
std::string spatialJson(const SpatialResult& r);

}  // namespace tavrix::cli

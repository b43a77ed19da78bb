// Speech transmission analysis: the modulation transfer matrix of an impulse response.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "filters/filter_bank.h"
#include "numeric/dyn_array.h"

namespace tavrix {

struct StiAnalysis {
  double sampleRate = 0.0;
  bool initialised = false;
  DynArray<double> impulse;  // padded to at least 1.6 s
  std::unique_ptr<FilterBank> filterBank;
};

}  // namespace tavrix

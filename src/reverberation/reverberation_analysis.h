// A room impulse response prepared for decay analysis in any band.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "filters/filter_bank.h"
#include "numeric/dyn_array.h"

namespace tavrix {

struct ReverberationAnalysis {
  double segmentStart = 0.0;  // 1-based position in the response where the stored segment begins
  double segmentEnd = 0.0;
  double onset = 0.0;         // positions below count within the segment (1 = segmentStart)
  double windowEnd = 0.0;
  double windowStart = 0.0;
  double peakToNoise = 0.0;   // dB
  double sampleRate = 0.0;
  double sweepDuration = 0.0;
  double tailDuration = 0.0;
  DynArray<double> realSegment;  // analytic signal, real part
  DynArray<double> imagSegment;  // analytic signal, Hilbert transform
  bool initialised = false;
  bool isEnsemble = false;
  std::unique_ptr<FilterBank> filterBank;
  std::vector<ReverberationAnalysis*> members;  // not owned
};

}  // namespace tavrix

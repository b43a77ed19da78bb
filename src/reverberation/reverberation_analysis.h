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
  double onset = 0.0;  // positions below count within the segment (1 = segmentStart)
  double windowEnd = 0.0;
  double windowStart = 0.0;
  double peakToNoise = 0.0;  // dB
  double sampleRate = 0.0;
  double sweepDuration = 0.0;
  double tailDuration = 0.0;
  DynArray<double> realSegment;  // analytic signal, real part
  DynArray<double> imagSegment;  // analytic signal, Hilbert transform
  bool initialised = false;
  bool isEnsemble = false;
  std::unique_ptr<FilterBank> filterBank;
  std::vector<ReverberationAnalysis*> members;  // not owned; members.size() is the member count
  // Band passes over the whole segment instead of from the window end plus the
  // band filter's settling length (the same results; kept as a cross-check).
  bool wholeSegmentPasses = false;
};

// Prepares a freshly created analysis from n samples of an impulse response:
// analytic signal, A-weighted broadband envelope, onset and analysis window,
// stored segments. 0, or -1 (object left not initialised) for an object that
// is already initialised, a null response, a response shorter than the
// quarter second that the peak search skips, a sample rate or a duration that
// is not a positive finite number, a response in which no direct sound can be
// located, or an analysis window without samples.
int32_t reverbPrepare(ReverberationAnalysis& analysis, const double* impulse, int32_t n, double sampleRate,
                      double sweepDuration, double tailDuration);

// Makes `ensemble` (freshly created) an ensemble of the given analyses, in
// order; a null pointer stands for a member that is not ready. The ensemble
// becomes initialised when every member is ready, all share one sample rate
// and their onsets lie at one distance from their window starts; with no
// members it is initialised with a one-position window.
void reverbBuildEnsemble(ReverberationAnalysis& ensemble, const std::vector<ReverberationAnalysis*>& members);

// Number of samples of the analysis window, truncate(windowEnd - windowStart)
// + 1; -1 for an object that is not initialised.
int32_t reverbMaxImpulseLength(const ReverberationAnalysis& analysis);

// True when `ensemble` names `member` among its members.
bool reverbNamesMember(const ReverberationAnalysis& ensemble, const ReverberationAnalysis* member);

}  // namespace tavrix

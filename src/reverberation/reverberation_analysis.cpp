#include "reverberation/reverberation_analysis.h"

#include <algorithm>
#include <cmath>

#include "impulse/analytic_signal.h"
#include "numeric/scalar_rules.h"
#include "reverberation/onset.h"

namespace tavrix {

namespace {

bool isPositiveFinite(double x) { return std::isfinite(x) && x > 0.0; }

// A response measured elsewhere has no sweep (0 s) and may have no tail: the
// window rule stays well defined for zero durations.
bool isNonNegativeFinite(double x) { return std::isfinite(x) && x >= 0.0; }

// Squared magnitude of the A-weighted analytic signal. The weighting brings
// the envelope close to what the ear hears as the arrival, so low-frequency
// rumble before the direct sound does not hide it. The weighting filter is
// the fixed 48 kHz design whatever the response's rate; the octave bank
// around it is built only to reach that filter.
DynArray<double> aWeightedEnergy(const double* re, const double* im, int32_t n) {
  std::unique_ptr<FilterBank> bank = bankCreate(1, 6, 6);
  SosCascade* weighting = bank ? bankCascade(*bank, kBandAWeighting) : nullptr;
  if (!weighting) return {};
  DynArray<double> energy = DynArray<double>::uninitialised(n);
  DynArray<double> imWeighted = DynArray<double>::uninitialised(n);
  sosFilterPair(*weighting, re, im, energy.data(), imWeighted.data(), n);
  for (int32_t i = 0; i < energy.size(); ++i)
    energy[i] = energy[i] * energy[i] + imWeighted[i] * imWeighted[i];
  return energy;
}

void copyLocation(const ImpulseLocation& location, ReverberationAnalysis& analysis) {
  analysis.segmentStart = location.segmentStart;
  analysis.segmentEnd = location.segmentEnd;
  analysis.onset = location.onset;
  analysis.windowEnd = location.windowEnd;
  analysis.windowStart = location.windowStart;
  analysis.peakToNoise = location.peakToNoise;
}

}  // namespace

int32_t reverbPrepare(ReverberationAnalysis& analysis, const double* impulse, int32_t n, double sampleRate,
                      double sweepDuration, double tailDuration) {
  if (analysis.initialised) return -1;
  analysis.sampleRate = sampleRate;
  analysis.sweepDuration = sweepDuration;
  analysis.tailDuration = tailDuration;
  if (impulse == nullptr || n < 1 || !isPositiveFinite(sampleRate) || !isNonNegativeFinite(sweepDuration) ||
      !isNonNegativeFinite(tailDuration))
    return -1;
  // The measurement span: sweep, tail and the second of silence around them.
  const double span = (sweepDuration + tailDuration + 1.0) * sampleRate;
  if (!std::isfinite(span) || n < roundHalfAway(kPeakSearchStartSeconds * sampleRate)) return -1;

  // The analytic signal: the response itself as real part, its Hilbert
  // transform (over a power of two, the first n values) as imaginary part.
  const double* re = impulse;
  const DynArray<double> im = hilbertTransform(impulse, n);
  const DynArray<double> energy = aWeightedEnergy(re, im.data(), n);
  if (energy.size() != n) return -1;

  ImpulseLocation location;
  const int32_t status = locateImpulse(energy.data(), n, sampleRate, sweepDuration, span, location);
  copyLocation(location, analysis);
  if (status < 0) return -1;
  // Durations far beyond any measurement can leave the window end before its
  // start (the span loses the sweep to rounding); such a window has no sample.
  if (!(analysis.windowEnd >= analysis.windowStart)) return -1;

  const int32_t count = truncateToInt(analysis.segmentEnd - analysis.segmentStart);
  const int32_t first = truncateToInt(analysis.segmentStart);
  if (count < 0 || first < 1 || static_cast<int64_t>(first) + count - 1 > n) return -1;
  // The stored parts are unweighted: the weighting served only to find the
  // direct sound.
  DynArray<double> realSegment(OneBased{re}.from(first), count);
  DynArray<double> imagSegment(OneBased{im.data()}.from(first), count);
  analysis.realSegment.swap(realSegment);
  analysis.imagSegment.swap(imagSegment);
  analysis.initialised = true;
  return 0;
}

void reverbBuildEnsemble(ReverberationAnalysis& ensemble,
                         const std::vector<ReverberationAnalysis*>& members) {
  ensemble.members = members;
  ensemble.onset = 1.0;
  ensemble.windowStart = 1.0;
  if (members.empty()) {
    ensemble.windowEnd = 1.0;
    ensemble.onset = 2.0;
    ensemble.initialised = ensemble.isEnsemble = true;
    return;
  }

  // Members are averaged sample by sample from their window starts, so their
  // onsets must lie the same number of samples into their windows; the common
  // window is the shortest.
  int32_t onsetPos = 0;
  int32_t windowLen = 0;
  for (size_t i = 0; i < members.size(); ++i) {
    const ReverberationAnalysis* m = members[i];
    if (m == nullptr || !m->initialised) return;
    const int32_t memberOnset = truncateToInt(m->onset - m->windowStart) + 1;
    const int32_t memberLen = truncateToInt(m->windowEnd - m->windowStart) + 1;
    if (i == 0) {
      ensemble.sampleRate = m->sampleRate;
      onsetPos = memberOnset;
      windowLen = memberLen;
      continue;
    }
    if (!(m->sampleRate == ensemble.sampleRate) || memberOnset != onsetPos) return;
    windowLen = std::min(windowLen, memberLen);
  }
  ensemble.onset = onsetPos + 1.0;
  ensemble.windowEnd = windowLen + 1.0;
  ensemble.initialised = ensemble.isEnsemble = true;
}

int32_t reverbMaxImpulseLength(const ReverberationAnalysis& analysis) {
  if (!analysis.initialised) return -1;
  const int64_t length = static_cast<int64_t>(truncateToInt(analysis.windowEnd - analysis.windowStart)) + 1;
  return static_cast<int32_t>(std::clamp<int64_t>(length, -1, INT32_MAX));
}

bool reverbNamesMember(const ReverberationAnalysis& ensemble, const ReverberationAnalysis* member) {
  return std::find(ensemble.members.begin(), ensemble.members.end(), member) != ensemble.members.end();
}

}  // namespace tavrix

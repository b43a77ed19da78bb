#include "reverberation/band_evaluation.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "filters/filter_bank.h"
#include "numeric/constants.h"
#include "numeric/scalar_rules.h"
#include "reverberation/decay_analysis.h"
#include "reverberation/decay_times.h"

namespace tavrix {

namespace {

// Decay of the band filter's slowest pole after which the samples beyond the
// analysis window no longer reach it: 300 dB, so that even a value 170 dB
// below the largest sample (before the direct sound, in a weighted band)
// moves by less than 1e-13 of itself.
constexpr double kSettledAttenuation = 1e-30;

double levelDb(double energyRatio) { return 10.0 * std::log10(energyRatio); }

// Number of values of the level-curve window windowStart..windowEnd.
int32_t windowValueCount(double windowStart, double windowEnd) {
  if (windowStart > windowEnd) return 0;
  return truncateToInt(windowEnd) - truncateToInt(windowStart) + 1;
}

// A range that the reverberation-time evaluation refuses: neither the early
// decay time (0) nor a range of 10 dB or more.
bool isInvalidRange(double range) { return range != 0.0 && range < 10.0; }

void copyClamped(const DynArray<double>& values, double* out, int32_t capacity, int32_t& written) {
  written = std::min(values.size(), std::max(capacity, 0));
  if (written > 0) std::memcpy(out, values.data(), sizeof(double) * static_cast<size_t>(written));
}

struct DecayEvaluation {
  int32_t status = -1;
  DecayAnalysis decay;
  LevelCurves curves;
};

// The part both exports share: band energy, decay analysis, level curves,
// the level outputs written. status -1 means nothing was written.
DecayEvaluation evaluateLevels(const ReverberationAnalysis& analysis, int32_t band, int32_t blockLength,
                               const BandOutputs& out) {
  DecayEvaluation result;
  if (!analysis.initialised) return result;
  const int32_t windowCount = windowValueCount(analysis.windowStart, analysis.windowEnd);
  // A block longer than the window leaves no whole block and no peak to refer
  // the curve to.
  if (blockLength > 0 && blockLength > windowCount) return result;

  BandEnergy energy;
  const int32_t energyStatus =
      analysis.isEnsemble ? ensembleBandEnergy(analysis, band, energy) : bandEnergy(analysis, band, energy);
  if (energyStatus != 0) return result;
  const int32_t ws = truncateToInt(analysis.windowStart);
  const int32_t we = truncateToInt(analysis.windowEnd);
  if (windowCount > 0 && (ws < 1 || we > energy.energy.size())) return result;
  // A window that closes at or before the onset leaves the decay analysis an
  // empty envelope, which it reports as having no decay above the noise.
  const bool hasDecay = energy.decayLength > 0;
  if (hasDecay && (energy.decayOnset < 1 ||
                   static_cast<int64_t>(energy.decayOnset) + energy.decayLength - 1 > energy.energy.size()))
    return result;
  result.decay =
      analyzeDecay(hasDecay ? OneBased{energy.energy.data()}.from(energy.decayOnset) : energy.energy.data(),
                   hasDecay ? energy.decayLength : 0, analysis.sampleRate);
  result.status = result.decay.status;
  result.curves =
      levelCurves(energy.energy, result.decay.decayCurve, result.decay.noiseLevel, result.decay.tailModel,
                  blockLength, analysis.onset, analysis.windowEnd, analysis.windowStart);

  // The host sized its curve buffers by the window length it was told; a
  // window whose ends are not whole positions can hold one value more, which
  // is dropped rather than written past the buffer.
  const int32_t capacity = reverbMaxImpulseLength(analysis);
  int32_t levelCount = 0;
  int32_t decayCount = 0;
  const LevelCurves& curves = result.curves;
  copyClamped(curves.levelCurveDb, out.levelCurveDb, capacity, levelCount);
  copyClamped(curves.decayCurveDb, out.decayCurveDb, capacity, decayCount);
  *out.levelCurveLength = levelCount;
  *out.decayCurveEnd = decayCount - 1.0;
  *out.noiseLevelDb = curves.noiseLevelDb;
  if (out.tailModelDb) {
    out.tailModelDb[0] = curves.tailModelDb[0];
    out.tailModelDb[1] = curves.tailModelDb[1];
  }
  if (out.decayStartLevelDb) *out.decayStartLevelDb = curves.decayStartLevelDb;
  *out.onsetOffset = curves.onsetOffset;
  *out.peakLevelDb = curves.peakLevelDb;
  return result;
}

}  // namespace

int32_t bandEnergy(const ReverberationAnalysis& analysis, int32_t band, BandEnergy& out) {
  if (!analysis.filterBank || analysis.realSegment.empty() || analysis.imagSegment.empty() ||
      analysis.realSegment.size() != analysis.imagSegment.size())
    return -1;
  const int32_t k = analysis.realSegment.size();
  // Time-reversed filtering with the band's step delay compensated: the
  // filter's own ringing then falls before the decay instead of lengthening it.
  // The analysis reads the energy only up to the window end, so the reverse
  // pass starts where whatever follows has decayed in the band filter by
  // kSettledAttenuation, far below the rounding of any value read; the energy
  // ends with that start, beyond the last position the analysis reads.
  const int32_t needed =
      analysis.wholeSegmentPasses ? k : std::clamp(truncateToInt(analysis.windowEnd), 0, k);
  const int32_t span = bankReverseSpan(*analysis.filterBank, band, k, needed, kSettledAttenuation);
  DynArray<double> re = DynArray<double>::uninitialised(span), im = DynArray<double>::uninitialised(span);
  if (bankFilterReverseAlignedPair(*analysis.filterBank, analysis.realSegment.data(),
                                   analysis.imagSegment.data(), re.data(), im.data(), span, band) != 0)
    return -1;
  for (int32_t i = 0; i < span; ++i) re[i] = re[i] * re[i] + im[i] * im[i];
  out.energy.swap(re);
  const int32_t onset = truncateToInt(analysis.onset);
  out.decayOnset = onset;
  out.decayLength = truncateToInt(analysis.windowEnd) - onset;
  return 0;
}

int32_t ensembleBandEnergy(const ReverberationAnalysis& ensemble, int32_t band, BandEnergy& out) {
  if (!ensemble.initialised || !ensemble.isEnsemble || ensemble.members.empty()) return -1;
  const int32_t windowLen = truncateToInt(ensemble.windowEnd - ensemble.windowStart);
  if (windowLen < 1) return -1;
  // One position more than the members fill: it stays 0 and closes the
  // ensemble's level-curve window.
  DynArray<double> mean(windowLen + 1);
  const size_t count = ensemble.members.size();
  const double memberCount = static_cast<double>(count);
  for (size_t i = 0; i < count; ++i) {
    const ReverberationAnalysis* member = ensemble.members[i];
    BandEnergy energy;
    if (member == nullptr || bandEnergy(*member, band, energy) != 0) return -1;
    // Aligned on the members' window starts, and so on their onsets.
    const int32_t w = truncateToInt(member->windowStart);
    if (w < 1 || static_cast<int64_t>(w) + windowLen - 1 > energy.energy.size()) return -1;
    const double* e = OneBased{energy.energy.data()}.from(w);
    if (i == 0) {
      for (int32_t j = 0; j < windowLen; ++j) mean[j] = e[j];
    } else if (i + 1 < count) {
      for (int32_t j = 0; j < windowLen; ++j) mean[j] = mean[j] + e[j];
    } else {
      for (int32_t j = 0; j < windowLen; ++j) mean[j] = (e[j] + mean[j]) / memberCount;
    }
  }
  out.energy.swap(mean);
  const int32_t onset = truncateToInt(ensemble.onset);
  out.decayOnset = onset;
  out.decayLength = truncateToInt(ensemble.windowEnd) - onset;
  return 0;
}

DynArray<double> averageBlocks(const double* x, int32_t n, int32_t b) {
  if (b < 1 || n < b) return {};
  const int32_t blocks = n / b;
  DynArray<double> means(blocks);
  for (int32_t k = 0; k < blocks; ++k)
    means[k] = sumOf(x + static_cast<int64_t>(k) * b, b) / static_cast<double>(b);
  return means;
}

LevelCurves levelCurves(const DynArray<double>& energy, const DynArray<double>& decayCurve, double noise,
                        const double tailModel[2], int32_t blockLength, double onset, double windowEnd,
                        double windowStart) {
  LevelCurves curves;
  const int32_t windowCount = windowValueCount(windowStart, windowEnd);
  const double* window =
      windowCount > 0 ? OneBased{energy.data()}.from(truncateToInt(windowStart)) : energy.data();
  const double peak = windowCount > 0 ? indexOfFirstMax(window, windowCount).value : energy[0];

  curves.noiseLevelDb = levelDb(noise / peak);
  curves.peakLevelDb = levelDb(peak);
  const int32_t decayCount = decayCurve.size();
  // An empty decay curve (crosspoint within the first interval) has no start level.
  const double decayStart = decayCount > 0 ? decayCurve[0] : nanValue;
  curves.decayStartLevelDb = decayCount > 0 ? levelDb(decayStart) : nanValue;

  double modelReference = peak;
  if (blockLength <= 0) {
    curves.levelCurveDb.resize(windowCount);
    for (int32_t i = 0; i < windowCount; ++i) curves.levelCurveDb[i] = levelDb(window[i] / peak);
    curves.decayCurveDb.resize(decayCount);
    for (int32_t j = 0; j < decayCount; ++j) curves.decayCurveDb[j] = levelDb(decayCurve[j] / decayStart);
    curves.onsetOffset = truncateToInt(-(onset - windowStart));
  } else {
    const double b = blockLength;
    const DynArray<double> windowBlocks = averageBlocks(window, windowCount, blockLength);
    const double blockPeak =
        windowBlocks.empty() ? nanValue : indexOfFirstMax(windowBlocks.data(), windowBlocks.size()).value;
    curves.levelCurveDb.resize(windowBlocks.size());
    for (int32_t k = 0; k < windowBlocks.size(); ++k)
      curves.levelCurveDb[k] = levelDb(windowBlocks[k] / blockPeak);
    // Block means of the decay stay referred to its first sample, not to the
    // first block, so the averaged curve starts at or below 0 dB.
    const DynArray<double> decayBlocks = averageBlocks(decayCurve.data(), decayCount, blockLength);
    curves.decayCurveDb.resize(decayBlocks.size());
    for (int32_t k = 0; k < decayBlocks.size(); ++k)
      curves.decayCurveDb[k] = levelDb(decayBlocks[k] / decayStart);
    curves.onsetOffset = truncateToInt(-std::floor((onset - windowStart) / b));
    modelReference = blockPeak;
  }
  curves.tailModelDb[0] = levelDb(tailModel[0] / modelReference);
  curves.tailModelDb[1] = levelDb(tailModel[1] / modelReference);
  return curves;
}

int32_t evaluateBandLevel(const ReverberationAnalysis& analysis, int32_t band, int32_t blockLength,
                          const BandOutputs& out) {
  return evaluateLevels(analysis, band, blockLength, out).status;
}

int32_t evaluateBand(const ReverberationAnalysis& analysis, int32_t band, const double* ranges,
                     int32_t rangeCount, int32_t blockLength, const BandOutputs& out) {
  if (rangeCount < 0) return -1;
  DecayEvaluation evaluation = evaluateLevels(analysis, band, blockLength, out);
  if (evaluation.status != 0) return evaluation.status;

  DynArray<double>& curve = evaluation.decay.decayCurve;
  if (curve.size() > 0) {
    // The decay curve in dB re its first value is already at hand when that
    // value is its largest (a decay that only falls) and no blocks were averaged.
    const DynArray<double>& db = evaluation.curves.decayCurveDb;
    const bool levelsAtHand = blockLength <= 0 && db.size() == curve.size() &&
                              indexOfFirstMax(curve.data(), curve.size()).position == 1;
    const DecayTimesSummary times =
        levelsAtHand ? decayTimesOfLevels(db.data(), db.size(), ranges, rangeCount, analysis.sampleRate,
                                          out.reverbTimes, out.fitQuality)
                     : decayTimes(curve.data(), curve.size(), ranges, rangeCount, analysis.sampleRate,
                                  out.reverbTimes, out.fitQuality);
    *out.dynamicRange = times.dynamicRange;
    *out.curvature = times.curvature;
    return times.status;
  }
  // An empty decay curve has nothing to fit: every time stays NaN, but a range
  // that could never be evaluated is still reported.
  int32_t status = 0;
  for (int32_t k = 0; k < rangeCount; ++k) {
    out.reverbTimes[k] = nanValue;
    out.fitQuality[k] = nanValue;
    if (status == 0 && isInvalidRange(ranges[k])) status = kDecayInvalidRange;
  }
  *out.dynamicRange = nanValue;
  *out.curvature = nanValue;
  return status;
}

}  // namespace tavrix

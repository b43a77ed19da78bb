// Reverberation exports: analyses, ensembles, filter banks and band evaluation.
#include <optional>
#include <vector>

#include "api/export_guard.h"
#include "api/tables.h"
#include "fileio/wave_file.h"
#include "reverberation/band_evaluation.h"
#include "reverberation/reverberation_analysis.h"
#include "tavrix.h"

using tavrix::guarded;
using tavrix::ReverberationAnalysis;

namespace {

// Creates an analysis in the lowest free slot and prepares it. The slot is
// kept when preparation fails, also for lack of memory: the object is then
// simply not ready.
int32_t createPrepared(const double* impulse, int32_t n, double sampleRate, double sweepDuration,
                       double tailDuration) {
  auto& table = tavrix::reverberationTable();
  const int32_t handle = table.create();
  if (handle < 0) return -1;
  ReverberationAnalysis& analysis = *table.find(handle);
  const int32_t status = guarded(int32_t{-1}, [&] {
    return tavrix::reverbPrepare(analysis, impulse, n, sampleRate, sweepDuration, tailDuration);
  });
  if (status != 0) analysis.initialised = false;
  return handle;
}

// The level and decay-curve outputs both evaluation exports share; nullopt
// when the host left one of them out.
std::optional<tavrix::BandOutputs> curveOutputs(double* levelCurveDb, int32_t* levelCurveLength,
                                                double* decayCurveDb, double* decayCurveEnd,
                                                double* noiseLevelDb, int32_t* onsetOffset,
                                                double* peakLevelDb) {
  if (!levelCurveDb || !levelCurveLength || !decayCurveDb || !decayCurveEnd || !noiseLevelDb ||
      !onsetOffset || !peakLevelDb)
    return std::nullopt;
  tavrix::BandOutputs out;
  out.levelCurveDb = levelCurveDb;
  out.levelCurveLength = levelCurveLength;
  out.decayCurveDb = decayCurveDb;
  out.decayCurveEnd = decayCurveEnd;
  out.noiseLevelDb = noiseLevelDb;
  out.onsetOffset = onsetOffset;
  out.peakLevelDb = peakLevelDb;
  return out;
}

}  // namespace

extern "C" {

TAVRIX_API int32_t initReverberation(const double* impulse, int32_t n, double sampleRate,
                                     double sweepDuration, double tailDuration) {
  return guarded(int32_t{-1},
                 [&] { return createPrepared(impulse, n, sampleRate, sweepDuration, tailDuration); });
}

TAVRIX_API int32_t initReverberationWithFile(const tavrix_char* file, double sweepDuration,
                                             double tailDuration) {
  return guarded(int32_t{-1}, [&] {
    if (!file || tavrix::reverberationTable().freeSlot() < 0) return int32_t{-1};
    tavrix::DynArray<double> samples;
    double sampleRate = 0.0;
    int32_t count = 0;
    if (tavrix::readWave(file, samples, sampleRate, count) != 0) return int32_t{-1};
    return createPrepared(samples.data(), samples.size(), sampleRate, sweepDuration, tailDuration);
  });
}

TAVRIX_API int32_t initReverberationEnsemble(const int32_t* handles, int32_t count) {
  return guarded(int32_t{-1}, [&] {
    auto& table = tavrix::reverberationTable();
    const int32_t handle = table.create();
    if (handle < 0) return int32_t{-1};
    ReverberationAnalysis& ensemble = *table.find(handle);
    // A list the host cannot have meant leaves the ensemble not ready. The new
    // slot is already taken, so an ensemble cannot name itself as a ready member.
    if (count < 0 || (count > 0 && !handles)) return handle;
    guarded(0, [&] {
      std::vector<ReverberationAnalysis*> members(static_cast<size_t>(count));
      for (int32_t i = 0; i < count; ++i) members[static_cast<size_t>(i)] = table.find(handles[i]);
      tavrix::reverbBuildEnsemble(ensemble, members);
      return 0;
    });
    return handle;
  });
}

TAVRIX_API int32_t getMaxImpulseLength(int32_t handle) {
  return guarded(int32_t{-1}, [&] {
    const ReverberationAnalysis* analysis = tavrix::reverberationTable().find(handle);
    return analysis ? tavrix::reverbMaxImpulseLength(*analysis) : int32_t{-1};
  });
}

TAVRIX_API int32_t initReverberationFilter(int32_t handle, int32_t resolution, int32_t firstBand,
                                           int32_t lastBand) {
  return guarded(int32_t{-1}, [&] {
    ReverberationAnalysis* analysis = tavrix::reverberationTable().find(handle);
    if (!analysis) return int32_t{-1};
    // The new bank stays attached even when its build fails; evaluation through
    // it then fails.
    analysis->filterBank.reset();
    analysis->filterBank = std::make_unique<tavrix::FilterBank>();
    return tavrix::bankBuild(*analysis->filterBank, resolution, firstBand, lastBand) == 0 ? int32_t{0}
                                                                                          : int32_t{-1};
  });
}

TAVRIX_API int32_t getReverberationData(int32_t handle, int32_t band, const double* ranges,
                                        int32_t rangeCount, int32_t blockLength, double* levelCurveDb,
                                        int32_t* levelCurveLength, double* decayCurveDb,
                                        double* decayCurveEnd, double* noiseLevelDb, double* tailModelDb,
                                        double* reverbTimes, double* fitQuality, double* dynamicRange,
                                        double* curvature, int32_t* onsetOffset, double* peakLevelDb) {
  return guarded(int32_t{-1}, [&] {
    const ReverberationAnalysis* analysis = tavrix::reverberationTable().find(handle);
    if (!analysis || rangeCount < 0) return int32_t{-1};
    if (rangeCount > 0 && (!ranges || !reverbTimes || !fitQuality)) return int32_t{-1};
    auto out = curveOutputs(levelCurveDb, levelCurveLength, decayCurveDb, decayCurveEnd, noiseLevelDb,
                            onsetOffset, peakLevelDb);
    if (!out || !tailModelDb || !dynamicRange || !curvature) return int32_t{-1};
    out->tailModelDb = tailModelDb;
    out->reverbTimes = reverbTimes;
    out->fitQuality = fitQuality;
    out->dynamicRange = dynamicRange;
    out->curvature = curvature;
    return tavrix::evaluateBand(*analysis, band, ranges, rangeCount, blockLength, *out);
  });
}

TAVRIX_API int32_t getReverberationDataLevel(int32_t handle, int32_t band, int32_t blockLength,
                                             double* levelCurveDb, int32_t* levelCurveLength,
                                             double* decayCurveDb, double* decayCurveEnd,
                                             double* noiseLevelDb, double* decayStartLevelDb,
                                             int32_t* onsetOffset, double* peakLevelDb) {
  return guarded(int32_t{-1}, [&] {
    const ReverberationAnalysis* analysis = tavrix::reverberationTable().find(handle);
    if (!analysis) return int32_t{-1};
    auto out = curveOutputs(levelCurveDb, levelCurveLength, decayCurveDb, decayCurveEnd, noiseLevelDb,
                            onsetOffset, peakLevelDb);
    if (!out || !decayStartLevelDb) return int32_t{-1};
    out->decayStartLevelDb = decayStartLevelDb;
    return tavrix::evaluateBandLevel(*analysis, band, blockLength, *out);
  });
}

TAVRIX_API int32_t deleteReverberation(int32_t handle) {
  return guarded(int32_t{-1}, [&] {
    auto& table = tavrix::reverberationTable();
    ReverberationAnalysis* analysis = table.find(handle);
    if (!analysis) return int32_t{-1};
    // An ensemble that still names the analysis would read freed memory; it
    // loses its members and is no longer ready.
    for (int32_t slot = 0; slot < table.kSlots; ++slot) {
      ReverberationAnalysis* other = table.find(slot);
      if (other && other != analysis && tavrix::reverbNamesMember(*other, analysis)) {
        other->members.clear();
        other->initialised = false;
      }
    }
    table.release(handle);
    return int32_t{0};
  });
}

}  // extern "C"

// Speech-transmission-index exports.
#include <algorithm>
#include <cmath>

#include "api/export_guard.h"
#include "api/tables.h"
#include "fileio/wave_file.h"
#include "sti/speech_transmission_index.h"
#include "sti/sti_analysis.h"
#include "tavrix.h"

namespace {

using tavrix::StiAnalysis;

// Takes a slot and analyses the response in it. The handle is returned even
// when the analysis fails (the object then reports failure from every later
// call); only a full table gives -1.
int32_t createAnalysis(const double* impulse, int32_t n, double sampleRate) {
  const int32_t handle = tavrix::stiTable().create();
  if (handle < 0) return -1;
  StiAnalysis& analysis = *tavrix::stiTable().find(handle);
  try {
    tavrix::stiInitialise(analysis, impulse, n, sampleRate);
  } catch (...) {
    // Out of memory part-way: keep the slot, without a matrix.
    analysis.initialised = false;
    analysis.mtf = tavrix::DynArray<double>();
  }
  return handle;
}

int32_t setLevels(int32_t handle, const double* levels, bool signal) {
  StiAnalysis* analysis = tavrix::stiTable().find(handle);
  if (!analysis || !analysis->initialised || !levels) return -1;
  if (!std::all_of(levels, levels + tavrix::kStiBandCount, [](double v) { return std::isfinite(v); }))
    return -1;
  auto& target = signal ? analysis->signalLevels : analysis->noiseLevels;
  std::copy(levels, levels + tavrix::kStiBandCount, target.begin());
  (signal ? analysis->hasSignalLevels : analysis->hasNoiseLevels) = true;
  return 0;
}

}  // namespace

extern "C" {

TAVRIX_API int32_t initSpeechTransmissionIndex(const double* impulse, int32_t n, double sampleRate) {
  return tavrix::guarded(int32_t{-1}, [&] { return createAnalysis(impulse, n, sampleRate); });
}

TAVRIX_API int32_t initSpeechTransmissionIndexWithFile(const tavrix_char* file) {
  return tavrix::guarded(int32_t{-1}, [&] {
    tavrix::DynArray<double> samples;
    double sampleRate = 0.0;
    int32_t count = 0;
    if (tavrix::readWave(file, samples, sampleRate, count) != 0) return int32_t{-1};
    return createAnalysis(samples.data(), samples.size(), sampleRate);
  });
}

TAVRIX_API int32_t getImpulseSize(int32_t handle) {
  return tavrix::guarded(int32_t{-1}, [&] {
    const StiAnalysis* analysis = tavrix::stiTable().find(handle);
    if (!analysis || analysis->impulse.empty()) return int32_t{-1};
    return analysis->impulse.size();
  });
}

TAVRIX_API int32_t getFilteredImpulse(int32_t handle, double* out, int32_t band) {
  return tavrix::guarded(int32_t{-1}, [&] {
    StiAnalysis* analysis = tavrix::stiTable().find(handle);
    if (!analysis) return int32_t{-1};
    return tavrix::stiBandEnvelope(*analysis, band, out);
  });
}

TAVRIX_API int32_t getModulationTransferFunction(int32_t handle, double* out, int32_t band) {
  return tavrix::guarded(int32_t{-1}, [&] {
    const StiAnalysis* analysis = tavrix::stiTable().find(handle);
    if (!analysis || !analysis->initialised || !out) return int32_t{-1};
    if (band < tavrix::kStiFirstBand || band > tavrix::kStiLastBand) return int32_t{-1};
    const double* row = analysis->mtf.data() + (band - tavrix::kStiFirstBand) * tavrix::kStiModulationCount;
    std::copy(row, row + tavrix::kStiModulationCount, out);
    return int32_t{0};
  });
}

TAVRIX_API int32_t setNoiseLevel(int32_t handle, const double* levels) {
  return tavrix::guarded(int32_t{-1}, [&] { return setLevels(handle, levels, false); });
}

TAVRIX_API int32_t setSignalLevel(int32_t handle, const double* levels) {
  return tavrix::guarded(int32_t{-1}, [&] { return setLevels(handle, levels, true); });
}

TAVRIX_API double getSpeechTansmissionIndex(int32_t handle, bool maleWeights, bool useLevels) {
  return tavrix::guarded(tavrix::kStiFailed, [&] {
    const StiAnalysis* analysis = tavrix::stiTable().find(handle);
    if (!analysis) return tavrix::kStiFailed;
    return tavrix::stiIndex(*analysis, maleWeights, useLevels);
  });
}

TAVRIX_API int32_t deleteSpeechTransmissionIndex(int32_t handle) {
  return tavrix::guarded(int32_t{-1},
                         [&] { return tavrix::stiTable().release(handle) ? int32_t{0} : int32_t{-1}; });
}

}  // extern "C"

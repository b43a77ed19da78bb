// Power-spectrum exports.
#include "api/export_guard.h"
#include "api/tables.h"
#include "fft_analysis/fft_analysis.h"
#include "tavrix.h"

using tavrix::guarded;

extern "C" {

TAVRIX_API int32_t initFftAnalysis(void) {
  return guarded(int32_t{-1}, [&] { return tavrix::fftAnalysisTable().create(); });
}

TAVRIX_API int32_t fftStep(int32_t handle, double* buffer) {
  return guarded(int32_t{-1}, [&] {
    tavrix::FftAnalysis* analysis = tavrix::fftAnalysisTable().find(handle);
    if (!analysis || !buffer) return int32_t{-1};
    tavrix::fftAnalysisStep(*analysis, buffer);
    return int32_t{0};
  });
}

TAVRIX_API int32_t deleteFftAnalysis(int32_t handle) {
  return guarded(int32_t{-1},
                 [&] { return tavrix::fftAnalysisTable().release(handle) ? int32_t{0} : int32_t{-1}; });
}

}  // extern "C"

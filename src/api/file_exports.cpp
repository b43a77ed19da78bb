// Exports that read and write WAV files for the host.
#include <cstdlib>
#include <cstring>

#include "api/export_guard.h"
#include "fileio/wave_file.h"
#include "tavrix.h"

extern "C" {

TAVRIX_API int32_t readWaveFile(const tavrix_char* file, double** samples, double* sampleRate, int32_t* n) {
  // Null on every failure, whichever argument is missing.
  if (samples) *samples = nullptr;
  if (!file || !samples || !sampleRate || !n) return -1;
  return tavrix::guarded(-1, [&]() -> int32_t {
    tavrix::DynArray<double> values;
    const int32_t status = tavrix::readWave(file, values, *sampleRate, *n);
    if (status != 0) return status;
    // Allocated with the C allocator: deleteDouble releases it with free().
    const size_t bytes = sizeof(double) * static_cast<size_t>(values.size());
    double* out = static_cast<double*>(std::malloc(bytes > 0 ? bytes : 1));
    if (!out) return -1;
    if (bytes > 0) std::memcpy(out, values.data(), bytes);
    *samples = out;
    return 0;
  });
}

TAVRIX_API int32_t writeWaveFile(const tavrix_char* file, const double* samples, int32_t n,
                                 int32_t sampleRate) {
  if (!file || n < 0 || (n > 0 && !samples) || sampleRate < 1) return -1;
  return tavrix::guarded(-1, [&] { return tavrix::writeWave(file, samples, n, sampleRate, false); });
}

}  // extern "C"

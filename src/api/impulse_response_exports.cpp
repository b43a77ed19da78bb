// Exports that hand out the impulse response of a measurement: as a file, as
// a Hilbert envelope, and filtered through a band of an attached filter bank.
#include <algorithm>
#include <cstdint>

#include "api/export_guard.h"
#include "api/tables.h"
#include "fileio/wave_file.h"
#include "impulse/analytic_signal.h"
#include "impulse/band_responses.h"
#include "impulse/impulse_measurement.h"
#include "tavrix.h"

using tavrix::guarded;

namespace {

// Copies the measurement's impulse response (nfft samples) into out.
void copyImpulseResponse(const tavrix::ImpulseMeasurement& m, double* out) {
  std::copy(m.impulseResponse.begin(), m.impulseResponse.end(), out);
}

// The band-filtered impulse response in out; -1 without bank or response, or
// for a band id the bank does not hold.
int32_t filteredImpulseResponse(int32_t handle, double* out, int32_t band) {
  tavrix::ImpulseMeasurement* m = tavrix::impulseTable().find(handle);
  if (!m || !out || !m->bandFilter || !m->hasImpulseResponse()) return -1;
  copyImpulseResponse(*m, out);
  return tavrix::filterImpulseBand(*m->bandFilter, out, m->nfft, band);
}

}  // namespace

extern "C" {

TAVRIX_API int32_t getImpulseResponseFile(int32_t handle, const tavrix_char* file) {
  return guarded(int32_t{-1}, [&] {
    const tavrix::ImpulseMeasurement* m = tavrix::impulseTable().find(handle);
    if (!m || !file || !m->hasImpulseResponse()) return int32_t{-1};
    // The rate is written as a whole number of hertz, truncated.
    if (!(m->sampleRate >= 1.0 && m->sampleRate < 2147483648.0)) return int32_t{-1};
    const int32_t rate = static_cast<int32_t>(m->sampleRate);
    return tavrix::writeWave(file, m->impulseResponse.data(), m->nfft, rate, true) == 0 ? int32_t{0}
                                                                                        : int32_t{-1};
  });
}

TAVRIX_API int32_t loadImpulseResponseFromFile(void) { return -1; }

TAVRIX_API int32_t getImpulseResponseHilbert(int32_t handle, double* out) {
  return guarded(int32_t{-1}, [&] {
    const tavrix::ImpulseMeasurement* m = tavrix::impulseTable().find(handle);
    if (!m || !out || !m->hasImpulseResponse()) return int32_t{-1};
    copyImpulseResponse(*m, out);
    return tavrix::hilbertEnvelope(out, m->nfft);
  });
}

TAVRIX_API int32_t initImpulseResponseFunctionGenerator(int32_t handle, int32_t resolution, int32_t firstBand,
                                                        int32_t lastBand) {
  return guarded(int32_t{-1}, [&] {
    tavrix::ImpulseMeasurement* m = tavrix::impulseTable().find(handle);
    if (!m) return int32_t{-1};
    m->bandFilter.reset();  // a failed call leaves no bank, not the old one
    m->bandFilter = tavrix::bankCreate(resolution, firstBand, lastBand);
    return m->bandFilter ? int32_t{0} : int32_t{-1};
  });
}

TAVRIX_API int32_t getFilteredImpulseResponse(int32_t handle, double* out, int32_t band) {
  return guarded(int32_t{-1}, [&] { return filteredImpulseResponse(handle, out, band); });
}

TAVRIX_API int32_t getFilteredImpulseResponseHilbert(int32_t handle, double* out, int32_t band) {
  return guarded(int32_t{-1}, [&] {
    const tavrix::ImpulseMeasurement* m = tavrix::impulseTable().find(handle);
    if (filteredImpulseResponse(handle, out, band) != 0) return int32_t{-1};
    return tavrix::hilbertEnvelope(out, m->nfft);
  });
}

}  // extern "C"

// Exports of the impulse measurement: sweep synthesis and deconvolution.
#include <cmath>
#include <cstring>
#include <limits>

#include "api/export_guard.h"
#include "api/tables.h"
#include "fileio/wave_file.h"
#include "impulse/impulse_measurement.h"
#include "impulse/sweep.h"
#include "tavrix.h"

using tavrix::guarded;
using tavrix::ImpulseMeasurement;
using tavrix::impulseTable;

namespace {

ImpulseMeasurement* findImpulse(int32_t handle) { return impulseTable().find(handle); }

// Deconvolves the stored recording; the recording stays whatever the outcome.
int32_t deconvolveRecording(ImpulseMeasurement& m) {
  if (tavrix::deconvolve(m) != 0 || tavrix::computeImpulseResponse(m) != 0) return -1;
  return m.nfft;
}

}  // namespace

extern "C" {

TAVRIX_API int32_t initImpulse(void) {
  return guarded(-1, [] { return impulseTable().create(); });
}

TAVRIX_API int32_t setESSFade(int32_t handle, bool fade) {
  ImpulseMeasurement* m = findImpulse(handle);
  if (!m) return -1;
  m->fade = fade;
  return 0;
}

TAVRIX_API int32_t generateESS(int32_t handle, double sampleRate, double startFrequency, double endFrequency,
                               double duration, double tailDuration) {
  return guarded(-1, [&]() -> int32_t {
    ImpulseMeasurement* m = findImpulse(handle);
    if (!m) return -1;
    // One sweep per object, made before anything that depends on it.
    if (m->sweep.size() > 0 || m->recording.size() > 0 || m->transferFunction.size() > 0 ||
        m->impulseResponse.size() > 0)
      return -1;
    const tavrix::SweepSettings settings{sampleRate, startFrequency, endFrequency, duration, tailDuration};
    if (!tavrix::sweepSettingsValid(settings)) return -1;
    tavrix::DynArray<double> sweep = tavrix::generateSweep(settings, m->fade);
    if (!tavrix::sweepUsable(sweep)) return -1;
    m->sampleRate = sampleRate;
    m->startFrequency = startFrequency;
    m->endFrequency = endFrequency;
    m->duration = duration;
    m->tailDuration = tailDuration;
    m->sweep.swap(sweep);
    return m->sweep.size();
  });
}

TAVRIX_API int32_t getESSSize(int32_t handle) {
  const ImpulseMeasurement* m = findImpulse(handle);
  if (!m || !m->hasSweep()) return -1;
  return m->sweep.size();
}

TAVRIX_API int32_t getESS(int32_t handle, double* out) {
  const ImpulseMeasurement* m = findImpulse(handle);
  if (!m || !out || !m->hasSweep()) return -1;
  std::memcpy(out, m->sweep.data(), sizeof(double) * static_cast<size_t>(m->sweep.size()));
  return 0;
}

TAVRIX_API int32_t getESSFile(int32_t handle, const tavrix_char* file, double gainDb) {
  return guarded(-1, [&]() -> int32_t {
    const ImpulseMeasurement* m = findImpulse(handle);
    if (!m || !file || !m->hasSweep() || !std::isfinite(gainDb)) return -1;
    // The file's rate is the whole-number part of the measurement's rate.
    const double fs = m->sampleRate;
    if (!(fs >= 1.0 && fs <= static_cast<double>(std::numeric_limits<int32_t>::max()))) return -1;
    const tavrix::DynArray<double> playback =
        tavrix::sweepPlaybackBuffer(m->sweep, fs, m->tailDuration, gainDb);
    if (playback.empty()) return -1;
    return tavrix::writeWave(file, playback.data(), playback.size(), static_cast<int32_t>(fs), false) == 0
               ? 0
               : -1;
  });
}

TAVRIX_API int32_t processInputSignal(int32_t handle, const double* recording, int32_t n) {
  return guarded(-1, [&]() -> int32_t {
    ImpulseMeasurement* m = findImpulse(handle);
    if (!m || !recording || n < 1) return -1;
    tavrix::DynArray<double> copy(recording, n);
    m->recording.swap(copy);
    return deconvolveRecording(*m);
  });
}

TAVRIX_API int32_t processInputSignalFile(int32_t handle, const tavrix_char* file, double gainDb) {
  return guarded(-1, [&]() -> int32_t {
    ImpulseMeasurement* m = findImpulse(handle);
    if (!m || !file || !std::isfinite(gainDb)) return -1;
    // The previous recording is given up before the file is read, and with it
    // what was computed from it. The file is read into locals: its rate
    // replaces the sweep's only once its samples are in, so a file that fails
    // after its header changes no setting.
    m->recording = tavrix::DynArray<double>();
    tavrix::DynArray<double> recording;
    double sampleRate = 0.0;
    int32_t count = 0;
    if (tavrix::readWave(file, recording, sampleRate, count) != 0) {
      m->transferFunction = tavrix::DynArray<double>();
      m->impulseResponse = tavrix::DynArray<double>();
      m->nfft = 0;
      return -1;
    }
    const double gain = std::pow(10.0, gainDb / 20.0);
    for (double& x : recording) x *= gain;
    m->recording.swap(recording);
    m->sampleRate = sampleRate;
    return deconvolveRecording(*m);
  });
}

TAVRIX_API int32_t getImpulseResponse(int32_t handle, double* out) {
  const ImpulseMeasurement* m = findImpulse(handle);
  if (!m || !out || !m->hasImpulseResponse()) return -1;
  std::memcpy(out, m->impulseResponse.data(), sizeof(double) * static_cast<size_t>(m->nfft));
  return 0;
}

TAVRIX_API int32_t getNFFT(int32_t handle) {
  const ImpulseMeasurement* m = findImpulse(handle);
  // The same test as every call that writes nfft values, so that the length
  // a host sizes its buffers with and the writers always agree.
  if (!m || !m->hasImpulseResponse()) return -1;
  return m->nfft;
}

TAVRIX_API int32_t deleteImpulse(int32_t handle) { return impulseTable().release(handle) ? 0 : -1; }

}  // extern "C"

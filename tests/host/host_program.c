// A measurement host in miniature, written in C as hosts are: it loads the
// shared library at run time (LoadLibraryW on Windows, dlopen elsewhere),
// finds the exports by name and runs one measurement through them: a sweep,
// its recording through a synthetic room, the deconvolution to an impulse
// response, and the reverberation analysis of that response.
//
//   host_program <path of tavrix.dll / libtavrix.so>
//
// Exit status 0 when every check passes, 1 otherwise.
//
// The room is exponentially decaying white noise behind a direct sound, so
// its reverberation time is known and the same in every band; the recording
// is the sweep convolved with it (a radix-2 FFT below, independent of the
// library's), so the library's deconvolution must give the room back.
#include <complex.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tavrix.h"

#ifdef _WIN32
#include <windows.h>
typedef HMODULE Library;
static Library openLibrary(const char* path) {
  wchar_t wide[1024];
  return MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, 1024) ? LoadLibraryW(wide) : NULL;
}
static void* findExport(Library lib, const char* name) {
  void* p;
  FARPROC f = GetProcAddress(lib, name);
  memcpy(&p, &f, sizeof p);
  return p;
}
#else
#include <dlfcn.h>
typedef void* Library;
static Library openLibrary(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void* findExport(Library lib, const char* name) { return dlsym(lib, name); }
#endif

// The pointer types a host declares. Under GCC each is checked against the
// header's declaration, so the header and the host cannot drift apart.
#if defined(__GNUC__)
#define CHECK_AGAINST_HEADER(name) \
  _Static_assert(__builtin_types_compatible_p(__typeof__(&name), name##Fn), #name " type")
#else
#define CHECK_AGAINST_HEADER(name) _Static_assert(1, "")
#endif
#define DECLARE_EXPORT(result, name, args) \
  typedef result(*name##Fn) args;          \
  CHECK_AGAINST_HEADER(name);              \
  static name##Fn p_##name;
#define EXPORTS(X)                                                                                    \
  X(int32_t, initTavrix, (void))                                                                      \
  X(int32_t, initImpulse, (void))                                                                     \
  X(int32_t, generateESS, (int32_t, double, double, double, double, double))                          \
  X(int32_t, getESSSize, (int32_t))                                                                   \
  X(int32_t, getESS, (int32_t, double*))                                                              \
  X(int32_t, processInputSignal, (int32_t, const double*, int32_t))                                   \
  X(int32_t, getNFFT, (int32_t))                                                                      \
  X(int32_t, getImpulseResponse, (int32_t, double*))                                                  \
  X(int32_t, deleteImpulse, (int32_t))                                                                \
  X(int32_t, initReverberation, (const double*, int32_t, double, double, double))                     \
  X(int32_t, getMaxImpulseLength, (int32_t))                                                          \
  X(int32_t, initReverberationFilter, (int32_t, int32_t, int32_t, int32_t))                           \
  X(int32_t, getReverberationData,                                                                    \
    (int32_t, int32_t, const double*, int32_t, int32_t, double*, int32_t*, double*, double*, double*, \
     double*, double*, double*, double*, double*, int32_t*, double*))                                 \
  X(int32_t, deleteReverberation, (int32_t))
EXPORTS(DECLARE_EXPORT)
// log2 is resolved by its export name; the header names the type.
typedef tavrix_log2_fn log2Fn;
static log2Fn p_log2;

static int failures = 0;
#define CHECK(cond, ...)                                                \
  do {                                                                  \
    if (!(cond)) {                                                      \
      fprintf(stderr, "FAILED %s:%d: %s: ", __FILE__, __LINE__, #cond); \
      fprintf(stderr, __VA_ARGS__);                                     \
      fprintf(stderr, "\n");                                            \
      ++failures;                                                       \
    }                                                                   \
  } while (0)

// Resolves an export into p_NAME; a missing one is a failed check. Object and
// function pointers round-trip on POSIX and on Windows.
static Library lib;
#define RESOLVE(result, name, args)                 \
  do {                                              \
    void* p = findExport(lib, #name);               \
    CHECK(p != NULL, "export %s not found", #name); \
    memcpy(&p_##name, &p, sizeof p);                \
  } while (0);

enum { kRate = 48000 };
static const double kSweepSeconds = 2.0, kTailSeconds = 1.5;
static const double kDirectSeconds = 0.6;   // well past the 0.25 s the onset search skips
static const double kRoomT60 = 0.7;         // reverberation time of the room, every band
static const double kNoiseFloorDb = -65.0;  // steady noise floor relative to the direct sound

// In-place radix-2 transform of n = 2^k values; sign -1 forward, +1 inverse
// (unscaled).
static void fft(double complex* z, size_t n, int sign) {
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j |= bit;
    const double complex t = z[i];
    if (i < j) z[i] = z[j], z[j] = t;
  }
  for (size_t len = 2; len <= n; len <<= 1)
    for (size_t start = 0; start < n; start += len)
      for (size_t k = 0; k < len / 2; ++k) {
        double complex* a = z + start + k;
        const double complex t = a[len / 2] * cexp(sign * 2.0 * I * 3.14159265358979323846 * k / len);
        a[len / 2] = *a - t;
        *a += t;
      }
}

// Uniform in [-1, 1), from a fixed linear congruential generator so that the
// room is the same on every platform.
static uint64_t rngState = 12345;
static double uniform(void) {
  rngState = rngState * 6364136223846793005ULL + 1442695040888963407ULL;
  return (double)(rngState >> 11) * (2.0 / 9007199254740992.0) - 1.0;
}

// The recording: the sweep convolved with the room (a unit direct sound, then
// white noise whose energy falls by 60 dB in kRoomT60, over a steady floor),
// sweepLength + roomLength - 1 samples, over a power-of-two FFT.
static double* record(const double* sweep, size_t sweepLength, size_t roomLength, size_t direct,
                      size_t* length) {
  *length = sweepLength + roomLength - 1;
  size_t n = 1;
  while (n < *length) n <<= 1;
  double complex *a = calloc(n, sizeof *a), *b = calloc(n, sizeof *b);
  double* out = a && b ? malloc(*length * sizeof *out) : NULL;
  if (out) {
    const double floorAmplitude = sqrt(3.0) * pow(10.0, kNoiseFloorDb / 20.0);
    const double decayPerSample = log(1000.0) / (kRoomT60 * kRate);  // amplitude: -60 dB = 1/1000
    for (size_t i = 0; i < roomLength; ++i) {
      b[i] = floorAmplitude * uniform() + (i == direct);
      if (i > direct) b[i] += 0.3 * uniform() * exp(-decayPerSample * (double)(i - direct));
    }
    for (size_t i = 0; i < sweepLength; ++i) a[i] = sweep[i];
    fft(a, n, -1);
    fft(b, n, -1);
    for (size_t k = 0; k < n; ++k) a[k] *= b[k];
    fft(a, n, +1);
    for (size_t i = 0; i < *length; ++i) out[i] = creal(a[i]) / (double)n;
  }
  free(a);
  free(b);
  return out;
}

// Deconvolves the recorded sweep; returns the impulse response (getNFFT
// samples in *length) or NULL.
static double* measureImpulseResponse(size_t roomLength, size_t direct, int32_t* length) {
  const int32_t impulse = p_initImpulse();
  const int32_t sweepLength = p_generateESS(impulse, kRate, 20.0, 20000.0, kSweepSeconds, kTailSeconds);
  CHECK(sweepLength == (int32_t)(kSweepSeconds * kRate), "generateESS gave %d", sweepLength);
  double *ir = NULL, *recording = NULL, *sweep = sweepLength > 0 ? malloc((size_t)sweepLength * 8) : NULL;
  size_t recordingLength = 0;
  if (sweep && p_getESS(impulse, sweep) == 0)
    recording = record(sweep, (size_t)sweepLength, roomLength, direct, &recordingLength);
  CHECK(recording != NULL, "no recording");
  const int32_t nfft = recording ? p_processInputSignal(impulse, recording, (int32_t)recordingLength) : -1;
  CHECK(nfft >= (int32_t)recordingLength && (nfft & (nfft - 1)) == 0, "processInputSignal gave %d", nfft);
  if (nfft > 0 && (ir = malloc((size_t)nfft * sizeof *ir)) != NULL) {
    CHECK(p_getImpulseResponse(impulse, ir) == 0, "getImpulseResponse");
    // The deconvolution gives the room back: the direct sound where it was,
    // at its height (the sweep covers 20 Hz..20 kHz of the 24 kHz band).
    size_t peak = 0;
    for (size_t i = 1; i < (size_t)nfft; ++i)
      if (fabs(ir[i]) > fabs(ir[peak])) peak = i;
    CHECK(peak == direct, "direct sound at %d, expected %d", (int)peak, (int)direct);
    CHECK(fabs(ir[peak]) > 0.5 && fabs(ir[peak]) < 1.2, "direct sound height %g", ir[peak]);
    *length = nfft;
  }
  free(recording);
  free(sweep);
  CHECK(p_deleteImpulse(impulse) == 0, "deleteImpulse");
  return ir;
}

// The reverberation analysis of the measured response in the 1 kHz octave:
// T20 and T30 within 5 % of the room's.
static void analyseReverberation(const double* ir, int32_t length) {
  const int32_t analysis = p_initReverberation(ir, length, kRate, kSweepSeconds, kTailSeconds);
  const int32_t window = p_getMaxImpulseLength(analysis);
  CHECK(window > kRate / 2, "getMaxImpulseLength gave %d", window);
  CHECK(p_initReverberationFilter(analysis, 1, 8, 12) == 0, "initReverberationFilter");
  double* level = window > 0 ? malloc((size_t)window * sizeof *level) : NULL;
  double* decay = window > 0 ? malloc((size_t)window * sizeof *decay) : NULL;
  const double ranges[3] = {0.0, 20.0, 30.0};
  double times[3] = {0}, quality[3] = {0}, tailModel[2] = {0}, decayEnd, noise = 0, range, curvature, peak;
  int32_t levelLength = 0, onsetOffset;
  const int32_t status =
      level && decay
          ? p_getReverberationData(analysis, 10, ranges, 3, 0, level, &levelLength, decay, &decayEnd, &noise,
                                   tailModel, times, quality, &range, &curvature, &onsetOffset, &peak)
          : -1;
  CHECK(status == 0, "getReverberationData gave %d", status);
  printf("1 kHz octave: EDT %.3f s, T20 %.3f s (r2 %.4f), T30 %.3f s (r2 %.4f), noise %.1f dB\n", times[0],
         times[1], quality[1], times[2], quality[2], noise);
  for (int i = 1; i < 3; ++i) {
    CHECK(fabs(times[i] - kRoomT60) < 0.05 * kRoomT60, "T%d = %g s, room %g s", 10 * i + 10, times[i],
          kRoomT60);
    CHECK(quality[i] > 0.98, "fit quality %g", quality[i]);
  }
  CHECK(levelLength > 0 && levelLength <= window, "level curve of %d values", levelLength);
  free(level);
  free(decay);
  CHECK(p_deleteReverberation(analysis) == 0, "deleteReverberation");
}

int main(int argc, char** argv) {
  lib = argc == 2 ? openLibrary(argv[1]) : NULL;
  if (!lib) {
    fprintf(stderr, "usage: host_program <shared library that loads>\n");
    return 1;
  }
  EXPORTS(RESOLVE)
  RESOLVE(double, log2, (double))
  if (failures) return 1;

  CHECK(p_initTavrix() == 0, "initTavrix");
  // ln(8)/ln(2) rounds to exactly 3.
  CHECK(p_log2(8.0) == 3.0, "log2(8) = %.17g", p_log2(8.0));
  CHECK(isinf(p_log2(0.0)) && p_log2(0.0) < 0, "log2(0) = %g", p_log2(0.0));

  // The room rings on (into its noise floor) past the analysis window.
  const size_t direct = (size_t)(kDirectSeconds * kRate);
  int32_t irLength = 0;
  double* ir = measureImpulseResponse(direct + (size_t)((kTailSeconds + 0.5) * kRate), direct, &irLength);
  if (ir) analyseReverberation(ir, irLength);
  free(ir);
  // The library stays loaded until the process ends, as in the measurement
  // host: its handle tables live as long as it is mapped.
  printf("host program: %d check(s) failed\n", failures);
  return failures ? 1 : 0;
}

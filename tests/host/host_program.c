/* A measurement host in miniature, written in C as hosts are: it loads the
 * shared library at run time (LoadLibraryW on Windows, dlopen elsewhere),
 * finds the exports by name and runs one measurement through them: a sweep,
 * its recording through a synthetic room, the deconvolution to an impulse
 * response, and the reverberation analysis of that response.
 *
 *   host_program <path of tavrix.dll / libtavrix.so>
 *
 * Exit status 0 when every check passes, 1 on a failed check, 77 when an
 * export the program needs is not in the library (reported as skipped).
 *
 * The room is exponentially decaying white noise behind a direct sound, so
 * its reverberation time is known and the same in every band; the recording
 * is the sweep convolved with it (a radix-2 FFT below), so the library's
 * deconvolution must give the room back. */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tavrix.h"

#ifdef _WIN32
#include <wchar.h>
#include <windows.h>
#else
#include <dlfcn.h>
#endif

/* ---------------------------------------------------------------------- */
/* Loading the library and resolving exports                              */
/* ---------------------------------------------------------------------- */

typedef void (*AnyFunction)(void);

#ifdef _WIN32
typedef HMODULE Library;
static Library openLibrary(const char* path) {
  wchar_t wide[1024];
  if (!MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, 1024)) return NULL;
  return LoadLibraryW(wide);
}
static AnyFunction findExport(Library lib, const char* name) {
  return (AnyFunction)GetProcAddress(lib, name);
}
#else
typedef void* Library;
static Library openLibrary(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static AnyFunction findExport(Library lib, const char* name) {
  void* p = dlsym(lib, name);
  AnyFunction f;
  memcpy(&f, &p, sizeof f); /* POSIX guarantees the round trip */
  return f;
}
#endif

/* The pointer types a host declares. Under GCC each is checked against the
 * header's declaration, so the header and the host cannot drift apart. */
#if defined(__GNUC__)
#define CHECK_AGAINST_HEADER(name) \
  _Static_assert(__builtin_types_compatible_p(__typeof__(&name), name##Fn), #name " type")
#else
#define CHECK_AGAINST_HEADER(name) _Static_assert(1, "")
#endif
#define DECLARE_EXPORT(result, name, args) \
  typedef result(*name##Fn) args;          \
  CHECK_AGAINST_HEADER(name);              \
  static name##Fn p_##name

DECLARE_EXPORT(int32_t, initTavrix, (void));
DECLARE_EXPORT(int32_t, initImpulse, (void));
DECLARE_EXPORT(int32_t, generateESS, (int32_t, double, double, double, double, double));
DECLARE_EXPORT(int32_t, getESSSize, (int32_t));
DECLARE_EXPORT(int32_t, getESS, (int32_t, double*));
DECLARE_EXPORT(int32_t, processInputSignal, (int32_t, const double*, int32_t));
DECLARE_EXPORT(int32_t, getNFFT, (int32_t));
DECLARE_EXPORT(int32_t, getImpulseResponse, (int32_t, double*));
DECLARE_EXPORT(int32_t, deleteImpulse, (int32_t));
DECLARE_EXPORT(int32_t, writeWaveFile, (const tavrix_char*, const double*, int32_t, int32_t));
DECLARE_EXPORT(int32_t, readWaveFile, (const tavrix_char*, double**, double*, int32_t*));
DECLARE_EXPORT(int32_t, deleteDouble, (double*));
DECLARE_EXPORT(int32_t, initReverberation, (const double*, int32_t, double, double, double));
DECLARE_EXPORT(int32_t, getMaxImpulseLength, (int32_t));
DECLARE_EXPORT(int32_t, initReverberationFilter, (int32_t, int32_t, int32_t, int32_t));
DECLARE_EXPORT(int32_t, getReverberationData,
               (int32_t, int32_t, const double*, int32_t, int32_t, double*, int32_t*, double*, double*,
                double*, double*, double*, double*, double*, double*, int32_t*, double*));
DECLARE_EXPORT(int32_t, deleteReverberation, (int32_t));
/* log2 is resolved by its export name; the header names the type. */
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

/* Reports a missing export; 1 when it was found. */
static int found(const char* name, AnyFunction f) {
  if (!f) printf("export %s not found\n", name);
  return f != NULL;
}
#define RESOLVE(lib, name) found(#name, (AnyFunction)(p_##name = (name##Fn)findExport(lib, #name)))

/* ---------------------------------------------------------------------- */
/* The synthetic room and the recording                                   */
/* ---------------------------------------------------------------------- */

enum { kRate = 48000 };
static const double kSweepSeconds = 2.0;
static const double kTailSeconds = 1.5;
static const double kDirectSeconds = 0.6;  /* direct sound: well past the 0.25 s the onset search skips */
static const double kRoomT60 = 0.7;        /* reverberation time of the room, every band */
static const double kNoiseFloorDb = -65.0; /* steady noise floor relative to the direct sound's energy */

/* In-place radix-2 transform of n = 2^k interleaved complex values; sign -1
 * forward, +1 inverse (unscaled). */
static void fft(double* z, size_t n, int sign) {
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j |= bit;
    if (i < j) {
      double t = z[2 * i];
      z[2 * i] = z[2 * j];
      z[2 * j] = t;
      t = z[2 * i + 1];
      z[2 * i + 1] = z[2 * j + 1];
      z[2 * j + 1] = t;
    }
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double angle = sign * 2.0 * 3.14159265358979323846 / (double)len;
    for (size_t start = 0; start < n; start += len) {
      for (size_t k = 0; k < len / 2; ++k) {
        const double wr = cos(angle * (double)k), wi = sin(angle * (double)k);
        double* a = z + 2 * (start + k);
        double* b = z + 2 * (start + k + len / 2);
        const double tr = b[0] * wr - b[1] * wi, ti = b[0] * wi + b[1] * wr;
        b[0] = a[0] - tr;
        b[1] = a[1] - ti;
        a[0] += tr;
        a[1] += ti;
      }
    }
  }
}

/* Uniform in [-1, 1), from a fixed linear congruential generator so that the
 * room is the same on every platform. */
static uint64_t rngState = 12345;
static double uniform(void) {
  rngState = rngState * 6364136223846793005ULL + 1442695040888963407ULL;
  return (double)(rngState >> 11) * (2.0 / 9007199254740992.0) - 1.0;
}

/* Room response: a unit direct sound, then white noise whose energy falls by
 * 60 dB in kRoomT60 seconds, over a steady noise floor. */
static double* makeRoom(size_t length, size_t direct) {
  double* room = calloc(length, sizeof *room);
  if (!room) return NULL;
  const double floorAmplitude = sqrt(3.0) * pow(10.0, kNoiseFloorDb / 20.0);
  const double decayPerSample = log(1000.0) / (kRoomT60 * kRate); /* amplitude: -60 dB = 1/1000 */
  for (size_t i = 0; i < length; ++i) {
    room[i] = floorAmplitude * uniform();
    if (i > direct) room[i] += 0.3 * uniform() * exp(-decayPerSample * (double)(i - direct));
  }
  room[direct] += 1.0;
  return room;
}

/* The recording: the sweep convolved with the room, sweepLength + roomLength
 * - 1 samples, computed over a power-of-two FFT. */
static double* record(const double* sweep, size_t sweepLength, const double* room, size_t roomLength,
                      size_t* recordingLength) {
  const size_t length = sweepLength + roomLength - 1;
  size_t n = 1;
  while (n < length) n <<= 1;
  double* a = calloc(2 * n, sizeof *a);
  double* b = calloc(2 * n, sizeof *b);
  double* out = malloc(length * sizeof *out);
  if (!a || !b || !out) {
    free(a);
    free(b);
    free(out);
    return NULL;
  }
  for (size_t i = 0; i < sweepLength; ++i) a[2 * i] = sweep[i];
  for (size_t i = 0; i < roomLength; ++i) b[2 * i] = room[i];
  fft(a, n, -1);
  fft(b, n, -1);
  for (size_t k = 0; k < n; ++k) {
    const double re = a[2 * k] * b[2 * k] - a[2 * k + 1] * b[2 * k + 1];
    const double im = a[2 * k] * b[2 * k + 1] + a[2 * k + 1] * b[2 * k];
    a[2 * k] = re;
    a[2 * k + 1] = im;
  }
  fft(a, n, +1);
  for (size_t i = 0; i < length; ++i) out[i] = a[2 * i] / (double)n;
  free(a);
  free(b);
  *recordingLength = length;
  return out;
}

/* ---------------------------------------------------------------------- */
/* The measurement                                                        */
/* ---------------------------------------------------------------------- */

/* A file named with characters outside ASCII, written and read back through
 * the library's UTF-16 path handling. */
static void checkUnicodeFile(void) {
  static const tavrix_char name[] = u"host_Messraum_\u00fc_\u65e5\u672c.wav";
  const double samples[4] = {0.5, -0.25, 0.0, 0.125};
  CHECK(p_writeWaveFile(name, samples, 4, kRate) == 0, "writeWaveFile");
  double* back = NULL;
  double rate = 0.0;
  int32_t n = 0;
  CHECK(p_readWaveFile(name, &back, &rate, &n) == 0, "readWaveFile");
  CHECK(n == 4 && rate == kRate, "read %d samples at %g Hz", n, rate);
  /* 16-bit PCM at 0.99 of full scale: within one quantisation step. */
  for (int32_t i = 0; back && i < n && i < 4; ++i)
    CHECK(fabs(back[i] - 0.99 * samples[i]) < 1.0 / 32768.0, "sample %d: %g", i, back[i]);
  CHECK(p_deleteDouble(back) == 0, "deleteDouble");
#ifdef _WIN32
  _wremove((const wchar_t*)name);
#else
  remove("host_Messraum_\xc3\xbc_\xe6\x97\xa5\xe6\x9c\xac.wav");
#endif
}

/* Deconvolves the recorded sweep; returns the impulse response (getNFFT
 * samples in *length) or NULL. */
static double* measureImpulseResponse(const double* room, size_t roomLength, size_t direct, int32_t* length) {
  const int32_t impulse = p_initImpulse();
  CHECK(impulse >= 0, "initImpulse gave %d", impulse);
  if (impulse < 0) return NULL;
  const int32_t sweepLength = p_generateESS(impulse, kRate, 20.0, 20000.0, kSweepSeconds, kTailSeconds);
  CHECK(sweepLength == (int32_t)(kSweepSeconds * kRate), "generateESS gave %d", sweepLength);
  CHECK(p_getESSSize(impulse) == sweepLength, "getESSSize");
  double* ir = NULL;
  double* sweep = sweepLength > 0 ? malloc((size_t)sweepLength * sizeof *sweep) : NULL;
  if (sweep && p_getESS(impulse, sweep) == 0) {
    size_t recordingLength = 0;
    double* recording = record(sweep, (size_t)sweepLength, room, roomLength, &recordingLength);
    const int32_t nfft = recording ? p_processInputSignal(impulse, recording, (int32_t)recordingLength) : -1;
    CHECK(nfft >= (int32_t)recordingLength && (nfft & (nfft - 1)) == 0, "processInputSignal gave %d", nfft);
    CHECK(p_getNFFT(impulse) == nfft, "getNFFT");
    if (nfft > 0 && (ir = malloc((size_t)nfft * sizeof *ir)) != NULL) {
      CHECK(p_getImpulseResponse(impulse, ir) == 0, "getImpulseResponse");
      /* The deconvolution gives the room back: the direct sound where it was,
       * at its height (the sweep covers 20 Hz..20 kHz of the 24 kHz band). */
      size_t peak = 0;
      for (size_t i = 1; i < (size_t)nfft; ++i)
        if (fabs(ir[i]) > fabs(ir[peak])) peak = i;
      CHECK(peak == direct, "direct sound at %d, expected %d", (int)peak, (int)direct);
      CHECK(fabs(ir[peak]) > 0.5 && fabs(ir[peak]) < 1.2, "direct sound height %g", ir[peak]);
      *length = nfft;
    }
    free(recording);
  } else {
    CHECK(0, "getESS failed");
  }
  free(sweep);
  CHECK(p_deleteImpulse(impulse) == 0, "deleteImpulse");
  return ir;
}

/* The reverberation analysis of the measured response in the 1 kHz octave. */
static void analyseReverberation(const double* ir, int32_t length) {
  const int32_t analysis = p_initReverberation(ir, length, kRate, kSweepSeconds, kTailSeconds);
  CHECK(analysis >= 0, "initReverberation gave %d", analysis);
  if (analysis < 0) return;
  const int32_t window = p_getMaxImpulseLength(analysis);
  CHECK(window > kRate / 2, "getMaxImpulseLength gave %d", window);
  CHECK(p_initReverberationFilter(analysis, 1, 8, 12) == 0, "initReverberationFilter");
  if (window > 0) {
    double* levelCurve = malloc((size_t)window * sizeof *levelCurve);
    double* decayCurve = malloc((size_t)window * sizeof *decayCurve);
    const double ranges[3] = {0.0, 20.0, 30.0};
    double times[3] = {0}, quality[3] = {0}, tailModel[2] = {0};
    double decayEnd = 0, noise = 0, dynamicRange = 0, curvature = 0, peak = 0;
    int32_t levelLength = 0, onsetOffset = 0;
    const int32_t status =
        levelCurve && decayCurve
            ? p_getReverberationData(analysis, 10, ranges, 3, 0, levelCurve, &levelLength, decayCurve,
                                     &decayEnd, &noise, tailModel, times, quality, &dynamicRange, &curvature,
                                     &onsetOffset, &peak)
            : -1;
    CHECK(status == 0, "getReverberationData gave %d", status);
    if (status == 0) {
      printf("1 kHz octave: EDT %.3f s, T20 %.3f s (r2 %.4f), T30 %.3f s (r2 %.4f), noise %.1f dB\n",
             times[0], times[1], quality[1], times[2], quality[2], noise);
      for (int i = 1; i < 3; ++i) {
        CHECK(fabs(times[i] - kRoomT60) < 0.05 * kRoomT60, "T%d = %g s, room %g s", i == 1 ? 20 : 30,
              times[i], kRoomT60);
        CHECK(quality[i] > 0.98, "fit quality %g", quality[i]);
      }
      CHECK(levelLength > 0 && levelLength <= window, "level curve of %d values", levelLength);
    }
    free(levelCurve);
    free(decayCurve);
  }
  CHECK(p_deleteReverberation(analysis) == 0, "deleteReverberation");
  CHECK(p_deleteReverberation(analysis) == -1, "second deleteReverberation");
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: host_program <shared library>\n");
    return 2;
  }
  Library lib = openLibrary(argv[1]);
  if (!lib) {
    fprintf(stderr, "cannot load %s\n", argv[1]);
    return 1;
  }
  int impulseReady = RESOLVE(lib, initTavrix) & RESOLVE(lib, log2) & RESOLVE(lib, initImpulse) &
                     RESOLVE(lib, generateESS) & RESOLVE(lib, getESSSize) & RESOLVE(lib, getESS) &
                     RESOLVE(lib, processInputSignal) & RESOLVE(lib, getNFFT) &
                     RESOLVE(lib, getImpulseResponse) & RESOLVE(lib, deleteImpulse) &
                     RESOLVE(lib, writeWaveFile) & RESOLVE(lib, readWaveFile) & RESOLVE(lib, deleteDouble);
  int reverbReady = RESOLVE(lib, initReverberation) & RESOLVE(lib, getMaxImpulseLength) &
                    RESOLVE(lib, initReverberationFilter) & RESOLVE(lib, getReverberationData) &
                    RESOLVE(lib, deleteReverberation);
  /* Names that must not be exported: the C++ name behind log2. */
  CHECK(findExport(lib, "tavrix_log2") == NULL, "tavrix_log2 is exported");
  if (!impulseReady) {
    printf("skipped: the sweep and deconvolution exports are not all in the library yet\n");
    return 77;
  }

  CHECK(p_initTavrix() == 0, "initTavrix");
  /* ln(8)/ln(2) rounds to exactly 3. */
  CHECK(p_log2(8.0) == 3.0, "log2(8) = %.17g", p_log2(8.0));
  CHECK(isinf(p_log2(0.0)) && p_log2(0.0) < 0, "log2(0) = %g", p_log2(0.0));
  checkUnicodeFile();

  const size_t direct = (size_t)(kDirectSeconds * kRate);
  /* The room rings on (into its noise floor) past the analysis window. */
  const size_t roomLength = direct + (size_t)((kTailSeconds + 0.5) * kRate);
  double* room = makeRoom(roomLength, direct);
  CHECK(room != NULL, "out of memory");
  int32_t irLength = 0;
  double* ir = room ? measureImpulseResponse(room, roomLength, direct, &irLength) : NULL;
  free(room);

  if (!reverbReady) {
    printf("reverberation analysis skipped: its exports are not in the library yet\n");
  } else if (ir) {
    analyseReverberation(ir, irLength);
  }
  free(ir);
  /* The library stays loaded until the process ends, as in the measurement
   * host: its handle tables live as long as it is mapped. */
  if (failures) {
    printf("%d check(s) failed\n", failures);
    return 1;
  }
  printf("host program: all checks passed\n");
  return reverbReady ? 0 : 77;
}

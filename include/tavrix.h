/*
 * tavrix.h - the public C interface of the Tavrix room-acoustics library.
 *
 * Tavrix measures rooms: it synthesises an exponential sine sweep, turns the
 * recorded sweep into an impulse response, filters it in fractional-octave
 * bands, evaluates reverberation (EDT, T10..T30, noise-compensated after
 * Lundeby), the speech transmission index, microphone calibration responses
 * and power spectra, and reads and writes WAV and UFF-58b files.
 *
 * General rules
 * -------------
 * - Call initTavrix() once before anything else.
 * - Objects live in five process-wide tables of 255 slots (0..254): filter
 *   banks, impulse measurements, reverberation analyses, STI analyses and FFT
 *   analyses. A constructor takes the lowest free slot of its table and returns
 *   its number (the handle), or -1 when all slots are taken. Every other call
 *   on an object takes the handle first; an empty slot, or a handle outside
 *   0..254, makes it fail with -1 (-1.0 for getSpeechTansmissionIndex) before
 *   anything else happens. Destructors free the object and everything it owns.
 * - Signals are arrays of double, full scale +-1. Arrays passed in are copied;
 *   results are copied into arrays that the caller allocates, sized by the
 *   matching length call. The only library-allocated buffer handed out is the
 *   sample array of readWaveFile, released with deleteDouble.
 * - Paths are null-terminated UTF-16 strings (tavrix_char, 16 bits on every
 *   platform). A path with an unpaired surrogate cannot name a file: the call
 *   fails as for an unreadable file.
 * - Nothing is thrown across this interface and nothing is printed. Failures
 *   come back as -1 or the negative codes listed with each function; a failed
 *   memory allocation inside a call is reported as that call's failure value.
 * - Threads: the library holds no locks. Its handle tables are shared by the
 *   whole process, so calls that create or delete objects (and initTavrix,
 *   which a host calls once before its threads start) must not run at the
 *   same time as any other call; one object is never used by two threads at
 *   once. Separate objects, once made, may be used from separate threads at
 *   the same time: the tables the library builds on first use (transform
 *   twiddles, filter designs, windows) are immutable and built once in
 *   thread-safe initialisers. A host that wants more serialises its own calls;
 *   the measurement layer (tavrix_measure.h) does so behind one lock.
 * - Sample rates: a rate given as an argument or read from a file is used as
 *   it is, however unusual (1 Hz, 10 MHz, 44 100 Hz for the 48 kHz filter
 *   designs). The analyses run and return what their arithmetic gives: the
 *   fixed filter designs' band frequencies scale by rate / 48000, seconds
 *   become rate-times-as-many samples, and a result at an absurd rate is a
 *   well-defined number, not a room measurement. Rates a call cannot work
 *   with (0, negative, subnormal, NaN, beyond 2^31 - 1 in a file) are
 *   refused with that call's failure code.
 */
#ifndef TAVRIX_H
#define TAVRIX_H

#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#include <uchar.h>
#endif

#if defined(TAVRIX_STATIC)
#define TAVRIX_API
#elif defined(_WIN32)
#if defined(TAVRIX_BUILDING)
#define TAVRIX_API __declspec(dllexport)
#else
#define TAVRIX_API __declspec(dllimport)
#endif
#else
#define TAVRIX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The library's version (also that of the shared library and its packages). */
#define TAVRIX_VERSION_MAJOR 0
#define TAVRIX_VERSION_MINOR 1
#define TAVRIX_VERSION_PATCH 0

/* Names for the failure values, which are fixed. Each function's comment
 * lists the values it can return; results >= 0 are handles, counts, lengths
 * or success (0). */
#define TAVRIX_FAILED (-1)                /* refused: empty slot, bad argument, missing data, unusable file */
#define TAVRIX_BAD_POINTS_PER_OCTAVE (-2) /* calibration responses: bandsPerOctave not 3, 6, 12 or 24 */
#define TAVRIX_NO_SIGNAL_LEVELS (-2)      /* getSpeechTansmissionIndex (as -2.0): levels asked for, not set */
#define TAVRIX_UNSUPPORTED_FORMAT (-10)   /* a WAV format tag other than PCM (1) or IEEE float (3) */
#define TAVRIX_INVALID_RANGE (-11)        /* a decay range neither 0 nor >= 10 dB */
#define TAVRIX_NO_DECAY (-30)             /* no block stands 10 dB above the noise */
#define TAVRIX_NO_CROSSPOINT (-31)        /* the decay-noise crosspoint iteration did not converge */
#define TAVRIX_NO_TAIL_FIT (-32)          /* the final late-decay fit failed */
#define TAVRIX_TOO_SHORT (-33)            /* fewer than ten intervals of the first decay estimate */

/* A UTF-16 code unit. Paths are null-terminated arrays of them. */
typedef char16_t tavrix_char;

/* Special band ids accepted wherever a band number is (see initFilterBank). */
#define TAVRIX_BAND_A_WEIGHTING 100000
#define TAVRIX_BAND_C_WEIGHTING 100001
#define TAVRIX_BAND_UNFILTERED 100002

/* ===================================================================== */
/* Library                                                               */
/* ===================================================================== */

/* Starts the library: sets the library-wide NaN and infinity constants that
 * the reverberation analysis reports with, and clears the five object tables.
 * Call once before any other function. Later calls return 0 at once and leave
 * existing objects and handles intact. Always returns 0. */
TAVRIX_API int32_t initTavrix(void);

/* The base-2 logarithm computed as ln(x) / ln(2). The export is named `log2`;
 * it is declared here as tavrix_log2 so that including this header next to
 * <math.h> does not redeclare the C library's log2. Hosts that bind by name
 * look up "log2". log2 of 0 is -infinity, of a negative number NaN.
 * - GCC/Clang on ELF: tavrix_log2 is an alias of the symbol "log2".
 * - Windows: the DLL's export table maps "log2" to the function; the import
 *   library provides it only under that name, which <math.h> already owns, so
 *   hosts resolve it at run time:
 *     tavrix_log2_fn f = (tavrix_log2_fn)GetProcAddress(dll, "log2");
 *   (code linked with the static library calls tavrix_log2 directly). */
typedef double (*tavrix_log2_fn)(double x);
#if defined(_WIN32)
#if defined(TAVRIX_BUILDING) || defined(TAVRIX_STATIC)
double tavrix_log2(double x);
#endif
#elif defined(__GNUC__)
TAVRIX_API double tavrix_log2(double x) __asm__("log2");
#endif

/* Releases a sample array that readWaveFile allocated. Null is accepted.
 * Always returns 0. */
TAVRIX_API int32_t deleteDouble(double* p);

/* ===================================================================== */
/* Fractional-octave filter banks                                        */
/* ===================================================================== */

/* Creates a filter bank of one resolution for the band numbers firstBand to
 * lastBand, plus the A- and C-weighting filters. The designs are fixed for
 * 48000 Hz; signals at other rates are filtered with the same coefficients.
 *   resolution 1: octave bands 4..14 (band 10 = 1 kHz)
 *   resolution 2: third-octave bands 12..43 (band 30 = 1 kHz)
 *   resolution 3: twelfth-octave bands 49..174
 *   resolution 4: twenty-fourth-octave bands 112..348
 * Returns the handle, or -1 for a full table, a resolution outside 1..4, a
 * band outside the resolution's range, or firstBand > lastBand (no slot is
 * kept). Band ids accepted by the filtering calls: firstBand..lastBand,
 * TAVRIX_BAND_A_WEIGHTING, TAVRIX_BAND_C_WEIGHTING, TAVRIX_BAND_UNFILTERED. */
TAVRIX_API int32_t initFilterBank(int32_t resolution, int32_t firstBand, int32_t lastBand);

/* Filters x[0..n-1] in place through one band (or weighting) of the bank;
 * TAVRIX_BAND_UNFILTERED leaves x as it is. The filters are fixed 48 kHz
 * designs: at another sample rate the band frequencies scale with the rate.
 * The band's filter keeps its state between calls, so a long signal can be fed
 * block by block with the same result as one call; no call resets it (create a
 * new bank for an unrelated signal). Returns 0; -1 for an empty slot, a null
 * x, n < 0, or a band id the bank does not hold (x unchanged). n = 0 does
 * nothing and returns 0. A NaN or infinity in x is filtered like any sample
 * and leaves that band's state non-finite from then on. Allocates nothing. */
TAVRIX_API int32_t filterSingleBand(int32_t handle, double* x, int32_t n, int32_t band);

/* As filterSingleBand, but time-reversed: from x[n-1] down to x[0]. Feeding a
 * long signal block by block goes from its last block to its first. Forward
 * and reverse calls on one band share the same filter state. */
TAVRIX_API int32_t filterSingleBandReverse(int32_t handle, double* x, int32_t n, int32_t band);

/* The step delay of a band of the bank in samples at 48 kHz (the delay used
 * to align time-reversed band filtering). -1 for an empty slot or a band not
 * in firstBand..lastBand (the weighting ids included). */
TAVRIX_API int32_t getStepDelay(int32_t handle, int32_t band);

/* Destroys the filter bank. 0, or -1 for an empty slot. */
TAVRIX_API int32_t deleteFilterBank(int32_t handle);

/* ===================================================================== */
/* Impulse measurement: sweep, deconvolution, band-filtered responses    */
/* ===================================================================== */

/* Creates an impulse measurement (no sweep yet, no fades, calibration window
 * half-width 0.1 s, fractional-octave averaging on). Returns the handle, or
 * -1 when all 255 slots are taken. Release it with deleteImpulse. */
TAVRIX_API int32_t initImpulse(void);

/* Chooses whether the next generateESS fades the sweep in (over 1/100 of a
 * period of the start frequency) and out (over ten periods of the end
 * frequency) with raised-cosine ramps; a sweep already made is unchanged.
 * 0, or -1 for an empty slot. */
TAVRIX_API int32_t setESSFade(int32_t handle, bool fade);

/* Synthesises the exponential sine sweep sin(phase(t)), whose frequency rises
 * from startFrequency at t = 0 to endFrequency at t = duration, once per
 * measurement object: a new sweep needs a new object. Returns the sweep
 * length ceil(sampleRate * duration), or -1 (nothing changed) for:
 *   - an empty slot;
 *   - an object that already holds a sweep, a recording (even one that
 *     processInputSignal could not deconvolve) or a response;
 *   - any NaN or infinite argument;
 *   - duration <= 0 or > 180 s; startFrequency <= 0;
 *     startFrequency >= endFrequency; endFrequency > sampleRate / 2;
 *   - tailDuration < 1 or > 32 s;
 *   - a sweep longer than 2^31 - 1 samples, or shorter than 2 (the first
 *     sample is always 0, so one sample excites nothing);
 *   - settings that cannot give finite samples: a subnormal sampleRate, a
 *     ratio endFrequency / startFrequency beyond the double range (a start
 *     frequency such as 5e-324 Hz), or any other combination whose sweep
 *     would hold a NaN or infinity or only zeros. */
TAVRIX_API int32_t generateESS(int32_t handle, double sampleRate, double startFrequency,
                               double endFrequency, double duration, double tailDuration);

/* The sweep length in samples; -1 for an empty slot or no sweep. */
TAVRIX_API int32_t getESSSize(int32_t handle);

/* Copies the sweep (getESSSize values, full scale +-1) into out, which the
 * caller allocates. 0, or -1 for an empty slot, a null out, or no sweep. */
TAVRIX_API int32_t getESS(int32_t handle, double* out);

/* Writes the playback file: a mono 16-bit PCM WAV at the whole-number part
 * of the sweep's sample rate holding (int)(0.2 fs) samples of silence, the
 * sweep scaled by 10^(gainDb/20), and (tailDuration + 1) s of silence. The
 * writer maps full scale to 0.99 * 32768 and does not clip: with a positive
 * gain, samples beyond full scale wrap around. 0, or -1 for an empty slot, no
 * sweep, a null path or one with an unpaired surrogate, a non-finite gain, a
 * sample rate below 1 Hz or above 2^31 - 1, a file longer than 2^31 - 1
 * samples, or a file that cannot be created or written. The measurement is
 * never changed. */
TAVRIX_API int32_t getESSFile(int32_t handle, const tavrix_char* file, double gainDb);

/* Stores a recording of the sweep (n samples copied in, replacing any earlier
 * recording) and deconvolves it: the transfer function is the recording's
 * spectrum divided by the sweep's over nfft = 2^ceil(log2 n) points (the next
 * power of two >= n; 2^30 for n = 2^29 by the rounding of the logarithms),
 * without regularisation, and the impulse response is its inverse transform,
 * nfft samples. The linear response starts at index 0; harmonic distortion
 * products, which precede it in time, wrap to the end of the array. The
 * sweep's spectrum is kept with the object for later recordings against the
 * same sweep and nfft when nfft <= 2^23 (at most 64 MB, plus a copy of the
 * sweep to recognise it); longer transforms compute it each time rather than
 * hold it. Returns nfft, or -1:
 *   - for an empty slot, a null recording or n < 1 (nothing changed);
 *   - for no sweep, a recording shorter than the sweep, or n >= 2^29, whose
 *     transform would not fit in 32-bit counts (the new recording stays
 *     stored; nfft and the earlier responses are kept). */
TAVRIX_API int32_t processInputSignal(int32_t handle, const double* recording, int32_t n);

/* As processInputSignal with the recording read from a mono WAV file (see
 * readWaveFile) and multiplied by 10^(gainDb/20). Once the file's samples
 * are read, its sample rate becomes the measurement's (also when the
 * deconvolution then fails): getESSFile, getImpulseResponseFile and the
 * calibration calls use it from then on. Returns nfft, or -1: for an empty
 * slot, a null path or a non-finite gain (nothing changed); for an
 * unreadable, malformed or unsupported file, or a path with an unpaired
 * surrogate (the previous recording is gone, and with it the responses
 * computed from it, so getNFFT and every response getter fail until the next
 * successful processing call; the sample rate and the sweep are kept); for a
 * deconvolution failure as above. */
TAVRIX_API int32_t processInputSignalFile(int32_t handle, const tavrix_char* file, double gainDb);

/* Copies the impulse response (getNFFT values) into out, which the caller
 * allocates. 0, or -1 for an empty slot, a null out or no impulse response. */
TAVRIX_API int32_t getImpulseResponse(int32_t handle, double* out);

/* The FFT length of the last deconvolution = the impulse response length;
 * -1 for an empty slot or while the measurement holds no impulse response:
 * before a sweep and a recording were deconvolved, and after a failed
 * processInputSignalFile. Every call that writes the response or values per
 * bin (getImpulseResponse, getImpulseResponseHilbert,
 * getFilteredImpulseResponse and its Hilbert variant, getImpulseResponseFile
 * and the calibration response calls) fails with -1 and writes nothing
 * whenever this returns -1, and otherwise writes exactly the lengths derived
 * from this value. */
TAVRIX_API int32_t getNFFT(int32_t handle);

/* Writes the impulse response (getNFFT samples) as a mono 32-bit float WAV
 * file at the measurement's sample rate truncated to whole hertz. An existing
 * file is overwritten. 0, or -1 for an empty slot, no impulse response, a null
 * or invalid path, or a file that cannot be created or written. */
TAVRIX_API int32_t getImpulseResponseFile(int32_t handle, const tavrix_char* file);

/* Not implemented: reads nothing and always returns -1. */
TAVRIX_API int32_t loadImpulseResponseFromFile(void);

/* Copies the Hilbert envelope (magnitude of the analytic signal, computed
 * over the next power of two) of the impulse response into out (getNFFT
 * values, caller-allocated). 0, or -1 for an empty slot, a null out or no
 * impulse response (out untouched). */
TAVRIX_API int32_t getImpulseResponseHilbert(int32_t handle, double* out);

/* Attaches a filter bank (arguments as initFilterBank) to the measurement,
 * replacing any earlier one; the bank is owned by the measurement and freed by
 * deleteImpulse. It takes no slot of the filter-bank table. 0, or -1 for an
 * empty slot or arguments the bank rejects; after a failure the measurement
 * has no bank, even if it had one before. */
TAVRIX_API int32_t initImpulseResponseFunctionGenerator(int32_t handle, int32_t resolution,
                                                        int32_t firstBand, int32_t lastBand);

/* Copies the impulse response into out (getNFFT values) filtered
 * time-reversed, from rest, through one band of the attached bank (or a
 * weighting id, or TAVRIX_BAND_UNFILTERED for the plain copy), with no delay
 * compensation. Every call starts from rest, so repeated calls give identical
 * results; the stored response is not changed. 0, or -1 for an empty slot, a
 * null out, no attached bank, no impulse response yet (with a bank attached
 * too; out untouched), or a band the bank does not hold (out then holds the
 * unfiltered copy). */
TAVRIX_API int32_t getFilteredImpulseResponse(int32_t handle, double* out, int32_t band);

/* The Hilbert envelope of getFilteredImpulseResponse (out as there). 0, or
 * -1 as there. */
TAVRIX_API int32_t getFilteredImpulseResponseHilbert(int32_t handle, double* out, int32_t band);

/* Destroys the measurement with its sweep, recording, responses and attached
 * filter bank, and frees the slot. 0, or -1 for an empty slot (so deleting
 * twice fails the second time). */
TAVRIX_API int32_t deleteImpulse(int32_t handle);

/* ===================================================================== */
/* Microphone calibration                                                */
/* ===================================================================== */

/* Sets the half-width W in seconds of the window that gates the calibration
 * impulse response around its peak (default 0.1 s). The window is
 * 1 / (1 + (t / W)^12) at a distance t from the peak: flat near it, 0.5 at W,
 * 1/4097 at 2W. Counts from the next processing call. 0, or -1 for an empty
 * slot or a width that is zero, negative, NaN or infinite (the previous width
 * stays). */
TAVRIX_API int32_t setButterworthWindowWidth(int32_t handle, double width);

/* Chooses whether fractional-octave responses average the FFT bins within a
 * quarter of the point spacing around each point (true, the default) or take
 * the nearest bin. 0, or -1 for an empty slot. */
TAVRIX_API int32_t setAverageFFTtoOctaveFraction(int32_t handle, bool average);

/* As processInputSignal (the recording of n samples replaces the previous one
 * and is deconvolved against the sweep), then gates the impulse response with
 * the calibration window centred on its largest magnitude; the window wraps
 * around the ends of the array, so a peak near index 0 keeps the samples just
 * before it in circular time. The gated response replaces the impulse
 * response (getImpulseResponse returns it). Returns nfft, or -1 for an empty
 * slot, a null recording, n < 1, an object without a positive finite sample
 * rate (nothing changed), no sweep, or a recording shorter than the sweep (the
 * new recording stays stored, earlier results are kept). */
TAVRIX_API int32_t processInputSignalForMicCal(int32_t handle, const double* recording, int32_t n);

/* Two-channel calibration: the transfer function is measured / reference,
 * both n samples recorded together; copies of the reference and the measured
 * channel replace the sweep and the recording, and the impulse response is
 * gated as in processInputSignalForMicCal. Returns nfft, or -1 for an empty
 * slot, null arrays, n < 1, or an object without a positive finite sample
 * rate (set by generateESS or processInputSignalFile; the window is laid out
 * in samples); on these failures nothing is changed. */
TAVRIX_API int32_t processInputSignalForMicCalTwoCh(int32_t handle, const double* reference,
                                                    const double* measured, int32_t n);

/* The narrow-band magnitude response of the current impulse response in dB,
 * 20*log10|S[k]| for bins k = 0..nfft/2 (nfft/2 + 1 values into levelDb, the
 * frequencies k*fs/nfft in Hz into frequency), minus the level of the bin
 * nearest referenceFrequency (absolute levels when referenceFrequency is 0).
 * An empty bin gives -infinity. 0, or -1 for an empty slot, null arrays, a NaN
 * or infinite referenceFrequency, or no impulse response yet (no successful
 * processing call); outputs are untouched on failure. */
TAVRIX_API int32_t getMagnitudeResponseForMicCal(int32_t handle, double* levelDb, double* frequency,
                                                 double referenceFrequency);

/* The magnitude response in dB at b = bandsPerOctave (3, 6, 12 or 24) points
 * per octave, f = 1000 * 10^(0.3*m/b) Hz from m = -17*b/3 (19.95 Hz) on:
 * 10*b + 1 values at 48 kHz (up to 19 953 Hz), 11*b + 1 at 96 kHz, 12*b + 1
 * at 192 kHz (the rate taken truncated), into levelDb with the point
 * frequencies into frequency. The rate is the measurement's: the generateESS
 * rate, or the rate of the last file processInputSignalFile read (a file can
 * change it; readWaveFile on that file tells the host which). Arrays of
 * 12*b + 1 values are enough at every rate; the count written is the one
 * above for the rate, and nothing at any other rate. With
 * setAverageFFTtoOctaveFraction(true) (the
 * default) each value is the mean linear magnitude of the bins within a
 * quarter of the point spacing either side of f, else the bin nearest f.
 * Normalised to the point nearest referenceFrequency unless it is 0. 0; -1
 * for an empty slot, null arrays, a NaN or infinite referenceFrequency, no
 * impulse response yet or another sample rate; -2 for another bandsPerOctave
 * (the rate is tested first). Outputs are untouched on failure. */
TAVRIX_API int32_t getFractionalOctaveMagnitudeResponseForMicCal(int32_t handle, double* levelDb,
                                                                 double* frequency,
                                                                 double referenceFrequency,
                                                                 int32_t bandsPerOctave);

/* The phase response in degrees (-180..180, not unwrapped) at the same points
 * and with the same averaging (phases averaged as plain numbers); normalising
 * subtracts the phase at the reference point. Results as for the magnitude. */
TAVRIX_API int32_t getFractionalOctavePhaseResponseForMicCal(int32_t handle, double* phaseDeg,
                                                             double* frequency,
                                                             double referenceFrequency,
                                                             int32_t bandsPerOctave);

/* ===================================================================== */
/* Reverberation                                                         */
/* ===================================================================== */

/* Creates a reverberation analysis of the impulse response impulse[0..n-1],
 * sampled at sampleRate Hz and measured with a sweep of sweepDuration seconds
 * and a tail of tailDuration seconds (the durations given to generateESS).
 * A response measured elsewhere is analysed with sweepDuration 0 (no sweep
 * to leave out at the end) and the seconds of decay it holds as tailDuration;
 * both may be 0.
 * The analysis takes the analytic signal of the response, finds the largest
 * value of its A-weighted energy envelope from 0.25 s up to half the
 * measurement span (span = sweepDuration + tailDuration + 1 s), keeps the
 * response from half a second before that peak to the end of the span, and
 * places the onset of the direct sound at the first sample of the last 0.1 s
 * before the peak that lies above a threshold (20 dB below the peak when it
 * stands 30 dB or more above the background, 10 dB for 20 to 30 dB, 5 dB for
 * less). The analysis window runs from 0.1 s before the onset to the end of
 * the span less the sweep, about tailDuration + 0.5 s after the onset. The
 * A-weighting and band filters are fixed 48 kHz designs, used as they are at
 * other rates. The array is copied; nothing refers to it after the call.
 * Call initTavrix first: the analysis reports its NaNs and infinities with
 * the constants it sets.
 * Returns the handle, or -1 when all 255 slots are taken (nothing allocated).
 * The handle is returned also when the response cannot be prepared; the
 * object is then not ready (getMaxImpulseLength -1, every evaluation -1):
 * a null impulse, n < 1, a response shorter than the 0.25 s where the peak
 * search starts, a sampleRate that is not a positive finite number, a
 * sweepDuration or tailDuration that is negative or not finite, a response in which no 10 ms block before the peak
 * rises above twice the mean of the blocks before it (no distinct arrival,
 * all zeros, a peak in the first 10 ms of the kept segment), or durations so
 * large that the window would hold no sample. */
TAVRIX_API int32_t initReverberation(const double* impulse, int32_t n, double sampleRate,
                                     double sweepDuration, double tailDuration);

/* As initReverberation with the response, its length and its sample rate read
 * from a mono WAV file (16/24/32-bit PCM or 32-bit float). -1, with no slot
 * taken, when all slots are taken, file is null, or the file cannot be read or
 * is not supported. A file that is read but cannot be prepared gives a handle
 * to a not-ready object, as initReverberation does. */
TAVRIX_API int32_t initReverberationWithFile(const tavrix_char* file, double sweepDuration,
                                             double tailDuration);

/* Combines count existing analyses (for example one per source or receiver
 * position) into an ensemble evaluated on the mean band energy of its
 * members, aligned on their window starts and so on their onsets; each member
 * filters through its own bank. handles is read during the call; the members
 * are referred to, not copied, and must stay alive while the ensemble is used
 * (deleting a member makes every ensemble that names it not ready).
 * Returns the handle, or -1 when all slots are taken. The handle is returned
 * also when the ensemble is not ready: a handle that is empty or outside
 * 0..254, a member that is not ready, sample rates that differ, onsets at
 * different distances from their window starts (members whose direct sound
 * lies at least half a second into their responses always agree), handles
 * null with count > 0, or count < 0.
 * The ensemble window is the shortest member window plus one position, which
 * the members leave at zero energy (it ends the ensemble's level curve at
 * -infinity dB); the ensemble's onset lies one sample after the members', so
 * its decay curve starts one sample later and its onsetOffset is one more
 * negative. count = 0 (handles may then be null) gives a ready ensemble with
 * a one-position window whose evaluation fails with -1. An ensemble given as a
 * member passes the checks but makes every evaluation fail with -1. */
TAVRIX_API int32_t initReverberationEnsemble(const int32_t* handles, int32_t count);

/* The number of samples of the analysis window, trunc(windowEnd -
 * windowStart) + 1: the number of doubles the caller provides for each of
 * levelCurveDb and decayCurveDb of the evaluation calls. -1 for an empty slot
 * or a not-ready object. */
TAVRIX_API int32_t getMaxImpulseLength(int32_t handle);

/* Attaches a filter bank built as initFilterBank(resolution, firstBand,
 * lastBand) builds one, releasing the bank attached before. Works on ready
 * and not-ready objects alike, and may be called again at any time. An
 * ensemble evaluates through its members' banks, not its own. 0; -1 for an
 * empty slot or arguments the bank rejects (the rejected bank stays attached:
 * evaluation through its bands and weightings then fails with -1, while
 * TAVRIX_BAND_UNFILTERED needs no filter and still evaluates). */
TAVRIX_API int32_t initReverberationFilter(int32_t handle, int32_t resolution, int32_t firstBand,
                                           int32_t lastBand);

/* Evaluates one band of an analysis or ensemble. The stored response is
 * filtered time-reversed through the band, from rest, with the band's delay
 * compensated (so the filter's own ringing does not lengthen the decay), its
 * energy envelope is formed, and the noise-compensated decay analysis runs on
 * the envelope from the onset to the end of the window: it finds the noise
 * level and the crosspoint where the decay meets it, and integrates the
 * noise-subtracted energy backwards from the crosspoint, adding the energy of
 * an exponential tail beyond it. The analysis object is not changed: the same
 * call gives the same results.
 *
 * band: a band of the attached bank, TAVRIX_BAND_A_WEIGHTING,
 *   TAVRIX_BAND_C_WEIGHTING or TAVRIX_BAND_UNFILTERED.
 * ranges[0..rangeCount-1]: decay ranges in dB. 0 gives the early decay time
 *   (line fitted from 0 to -10 dB); R >= 10 a reverberation time fitted from
 *   -5 to -(R + 5) dB (20: T20, 30: T30); every time is extrapolated to a 60 dB
 *   decay. Any other value is invalid (-11). ranges, reverbTimes and
 *   fitQuality may be null when rangeCount is 0.
 * blockLength: > 0 averages both curves over blocks of that many samples,
 *   dropping the samples after the last whole block; <= 0 gives one value per
 *   sample.
 *
 * Outputs, in buffers the caller provides:
 *   levelCurveDb[]     getMaxImpulseLength values: the band energy over the
 *                      analysis window in dB re its largest sample (re its
 *                      largest block with averaging), so its maximum is 0 dB.
 *   levelCurveLength   values written to levelCurveDb. A window whose ends are
 *                      not whole sample positions (rates that are not
 *                      multiples of 10 Hz) can hold one value more than
 *                      getMaxImpulseLength promised; that value is dropped.
 *   decayCurveDb[]     getMaxImpulseLength values: the decay curve from the
 *                      onset in dB re its first value (exactly 0 dB at index 0
 *                      without averaging; block means re that first sample,
 *                      so at or below 0 dB, with averaging). Never more values
 *                      than getMaxImpulseLength.
 *   decayCurveEnd      values in decayCurveDb minus 1, as a double; -1 when the
 *                      decay curve is empty (a crosspoint within the first
 *                      interval of a decay only a few samples long).
 *   noiseLevelDb       the noise level in dB re the window's largest sample.
 *   tailModelDb[2]     the late-decay model at the onset and at the crosspoint,
 *                      on the level curve's scale (a straight line between).
 *   reverbTimes[]      rangeCount times in s, in the order of ranges; -10.0
 *                      for a range whose end level the curve never reaches.
 *   fitQuality[]       rangeCount coefficients of determination (r^2) of the
 *                      fits; NaN where no fit was made.
 *   dynamicRange       dB by which the decay curve falls from its maximum to
 *                      its last value, as found by the last range evaluated;
 *                      NaN for rangeCount 0.
 *   curvature          100 (T30 / T20 - 1) in percent from the last ranges 30
 *                      and 20; NaN unless both are present and positive.
 *   onsetOffset        index of the first level-curve value relative to the
 *                      onset (0 or negative): the onset is at levelCurveDb
 *                      index -onsetOffset (counted in blocks with averaging).
 *   peakLevelDb        absolute level (10 log10 of the energy) of the largest
 *                      sample of the band energy in the window.
 *
 * Results:
 *   0    everything written. With an empty decay curve reverbTimes and
 *        fitQuality are NaN, dynamicRange and curvature NaN (-11 still
 *        reports an invalid range).
 *   -1   nothing written: empty slot; not-ready object; no attached bank, or a
 *        band the bank cannot filter (outside its range, a weighting of a
 *        bank whose build failed, a segment not longer than the band's
 *        delay); an ensemble without members, or with a member that fails so
 *        or whose energy does not cover the ensemble window; rangeCount < 0;
 *        a null output pointer; blockLength longer than the analysis window
 *        (no whole block, no level to refer to).
 *   -11  a range that is neither 0 nor >= 10: everything written; times and
 *        fit qualities evaluated up to it, NaN from it on; curvature NaN;
 *        dynamicRange as found before it (NaN when it is the first range).
 *   -30  no 10 ms block between the peak and the noise lies more than 10 dB
 *        above the first noise estimate (also a window that ends at the
 *        onset, and envelopes shorter than 10 ms);
 *   -31  no crosspoint iteration converged for any interval length and fit;
 *   -32  the crosspoint converged, the final late-decay fit failed: the decay
 *        curve is integrated without tail energy, tailModelDb is -infinity;
 *   -33  fewer than 10 intervals for the interval length tried (too short or
 *        non-falling a decay).
 *   On -30 to -33 the level outputs are written and reverbTimes, fitQuality,
 *   dynamicRange and curvature are not. On -30, -31 and -33 the decay curve is
 *   a single zero energy (decayCurveDb one NaN without averaging),
 *   tailModelDb is -infinity, and noiseLevelDb comes from the last noise
 *   estimate (-infinity when none was made). */
TAVRIX_API int32_t getReverberationData(int32_t handle, int32_t band, const double* ranges,
                                        int32_t rangeCount, int32_t blockLength,
                                        double* levelCurveDb, int32_t* levelCurveLength,
                                        double* decayCurveDb, double* decayCurveEnd,
                                        double* noiseLevelDb, double* tailModelDb,
                                        double* reverbTimes, double* fitQuality,
                                        double* dynamicRange, double* curvature,
                                        int32_t* onsetOffset, double* peakLevelDb);

/* The level outputs of getReverberationData only, with the same meanings and
 * buffer sizes, plus decayStartLevelDb: the absolute level (10 log10) of the
 * decay curve's first value, the noise-compensated energy from the onset on
 * (NaN when the decay curve is empty; -infinity on -30, -31 and -33). Returns
 * the status of the decay analysis, 0 or -30 to -33, with the level outputs
 * written; or -1 with nothing written, for the reasons listed at
 * getReverberationData. */
TAVRIX_API int32_t getReverberationDataLevel(int32_t handle, int32_t band, int32_t blockLength,
                                             double* levelCurveDb, int32_t* levelCurveLength,
                                             double* decayCurveDb, double* decayCurveEnd,
                                             double* noiseLevelDb, double* decayStartLevelDb,
                                             int32_t* onsetOffset, double* peakLevelDb);

/* Destroys the analysis with its stored response and its filter bank. An
 * ensemble's members are not touched. Every ensemble that names the deleted
 * analysis becomes not ready (its evaluation fails with -1) rather than read
 * a deleted object. 0, or -1 for an empty slot. */
TAVRIX_API int32_t deleteReverberation(int32_t handle);

/* ===================================================================== */
/* Speech transmission index                                             */
/* ===================================================================== */

/* Creates an STI analysis of an impulse response of n samples at sampleRate:
 * the 7 x 14 modulation transfer matrix of the octave bands 125 Hz..8 kHz
 * (band filters of the 48 kHz designs, applied as they are at any rate). The
 * samples are copied. A response shorter than 1.6 s is zero-padded to
 * ceil(1.6 * sampleRate) samples with the response at the END of the frame.
 * Returns the handle, or -1 when all slots are taken. The handle is returned
 * also when the analysis cannot be made; such an object gives -1 from every
 * later call (-1.0 from getSpeechTansmissionIndex) except the destructor:
 * - null impulse, n < 1, or a sampleRate that is NaN, not above 0 or above
 *   1e7 Hz (a bound on the padding a short response can ask for): nothing
 *   is stored;
 * - a band whose squared filtered response sums to zero or to a non-finite
 *   value (a silent response, NaN or overflowing samples): the padded
 *   response is kept (getImpulseSize, getFilteredImpulse work) but there is
 *   no matrix. */
TAVRIX_API int32_t initSpeechTransmissionIndex(const double* impulse, int32_t n, double sampleRate);

/* As initSpeechTransmissionIndex from a mono WAV file, at the file's sample
 * rate. -1 (no slot used) when the path is null or the file cannot be read
 * (any failure of readWaveFile). */
TAVRIX_API int32_t initSpeechTransmissionIndexWithFile(const tavrix_char* file);

/* Length of the stored impulse (padded to at least 1.6 s); -1 for an empty
 * slot or an analysis that stored none. */
TAVRIX_API int32_t getImpulseSize(int32_t handle);

/* Writes getImpulseSize values to out: the stored impulse filtered forward
 * through octave band 7..13 (125 Hz..8 kHz), the A or C weighting
 * (TAVRIX_BAND_A_WEIGHTING, TAVRIX_BAND_C_WEIGHTING) or nothing
 * (TAVRIX_BAND_UNFILTERED), then squared: the energy envelope the modulation
 * transfer is computed from. The band filter is not reset: each call
 * continues from the state the previous pass of that band left (the
 * analysis itself made the first pass). 0; -1 (out untouched) for an empty
 * slot, no stored impulse, a null out or any other band. */
TAVRIX_API int32_t getFilteredImpulse(int32_t handle, double* out, int32_t band);

/* Writes the 14 modulation transfer values of octave band 7..13 to out, at
 * the modulation frequencies 10^((j-2)/10) Hz, j = 0..13 (0.63..12.6 Hz).
 * 0; -1 for an empty slot, an analysis without matrix, a null out or a band
 * outside 7..13. */
TAVRIX_API int32_t getModulationTransferFunction(int32_t handle, double* out, int32_t band);

/* Sets the seven octave-band noise levels in dB (125 Hz..8 kHz). The values
 * are COPIED: the caller's array need not outlive the call, and later
 * changes to it have no effect until the next call. 0; -1 (previous levels
 * kept) for an empty slot, an analysis without matrix, a null pointer or a
 * level that is not finite. */
TAVRIX_API int32_t setNoiseLevel(int32_t handle, const double* levels);

/* Sets the seven octave-band speech signal levels in dB; copied and checked
 * as in setNoiseLevel. 0, or -1. */
TAVRIX_API int32_t setSignalLevel(int32_t handle, const double* levels);

/* The speech transmission index with the male (true) or female weights
 * (the female set gives 125 Hz no weight), with the redundancy correction
 * between adjacent bands. With useLevels each modulation index of band b is
 * first reduced by the noise, m / (1 + 10^((N[b] - S[b]) / 10)). Apparent
 * signal-to-noise ratios are clipped to +-15 dB; nothing else is corrected
 * and the result is not clamped. Computed afresh on every call. -1.0 for an
 * empty slot or an analysis without matrix; -2.0 when useLevels is true and
 * setSignalLevel or setNoiseLevel has not succeeded. (The name is spelled
 * so.) */
TAVRIX_API double getSpeechTansmissionIndex(int32_t handle, bool maleWeights, bool useLevels);

/* Destroys the STI analysis with its response, filter bank and matrix. 0,
 * or -1 for an empty slot. */
TAVRIX_API int32_t deleteSpeechTransmissionIndex(int32_t handle);

/* ===================================================================== */
/* Power spectrum                                                        */
/* ===================================================================== */

/* Creates an FFT analysis. Returns the handle, or -1 when full. */
TAVRIX_API int32_t initFftAnalysis(void);

/* Replaces buffer[0..32768] by the power spectrum in dB of the 65536 samples
 * buffer[0..65535], weighted with the symmetric Hann window
 * 0.5 (1 - cos(2 pi n / 65535)): bin k at k * fs / 65536 holds
 * 10 log10(c |X_k|^2 / 65536^2), c = 2 for bins 0 and 32768 and 4 otherwise.
 * The window gain is not corrected: a full-scale sine on a bin reads
 * -6.02 dB, a constant 1.0 -3.01 dB at bin 0, silence -infinity.
 * buffer[32769..65535] are left as they were; each step is independent of
 * the previous ones. buffer must hold 65536 values. 0, or -1 (buffer
 * untouched) for an empty slot or a null buffer. */
TAVRIX_API int32_t fftStep(int32_t handle, double* buffer);

/* Destroys the FFT analysis. 0, or -1 for an empty slot. */
TAVRIX_API int32_t deleteFftAnalysis(int32_t handle);

/* ===================================================================== */
/* Files                                                                 */
/* ===================================================================== */

/* Writes n samples as a mono 16-bit PCM WAV file of 44 + 2n bytes. Each
 * sample passes through single precision and is stored as
 * round(32768 * s * 0.99), halves away from zero; nothing is clipped, so
 * codes beyond the 16-bit range keep their low 16 bits (wrap around), and NaN
 * or infinite samples are stored as 0. n = 0 writes a valid file without
 * samples (samples may then be null). 0, or -1 for a null path or samples,
 * n < 0, a sampleRate < 1, a path with an unpaired surrogate, or a file that
 * cannot be created or written. */
TAVRIX_API int32_t writeWaveFile(const tavrix_char* file, const double* samples, int32_t n,
                                 int32_t sampleRate);

/* Reads a mono WAV file of 16-, 24- or 32-bit integer PCM or 32-bit IEEE
 * float samples. The format chunk must come first and the data chunk right
 * after it; a format chunk longer than 16 bytes is accepted. Integer samples
 * are divided by 2^(bits - 1); every sample passes through single precision.
 * On success returns 0, *samples points to *n doubles that the library
 * allocated (release them with deleteDouble, even when *n is 0) and
 * *sampleRate holds the file's rate, a whole number from 1 to 2^31 - 1 (see
 * the general rules on unusual rates). Failures allocate nothing and set
 * *samples to null whenever samples is not null, whatever else is null:
 *   -10 for a format tag other than 1 (PCM) or 3 (float), for example
 *       WAVE_FORMAT_EXTENSIBLE;
 *   -1  for null arguments, a path with an unpaired surrogate, a missing or
 *       unreadable file, a file that is not RIFF/WAVE, several channels,
 *       other sample sizes (8, 64 bits, float other than 32 bits), a format
 *       chunk declaring fewer than 16 bytes, a sample rate field of 0 or
 *       above 2^31 - 1, any chunk between "fmt " and "data", or a data chunk
 *       shorter than it declares (byte rate, block align and the RIFF size
 *       are not checked).
 *       Once the header has been read, *sampleRate and *n hold its values
 *       even if the samples then fail. */
TAVRIX_API int32_t readWaveFile(const tavrix_char* file, double** samples, double* sampleRate,
                                int32_t* n);

/* Converts a WAV recording (read as readWaveFile does) to pascals and writes
 * it as a mono 32-bit float WAV file or, with writeUff, as a universal file
 * format dataset 58 in its binary variant (ASCII records ending in a line
 * feed, the samples as little-endian doubles, time in s against pressure in
 * Pa) at the recording's sample rate. Every sample is multiplied by
 * k = 2e-5 * 10^(L/20) Pa, with the full-scale level
 * L = 20*log10(2^23) - (sensitivityDb + 26) - 20*log10(round(10^(gainDb/20)))
 *     + adjustDb + trim/2000 + (highCorrection ? 2.9 : 1.66) dB,
 * the gain rounded half away from zero to a whole factor (3 dB acts as 0 dB,
 * 6 dB as a factor 2). unused is accepted and ignored, whatever its value.
 * Returns 0; -1 for a null path, a NaN or infinite level argument, levels
 * whose factor k is not a positive normal double (a gainDb below about -6.02
 * rounds to a factor of 0; finite but extreme levels such as a sensitivityDb
 * of 1e308 underflow to 0 or below the normal range, others overflow to
 * infinity), or an unreadable input (see readWaveFile, which also refuses a
 * rate of 0); -10 for an input
 * whose format tag is neither PCM nor float. On these failures nothing is
 * written. Without writeUff also -1 when the output cannot be created. With
 * writeUff an output that cannot be created or written is not reported: the
 * call returns 0 and nothing is written. */
TAVRIX_API int32_t createCalibratedWaveFile(const tavrix_char* inputPath,
                                            const tavrix_char* outputPath, double sensitivityDb,
                                            double adjustDb, double gainDb, double trim,
                                            double unused, bool highCorrection, bool writeUff);

#ifdef __cplusplus
}
#endif

#endif /* TAVRIX_H */

/*
 * tavrix_measure.h: the measurement layer over the Tavrix library.
 *
 * libtavrix does the signal processing of one measurement step per call. A
 * measurement needs more around those calls, and this layer holds it, once,
 * for every front-end (the `tavrix` tool, the Python package, any C host):
 *
 *   - reading the audio files people bring (WAV of any layout, FLAC, ...) and
 *     choosing one channel;
 *   - conditioning a response: cutting the digital silence it ends in,
 *     resampling it to the 48 kHz rate the band filters are designed for,
 *     putting silence in front of a direct sound that comes too early for the
 *     library's onset search;
 *   - the default analysis window, bands and decay ranges;
 *   - the plain backward-integration fallback for bands whose decay meets no
 *     noise floor, the doubt rules, the energy parameters C50, C80, D50, Ts;
 *   - ensembles of positions and the warning when their levels differ;
 *   - the speech transmission index with its corrections and STIPA, the
 *     harmonic distortion of a sweep measurement;
 *   - the spatial parameters of two-channel responses: the lateral energy
 *     fractions LF and LFC, the interaural cross-correlation IACC;
 *   - the impulse response of a recording made with any sweep file, cut
 *     around its direct sound;
 *   - the words of every result and every failure.
 *
 * Conventions
 *   Every function returns TVM_OK (0) or one of the negative failure values
 *   below; on failure nothing is allocated and the output pointers are left
 *   as they were, except that *out is set to NULL for the functions that
 *   allocate. tvm_error_text(code) gives a failure's general words;
 *   tvm_last_error() gives the calling thread's last failure as one sentence
 *   naming the file, what was wrong and what to do.
 *   Results that this layer allocates are freed with the matching tvm_free_*
 *   function; every pointer inside a result stays valid until then. Strings
 *   are UTF-8 and NUL-terminated; paths are UTF-8.
 *   Nothing is thrown across this interface. A value that was not measured
 *   is NaN (a time the decay never reached, a parameter of a failed band).
 *
 * Threads
 *   Every function may be called from any number of threads at once. The
 *   layer serialises its use of libtavrix (whose objects are not shared
 *   between threads and whose handle tables have no locks) behind one
 *   process-wide lock; file reading and resampling run outside it. A host
 *   that also calls libtavrix directly while other threads use this layer
 *   takes the same lock around those calls: tvm_lock_library() and
 *   tvm_unlock_library().
 */
#ifndef TAVRIX_MEASURE_H
#define TAVRIX_MEASURE_H

#include <stdbool.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(TAVRIX_MEASURE_BUILDING)
#define TVM_API __declspec(dllexport)
#else
#define TVM_API __declspec(dllimport)
#endif
#else
#define TVM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define TVM_VERSION_MAJOR 0
#define TVM_VERSION_MINOR 1
#define TVM_VERSION_PATCH 0

/* ---- Failure values ---------------------------------------------------- */
#define TVM_OK 0
/* An argument out of range: a null pointer, a length below 1, a NaN where a
   number is needed, bands outside the banks, a decay range between 0 and 10. */
#define TVM_BAD_ARGUMENT (-1)
/* The path names no file, or a directory. */
#define TVM_NO_FILE (-2)
/* The file is not audio this layer reads, or it ends before its declared
   length. */
#define TVM_BAD_FILE (-3)
/* A multichannel file without a chosen channel, or a channel it lacks. */
#define TVM_BAD_CHANNEL (-4)
/* The response holds no samples, or nothing but digital silence. */
#define TVM_SILENT (-5)
/* The response has no distinct direct sound, or several responses cannot be
   aligned on theirs as an ensemble. */
#define TVM_NO_DIRECT_SOUND (-6)
/* libtavrix refused a request it cannot serve. */
#define TVM_LIBRARY_REFUSED (-7)
/* A file could not be written. */
#define TVM_WRITE_FAILED (-8)
/* Out of memory, or a failure of a library this layer uses (the resampler). */
#define TVM_INTERNAL (-9)
/* All 255 slots of one of libtavrix's object tables are in use (by the host's
   own direct use of the library: this layer releases what it creates). */
#define TVM_TABLE_FULL (-10)

/* General words of a failure value ("the file is not readable audio"), or of
   an unknown value. Static storage; never NULL. */
TVM_API const char* tvm_error_text(int32_t code);

/* The calling thread's last failure in one sentence with its particulars
   ("room.wav: the file has 2 channels; choose one of channels 1..2"); "" before
   any. Only failing calls change it: tvm_error_text, tvm_version and the lock
   functions never do, so a host may take the lock between a failure and this
   call. Valid until the thread's next failing call. */
TVM_API const char* tvm_last_error(void);

/* "0.1.0": the layer's version. */
TVM_API const char* tvm_version(void);

/* The process-wide lock around every use of libtavrix (recursive). Only for
   hosts that call libtavrix themselves while other threads use this layer. */
TVM_API void tvm_lock_library(void);
TVM_API void tvm_unlock_library(void);

/* ---- Audio files ------------------------------------------------------- */
typedef struct tvm_audio {
  double* samples; /* frames values of the chosen channel, full scale +-1 */
  int64_t frames;
  int32_t sample_rate; /* Hz */
  int32_t channels;    /* in the file */
  int32_t channel;     /* the one read, from 1 */
  /* The smallest step the sample format takes (2^-15 for 16-bit PCM); 0 for
     float files, whose only exact silence is 0. */
  double quantisation_step;
  char format[32]; /* "16-bit PCM", "32-bit float", ... */
} tvm_audio;

/* Reads one channel of an audio file (WAV with any chunks, WAVE_FORMAT_
   EXTENSIBLE, FLAC, ...). channel counts from 1; 0 chooses the only channel
   of a mono file and is TVM_BAD_CHANNEL for a multichannel one.
   Failures: TVM_BAD_ARGUMENT (null path or out), TVM_NO_FILE, TVM_BAD_FILE,
   TVM_BAD_CHANNEL, TVM_SILENT (no samples), TVM_INTERNAL.
   Free *out with tvm_free_audio. */
TVM_API int32_t tvm_read_audio(const char* path, int32_t channel, tvm_audio** out);
TVM_API void tvm_free_audio(tvm_audio* audio);

/* Writes a mono 32-bit float WAV file. Failures: TVM_BAD_ARGUMENT,
   TVM_WRITE_FAILED. */
TVM_API int32_t tvm_write_float_wav(const char* path, const double* samples, int64_t length,
                                    int32_t sample_rate);

/* ---- Responses ----------------------------------------------------------- */
/* One impulse response as it came (from a file, or from an array). It is
   conditioned inside the analyses: trailing digital silence cut (samples
   below quantisation_step, or exact zeros when it is 0), resampled to
   48 kHz, silence put in front of an early direct sound. */
typedef struct tvm_response {
  const char* name; /* for reports and messages; NULL: "response" */
  const double* samples;
  int64_t length;
  int32_t sample_rate;      /* Hz, 1000 to 768000 */
  double quantisation_step; /* 0 for float data */
  /* The file's channel it is (from 1) and the file's channel count, for the
     reports; 0 and 0 for an array that came from no file. */
  int32_t channel, channels;
} tvm_response;

/* Band numbers: octave band 10 and third-octave band 30 are 1 kHz. */
#define TVM_OCTAVE 1
#define TVM_THIRD 2
#define TVM_BAND_A 100000 /* A-weighted broadband */
#define TVM_BAND_Z 100002 /* unfiltered broadband */

/* Progress of a long analysis: done of total steps, and what is being done. */
typedef void (*tvm_progress_fn)(void* data, int32_t done, int32_t total, const char* what);

typedef struct tvm_reverb_options {
  int32_t bands; /* TVM_OCTAVE (default) or TVM_THIRD */
  /* The bands nearest these frequencies; 0 gives the defaults: 125 Hz to
     8 kHz in octaves, 100 Hz to 10 kHz in thirds. */
  double low_hz, high_hz;
  /* Decay ranges in dB: 0 is the early decay time, R >= 10 the time from
     -5 to -(R + 5) dB. NULL gives 0, 10, 20, 30. At most 16. */
  const double* ranges;
  int32_t range_count;
  /* The sweep measurement's durations, when the response came from one: the
     analysis window then ends tail_seconds after the direct sound. 0 and 0
     analyse the whole response. */
  double sweep_seconds, tail_seconds;
  bool native_rate;         /* analyse at the response's own rate (bands move with it) */
  bool keep_silence;        /* keep trailing digital silence */
  bool parameters;          /* energy parameters, and the broadband bands A and Z */
  tvm_progress_fn progress; /* NULL: none */
  void* progress_data;
} tvm_reverb_options;

/* The defaults above. */
TVM_API void tvm_reverb_options_init(tvm_reverb_options* options);

/* How a band's times were found. */
#define TVM_METHOD_COMPENSATED 0 /* noise-compensated (Lundeby) */
#define TVM_METHOD_PLAIN 1       /* plain backward integration of a decay without noise floor */

typedef struct tvm_band_result {
  int32_t band;            /* band number, TVM_BAND_A or TVM_BAND_Z */
  const char* label;       /* as analysed: "1 kHz", or "919 Hz" at a native rate; "A", "Z" */
  const char* nominal;     /* nominal name: "1 kHz" */
  double frequency_hz;     /* exact analysed mid-band frequency; NaN for A and Z */
  int32_t status;          /* libtavrix's status of the compensated analysis (0 or TAVRIX_...) */
  int32_t method;          /* TVM_METHOD_... */
  const char* method_text; /* "noise-compensated" or "plain backward integration" */
  bool evaluated;          /* the band holds times */
  const char* result;      /* "ok", "doubtful", "plain", "plain, doubtful", or the failure's label */
  const char* result_text; /* one sentence: why it failed, why doubtful, ... */
  int32_t doubt_count;
  const char* const* doubts; /* e.g. "non-linearity of T20 14.2 per mille above 10 (r2 0.9858)" */
  const double* times_s;     /* range_count values; NaN where not reached or not evaluated */
  const double* r2;          /* range_count values */
  double dynamic_range_db, curvature_percent;
  double noise_level_db;   /* re the band's peak; NaN where no floor was found */
  double peak_level_db;    /* absolute, dB re full scale squared */
  double end_level_db;     /* mean level of the last tenth of the decay re the peak */
  double tail_model_db[2]; /* late-decay model re the peak at the onset and at the crosspoint */
  double c50_db, c80_db, d50_percent, ts_ms; /* with parameters; else NaN */
  /* Curves as means over blocks of the report's block_seconds. Block 0
     starts at the onset of the direct sound; the level curve (dB re the
     band's peak) starts at block level_first_block (0 or negative), the
     decay curve (dB re its value at the onset) at block 0. */
  int32_t level_first_block;
  int32_t level_length;
  const double* level_db;
  int32_t decay_length;
  const double* decay_db;
  /* What the analysis used, in seconds from the response's first sample as
     it was given (negative inside silence put in front of it): time 0 of the
     energy parameters (this band's centre of the direct sound), the
     crosspoint where the decay sank into the noise (NaN without a floor), and
     the analysis window, the same for every band. NaN for an ensemble mean. */
  double onset_s;
  double crosspoint_s;
  double window_start_s, window_end_s;
} tvm_band_result;

typedef struct tvm_source_result {
  const char* name;          /* the response's name, or "mean" for an ensemble */
  int32_t sample_rate;       /* analysed */
  int32_t source_rate;       /* the response's own */
  double silence_cut_s;      /* digital silence cut from the end */
  double end_cut_s;          /* then an end far below the steady noise before it (a fade, a gate) */
  int32_t channel, channels; /* as the response gave them */
  double lead_in_s;          /* silence put in front */
  int32_t note_count;
  const char* const* notes; /* what was done to the response, one sentence each */
  int32_t band_count;       /* the fractional-octave bands, then A and Z with parameters */
  const tvm_band_result* bands;
} tvm_source_result;

typedef struct tvm_reverb_report {
  int32_t bands;          /* TVM_OCTAVE or TVM_THIRD */
  const char* bands_name; /* "octave" or "third" */
  double band_scale;      /* analysed centre over nominal: 1, or rate / 48000 at a native rate */
  double block_seconds;   /* of the curves */
  int32_t range_count;
  const double* ranges_db;
  const char* const* range_names; /* "EDT", "T10", ... */
  int32_t position_count;
  const tvm_source_result* positions;
  const tvm_source_result* ensemble; /* the mean over two or more positions; else NULL */
  int32_t warning_count;
  const char* const* warnings; /* about the ensemble as a whole */
  int32_t evaluated_bands;     /* bands with times, over all sources */
} tvm_reverb_report;

/* Reverberation per band of count responses (positions of one room; two or
   more also give their ensemble mean). Options NULL: the defaults.
   Failures: TVM_BAD_ARGUMENT, TVM_SILENT, TVM_NO_DIRECT_SOUND,
   TVM_TABLE_FULL, TVM_LIBRARY_REFUSED, TVM_INTERNAL. A band that cannot be evaluated is no
   failure: its result says why. Free *out with tvm_free_reverb_report. */
TVM_API int32_t tvm_analyse_reverb(const tvm_response* responses, int32_t count,
                                   const tvm_reverb_options* options, tvm_reverb_report** out);
TVM_API void tvm_free_reverb_report(tvm_reverb_report* report);

/* ---- Speech transmission index ------------------------------------------ */
typedef struct tvm_sti_options {
  bool native_rate;
  /* Speech and background-noise levels in dB of the 7 octave bands 125 Hz to
     8 kHz, both or neither (NULL): the index is then corrected for them. */
  const double* signal_db;
  const double* noise_db;
} tvm_sti_options;

typedef struct tvm_sti_result {
  double male, female; /* the index with the male and the female weights */
  bool levels_corrected;
  int32_t sample_rate, source_rate;
  double band_frequencies_hz[7];
  double modulation_frequencies_hz[14];
  double mtf[7][14]; /* modulation transfer function, band x modulation frequency */
  /* STIPA from the same response: the index from the modulation transfer at
     the STIPA test signal's two modulation frequencies per band, with the
     same weights and level correction. */
  double stipa_male, stipa_female;
  double stipa_modulation_frequencies_hz[7][2];
  double stipa_mtf[7][2];
} tvm_sti_result;

/* The speech transmission index of one response (indirect method). The
   response is resampled to 48 kHz unless native_rate; its silence is kept
   (it changes no modulation sum). Options NULL: the defaults.
   Failures: TVM_BAD_ARGUMENT, TVM_SILENT (nothing but zeros),
   TVM_NO_DIRECT_SOUND (the analysis of the response failed), TVM_TABLE_FULL,
   TVM_LIBRARY_REFUSED, TVM_INTERNAL. */
TVM_API int32_t tvm_analyse_sti(const tvm_response* response, const tvm_sti_options* options,
                                tvm_sti_result* out);

/* ---- Harmonic distortion --------------------------------------------------- */
typedef struct tvm_distortion_band {
  int32_t band; /* third-octave band of the fundamental (30 = 1 kHz) */
  double frequency_hz;
  const char* label;
  const double* harmonics_db; /* harmonic first..last re the fundamental; NaN above the sweep */
  double thd_percent;
} tvm_distortion_band;

typedef struct tvm_distortion_report {
  int32_t first_harmonic, last_harmonic;
  double window_s;
  int32_t band_count;
  const tvm_distortion_band* bands;
} tvm_distortion_report;

/* Harmonic distortion per third octave from the impulse response of an
   exponential sweep from from_hz to to_hz over sweep_seconds at rate Hz:
   harmonics first..last (2 <= first <= last <= 10).
   Failures: TVM_BAD_ARGUMENT (also a response too short for the harmonics,
   or no third octave inside the sweep), TVM_INTERNAL.
   Free *out with tvm_free_distortion_report. */
TVM_API int32_t tvm_analyse_distortion(const double* response, int64_t length, double rate, double from_hz,
                                       double to_hz, double sweep_seconds, int32_t first_harmonic,
                                       int32_t last_harmonic, tvm_distortion_report** out);
TVM_API void tvm_free_distortion_report(tvm_distortion_report* report);

/* ---- Deconvolution of a recorded sweep ------------------------------------ */
typedef struct tvm_impulse {
  /* length values at sample_rate: from lead_s before the direct sound to the
     end of the linear response the recording holds in full (its length less
     the sweep's). tvm_analyse_reverb analyses it as it is, with no sweep or
     tail durations. */
  double* samples;
  int64_t length;
  int32_t sample_rate;  /* the recording's */
  int64_t direct_index; /* the direct sound (the largest magnitude) in samples */
  double lead_s;        /* direct_index / sample_rate */
  /* The direct sound re the sweep's first sample, playback and recording
     started together: the latency of the sound card and the way through
     the air. */
  double latency_s;
  /* The band in which the division by the sweep's spectrum is exact: where
     that spectrum (smoothed over a sixth of an octave) lies within 40 dB of
     its maximum. Outside it the response is regularised towards zero. */
  double band_low_hz, band_high_hz;
  int32_t note_count;
  const char* const* notes; /* what was done (resampling, silence left out), one sentence each */
} tvm_impulse;

/* The impulse response of recording[0..n-1] at rate Hz, made with the sweep
   sweep[0..m-1] at sweep_rate Hz that was played (any excitation: another
   program's sweep, or a playback file with its silence). The sweep is
   resampled to the recording's rate when they differ, and the samples more
   than 80 dB below its peak at its two ends are left out. The recording's
   spectrum is divided by the sweep's, regularised outside the sweep's band
   so that frequencies the sweep never excited do not amplify noise:
   H = Y X* / (|X|^2 + eps(f)).
   Failures: TVM_BAD_ARGUMENT (null pointers, a length below 1, a rate
   outside 1000..768000 Hz, a sample that is not finite, a recording shorter
   than the sweep, a direct sound too late for the recording to hold the rest
   of the sweep), TVM_SILENT (a sweep or a recording of nothing but zeros), TVM_NO_SIGNAL
   (a recording of noise alone: its response stands less than 20 dB above
   its noise),
   TVM_INTERNAL (out of memory, the resampler). Thread-safe: it does not use
   libtavrix. Free *out with tvm_free_impulse. */
TVM_API int32_t tvm_deconvolve(const double* recording, int64_t n, int32_t rate, const double* sweep,
                               int64_t m, int32_t sweep_rate, tvm_impulse** out);
TVM_API void tvm_free_impulse(tvm_impulse* impulse);

/* ---- Spatial parameters: lateral fractions and interaural correlation ---- */
/* What the two channels are. */
#define TVM_SPATIAL_LATERAL 0  /* a pressure and a figure-of-eight channel: LF, LFC */
#define TVM_SPATIAL_BINAURAL 1 /* the left and the right ear of a dummy head: IACC */
/* How a lateral pair was recorded. The figure-of-eight's null must face the
   source (its positive lobe to one side), so that it hears the lateral
   reflections and not the direct sound. */
#define TVM_PAIR 0  /* pressure and figure-of-eight of equal on-axis sensitivity */
#define TVM_FUMA 1  /* first-order B-format W and Y, FuMa: W 3 dB down (raised by sqrt 2 here) */
#define TVM_AMBIX 2 /* first-order B-format W and Y, AmbiX (SN3D): W and Y equally sensitive */

typedef struct tvm_spatial_options {
  int32_t mode;       /* TVM_SPATIAL_LATERAL (default) or TVM_SPATIAL_BINAURAL */
  int32_t convention; /* lateral: TVM_PAIR (default), TVM_FUMA or TVM_AMBIX */
  bool native_rate;   /* analyse at the response's own rate (bands move with it) */
} tvm_spatial_options;

/* The defaults above. */
TVM_API void tvm_spatial_options_init(tvm_spatial_options* options);

typedef struct tvm_spatial_band {
  int32_t band;        /* octave band number (10 = 1 kHz) */
  const char* label;   /* as analysed: "1 kHz", or "919 Hz" at a native rate */
  const char* nominal; /* "1 kHz" */
  double frequency_hz; /* analysed mid-band frequency */
  /* Lateral: LF = sum p8^2 over 5..80 ms / sum p0^2 over 0..80 ms, LFC the
     same with |p8 p0| above; NaN in binaural mode. */
  double lf, lfc;
  /* Binaural: the largest |IACF| for lags within +-1 ms over 0..80 ms, from
     80 ms to the end of the decay, and over both; NaN in lateral mode. */
  double iacc_early, iacc_late, iacc;
  double late_end_ms; /* the end of the decay (the late stretch), ms after time 0 */
} tvm_spatial_band;

typedef struct tvm_spatial_report {
  int32_t mode;          /* TVM_SPATIAL_LATERAL or TVM_SPATIAL_BINAURAL */
  const char* mode_name; /* "lateral" or "binaural" */
  int32_t convention;    /* lateral: TVM_PAIR, TVM_FUMA or TVM_AMBIX */
  const char* reference; /* the channel whose direct sound is time 0: "pressure", "left", "right" */
  int32_t sample_rate, source_rate;
  double band_scale;  /* analysed centre over nominal */
  double onset_s;     /* the direct sound's onset, s from the start of the response */
  int32_t band_count; /* octave bands 125 Hz to 4 kHz */
  const tvm_spatial_band* bands;
  double lf_mean, lfc_mean; /* over 125 Hz to 1 kHz; NaN in binaural mode */
  double iacc_early_mean;   /* over 500 Hz to 2 kHz; NaN in lateral mode */
  int32_t note_count;
  const char* const* notes; /* what was done, and doubts about the set-up */
} tvm_spatial_report;

/* Spatial parameters per octave band 125 Hz to 4 kHz of a two-channel
   impulse response: first the pressure (or W) and second the figure-of-eight
   (or Y) in lateral mode, first the left and second the right ear in
   binaural mode. Time 0 of each band is its direct sound in the pressure
   channel, or in the louder ear, and both channels share it. The channels
   share a sample rate; the shorter is extended with zeros. Options NULL:
   the defaults. Failures: TVM_BAD_ARGUMENT (null pointers, rates that differ,
   an unknown mode or convention), TVM_SILENT (a channel of nothing but
   zeros), TVM_NO_DIRECT_SOUND, TVM_TABLE_FULL, TVM_LIBRARY_REFUSED,
   TVM_INTERNAL. Free *out with tvm_free_spatial_report. */
TVM_API int32_t tvm_analyse_spatial(const tvm_response* first, const tvm_response* second,
                                    const tvm_spatial_options* options, tvm_spatial_report** out);
TVM_API void tvm_free_spatial_report(tvm_spatial_report* report);

/* ---- Sound cards ---------------------------------------------------------
   Failure values of measurements through a sound card or audio server. */
/* No audio server or sound card, no such device, a busy device, or a rate,
   channel count or format it does not run at. */
#define TVM_AUDIO_DEVICE (-20)
/* The stream broke off (the server died, the device went away), lost audio
   in every attempt, or was interrupted. */
#define TVM_AUDIO_STREAM (-21)
/* Nothing but noise or silence came back: the wrong channel or cable, or
   nothing connected. */
#define TVM_NO_SIGNAL (-22)
/* The input clipped, or would at the level asked for. */
#define TVM_CLIPPED (-23)

typedef struct {
  int32_t index;        /* PortAudio's device number, as `tavrix devices` shows it */
  const char* name;     /* for JACK, the client whose ports it reaches ("system") */
  const char* host_api; /* "JACK Audio Connection Kit", "ALSA", ... */
  bool jack;            /* reached through a JACK server */
  int32_t inputs, outputs;
  double default_rate; /* Hz; for JACK, the server's rate */
  bool is_default;     /* its host API's default output device */
} tvm_audio_device;

typedef struct {
  int32_t count;
  const tvm_audio_device* devices;
} tvm_audio_device_list;

/* The audio devices PortAudio sees, through every host API (JACK's when a
   server answers; a JACK server is never started). PortAudio's probing of
   the back ends is kept off stderr. No devices is a list of 0, not a
   failure. Failures: TVM_BAD_ARGUMENT (null out), TVM_AUDIO_DEVICE
   (PortAudio cannot start), TVM_INTERNAL. Free *out with
   tvm_free_audio_devices. */
TVM_API int32_t tvm_audio_devices(tvm_audio_device_list** out);
TVM_API void tvm_free_audio_devices(tvm_audio_device_list* list);
/* ---- Surveys of many files ------------------------------------------------ */
/* A table of survey rows: column_count named columns, each of numbers or of
   texts, and row_count rows. Cells are stored row by row: the cell of row r
   and column c is numbers[r * column_count + c] in a number column (NaN where
   nothing was measured) and texts[r * column_count + c] in a text column
   (texts are "" in number columns, numbers NaN in text columns). */
typedef struct tvm_survey_table {
  int32_t column_count;
  const char* const* columns; /* "file", "channel", ..., "sti", "sti_female", "error" */
  const bool* text_columns;   /* column_count flags: true for a column of texts */
  int32_t row_count;
  const double* numbers;
  const char* const* texts;
} tvm_survey_table;

/* The survey of one audio file: each channel analysed alone, as
   tvm_analyse_reverb analyses it with its defaults and parameters set (octave
   bands 125 Hz to 8 kHz, then A and Z; EDT, T10, T20, T30; C50, C80, D50, Ts)
   and as tvm_analyse_sti does with its defaults. One row per channel and
   band; the channel's index (male and female weights) on each of its rows;
   the column "error" is "". A file fails as a whole when any channel does.
   path NULL gives the columns and no rows.
   Failures: TVM_BAD_ARGUMENT (out NULL), TVM_NO_FILE, TVM_BAD_FILE, TVM_SILENT,
   TVM_NO_DIRECT_SOUND, TVM_TABLE_FULL, TVM_LIBRARY_REFUSED, TVM_INTERNAL;
   tvm_last_error() names the file. Free *out with tvm_free_survey_table. */
TVM_API int32_t tvm_survey_file(const char* path, tvm_survey_table** out);

/* The one row of a file whose survey failed: the columns "file" (path) and
   "error" (the failure's sentence), every other cell empty. Failures:
   TVM_BAD_ARGUMENT (a NULL argument), TVM_INTERNAL. */
TVM_API int32_t tvm_survey_failure(const char* path, const char* error, tvm_survey_table** out);
TVM_API void tvm_free_survey_table(tvm_survey_table* table);

/* A list of paths this layer allocated. */
typedef struct tvm_path_list {
  int32_t count;
  const char* const* paths;
} tvm_path_list;

/* The files named and the audio files in the folders named (searched
   recursively for the extensions of the formats tvm_read_audio reads: wav,
   flac, ogg, aiff, ...), sorted, without repeats. A named file is taken
   whatever its extension. Failures: TVM_BAD_ARGUMENT (paths NULL or count
   below 1, a NULL path), TVM_NO_FILE (a path that names nothing, a folder that
   cannot be read). Free *out with tvm_free_path_list. */
TVM_API int32_t tvm_find_audio_files(const char* const* paths, int32_t count, tvm_path_list** out);
TVM_API void tvm_free_path_list(tvm_path_list* list);

#ifdef __cplusplus
}
#endif

#endif /* TAVRIX_MEASURE_H */

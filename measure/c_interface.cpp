// The layer's C interface: plain structs over the C++ results, failures as
// values and words, nothing thrown across.
#include <cmath>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "audio_io.h"
#include "bands.h"
#include "c_guard.h"
#include "distortion.h"
#include "library_client.h"
#include "measure_error.h"
#include "reverb_analysis.h"
#include "sound_card.h"
#include "spatial_analysis.h"
#include "status_messages.h"
#include "sti_analysis.h"
#include "stipa.h"
#include "sweep_deconvolution.h"
#include "tavrix_measure.h"

using namespace tavrix::measure;

namespace {

thread_local std::string lastError;

template <class F>
int32_t guarded(F&& body) noexcept {
  try {
    body();
    return TVM_OK;
  } catch (const MeasureError& e) {
    lastError = e.what();
    return e.code;
  } catch (const std::bad_alloc&) {
    lastError = "out of memory; analyse a shorter response";
    return TVM_INTERNAL;
  } catch (const std::exception& e) {
    lastError = e.what();
    return TVM_INTERNAL;
  } catch (...) {
    lastError = "an unexpected failure inside the measurement layer";
    return TVM_INTERNAL;
  }
}

void require(bool ok, const char* what) {
  if (!ok) fail(TVM_BAD_ARGUMENT, what);
}

// Strings and pointer lists that a C result points into; deques keep their
// elements where they are as they grow.
struct Texts {
  std::deque<std::string> strings;
  std::deque<std::vector<const char*>> lists;

  const char* keep(std::string s) { return strings.emplace_back(std::move(s)).c_str(); }
  const char* const* keep(const std::vector<std::string>& items) {
    std::vector<const char*>& list = lists.emplace_back();
    for (const std::string& s : items) list.push_back(keep(s));
    list.push_back(nullptr);
    return list.data();
  }
};

// Every allocated C result is the first member of a standard-layout holder
// whose second member owns what the result points into, so that the free
// functions find their owner from the pointer they are given.
struct ReverbStore {
  ReverbReport report;
  ReverbOptions options;
  Texts texts;
  std::vector<tvm_source_result> positions;
  tvm_source_result ensemble{};
  std::deque<std::vector<tvm_band_result>> bands;
  std::vector<double> ranges;
};
struct ReverbHolder {
  tvm_reverb_report c;
  ReverbStore* store;
};

struct AudioHolder {
  tvm_audio c;
  Audio* audio;
};

struct DistortionStore {
  DistortionResult result;
  Texts texts;
  std::vector<tvm_distortion_band> bands;
};
struct DistortionHolder {
  tvm_distortion_report c;
  DistortionStore* store;
};

struct ImpulseStore {
  Deconvolution result;
  Texts texts;
};
struct ImpulseHolder {
  tvm_impulse c;
  ImpulseStore* store;
};

tvm_band_result bandOf(const BandResult& b, const ReverbOptions& o, Texts& texts) {
  tvm_band_result c{};
  const BandResolution res = o.bands.resolution;
  c.band = b.band;
  c.label = texts.keep(bandLabel(res, b.band, o.bandScale));
  c.nominal = texts.keep(bandName(res, b.band));
  c.frequency_hz = bandFrequency(res, b.band) * o.bandScale;
  c.status = b.status;
  c.method = b.method == DecayMethod::Plain ? TVM_METHOD_PLAIN : TVM_METHOD_COMPENSATED;
  c.method_text = methodText(b.method);
  c.evaluated = bandEvaluated(b);
  c.result = texts.keep(resultLabel(b));
  c.result_text = texts.keep(resultSentence(b));
  c.doubt_count = static_cast<int32_t>(b.doubts.size());
  c.doubts = texts.keep(b.doubts);
  c.times_s = b.times.data();
  c.r2 = b.fitQuality.data();
  c.dynamic_range_db = b.dynamicRange;
  c.curvature_percent = b.curvature;
  c.noise_level_db = b.noiseLevelDb;
  c.peak_level_db = b.peakLevelDb;
  c.end_level_db = b.endLevelDb;
  c.tail_model_db[0] = b.tailModelDb[0];
  c.tail_model_db[1] = b.tailModelDb[1];
  const EnergyParameters e = o.parameters ? b.energy : noEnergyParameters();
  c.c50_db = e.c50Db;
  c.c80_db = e.c80Db;
  c.d50_percent = e.d50Percent;
  c.ts_ms = e.tsMs;
  c.level_first_block = b.onsetOffset;
  c.level_length = static_cast<int32_t>(b.levelCurveDb.size());
  c.level_db = b.levelCurveDb.data();
  c.decay_length = static_cast<int32_t>(b.decayCurveDb.size());
  c.decay_db = b.decayCurveDb.data();
  c.onset_s = b.onsetSeconds;
  c.crosspoint_s = b.crosspointSeconds;
  c.window_start_s = b.windowSeconds[0];
  c.window_end_s = b.windowSeconds[1];
  return c;
}

tvm_source_result sourceOf(const ImpulseResult& r, ReverbStore& s) {
  tvm_source_result c{};
  c.name = s.texts.keep(r.name);
  c.sample_rate = r.sampleRate;
  c.source_rate = r.sourceRate;
  c.silence_cut_s = r.silenceCutSeconds;
  c.end_cut_s = r.endCutSeconds;
  c.channel = r.channel;
  c.channels = r.channels;
  c.lead_in_s = r.leadInSeconds;
  c.note_count = static_cast<int32_t>(r.notes.size());
  c.notes = s.texts.keep(r.notes);
  std::vector<tvm_band_result>& bands = s.bands.emplace_back();
  for (const BandResult& b : r.bands) bands.push_back(bandOf(b, s.options, s.texts));
  for (const BandResult& b : r.broadband) bands.push_back(bandOf(b, s.options, s.texts));
  c.band_count = static_cast<int32_t>(bands.size());
  c.bands = bands.data();
  return c;
}

std::string responseName(const tvm_response& r, int32_t index, int32_t count) {
  if (r.name != nullptr) return r.name;
  return count == 1 ? "response" : "response " + std::to_string(index + 1);
}

AudioView viewOf(const tvm_response& r, const std::string& name) {
  require(r.samples != nullptr && r.length >= 1,
          "a response needs samples (a pointer and a length of at least 1)");
  AudioView v;
  v.name = name;
  v.samples = r.samples;
  v.length = static_cast<size_t>(r.length);
  v.sampleRate = r.sample_rate;
  v.quantisationStep = r.quantisation_step;
  v.channel = r.channel;
  v.channels = r.channels;
  return v;
}

}  // namespace

extern "C" {

TVM_API const char* tvm_error_text(int32_t code) {
  switch (code) {
    case TVM_OK:
      return "no failure";
    case TVM_BAD_ARGUMENT:
      return "an argument is out of range";
    case TVM_NO_FILE:
      return "no such file";
    case TVM_BAD_FILE:
      return "the file is not audio that can be read, or it is damaged";
    case TVM_BAD_CHANNEL:
      return "the file has no such channel, or a channel must be chosen";
    case TVM_SILENT:
      return "the response holds no samples, or nothing but digital silence";
    case TVM_NO_DIRECT_SOUND:
      return "no distinct direct sound was found in the response";
    case TVM_LIBRARY_REFUSED:
      return "the library refused the request (all its slots in use, or a request it cannot serve)";
    case TVM_WRITE_FAILED:
      return "the file could not be written";
    case TVM_INTERNAL:
      return "out of memory, or a failure inside the measurement layer";
    case TVM_TABLE_FULL:
      return "all slots of one of the library's object tables are in use; release objects no longer needed";
    case TVM_AUDIO_DEVICE:
      return "no audio server or sound card, no such device, a busy device, or a rate it does not run at";
    case TVM_AUDIO_STREAM:
      return "the audio stream broke off, lost audio, or was interrupted";
    case TVM_NO_SIGNAL:
      return "nothing but noise or silence came back from the input";
    case TVM_CLIPPED:
      return "the input clipped";
    default:
      return "an unknown failure value";
  }
}

TVM_API const char* tvm_last_error(void) { return lastError.c_str(); }

TVM_API const char* tvm_version(void) { return "0.1.0"; }

TVM_API void tvm_lock_library(void) {
  // Starts the library too, so that a host's first direct call finds it ready.
  LibraryLock lock = lockLibrary();
  lock.release();
}

TVM_API void tvm_unlock_library(void) { libraryMutex().unlock(); }

TVM_API int32_t tvm_read_audio(const char* path, int32_t channel, tvm_audio** out) {
  return guarded([&] {
    if (out != nullptr) *out = nullptr;
    require(path != nullptr && out != nullptr, "a path and a place for the audio are needed");
    require(channel >= 0, "channels are numbered from 1 (0: the only channel of a mono file)");
    auto audio = std::make_unique<Audio>(readAudio(path, channel));
    auto holder = std::make_unique<AudioHolder>();
    holder->c.samples = audio->samples.data();
    holder->c.frames = static_cast<int64_t>(audio->samples.size());
    holder->c.sample_rate = audio->sampleRate;
    holder->c.channels = audio->channels;
    holder->c.channel = audio->channel;
    holder->c.quantisation_step = audio->quantisationStep;
    std::strncpy(holder->c.format, audio->format.c_str(), sizeof holder->c.format - 1);
    holder->audio = audio.release();
    *out = &holder.release()->c;
  });
}

TVM_API void tvm_free_audio(tvm_audio* audio) {
  if (audio == nullptr) return;
  auto* holder = reinterpret_cast<AudioHolder*>(audio);
  delete holder->audio;
  delete holder;
}

TVM_API int32_t tvm_write_float_wav(const char* path, const double* samples, int64_t length,
                                    int32_t sample_rate) {
  return guarded([&] {
    require(path != nullptr && samples != nullptr, "a path and samples are needed");
    require(length >= 1, "a file needs at least one sample");
    require(sample_rate >= 1, "the sample rate must be a positive number of Hz");
    for (int64_t i = 0; i < length; ++i) {
      if (!std::isfinite(samples[i])) {
        fail(TVM_BAD_ARGUMENT, std::string(path) + ": sample " + std::to_string(i) +
                                   " is not a finite number; a file holds numbers only");
      }
    }
    writeFloatWav(path, std::vector<double>(samples, samples + length), sample_rate);
  });
}

TVM_API void tvm_reverb_options_init(tvm_reverb_options* options) {
  if (options == nullptr) return;
  *options = tvm_reverb_options{};
  options->bands = TVM_OCTAVE;
}

TVM_API int32_t tvm_analyse_reverb(const tvm_response* responses, int32_t count,
                                   const tvm_reverb_options* options, tvm_reverb_report** out) {
  return guarded([&] {
    require(out != nullptr, "a place for the report is needed");
    *out = nullptr;
    require(responses != nullptr && count >= 1, "give at least one response");
    tvm_reverb_options defaults;
    tvm_reverb_options_init(&defaults);
    auto store = std::make_unique<ReverbStore>();
    // Options are checked before any response is touched.
    store->options = reverbOptions(options != nullptr ? *options : defaults);
    std::vector<AudioView> views;
    for (int32_t i = 0; i < count; ++i)
      views.push_back(viewOf(responses[i], responseName(responses[i], i, count)));
    store->report = measureReverberation(views, store->options);
    store->options.bandScale = store->report.bandScale;

    auto holder = std::make_unique<ReverbHolder>();
    tvm_reverb_report& c = holder->c;
    ReverbStore& s = *store;
    c.bands = s.options.bands.resolution == BandResolution::Third ? TVM_THIRD : TVM_OCTAVE;
    c.bands_name = resolutionName(s.options.bands.resolution);
    c.band_scale = s.options.bandScale;
    c.block_seconds = s.report.blockSeconds;
    s.ranges = s.options.ranges;
    c.range_count = static_cast<int32_t>(s.ranges.size());
    c.ranges_db = s.ranges.data();
    std::vector<std::string> names;
    for (double r : s.ranges) names.push_back(rangeName(r));
    c.range_names = s.texts.keep(names);
    int32_t evaluated = 0;
    for (const ImpulseResult& p : s.report.positions) s.positions.push_back(sourceOf(p, s));
    c.position_count = static_cast<int32_t>(s.positions.size());
    c.positions = s.positions.data();
    if (s.report.ensemble) {
      s.ensemble = sourceOf(*s.report.ensemble, s);
      c.ensemble = &s.ensemble;
    }
    for (const std::vector<tvm_band_result>& list : s.bands) {
      for (const tvm_band_result& b : list) evaluated += b.evaluated ? 1 : 0;
    }
    c.evaluated_bands = evaluated;
    c.warning_count = static_cast<int32_t>(s.report.warnings.size());
    c.warnings = s.texts.keep(s.report.warnings);
    holder->store = store.release();
    *out = &holder.release()->c;
  });
}

TVM_API void tvm_free_reverb_report(tvm_reverb_report* report) {
  if (report == nullptr) return;
  auto* holder = reinterpret_cast<ReverbHolder*>(report);
  delete holder->store;
  delete holder;
}

TVM_API int32_t tvm_analyse_sti(const tvm_response* response, const tvm_sti_options* options,
                                tvm_sti_result* out) {
  return guarded([&] {
    require(response != nullptr && out != nullptr, "a response and a place for the result are needed");
    StiOptions o;
    if (options != nullptr) {
      o.nativeRate = options->native_rate;
      require((options->signal_db == nullptr) == (options->noise_db == nullptr),
              "signal and noise levels go together: give 7 of each (125 Hz to 8 kHz), or neither");
      if (options->signal_db != nullptr) {
        o.signalDb.assign(options->signal_db, options->signal_db + kStiBands);
        o.noiseDb.assign(options->noise_db, options->noise_db + kStiBands);
      }
    }
    const StiResult r = measureSti(viewOf(*response, responseName(*response, 0, 1)), o);
    tvm_sti_result c{};
    c.male = r.male;
    c.female = r.female;
    c.levels_corrected = r.levelsCorrected;
    c.sample_rate = r.sampleRate;
    c.source_rate = r.sourceRate;
    for (int b = 0; b < kStiBands; ++b) {
      c.band_frequencies_hz[b] = bandFrequency(BandResolution::Octave, kFirstStiBand + b) * r.bandScale;
      for (int j = 0; j < kModulationFrequencies; ++j)
        c.mtf[b][j] = r.mtf[static_cast<size_t>(b)][static_cast<size_t>(j)];
    }
    for (int j = 0; j < kModulationFrequencies; ++j) c.modulation_frequencies_hz[j] = modulationFrequency(j);
    c.stipa_male = r.stipaMale;
    c.stipa_female = r.stipaFemale;
    for (int b = 0; b < kStipaBands; ++b) {
      for (int k = 0; k < kStipaFrequencies; ++k) {
        c.stipa_modulation_frequencies_hz[b][k] = stipaModulationFrequency(b, k);
        c.stipa_mtf[b][k] = r.stipaMtf[static_cast<size_t>(b)][static_cast<size_t>(k)];
      }
    }
    *out = c;
  });
}

TVM_API int32_t tvm_analyse_distortion(const double* response, int64_t length, double rate, double from_hz,
                                       double to_hz, double sweep_seconds, int32_t first_harmonic,
                                       int32_t last_harmonic, tvm_distortion_report** out) {
  return guarded([&] {
    require(out != nullptr, "a place for the report is needed");
    *out = nullptr;
    require(response != nullptr && length >= 1, "the distortion needs an impulse response");
    auto store = std::make_unique<DistortionStore>();
    store->result = analyseDistortion(std::vector<double>(response, response + length),
                                      {rate, from_hz, to_hz, sweep_seconds}, first_harmonic, last_harmonic);
    auto holder = std::make_unique<DistortionHolder>();
    for (const DistortionBand& b : store->result.bands) {
      store->bands.push_back({b.band, b.frequency, store->texts.keep(bandName(BandResolution::Third, b.band)),
                              b.harmonicsDb.data(), b.thdPercent});
    }
    holder->c.first_harmonic = store->result.firstHarmonic;
    holder->c.last_harmonic = store->result.lastHarmonic;
    holder->c.window_s = store->result.windowSeconds;
    holder->c.band_count = static_cast<int32_t>(store->bands.size());
    holder->c.bands = store->bands.data();
    holder->store = store.release();
    *out = &holder.release()->c;
  });
}

TVM_API void tvm_free_distortion_report(tvm_distortion_report* report) {
  if (report == nullptr) return;
  auto* holder = reinterpret_cast<DistortionHolder*>(report);
  delete holder->store;
  delete holder;
}

TVM_API int32_t tvm_deconvolve(const double* recording, int64_t n, int32_t rate, const double* sweep,
                               int64_t m, int32_t sweep_rate, tvm_impulse** out) {
  return guarded([&] {
    require(out != nullptr, "a place for the impulse response is needed");
    *out = nullptr;
    require(recording != nullptr && n >= 1,
            "the deconvolution needs a recording (a pointer and a length of at least 1)");
    require(sweep != nullptr && m >= 1,
            "the deconvolution needs the sweep that was played (a pointer and a length of at least 1)");
    AudioView rec, played;
    rec.name = "recording";
    rec.samples = recording;
    rec.length = static_cast<size_t>(n);
    rec.sampleRate = rate;
    played.name = "sweep";
    played.samples = sweep;
    played.length = static_cast<size_t>(m);
    played.sampleRate = sweep_rate;
    auto store = std::make_unique<ImpulseStore>();
    store->result = deconvolveSweep(rec, played);
    const Deconvolution& d = store->result;
    auto holder = std::make_unique<ImpulseHolder>();
    tvm_impulse& c = holder->c;
    c.samples = store->result.response.data();
    c.length = static_cast<int64_t>(d.response.size());
    c.sample_rate = d.sampleRate;
    c.direct_index = static_cast<int64_t>(d.directIndex);
    c.lead_s = d.leadSeconds;
    c.latency_s = d.latencySeconds;
    c.band_low_hz = d.bandLowHz;
    c.band_high_hz = d.bandHighHz;
    c.note_count = static_cast<int32_t>(d.notes.size());
    c.notes = store->texts.keep(d.notes);
    holder->store = store.release();
    *out = &holder.release()->c;
  });
}

TVM_API void tvm_free_impulse(tvm_impulse* impulse) {
  if (impulse == nullptr) return;
  auto* holder = reinterpret_cast<ImpulseHolder*>(impulse);
  delete holder->store;
  delete holder;
}

}  // extern "C"

namespace {

struct SpatialStore {
  SpatialResult result;
  Texts texts;
  std::vector<tvm_spatial_band> bands;
};
struct SpatialHolder {
  tvm_spatial_report c;
  SpatialStore* store;
};

}  // namespace

extern "C" {

TVM_API void tvm_spatial_options_init(tvm_spatial_options* options) {
  if (options == nullptr) return;
  *options = tvm_spatial_options{};
  options->mode = TVM_SPATIAL_LATERAL;
  options->convention = TVM_PAIR;
}

TVM_API int32_t tvm_analyse_spatial(const tvm_response* first, const tvm_response* second,
                                    const tvm_spatial_options* options, tvm_spatial_report** out) {
  return guarded([&] {
    require(out != nullptr, "a place for the report is needed");
    *out = nullptr;
    require(first != nullptr && second != nullptr, "the spatial parameters need two channels");
    tvm_spatial_options given;
    tvm_spatial_options_init(&given);
    if (options != nullptr) given = *options;
    require(given.mode == TVM_SPATIAL_LATERAL || given.mode == TVM_SPATIAL_BINAURAL,
            "choose the lateral (pressure and figure-of-eight) or the binaural (two ears) mode");
    require(given.convention == TVM_PAIR || given.convention == TVM_FUMA || given.convention == TVM_AMBIX,
            "choose the lateral pair's convention: a plain pair, FuMa or AmbiX B-format");
    SpatialOptions o;
    o.mode = given.mode == TVM_SPATIAL_BINAURAL ? SpatialMode::Binaural : SpatialMode::Lateral;
    o.convention = given.convention == TVM_FUMA    ? LateralConvention::FuMa
                   : given.convention == TVM_AMBIX ? LateralConvention::AmbiX
                                                   : LateralConvention::Pair;
    o.nativeRate = given.native_rate;
    const bool binaural = o.mode == SpatialMode::Binaural;
    auto store = std::make_unique<SpatialStore>();
    store->result = measureSpatial(
        viewOf(*first, first->name ? first->name : (binaural ? "left" : "pressure")),
        viewOf(*second, second->name ? second->name : (binaural ? "right" : "figure-of-eight")), o);
    const SpatialResult& r = store->result;
    for (const SpatialBand& b : r.bands) {
      tvm_spatial_band c{};
      c.band = b.band;
      c.label = store->texts.keep(bandLabel(BandResolution::Octave, b.band, r.bandScale));
      c.nominal = store->texts.keep(bandName(BandResolution::Octave, b.band));
      c.frequency_hz = bandFrequency(BandResolution::Octave, b.band) * r.bandScale;
      c.lf = b.lf;
      c.lfc = b.lfc;
      c.iacc_early = b.iaccEarly;
      c.iacc_late = b.iaccLate;
      c.iacc = b.iacc;
      c.late_end_ms = b.lateEndMs;
      store->bands.push_back(c);
    }
    auto holder = std::make_unique<SpatialHolder>();
    tvm_spatial_report& c = holder->c;
    c.mode = given.mode;
    c.mode_name = spatialModeName(r.mode);
    c.convention = given.convention;
    c.reference = store->texts.keep(r.reference);
    c.sample_rate = r.sampleRate;
    c.source_rate = r.sourceRate;
    c.band_scale = r.bandScale;
    c.onset_s = r.onsetSeconds;
    c.band_count = static_cast<int32_t>(store->bands.size());
    c.bands = store->bands.data();
    c.lf_mean = r.lfMean;
    c.lfc_mean = r.lfcMean;
    c.iacc_early_mean = r.iaccEarlyMean;
    c.note_count = static_cast<int32_t>(r.notes.size());
    c.notes = store->texts.keep(r.notes);
    holder->store = store.release();
    *out = &holder.release()->c;
  });
}

TVM_API void tvm_free_spatial_report(tvm_spatial_report* report) {
  if (report == nullptr) return;
  auto* holder = reinterpret_cast<SpatialHolder*>(report);
  delete holder->store;
  delete holder;
}

}  // extern "C"

namespace {

// A device list and the names it points into.
struct DeviceListHolder {
  tvm_audio_device_list c{};  // first: the caller's pointer is this holder's
  std::vector<tvm_audio_device> devices;
  Texts texts;
};

}  // namespace

extern "C" {

TVM_API int32_t tvm_audio_devices(tvm_audio_device_list** out) {
  return guarded([&] {
    require(out != nullptr, "a place for the device list is needed");
    *out = nullptr;
    auto holder = std::make_unique<DeviceListHolder>();
    for (const SoundDevice& d : soundDevices()) {
      holder->devices.push_back({d.index, holder->texts.keep(d.name), holder->texts.keep(d.hostApi), d.jack,
                                 d.inputs, d.outputs, d.defaultRate, d.isDefault});
    }
    holder->c.count = static_cast<int32_t>(holder->devices.size());
    holder->c.devices = holder->devices.data();
    *out = &holder.release()->c;
  });
}

TVM_API void tvm_free_audio_devices(tvm_audio_device_list* list) {
  delete reinterpret_cast<DeviceListHolder*>(list);
}

}  // extern "C"

int32_t tavrix::measure::guardedCall(const std::function<void()>& body) noexcept { return guarded(body); }

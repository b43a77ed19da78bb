// `tavrix sweep`: the playback file; `tavrix ir`: a recording of it turned
// into an impulse response.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "audio_io.h"
#include "cli_error.h"
#include "commands.h"
#include "distortion_report.h"
#include "output.h"
#include "signal_presence.h"
#include "status_messages.h"
#include "svg_plot.h"
#include "sweep_deconvolution.h"
#include "sweep_options.h"
#include "tavrix.h"

namespace tavrix::cli {

using namespace tavrix::measure;

namespace {

// Longest sweep the library synthesises, and its tail limits, in seconds.
constexpr double kMaxSweepSeconds = 180;
constexpr double kMinTailSeconds = 1, kMaxTailSeconds = 32;

// The playback file's silence in front of the sweep, and how much later the
// direct sound may arrive before the sound card's latency is worth a warning:
// the analysis window of `reverb --length --tail` ends about tail + 0.5 s
// after the direct sound, and a recording no longer than the playback file
// holds the complete response only up to tail + 1.2 s after the sweep starts.
constexpr double kPlaybackLeadSeconds = 0.2;
constexpr double kLatencyWarningSeconds = 1;

// The options that describe the tool's own sweep, meaningless with --sweep.
constexpr const char* kOwnSweepOptions[] = {"--rate", "--from", "--to", "--length", "--tail", "--fade"};

std::string milliseconds(double seconds) { return fixed(seconds * 1000, 1) + " ms"; }

std::string hz(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

void checkFinite(double v, const char* option) {
  if (!std::isfinite(v)) usageError(std::string(option) + ": not a finite number");
}

// "2..5" (or "5" for 2..5): the harmonics to report.
std::pair<int, int> parseHarmonics(const std::string& text) {
  const char* p = text.c_str();
  char* end = nullptr;
  long first = 2, last = std::strtol(p, &end, 10);
  bool ok = end != p;
  if (ok && end[0] == '.' && end[1] == '.') {
    first = last;
    p = end + 2;
    last = std::strtol(p, &end, 10);
    ok = end != p;
  }
  if (!ok || *end != '\0' || first < 2 || last < first || last > kMaxHarmonic) {
    usageError("--harmonics " + text + ": give a range such as 2..5 (from 2 up to at most 10)");
  }
  return {static_cast<int>(first), static_cast<int>(last)};
}

// The file given with --sweep and its channel (0: a mono file's only one).
struct SweepFile {
  std::string path;
  int channel = 0;
};

// `ir --sweep`: the recording deconvolved with the file that was played.
void deconvolveWithFile(const CLI::App& command, const std::string& in, int channel,
                        const SweepFile& sweepFile, bool distortion, double gainDb, const std::string& out) {
  if (sweepFile.path.empty()) usageError("--sweep-channel belongs to --sweep; add the sweep file");
  for (const char* name : kOwnSweepOptions) {
    if (command.get_option(name)->count() > 0) {
      usageError(std::string(name) +
                 " describes the tool's own sweep; with --sweep the file is the sweep: leave it out");
    }
  }
  if (distortion) {
    usageError(
        "--distortion needs the tool's own sweep, whose frequencies and length place the harmonics; "
        "leave out --sweep and give the sweep options");
  }
  const std::string& sweepPath = sweepFile.path;
  Progress progress("ir step", 3);
  progress.step(1, "reading " + in);
  Audio rec = readAudio(in, channel);
  progress.step(2, "reading " + sweepPath);
  const Audio sweep = readAudio(sweepPath, sweepFile.channel);
  const double g = std::pow(10.0, gainDb / 20);
  for (double& s : rec.samples) s *= g;
  progress.step(3, "deconvolution");
  const Deconvolution d = deconvolveSweep(viewOf(in, rec), viewOf(sweepPath, sweep));
  writeFloatWav(out, d.response, d.sampleRate);
  progress.done();
  for (const std::string& note : d.notes) std::printf("%s\n", note.c_str());
  const double seconds = static_cast<double>(d.response.size()) / d.sampleRate;
  std::printf("wrote %s: %zu samples at %d Hz (%s s), from %s s before the direct sound to %s s after it\n",
              out.c_str(), d.response.size(), d.sampleRate, fixed(seconds, 2).c_str(),
              fixed(d.leadSeconds, 2).c_str(), fixed(seconds - d.leadSeconds, 2).c_str());
  std::printf("latency found: %s (the direct sound re the start of %s, played as the recording started)\n",
              milliseconds(d.latencySeconds).c_str(), sweepPath.c_str());
  // The response holds the linear decay alone: no sweep to leave out, no
  // distortion products or padding at its end.
  std::printf("analyse it with: tavrix reverb %s (no --length or --tail needed)\n", out.c_str());
}

// The tool's own sweep: the direct sound belongs 0.2 s into the response,
// where the playback file's silence puts it. Much later means latency.
void warnOfLatency(const std::vector<double>& response, size_t recorded, size_t sweepLength, double rate) {
  const size_t searched = std::min(recorded, response.size());
  size_t direct = 0;
  for (size_t i = 1; i < searched; ++i)
    if (std::fabs(response[i]) > std::fabs(response[direct])) direct = i;
  const double arrival = static_cast<double>(direct) / rate;
  if (arrival <= kPlaybackLeadSeconds + kLatencyWarningSeconds) return;
  // Lags up to the recording's length less the sweep's hold the whole sweep's response.
  const double complete = static_cast<double>(recorded - sweepLength) / rate - arrival;
  const std::string reach =
      complete > 0 ? "the recording holds the complete response only " + fixed(complete, 2) + " s beyond it"
                   : "the recording ends before the sweep's end reaches it";
  std::fprintf(stderr,
               "tavrix: warning: the direct sound arrives %s s into the recording, not near the %s s at "
               "which the playback file's silence puts it (latency found: %s); %s. Give the playback file "
               "with --sweep "
               "(and no sweep options) to cut the response around the direct sound, or record longer\n",
               fixed(arrival, 3).c_str(), fixed(kPlaybackLeadSeconds, 1).c_str(),
               milliseconds(arrival - kPlaybackLeadSeconds).c_str(), reach.c_str());
}

}  // namespace

CLI::Option* addSweepOptions(CLI::App* app, SweepOptions& o) {
  CLI::Option* rate = app->add_option("--rate", o.rate, "Sample rate in Hz")->capture_default_str();
  app->add_option("--from", o.from, "Start frequency of the sweep in Hz")->capture_default_str();
  app->add_option("--to", o.to, "End frequency in Hz (at most half the sample rate)")->capture_default_str();
  app->add_option("--length", o.length, "Sweep duration in seconds (up to 180)")->capture_default_str();
  app->add_option("--tail", o.tail, "Silence after the sweep is this plus 1 s (1 to 32)")
      ->capture_default_str();
  app->add_flag("--fade", o.fade, "Fade the sweep in and out with raised-cosine ramps");
  return rate;
}

ImpulseHandle makeSweep(const SweepOptions& o) {
  checkFinite(o.rate, "--rate");
  checkFinite(o.from, "--from");
  checkFinite(o.to, "--to");
  checkFinite(o.length, "--length");
  checkFinite(o.tail, "--tail");
  if (o.rate < 1000 || o.rate > 768000 || o.rate != std::floor(o.rate)) {
    usageError("--rate " + hz(o.rate) + ": the sample rate must be a whole number of Hz from 1000 to 768000");
  }
  if (o.length <= 0 || o.length > kMaxSweepSeconds) {
    usageError("--length " + hz(o.length) + ": the sweep must last more than 0 and at most 180 s");
  }
  if (o.from <= 0) usageError("--from " + hz(o.from) + ": the start frequency must be above 0 Hz");
  if (o.from >= o.to) {
    usageError("--from " + hz(o.from) + ": the start frequency must lie below --to " + hz(o.to) + " Hz");
  }
  if (o.to > o.rate / 2) {
    usageError("--to " + hz(o.to) + ": above half the sample rate (" + hz(o.rate / 2) +
               " Hz); lower it or raise --rate");
  }
  if (o.tail < kMinTailSeconds || o.tail > kMaxTailSeconds) {
    usageError("--tail " + hz(o.tail) + ": the tail must last from 1 to 32 s");
  }
  ImpulseHandle h(initImpulse());
  if (!h.valid()) processingError("the library has no free measurement slot left");
  setESSFade(h.get(), o.fade);
  if (generateESS(h.get(), o.rate, o.from, o.to, o.length, o.tail) < 1) {
    processingError("the library could not synthesise the sweep: " + std::string(statusSentence(-1)));
  }
  return h;
}

Command addSweepCommand(CLI::App& app) {
  auto o = std::make_shared<SweepOptions>();
  auto out = std::make_shared<std::string>();
  auto gain = std::make_shared<double>(0);
  CLI::App* sub = app.add_subcommand("sweep",
                                     "Write the playback file: 0.2 s of silence, the exponential sine "
                                     "sweep, then tail + 1 s of silence, as 16-bit mono WAV");
  sub->add_option("OUT.wav", *out, "Playback file to write")->required();
  addSweepOptions(sub, *o);
  sub->add_option("--gain", *gain, "Level of the sweep in dB re full scale (0 or less)")
      ->capture_default_str();
  return {sub, [o, out, gain] {
            checkFinite(*gain, "--gain");
            // The 16-bit writer does not clip: a sweep above full scale would
            // wrap around into loud clicks.
            if (*gain > 0)
              usageError("--gain " + hz(*gain) +
                         ": above full scale the 16-bit file wraps around; use 0 dB or less");
            ImpulseHandle h = makeSweep(*o);
            const std::u16string path = toLibraryPath(*out);
            if (getESSFile(h.get(), path.c_str(), *gain) != 0) {
              processingError(*out + ": cannot be written; check that the directory exists and is writable");
            }
            const double seconds = 0.2 + getESSSize(h.get()) / o->rate + o->tail + 1;
            std::printf("wrote %s: %s s at %s Hz, sweep %s Hz to %s Hz over %s s%s\n", out->c_str(),
                        fixed(seconds, 2).c_str(), hz(o->rate).c_str(), hz(o->from).c_str(),
                        hz(o->to).c_str(), hz(o->length).c_str(), o->fade ? ", faded" : "");
          }};
}

Command addIrCommand(CLI::App& app) {
  auto o = std::make_shared<SweepOptions>();
  auto in = std::make_shared<std::string>();
  auto out = std::make_shared<std::string>();
  auto gain = std::make_shared<double>(0);
  auto channel = std::make_shared<int>(0);
  struct DistortionArgs {
    bool on = false;
    std::string harmonics = "2..5", format = "table", plot;
  };
  auto d = std::make_shared<DistortionArgs>();
  CLI::App* sub = app.add_subcommand(
      "ir",
      "Turn a recording of the sweep into an impulse response (32-bit float WAV). Give the sweep options "
      "used for the playback file (--rate defaults to the recording's rate), or the file that was played "
      "with --sweep, whatever program made it. With --distortion, also the "
      "loudspeaker's harmonic distortion from the same response: the deconvolution of an exponential "
      "sweep puts harmonic k's response T ln k / ln(to/from) before the linear one (wrapped around the "
      "end); each is cut with one window (as long as the gap between the two highest harmonics asked "
      "for), and per third octave of the fundamental the band energy of harmonic k at k times the "
      "frequency is given in dB re the fundamental's, with THD = 100 sqrt(sum of those energy ratios) in "
      "%. A harmonic that would lie above --to is not measured ('-'), and THD then neither.");
  sub->add_option("RECORDING", *in, "Recorded sweep (WAV, FLAC, ...)")->required();
  sub->add_option("-o,--output", *out, "Impulse response file to write")->required();
  auto sweepFile = std::make_shared<SweepFile>();
  sub->add_option("--sweep", sweepFile->path,
                  "The sweep file that was played, made by any program (WAV, FLAC, ...): the recording is "
                  "divided by its spectrum (regularised outside its band) instead of the tool's own sweep, "
                  "the latency is reported, and the response is cut from 0.1 s before its direct sound to "
                  "the end of its linear part, so that `reverb` needs no --length or --tail");
  addChannelOption(sub, sweepFile->channel, "--sweep-channel",
                   "Channel of a multichannel --sweep file (1 = first)");
  CLI::Option* rate = addSweepOptions(sub, *o);
  sub->add_option("--gain", *gain, "Gain in dB applied to the recording")->capture_default_str();
  addChannelOption(sub, *channel);
  sub->add_flag("--distortion", d->on, "Report the harmonic distortion per third octave");
  sub->add_option("--harmonics", d->harmonics, "Harmonics to report, from..to")->capture_default_str();
  sub->add_option("--format", d->format,
                  "Format of the distortion report (the other lines go to stderr "
                  "for csv and json)")
      ->check(CLI::IsMember({"table", "csv", "json"}))
      ->capture_default_str();
  sub->add_option("--plot", d->plot, "Write the harmonics and THD over frequency as an SVG picture");
  return {sub, [sub, o, in, out, gain, channel, rate, d, sweepFile] {
            const std::pair<int, int> harmonics = parseHarmonics(d->harmonics);
            if (!d->on && (!d->plot.empty() || d->format != "table")) {
              usageError("--plot and --format belong to --distortion; add it");
            }
            checkFinite(*gain, "--gain");
            if (!sweepFile->path.empty() || sweepFile->channel != 0) {
              deconvolveWithFile(*sub, *in, *channel, *sweepFile, d->on, *gain, *out);
              return;
            }
            // Machine-readable distortion reports keep stdout to themselves.
            FILE* notes = d->on && d->format != "table" ? stderr : stdout;
            // A long sweep takes a while to read and to deconvolve.
            Progress progress("ir step", 3);
            progress.step(1, "reading " + *in);
            Audio rec = readAudio(*in, *channel);
            if (rate->count() == 0) {
              o->rate = rec.sampleRate;
            } else if (o->rate != rec.sampleRate) {
              usageError(*in + ": recorded at " + std::to_string(rec.sampleRate) + " Hz but --rate is " +
                         hz(o->rate) + "; give the rate of the sweep that was played");
            }
            progress.step(2, "sweep");
            ImpulseHandle h = makeSweep(*o);
            const int sweepLength = getESSSize(h.get());
            if (static_cast<int64_t>(rec.samples.size()) < sweepLength) {
              processingError(*in + ": " + fixed(rec.samples.size() / o->rate, 2) +
                              " s long, shorter than the " + hz(o->length) +
                              " s sweep; record the whole playback file, or give the --length "
                              "the sweep was made with");
            }
            const double g = std::pow(10.0, *gain / 20);
            for (double& s : rec.samples) s *= g;
            progress.step(3, "deconvolution");
            const int nfft =
                processInputSignal(h.get(), rec.samples.data(), static_cast<int32_t>(rec.samples.size()));
            if (nfft < 1) processingError(*in + ": the deconvolution failed: " + statusSentence(nfft));
            std::vector<double> response(static_cast<size_t>(nfft));
            if (getImpulseResponse(h.get(), response.data()) != 0) {
              processingError(*in + ": the library returned no impulse response");
            }
            // A recording of silence or of noise alone deconvolves into noise.
            // The lags the recording holds whole (its length less the
            // sweep's) are judged: the library's longer transform ends in
            // near-silence that would pass for a response's quiet tail.
            const size_t whole = rec.samples.size() - static_cast<size_t>(sweepLength);
            requireResponse(*in, response.data(), std::clamp<size_t>(whole, 1, response.size()));
            const std::u16string path = toLibraryPath(*out);
            if (getImpulseResponseFile(h.get(), path.c_str()) != 0) {
              processingError(*out + ": cannot be written; check that the directory exists and is writable");
            }
            progress.done();
            std::fprintf(notes, "wrote %s: %d samples at %s Hz (%s s)\n", out->c_str(), nfft,
                         hz(o->rate).c_str(), fixed(nfft / o->rate, 2).c_str());
            // The response holds the sweep's harmonic distortion at its end;
            // the sweep's durations let the decay analysis stop before it.
            std::fprintf(notes, "analyse it with: tavrix reverb %s --length %s --tail %s\n", out->c_str(),
                         hz(o->length).c_str(), hz(o->tail).c_str());
            std::fflush(notes);
            warnOfLatency(response, rec.samples.size(), static_cast<size_t>(sweepLength), o->rate);
            if (!d->on) return;
            const DistortionResult result = analyseDistortion(response, {o->rate, o->from, o->to, o->length},
                                                              harmonics.first, harmonics.second);
            std::fflush(notes);
            const std::string report = d->format == "csv"    ? distortionCsv(result)
                                       : d->format == "json" ? distortionJson(result)
                                                             : "\n" + distortionTable(result);
            std::fputs(report.c_str(), stdout);
            if (!d->plot.empty())
              writeTextFile(d->plot, distortionPlotSvg(result, "Harmonic distortion: " + *in));
          }};
}

}  // namespace tavrix::cli

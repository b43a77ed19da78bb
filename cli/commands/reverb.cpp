// `tavrix reverb`: reverberation times per band of one or more impulse
// responses, and their mean when there are several.
#include <cmath>
#include <cstdio>
#include <memory>

#include "audio_io.h"
#include "cli_error.h"
#include "commands.h"
#include "output.h"
#include "response_input.h"
#include "reverb_report.h"
#include "status_messages.h"
#include "svg_plot.h"
#include "tavrix.h"

namespace tavrix::cli {

using namespace tavrix::measure;

namespace {

struct ReverbArgs {
  std::vector<std::string> files;
  std::string bands = "octave";
  double low = 125, high = 8000;
  std::string ranges = "0,10,20,30";
  std::string format = "table";
  std::string plot;
  int channel = 0;
  double length = 0, tail = 0;
  bool nativeRate = false, keepSilence = false;
  bool verbose = false;
  bool parameters = false;
};

// The analysis and report of `reverb`; lowGiven and highGiven tell whether
// --low and --high were on the command line.
void analyseResponses(const ReverbArgs& a, bool lowGiven, bool highGiven) {
  // The layer applies the defaults and checks the values: the tool and
  // the Python package analyse alike.
  tvm_reverb_options c;
  tvm_reverb_options_init(&c);
  c.bands = a.bands == "third" ? TVM_THIRD : TVM_OCTAVE;
  c.low_hz = lowGiven ? a.low : 0;
  c.high_hz = highGiven ? a.high : 0;
  if ((lowGiven && a.low == 0) || (highGiven && a.high == 0)) {
    usageError("--low/--high: the frequency must be a positive number of Hz");
  }
  const std::vector<double> ranges = parseNumberList(a.ranges, "--ranges");
  c.ranges = ranges.data();
  c.range_count = static_cast<int32_t>(ranges.size());
  c.sweep_seconds = a.length;
  c.tail_seconds = a.tail;
  c.native_rate = a.nativeRate;
  c.keep_silence = a.keepSilence;
  c.parameters = a.parameters;
  ReverbOptions options = reverbOptions(c);
  const BandResolution res = options.bands.resolution;
  std::vector<Audio> files;
  files.reserve(a.files.size());
  for (const std::string& f : a.files) files.push_back(readAudio(f, a.channel));
  std::vector<AudioView> views;
  for (size_t i = 0; i < files.size(); ++i) views.push_back(viewOf(a.files[i], files[i]));
  Progress progress("analysing", 1);
  options.progress = [&progress](int done, int total, const std::string& what) {
    progress.step(done, total, what);
  };
  const ReverbReport report = measureReverberation(views, options);
  progress.done();
  options.bandScale = report.bandScale;
  if (a.verbose) {
    for (const ImpulseResult& r : report.positions) {
      for (const std::string& note : r.notes) std::fprintf(stderr, "%s: %s\n", r.name.c_str(), note.c_str());
    }
  }

  if (a.format == "csv") {
    std::fputs(reverbCsv(report, options).c_str(), stdout);
  } else if (a.format == "json") {
    std::fputs(reverbJson(report, options).c_str(), stdout);
  } else {
    std::fputs(reverbTable(report, options).c_str(), stdout);
  }
  if (!a.plot.empty()) {
    const ImpulseResult& shown = report.ensemble ? *report.ensemble : report.positions.front();
    const std::string title =
        report.ensemble ? "Decay curves: mean of " + std::to_string(report.positions.size()) + " positions"
                        : "Decay curves: " + shown.name;
    writeTextFile(a.plot, decayPlotSvg(title, shown, options, report.blockSeconds));
  }
  // Failing, doubtful and plainly integrated bands are reported once
  // each; the command fails only when nothing at all could be evaluated.
  std::fflush(stdout);
  for (const std::string& w : report.warnings) std::fprintf(stderr, "tavrix: warning: %s\n", w.c_str());
  int evaluated = 0;
  const auto notes = [&](const ImpulseResult& r) {
    for (const BandResult& b : r.bands) {
      evaluated += bandEvaluated(b) ? 1 : 0;
      if (bandEvaluated(b) && b.doubts.empty() && b.method == DecayMethod::Compensated) continue;
      std::fprintf(stderr, "tavrix: %s, %s: %s\n", r.name.c_str(),
                   bandLabel(res, b.band, options.bandScale).c_str(), resultSentence(b).c_str());
    }
  };
  for (const ImpulseResult& r : report.positions) notes(r);
  if (report.ensemble) notes(*report.ensemble);
  if (evaluated == 0) processingError("no band could be evaluated; see the lines above");
}

}  // namespace

void addChannelOption(CLI::App* command, int& channel, const std::string& name, const std::string& help) {
  const CLI::Validator fromOne(
      [](std::string& text) {
        size_t used = 0;
        int value = 0;
        try {
          value = std::stoi(text, &used);
        } catch (const std::exception&) {
          used = 0;
        }
        if (used != text.size() || value < 1) return text + ": channels are numbered from 1 (1 = first)";
        return std::string();
      },
      "N >= 1");
  command->add_option(name, channel, help)->check(fromOne);
}

std::vector<double> parseNumberList(const std::string& text, const std::string& option) {
  std::vector<double> values;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, comma - start);
    size_t used = 0;
    double v = 0;
    try {
      v = std::stod(item, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (item.empty() || used != item.size() || !std::isfinite(v)) {
      usageError(option + " " + text + ": '" + item + "' is not a number; give numbers separated by commas");
    }
    values.push_back(v);
    start = comma + 1;
  }
  return values;
}

Command addReverbCommand(CLI::App& app) {
  auto a = std::make_shared<ReverbArgs>();
  CLI::App* sub =
      app.add_subcommand("reverb",
                         "Reverberation per band of impulse responses: EDT and T10/T20/T30 (one "
                         "column per range), r2, dynamic range, "
                         "curvature, noise and peak level, status. Several files are positions "
                         "of one room: their mean (an ensemble "
                         "aligned on the direct sound) follows them. Times the decay does not "
                         "reach are shown as '-' (empty in CSV, "
                         "null in JSON). Files at other rates than 48 kHz are resampled to it; digital "
                         "silence at the end is cut. Status per band: ok; doubtful (a range that is "
                         "not one straight line: non-linearity 1000 (1 - r2) above 10 per mille for "
                         "T20 and T30, above 40 for T10 when no longer range gave a time; or a "
                         "curvature beyond +-10 %); plain (no noise floor found, times "
                         "by plain backward integration of a decay that stays clean to 10 dB "
                         "below the range); or why the band failed.");
  sub->add_option("IR", a->files, "Impulse response files (WAV, FLAC, ...)")->required();
  sub->add_option("--bands", a->bands, "Band resolution")
      ->check(CLI::IsMember({"octave", "third"}))
      ->capture_default_str();
  CLI::Option* low =
      sub->add_option("--low", a->low, "Lowest band, by frequency in Hz (octave 125, third 100)");
  CLI::Option* high = sub->add_option("--high", a->high, "Highest band in Hz (octave 8000, third 10000)");
  sub->add_option("--ranges", a->ranges, "Decay ranges in dB: 0 is the EDT, 10 or more a range from -5 dB")
      ->capture_default_str();
  sub->add_option("--format", a->format, "Output format")
      ->check(CLI::IsMember({"table", "csv", "json"}))
      ->capture_default_str();
  sub->add_option("--plot", a->plot, "Write the decay curves as an SVG picture (the mean for several files)");
  addChannelOption(sub, a->channel);
  sub->add_option(
      "--length", a->length,
      "Duration in s of the sweep the response was measured with; with --tail, the analysis window "
      "ends tail seconds after the direct sound (default: the whole file)");
  sub->add_option("--tail", a->tail, "Tail in s of that sweep measurement");
  sub->add_flag("--native-rate", a->nativeRate,
                "Analyse files at their own sample rate with the 48 kHz filter designs: every band then lies "
                "at rate/48000 times its nominal frequency and is labelled by that centre (default: resample "
                "to 48 kHz)");
  sub->add_flag("--keep-silence", a->keepSilence,
                "Keep digital silence at the end of a file (default: cut it, since the noise analysis "
                "needs the file's own noise floor)");
  sub->add_flag(
      "--parameters", a->parameters,
      "Also the ISO 3382-1 energy parameters per band and broadband (A-weighted 'A', unfiltered 'Z'): "
      "clarity C50 and C80 in dB, definition D50 in %, centre time Ts in ms, with the band's direct "
      "sound as time 0 (its energy that the time-reversed band filter spreads before the onset counts as "
      "early). They integrate what the decay curve integrates: each sample's energy less "
      "the band's noise level up to the crosspoint, and the exponential tail of the late-decay model "
      "beyond it; a band without a noise floor ('plain') integrates its measured energy to the end of "
      "the window. The table shows them in a second table per file; CSV adds the columns c50_db, "
      "c80_db, d50_percent, ts_ms and rows A and Z, JSON the same fields and bands");
  sub->add_flag("-v,--verbose", a->verbose,
                "Say what the tool does to the input (silence cut, resampling, lead-in silence)");
  return {sub, [a, low, high] { analyseResponses(*a, low->count() > 0, high->count() > 0); }};
}

void reportReverberation(const std::vector<std::string>& files, const std::string& format,
                         const std::string& plot) {
  ReverbArgs a;
  a.files = files;
  a.format = format;
  a.plot = plot;
  analyseResponses(a, false, false);
}

}  // namespace tavrix::cli

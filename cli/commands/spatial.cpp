// `tavrix spatial`: the early lateral energy fractions of a pressure and a
// figure-of-eight channel, or the interaural cross-correlation of the two
// ears of a dummy head, per octave band.
#include <cstdio>
#include <memory>

#include "audio_io.h"
#include "cli_error.h"
#include "commands.h"
#include "output.h"
#include "spatial_analysis.h"
#include "spatial_report.h"

namespace tavrix::cli {

using namespace tavrix::measure;

namespace {

struct SpatialArgs {
  std::string file;
  std::string lateral, binaural;
  std::string bformat;
  std::string format = "table";
  bool nativeRate = false, verbose = false;
};

// "A,B": two channel numbers from 1.
std::pair<int, int> channelPair(const std::string& text, const std::string& option) {
  const std::vector<double> v = parseNumberList(text, option);
  if (v.size() != 2 || v[0] < 1 || v[1] < 1 || v[0] != static_cast<int>(v[0]) ||
      v[1] != static_cast<int>(v[1]) || v[0] == v[1]) {
    usageError(option + " " + text + ": give two different channels of the file, counted from 1, e.g. 1,2");
  }
  return {static_cast<int>(v[0]), static_cast<int>(v[1])};
}

}  // namespace

Command addSpatialCommand(CLI::App& app) {
  auto a = std::make_shared<SpatialArgs>();
  CLI::App* sub = app.add_subcommand(
      "spatial",
      "Spatial parameters per octave band 125 Hz to 4 kHz of a multichannel impulse response: the early "
      "lateral "
      "energy fractions LF and LFC of a pressure and a figure-of-eight channel, or the interaural "
      "cross-correlation IACC of the two ears of a dummy head. Time 0 is the direct sound of the pressure "
      "channel or of the louder ear, common to both channels.");
  sub->add_option("IR", a->file, "Impulse response file with the two channels")->required();
  sub->add_option(
      "--lateral", a->lateral,
      "OMNI,FIG8: the channels of the pressure (omnidirectional) and the figure-of-eight microphone, "
      "of equal on-axis sensitivity, the figure-of-eight's null facing the source; gives LF = "
      "E8(5..80 ms) / E0(0..80 ms) and LFC = sum|p8 p0|(5..80 ms) / E0(0..80 ms), and their mean "
      "over 125 Hz to 1 kHz. For B-format give W,Y and --bformat");
  sub->add_option("--binaural", a->binaural,
                  "LEFT,RIGHT: the channels of the two ears; gives the largest |IACF| within +-1 ms over "
                  "0..80 ms (early), 80 ms to the end of the decay (late) and 0 to the end, and the early "
                  "value's mean over 500 Hz to 2 kHz");
  sub->add_option(
         "--bformat", a->bformat,
         "The lateral channels are first-order B-format W,Y: fuma (W recorded 3 dB down, raised here) "
         "or ambix (SN3D: W and Y equally sensitive)")
      ->check(CLI::IsMember({"fuma", "ambix"}));
  sub->add_option("--format", a->format, "Output format")
      ->check(CLI::IsMember({"table", "csv", "json"}))
      ->capture_default_str();
  sub->add_flag("--native-rate", a->nativeRate,
                "Analyse the file at its own sample rate with the 48 kHz filter designs (the bands then move "
                "with the rate; default: resample to 48 kHz)");
  sub->add_flag("-v,--verbose", a->verbose, "Say what the tool does to the input");
  return {sub, [a] {
            if (a->lateral.empty() == a->binaural.empty())
              usageError("spatial: give either --lateral OMNI,FIG8 or --binaural LEFT,RIGHT");
            if (!a->bformat.empty() && a->lateral.empty())
              usageError("--bformat describes the channels of --lateral W,Y; binaural channels have none");
            SpatialOptions options;
            options.mode = a->lateral.empty() ? SpatialMode::Binaural : SpatialMode::Lateral;
            options.convention = a->bformat == "fuma"    ? LateralConvention::FuMa
                                 : a->bformat == "ambix" ? LateralConvention::AmbiX
                                                         : LateralConvention::Pair;
            options.nativeRate = a->nativeRate;
            const bool lateral = options.mode == SpatialMode::Lateral;
            const auto [c0, c1] =
                channelPair(lateral ? a->lateral : a->binaural, lateral ? "--lateral" : "--binaural");
            const Audio first = readAudio(a->file, c0);
            const Audio second = readAudio(a->file, c1);
            const std::string names[2] = {a->file + " channel " + std::to_string(c0),
                                          a->file + " channel " + std::to_string(c1)};
            Progress progress("Analysing", 1);
            progress.step(0, lateral ? "lateral fractions" : "interaural correlation");
            const SpatialResult r =
                measureSpatial(viewOf(names[0], first), viewOf(names[1], second), options);
            progress.done();
            if (a->verbose) {
              for (const std::string& note : r.notes)
                std::fprintf(stderr, "%s: %s\n", a->file.c_str(), note.c_str());
            }
            const std::string text = a->format == "json"  ? spatialJson(r)
                                     : a->format == "csv" ? spatialCsv(r)
                                                          : spatialTable(r);
            std::fputs(text.c_str(), stdout);
          }};
}

}  // namespace tavrix::cli

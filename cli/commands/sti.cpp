// `tavrix sti`: the speech transmission index of an impulse response and its
// 7 x 14 modulation transfer matrix.
#include <cmath>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "audio_io.h"
#include "bands.h"
#include "cli_error.h"
#include "commands.h"
#include "library_client.h"
#include "output.h"
#include "response_input.h"
#include "sti_analysis.h"
#include "stipa.h"
#include "tavrix.h"

namespace tavrix::cli {

using namespace tavrix::measure;

namespace {

struct StiArgs {
  std::string file;
  bool female = false;
  std::string signal, noise;
  std::string format = "table";
  int channel = 0;
  bool nativeRate = false, verbose = false;
  bool stipa = false;
};

// STIPA with the weights chosen, and its 7 x 2 modulation transfer values.
std::string stipaTable(const StiResult& r, bool male, double scale) {
  TextTable t({"band", "F1 Hz", "m(F1)", "F2 Hz", "m(F2)"});
  for (int b = 0; b < kStipaBands; ++b) {
    const std::vector<double>& m = r.stipaMtf[static_cast<size_t>(b)];
    t.add({bandLabel(BandResolution::Octave, kFirstStiBand + b, scale),
           fixed(stipaModulationFrequency(b, 0), 2), fixed(m[0], 3), fixed(stipaModulationFrequency(b, 1), 2),
           fixed(m[1], 3)});
  }
  return "\nSTIPA " + fixed(male ? r.stipaMale : r.stipaFemale, 3) +
         " (from the response's modulation transfer at the STIPA signal's two modulation frequencies per "
         "band)\n\n" +
         t.render();
}

}  // namespace

std::string stiTable(const StiResult& r, bool male, bool levels, double scale) {
  char head[128];
  std::snprintf(head, sizeof head, "STI %s (%s weights%s)\n\n", fixed(male ? r.male : r.female, 3).c_str(),
                male ? "male" : "female", levels ? ", corrected for signal and noise levels" : "");
  std::vector<std::string> header{"m(F)"};
  for (int j = 0; j < kModulationFrequencies; ++j) header.push_back(fixed(modulationFrequency(j), 2));
  TextTable t(header);
  for (int b = 0; b < kStiBands; ++b) {
    std::vector<std::string> row{bandLabel(BandResolution::Octave, kFirstStiBand + b, scale)};
    for (double m : r.mtf[static_cast<size_t>(b)]) row.push_back(fixed(m, 3));
    t.add(row);
  }
  return head + std::string("modulation transfer function; columns: modulation frequency in Hz\n") +
         t.render();
}

Command addStiCommand(CLI::App& app) {
  auto a = std::make_shared<StiArgs>();
  CLI::App* sub = app.add_subcommand(
      "sti",
      "Speech transmission index of an impulse response (indirect method, octave bands 125 Hz to 8 kHz) "
      "with its 7 x 14 modulation transfer matrix");
  sub->add_option("IR", a->file, "Impulse response file")->required();
  sub->add_flag("--female", a->female, "Use the female weighting factors (default: male)");
  sub->add_option("--signal", a->signal, "Speech levels in dB of the 7 octave bands, L125,...,L8k");
  sub->add_option("--noise", a->noise, "Background noise levels in dB of the 7 octave bands, N125,...,N8k");
  sub->add_option("--format", a->format, "Output format")
      ->check(CLI::IsMember({"table", "csv", "json"}))
      ->capture_default_str();
  addChannelOption(sub, a->channel);
  sub->add_flag(
      "--native-rate", a->nativeRate,
      "Analyse the file at its own sample rate with the 48 kHz filter designs (the octave bands then "
      "lie at rate/48000 times 125 Hz ... 8 kHz; default: resample to 48 kHz)");
  sub->add_flag("-v,--verbose", a->verbose, "Say what the tool does to the input (resampling)");
  sub->add_flag("--stipa", a->stipa,
                "Also give STIPA: the index from the modulation transfer at the STIPA test signal's two "
                "modulation frequencies per octave band, with the same weights and level correction");
  return {sub, [a] {
            if (a->signal.empty() != a->noise.empty()) {
              usageError(std::string(a->signal.empty() ? "--noise" : "--signal") +
                         " needs its partner: give both --signal and --noise levels, or neither");
            }
            StiOptions options;
            options.nativeRate = a->nativeRate;
            const bool levels = !a->signal.empty();
            if (levels) {
              options.signalDb = parseNumberList(a->signal, "--signal");
              options.noiseDb = parseNumberList(a->noise, "--noise");
              if (options.signalDb.size() != kStiBands)
                usageError("--signal: give 7 levels (125 Hz to 8 kHz), not " +
                           std::to_string(options.signalDb.size()));
              if (options.noiseDb.size() != kStiBands)
                usageError("--noise: give 7 levels (125 Hz to 8 kHz), not " +
                           std::to_string(options.noiseDb.size()));
            }
            const Audio audio = readAudio(a->file, a->channel);
            const StiResult r = measureSti(viewOf(a->file, audio), options);
            if (a->verbose) {
              for (const std::string& note : r.notes)
                std::fprintf(stderr, "%s: %s\n", a->file.c_str(), note.c_str());
            }
            const double scale = r.bandScale;
            const bool male = !a->female;
            const double index = male ? r.male : r.female;
            if (a->format == "json") {
              nlohmann::json doc;
              doc["sti"] = index;
              doc["weights"] = male ? "male" : "female";
              doc["levels_corrected"] = levels;
              doc["sample_rate"] = r.sampleRate;
              doc["source_sample_rate"] = r.sourceRate;
              doc["resampled"] = r.sampleRate != r.sourceRate;
              std::vector<double> fm, bands;
              for (int j = 0; j < kModulationFrequencies; ++j) fm.push_back(modulationFrequency(j));
              for (int b = 0; b < kStiBands; ++b)
                bands.push_back(bandFrequency(BandResolution::Octave, kFirstStiBand + b) * scale);
              doc["modulation_frequencies_hz"] = fm;
              doc["band_frequencies_hz"] = bands;
              doc["mtf"] = r.mtf;
              if (a->stipa) {
                doc["stipa"] = male ? r.stipaMale : r.stipaFemale;
                std::vector<std::vector<double>> fs;
                for (int b = 0; b < kStipaBands; ++b)
                  fs.push_back({stipaModulationFrequency(b, 0), stipaModulationFrequency(b, 1)});
                doc["stipa_modulation_frequencies_hz"] = fs;
                doc["stipa_mtf"] = r.stipaMtf;
              }
              std::printf("%s\n", doc.dump(2).c_str());
            } else if (a->format == "csv") {
              std::printf("quantity,band,modulation_hz,value\nsti,,,%s\n", csvNumber(index).c_str());
              for (int b = 0; b < kStiBands; ++b) {
                for (int j = 0; j < kModulationFrequencies; ++j) {
                  std::printf("mtf,%s,%s,%s\n",
                              bandLabel(BandResolution::Octave, kFirstStiBand + b, scale).c_str(),
                              csvNumber(modulationFrequency(j)).c_str(),
                              csvNumber(r.mtf[static_cast<size_t>(b)][static_cast<size_t>(j)]).c_str());
                }
              }
              if (a->stipa) {
                std::printf("stipa,,,%s\n", csvNumber(male ? r.stipaMale : r.stipaFemale).c_str());
                for (int b = 0; b < kStipaBands; ++b) {
                  for (int k = 0; k < kStipaFrequencies; ++k) {
                    std::printf(
                        "stipa_mtf,%s,%s,%s\n",
                        bandLabel(BandResolution::Octave, kFirstStiBand + b, scale).c_str(),
                        csvNumber(stipaModulationFrequency(b, k)).c_str(),
                        csvNumber(r.stipaMtf[static_cast<size_t>(b)][static_cast<size_t>(k)]).c_str());
                  }
                }
              }
            } else {
              std::fputs(stiTable(r, male, levels, scale).c_str(), stdout);
              if (a->stipa) std::fputs(stipaTable(r, male, scale).c_str(), stdout);
            }
          }};
}

}  // namespace tavrix::cli

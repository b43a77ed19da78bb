// `tavrix spectrum`: the Hann-windowed power spectrum of a file's 65536-sample
// blocks, averaged over the blocks.
#include <cmath>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "audio_io.h"
#include "cli_error.h"
#include "commands.h"
#include "library_client.h"
#include "output.h"
#include "tavrix.h"

namespace tavrix::cli {

using namespace tavrix::measure;

namespace {

constexpr size_t kBlock = 65536;          // samples per transform
constexpr size_t kBins = kBlock / 2 + 1;  // one-sided spectrum, DC to Nyquist

}  // namespace

Command addSpectrumCommand(CLI::App& app) {
  auto file = std::make_shared<std::string>();
  auto format = std::make_shared<std::string>("csv");
  auto channel = std::make_shared<int>(0);
  CLI::App* sub = app.add_subcommand(
      "spectrum",
      "Power spectrum in dB of the file's 65536-sample blocks (Hann window, mean power over the "
      "blocks; a file shorter than one block is padded with zeros), with the bin frequencies");
  sub->add_option("IN", *file, "Audio file")->required();
  sub->add_option("--format", *format, "Output format")
      ->check(CLI::IsMember({"csv", "json"}))
      ->capture_default_str();
  addChannelOption(sub, *channel);
  return {sub, [file, format, channel] {
            Audio audio = readAudio(*file, *channel);
            const size_t blocks = std::max<size_t>(1, audio.samples.size() / kBlock);
            if (audio.samples.size() < kBlock) audio.samples.resize(kBlock, 0.0);
            FftHandle h(initFftAnalysis());
            if (!h.valid()) processingError("the library has no free FFT-analysis slot left");
            // The library gives each block's spectrum in dB; the mean is taken
            // over power, so loud blocks weigh as they sound.
            std::vector<double> power(kBins, 0.0), buffer(kBlock);
            Progress progress("spectrum block", static_cast<int>(blocks));
            for (size_t b = 0; b < blocks; ++b) {
              progress.step(static_cast<int>(b + 1));
              std::copy_n(audio.samples.begin() + static_cast<std::ptrdiff_t>(b * kBlock), kBlock,
                          buffer.begin());
              if (fftStep(h.get(), buffer.data()) != 0) processingError(*file + ": the FFT analysis failed");
              for (size_t k = 0; k < kBins; ++k)
                power[k] += std::pow(10.0, buffer[k] / 10) / static_cast<double>(blocks);
            }
            progress.done();
            std::vector<double> frequency(kBins), level(kBins);
            for (size_t k = 0; k < kBins; ++k) {
              frequency[k] = static_cast<double>(k) * audio.sampleRate / static_cast<double>(kBlock);
              level[k] = 10 * std::log10(power[k]);
            }
            if (*format == "json") {
              nlohmann::json doc{{"file", *file},
                                 {"sample_rate", audio.sampleRate},
                                 {"blocks", blocks},
                                 {"frequency_hz", frequency},
                                 {"level_db", nlohmann::json::array()}};
              // Silent bins are -infinity dB, which JSON cannot hold: null.
              for (double l : level)
                doc["level_db"].push_back(std::isfinite(l) ? nlohmann::json(l) : nlohmann::json());
              std::printf("%s\n", doc.dump(1).c_str());
            } else {
              std::string out = "frequency_hz,level_db\n";
              for (size_t k = 0; k < kBins; ++k)
                out += csvNumber(frequency[k]) + "," + csvNumber(level[k]) + "\n";
              std::fputs(out.c_str(), stdout);
            }
          }};
}

}  // namespace tavrix::cli

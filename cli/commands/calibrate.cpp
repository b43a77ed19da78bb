// `tavrix calibrate`: a recording converted to sound pressure in pascals from
// the measurement chain's levels, as a float WAV or a UFF dataset 58b file.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "audio_io.h"
#include "cli_error.h"
#include "commands.h"
#include "library_client.h"
#include "status_messages.h"
#include "tavrix.h"

namespace tavrix::cli {

using namespace tavrix::measure;

namespace {

struct CalibrateArgs {
  std::string in, out;
  double sensitivity = 0, adjust = 0, gain = 0, trim = 0;
  bool highCorrection = false;
  int channel = 0;
};

// A scratch file removed when it goes out of scope.
class ScratchFile {
 public:
  ScratchFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavrix-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0)
      processingError("cannot create a scratch file in " + std::filesystem::temp_directory_path().string());
    close(fd);
    path_ = pattern;
  }
  ~ScratchFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string lowerExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

}  // namespace

Command addCalibrateCommand(CLI::App& app) {
  auto a = std::make_shared<CalibrateArgs>();
  CLI::App* sub = app.add_subcommand(
      "calibrate",
      "Convert a recording to sound pressure in pascals from the measurement chain's levels; OUT.uff "
      "writes a universal file format dataset 58 (binary), OUT.wav a 32-bit float WAV");
  sub->add_option("IN", a->in, "Recording (WAV, FLAC, ...)")->required();
  sub->add_option("OUT", a->out, "Calibrated file to write: .uff or .wav")->required();
  sub->add_option("--sensitivity", a->sensitivity, "Microphone sensitivity in dB re 1 V/Pa")->required();
  sub->add_option("--adjust", a->adjust, "Level adjustment in dB")->capture_default_str();
  sub->add_option("--gain", a->gain, "Preamplifier gain in dB (applied as the nearest whole factor)")
      ->capture_default_str();
  sub->add_option("--trim", a->trim, "Trim setting of the converter (2000 steps per dB)")
      ->capture_default_str();
  sub->add_flag("--high-correction", a->highCorrection, "Use the high level correction of the input stage");
  addChannelOption(sub, a->channel);
  return {
      sub, [a] {
        const std::string ext = lowerExtension(a->out);
        if (ext != ".uff" && ext != ".wav") {
          usageError(a->out + ": the output must end in .uff (dataset 58b) or .wav (32-bit float)");
        }
        for (double v : {a->sensitivity, a->adjust, a->gain, a->trim}) {
          if (!std::isfinite(v)) usageError("calibration levels must be finite numbers of dB");
        }
        // The library reads only plain mono WAV files: hand it the chosen
        // channel in that form, whatever layout the user's file has.
        const Audio audio = readAudio(a->in, a->channel);
        ScratchFile plain;
        writePlainPcmWav(plain.path(), audio.samples, audio.sampleRate);
        std::error_code ec;
        std::filesystem::remove(a->out, ec);
        const std::u16string inPath = toLibraryPath(plain.path());
        const std::u16string outPath = toLibraryPath(a->out);
        const int status =
            createCalibratedWaveFile(inPath.c_str(), outPath.c_str(), a->sensitivity, a->adjust, a->gain,
                                     a->trim, 0.0, a->highCorrection, ext == ".uff");
        if (status != 0) processingError(a->in + ": calibration failed: " + statusSentence(status));
        // The dataset writer reports no failure of its own: look for the file.
        if (!std::filesystem::exists(a->out, ec) || std::filesystem::file_size(a->out, ec) == 0) {
          processingError(a->out + ": cannot be written; check that the directory exists and is writable");
        }
        std::printf("wrote %s: %zu samples at %d Hz in pascals\n", a->out.c_str(), audio.samples.size(),
                    audio.sampleRate);
      }};
}

}  // namespace tavrix::cli

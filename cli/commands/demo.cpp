// `tavrix demo`: a complete measurement of a simulated room with no input.
// The sweep comes from the library, is played through the synthetic room,
// deconvolved again, and the measured reverberation times are printed next
// to the room's true ones.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "audio_io.h"
#include "cli_error.h"
#include "commands.h"
#include "fft_convolution.h"
#include "output.h"
#include "reverb_analysis.h"
#include "status_messages.h"
#include "sti_analysis.h"
#include "svg_plot.h"
#include "sweep_options.h"
#include "synthetic_room.h"
#include "tavrix.h"

namespace tavrix::cli {

using namespace tavrix::measure;

namespace {

// The playback file puts 0.2 s of silence before the sweep and tail + 1 s
// after it.
constexpr double kPlaybackLeadSeconds = 0.2;

// The recording is normalised to this peak (-6 dBFS), as a careful operator
// would set the input gain.
constexpr double kRecordingPeak = 0.5;

std::string joinPath(const std::string& dir, const char* name) {
  return (std::filesystem::path(dir) / name).string();
}

}  // namespace

Command addDemoCommand(CLI::App& app) {
  auto outDir = std::make_shared<std::string>("tavrix-demo");
  CLI::App* sub = app.add_subcommand(
      "demo",
      "Simulate a whole measurement: sweep, a synthetic room with known reverberation times (1.4 s at "
      "125 Hz falling to 0.6 s at 8 kHz, noise floor 60 dB below the loudest 10 ms), deconvolution, "
      "reverberation per octave band and STI. Writes sweep.wav, recording.wav, ir.wav and decay.svg.");
  sub->add_option("--out", *outDir, "Directory for the files")->capture_default_str();
  return {sub, [outDir] {
            const auto started = std::chrono::steady_clock::now();
            std::error_code ec;
            std::filesystem::create_directories(*outDir, ec);
            if (ec || !std::filesystem::is_directory(*outDir, ec)) {
              usageError("--out " + *outDir + ": cannot create the directory; choose a writable place");
            }
            SweepOptions sweep;
            sweep.length = 5;
            sweep.tail = 2;
            sweep.fade = true;
            const SyntheticRoom room = demoRoom();
            const int fs = static_cast<int>(sweep.rate);
            Progress progress("demo step", 5);

            // 1. The sweep, its playback file, and the same buffer in memory.
            progress.step(1, "sweep");
            ImpulseHandle h = makeSweep(sweep);
            std::vector<double> sweepSamples(static_cast<size_t>(getESSSize(h.get())));
            getESS(h.get(), sweepSamples.data());
            const std::string sweepPath = joinPath(*outDir, "sweep.wav");
            const std::u16string sweepWide = toLibraryPath(sweepPath);
            if (getESSFile(h.get(), sweepWide.c_str(), 0.0) != 0) {
              processingError(sweepPath + ": cannot be written; check that the directory is writable");
            }
            const size_t lead = static_cast<size_t>(kPlaybackLeadSeconds * sweep.rate);
            const size_t total = static_cast<size_t>((sweep.tail + 1) * sweep.rate +
                                                     static_cast<double>(sweepSamples.size() + lead));
            std::vector<double> playback(total, 0.0);
            std::copy(sweepSamples.begin(), sweepSamples.end(),
                      playback.begin() + static_cast<std::ptrdiff_t>(lead));

            // 2. Played through the room; the recorder stops with the playback.
            progress.step(2, "room");
            const std::vector<double> response = roomResponse(room);
            std::vector<double> recording = convolve(playback, response);
            recording.resize(playback.size());
            double peak = 0;
            for (double v : recording) peak = std::max(peak, std::fabs(v));
            for (double& v : recording) v *= kRecordingPeak / peak;
            writeFloatWav(joinPath(*outDir, "recording.wav"), recording, fs);

            // 3. Deconvolution.
            progress.step(3, "deconvolution");
            const int nfft =
                processInputSignal(h.get(), recording.data(), static_cast<int32_t>(recording.size()));
            if (nfft < 1) processingError("the deconvolution failed: " + statusSentence(nfft));
            std::vector<double> ir(static_cast<size_t>(nfft));
            getImpulseResponse(h.get(), ir.data());
            const std::string irPath = joinPath(*outDir, "ir.wav");
            const std::u16string irWide = toLibraryPath(irPath);
            if (getImpulseResponseFile(h.get(), irWide.c_str()) != 0) {
              processingError(irPath + ": cannot be written; check that the directory is writable");
            }

            // 4. Reverberation per octave band, in the window the sweep
            // measurement defines.
            progress.step(4, "reverberation");
            ReverbOptions options;
            options.bands = BandSet{BandResolution::Octave, 7, 13};
            options.ranges = {0, 20, 30};
            options.sweepDuration = sweep.length;
            options.tailDuration = sweep.tail;
            options.keepSilence = true;
            const ReverbReport report =
                measureReverberation({{"ir.wav", ir.data(), ir.size(), fs, 0.0, ""}}, options);
            const ImpulseResult& measured = report.positions.front();
            writeTextFile(joinPath(*outDir, "decay.svg"),
                          decayPlotSvg("Demo room: decay curves per octave band", measured, options,
                                       report.blockSeconds));

            // 5. Speech transmission index of the room's response.
            progress.step(5, "STI");
            const size_t responseEnd = std::min(ir.size(), lead + response.size());
            const std::vector<double> head(ir.begin(), ir.begin() + static_cast<std::ptrdiff_t>(responseEnd));
            const StiResult sti = measureSti({"ir.wav", head.data(), head.size(), fs, 0.0, ""}, {});
            progress.done();

            std::printf(
                "Synthetic room: direct sound after %.0f ms, noise floor %.0f dB below its loudest 10 ms; "
                "exponential "
                "sweep %g Hz to %g Hz over %g s at %d Hz; impulse response of %d samples\n\n",
                room.latency * 1000, room.noiseBelowPeakDb, sweep.from, sweep.to, sweep.length, fs, nfft);
            TextTable table({"band", "true T60 s", "EDT s", "T20 s", "T30 s", "r2 T30", "dyn range dB",
                             "curvature %", "status"});
            for (const BandResult& b : measured.bands) {
              table.add({bandName(BandResolution::Octave, b.band), fixed(roomT60(room, b.band), 2),
                         fixed(b.times[0], 2), fixed(b.times[1], 2), fixed(b.times[2], 2),
                         fixed(b.fitQuality[2], 4), fixed(b.dynamicRange, 1), fixed(b.curvature, 1),
                         resultLabel(b)});
            }
            std::fputs(table.render().c_str(), stdout);
            std::printf("\nSTI %s (male weights), %s (female weights)\n", fixed(sti.male, 3).c_str(),
                        fixed(sti.female, 3).c_str());
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            std::printf("\nWrote sweep.wav, recording.wav, ir.wav and decay.svg to %s (%.1f s)\n",
                        outDir->c_str(), seconds);
          }};
}

}  // namespace tavrix::cli

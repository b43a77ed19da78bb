// `tavrix measure`: plays the sweep into the room through a sound card or
// JACK, records it in the same stream, and reports the room's reverberation
// as `reverb` does for the response it writes.
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "audio_io.h"
#include "cli_error.h"
#include "commands.h"
#include "output.h"
#include "room_measurement.h"
#include "sound_card.h"
#include "sweep_options.h"
#include "tavrix.h"

namespace tavrix::cli {

using namespace tavrix::measure;

namespace {

// Ctrl-C stops the playback at once; a second one ends the program.
std::atomic<bool> interrupted{false};
extern "C" void onInterrupt(int) {
  interrupted.store(true);
  std::signal(SIGINT, SIG_DFL);
}

// The shell's status for a program ended by Ctrl-C (128 + SIGINT).
constexpr int kExitInterrupted = 130;

// Channels recorded at most: every input of an ordinary interface.
constexpr int kMaxRecordedChannels = 32;
constexpr int kMaxRepeats = 64;
constexpr double kSpeedOfSound = 343;  // m/s at 20 degrees C

struct MeasureArgs {
  std::string dir, device, format = "table";
  int outChannel = 1, inChannel = 1, referenceChannel = 0, repeats = 1;
  double level = -10;
};

std::string joinPath(const std::string& dir, const char* name) {
  return (std::filesystem::path(dir) / name).string();
}

std::string ms(double seconds) { return fixed(seconds * 1000, 1) + " ms"; }

std::vector<double> sweepSamples(const SweepOptions& o) {
  ImpulseHandle h = makeSweep(o);
  std::vector<double> s(static_cast<size_t>(getESSSize(h.get())));
  if (s.empty() || getESS(h.get(), s.data()) != 0) processingError("the library returned no sweep");
  return s;
}

// The progress line of a run: what, how far, and the input's level.
class RunLine {
 public:
  explicit RunLine(double rate) : rate_(rate), active_(isatty(STDERR_FILENO) == 1) {}
  ~RunLine() { clear(); }
  RunLine(const RunLine&) = delete;
  RunLine& operator=(const RunLine&) = delete;
  void show(const std::string& what, size_t done, size_t total, double peak) {
    if (!active_) return;
    std::fprintf(stderr, "\r\033[K%s: %s of %s s, input peak %s dBFS", what.c_str(),
                 fixed(static_cast<double>(done) / rate_, 1).c_str(),
                 fixed(static_cast<double>(total) / rate_, 1).c_str(),
                 peak > 0 ? fixed(20 * std::log10(peak), 1).c_str() : "-inf");
    std::fflush(stderr);
    shown_ = true;
  }
  void clear() {
    if (shown_) std::fprintf(stderr, "\r\033[K");
    shown_ = false;
  }

 private:
  double rate_;
  bool active_, shown_ = false;
};

// Files are written under temporary names and renamed together at the end:
// an interrupted or failed measurement leaves none half-written.
class PendingFiles {
 public:
  std::string add(const std::string& path) {
    paths_.push_back(path);
    return path + ".part";
  }
  void commit() {
    for (const std::string& p : paths_) std::filesystem::rename(p + ".part", p);
    paths_.clear();
  }
  ~PendingFiles() {
    std::error_code ec;
    for (const std::string& p : paths_) std::filesystem::remove(p + ".part", ec);
  }

 private:
  std::vector<std::string> paths_;
};

void checkChannel(int channel, int available, const char* option, const char* what, const SoundDevice& d) {
  if (channel > available) {
    usageError(std::string(option) + " " + std::to_string(channel) + ": '" + d.name + "' has " +
               std::to_string(available) + " " + what + "; 'tavrix devices' lists the devices");
  }
}

void run(const MeasureArgs& a, SweepOptions o, const CLI::Option* rateOption) {
  if (!std::isfinite(a.level) || a.level > 0 || a.level < -60) {
    usageError("--level " + fixed(a.level, 1) +
               ": the sweep's level must lie from -60 to 0 dB re full scale");
  }
  if (a.referenceChannel != 0 && a.referenceChannel == a.inChannel) {
    usageError("--reference-channel " + std::to_string(a.referenceChannel) +
               ": the loopback needs an input of its own, not the measured --in-channel");
  }
  std::error_code ec;
  std::filesystem::create_directories(a.dir, ec);
  if (ec || !std::filesystem::is_directory(a.dir, ec)) {
    usageError("-o " + a.dir + ": cannot create the directory; choose a writable place");
  }
  FILE* notes = a.format == "table" ? stdout : stderr;

  SoundCard card;
  const SoundDevice device = card.choose(a.device);
  if (rateOption->count() == 0) {
    o.rate = device.defaultRate;
  } else if (device.jack && o.rate != device.defaultRate) {
    processingError("--rate " + fixed(o.rate, 0) + ": the JACK server runs at " +
                    fixed(device.defaultRate, 0) +
                    " Hz, and a stream runs at the server's rate; give --rate " +
                    fixed(device.defaultRate, 0) + " or restart the server at the rate you want");
  }
  checkChannel(a.outChannel, device.outputs, "--out-channel", "outputs", device);
  checkChannel(a.referenceChannel, std::min(device.inputs, device.outputs), "--reference-channel",
               "input and output pairs", device);
  checkChannel(a.inChannel, device.inputs, "--in-channel", "inputs", device);

  RoomPlan plan;
  plan.rate = o.rate;
  plan.sweep = sweepSamples(o);
  SweepOptions check = o;
  check.length = kCheckSweepSeconds;
  plan.checkSweep = sweepSamples(check);
  plan.sweepSeconds = o.length;
  plan.tailSeconds = o.tail;
  plan.fromHz = o.from;
  plan.toHz = o.to;
  plan.levelDb = a.level;
  plan.outChannel = a.outChannel;
  plan.inChannel = a.inChannel;
  plan.referenceChannel = a.referenceChannel;
  plan.inputChannels = std::min(device.inputs, kMaxRecordedChannels);
  plan.inputChannels = std::max({plan.inputChannels, a.inChannel, a.referenceChannel});
  plan.repeats = a.repeats;
  std::fprintf(
      notes, "measuring with '%s' (%s) at %s Hz: output %d to input %d%s\n", device.name.c_str(),
      device.hostApi.c_str(), fixed(o.rate, 0).c_str(), a.outChannel, a.inChannel,
      a.referenceChannel ? (", loopback on channel " + std::to_string(a.referenceChannel)).c_str() : "");
  std::fflush(notes);

  RunLine line(o.rate);
  const DuplexRunner runner = [&](const std::vector<std::vector<float>>& play, const std::string& what) {
    DuplexRequest request;
    request.rate = o.rate;
    request.play = play;
    request.inputChannels = plan.inputChannels;
    request.interrupt = &interrupted;
    request.meterChannel = plan.inChannel - 1;
    request.progress = [&](size_t done, size_t total, double peak) { line.show(what, done, total, peak); };
    DuplexTake take = card.playAndRecord(device, request);
    line.clear();
    return take;
  };
  const auto say = [&](const std::string& text) {
    line.clear();
    if (text.rfind("warning: ", 0) == 0) {
      std::fflush(notes);
      std::fprintf(stderr, "tavrix: %s\n", text.c_str());
    } else {
      std::fprintf(notes, "%s\n", text.c_str());
      std::fflush(notes);
    }
  };

  // Ctrl-C is ours until the files are in place.
  interrupted.store(false);
  struct Handler {
    void (*previous)(int) = std::signal(SIGINT, onInterrupt);
    ~Handler() { std::signal(SIGINT, previous); }
  } handler;
  RoomMeasurement m;
  try {
    m = measureRoom(plan, runner, say);
  } catch (const MeasureError&) {
    if (interrupted.load())
      throw CliError(kExitInterrupted, "interrupted: playback stopped, nothing was written");
    throw;
  }

  const int fs = static_cast<int>(o.rate);
  const std::string sweepPath = joinPath(a.dir, "sweep.wav"),
                    recordingPath = joinPath(a.dir, "recording.wav"), irPath = joinPath(a.dir, "ir.wav");
  {
    PendingFiles files;
    writeFloatWav(files.add(sweepPath), m.playback, fs);
    writeFloatWavChannels(files.add(recordingPath), m.take.recorded, fs);
    writeFloatWav(files.add(irPath), m.response.response, fs);
    if (interrupted.load()) throw CliError(kExitInterrupted, "interrupted: nothing was written");
    files.commit();
  }
  if (m.attempts > 1)
    std::fprintf(notes, "the sweep ran %d times: the earlier runs lost audio\n", m.attempts);
  if (m.systemLatencySeconds) {
    const double flight = m.latencySeconds - *m.systemLatencySeconds;
    std::fprintf(
        notes,
        "latency of the audio path: %s (the loopback on input %d); the direct sound arrives %s after "
        "it leaves the loudspeaker (%s m at %g m/s)\n",
        ms(*m.systemLatencySeconds).c_str(), a.referenceChannel, ms(flight).c_str(),
        fixed(flight * kSpeedOfSound, 2).c_str(), kSpeedOfSound);
  } else {
    std::fprintf(notes,
                 "latency found: %s (the direct sound re the start of the playback: the audio path's latency "
                 "and the sound's travel time; add --reference-channel with a loopback to tell them apart)\n",
                 ms(m.latencySeconds).c_str());
  }
  const double seconds = static_cast<double>(m.response.response.size()) / fs;
  std::fprintf(
      notes,
      "wrote %s (one period as played), %s (%zu channels, %d sweep%s), %s (%s s from %s s before the "
      "direct sound, the mean of %d repeat%s) and %s\n",
      sweepPath.c_str(), recordingPath.c_str(), m.take.recorded.size(), a.repeats, a.repeats > 1 ? "s" : "",
      irPath.c_str(), fixed(seconds, 2).c_str(), fixed(m.response.leadSeconds, 2).c_str(), a.repeats,
      a.repeats > 1 ? "s" : "", joinPath(a.dir, "decay.svg").c_str());
  std::fprintf(notes, "the same analysis again: tavrix reverb %s\n\n", irPath.c_str());
  std::fflush(notes);
  reportReverberation({irPath}, a.format, joinPath(a.dir, "decay.svg"));
}

}  // namespace

Command addMeasureCommand(CLI::App& app) {
  auto a = std::make_shared<MeasureArgs>();
  auto o = std::make_shared<SweepOptions>();
  CLI::App* sub = app.add_subcommand(
      "measure",
      "Measure a room through a sound card or JACK: a level check (background noise, the gain, whether "
      "the input would clip, whether the decay will stand high enough above the noise for T30) with a "
      "short sweep 20 dB below --level, then the sweep played and recorded in one stream (repeated when "
      "audio was lost), averaged over --repeats, deconvolved, and analysed as 'reverb' does. Writes "
      "sweep.wav, recording.wav (every input channel), ir.wav and decay.svg to the directory. Ctrl-C "
      "stops at once and writes nothing.");
  sub->add_option("-o,--output", a->dir, "Directory for the files")->required();
  CLI::Option* rate = addSweepOptions(sub, *o);
  rate->description("Sample rate in Hz (default: the device's; for JACK, the server's)")->default_str("");
  sub->add_option("--device", a->device,
                  "Device number or name from 'tavrix devices' (default: JACK's when a server runs)");
  sub->add_option("--out-channel", a->outChannel, "Output to the loudspeaker (1 = first)")
      ->check(CLI::Range(1, 256))
      ->capture_default_str();
  sub->add_option("--in-channel", a->inChannel, "Input from the microphone (1 = first)")
      ->check(CLI::Range(1, 256))
      ->capture_default_str();
  sub->add_option("--reference-channel", a->referenceChannel,
                  "Loopback: the sweep also plays on this output, cabled straight back to the input of the "
                  "same number, which times the audio path so that the sound's travel time is known")
      ->check(CLI::Range(1, 256));
  sub->add_option("--repeats", a->repeats, "Sweeps played back to back and averaged synchronously")
      ->check(CLI::Range(1, kMaxRepeats))
      ->capture_default_str();
  sub->add_option("--level", a->level, "Peak level of the sweep in dB re full scale (-60 to 0)")
      ->capture_default_str();
  sub->add_option("--format", a->format,
                  "Format of the reverberation report (the other lines go to stderr "
                  "for csv and json)")
      ->check(CLI::IsMember({"table", "csv", "json"}))
      ->capture_default_str();
  return {sub, [a, o, rate] { run(*a, *o, rate); }};
}

}  // namespace tavrix::cli

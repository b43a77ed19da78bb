// `tavrix measure` on a real audio server without hardware: each test
// starts its own JACK server on the dummy driver under a private name, a
// simulated room as a JACK client (room.c: a known response, extra delay,
// noise, and a loopback), runs the tool against it, and stops both.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "audio_io.h"
#include "cli/cli_runner.h"
#include "fft_convolution.h"
#include "reverb_analysis.h"
#include "synthetic_room.h"
#include "tavrix_measure.h"

// Under the sanitizers, the audio back ends' own leaks (tests/lsan.supp) are
// told apart by the whole call stack of each allocation.
#ifdef TAVRIX_LSAN_SUPPRESSIONS
// The suppressions, and no list of them on stderr, which the tests read.
constexpr const char* kLsanOptions = "suppressions=" TAVRIX_LSAN_SUPPRESSIONS ":print_suppressions=0";
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_options() { return kLsanOptions; }
#endif

namespace tavrix::test {
namespace {

using namespace tavrix::measure;
namespace fs = std::filesystem;

constexpr int kRate = 48000;
constexpr double kExtraDelayMs = 50;

// Starts a program with its output in a log; it dies with this process,
// so that a crashed or killed test leaves nothing running.
pid_t spawn(const std::vector<std::string>& args, const fs::path& log) {
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// SIGTERM, then SIGKILL if it has not ended within 5 s.
void stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) {
      pid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

bool running(pid_t pid) { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

// The room: reverberation falling from 1.2 s at 125 Hz to 0.6 s at 8 kHz, a
// noise floor 75 dB below its loudest 10 ms, scaled to a fiftieth of unit
// energy so that a sweep at -10 dBFS comes back well below full scale.
std::vector<double> knownRoom() {
  SyntheticRoom room;
  room.length = 4.0;  // longer than the response a measurement keeps
  room.noiseBelowPeakDb = 75;
  room.bands = {{7, 1.2}, {8, 1.1}, {9, 1.0}, {10, 0.9}, {11, 0.8}, {12, 0.7}, {13, 0.6}};
  std::vector<double> h = roomResponse(room);
  double energy = 0;
  for (double v : h) energy += v * v;
  for (double& v : h) v *= std::sqrt(0.02 / energy);
  return h;
}

size_t loudest(const std::vector<double>& x) {
  size_t at = 0;
  for (size_t i = 0; i < x.size(); ++i)
    if (std::fabs(x[i]) > std::fabs(x[at])) at = i;
  return at;
}

// The error of a measured response against the known one, in dB re the
// known one's energy: both aligned on their direct sound, over 0.68 s from
// just before it, compared bin by bin from 100 Hz to 10 kHz (inside the
// sweep's band, where the deconvolution is exact) after the best real gain.
// A lost period or a wrong alignment shows here, where T30 hardly moves.
double errorLevelDb(const std::vector<double>& measured, const std::vector<double>& known) {
  constexpr size_t kN = 32768, kBefore = 240;
  const auto window = [&](const std::vector<double>& x) {
    const size_t start = loudest(x) - kBefore;
    std::vector<double> w(kN, 0.0);
    for (size_t i = 0; i < kN && start + i < x.size(); ++i) w[i] = x[start + i];
    return realForward(w.data(), kN, kN);
  };
  const auto M = window(measured), H = window(known);
  const size_t lo = 100 * kN / kRate, hi = 10000 * kN / kRate;
  double mh = 0, hh = 0;
  for (size_t k = lo; k <= hi; ++k) {
    mh += std::real(M[k] * std::conj(H[k]));
    hh += std::norm(H[k]);
  }
  const double g = mh / hh;
  double err = 0;
  for (size_t k = lo; k <= hi; ++k) err += std::norm(M[k] - g * H[k]);
  return 10 * std::log10(err / (g * g * hh));
}

// The T30 column of a CSV report, by band.
std::map<std::string, double> t30ByBand(const std::string& csv) {
  std::map<std::string, double> t30;
  const std::vector<std::string> rows = lines(csv);
  if (rows.empty()) return t30;
  const std::vector<std::string> header = split(rows[0], ',');
  const size_t band = std::find(header.begin(), header.end(), "band") - header.begin();
  const size_t col = std::find(header.begin(), header.end(), "T30_s") - header.begin();
  for (size_t r = 1; r < rows.size(); ++r) {
    const std::vector<std::string> f = split(rows[r], ',');
    if (f.size() > std::max(band, col) && !f[col].empty()) t30[f[band]] = std::stod(f[col]);
  }
  return t30;
}

class LiveMeasure : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_CLI();
#ifndef TAVRIX_ROOM_PATH
    GTEST_SKIP() << "the simulated room or jackd is missing";
#endif
    dir_ = scratchDir() / ("live_" + std::to_string(getpid()) + "_" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // A private server name per process: parallel runs never meet.
    server_ = "tavrix-live-" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", server_.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
#ifdef TAVRIX_LSAN_SUPPRESSIONS
    // The same for the tool and the room.
    const char* asan = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":fast_unwind_on_malloc=0").c_str(), 1);
    setenv("LSAN_OPTIONS", kLsanOptions, 1);
#endif
  }
  void TearDown() override {
    stop(room_);
    stop(server_pid_);
    // A server that died under its clients leaves their semaphores behind.
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/dev/shm", ec)) {
      const std::string name = e.path().filename().string();
      if (name.rfind("jack_sem.", 0) == 0 && name.find("_" + server_ + "_") != std::string::npos)
        fs::remove(e.path(), ec);
    }
    // The logs of a failed test stay for reading.
    if (!HasFailure() && !dir_.empty()) fs::remove_all(dir_, ec);
  }

  void startServer() {
    server_pid_ = spawn(
        {"jackd", "--no-realtime", "-n", server_, "-d", "dummy", "-r", std::to_string(kRate), "-p", "1024"},
        dir_ / "jackd.log");
  }

  // The room client; returns once its ports exist.
  void startRoom(const std::vector<std::string>& options) {
    const std::vector<double> h = knownRoom();
    const std::vector<float> f(h.begin(), h.end());
    std::ofstream(dir_ / "room.f32", std::ios::binary)
        .write(reinterpret_cast<const char*>(f.data()),
               static_cast<std::streamsize>(f.size() * sizeof(float)));
    std::vector<std::string> args{TAVRIX_ROOM_PATH,
                                  "room",
                                  (dir_ / "room.f32").string(),
                                  "--delay-ms",
                                  std::to_string(kExtraDelayMs),
                                  "--noise-db",
                                  "-95",
                                  "--ready",
                                  (dir_ / "ready").string()};
    args.insert(args.end(), options.begin(), options.end());
    room_ = spawn(args, dir_ / "room.log");
    for (int i = 0; i < 300 && !fs::exists(dir_ / "ready"); ++i) {
      ASSERT_TRUE(running(room_)) << readFile(dir_ / "room.log") << readFile(dir_ / "jackd.log");
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(fs::exists(dir_ / "ready")) << "the room did not start: " << readFile(dir_ / "room.log");
  }

  std::string measureArgs(const std::string& extra = "") const {
    return "measure -o" + q(dir_ / "out") + " --device room --length 3 --tail 2 --fade " + extra;
  }

  fs::path dir_;
  std::string server_;
  pid_t server_pid_ = -1, room_ = -1;
};

// The whole measurement with a loopback: T30 against the offline analysis
// of the room's own response, the response itself by its error level, the
// sound's travel time against the delay the room adds, the report against
// `reverb` on the written response, and the files.
TEST_F(LiveMeasure, KnownRoomWithLoopbackAndRepeats) {
  startServer();
  startRoom({});
  const RunResult r = runTavrix(measureArgs("--reference-channel 2 --repeats 2 --format csv"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("level check: background noise"), std::string::npos) << r.err;

  const std::vector<double> h = knownRoom();
  ReverbOptions options = reverbOptions([] {
    tvm_reverb_options c;
    tvm_reverb_options_init(&c);
    return c;
  }());
  const ReverbReport offline =
      measureReverberation({{"room", h.data(), h.size(), kRate, 0.0, "", 0, 0}}, options);
  const std::map<std::string, double> measured = t30ByBand(r.out);
  for (const BandResult& b : offline.positions.front().bands) {
    const std::string name = bandName(BandResolution::Octave, b.band);
    if (b.band < 8 || b.band > 12) continue;  // 250 Hz to 4 kHz
    ASSERT_TRUE(measured.count(name)) << name << "\n" << r.out;
    const double t30 = b.times[3];
    EXPECT_NEAR(measured.at(name), t30, 0.02 * t30) << name;
    std::printf("%s: T30 %.3f s measured, %.3f s offline\n", name.c_str(), measured.at(name), t30);
  }

  const Audio ir = readAudio((dir_ / "out" / "ir.wav").string(), 0);
  const double error = errorLevelDb(ir.samples, h);
  EXPECT_LT(error, -30);
  std::printf("error level of the measured response: %.1f dB\n", error);

  // The direct sound leaves the room 50 ms plus the response's own 5 ms
  // after it entered; the loopback takes the audio path's latency out.
  const size_t at = r.err.find("the direct sound arrives ");
  ASSERT_NE(at, std::string::npos) << r.err;
  const double flightMs = std::stod(r.err.substr(at + 25));
  EXPECT_NEAR(flightMs, kExtraDelayMs + 5, 0.1);
  std::printf("travel time found: %.1f ms\n", flightMs);

  const Audio rec = readAudio((dir_ / "out" / "recording.wav").string(), 2);
  EXPECT_EQ(rec.channels, 2);
  EXPECT_TRUE(fs::exists(dir_ / "out" / "sweep.wav"));
  EXPECT_TRUE(fs::exists(dir_ / "out" / "decay.svg"));
  const RunResult reverb = runTavrix("reverb" + q(dir_ / "out" / "ir.wav") + " --format csv");
  EXPECT_EQ(reverb.out, r.out);
}

// Without a loopback the latency found is the audio path's and the room's
// delay together; the table report is the one `reverb` prints.
TEST_F(LiveMeasure, WithoutLoopbackReportsTheLatencyFound) {
  startServer();
  startRoom({});
  const RunResult r = runTavrix(measureArgs());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const size_t at = r.out.find("latency found: ");
  ASSERT_NE(at, std::string::npos) << r.out;
  const double latencyMs = std::stod(r.out.substr(at + 15));
  EXPECT_GE(latencyMs, kExtraDelayMs + 5 - 0.1);
  EXPECT_LT(latencyMs, kExtraDelayMs + 5 + 200);  // a few periods of the server at most
  const RunResult reverb = runTavrix("reverb" + q(dir_ / "out" / "ir.wav"));
  EXPECT_NE(r.out.find(reverb.out), std::string::npos);
}

// What goes wrong is said in words, with exit status 1, before any file is
// written: one line, after the warnings of attempts that were repeated.
TEST_F(LiveMeasure, FailuresAreSaidInWords) {
  const struct {
    std::vector<std::string> room;
    const char* options;
    const char* words;
  } cases[] = {
      {{"--gain-db", "30"}, "", "clip"},
      {{"--unwired"}, "", "nothing came back on input 1"},
      {{"--xrun-every", "0.5"}, "", "lost audio in each of 3 attempts"},
      {{}, "--rate 44100", "the JACK server runs at 48000 Hz"},
  };
  for (const auto& c : cases) {
    startServer();
    startRoom(c.room);
    const RunResult r = runTavrix(measureArgs(c.options));
    EXPECT_EQ(r.exitCode, 1) << c.words;
    const std::vector<std::string> said = lines(r.err);
    ASSERT_FALSE(said.empty()) << c.words;
    EXPECT_NE(said.back().find(c.words), std::string::npos) << r.err;
    for (size_t i = 0; i + 1 < said.size(); ++i)
      EXPECT_EQ(said[i].rfind("tavrix: warning: ", 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "out" / "ir.wav")) << c.words;
    stop(room_);
    stop(server_pid_);
    fs::remove(dir_ / "ready");
  }
}

TEST_F(LiveMeasure, ServerThatDiesMidStream) {
  startServer();
  startRoom({});
  std::thread killer([this] {
    std::this_thread::sleep_for(std::chrono::seconds(6));
    stop(server_pid_);
  });
  const RunResult r = runTavrix(measureArgs());
  killer.join();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("the audio server stopped"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_ / "out" / "ir.wav"));
}

// The room is a JACK client, so a device of its own: the C interface and
// `tavrix devices` list it with its ports and the server's rate.
TEST_F(LiveMeasure, DevicesListTheServersClients) {
  startServer();
  startRoom({});
  tvm_audio_device_list* list = nullptr;
  ASSERT_EQ(tvm_audio_devices(&list), TVM_OK) << tvm_last_error();
  bool found = false;
  for (int32_t i = 0; i < list->count; ++i) {
    const tvm_audio_device& d = list->devices[i];
    if (d.jack && std::string(d.name) == "room") {
      found = true;
      EXPECT_EQ(d.inputs, 2);
      EXPECT_EQ(d.outputs, 2);
      EXPECT_EQ(d.default_rate, kRate);
    }
  }
  tvm_free_audio_devices(list);
  EXPECT_TRUE(found);
  const RunResult r = runTavrix("devices");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("room  JACK Audio Connection Kit       2        2            48000"),
            std::string::npos)
      << r.out;
}

TEST_F(LiveMeasure, NoServer) {
  for (const char* command : {"devices", "measure -o"}) {
    const RunResult r = runTavrix(std::string(command) + (command[0] == 'm' ? q(dir_ / "out") : ""));
    EXPECT_EQ(r.exitCode, 1) << command;
    EXPECT_NE(r.err.find("no audio server"), std::string::npos) << r.err;
    EXPECT_EQ(lineCount(r.err), 1) << r.err;
  }
}

// Ctrl-C stops the playback at once and leaves no file behind.
TEST_F(LiveMeasure, InterruptLeavesNoFile) {
  startServer();
  startRoom({});
  const fs::path err = dir_ / "stderr.txt";
  const pid_t tool = spawn(
      {TAVRIX_CLI_PATH, "measure", "-o", (dir_ / "out").string(), "--device", "room", "--length", "10"}, err);
  std::this_thread::sleep_for(std::chrono::seconds(6));
  const auto sent = std::chrono::steady_clock::now();
  kill(tool, SIGINT);
  int status = 0;
  waitpid(tool, &status, 0);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count(), 2.0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << readFile(err);
  EXPECT_NE(readFile(err).find("interrupted"), std::string::npos) << readFile(err);
  EXPECT_TRUE(fs::is_empty(dir_ / "out"));
}

// The device list of the C interface when the JACK server asked for does
// not run: whatever cards ALSA finds, nothing through JACK, and no server
// started.
TEST(LiveAudioDevices, ListWithoutAServer) {
  EXPECT_EQ(tvm_audio_devices(nullptr), TVM_BAD_ARGUMENT);
  EXPECT_NE(std::string(tvm_last_error()).find("device list"), std::string::npos);
  tvm_free_audio_devices(nullptr);

  setenv("JACK_DEFAULT_SERVER", ("tavrix-nobody-" + std::to_string(getpid())).c_str(), 1);
  tvm_audio_device_list* list = nullptr;
  ASSERT_EQ(tvm_audio_devices(&list), TVM_OK) << tvm_last_error();
  ASSERT_NE(list, nullptr);
  std::set<int32_t> indices;
  for (int32_t i = 0; i < list->count; ++i) {
    const tvm_audio_device& d = list->devices[i];
    EXPECT_FALSE(d.jack) << d.name;
    EXPECT_TRUE(d.name && d.host_api);
    EXPECT_GE(d.inputs, 0);
    EXPECT_GE(d.outputs, 0);
    EXPECT_TRUE(indices.insert(d.index).second);
  }
  tvm_free_audio_devices(list);
  unsetenv("JACK_DEFAULT_SERVER");
}

TEST(LiveAudioDevices, FailureValuesHaveWords) {
  std::set<std::string> texts;
  for (int32_t code : {TVM_AUDIO_DEVICE, TVM_AUDIO_STREAM, TVM_NO_SIGNAL, TVM_CLIPPED}) {
    const std::string text = tvm_error_text(code);
    EXPECT_NE(text, tvm_error_text(12345));
    EXPECT_TRUE(texts.insert(text).second) << text;
  }
}

}  // namespace
}  // namespace tavrix::test

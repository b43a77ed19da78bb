// End to end through the tavrix binary: the demo against its room's documented
// reverberation times, and a sweep file turned into a known response.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

#include "cli/cli_runner.h"
#include "tavrix.h"

namespace tavrix::test {
namespace {

// The demo room as its help text documents it: octave band -> T60 in s.
const std::map<std::string, double> kDemoRoom{{"125 Hz", 1.4}, {"250 Hz", 1.3}, {"500 Hz", 1.2},
                                              {"1 kHz", 1.1},  {"2 kHz", 1.0},  {"4 kHz", 0.8},
                                              {"8 kHz", 0.6}};

struct DemoRow {
  double trueT60, edt, t20, t30;
};

TEST(CliDemo, MeasuresTheRoomsReverberationTimesAndWritesItsFiles) {
  REQUIRE_CLI();
  const std::filesystem::path dir = scratchDir() / "demo";
  std::filesystem::remove_all(dir);
  const RunResult r = runTavrix("demo --out '" + dir.string() + "'");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");  // not a terminal: no progress line

  // Rows look like "250 Hz  1.30  1.34  1.34  1.30  0.9990  61.1  -3.0  ok".
  std::map<std::string, DemoRow> rows;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream f(line);
    std::string value, unit;
    DemoRow row{};
    if (f >> value >> unit >> row.trueT60 >> row.edt >> row.t20 >> row.t30 &&
        kDemoRoom.count(value + " " + unit)) {
      rows[value + " " + unit] = row;
    }
  }
  ASSERT_EQ(rows.size(), kDemoRoom.size()) << r.out;
  for (const auto& [band, t60] : kDemoRoom) {
    const DemoRow& row = rows[band];
    EXPECT_DOUBLE_EQ(row.trueT60, t60) << band;
    if (band == "125 Hz" || band == "8 kHz") {
      // The outer bands are shown but their neighbours leak in: 10 %.
      EXPECT_NEAR(row.t30, t60, 0.10 * t60) << band;
      continue;
    }
    EXPECT_NEAR(row.t20, t60, 0.05 * t60) << band;
    EXPECT_NEAR(row.t30, t60, 0.05 * t60) << band;
  }
  EXPECT_NE(r.out.find("STI 0."), std::string::npos) << r.out;

  // The files, read back through the library's own strict reader.
  initTavrix();
  const auto samplesOf = [](const std::filesystem::path& p, double* rate) {
    double* x = nullptr;
    int32_t n = 0;
    const std::u16string wide = toUtf16(p.string());
    EXPECT_EQ(readWaveFile(wide.c_str(), &x, rate, &n), 0) << p;
    deleteDouble(x);
    return n;
  };
  double rate = 0;
  // 0.2 s of silence, the 5 s sweep and 2 + 1 s of tail.
  EXPECT_EQ(samplesOf(dir / "sweep.wav", &rate), 9600 + 240000 + 144000);
  EXPECT_EQ(rate, 48000);
  EXPECT_EQ(samplesOf(dir / "ir.wav", &rate), 524288);
  const std::string svg = readFile(dir / "decay.svg");
  EXPECT_EQ(svg.rfind("</svg>\n"), svg.size() - 7);
  for (const auto& [band, t60] : kDemoRoom) EXPECT_NE(svg.find(">" + band + "<"), std::string::npos) << band;
  EXPECT_TRUE(std::filesystem::file_size(dir / "recording.wav") > 44);

  // The saved response, read back from the file and analysed in the window of
  // the demo's sweep, gives the demo's own figures (the file holds the
  // response in single precision).
  const RunResult again = runTavrix("reverb '" + (dir / "ir.wav").string() +
                                    "' --length 5 --tail 2 --ranges 0,20,30 --format csv");
  ASSERT_EQ(again.exitCode, 0) << again.err;
  std::istringstream csv(again.out);
  std::string line;
  std::getline(csv, line);
  int compared = 0;
  while (std::getline(csv, line)) {
    // source,band,frequency_hz,EDT_s,T20_s,T30_s,...
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string v; std::getline(fields, v, ',');) f.push_back(v);
    ASSERT_GE(f.size(), 6u) << line;
    ASSERT_TRUE(rows.count(f[1])) << line;
    EXPECT_NEAR(std::stod(f[4]), rows[f[1]].t20, 0.006) << line;
    EXPECT_NEAR(std::stod(f[5]), rows[f[1]].t30, 0.006) << line;
    ++compared;
  }
  EXPECT_EQ(compared, 7);
}

TEST(CliMeasurement, SweepThenIrRecoversAKnownResponse) {
  REQUIRE_CLI();
  TempFile sweep("cli_sweep.wav"), recording("cli_recording.wav"), ir("cli_ir.wav");
  const std::string options = " --length 2 --tail 1 --from 20 --to 24000 --fade";
  RunResult r = runTavrix("sweep '" + sweep.path.string() + "'" + options);
  ASSERT_EQ(r.exitCode, 0) << r.err;

  initTavrix();
  double* x = nullptr;
  double rate = 0;
  int32_t n = 0;
  ASSERT_EQ(readWaveFile(sweep.c_str(), &x, &rate, &n), 0);
  std::vector<double> playback(x, x + n);
  deleteDouble(x);
  // 0.2 s of silence, the 2 s sweep and 1 + 1 s of tail at 48 kHz.
  ASSERT_EQ(n, 9600 + 96000 + 96000);

  // The room: a direct sound after 240 samples and one reflection, recorded
  // on the second channel of a stereo file (the first holds only noise).
  struct Tap {
    size_t delay;
    double gain;
  };
  const Tap taps[] = {{240, 0.8}, {1000, -0.3}};
  std::vector<double> stereo(2 * playback.size(), 0.0);
  for (size_t i = 0; i < playback.size(); ++i) {
    stereo[2 * i] = 1e-3 * std::sin(0.1 * static_cast<double>(i));
    for (const Tap& t : taps) {
      if (i >= t.delay) stereo[2 * i + 1] += t.gain * playback[i - t.delay];
    }
  }
  writeWav(recording.path, stereo, 2, 48000, WavLayout::FloatWithListChunk);

  r = runTavrix("ir '" + recording.path.string() + "' -o '" + ir.path.string() + "'" + options);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("2 channels"), std::string::npos) << r.err;
  r = runTavrix("ir '" + recording.path.string() + "' --channel 2 -o '" + ir.path.string() + "'" + options);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(readWaveFile(ir.c_str(), &x, &rate, &n), 0);
  const std::vector<double> h(x, x + n);
  deleteDouble(x);
  EXPECT_EQ(n, 262144);  // the recording's length rounded up to a power of two
  // The playback file holds the sweep at 0.99 of its level after 0.2 s of
  // silence: the response appears 9600 samples late and 0.99 times as strong.
  const size_t lead = 9600;
  double largestElsewhere = 0;
  for (size_t i = 0; i < h.size(); ++i) {
    if (i != lead + 240 && i != lead + 1000) largestElsewhere = std::max(largestElsewhere, std::fabs(h[i]));
  }
  EXPECT_NEAR(h[lead + 240], 0.8 * 0.99, 2e-3);
  EXPECT_NEAR(h[lead + 1000], -0.3 * 0.99, 2e-3);
  EXPECT_LT(largestElsewhere, 5e-3);
}

}  // namespace
}  // namespace tavrix::test

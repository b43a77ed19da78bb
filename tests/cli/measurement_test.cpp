// End to end through the tavrix binary: the demo against its room's documented
// reverberation times, a sweep file turned into a known response, and the
// harmonic distortion of a sweep distorted by a known memoryless polynomial.
#include <gtest/gtest.h>

#include <map>

#include "cli/cli_runner.h"
#include "tavrix.h"

#if __has_include(<nlohmann/json.hpp>)

namespace tavrix::test {
namespace {

TEST(CliDemo, MeasuresTheRoomsReverberationTimesAndWritesItsFiles) {
  REQUIRE_CLI();
  // The demo room as its help text documents it: octave band -> T60 in s.
  const std::map<std::string, double> room{{"125 Hz", 1.4}, {"250 Hz", 1.3}, {"500 Hz", 1.2}, {"1 kHz", 1.1},
                                           {"2 kHz", 1.0},  {"4 kHz", 0.8},  {"8 kHz", 0.6}};
  const std::filesystem::path dir = scratchDir() / "demo";
  std::filesystem::remove_all(dir);
  const RunResult r = runTavrix("demo --out" + q(dir));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");  // not a terminal: no progress line

  // Rows look like "250 Hz  1.30  1.34  1.34  1.30  0.9990  61.1  -3.0  ok":
  // band, true T60, EDT, T20, T30, ...
  std::map<std::string, std::array<double, 4>> rows;
  for (const std::string& line : lines(r.out)) {
    std::istringstream f(line);
    std::string value, unit;
    std::array<double, 4> row{};
    if (f >> value >> unit >> row[0] >> row[1] >> row[2] >> row[3] && room.count(value + " " + unit))
      rows[value + " " + unit] = row;
  }
  ASSERT_EQ(rows.size(), room.size()) << r.out;
  for (const auto& [band, t60] : room) {
    EXPECT_DOUBLE_EQ(rows[band][0], t60) << band;
    // T20 and T30; the outer bands are shown but their neighbours leak in:
    // there T30 only, within 10 %.
    const bool outer = band == "125 Hz" || band == "8 kHz";
    for (int k = outer ? 3 : 2; k <= 3; ++k)
      EXPECT_NEAR(rows[band][k], t60, (outer ? 0.10 : 0.05) * t60) << band;
  }
  EXPECT_NE(r.out.find("STI 0."), std::string::npos) << r.out;

  // The library's own strict reader reads the sweep (0.2 s of silence, 5 s
  // and 2 + 1 s of tail) and the response.
  const ReadBack sweep((dir / "sweep.wav").u16string().c_str()), ir((dir / "ir.wav").u16string().c_str());
  EXPECT_EQ(sweep.n, 9600 + 240000 + 144000);
  EXPECT_EQ(sweep.rate, 48000);
  EXPECT_EQ(ir.n, 524288);
  const std::string svg = readFile(dir / "decay.svg");
  EXPECT_EQ(svg.rfind("</svg>\n"), svg.size() - 7);
  for (const auto& [band, t60] : room) EXPECT_NE(svg.find(">" + band + "<"), std::string::npos) << band;
  EXPECT_GT(std::filesystem::file_size(dir / "recording.wav"), 44u);

  // The saved response analysed in the window of the demo's sweep gives the
  // demo's own figures (the file holds the response in single precision).
  const nlohmann::json again =
      runJson("reverb" + q(dir / "ir.wav") +
              " --length 5 --tail 2 --ranges 0,20,30 --format json")["positions"][0]["bands"];
  ASSERT_EQ(again.size(), 7u);
  for (const auto& b : again) {
    const std::string band = b["band"];
    ASSERT_TRUE(rows.count(band)) << b;
    EXPECT_NEAR(b["times_s"]["T20"].get<double>(), rows[band][2], 0.006) << b;
    EXPECT_NEAR(b["times_s"]["T30"].get<double>(), rows[band][3], 0.006) << b;
  }
  // Without the sweep's durations the response ends, after its noise, in the
  // rounding-level remainder of the deconvolution: that end is cut, and every
  // octave gives the figures of the sweep's window, with the dynamic range the
  // recording holds.
  const nlohmann::json plain = runJson("reverb" + q(dir / "ir.wav") + " --format json")["positions"][0];
  EXPECT_GT(plain["end_cut_s"].get<double>(), 7.0);
  ASSERT_EQ(plain["bands"].size(), 7u);
  for (size_t i = 0; i < 7; ++i) {
    const auto &b = plain["bands"][i], &windowed = again[i];
    EXPECT_EQ(b["result"], "ok") << b;
    EXPECT_NEAR(b["times_s"]["T30"].get<double>(), windowed["times_s"]["T30"].get<double>(),
                0.05 * windowed["times_s"]["T30"].get<double>())
        << b;
    EXPECT_LT(b["dynamic_range_db"].get<double>(), 80) << b;
  }
}

TEST(CliMeasurement, SweepThenIrRecoversAKnownResponse) {
  REQUIRE_CLI();
  TempFile sweep("cli_sweep.wav"), recording("cli_recording.wav"), ir("cli_ir.wav");
  const std::string options = " --length 2 --tail 1 --from 20 --to 24000 --fade";
  RunResult r = runTavrix("sweep" + q(sweep.path) + options);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<double> playback = ReadBack(sweep.c_str()).samples();
  // 0.2 s of silence, the 2 s sweep and 1 + 1 s of tail at 48 kHz.
  ASSERT_EQ(playback.size(), 9600u + 96000 + 96000);

  // The room: a direct sound after 240 samples and one reflection, recorded
  // on the second channel of a stereo file (the first holds only noise).
  std::vector<double> stereo(2 * playback.size(), 0.0);
  for (size_t i = 0; i < playback.size(); ++i) {
    stereo[2 * i] = 1e-3 * std::sin(0.1 * static_cast<double>(i));
    stereo[2 * i + 1] =
        (i >= 240 ? 0.8 * playback[i - 240] : 0) + (i >= 1000 ? -0.3 * playback[i - 1000] : 0);
  }
  writeWav(recording.path, stereo, 2, 48000, WavLayout::FloatWithListChunk);
  r = runTavrix("ir" + q(recording.path) + " --channel 2 -o" + q(ir.path) + options);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<double> h = ReadBack(ir.c_str()).samples();
  EXPECT_EQ(h.size(), 262144u);  // the recording's length rounded up to a power of two
  // The playback file holds the sweep at 0.99 of its level after 0.2 s of
  // silence: the response appears 9600 samples late and 0.99 times as strong.
  double largestElsewhere = 0;
  for (size_t i = 0; i < h.size(); ++i)
    if (i != 9600 + 240 && i != 9600 + 1000) largestElsewhere = std::max(largestElsewhere, std::fabs(h[i]));
  EXPECT_NEAR(h[9600 + 240], 0.8 * 0.99, 2e-3);
  EXPECT_NEAR(h[9600 + 1000], -0.3 * 0.99, 2e-3);
  EXPECT_LT(largestElsewhere, 5e-3);
}

// A rate at which the third harmonic of the sweep's top (60 kHz) stays below
// half the rate: the polynomial applied sample by sample aliases nothing.
constexpr int kRate = 192000;
constexpr double kSeconds = 3, kAmplitude = 0.5, kA2 = 0.1, kA3 = 0.2;

// A reverberator that colours nothing: a cascade of Schroeder all-pass
// sections, (-g + z^-D) / (1 - g z^-D), whose response decays over about a
// quarter of a second while its magnitude stays 1 at every frequency, so the
// harmonics keep their ratios to the fundamental.
void allPassRoom(std::vector<double>& x) {
  constexpr double g = 0.7;
  for (size_t delay : {1031u, 1693u, 2801u}) {
    std::vector<double> y(x.size());
    for (size_t i = 0; i < x.size(); ++i)
      y[i] = -g * x[i] + (i >= delay ? x[i - delay] + g * y[i - delay] : 0.0);
    x = y;
  }
}

TEST(CliDistortion, PolynomialHarmonicsAreFoundWithAndWithoutARoom) {
  REQUIRE_CLI();
  // x + a2 x^2 + a3 x^3 on A sin: a fundamental A (1 + 3 a3 A^2 / 4), a second
  // harmonic a2 A^2 / 2 and a third a3 A^3 / 4.
  const double fundamental = 1 + 0.75 * kA3 * kAmplitude * kAmplitude;
  const double h2 = kA2 * kAmplitude / 2 / fundamental, h3 = kA3 * kAmplitude * kAmplitude / 4 / fundamental;
  // The library's sweep, the one the tool deconvolves with, distorted.
  initTavrix();
  const int32_t h = initImpulse();
  std::vector<double> s(static_cast<size_t>(generateESS(h, kRate, 20, 20000, kSeconds, 1)));
  getESS(h, s.data());
  deleteImpulse(h);
  std::vector<double> recording(static_cast<size_t>(0.2 * kRate) + s.size() + 2 * kRate, 0.0);
  for (size_t i = 0; i < s.size(); ++i) {
    const double x = kAmplitude * s[i];
    recording[static_cast<size_t>(0.2 * kRate) + i] = x + kA2 * x * x + kA3 * x * x * x;
  }
  TempFile rec("cli_distorted.wav"), ir("cli_distorted_ir.wav");
  for (bool room : {false, true}) {
    SCOPED_TRACE(room ? "all-pass room" : "no room");
    if (room) allPassRoom(recording);
    writeWav(rec.path, recording, 1, kRate);
    const RunResult r = runTavrix("ir" + q(rec.path) + " -o" + q(ir.path) +
                                  " --from 20 --to 20000 --length 3 --tail 1 --distortion --harmonics 2..3 "
                                  "--format json");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("wrote"), std::string::npos);  // the notes leave stdout to the JSON
    int checked = 0;
    const nlohmann::json doc = nlohmann::json::parse(r.out);
    for (const auto& b : doc["bands"]) {
      const double f = b["frequency_hz"].get<double>();
      if (f < 99 || f > 5100) continue;
      ++checked;
      EXPECT_NEAR(b["harmonics_db"]["2"].get<double>(), 20 * std::log10(h2), 0.5) << b;
      EXPECT_NEAR(b["harmonics_db"]["3"].get<double>(), 20 * std::log10(h3), 0.5) << b;
      EXPECT_NEAR(b["thd_percent"].get<double>(), 100 * std::hypot(h2, h3), 0.06 * 100 * std::hypot(h2, h3));
    }
    EXPECT_EQ(checked, 18);  // 100 Hz to 5 kHz
  }
  // Harmonics too close together for a short sweep are refused.
  const RunResult r = runTavrix("ir" + q(rec.path) + " -o" + q(ir.path) +
                                " --length 0.2 --tail 1 --distortion --harmonics 2..10");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("harmonic 10 does not fit"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tavrix::test
#endif

// End to end through the tavrix binary: reverberation of responses that start
// with their direct sound, the script formats, and the error lines.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#if __has_include(<nlohmann/json.hpp>)
#include <nlohmann/json.hpp>
#define HAVE_JSON 1
#endif

#include "cli/cli_runner.h"

namespace tavrix::test {
namespace {

constexpr int kRate = 48000;

// A diffuse decay as cut by most tools: a direct sound at sample 0, then
// white noise whose level falls 60 dB in t60 seconds (the same in every band),
// over a steady noise floor 70 dB below the start of the decay.
std::vector<double> decayingNoise(double t60, double seconds, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss;
  const size_t n = static_cast<size_t>(seconds * kRate);
  std::vector<double> x(n);
  const double rate = 3 * std::log(10.0) / t60;  // amplitude decay per second
  for (size_t i = 0; i < n; ++i) {
    x[i] =
        0.1 * gauss(random) * std::exp(-rate * static_cast<double>(i) / kRate) + 0.1 * 3e-4 * gauss(random);
  }
  x[0] = 0.9;
  return x;
}

std::vector<std::string> split(const std::string& line, char sep) {
  std::vector<std::string> fields;
  std::istringstream s(line);
  for (std::string f; std::getline(s, f, sep);) fields.push_back(f);
  return fields;
}

TEST(CliReverb, DirectSoundAtTheFirstSampleIsAnalysedQuietly) {
  REQUIRE_CLI();
  TempFile a("cli_decay_a.wav"), b("cli_decay_b.wav");
  writeWav(a.path, decayingNoise(0.9, 2.5, 1), 1, kRate);
  writeWav(b.path, decayingNoise(0.9, 2.5, 2), 1, kRate, WavLayout::Extensible);

  RunResult r = runTavrix("reverb '" + a.path.string() + "' --low 1000 --high 4000");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");  // the lead-in is the tool's business
  r = runTavrix("reverb '" + a.path.string() + "' --low 1000 --high 4000 --verbose");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("silence"), std::string::npos) << r.err;

  // Two positions and their mean as CSV: a header, 3 bands x 3 sources.
  r = runTavrix("reverb '" + a.path.string() + "' '" + b.path.string() +
                "' --low 1000 --high 4000 --format csv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::istringstream lines(r.out);
  std::string line;
  std::getline(lines, line);
  const std::vector<std::string> header = split(line, ',');
  const auto column = [&](const std::string& name) {
    return static_cast<size_t>(std::find(header.begin(), header.end(), name) - header.begin());
  };
  ASSERT_LT(column("T30_s"), header.size()) << line;
  int rows = 0, meanRows = 0;
  while (std::getline(lines, line)) {
    const std::vector<std::string> f = split(line, ',');
    ASSERT_EQ(f.size(), header.size()) << line;
    ++rows;
    meanRows += f[column("source")] == "mean";
    EXPECT_EQ(f[column("status")], "0") << line;
    // One noise decay scatters by several percent around its nominal time in
    // an octave band; the mean of two positions comes closer.
    const double tolerance = f[column("source")] == "mean" ? 0.05 : 0.08;
    for (const char* range : {"T20_s", "T30_s"}) {
      EXPECT_NEAR(std::stod(f[column(range)]), 0.9, tolerance * 0.9) << line;
    }
  }
  EXPECT_EQ(rows, 9);
  EXPECT_EQ(meanRows, 3);
}

#ifdef HAVE_JSON
TEST(CliFormats, JsonOutputsParseAndHoldTheResults) {
  REQUIRE_CLI();
  TempFile ir("cli_json_ir.wav");
  writeWav(ir.path, decayingNoise(0.6, 2.0, 3), 1, kRate);

  RunResult r =
      runTavrix("reverb '" + ir.path.string() + "' --bands third --low 1000 --high 2000 --format json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const nlohmann::json reverb = nlohmann::json::parse(r.out);
  ASSERT_EQ(reverb["positions"].size(), 1u);
  EXPECT_FALSE(reverb.contains("ensemble"));
  const nlohmann::json& bands = reverb["positions"][0]["bands"];
  ASSERT_EQ(bands.size(), 4u);  // 1, 1.25, 1.6 and 2 kHz
  EXPECT_EQ(bands[1]["band"], "1.25 kHz");
  for (const auto& band : bands) EXPECT_NEAR(band["times_s"]["T20"].get<double>(), 0.6, 0.05) << band;

  // A perfect response (a single impulse) transmits every modulation.
  TempFile impulse("cli_impulse.wav");
  std::vector<double> x(kRate, 0.0);
  x[100] = 0.5;
  writeWav(impulse.path, x, 1, kRate);
  r = runTavrix("sti '" + impulse.path.string() + "' --format json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const nlohmann::json sti = nlohmann::json::parse(r.out);
  EXPECT_NEAR(sti["sti"].get<double>(), 1.0, 0.01);
  ASSERT_EQ(sti["mtf"].size(), 7u);
  EXPECT_EQ(sti["mtf"][0].size(), 14u);
  // The same response through 10 dB signal-to-noise: every m falls to
  // 1 / (1 + 10^-1), and the index to that value's transmission index.
  r = runTavrix("sti '" + impulse.path.string() +
                "' --female --format json --signal 60,60,60,60,60,60,60 "
                "--noise 50,50,50,50,50,50,50");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const double m = 1 / 1.1;
  EXPECT_NEAR(nlohmann::json::parse(r.out)["sti"].get<double>(), (10 * std::log10(m / (1 - m)) + 15) / 30,
              0.01);

  // A cosine exactly on bin 1000 of the 65536-point transform peaks there.
  TempFile tone("cli_tone.wav");
  std::vector<double> t(3 * 65536);
  for (size_t i = 0; i < t.size(); ++i)
    t[i] = 0.5 * std::cos(2 * M_PI * 1000.0 * static_cast<double>(i) / 65536);
  writeWav(tone.path, t, 1, kRate);
  r = runTavrix("spectrum '" + tone.path.string() + "' --format json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const nlohmann::json spectrum = nlohmann::json::parse(r.out);
  EXPECT_EQ(spectrum["blocks"], 3);
  const auto& level = spectrum["level_db"];
  ASSERT_EQ(level.size(), 32769u);
  size_t peak = 0;
  for (size_t k = 0; k < level.size(); ++k) {
    if (!level[k].is_null() && level[k].get<double>() > level[peak].get<double>()) peak = k;
  }
  EXPECT_EQ(peak, 1000u);
  EXPECT_DOUBLE_EQ(spectrum["frequency_hz"][1000].get<double>(), 1000.0 * kRate / 65536);
}
#endif

TEST(CliFormats, SpectrumAndStiCsvHaveOneRowPerValue) {
  REQUIRE_CLI();
  TempFile impulse("cli_csv_impulse.wav");
  std::vector<double> x(kRate, 0.0);
  x[0] = 0.5;
  writeWav(impulse.path, x, 1, kRate);
  RunResult r = runTavrix("spectrum '" + impulse.path.string() + "'");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(lineCount(r.out), 1 + 32769);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "frequency_hz,level_db");
  r = runTavrix("sti '" + impulse.path.string() + "' --format csv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(lineCount(r.out), 1 + 1 + 7 * 14);
  for (const std::string& line : split(r.out, '\n')) EXPECT_EQ(split(line + ",", ',').size(), 4u) << line;
}

TEST(CliErrors, OneLineNamingTheProblemAndTheRightExitStatus) {
  REQUIRE_CLI();
  TempFile text("cli_not_audio.wav"), stereo("cli_stereo.wav"), silence("cli_silence.wav"),
      ir("cli_err_ir.wav");
  std::ofstream(text.path) << "this is not a sound file\n";
  writeWav(stereo.path, std::vector<double>(2 * kRate, 0.1), 2, kRate);
  writeWav(silence.path, std::vector<double>(2 * kRate, 0.0), 1, kRate);
  writeWav(ir.path, decayingNoise(0.5, 1.5, 4), 1, kRate);
  const std::string missing = (scratchDir() / "no_such_recording.wav").string();

  struct Case {
    std::string args;
    int exitCode;
    std::string mentions;
  };
  const Case cases[] = {
      {"reverb '" + missing + "'", 2, "no_such_recording.wav: no such file"},
      {"reverb '" + stereo.path.string() + "'", 2, "2 channels; choose one with --channel 1..2"},
      {"reverb '" + stereo.path.string() + "' --channel 3", 2, "--channel 3"},
      {"reverb '" + ir.path.string() + "' --bands fifth", 2, "--bands"},
      {"reverb '" + ir.path.string() + "' --low 40000", 2, "--low 40000: outside the octave bands"},
      {"reverb '" + ir.path.string() + "' --ranges 0,5", 2, "T5 is not a range"},
      {"reverb '" + ir.path.string() + "' --ranges 0,x", 2, "'x' is not a number"},
      {"reverb '" + text.path.string() + "'", 1, "cli_not_audio.wav: not a readable audio file"},
      {"reverb '" + silence.path.string() + "'", 1, "no distinct direct sound"},
      {"sweep '" + missing + "' --to 30000", 2, "--to 30000: above half the sample rate"},
      {"sweep '" + missing + "' --gain 3", 2, "--gain 3"},
      {"sweep /no/such/dir/sweep.wav", 1, "/no/such/dir/sweep.wav: cannot be written"},
      {"ir '" + ir.path.string() + "' -o '" + missing + "' --length 10", 1, "shorter than the 10 s sweep"},
      {"sti '" + ir.path.string() + "' --signal 1,2,3", 2, "needs its partner"},
      {"sti '" + ir.path.string() + "' --signal 1,2,3 --noise 1,2,3", 2, "--signal: give 7 levels"},
      {"calibrate '" + ir.path.string() + "' out.mp3 --sensitivity -30", 2,
       "out.mp3: the output must end in"},
      {"calibrate '" + ir.path.string() + "' out.uff", 2, "--sensitivity"},
      {"frobnicate", 2, "frobnicate"},
      {"", 2, ""},
  };
  for (const Case& c : cases) {
    const RunResult r = runTavrix(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.err;
    EXPECT_NE(r.err.find(c.mentions), std::string::npos) << c.args << "\n" << r.err;
    if (!c.args.empty()) {
      EXPECT_EQ(lineCount(r.err), 1) << c.args << "\n" << r.err;
    }
    EXPECT_EQ(r.err.find("terminate"), std::string::npos) << r.err;
  }

  RunResult r = runTavrix("--help");
  EXPECT_EQ(r.exitCode, 0);
  for (const char* command : {"demo", "sweep", "ir", "reverb", "sti", "spectrum", "calibrate"}) {
    EXPECT_NE(r.out.find(command), std::string::npos) << command;
  }
  r = runTavrix("reverb --help");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("--ranges"), std::string::npos);
  r = runTavrix("--version");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.rfind("tavrix ", 0), 0u);
}

TEST(CliCalibrate, WritesTheDatasetAndTheFloatWavFromAnyLayout) {
  REQUIRE_CLI();
  TempFile in("cli_cal_in.wav"), uff("cli_cal.uff"), wav("cli_cal_out.wav");
  const std::vector<double> x(1000, 0.25);
  writeWav(in.path, x, 1, kRate, WavLayout::FloatWithListChunk);
  RunResult r =
      runTavrix("calibrate '" + in.path.string() + "' '" + uff.path.string() + "' --sensitivity -26");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string dataset = readFile(uff.path);
  EXPECT_EQ(dataset.rfind("    -1\n    58b", 0), 0u);
  // The binary block (8 bytes per sample) ends with the closing delimiter.
  EXPECT_EQ(dataset.substr(dataset.size() - 7), "    -1\n");
  EXPECT_NE(dataset.find("     8000\n"), std::string::npos);  // header's byte count, %12i
  r = runTavrix("calibrate '" + in.path.string() + "' '" + wav.path.string() + "' --sensitivity -26");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(std::filesystem::file_size(wav.path), 44u + 4 * x.size());
}

}  // namespace
}  // namespace tavrix::test

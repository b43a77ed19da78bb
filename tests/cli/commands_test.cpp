// End to end through the tavrix binary: reverberation of responses that start
// with their direct sound, the script formats, the reports and the error lines.
#include <gtest/gtest.h>

#include "cli/cli_runner.h"
#include "tavrix.h"

#if __has_include(<nlohmann/json.hpp>)

namespace tavrix::test {
namespace {

constexpr int kRate = 48000;

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Two positions of a decay, one with its direct sound at the first sample (no
// lead-in), the other half a second later, through every report of the reverb
// command.
TEST(CliReverb, DirectSoundAtTheFirstSampleThroughEveryReport) {
  REQUIRE_CLI();
  TempFile a("cli_decay_a.wav"), b("cli_decay_b.wav"), svg("cli_plot.svg");
  writeWav(a.path, decayingNoise(0.9, 2.5, kRate, 0, 1), 1, kRate);
  writeWav(b.path, decayingNoise(0.9, 2.5, kRate, kRate / 2, 2), 1, kRate, WavLayout::Extensible);
  RunResult r = runTavrix("reverb" + q(a.path) + " --low 1000 --high 4000");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");  // the missing lead-in is the tool's business
  r = runTavrix("reverb" + q(a.path) + " --low 1000 --high 4000 --verbose");
  EXPECT_NE(r.err.find("silence"), std::string::npos) << r.err;

  // Two positions and their mean as CSV: a header, 3 bands x 3 sources.
  r = runTavrix("reverb" + q(a.path) + q(b.path) + " --low 1000 --high 4000 --format csv --plot" +
                q(svg.path));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<std::string> rows = lines(r.out), header = split(rows[0], ',');
  const auto column = [&](const char* name) { return std::ranges::find(header, name) - header.begin(); };
  ASSERT_LT(column("T30_s"), std::ssize(header)) << rows[0];
  ASSERT_EQ(rows.size(), 1u + 9);
  int meanRows = 0;
  for (size_t i = 1; i < rows.size(); ++i) {
    const std::vector<std::string> f = split(rows[i], ',');
    ASSERT_EQ(f.size(), header.size()) << rows[i];
    const bool mean = f[column("source")] == "mean";
    meanRows += mean;
    EXPECT_EQ(f[column("status")], "0") << rows[i];
    // The onset in each file's own seconds, before the silence put in front
    // of the first; the mean has no one file.
    if (mean) {
      EXPECT_EQ(f[column("onset_s")], "") << rows[i];
    } else {
      EXPECT_NEAR(std::stod(f[column("onset_s")]), f[column("source")] == a.path ? 0.0 : 0.5, 0.0005)
          << rows[i];
    }
    // One noise decay scatters by several percent around its nominal time in
    // an octave band; the mean of two positions comes closer.
    for (const char* range : {"T20_s", "T30_s"})
      EXPECT_NEAR(std::stod(f[column(range)]), 0.9, (mean ? 0.05 : 0.08) * 0.9) << rows[i];
  }
  EXPECT_EQ(meanRows, 3);
  // The plot of the mean, per band: level and decay curves as polylines, the
  // noise level and the late-decay model as dashed lines (one more of each in
  // the legend), a name and labelled axes.
  const std::string plot = readFile(svg.path);
  EXPECT_NE(plot.find("mean of 2 positions"), std::string::npos);
  EXPECT_EQ(count(plot, "<polyline"), 2u * 3);
  EXPECT_EQ(count(plot, "stroke-dasharray=\"6 4\""), 3u + 1);
  EXPECT_EQ(count(plot, "stroke-dasharray=\"3 3\""), 3u + 1);
  EXPECT_EQ(count(plot, "Time after the direct sound (s)"), 3u);
  EXPECT_EQ(count(plot, ">Level (dB)<"), 3u);
  for (const char* band : {">1 kHz<", ">2 kHz<", ">4 kHz<"}) EXPECT_NE(plot.find(band), std::string::npos);
  EXPECT_EQ(plot.find("nan"), std::string::npos);
  EXPECT_EQ(plot.find("inf"), std::string::npos);

  // Third octaves as JSON; other ranges become other CSV columns.
  const nlohmann::json bands = runJson(
      "reverb" + q(a.path) + " --bands third --low 1000 --high 2000 --format json")["positions"][0]["bands"];
  ASSERT_EQ(bands.size(), 4u);  // 1, 1.25, 1.6 and 2 kHz
  EXPECT_EQ(bands[1]["band"], "1.25 kHz");
  for (const auto& band : bands) EXPECT_NEAR(band["times_s"]["T20"].get<double>(), 0.9, 0.08 * 0.9) << band;
  r = runTavrix("reverb" + q(a.path) + " --ranges 0,15,25 --low 1000 --high 1000 --format csv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(
      r.out.substr(0, r.out.find('\n')),
      "source,source_rate_hz,analysed_rate_hz,band,frequency_hz,EDT_s,T15_s,T25_s,r2_EDT,r2_T15,r2_T25,"
      "dynamic_range_db,curvature_percent,noise_level_db,peak_level_db,status,result,status_text,doubts,"
      "onset_s,crosspoint_s,window_start_s,window_end_s");
  EXPECT_EQ(lineCount(r.out), 2);
}

// A perfect response (a single impulse) and a tone through the sti, spectrum
// and calibrate commands.
TEST(CliFormats, ImpulseAndToneThroughStiSpectrumAndCalibrate) {
  REQUIRE_CLI();
  TempFile impulse("cli_impulse.wav"), tone("cli_tone.wav"), uff("cli_cal.uff"), wav("cli_cal_out.wav");
  std::vector<double> x(kRate, 0.0);
  x[100] = 0.5;
  writeWav(impulse.path, x, 1, kRate, WavLayout::FloatWithListChunk);
  // The impulse transmits every modulation; through 10 dB signal-to-noise
  // every m falls to 1 / (1 + 10^-1), and the index to that value's
  // transmission index.
  const nlohmann::json sti = runJson("sti" + q(impulse.path) + " --format json");
  EXPECT_NEAR(sti["sti"].get<double>(), 1.0, 0.01);
  ASSERT_EQ(sti["mtf"].size(), 7u);
  const double m = 1 / 1.1;
  EXPECT_NEAR(runJson("sti" + q(impulse.path) + " --female --format json --signal 60,60,60,60,60,60,60 " +
                      "--noise 50,50,50,50,50,50,50")["sti"]
                  .get<double>(),
              (10 * std::log10(m / (1 - m)) + 15) / 30, 0.01);
  RunResult r = runTavrix("sti" + q(impulse.path) + " --format csv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(lineCount(r.out), 1 + 1 + 7 * 14);
  for (const std::string& line : lines(r.out)) EXPECT_EQ(split(line, ',').size(), 4u) << line;
  r = runTavrix("spectrum" + q(impulse.path));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(lineCount(r.out), 1 + 32769);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "frequency_hz,level_db");
  // One block is made from a file shorter than it by zero padding.
  EXPECT_EQ(runJson("spectrum" + q(impulse.path) + " --format json")["blocks"], 1);

  // A cosine exactly on bin 1000 of the 65536-point transform peaks there.
  std::vector<double> t(3 * 65536);
  for (size_t i = 0; i < t.size(); ++i)
    t[i] = 0.5 * std::cos(2 * M_PI * 1000.0 * static_cast<double>(i) / 65536);
  writeWav(tone.path, t, 1, kRate);
  const nlohmann::json spectrum = runJson("spectrum" + q(tone.path) + " --format json");
  EXPECT_EQ(spectrum["blocks"], 3);
  const auto& level = spectrum["level_db"];
  ASSERT_EQ(level.size(), 32769u);
  const auto db = [](const nlohmann::json& v) { return v.is_null() ? -HUGE_VAL : v.get<double>(); };
  EXPECT_EQ(std::ranges::max_element(level, {}, db) - level.begin(), 1000);
  EXPECT_DOUBLE_EQ(spectrum["frequency_hz"][1000].get<double>(), 1000.0 * kRate / 65536);

  // The calibration dataset and the float WAV, from a file with a LIST chunk.
  r = runTavrix("calibrate" + q(impulse.path) + q(uff.path) + " --sensitivity -26");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string dataset = readFile(uff.path);
  EXPECT_EQ(dataset.rfind("    -1\n    58b", 0), 0u);
  // The binary block (8 bytes per sample) ends with the closing delimiter.
  EXPECT_EQ(dataset.substr(dataset.size() - 7), "    -1\n");
  EXPECT_NE(dataset.find("      384000\n"), std::string::npos);  // header's byte count, %12i
  r = runTavrix("calibrate" + q(impulse.path) + q(wav.path) + " --sensitivity -26");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(std::filesystem::file_size(wav.path), 44u + 4 * 48000);
}

// Both pictures of a file whose name holds markup characters, quotes and a
// control character are documents an XML parser reads, the name escaped.
TEST(CliPlots, OddFileNamesGiveWellFormedDocuments) {
  REQUIRE_CLI();
  const std::string odd = "a&b <c> \"d\" \x01";
  TempFile ir(odd + ".wav"), rec(odd + " rec.wav"), out("cli_odd_ir.wav"), decay("cli_odd_decay.svg"),
      harmonics("cli_odd_harmonics.svg");
  writeWav(ir.path, decayingNoise(0.5, 1.5, kRate, 0, 4), 1, kRate);
  initTavrix();
  const int32_t h = initImpulse();
  std::vector<double> sweep(static_cast<size_t>(generateESS(h, kRate, 20, 20000, 1, 1)));
  getESS(h, sweep.data());
  deleteImpulse(h);
  std::vector<double> recording(3 * sweep.size(), 0.0);
  for (size_t i = 0; i < sweep.size(); ++i)
    recording[kRate / 5 + i] = 0.5 * sweep[i] + 0.05 * std::pow(sweep[i], 2);
  writeWav(rec.path, recording, 1, kRate);
  ASSERT_EQ(runTavrix("reverb" + q(ir.path) + " --plot" + q(decay.path)).exitCode, 0);
  const RunResult r =
      runTavrix("ir" + q(rec.path) + " -o" + q(out.path) +
                " --length 1 --tail 1 --distortion --harmonics 2..3 --plot" + q(harmonics.path));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const TempFile* svg : {&decay, &harmonics}) {
    const std::string text = readFile(svg->path);
    EXPECT_NE(text.find("a&amp;b &lt;c&gt; &quot;d&quot; ?"), std::string::npos) << text.substr(0, 600);
    if (std::system("test -x /usr/bin/python3") == 0) {
      const std::string parse =
          "/usr/bin/python3 -c 'import sys, xml.etree.ElementTree as E; E.parse(sys.argv[1])'" + q(svg->path);
      EXPECT_EQ(std::system(parse.c_str()), 0) << svg->path;
    }
  }
}

TEST(CliErrors, OneLineNamingTheProblemAndTheRightExitStatus) {
  REQUIRE_CLI();
  TempFile text("cli_not_audio.wav"), stereo("cli_stereo.wav"), silence("cli_silence.wav"),
      ir("cli_err_ir.wav"), at44("cli_ens_44.wav");
  std::ofstream(text.path) << "this is not a sound file\n";
  writeWav(stereo.path, std::vector<double>(2 * kRate, 0.1), 2, kRate);
  writeWav(silence.path, std::vector<double>(2 * kRate, 0.0), 1, kRate);
  writeWav(ir.path, decayingNoise(0.5, 1.5, kRate, 0, 4), 1, kRate);
  writeWav(at44.path, decayingNoise(0.8, 2.5, 44100, 22050, 9), 1, 44100);
  const std::string missing = q(scratchDir() / "no_such_recording.wav"), in = q(ir.path);
  const struct {
    std::string args;
    int exitCode;
    std::string mentions;
  } cases[] = {
      {"reverb" + missing, 2, "no_such_recording.wav: no such file"},
      {"reverb" + q(stereo.path), 2, "2 channels; choose one of channels 1..2"},
      {"reverb" + q(stereo.path) + " --channel 3", 2, "channel 3"},
      {"reverb" + in + " --bands fifth", 2, "--bands"},
      {"reverb" + in + " --low 40000", 2, "low 40000 Hz: outside the octave bands"},
      {"reverb" + in + " --ranges 0,5", 2, "5 dB is not a decay range"},
      {"reverb" + in + " --ranges 0,x", 2, "'x' is not a number"},
      {"reverb" + in + q(at44.path) + " --native-rate", 2, "cli_ens_44.wav: sampled at 44100 Hz"},
      {"reverb" + in + " --channel 0", 2, "--channel: 0: channels are numbered from 1"},
      {"spectrum" + in + " --channel 0", 2, "--channel: 0"},
      {"reverb" + q(text.path), 1, "cli_not_audio.wav: not a readable audio file"},
      {"reverb" + q(silence.path), 1, "nothing but digital silence"},
      {"sweep" + missing + " --to 30000", 2, "--to 30000: above half the sample rate"},
      {"sweep" + missing + " --gain 3", 2, "--gain 3"},
      {"sweep /no/such/dir/sweep.wav", 1, "/no/such/dir/sweep.wav: cannot be written"},
      {"ir" + q(stereo.path) + " -o" + missing, 2, "2 channels"},
      {"ir" + in + " -o" + missing + " --length 10", 1, "shorter than the 10 s sweep"},
      {"sti" + in + " --signal 1,2,3", 2, "needs its partner"},
      {"sti" + in + " --signal 1,2,3 --noise 1,2,3", 2, "--signal: give 7 levels"},
      {"calibrate" + in + " out.mp3 --sensitivity -30", 2, "out.mp3: the output must end in"},
      {"calibrate" + in + " out.uff", 2, "--sensitivity"},
      {"frobnicate", 2, "frobnicate"},
      {"", 2, ""},
  };
  for (const auto& c : cases) {
    const RunResult r = runTavrix(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.err;
    EXPECT_NE(r.err.find(c.mentions), std::string::npos) << c.args << "\n" << r.err;
    EXPECT_TRUE(c.args.empty() || lineCount(r.err) == 1) << c.args << "\n" << r.err;
    EXPECT_EQ(r.out, "") << c.args;
  }

  RunResult r = runTavrix("--help");
  EXPECT_EQ(r.exitCode, 0);
  for (const char* command : {"demo", "sweep", "ir", "reverb", "sti", "spectrum", "calibrate"})
    EXPECT_NE(r.out.find(command), std::string::npos) << command;
  r = runTavrix("reverb --help");
  EXPECT_NE(r.out.find("--ranges"), std::string::npos);
  r = runTavrix("--version");
  EXPECT_EQ(r.out.rfind("tavrix ", 0), 0u);
}

}  // namespace
}  // namespace tavrix::test
#endif

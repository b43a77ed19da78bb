// End to end through the tavrix binary: what the reports hold beyond the
// numbers (decay plot, range columns, notes) and how ensembles are refused.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "cli/cli_runner.h"

namespace tavrix::test {
namespace {

// A direct sound followed by a noise decay of 60 dB in t60 over a floor
// 70 dB down; positioned half a second into the file.
std::vector<double> response(double t60, int rate, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss;
  const size_t start = static_cast<size_t>(rate / 2), n = static_cast<size_t>(2.5 * rate);
  std::vector<double> x(n);
  for (size_t i = 0; i < n; ++i) {
    const double t = (static_cast<double>(i) - static_cast<double>(start)) / rate;
    x[i] = 3e-5 * gauss(random) + (t >= 0 ? 0.1 * gauss(random) * std::pow(10.0, -3 * t / t60) : 0.0);
  }
  x[start] = 0.9;
  return x;
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(CliReport, DecayPlotHasAPanelPerBandWithItsFourCurves) {
  REQUIRE_CLI();
  TempFile a("cli_plot_a.wav"), b("cli_plot_b.wav"), svg("cli_plot.svg");
  writeWav(a.path, response(0.7, 48000, 5), 1, 48000);
  writeWav(b.path, response(0.7, 48000, 6), 1, 48000);
  const RunResult r = runTavrix("reverb '" + a.path.string() + "' '" + b.path.string() +
                                "' --low 500 --high 4000 --plot '" + svg.path.string() + "'");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string plot = readFile(svg.path);
  EXPECT_NE(plot.find("mean of 2 positions"), std::string::npos);
  // Per band: level and decay curves as polylines, the noise level and the
  // late-decay model as dashed lines, a name and labelled axes.
  EXPECT_EQ(count(plot, "<polyline"), 2u * 4);
  EXPECT_EQ(count(plot, "stroke-dasharray=\"6 4\""), 4u + 1);  // + legend
  EXPECT_EQ(count(plot, "stroke-dasharray=\"3 3\""), 4u + 1);
  EXPECT_EQ(count(plot, "Time after the direct sound (s)"), 4u);
  EXPECT_EQ(count(plot, ">Level (dB)<"), 4u);
  for (const char* band : {">500 Hz<", ">1 kHz<", ">2 kHz<", ">4 kHz<"})
    EXPECT_NE(plot.find(band), std::string::npos);
  EXPECT_EQ(plot.find("nan"), std::string::npos);
  EXPECT_EQ(plot.find("inf"), std::string::npos);
}

TEST(CliReport, RangesBecomeColumnsAndOddRatesAreNoted) {
  REQUIRE_CLI();
  TempFile ir("cli_rate.wav");
  writeWav(ir.path, response(0.8, 44100, 7), 1, 44100);
  const RunResult r =
      runTavrix("reverb '" + ir.path.string() + "' --ranges 0,15,25 --low 1000 --high 1000 --format csv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(
      r.out.substr(0, r.out.find('\n')),
      "source,band,frequency_hz,EDT_s,T15_s,T25_s,r2_EDT,r2_T15,r2_T25,dynamic_range_db,curvature_percent,"
      "noise_level_db,peak_level_db,status");
  EXPECT_EQ(lineCount(r.out), 2);
  // The band filters are 48 kHz designs; at 44.1 kHz every band moves down.
  EXPECT_NE(r.err.find("44100 Hz"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("0.919"), std::string::npos) << r.err;
}

TEST(CliReport, EnsemblesNeedOneSampleRate) {
  REQUIRE_CLI();
  TempFile a("cli_ens_48.wav"), b("cli_ens_44.wav");
  writeWav(a.path, response(0.8, 48000, 8), 1, 48000);
  writeWav(b.path, response(0.8, 44100, 9), 1, 44100);
  const RunResult r = runTavrix("reverb '" + a.path.string() + "' '" + b.path.string() + "'");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("cli_ens_44.wav: sampled at 44100 Hz"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST(CliReport, ShortFilesAreRefusedOrPadded) {
  REQUIRE_CLI();
  TempFile tiny("cli_tiny.wav");
  std::vector<double> x(4800, 0.0);
  x[10] = 0.5;
  writeWav(tiny.path, x, 1, 48000);
  RunResult r = runTavrix("reverb '" + tiny.path.string() + "'");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("only 0.100 s long"), std::string::npos) << r.err;
  // One block of 65536 samples is made from a shorter file by zero padding.
  r = runTavrix("spectrum '" + tiny.path.string() + "' --format json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("\"blocks\": 1"), std::string::npos);
}

}  // namespace
}  // namespace tavrix::test

// `tavrix spatial` and `tavrix sti --stipa` end to end: channels chosen from
// a multichannel file, the B-format convention, and one set of figures in
// every format.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cli_runner.h"

namespace tavrix::test {
namespace {

constexpr int kRate = 48000;

// A four-channel FuMa B-format response W, X, Y, Z of a direct sound from
// the front (+x) and two reflections from the left (+y) at 20 and 50 ms, over
// a diffuse tail from 150 ms on. W is 3 dB down; Y = p sin(azimuth).
std::vector<double> bFormat(double& lf, double& lfc) {
  const size_t n = static_cast<size_t>(1.5 * kRate), at = kRate / 5;
  std::vector<double> p = decayingNoise(0.8, 1.5, kRate, at, 7), y(n, 0.0);
  for (size_t i = 0; i < at + static_cast<size_t>(0.15 * kRate); ++i) p[i] = 0;
  for (size_t i = 0; i < n; ++i) p[i] *= 0.01;
  p[at] = 1;
  const double a[2] = {0.6, 0.5}, sine[2] = {1.0, 0.7};
  const size_t when[2] = {at + 960, at + 2400};
  for (int k = 0; k < 2; ++k) {
    p[when[k]] += a[k];
    y[when[k]] += a[k] * sine[k];
  }
  const double early = 1 + a[0] * a[0] + a[1] * a[1];
  lf = (a[0] * a[0] * sine[0] * sine[0] + a[1] * a[1] * sine[1] * sine[1]) / early;
  lfc = (a[0] * a[0] * sine[0] + a[1] * a[1] * sine[1]) / early;
  std::vector<double> out(4 * n, 0.0);
  for (size_t i = 0; i < n; ++i) {
    out[4 * i] = p[i] / std::sqrt(2.0);
    out[4 * i + 2] = y[i];
  }
  return out;
}

TEST(CliSpatial, LateralFractionsOfBFormatInEveryFormat) {
  REQUIRE_CLI();
  TempFile file("cli_bformat.wav");
  double lf = 0, lfc = 0;
  writeWav(file.path, bFormat(lf, lfc), 4, kRate);
  const std::string args = "spatial" + q(file.path) + " --lateral 1,3 --bformat fuma";
  const nlohmann::json doc = runJson(args + " --format json");
  ASSERT_EQ(doc["bands"].size(), 6u);
  EXPECT_EQ(doc["mode"], "lateral");
  EXPECT_EQ(doc["convention"], "fuma");
  EXPECT_EQ(doc["bands"][3]["band"], "1 kHz");
  for (size_t b = 2; b < 6; ++b) {
    EXPECT_NEAR(doc["bands"][b]["lf"].get<double>(), lf, 0.01) << doc["bands"][b]["band"];
    EXPECT_NEAR(doc["bands"][b]["lfc"].get<double>(), lfc, 0.01) << doc["bands"][b]["band"];
  }
  RunResult r = runTavrix(args + " --format csv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<std::string> rows = lines(r.out);
  ASSERT_EQ(rows.size(), 1u + 6 + 1);
  EXPECT_EQ(rows[0], "band,lf,lfc");
  EXPECT_EQ(split(rows[4], ','),
            (std::vector<std::string>{"1 kHz", doc["bands"][3]["lf"].dump(), doc["bands"][3]["lfc"].dump()}));
  EXPECT_DOUBLE_EQ(std::stod(split(rows[7], ',')[1]), doc["mean"]["lf"].get<double>());
  r = runTavrix(args);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mean 125 Hz - 1 kHz"), std::string::npos) << r.out;
  // Read as a plain pair, W's 3 dB make every fraction twice as large.
  const nlohmann::json pair = runJson("spatial" + q(file.path) + " --lateral 1,3 --format json");
  EXPECT_NEAR(pair["bands"][3]["lf"].get<double>(), 2 * doc["bands"][3]["lf"].get<double>(), 1e-9);
}

TEST(CliSpatial, BinauralCorrelationInEveryFormat) {
  REQUIRE_CLI();
  TempFile file("cli_binaural.wav");
  // The right ear hears the left's response 0.5 ms later.
  const std::vector<double> left = decayingNoise(0.9, 1.5, kRate, kRate / 5, 8);
  std::vector<double> stereo(2 * left.size(), 0.0);
  for (size_t i = 0; i < left.size(); ++i) stereo[2 * i] = left[i];
  for (size_t i = 0; i + 24 < left.size(); ++i) stereo[2 * (i + 24) + 1] = left[i];
  writeWav(file.path, stereo, 2, kRate);
  const nlohmann::json doc = runJson("spatial" + q(file.path) + " --binaural 1,2 --format json");
  ASSERT_EQ(doc["bands"].size(), 6u);
  EXPECT_EQ(doc["reference"], "left");
  for (size_t b = 2; b < 6; ++b) {
    for (const char* key : {"iacc_early", "iacc_late", "iacc"})
      EXPECT_NEAR(doc["bands"][b][key].get<double>(), 1, 0.01) << key;
  }
  EXPECT_NEAR(doc["mean"]["iacc_early"].get<double>(), 1, 0.01);
  const RunResult r = runTavrix("spatial" + q(file.path) + " --binaural 1,2 --format csv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(lines(r.out)[0], "band,iacc_early,iacc_late,iacc,late_end_ms");
  EXPECT_EQ(lineCount(r.out), 1 + 6 + 1);
}

TEST(CliSpatial, StipaNextToTheFullIndex) {
  REQUIRE_CLI();
  TempFile file("cli_stipa.wav");
  writeWav(file.path, decayingNoise(0.8, 1.5, kRate, 0, 9), 1, kRate);
  const nlohmann::json doc = runJson("sti" + q(file.path) + " --stipa --format json");
  EXPECT_NEAR(doc["stipa"].get<double>(), doc["sti"].get<double>(), 0.03);
  ASSERT_EQ(doc["stipa_mtf"].size(), 7u);
  EXPECT_EQ(doc["stipa_modulation_frequencies_hz"][3], (std::vector<double>{2.0, 10.0}));
  EXPECT_FALSE(runJson("sti" + q(file.path) + " --format json").contains("stipa"));
  const RunResult r = runTavrix("sti" + q(file.path) + " --stipa --format csv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(lineCount(r.out), 1 + 1 + 7 * 14 + 1 + 7 * 2);
  EXPECT_NE(r.out.find("\nstipa,,," + doc["stipa"].dump() + "\n"), std::string::npos);
}

TEST(CliSpatial, UsageErrorsSayWhatToGive) {
  REQUIRE_CLI();
  TempFile file("cli_spatial_usage.wav");
  writeWav(file.path, std::vector<double>(2 * kRate, 0.1), 2, kRate);
  for (const std::string args : {" --lateral 1,2 --binaural 1,2", "", " --binaural 1,2 --bformat fuma",
                                 " --lateral 1", " --lateral 2,2"}) {
    const RunResult r = runTavrix("spatial" + q(file.path) + args);
    EXPECT_EQ(r.exitCode, 2) << args << ": " << r.err;
    EXPECT_EQ(lineCount(r.err), 1) << r.err;
  }
  const RunResult r = runTavrix("spatial" + q(file.path) + " --lateral 1,3");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("channel"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tavrix::test

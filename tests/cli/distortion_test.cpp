// Harmonic distortion through `tavrix ir --distortion`: a sweep distorted by
// a known memoryless polynomial, with and without a room after it.
#include <gtest/gtest.h>

#if __has_include(<nlohmann/json.hpp>)
#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"
#include "tavrix.h"

namespace tavrix::test {
namespace {

// A rate at which the third harmonic of the sweep's top (60 kHz) stays below
// half the rate: the polynomial applied sample by sample aliases nothing.
constexpr int kRate = 192000;
constexpr double kSeconds = 3, kAmplitude = 0.5, kA2 = 0.1, kA3 = 0.2;

std::vector<double> sweepSamples() {
  initTavrix();
  const int32_t h = initImpulse();
  std::vector<double> s(static_cast<size_t>(generateESS(h, kRate, 20, 20000, kSeconds, 1)));
  getESS(h, s.data());
  deleteImpulse(h);
  return s;
}

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
  const std::vector<double> s = sweepSamples();
  std::vector<double> recording(static_cast<size_t>(0.2 * kRate) + s.size() + 2 * kRate, 0.0);
  for (size_t i = 0; i < s.size(); ++i) {
    const double x = kAmplitude * s[i];
    recording[static_cast<size_t>(0.2 * kRate) + i] = x + kA2 * x * x + kA3 * x * x * x;
  }
  for (bool room : {false, true}) {
    SCOPED_TRACE(room ? "all-pass room" : "no room");
    if (room) allPassRoom(recording);
    TempFile rec("cli_distorted.wav"), ir("cli_distorted_ir.wav");
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
  // Harmonics too close together for the sweep are refused.
  TempFile rec("cli_short_sweep.wav");
  writeWav(rec.path, std::vector<double>(kRate, 0.1), 1, kRate);
  const RunResult r = runTavrix("ir" + q(rec.path) + " -o" + q(rec.path) +
                                " --length 0.2 --tail 1 --distortion --harmonics 2..10");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("harmonic 10 does not fit"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tavrix::test
#endif

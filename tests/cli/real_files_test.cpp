// Responses as users bring them, through the tool: short and gated decays,
// a multichannel file, the energy parameters and their broadband rows.
#include <gtest/gtest.h>

#include <complex>

#include "cli/cli_runner.h"

#if __has_include(<nlohmann/json.hpp>)
#include "tavrix.h"

namespace tavrix::test {
namespace {

// A room as a sum of decaying modes with fixed frequencies and phases: one
// continuous signal, so the same room can be sampled at any rate. Direct
// sound at `start` seconds, a noise floor noiseDb below full scale (none for
// noiseDb <= -200).
std::vector<double> modalRoom(int rate, double seconds, double t60, double start, double noiseDb = -200,
                              int modes = 500) {
  std::mt19937 random(11);
  std::uniform_real_distribution<double> uniform;
  std::normal_distribution<double> gauss;
  std::vector<double> x(static_cast<size_t>(seconds * rate), 0.0);
  const size_t first = static_cast<size_t>(start * rate);
  for (int m = 0; m < modes; ++m) {
    const double f = 60 * std::pow(12000 / 60.0, uniform(random)), phase = 2 * M_PI * uniform(random);
    const double amplitude = gauss(random) * 2e-3;
    // exp((-6.908 / T60 + 2 pi i f) t) advanced one sample at a time.
    const std::complex<double> step =
        std::exp(std::complex<double>(-6.908 / t60, 2 * M_PI * f) / double(rate));
    std::complex<double> z = amplitude * std::exp(std::complex<double>(0, phase));
    for (size_t i = first; i < x.size(); ++i, z *= step) x[i] += z.real();
  }
  if (noiseDb > -200)
    for (double& v : x) v += std::pow(10.0, noiseDb / 20) * gauss(random);
  return x;
}

nlohmann::json reverbJson(const std::filesystem::path& file, const std::string& options = "") {
  return runJson("reverb" + q(file) + " --format json --ranges 0,20,30" + options);
}

TEST(CliRealFiles, ShortAndGatedDecaysGiveTimesInEveryOctave) {
  REQUIRE_CLI();
  const struct {
    const char* name;
    double seconds, t60, gateSeconds;
  } rooms[] = {{"cli_short.wav", 0.3, 0.2, 0}, {"cli_gated.wav", 4.0, 1.5, 1.9}};
  for (const auto& room : rooms) {
    SCOPED_TRACE(room.name);
    // The short decay is made of more modes, as a small room's response is denser per second.
    std::vector<double> x =
        modalRoom(48000, room.seconds, room.t60, 0.005, -80, room.seconds < 1 ? 3000 : 500);
    if (room.gateSeconds > 0)
      std::fill(x.begin() + static_cast<std::ptrdiff_t>(room.gateSeconds * 48000), x.end(), 0.0);
    TempFile f(room.name);
    writeWav(f.path, x, 1, 48000);
    const nlohmann::json doc = reverbJson(f.path, " --high 4000");
    for (const auto& band : doc["positions"][0]["bands"]) {
      SCOPED_TRACE(band["band"].get<std::string>());
      EXPECT_NE(band["result"], "failed");
      ASSERT_FALSE(band["times_s"]["T20"].is_null()) << band["status_text"];
      // Few modes beat in the lower octaves of a short decay.
      const double margin = band["frequency_hz"].get<double>() < 1000 ? 0.25 : 0.15;
      EXPECT_NEAR(band["times_s"]["T20"].get<double>(), room.t60, margin * room.t60);
      EXPECT_TRUE(band["noise_level_db"].is_null() || band["noise_level_db"].get<double>() > -200);
    }
  }
}

// The energy parameters in the tool's report: clarity, definition and centre
// time per band and for the broadband rows A and Z, near the closed forms of
// the decay (its direct sound adds a little early energy). The layer's own
// tests hold the figures to the closed forms.
// The channel analysed is named where the figures are: the table's heading
// and the JSON source.
TEST(CliRealFiles, TheChannelOfAMultichannelFileIsNamed) {
  REQUIRE_CLI();
  TempFile f("cli_two_channels.wav");
  const std::vector<double> room = decayingNoise(0.8, 1.5, 48000, 4800, 5);
  std::vector<double> interleaved(2 * room.size(), 0.0);
  for (size_t i = 0; i < room.size(); ++i) interleaved[2 * i + 1] = room[i];
  writeWav(f.path, interleaved, 2, 48000);
  const RunResult table = runTavrix("reverb" + q(f.path) + " --channel 2 --low 1000 --high 1000");
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_NE(table.out.find("cli_two_channels.wav, channel 2 of 2 (48000 Hz"), std::string::npos) << table.out;
  EXPECT_EQ(reverbJson(f.path, " --channel 2")["positions"][0]["channel"], 2);
}

TEST(CliRealFiles, ParametersAddEnergyFiguresAndBroadbandRows) {
  REQUIRE_CLI();
  TempFile f("cli_parameters.wav");
  writeWav(f.path, decayingNoise(1.0, 2.5, 48000, 48000, 3), 1, 48000);
  const nlohmann::json bands =
      reverbJson(f.path, " --parameters --low 250 --high 4000")["positions"][0]["bands"];
  ASSERT_EQ(bands.size(), 5u + 2);
  // The closed forms of a direct sound of energy D ahead of an exponential
  // decay of energy R = 0.01 fs / k (k = 6 ln 10 / T), the same in every band;
  // one noise realisation scatters about them by some tenths of a decibel.
  const double k = 6 * std::log(10.0), d = 0.81, r = 0.01 * 48000 / k;
  const auto early = [&](double t) { return d + r * (1 - std::exp(-k * t)); };
  for (const auto& b : bands) {
    EXPECT_NEAR(b["c80_db"].get<double>(), 10 * std::log10(early(0.08) / (d + r - early(0.08))), 1.0) << b;
    EXPECT_NEAR(b["d50_percent"].get<double>(), 100 * early(0.05) / (d + r), 10.0) << b;
    EXPECT_NEAR(b["ts_ms"].get<double>(), 1000 * r / k / (d + r), 10.0) << b;
  }
  EXPECT_EQ(bands[5]["band"], "A");
  EXPECT_EQ(bands[6]["band"], "Z");
  EXPECT_TRUE(bands[6]["frequency_hz"].is_null());
}

}  // namespace
}  // namespace tavrix::test
#endif

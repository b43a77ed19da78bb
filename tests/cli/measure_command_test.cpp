// The parts of `measure` and `ir` that need no audio server: the options
// checked before a device is opened, and a recording of noise alone, which
// deconvolves into noise and must be refused in words.
#include <random>

#include "cli_runner.h"

namespace tavrix::test {
namespace {

TEST(CliMeasure, OptionsAreCheckedBeforeAnyDeviceOpens) {
  REQUIRE_CLI();
  const TempFile dir("measure_options");
  const struct {
    const char* args;
    const char* words;
  } cases[] = {
      {" --level 3", "--level 3.0: the sweep's level must lie from -60 to 0 dB"},
      {" --reference-channel 1", "the loopback needs an input of its own"},
      {" --repeats 0", "--repeats"},
      {" --format xml", "--format"},
  };
  for (const auto& c : cases) {
    const RunResult r = runTavrix("measure -o" + q(dir.path) + c.args);
    EXPECT_EQ(r.exitCode, 2) << c.args;
    EXPECT_NE(r.err.find(c.words), std::string::npos) << r.err;
    EXPECT_EQ(lineCount(r.err), 1) << r.err;
  }
}

TEST(CliMeasure, IrRefusesARecordingOfNoiseAlone) {
  REQUIRE_CLI();
  std::mt19937 random(2);
  std::normal_distribution<double> gauss(0, 0.01);
  std::vector<double> noise(48000 * 6);
  for (double& v : noise) v = gauss(random);
  const TempFile recording("noise_only.wav"), sweep("noise_sweep.wav"), out("noise_ir.wav");
  writeWav(recording.path, noise, 1, 48000);
  ASSERT_EQ(runTavrix("sweep" + q(sweep.path) + " --length 2 --tail 1").exitCode, 0);
  for (const std::string& how : {std::string(" --length 2 --tail 1"), " --sweep" + q(sweep.path)}) {
    const RunResult r = runTavrix("ir" + q(recording.path) + " -o" + q(out.path) + how);
    EXPECT_EQ(r.exitCode, 1) << how;
    EXPECT_NE(r.err.find("no sweep in the recording"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("as noise alone does"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out.path));
  }
}

}  // namespace
}  // namespace tavrix::test

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

}  // namespace
}  // namespace tavrix::test

// Running the tavrix binary and making its input files, for the end-to-end
// tests of the command-line tool.
#pragma once

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_path.h"

namespace tavrix::test {

struct RunResult {
  int exitCode;
  std::string out;
  std::string err;
};

inline bool cliAvailable() {
#ifdef TAVRIX_CLI_PATH
  return true;
#else
  return false;
#endif
}

// Skips a test when the tool was not built (its packages are missing).
#define REQUIRE_CLI()                                              \
  do {                                                             \
    if (!cliAvailable()) {                                         \
      GTEST_SKIP() << "the tavrix command-line tool is not built"; \
    }                                                              \
  } while (false)

inline std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs `tavrix ARGS` with stdout and stderr captured to files.
inline RunResult runTavrix(const std::string& args) {
#ifdef TAVRIX_CLI_PATH
  // Named per test process: ctest runs the tests of this program in parallel.
  const TempFile out("cli_stdout.txt"), err("cli_stderr.txt");
  const std::string command = std::string("'") + TAVRIX_CLI_PATH + "' " + args + " >'" + out.path.string() +
                              "' 2>'" + err.path.string() + "'";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out.path), readFile(err.path)};
#else
  (void)args;
  return {-1, "", ""};
#endif
}

inline int lineCount(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// WAV layouts the library's own reader refuses but the tool must read.
enum class WavLayout { Float, FloatWithListChunk, Extensible };

// Writes 32-bit float samples (interleaved when channels > 1) by hand, so the
// files do not come from the code under test.
inline void writeWav(const std::filesystem::path& path, const std::vector<double>& samples, int channels,
                     int rate, WavLayout layout = WavLayout::Float) {
  std::string bytes;
  const auto u16 = [&](uint32_t v) { bytes.append({char(v & 0xFF), char((v >> 8) & 0xFF)}); };
  const auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 4);
  const bool ext = layout == WavLayout::Extensible;
  bytes += "RIFF";
  u32(0);  // patched below
  bytes += "WAVEfmt ";
  u32(ext ? 40 : 16);
  u16(ext ? 0xFFFE : 3);
  u16(static_cast<uint32_t>(channels));
  u32(static_cast<uint32_t>(rate));
  u32(static_cast<uint32_t>(rate * channels * 4));
  u16(static_cast<uint32_t>(channels * 4));
  u16(32);
  if (ext) {
    u16(22);
    u16(32);
    u32(channels == 1 ? 4 : 3);  // speaker mask
    // KSDATAFORMAT_SUBTYPE_IEEE_FLOAT
    u32(3);
    u16(0);
    u16(0x10);
    bytes.append("\x80\x00\x00\xaa\x00\x38\x9b\x71", 8);
  }
  if (layout == WavLayout::FloatWithListChunk) {
    bytes += "LIST";
    u32(12);
    bytes += "INFOISFT";
    u32(0);
  }
  bytes += "data";
  u32(dataBytes);
  for (double s : samples) {
    const float f = static_cast<float>(s);
    char raw[4];
    std::memcpy(raw, &f, 4);
    bytes.append(raw, 4);
  }
  const uint32_t riff = static_cast<uint32_t>(bytes.size() - 8);
  for (int i = 0; i < 4; ++i) bytes[4 + i] = char((riff >> (8 * i)) & 0xFF);
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace tavrix::test

// Running the tavrix binary and making its input files, for the end-to-end
// tests of the command-line tool.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#if __has_include(<nlohmann/json.hpp>)
#include <nlohmann/json.hpp>
#endif

#include "support/temp_path.h"

// Without the tool (its packages are missing) its tests skip themselves.
#ifdef TAVRIX_CLI_PATH
#define REQUIRE_CLI() (void)0
#else
#define TAVRIX_CLI_PATH ""
#define REQUIRE_CLI() GTEST_SKIP() << "the tavrix command-line tool is not built"
#endif

namespace tavrix::test {

struct RunResult {
  int exitCode;
  std::string out, err;
};

inline std::string readFile(const std::filesystem::path& p) {
  std::stringstream s;
  s << std::ifstream(p, std::ios::binary).rdbuf();
  return s.str();
}

// A path as one shell word, with the space that separates it.
inline std::string q(const std::filesystem::path& p) { return " '" + p.string() + "'"; }

// Runs `tavrix ARGS` with stdout and stderr captured to files (named per test
// process: ctest runs the tests of this program in parallel).
inline RunResult runTavrix(const std::string& args) {
  const TempFile out("cli_stdout.txt"), err("cli_stderr.txt");
  const std::string command = "'" TAVRIX_CLI_PATH "' " + args + " >" + q(out.path) + " 2>" + q(err.path);
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out.path), readFile(err.path)};
}

#if __has_include(<nlohmann/json.hpp>)
// Runs `tavrix ARGS` for its JSON report; a failed run reports its error line
// and ends the test (the empty output does not parse).
inline nlohmann::json runJson(const std::string& args) {
  const RunResult r = runTavrix(args);
  EXPECT_EQ(r.exitCode, 0) << args << "\n" << r.err;
  return nlohmann::json::parse(r.out);
}
#endif

inline int lineCount(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// Fields of a line; an empty last field (a line ending in the separator)
// counts. Lines of a text: the ones its line breaks end.
inline std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t end; (end = text.find(sep, start)) != std::string::npos; start = end + 1)
    fields.push_back(text.substr(start, end - start));
  fields.push_back(text.substr(start));
  return fields;
}
inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> all = split(text, '\n');
  if (!all.empty() && all.back().empty()) all.pop_back();
  return all;
}

// A diffuse decay: silence up to `start`, a direct sound there, then white
// noise whose level falls 60 dB in t60 seconds (the same in every band), over a
// steady noise floor 70 dB below the start of the decay.
inline std::vector<double> decayingNoise(double t60, double seconds, int rate, size_t start, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss;
  std::vector<double> x(static_cast<size_t>(seconds * rate));
  for (size_t i = 0; i < x.size(); ++i) {
    const double t = (static_cast<double>(i) - static_cast<double>(start)) / rate;
    x[i] = 3e-5 * gauss(random) + (t >= 0 ? 0.1 * gauss(random) * std::pow(10.0, -3 * t / t60) : 0.0);
  }
  x[start] = 0.9;
  return x;
}

// WAV layouts the library's own reader refuses but the tool must read.
enum class WavLayout { Float, FloatWithListChunk, Extensible };

// Writes 32-bit float samples (interleaved when channels > 1) by hand, so the
// files do not come from the code under test.
inline void writeWav(const std::filesystem::path& path, const std::vector<double>& samples, int channels,
                     int rate, WavLayout layout = WavLayout::Float) {
  std::string b = "RIFF....WAVEfmt ";
  const auto u16 = [&](uint32_t v) { b.append({char(v & 0xFF), char((v >> 8) & 0xFF)}); };
  const auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  const bool ext = layout == WavLayout::Extensible;
  const uint32_t ch = static_cast<uint32_t>(channels), sr = static_cast<uint32_t>(rate);
  u32(ext ? 40 : 16), u16(ext ? 0xFFFE : 3), u16(ch), u32(sr), u32(sr * ch * 4), u16(ch * 4), u16(32);
  // Extension size, valid bits, speaker mask and the IEEE-float subtype.
  if (ext)
    u16(22), u16(32), u32(ch == 1 ? 4 : 3), b.append("\3\0\0\0\0\0\x10\0\x80\0\0\xaa\0\x38\x9b\x71", 16);
  if (layout == WavLayout::FloatWithListChunk) b.append("LIST\x0c\0\0\0INFOISFT\0\0\0\0", 20);
  b += "data";
  u32(static_cast<uint32_t>(samples.size() * 4));
  const std::vector<float> f(samples.begin(), samples.end());  // as little-endian machines hold them
  b.append(reinterpret_cast<const char*>(f.data()), 4 * f.size());
  const uint32_t riff = static_cast<uint32_t>(b.size() - 8);
  std::memcpy(&b[4], &riff, 4);
  std::ofstream(path, std::ios::binary) << b;
}

}  // namespace tavrix::test

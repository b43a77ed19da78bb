// Scratch files for tests, named as UTF-16 paths the way a host passes them,
// and WAV files read back through the library.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tavrix.h"

namespace tavrix::test {

// A directory for the test's files: $TAVRIX_TEST_TMP or the system's.
inline std::filesystem::path scratchDir() {
  const char* env = std::getenv("TAVRIX_TEST_TMP");
  std::filesystem::path dir =
      env ? std::filesystem::path(env) : std::filesystem::temp_directory_path() / "tavrix-tests";
  std::filesystem::create_directories(dir);
  return dir;
}

// UTF-16 form of a UTF-8 path (as the host would pass it), converted by the
// standard library rather than by the code under test.
inline std::u16string toUtf16(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end())).u16string();
}

// Path of a scratch file, unique per test process, and its UTF-16 form. The
// UTF-8 name may hold any character: the path is built from UTF-8, not from
// the narrow code page, which on Windows cannot hold most of them.
struct TempFile {
  std::filesystem::path path;
  std::u16string wide;
  explicit TempFile(const std::string& name) {
    static const unsigned tag = std::random_device{}();
    const std::string utf8 = std::to_string(tag) + "_" + name;
    path = scratchDir() / std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
    wide = path.u16string();
  }
  ~TempFile() {
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
  const char16_t* c_str() const { return wide.c_str(); }
};

// A WAV file read by readWaveFile: its status, rate and samples, which are
// freed with it.
struct ReadBack {
  double* data = nullptr;
  double rate = 0;
  int32_t n = 0, status;
  explicit ReadBack(const char16_t* path) : status(readWaveFile(path, &data, &rate, &n)) {}
  ReadBack(const ReadBack&) = delete;
  ~ReadBack() { deleteDouble(data); }
  std::vector<double> samples() const { return std::vector<double>(data, data + n); }
};

}  // namespace tavrix::test

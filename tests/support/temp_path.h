// Scratch files for tests, named as UTF-16 paths the way a host passes them.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <random>
#include <filesystem>
#include <string>

namespace tavrix::test {

// A directory for the test's files: $TAVRIX_TEST_TMP or the system's.
inline std::filesystem::path scratchDir() {
  const char* env = std::getenv("TAVRIX_TEST_TMP");
  std::filesystem::path dir = env ? std::filesystem::path(env) : std::filesystem::temp_directory_path() / "tavrix-tests";
  std::filesystem::create_directories(dir);
  return dir;
}

// UTF-16 form of a UTF-8 path (as the host would pass it).
inline std::u16string toUtf16(const std::string& utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    char32_t cp;
    int len;
    if (c < 0x80) { cp = c; len = 1; }
    else if ((c >> 5) == 6) { cp = c & 0x1F; len = 2; }
    else if ((c >> 4) == 14) { cp = c & 0x0F; len = 3; }
    else { cp = c & 0x07; len = 4; }
    for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

// Path of a scratch file, unique per test process, as UTF-8 and UTF-16.
struct TempFile {
  std::filesystem::path path;
  std::u16string wide;
  explicit TempFile(const std::string& name) {
    static const unsigned tag = std::random_device{}();
    path = scratchDir() / (std::to_string(tag) + "_" + name);
    wide = toUtf16(path.string());
  }
  ~TempFile() {
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
  const char16_t* c_str() const { return wide.c_str(); }
};

}  // namespace tavrix::test

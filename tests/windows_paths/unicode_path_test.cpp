// File names outside ASCII, as a Windows host passes them: UTF-16 paths that
// reach _wfopen unchanged on Windows and are converted to UTF-8 elsewhere.
// Each file is also looked at through std::filesystem, a second route to the
// same name, so a mangled name (a '?' for every character the narrow code
// page lacks) cannot pass unnoticed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_path.h"
#include "tavrix.h"

namespace {

namespace fs = std::filesystem;

// A name in the scratch directory, as a filesystem path and as the UTF-16
// string a host would pass. Built from UTF-16 directly: a narrow string of the
// path cannot hold these characters on Windows.
struct UnicodeFile {
  fs::path path;
  std::u16string wide;
  explicit UnicodeFile(const std::u16string& name)
      : path(tavrix::test::scratchDir() / fs::path(name)), wide(path.u16string()) {
    std::error_code ec;
    fs::remove(path, ec);
  }
  ~UnicodeFile() {
    std::error_code ec;
    fs::remove(path, ec);
  }
};

// 16-bit PCM as written: x * 32768 * 0.99 rounded half away from zero, read
// back as code / 32768.
double pcm16(double x) { return std::round(x * 32768.0 * 0.99) / 32768.0; }

std::vector<double> testSignal() {
  std::vector<double> x(480);
  for (size_t i = 0; i < x.size(); ++i) x[i] = 0.8 * std::sin(2.0 * 3.141592653589793 * 1000.0 * i / 48000.0);
  return x;
}

TEST(UnicodePaths, WaveFileWrittenAndReadBackUnderItsExactName) {
  initTavrix();
  // Latin-1 umlaut, CJK (one UTF-16 unit each) and a character outside the
  // basic plane (a surrogate pair in UTF-16, four bytes in UTF-8).
  for (const std::u16string& name :
       {std::u16string(u"Messraum_\u00fc_\u65e5\u672c.wav"), std::u16string(u"Fl\u00fcgel_\U0001D11E.wav")}) {
    SCOPED_TRACE(name.size());
    UnicodeFile file(name);
    const std::vector<double> x = testSignal();
    ASSERT_EQ(writeWaveFile(file.wide.c_str(), x.data(), static_cast<int32_t>(x.size()), 48000), 0);

    // The directory holds exactly this name, and the file is a 16-bit mono
    // WAV of the expected size: 44 header bytes and 2 per sample.
    bool listed = false;
    for (const auto& entry : fs::directory_iterator(file.path.parent_path()))
      listed = listed || entry.path().filename().u16string() == name;
    EXPECT_TRUE(listed);
    EXPECT_EQ(fs::file_size(file.path), 44u + 2u * x.size());

    double* samples = nullptr;
    double rate = 0.0;
    int32_t n = 0;
    ASSERT_EQ(readWaveFile(file.wide.c_str(), &samples, &rate, &n), 0);
    EXPECT_EQ(rate, 48000.0);
    ASSERT_EQ(n, static_cast<int32_t>(x.size()));
    for (int32_t i = 0; i < n; ++i) ASSERT_EQ(samples[i], pcm16(x[i])) << "sample " << i;
    EXPECT_EQ(deleteDouble(samples), 0);
  }
}

// A file created by the standard library under a non-ASCII name (a 32-bit
// float WAV built byte by byte) is found and read through the UTF-16 path.
TEST(UnicodePaths, ReadsFileCreatedThroughAnotherRoute) {
  UnicodeFile file(u"Aufnahme_\u00e9\u00df_\u97f3.wav");
  const float values[3] = {0.25f, -0.5f, 0.75f};
  {
    std::ofstream out(file.path, std::ios::binary);
    ASSERT_TRUE(out.good());
    auto put32 = [&](uint32_t v) {
      for (int k = 0; k < 4; ++k) out.put(static_cast<char>((v >> (8 * k)) & 0xFF));
    };
    auto put16 = [&](uint16_t v) {
      out.put(static_cast<char>(v & 0xFF));
      out.put(static_cast<char>(v >> 8));
    };
    out.write("RIFF", 4);
    put32(36 + sizeof values);
    out.write("WAVEfmt ", 8);
    put32(16);
    put16(3);  // IEEE float
    put16(1);
    put32(44100);
    put32(44100 * 4);
    put16(4);
    put16(32);
    out.write("data", 4);
    put32(sizeof values);
    for (float v : values) {
      uint32_t bits;
      std::memcpy(&bits, &v, 4);
      put32(bits);
    }
  }
  double* samples = nullptr;
  double rate = 0.0;
  int32_t n = 0;
  ASSERT_EQ(readWaveFile(file.wide.c_str(), &samples, &rate, &n), 0);
  EXPECT_EQ(rate, 44100.0);
  ASSERT_EQ(n, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(samples[i], values[i]);
  deleteDouble(samples);
}

// An unpaired surrogate names no file on any system: both calls fail and
// nothing is created; a missing file is a plain failure too.
TEST(UnicodePaths, MalformedOrMissingNamesFail) {
  const fs::path dir = tavrix::test::scratchDir();
  std::u16string lone = dir.u16string() + u"/unpaired_";
  lone += static_cast<char16_t>(0xD800);
  lone += u".wav";
  const double x[2] = {0.1, 0.2};
  EXPECT_EQ(writeWaveFile(lone.c_str(), x, 2, 48000), -1);
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_NE(entry.path().filename().u16string().rfind(u"unpaired_", 0), 0u);

  double* samples = nullptr;
  double rate = 0.0;
  int32_t n = 0;
  EXPECT_EQ(readWaveFile(lone.c_str(), &samples, &rate, &n), -1);
  UnicodeFile missing(u"nicht_vorhanden_\u00f6.wav");
  EXPECT_EQ(readWaveFile(missing.wide.c_str(), &samples, &rate, &n), -1);
  EXPECT_EQ(samples, nullptr);
}

}  // namespace

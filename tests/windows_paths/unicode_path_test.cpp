// File names outside ASCII, as a Windows host passes them: UTF-16 paths that
// reach _wfopen unchanged on Windows and are converted to UTF-8 elsewhere.
// Each file is also looked at through std::filesystem, a second route to the
// same name, so a mangled name (a '?' for every character the narrow code
// page lacks) cannot pass unnoticed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <numbers>
#include <vector>

#include "support/temp_path.h"
#include "tavrix.h"

namespace {

namespace fs = std::filesystem;

using namespace tavrix::test;

TEST(UnicodePaths, WaveFileWrittenAndReadBackUnderItsExactName) {
  initTavrix();
  // Latin-1 umlaut, CJK (one UTF-16 unit each) and a character outside the
  // basic plane (a surrogate pair in UTF-16, four bytes in UTF-8).
  for (const char* name : {"Messraum_\u00fc_\u65e5\u672c.wav", "Fl\u00fcgel_\U0001D11E.wav"}) {
    TempFile file(name);
    std::vector<double> x(480);
    for (size_t i = 0; i < x.size(); ++i)
      x[i] = 0.8 * std::sin(2 * std::numbers::pi * 1000.0 * static_cast<double>(i) / 48000);
    ASSERT_EQ(writeWaveFile(file.wide.c_str(), x.data(), static_cast<int32_t>(x.size()), 48000), 0);
    // The file is there under exactly this name, a 16-bit mono WAV of the
    // expected size: 44 header bytes and 2 per sample.
    ASSERT_TRUE(fs::exists(file.path));
    EXPECT_EQ(fs::file_size(file.path), 44u + 2u * x.size());
    const ReadBack back(file.c_str());
    ASSERT_EQ(back.status, 0);
    EXPECT_EQ(back.rate, 48000.0);
    ASSERT_EQ(back.n, static_cast<int32_t>(x.size()));
    // Written as x * 32768 * 0.99 rounded half away from zero, read back as
    // code / 32768.
    for (int32_t i = 0; i < back.n; ++i)
      ASSERT_EQ(back.data[i], std::round(x[i] * 32768 * 0.99) / 32768) << i;
  }
}

// A file created by the standard library under a non-ASCII name (a 32-bit
// float WAV written byte by byte) is found and read through the UTF-16 path.
TEST(UnicodePaths, ReadsFileCreatedThroughAnotherRoute) {
  TempFile file("Aufnahme_\u00e9\u00df_\u97f3.wav");
  // RIFF size 48; fmt: IEEE float, mono, 44100 Hz, 176400 bytes/s, 4-byte
  // frames of 32 bits; 12 data bytes.
  const char header[] =
      "RIFF\x30\0\0\0WAVEfmt \x10\0\0\0\x03\0\x01\0\x44\xac\0\0\x10\xb1\x02\0\x04\0\x20\0data\x0c\0\0\0";
  const float values[3] = {0.25f, -0.5f, 0.75f};  // little-endian, as the machine holds them
  std::ofstream(file.path, std::ios::binary)
      .write(header, 44)
      .write(reinterpret_cast<const char*>(values), sizeof values);
  const ReadBack back(file.c_str());
  ASSERT_EQ(back.status, 0);
  EXPECT_EQ(back.rate, 44100.0);
  EXPECT_EQ(back.samples(), std::vector<double>(values, values + 3));
}

// An unpaired surrogate names no file on any system: both calls fail and
// nothing is created; a missing file is a plain failure too.
TEST(UnicodePaths, MalformedOrMissingNamesFail) {
  const fs::path dir = scratchDir();
  const std::u16string lone = dir.u16string() + u"/unpaired_" + char16_t(0xD800) + u".wav";
  const double x[2] = {0.1, 0.2};
  EXPECT_EQ(writeWaveFile(lone.c_str(), x, 2, 48000), -1);
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_NE(entry.path().filename().u16string().rfind(u"unpaired_", 0), 0u);
  EXPECT_EQ(ReadBack(lone.c_str()).status, -1);
  const ReadBack missing(TempFile("nicht_vorhanden_\u00f6.wav").c_str());
  EXPECT_TRUE(missing.status == -1 && missing.data == nullptr);
}

}  // namespace

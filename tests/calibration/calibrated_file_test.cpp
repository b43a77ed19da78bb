#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "fileio/uff58b.h"
#include "support/temp_path.h"
#include "tavrix.h"

namespace tavrix {
namespace {

using test::TempFile;

std::vector<unsigned char> fileBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint64_t littleEndian(const unsigned char* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

double doubleAt(const unsigned char* p) {
  const uint64_t bits = littleEndian(p, 8);
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

// A dataset 58b read back field by field: the delimiter, the header line and
// eleven records as text, then the binary block, then the closing delimiter.
struct ParsedUff {
  std::vector<std::string> lines;  // 13 text lines, without their line feeds
  std::vector<double> data;
  bool closed = false;
};

ParsedUff parseUff(const std::vector<unsigned char>& bytes) {
  ParsedUff out;
  size_t pos = 0;
  while (out.lines.size() < 13 && pos < bytes.size()) {
    size_t end = pos;
    while (end < bytes.size() && bytes[end] != '\n') ++end;
    out.lines.emplace_back(bytes.begin() + pos, bytes.begin() + end);
    pos = end + 1;
  }
  if (out.lines.size() < 2 || out.lines[1].size() < 43) return out;
  const size_t dataBytes = std::stoul(out.lines[1].substr(31, 12));
  if (pos + dataBytes > bytes.size()) return out;
  for (size_t i = 0; i < dataBytes; i += 8) out.data.push_back(doubleAt(&bytes[pos + i]));
  pos += dataBytes;
  out.closed = std::string(bytes.begin() + pos, bytes.end()) == "    -1\n";
  return out;
}

TEST(Uff58b, EveryRecordAndEveryDataByte) {
  TempFile file("dataset.uff");
  const std::vector<double> samples = {
      0.0, -0.0, 1.5, -1e-310, 10.2, std::numeric_limits<double>::infinity(), std::nan(""), 12345.678};
  ASSERT_EQ(writeUff58b(file.c_str(), samples.data(), 8, 48000), 0);
  const std::vector<unsigned char> bytes = fileBytes(file.path);
  const ParsedUff uff = parseUff(bytes);
  ASSERT_EQ(uff.lines.size(), 13u);

  const std::string none80 = "NONE" + std::string(76, ' ');
  const std::string noneAxis = "         0    0    0    0 NONE                 NONE                ";
  const std::vector<std::string> expected = {
      "    -1",
      "    58b     1     2          11          64",
      "Calibrated recording file" + std::string(55, ' '),
      none80,
      none80,
      none80,
      none80,
      "    1         0    0         0       NONE         0   1       NONE         0   0",
      "         4         8         1   0.0000e+00   2.0833e-05   0.0000e+00",
      "        17    0    0    0 Time                 s                   ",
      "        15    0    0    0 Pressure             Pa                  ",
      noneAxis,
      noneAxis,
  };
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(uff.lines[i], expected[i]) << "line " << i;
  // No carriage returns anywhere in the text part.
  for (const auto& line : uff.lines) EXPECT_EQ(line.find('\r'), std::string::npos);

  // The values come back bit for bit, NaN and negative zero included.
  ASSERT_EQ(uff.data.size(), samples.size());
  for (size_t i = 0; i < samples.size(); ++i)
    EXPECT_EQ(std::memcmp(&uff.data[i], &samples[i], 8), 0) << "sample " << i;
  EXPECT_TRUE(uff.closed);

  size_t textBytes = 0;
  for (const auto& line : uff.lines) textBytes += line.size() + 1;
  EXPECT_EQ(bytes.size(), textBytes + 8 * samples.size() + 7);
}

TEST(Uff58b, CountsRatesAndUnwritablePaths) {
  TempFile file("counts.uff");
  // No samples: a header announcing 0 bytes, then the closing delimiter.
  ASSERT_EQ(writeUff58b(file.c_str(), nullptr, 0, 44100), 0);
  ParsedUff uff = parseUff(fileBytes(file.path));
  ASSERT_EQ(uff.lines.size(), 13u);
  EXPECT_EQ(uff.lines[1].substr(31), "           0");
  EXPECT_EQ(uff.lines[8], "         4         0         1   0.0000e+00   2.2676e-05   0.0000e+00");
  EXPECT_TRUE(uff.closed);

  // A large count fills its fields; 8n is counted beyond 32 bits' reach of n.
  std::vector<double> many(70000, 0.25);
  ASSERT_EQ(writeUff58b(file.c_str(), many.data(), 70000, 192000), 0);
  uff = parseUff(fileBytes(file.path));
  EXPECT_EQ(uff.lines[1].substr(31), "      560000");
  EXPECT_EQ(uff.lines[8].substr(10, 10), "     70000");
  EXPECT_EQ(uff.lines[8].substr(43, 13), "   5.2083e-06");
  EXPECT_EQ(uff.data.size(), 70000u);
  EXPECT_TRUE(uff.closed);

  // The writer reports nothing and creates nothing it cannot.
  const std::filesystem::path missing = test::scratchDir() / "no-such-dir" / "x.uff";
  EXPECT_EQ(writeUff58b(test::toUtf16(missing.string()).c_str(), many.data(), 4, 48000), 0);
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_EQ(writeUff58b(nullptr, many.data(), 4, 48000), 0);
}

// --- createCalibratedWaveFile --------------------------------------------

// A mono 32-bit float WAV (or another format tag) written here byte by byte,
// independently of the library's writer.
void writeFloatWav(const TempFile& file, const std::vector<float>& samples, uint32_t rate, uint16_t tag = 3) {
  std::ofstream out(file.path, std::ios::binary);
  auto put = [&](uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.put(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  const uint32_t dataBytes = static_cast<uint32_t>(4 * samples.size());
  out.write("RIFF", 4);
  put(36 + dataBytes, 4);
  out.write("WAVEfmt ", 8);
  put(16, 4);
  put(tag, 2);
  put(1, 2);
  put(rate, 4);
  put(rate * 4, 4);
  put(4, 2);
  put(32, 2);
  out.write("data", 4);
  put(dataBytes, 4);
  for (float s : samples) {
    uint32_t bits;
    std::memcpy(&bits, &s, 4);
    put(bits, 4);
  }
}

std::vector<float> readFloatWavSamples(const std::filesystem::path& p, uint32_t* rate) {
  const std::vector<unsigned char> b = fileBytes(p);
  std::vector<float> out;
  if (b.size() < 44 || littleEndian(&b[20], 2) != 3) return out;
  *rate = static_cast<uint32_t>(littleEndian(&b[24], 4));
  const size_t n = littleEndian(&b[40], 4) / 4;
  for (size_t i = 0; i < n && 44 + 4 * i + 4 <= b.size(); ++i) {
    const uint32_t bits = static_cast<uint32_t>(littleEndian(&b[44 + 4 * i], 4));
    float f;
    std::memcpy(&f, &bits, 4);
    out.push_back(f);
  }
  return out;
}

class CalibratedFile : public ::testing::Test {
 protected:
  void SetUp() override {
    initTavrix();
    writeFloatWav(input, {0.5f, -0.25f, 1.0f, 0.0f}, 48000);
  }
  // Pascals per full-scale unit for the given chain, read back from the dataset.
  double scale(double sensitivityDb, double adjustDb, double gainDb, double trim, bool high) {
    const int32_t r = createCalibratedWaveFile(input.c_str(), output.c_str(), sensitivityDb, adjustDb, gainDb,
                                               trim, std::nan(""), high, true);
    EXPECT_EQ(r, 0);
    const ParsedUff uff = parseUff(fileBytes(output.path));
    EXPECT_EQ(uff.data.size(), 4u);
    if (uff.data.size() != 4) return 0.0;
    EXPECT_EQ(uff.data[1], -0.5 * uff.data[0]);
    EXPECT_EQ(uff.data[2], 2.0 * uff.data[0]);
    EXPECT_EQ(uff.data[3], 0.0);
    return 2.0 * uff.data[0];
  }
  TempFile input{"recording.wav"};
  TempFile output{"calibrated.out"};
};

TEST_F(CalibratedFile, ScaleFollowsTheChainLevels) {
  // All levels 0: 138.47 - 26 + 1.66 = 114.13 dB full scale, about 10.2 Pa.
  const double k0 = scale(0, 0, 0, 0, false);
  EXPECT_NEAR(k0, 2e-5 * std::pow(10.0, 114.1338 / 20.0), 1e-4);
  EXPECT_NEAR(k0, 10.2, 0.05);
  const auto ratioDb = [&](double k) { return 20.0 * std::log10(k / k0); };
  // The gain acts as the nearest whole factor: 3 dB is 1, 6 dB is 2.
  EXPECT_EQ(scale(0, 0, 3, 0, false), k0);
  EXPECT_NEAR(scale(0, 0, 6, 0, false) / k0, 0.5, 1e-12);
  EXPECT_NEAR(scale(0, 0, 20, 0, false) / k0, 0.1, 1e-12);
  EXPECT_NEAR(ratioDb(scale(0, 0, 0, 2000, false)), 1.0, 1e-9);
  EXPECT_NEAR(ratioDb(scale(0, 2.5, 0, 0, false)), 2.5, 1e-9);
  EXPECT_NEAR(ratioDb(scale(-30, 0, 0, 0, false)), 30.0, 1e-9);
  EXPECT_NEAR(ratioDb(scale(0, 0, 0, 0, true)), 2.9 - 1.66, 1e-9);
}

TEST_F(CalibratedFile, FloatWaveVariantAndDatasetHeader) {
  ASSERT_EQ(createCalibratedWaveFile(input.c_str(), output.c_str(), 0, 0, 0, 0, 0, false, true), 0);
  const ParsedUff uff = parseUff(fileBytes(output.path));
  ASSERT_EQ(uff.lines.size(), 13u);
  EXPECT_EQ(uff.lines[1].substr(31), "          32");
  EXPECT_EQ(uff.lines[8].substr(43, 13), "   2.0833e-05");

  ASSERT_EQ(createCalibratedWaveFile(input.c_str(), output.c_str(), 0, 0, 0, 0, 0, false, false), 0);
  uint32_t rate = 0;
  const std::vector<float> pa = readFloatWavSamples(output.path, &rate);
  EXPECT_EQ(rate, 48000u);
  ASSERT_EQ(pa.size(), 4u);
  EXPECT_EQ(pa[0], static_cast<float>(uff.data[0]));
  EXPECT_EQ(pa[2], static_cast<float>(uff.data[2]));
}

TEST_F(CalibratedFile, BadInputsWriteNothing) {
  const std::filesystem::path missingDir = test::scratchDir() / "no-such-dir" / "out.wav";
  const std::u16string unwritable = test::toUtf16(missingDir.string());
  TempFile absent("absent.wav");
  TempFile extensible("extensible.wav");
  writeFloatWav(extensible, {0.5f}, 48000, 0xFFFE);

  for (bool uff : {false, true}) {
    EXPECT_EQ(createCalibratedWaveFile(absent.c_str(), output.c_str(), 0, 0, 0, 0, 0, false, uff), -1);
    EXPECT_EQ(createCalibratedWaveFile(extensible.c_str(), output.c_str(), 0, 0, 0, 0, 0, false, uff), -10);
    EXPECT_EQ(createCalibratedWaveFile(nullptr, output.c_str(), 0, 0, 0, 0, 0, false, uff), -1);
    EXPECT_EQ(createCalibratedWaveFile(input.c_str(), nullptr, 0, 0, 0, 0, 0, false, uff), -1);
    // Non-finite levels, and a gain that rounds to a factor of 0.
    EXPECT_EQ(createCalibratedWaveFile(input.c_str(), output.c_str(), NAN, 0, 0, 0, 0, false, uff), -1);
    EXPECT_EQ(createCalibratedWaveFile(input.c_str(), output.c_str(), 0, INFINITY, 0, 0, 0, false, uff), -1);
    EXPECT_EQ(createCalibratedWaveFile(input.c_str(), output.c_str(), 0, 0, -7.0, 0, 0, false, uff), -1);
    EXPECT_EQ(createCalibratedWaveFile(input.c_str(), output.c_str(), 0, 0, 0, -INFINITY, 0, false, uff), -1);
    EXPECT_FALSE(std::filesystem::exists(output.path));
  }
  // An output that cannot be created: the WAV writer says so, the dataset
  // writer does not.
  EXPECT_EQ(createCalibratedWaveFile(input.c_str(), unwritable.c_str(), 0, 0, 0, 0, 0, false, false), -1);
  EXPECT_EQ(createCalibratedWaveFile(input.c_str(), unwritable.c_str(), 0, 0, 0, 0, 0, false, true), 0);
  EXPECT_FALSE(std::filesystem::exists(missingDir));
}

}  // namespace
}  // namespace tavrix

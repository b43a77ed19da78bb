#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "fileio/uff58b.h"
#include "fileio/wave_file.h"
#include "support/temp_path.h"
#include "tavrix.h"

namespace tavrix {
namespace {

using test::TempFile;

// A dataset 58b read back independently of the writer: thirteen text lines
// (delimiter, header, eleven records), then the binary block whose size the
// header announces, assembled from little-endian bytes, then what follows it.
struct ParsedUff {
  std::vector<std::string> lines;
  std::vector<double> data;
  std::string trailer;
};

ParsedUff parseUff(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ParsedUff out;
  size_t pos = 0;
  for (size_t end; out.lines.size() < 13 && (end = bytes.find('\n', pos)) != std::string::npos; pos = end + 1)
    out.lines.push_back(bytes.substr(pos, end - pos));
  if (out.lines.size() < 2 || out.lines[1].size() != 43) return out;
  const size_t dataBytes = std::stoul(out.lines[1].substr(31));
  for (size_t i = 0; i + 8 <= dataBytes && pos + i + 8 <= bytes.size(); i += 8) {
    uint64_t bits = 0;
    for (int b = 7; b >= 0; --b) bits = (bits << 8) | static_cast<unsigned char>(bytes[pos + i + b]);
    double d;
    std::memcpy(&d, &bits, 8);
    out.data.push_back(d);
  }
  out.trailer = bytes.substr(std::min(pos + dataBytes, bytes.size()));
  return out;
}

TEST(Uff58b, EveryRecordAndEveryDataByte) {
  TempFile file("dataset.uff");
  const std::vector<double> samples = {
      0.0, -0.0, 1.5, -1e-310, std::numeric_limits<double>::infinity(), std::nan(""), 12345.678};
  ASSERT_EQ(writeUff58b(file.c_str(), samples.data(), 7, 48000), 0);
  const ParsedUff uff = parseUff(file.path);
  const std::string none80 = "NONE" + std::string(76, ' ');
  const std::string noneAxis = "         0    0    0    0 NONE                 NONE                ";
  const std::vector<std::string> expected = {
      "    -1",
      "    58b     1     2          11          56",
      "Calibrated recording file" + std::string(55, ' '),
      none80,
      none80,
      none80,
      none80,
      "    1         0    0         0       NONE         0   1       NONE         0   0",
      "         4         7         1   0.0000e+00   2.0833e-05   0.0000e+00",
      "        17    0    0    0 Time                 s                   ",
      "        15    0    0    0 Pressure             Pa                  ",
      noneAxis,
      noneAxis,
  };
  EXPECT_EQ(uff.lines, expected);  // line feeds only: a carriage return would show here
  ASSERT_EQ(uff.data.size(), samples.size());
  for (size_t i = 0; i < samples.size(); ++i) EXPECT_EQ(std::memcmp(&uff.data[i], &samples[i], 8), 0) << i;
  EXPECT_EQ(uff.trailer, "    -1\n");

  // No samples: a zero byte count and the closing delimiter straight after.
  ASSERT_EQ(writeUff58b(file.c_str(), nullptr, 0, 44100), 0);
  const ParsedUff empty = parseUff(file.path);
  EXPECT_EQ(empty.lines.at(1).substr(31), "           0");
  EXPECT_EQ(empty.lines.at(8), "         4         0         1   0.0000e+00   2.2676e-05   0.0000e+00");
  EXPECT_EQ(empty.trailer, "    -1\n");
}

class CalibratedFile : public ::testing::Test {
 protected:
  void SetUp() override {
    initTavrix();
    const double samples[] = {0.5, -0.25, 1.0, 0.0};
    ASSERT_EQ(writeWave(input.c_str(), samples, 4, 48000, true), 0);
  }
  // Pascals per full-scale unit for the given chain, read back from the dataset.
  double scale(double sensitivityDb, double adjustDb, double gainDb, double trim, bool high) {
    EXPECT_EQ(createCalibratedWaveFile(input.c_str(), output.c_str(), sensitivityDb, adjustDb, gainDb, trim,
                                       std::nan(""), high, true),
              0);
    const ParsedUff uff = parseUff(output.path);
    if (uff.data.size() != 4) return 0.0;
    EXPECT_EQ(uff.data[1], -0.5 * uff.data[0]);
    EXPECT_EQ(uff.data[2], 2.0 * uff.data[0]);
    EXPECT_EQ(uff.lines[1].substr(31), "          32");
    return uff.data[2];
  }
  TempFile input{"recording.wav"};
  TempFile output{"calibrated.out"};
};

TEST_F(CalibratedFile, ScaleFollowsTheChainLevels) {
  // All levels 0: 138.47 - 26 + 1.66 = 114.13 dB at full scale, about 10.2 Pa.
  const double k0 = scale(0, 0, 0, 0, false);
  EXPECT_NEAR(k0, 2e-5 * std::pow(10.0, 114.1338 / 20.0), 1e-4);
  const auto relativeDb = [&](double k) { return 20.0 * std::log10(k / k0); };
  // The gain acts as the nearest whole factor: 3 dB is 1, 6 dB is 2.
  EXPECT_EQ(scale(0, 0, 3, 0, false), k0);
  EXPECT_NEAR(scale(0, 0, 6, 0, false) / k0, 0.5, 1e-12);
  EXPECT_NEAR(scale(0, 0, 20, 0, false) / k0, 0.1, 1e-12);
  EXPECT_NEAR(relativeDb(scale(0, 0, 0, 2000, false)), 1.0, 1e-9);
  EXPECT_NEAR(relativeDb(scale(0, 2.5, 0, 0, false)), 2.5, 1e-9);
  EXPECT_NEAR(relativeDb(scale(-30, 0, 0, 0, false)), 30.0, 1e-9);
  EXPECT_NEAR(relativeDb(scale(0, 0, 0, 0, true)), 2.9 - 1.66, 1e-9);

  // The float WAV variant holds the same pascals in single precision.
  ASSERT_EQ(createCalibratedWaveFile(input.c_str(), output.c_str(), 0, 0, 0, 0, 0, false, false), 0);
  DynArray<double> pa;
  double rate = 0;
  int32_t n = 0;
  ASSERT_EQ(readWave(output.c_str(), pa, rate, n), 0);
  EXPECT_EQ(rate, 48000.0);
  ASSERT_EQ(n, 4);
  EXPECT_EQ(pa[2], static_cast<double>(static_cast<float>(k0)));
}

TEST_F(CalibratedFile, BadInputsWriteNothing) {
  TempFile absent("absent.wav");
  TempFile extensible("extensible.wav");
  const double one = 1.0;
  ASSERT_EQ(writeWave(extensible.c_str(), &one, 1, 48000, true), 0);
  std::fstream patch(extensible.path, std::ios::binary | std::ios::in | std::ios::out);
  patch.seekp(20);
  patch.write("\xFE\xFF", 2);  // format tag 0xFFFE, extensible
  patch.close();

  for (bool uff : {false, true}) {
    EXPECT_EQ(createCalibratedWaveFile(absent.c_str(), output.c_str(), 0, 0, 0, 0, 0, false, uff), -1);
    EXPECT_EQ(createCalibratedWaveFile(extensible.c_str(), output.c_str(), 0, 0, 0, 0, 0, false, uff), -10);
    EXPECT_EQ(createCalibratedWaveFile(nullptr, output.c_str(), 0, 0, 0, 0, 0, false, uff), -1);
    EXPECT_EQ(createCalibratedWaveFile(input.c_str(), nullptr, 0, 0, 0, 0, 0, false, uff), -1);
    EXPECT_EQ(createCalibratedWaveFile(input.c_str(), output.c_str(), NAN, 0, 0, 0, 0, false, uff), -1);
    EXPECT_EQ(createCalibratedWaveFile(input.c_str(), output.c_str(), 0, INFINITY, 0, 0, 0, false, uff), -1);
    EXPECT_EQ(createCalibratedWaveFile(input.c_str(), output.c_str(), 0, 0, -7.0, 0, 0, false, uff), -1);
    EXPECT_FALSE(std::filesystem::exists(output.path));
  }
  // An output that cannot be created: the WAV writer says so, the dataset
  // writer does not.
  const std::filesystem::path missing = test::scratchDir() / "no-such-dir" / "out";
  const std::u16string unwritable = test::toUtf16(missing.string());
  EXPECT_EQ(createCalibratedWaveFile(input.c_str(), unwritable.c_str(), 0, 0, 0, 0, 0, false, false), -1);
  EXPECT_EQ(createCalibratedWaveFile(input.c_str(), unwritable.c_str(), 0, 0, 0, 0, 0, false, true), 0);
  EXPECT_FALSE(std::filesystem::exists(missing));
}

}  // namespace
}  // namespace tavrix

#include "fileio/wave_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_path.h"

namespace tavrix {
namespace {

using Bytes = std::vector<unsigned char>;

void appendLe(Bytes& b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void appendTag(Bytes& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }

// A WAV file assembled by hand, independently of the writer.
struct WaveSpec {
  uint32_t formatTag = 1, channels = 1, rate = 44100, bits = 16;
  uint32_t fmtSize = 16;
  Bytes chunkBeforeData;      // a whole chunk placed between "fmt " and "data"
  Bytes data;                 // sample bytes
  int64_t declaredSize = -1;  // data size field; -1: the real size
};

Bytes buildWave(const WaveSpec& s) {
  Bytes b;
  appendTag(b, "RIFF");
  appendLe(b, 0, 4);  // the reader ignores the RIFF size
  appendTag(b, "WAVE");
  appendTag(b, "fmt ");
  appendLe(b, s.fmtSize, 4);
  appendLe(b, s.formatTag, 2);
  appendLe(b, s.channels, 2);
  appendLe(b, s.rate, 4);
  appendLe(b, s.rate * s.channels * s.bits / 8, 4);
  appendLe(b, s.channels * s.bits / 8, 2);
  appendLe(b, s.bits, 2);
  for (uint32_t i = 16; i < s.fmtSize; ++i) b.push_back(0);
  b.insert(b.end(), s.chunkBeforeData.begin(), s.chunkBeforeData.end());
  appendTag(b, "data");
  appendLe(b,
           s.declaredSize < 0 ? static_cast<uint32_t>(s.data.size()) : static_cast<uint32_t>(s.declaredSize),
           4);
  b.insert(b.end(), s.data.begin(), s.data.end());
  return b;
}

void writeBytes(const test::TempFile& f, const Bytes& b) {
  std::ofstream(f.path, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes readBytes(const test::TempFile& f) {
  std::ifstream in(f.path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

uint32_t le(const Bytes& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint32_t{b[at + i]} << (8 * i);
  return v;
}

struct Read {
  int32_t status;
  std::vector<double> samples;
  double rate = -1;
  int32_t count = -1;
};

Read readFile(const test::TempFile& f) {
  DynArray<double> samples;
  Read r;
  r.status = readWave(f.c_str(), samples, r.rate, r.count);
  r.samples.assign(samples.begin(), samples.end());
  return r;
}

Read readSpec(const WaveSpec& spec) {
  test::TempFile f("hand.wav");
  writeBytes(f, buildWave(spec));
  return readFile(f);
}

TEST(WaveWrite, PcmFileHasCanonicalLayoutScaledCodesAndWrapAround) {
  test::TempFile f("pcm.wav");
  const std::vector<double> in{0.0, 1.0, -1.0, 0.5, 3.0, -3.0};
  ASSERT_EQ(writeWave(f.c_str(), in.data(), 6, 48000, false), 0);
  const Bytes b = readBytes(f);
  ASSERT_EQ(b.size(), 44u + 2 * 6);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
  EXPECT_EQ(le(b, 4, 4), 36u + 2 * 6);
  EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(le(b, 16, 4), 16u);
  EXPECT_EQ(le(b, 20, 2), 1u);
  EXPECT_EQ(le(b, 22, 2), 1u);
  EXPECT_EQ(le(b, 24, 4), 48000u);
  EXPECT_EQ(le(b, 28, 4), 96000u);
  EXPECT_EQ(le(b, 32, 2), 2u);
  EXPECT_EQ(le(b, 34, 2), 16u);
  EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
  EXPECT_EQ(le(b, 40, 4), 12u);
  // Full scale is 0.99 * 32768; 3.0 gives 97321, which keeps its low 16 bits.
  const std::vector<int16_t> codes{
      0, 32440, -32440, 16220, static_cast<int16_t>(97321 - 65536), static_cast<int16_t>(65536 - 97321)};
  for (size_t i = 0; i < codes.size(); ++i)
    EXPECT_EQ(static_cast<int16_t>(le(b, 44 + 2 * i, 2)), codes[i]) << i;
  const Read r = readFile(f);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.rate, 48000.0);
  ASSERT_EQ(r.count, 6);
  for (size_t i = 0; i < codes.size(); ++i) EXPECT_EQ(r.samples[i], codes[i] / 32768.0);
}

TEST(WaveWrite, FloatFileReadsBackRoundedToSinglePrecision) {
  test::TempFile f("float.wav");
  const std::vector<double> in{0.1, -0.7, 1.5, 1e-9};
  ASSERT_EQ(writeWave(f.c_str(), in.data(), 4, 22050, true), 0);
  const Bytes b = readBytes(f);
  ASSERT_EQ(b.size(), 44u + 4 * 4);
  EXPECT_EQ(le(b, 4, 4), 36u + 16);
  EXPECT_EQ(le(b, 20, 2), 3u);
  EXPECT_EQ(le(b, 28, 4), 22050u * 4);
  EXPECT_EQ(le(b, 34, 2), 32u);
  EXPECT_EQ(le(b, 40, 4), 16u);
  const Read r = readFile(f);
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.count, 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(r.samples[i], static_cast<double>(static_cast<float>(in[i])));
}

TEST(WaveWrite, UnusablePathFails) {
  const double x = 0.0;
  const char16_t unpaired[] = {u'a', 0xD800, u'.', u'w', 0};
  EXPECT_EQ(writeWave(unpaired, &x, 1, 48000, false), -1);
  EXPECT_EQ(writeWave(nullptr, &x, 1, 48000, false), -1);
  const auto missingDir = test::toUtf16((test::scratchDir() / "no-such-dir" / "x.wav").string());
  EXPECT_EQ(writeWave(missingDir.c_str(), &x, 1, 48000, false), -1);
}

TEST(WaveRead, IntegerAndFloatSampleFormats) {
  WaveSpec s16;
  appendLe(s16.data, 16384, 2);
  appendLe(s16.data, 0x8000, 2);  // -32768
  Read r = readSpec(s16);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.rate, 44100.0);
  EXPECT_EQ(r.samples, (std::vector<double>{0.5, -1.0}));

  WaveSpec s24;
  s24.bits = 24;
  for (uint32_t v : {0x400000u, 0x800000u, 0xFFFFFFu, 0x7FFFFFu}) appendLe(s24.data, v, 3);
  r = readSpec(s24);
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.count, 4);
  EXPECT_EQ(r.samples[0], 0.5);
  EXPECT_EQ(r.samples[1], -1.0);
  EXPECT_EQ(r.samples[2], -1.0 / 8388608.0);
  EXPECT_EQ(r.samples[3], static_cast<float>(8388607.0f / 8388608.0f));

  WaveSpec s32;
  s32.bits = 32;
  appendLe(s32.data, 1073741824u, 4);
  appendLe(s32.data, 0xC0000000u, 4);
  r = readSpec(s32);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.samples, (std::vector<double>{0.5, -0.5}));

  // Float with an 18-byte format chunk: the two extra bytes are skipped.
  WaveSpec f32;
  f32.formatTag = 3;
  f32.bits = 32;
  f32.fmtSize = 18;
  for (float v : {0.25f, -0.75f}) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    appendLe(f32.data, bits, 4);
  }
  r = readSpec(f32);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.samples, (std::vector<double>{0.25, -0.75}));
}

TEST(WaveRead, RefusedLayouts) {
  auto status = [](auto change) {
    WaveSpec s;
    appendLe(s.data, 1000, 2);
    appendLe(s.data, 2000, 2);
    change(s);
    return readSpec(s).status;
  };
  EXPECT_EQ(status([](WaveSpec& s) { s.channels = 2; }), -1);
  EXPECT_EQ(status([](WaveSpec& s) { s.bits = 8; }), -1);
  EXPECT_EQ(status([](WaveSpec& s) { s.bits = 40; }), -1);
  EXPECT_EQ(status([](WaveSpec& s) { s.formatTag = 3, s.bits = 64; }), -1);
  EXPECT_EQ(status([](WaveSpec& s) { s.formatTag = 3, s.bits = 16; }), -1);
  // Extensible (and any other tag) is judged before the channel count.
  EXPECT_EQ(status([](WaveSpec& s) { s.formatTag = 0xFFFE, s.channels = 2; }), kWaveUnsupportedFormat);
  EXPECT_EQ(status([](WaveSpec& s) { s.formatTag = 2; }), kWaveUnsupportedFormat);
  EXPECT_EQ(status([](WaveSpec& s) {
              appendTag(s.chunkBeforeData, "LIST");
              appendLe(s.chunkBeforeData, 4, 4);
              appendTag(s.chunkBeforeData, "INFO");
            }),
            -1);
}

TEST(WaveRead, BrokenFilesFailWithoutHandingOutSamples) {
  // A data chunk that stops short of its declared size: the header's values
  // are reported, the samples are not.
  WaveSpec s;
  appendLe(s.data, 1000, 2);
  s.declaredSize = 6;
  test::TempFile f("short.wav");
  writeBytes(f, buildWave(s));
  DynArray<double> samples(3);
  samples[0] = 42.0;
  double rate = 0;
  int32_t count = 0;
  EXPECT_EQ(readWave(f.c_str(), samples, rate, count), -1);
  EXPECT_EQ(rate, 44100.0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(samples.size(), 3);
  EXPECT_EQ(samples[0], 42.0);

  Bytes whole = buildWave(WaveSpec{});
  for (size_t cut : {0u, 3u, 11u, 20u, 39u}) {
    writeBytes(f, Bytes(whole.begin(), whole.begin() + cut));
    EXPECT_EQ(readFile(f).status, -1) << "cut at " << cut;
  }
  whole[0] = 'X';
  writeBytes(f, whole);
  EXPECT_EQ(readFile(f).status, -1);
  test::TempFile missing("missing.wav");
  EXPECT_EQ(readFile(missing).status, -1);
}

TEST(WaveRead, NonAsciiPathRoundTrip) {
  test::TempFile f("B\xC3\xBCro_\xE6\xB5\x8B\xE9\x87\x8F_\xF0\x9F\x8E\xB5.wav");
  const double x[2] = {0.25, -0.25};
  ASSERT_EQ(writeWave(f.c_str(), x, 2, 8000, true), 0);
  EXPECT_TRUE(std::filesystem::exists(f.path));
  const Read r = readFile(f);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.samples, (std::vector<double>{0.25, -0.25}));
}

}  // namespace
}  // namespace tavrix

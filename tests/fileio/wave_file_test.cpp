#include "fileio/wave_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "support/temp_path.h"

namespace tavrix {
namespace {

using Bytes = std::vector<unsigned char>;

void put(Bytes& b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void put(Bytes& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }
uint32_t le(const Bytes& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint32_t{b[at + i]} << (8 * i);
  return v;
}

// A WAV file assembled by hand, independently of the writer.
struct Hand {
  uint32_t tag = 1, channels = 1, bits = 16, fmtSize = 16, rate = 44100;
  Bytes between;          // a chunk between "fmt " and "data"
  Bytes data;             // sample bytes
  int64_t declared = -1;  // data size field; -1: the real size
  Bytes bytes() const {
    Bytes b;
    put(b, "RIFF"), put(b, 0, 4), put(b, "WAVE"), put(b, "fmt "), put(b, fmtSize, 4);
    put(b, tag, 2), put(b, channels, 2), put(b, rate, 4), put(b, 44100 * bits / 8, 4), put(b, bits / 8, 2);
    put(b, bits, 2);
    b.resize(b.size() + std::max(fmtSize, 16u) - 16);  // a short chunk still holds all 16 bytes
    b.insert(b.end(), between.begin(), between.end());
    put(b, "data");
    put(b, declared < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(declared), 4);
    b.insert(b.end(), data.begin(), data.end());
    return b;
  }
};

struct Read {
  int32_t status;
  std::vector<double> samples;
  double rate = -1;
  int32_t count = -1;
};

// Reads through a buffer holding 42: a failed read must leave it so.
Read readPath(const char16_t* path) {
  DynArray<double> samples(1);
  samples[0] = 42.0;
  Read r;
  r.status = readWave(path, samples, r.rate, r.count);
  r.samples.assign(samples.begin(), samples.end());
  return r;
}

Read readBytes(const Bytes& b) {
  test::TempFile f("hand.wav");
  std::ofstream(f.path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::ssize(b));
  return readPath(f.c_str());
}

Bytes fileBytes(const test::TempFile& f) {
  std::ifstream in(f.path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(WaveWrite, CanonicalLayoutsScaledCodesWrapAroundAndSinglePrecision) {
  test::TempFile f("pcm.wav");
  const std::vector<double> in{0.0, 1.0, -1.0, 0.5, 3.0, -3.0};
  ASSERT_EQ(writeWave(f.c_str(), in.data(), 6, 48000, false), 0);
  Bytes b = fileBytes(f);
  ASSERT_EQ(b.size(), 44u + 2 * 6);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 16), std::string("RIFF\x30\0\0\0WAVEfmt ", 16));
  EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
  // (offset, bytes, value): format size, PCM, mono, rate, byte rate, block align, bits, data size.
  const std::vector<std::tuple<size_t, int, uint32_t>> fields{{16, 4, 16},    {20, 2, 1},     {22, 2, 1},
                                                              {24, 4, 48000}, {28, 4, 96000}, {32, 2, 2},
                                                              {34, 2, 16},    {40, 4, 12}};
  for (auto [at, bytes, value] : fields) EXPECT_EQ(le(b, at, bytes), value) << at;
  // Full scale is 0.99 * 32768; 3.0 gives 97321, which keeps its low 16 bits.
  const std::vector<int16_t> codes{
      0, 32440, -32440, 16220, static_cast<int16_t>(97321 - 65536), static_cast<int16_t>(65536 - 97321)};
  const Read r = readPath(f.c_str());
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.rate, 48000.0);
  ASSERT_EQ(r.count, 6);
  for (size_t i = 0; i < codes.size(); ++i) {
    EXPECT_EQ(static_cast<int16_t>(le(b, 44 + 2 * i, 2)), codes[i]) << i;
    EXPECT_EQ(r.samples[i], codes[i] / 32768.0);
  }
  // Float: the same layout with tag 3 and four bytes a sample, read back
  // rounded to single precision.
  const std::vector<double> floats{0.1, -0.7, 1.5, 1e-9};
  ASSERT_EQ(writeWave(f.c_str(), floats.data(), 4, 22050, true), 0);
  b = fileBytes(f);
  ASSERT_EQ(b.size(), 44u + 4 * 4);
  for (auto [at, bytes, value] : {std::tuple{4, 4, 52u}, {20, 2, 3u}, {40, 4, 16u}})
    EXPECT_EQ(le(b, at, bytes), value) << at;
  const Read rf = readPath(f.c_str());
  ASSERT_EQ(rf.count, 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(rf.samples[i], static_cast<double>(static_cast<float>(floats[i])));
}

TEST(WaveRead, IntegerAndFloatSampleFormats) {
  const auto samplesOf = [](uint32_t tag, uint32_t bits, std::vector<uint32_t> codes) {
    Hand h;
    h.tag = tag, h.bits = bits, h.fmtSize = tag == 3 ? 18 : 16;  // float: two extra bytes to skip
    for (uint32_t c : codes) put(h.data, c, static_cast<int>(bits / 8));
    return readBytes(h.bytes()).samples;
  };
  EXPECT_EQ(samplesOf(1, 16, {16384, 0x8000}), (std::vector<double>{0.5, -1.0}));
  EXPECT_EQ(samplesOf(1, 24, {0x400000, 0x800000, 0xFFFFFF}),
            (std::vector<double>{0.5, -1.0, -1.0 / 8388608}));
  EXPECT_EQ(samplesOf(1, 32, {1u << 30, 0xC0000000u}), (std::vector<double>{0.5, -0.5}));
  EXPECT_EQ(samplesOf(3, 32, {std::bit_cast<uint32_t>(0.25f), std::bit_cast<uint32_t>(-0.75f)}),
            (std::vector<double>{0.25, -0.75}));
}

TEST(WaveRead, RefusedLayoutsAndBrokenFiles) {
  // (tag, channels, bits, an INFO chunk between "fmt " and "data") -> status:
  // stereo, 8 and 40 bits, 64- and 16-bit float, the extra chunk; extensible
  // (like any other tag) is judged before the channel count.
  // clang-format off
  const std::vector<std::array<int32_t, 5>> refused{{1, 2, 16, 0, -1}, {1, 1, 8, 0, -1}, {1, 1, 40, 0, -1},
      {3, 1, 64, 0, -1}, {3, 1, 16, 0, -1}, {1, 1, 16, 1, -1}, {0xFFFE, 2, 16, 0, kWaveUnsupportedFormat}};
  // clang-format on
  for (const auto& r : refused) {
    Hand h;
    h.tag = r[0], h.channels = r[1], h.bits = r[2];
    put(h.data, 1000, 2), put(h.data, 2000, 2);
    if (r[3]) put(h.between, "LIST"), put(h.between, 4, 4), put(h.between, "INFO");
    EXPECT_EQ(readBytes(h.bytes()).status, r[4]) << r[0] << " " << r[1] << " " << r[2] << " " << r[3];
  }
  // A data chunk that stops short of its declared size: the header's values
  // are reported, the samples are not.
  Hand h;
  put(h.data, 1000, 2);
  h.declared = 6;
  const Read r = readBytes(h.bytes());
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.rate, 44100.0);
  EXPECT_EQ(r.count, 3);
  EXPECT_EQ(r.samples, std::vector<double>{42.0});
  h.declared = 0xFFFFFFF0;  // refused before anything is allocated for it
  EXPECT_EQ(readBytes(h.bytes()).status, -1);
  Bytes b = Hand{}.bytes();
  for (size_t cut : {0u, 3u, 11u, 20u, 39u})
    EXPECT_EQ(readBytes(Bytes(b.begin(), b.begin() + cut)).status, -1);
  b[0] = 'X';
  EXPECT_EQ(readBytes(b).status, -1);
  // (format chunk size, rate) -> status: fields no analysis can use, and the
  // extreme valid rates. A refused header reports nothing.
  // clang-format off
  for (auto [fmtSize, rate, ok] : std::vector<std::tuple<uint32_t, uint32_t, bool>>{
           {15, 44100, 0}, {0, 44100, 0}, {16, 0, 0}, {16, 1u << 31, 0}, {16, ~0u, 0}, {16, 1, 1}, {16, ~0u >> 1, 1}}) {
    // clang-format on
    Hand w;
    w.fmtSize = fmtSize, w.rate = rate, put(w.data, 1000, 2);
    const Read r = readBytes(w.bytes());
    EXPECT_EQ(std::pair(r.status, r.rate), std::pair(ok ? 0 : -1, ok ? double(rate) : -1.0))
        << fmtSize << " " << rate;
  }
  test::TempFile missing("missing.wav");
  EXPECT_EQ(readPath(missing.c_str()).status, -1);
  EXPECT_EQ(readPath(nullptr).status, -1);
}

}  // namespace
}  // namespace tavrix

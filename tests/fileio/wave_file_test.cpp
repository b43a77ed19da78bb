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

#include "fileio/file_path.h"
#include "support/temp_path.h"

namespace tavrix {
namespace {

using Bytes = std::vector<unsigned char>;

void put(Bytes& b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void put(Bytes& b, const char* tag) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(tag[i]));
}

// A WAV file assembled by hand, independently of the writer.
struct Hand {
  uint32_t tag = 1, channels = 1, bits = 16, fmtSize = 16, rate = 44100;
  Bytes between{};        // a chunk between "fmt " and "data"
  Bytes data{};           // sample bytes
  int64_t declared = -1;  // data size field; -1: the real size
  Bytes bytes() const {
    const size_t fmt = std::max(fmtSize, 16u);  // a short chunk still holds all 16 bytes
    Bytes b;
    // The RIFF size counts everything after its own field.
    put(b, "RIFF"), put(b, static_cast<uint32_t>(20 + fmt + between.size() + data.size()), 4), put(b, "WAVE");
    put(b, "fmt "), put(b, fmtSize, 4), put(b, tag, 2), put(b, channels, 2), put(b, rate, 4);
    put(b, rate * bits / 8, 4), put(b, bits / 8, 2), put(b, bits, 2);
    b.resize(b.size() + fmt - 16);
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

// Reads a file of these bytes through a buffer holding 42: a failed read must leave it so.
Read readBytes(const Bytes& b) {
  test::TempFile f("hand.wav");
  std::ofstream(f.path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::ssize(b));
  DynArray<double> samples(std::vector{42.0}.data(), 1);
  Read r;
  r.status = readWave(f.c_str(), samples, r.rate, r.count);
  r.samples.assign(samples.begin(), samples.end());
  return r;
}

// The writer's file against one assembled by hand, byte for byte (the reader's
// decoding of these codes is pinned below).
TEST(WaveWrite, CanonicalLayoutsScaledCodesWrapAroundAndSinglePrecision) {
  test::TempFile f("pcm.wav");
  const auto written = [&](const std::vector<double>& x, int32_t rate, bool useFloat) {
    EXPECT_EQ(writeWave(f.c_str(), x.empty() ? nullptr : x.data(), std::ssize(x), rate, useFloat), 0);
    std::ifstream in(f.path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  };
  // Full scale is 0.99 * 32768; 3.0 gives 97321, which keeps its low 16 bits.
  const std::vector<int16_t> codes{
      0, 32440, -32440, 16220, static_cast<int16_t>(97321 - 65536), static_cast<int16_t>(65536 - 97321)};
  Hand pcm{.rate = 48000};
  for (int16_t c : codes) put(pcm.data, static_cast<uint16_t>(c), 2);
  EXPECT_EQ(written({0.0, 1.0, -1.0, 0.5, 3.0, -3.0}, 48000, false), pcm.bytes());
  // Float: tag 3, four bytes a sample rounded to single precision.
  const std::vector<double> floats{0.1, -0.7, 1.5, 1e-9};
  Hand ieee{.tag = 3, .bits = 32, .rate = 22050};
  for (double x : floats) put(ieee.data, std::bit_cast<uint32_t>(static_cast<float>(x)), 4);
  EXPECT_EQ(written(floats, 22050, true), ieee.bytes());
  // No samples (and no buffer): the header alone, with sizes 36 and 0.
  EXPECT_EQ(written({}, 8000, false), Hand{.rate = 8000}.bytes());
}

TEST(WaveRead, IntegerAndFloatSampleFormats) {
  const auto samplesOf = [](uint32_t tag, uint32_t bits, std::vector<uint32_t> codes) {
    Hand h{.tag = tag, .bits = bits, .fmtSize = tag == 3 ? 18u : 16u};  // float: two extra bytes to skip
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
  const std::vector<std::tuple<uint32_t, uint32_t, uint32_t, bool, int32_t>> refused{{1, 2, 16, 0, -1},
      {1, 1, 8, 0, -1}, {1, 1, 40, 0, -1}, {3, 1, 64, 0, -1}, {3, 1, 16, 0, -1}, {1, 1, 16, 1, -1},
      {0xFFFE, 2, 16, 0, kWaveUnsupportedFormat}};
  // clang-format on
  for (auto [tag, channels, bits, info, status] : refused) {
    Hand h{.tag = tag, .channels = channels, .bits = bits, .data = {0xE8, 0x03, 0xD0, 0x07}};  // 1000, 2000
    if (info) put(h.between, "LIST"), put(h.between, 4, 4), put(h.between, "INFO");
    EXPECT_EQ(readBytes(h.bytes()).status, status) << tag << " " << channels << " " << bits << " " << info;
  }
  // A data chunk that stops short of its declared size: the header's values
  // are reported, the samples are not; the largest count, 2^31 - 1 samples,
  // is refused before anything is allocated for it.
  Hand h{.data = {0xE8, 0x03}};
  for (auto [declared, count] : {std::pair{6u, 3}, {0xFFFFFFFEu, 0x7FFFFFFF}}) {
    h.declared = declared;
    const Read r = readBytes(h.bytes());
    EXPECT_EQ(std::tuple(r.status, r.rate, r.count, r.samples),
              std::tuple(-1, 44100.0, count, std::vector{42.0}));
  }
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
    Hand w{.fmtSize = fmtSize, .rate = rate, .data = {0xE8, 0x03}};
    const Read r = readBytes(w.bytes());
    EXPECT_EQ(std::pair(r.status, r.rate), std::pair(ok ? 0 : -1, ok ? double(rate) : -1.0))
        << fmtSize << " " << rate;
  }
}

// UTF-16 names to UTF-8 at both sides of each change of sequence length.
TEST(FilePath, Utf8SequenceLengths) {
  // clang-format off
  for (auto [in, out] : std::vector<std::pair<std::u16string, std::string>>{{u"\u007F", "\x7F"},
           {u"\u0080", "\xC2\x80"}, {u"\u07FF", "\xDF\xBF"}, {u"\u0800", "\xE0\xA0\x80"}, {u"\uFFFF", "\xEF\xBF\xBF"},
           {u"\U00010000", "\xF0\x90\x80\x80"}})
    // clang-format on
    EXPECT_EQ(utf16ToUtf8(in.c_str()), out) << out.size();
}

}  // namespace
}  // namespace tavrix

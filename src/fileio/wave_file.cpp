#include "fileio/wave_file.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "fileio/file_path.h"

namespace tavrix {
namespace {

using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

constexpr int32_t kFormatPcm = 1;
constexpr int32_t kFormatFloat = 3;
// Where the RIFF chunk size sits; the data size follows the "data" tag.
constexpr long kRiffSizeOffset = 4;
// Samples are converted and written in blocks of this many to bound temporary memory.
constexpr int32_t kBlockSamples = 1 << 16;

// Per-call working record of the reader and the writer.
struct WaveFile {
  int32_t sampleCount = 0;
  int32_t sampleRate = 0;
  int32_t bitsPerSample = 0;
  int32_t formatTag = 0;
  const char16_t* path = nullptr;
  long dataPosition = 0;  // reader: first sample; writer: the "data" tag
  long endPosition = 0;   // writer: file length after the last sample; reader: file length
};

// Little-endian integer fields, assembled byte by byte so that the host's byte
// order and alignment never matter.
bool readBytes(std::FILE* f, unsigned char* out, size_t n) { return std::fread(out, 1, n, f) == n; }

bool readU32(std::FILE* f, uint32_t& v) {
  unsigned char b[4];
  if (!readBytes(f, b, 4)) return false;
  v = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  return true;
}

bool readU16(std::FILE* f, uint32_t& v) {
  unsigned char b[2];
  if (!readBytes(f, b, 2)) return false;
  v = uint32_t{b[0]} | uint32_t{b[1]} << 8;
  return true;
}

bool expectTag(std::FILE* f, const char* tag) {
  unsigned char b[4];
  return readBytes(f, b, 4) && std::memcmp(b, tag, 4) == 0;
}

void putU32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

void putU16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

bool writeU32At(std::FILE* f, long offset, uint32_t v) {
  unsigned char b[4];
  putU32(b, v);
  return std::fseek(f, offset, SEEK_SET) == 0 && std::fwrite(b, 1, 4, f) == 4;
}

// Parses the header up to the first sample. Only the canonical layout is
// understood: RIFF/WAVE, a "fmt " chunk first and the "data" chunk right
// after it. The format tag is judged before anything else in the chunk, so an
// extensible or compressed file is told apart (-10) from a PCM or float file
// with a layout we refuse (-1).
int32_t readWaveHeader(WaveFile& wave, const char16_t* path) {
  if (wave.path) return -1;
  wave.path = path;
  FilePtr f(openFile(path, "rb"));
  if (!f) return -1;
  uint32_t riffSize, fmtSize, formatTag, channels, sampleRate, skipped, bits, dataSize;
  if (!expectTag(f.get(), "RIFF") || !readU32(f.get(), riffSize) || !expectTag(f.get(), "WAVE") ||
      !expectTag(f.get(), "fmt ") || !readU32(f.get(), fmtSize) || !readU16(f.get(), formatTag))
    return -1;
  if (formatTag != kFormatPcm && formatTag != kFormatFloat) return kWaveUnsupportedFormat;
  // The fields below fill 16 bytes; a shorter chunk would have them read from
  // whatever follows it.
  if (fmtSize < 16) return -1;
  if (!readU16(f.get(), channels) || channels != 1) return -1;
  if (!readU32(f.get(), sampleRate) || !readU32(f.get(), skipped) || !readU16(f.get(), skipped)) return -1;
  // Every analysis divides by the rate or lays out seconds in samples with it:
  // it must be a positive 32-bit count. Byte rate and block align only repeat
  // what rate and sample size say, so their values are not judged.
  if (sampleRate == 0 || sampleRate > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) return -1;
  if (!readU16(f.get(), bits) || (bits != 16 && bits != 24 && bits != 32)) return -1;
  // Float data is only understood as IEEE single precision.
  if (formatTag == kFormatFloat && bits != 32) return -1;
  // An extended format chunk (18 bytes, say) carries fields we do not use.
  if (fmtSize > 16 && std::fseek(f.get(), static_cast<long>(fmtSize - 16), SEEK_CUR) != 0) return -1;
  if (!expectTag(f.get(), "data") || !readU32(f.get(), dataSize)) return -1;
  const uint32_t count = dataSize / (bits / 8);
  if (count > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) return -1;
  wave.formatTag = static_cast<int32_t>(formatTag);
  wave.bitsPerSample = static_cast<int32_t>(bits);
  wave.sampleRate = static_cast<int32_t>(sampleRate);
  wave.sampleCount = static_cast<int32_t>(count);
  wave.dataPosition = std::ftell(f.get());
  if (wave.dataPosition < 0 || std::fseek(f.get(), 0, SEEK_END) != 0) return -1;
  wave.endPosition = std::ftell(f.get());
  return 0;
}

// True when the file holds every sample the data chunk declares, so that a
// damaged or hostile size field never makes us allocate for data that is not there.
bool dataPresent(const WaveFile& wave) {
  const int64_t needed = int64_t{wave.sampleCount} * (wave.bitsPerSample / 8);
  return int64_t{wave.endPosition} - int64_t{wave.dataPosition} >= needed;
}

// Converts one stored sample to single precision, as every sample passes
// through float on its way in: integer PCM is scaled so that full scale is
// +-1 (the most negative code is exactly -1).
float decodeSample(const unsigned char* p, int32_t formatTag, int32_t bits) {
  uint32_t raw = 0;
  const int32_t bytes = bits / 8;
  for (int32_t i = 0; i < bytes; ++i) raw |= uint32_t{p[i]} << (8 * i);
  if (formatTag == kFormatFloat) return std::bit_cast<float>(raw);
  // Sign-extend from `bits` bits by moving the sign bit to the top.
  const int32_t value = static_cast<int32_t>(raw << (32 - bits)) >> (32 - bits);
  const float fullScale = static_cast<float>(uint32_t{1} << (bits - 1));
  return static_cast<float>(value) / fullScale;
}

// Reads sampleCount samples into out (already sized). A data chunk that ends
// before its declared size is refused rather than padded: a truncated
// recording would otherwise pass for a shorter, silent-tailed one.
int32_t readWaveSamples(const WaveFile& wave, double* out) {
  if (wave.formatTag != kFormatPcm && wave.formatTag != kFormatFloat) return -1;
  FilePtr f(openFile(wave.path, "rb"));
  if (!f || std::fseek(f.get(), wave.dataPosition, SEEK_SET) != 0) return -1;
  const int32_t bytes = wave.bitsPerSample / 8;
  std::vector<unsigned char> block(static_cast<size_t>(kBlockSamples) * static_cast<size_t>(bytes));
  for (int32_t done = 0; done < wave.sampleCount;) {
    const int32_t count = std::min(kBlockSamples, wave.sampleCount - done);
    if (!readBytes(f.get(), block.data(), static_cast<size_t>(count) * static_cast<size_t>(bytes))) return -1;
    for (int32_t i = 0; i < count; ++i)
      out[done + i] = decodeSample(block.data() + i * bytes, wave.formatTag, wave.bitsPerSample);
    done += count;
  }
  return 0;
}

int32_t writeWaveHeader(WaveFile& wave, const char16_t* path, int32_t sampleRate, int32_t formatTag) {
  if (formatTag != kFormatPcm && formatTag != kFormatFloat) return -1;
  wave.path = path;
  FilePtr f(openFile(path, "wb"));
  if (!f) return -1;
  const uint32_t bytesPerSample = static_cast<uint32_t>(wave.bitsPerSample) / 8;
  unsigned char h[44] = {};
  std::memcpy(h, "RIFF", 4);  // bytes 4..7: RIFF size, patched at the end
  std::memcpy(h + 8, "WAVE", 4);
  std::memcpy(h + 12, "fmt ", 4);
  putU32(h + 16, 16);
  putU16(h + 20, static_cast<uint32_t>(formatTag));
  putU16(h + 22, 1);
  putU32(h + 24, static_cast<uint32_t>(sampleRate));
  putU32(h + 28, static_cast<uint32_t>(sampleRate) * bytesPerSample);
  putU16(h + 32, bytesPerSample);
  putU16(h + 34, static_cast<uint32_t>(wave.bitsPerSample));
  wave.dataPosition = 36;
  std::memcpy(h + 36, "data", 4);  // bytes 40..43: data size, patched at the end
  return std::fwrite(h, 1, sizeof h, f.get()) == sizeof h ? 0 : -1;
}

// The 16-bit code of one sample: full scale maps to 0.99 * 32768 so that a
// sweep at 0 dB stays clear of the converter's limit. The product 32768 * s is
// formed in single precision, then scaled and rounded half away from zero in
// double. Nothing is clipped: codes outside the 16-bit range keep their low 16
// bits (wrap around). Non-finite samples have no integer code and give 0.
uint16_t pcm16Code(float s) {
  const double v = std::round(static_cast<double>(32768.0f * s) * 0.99);
  if (!std::isfinite(v)) return 0;
  // fmod is exact, so this is the low 16 bits of v in two's complement.
  double low = std::fmod(v, 65536.0);
  if (low < 0) low += 65536.0;
  return static_cast<uint16_t>(low);
}

}  // namespace

int32_t readWave(const char16_t* path, DynArray<double>& samples, double& sampleRate, int32_t& sampleCount) {
  WaveFile wave;
  const int32_t status = readWaveHeader(wave, path);
  if (status != 0) return status;
  sampleRate = static_cast<double>(wave.sampleRate);
  sampleCount = wave.sampleCount;
  if (!dataPresent(wave)) return -1;
  DynArray<double> values;
  values.resizeExact(wave.sampleCount);
  if (readWaveSamples(wave, values.data()) != 0) return -1;
  samples.swap(values);
  return 0;
}

int32_t writeWave(const char16_t* path, const double* samples, int32_t n, int32_t sampleRate, bool useFloat) {
  if (n < 0 || (n > 0 && !samples)) return -1;
  WaveFile wave;
  wave.sampleCount = n;
  wave.formatTag = useFloat ? kFormatFloat : kFormatPcm;
  wave.bitsPerSample = useFloat ? 32 : 16;
  if (writeWaveHeader(wave, path, sampleRate, wave.formatTag) != 0) return -1;
  {
    // The header is complete on disk; the samples are appended to it. If the
    // file cannot be reopened the header stays, with zero sizes.
    FilePtr f(openFile(path, "ab"));
    if (!f) return -1;
    const int32_t bytes = wave.bitsPerSample / 8;
    std::vector<unsigned char> block(static_cast<size_t>(kBlockSamples) * static_cast<size_t>(bytes));
    for (int32_t done = 0; done < n;) {
      const int32_t count = std::min(kBlockSamples, n - done);
      for (int32_t i = 0; i < count; ++i) {
        const float s = static_cast<float>(samples[done + i]);
        unsigned char* p = block.data() + i * bytes;
        if (useFloat)
          putU32(p, std::bit_cast<uint32_t>(s));
        else
          putU16(p, pcm16Code(s));
      }
      const size_t length = static_cast<size_t>(count) * static_cast<size_t>(bytes);
      if (std::fwrite(block.data(), 1, length, f.get()) != length) return -1;
      done += count;
    }
    // Flush and seek to the end first: some C runtimes report the position of
    // a file opened for appending from 0 until something has been written
    // there, which for an empty recording is never.
    if (std::fflush(f.get()) != 0 || std::fseek(f.get(), 0, SEEK_END) != 0) return -1;
    wave.endPosition = std::ftell(f.get());
  }
  // Patch the two sizes. A failure here is not reported: the samples are
  // written and the header keeps its zero sizes.
  FilePtr f(openFile(path, "r+b"));
  if (f && wave.endPosition >= 8) {
    const uint32_t dataSize = static_cast<uint32_t>(wave.bitsPerSample / 8) * static_cast<uint32_t>(n);
    if (writeU32At(f.get(), wave.dataPosition + 4, dataSize))
      writeU32At(f.get(), kRiffSizeOffset, static_cast<uint32_t>(wave.endPosition - 8));
  }
  return 0;
}

}  // namespace tavrix

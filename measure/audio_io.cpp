#include "audio_io.h"

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>

#include "measure_error.h"

namespace tavrix::measure {

namespace {

struct SndFileCloser {
  void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndFilePtr = std::unique_ptr<SNDFILE, SndFileCloser>;

void writeMono(const std::string& path, const std::vector<double>& samples, int sampleRate, int subFormat,
               bool clip) {
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | subFormat;
  SndFilePtr file(sf_open(path.c_str(), SFM_WRITE, &info));
  if (!file) {
    fail(TVM_WRITE_FAILED, path + ": cannot be written (" + sf_strerror(nullptr) +
                               "); check that the directory exists and is writable");
  }
  if (clip) sf_command(file.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
  const sf_count_t n = static_cast<sf_count_t>(samples.size());
  if (sf_write_double(file.get(), samples.data(), n) != n) {
    fail(TVM_WRITE_FAILED,
         path + ": writing failed (" + sf_strerror(file.get()) + "); check the free disk space");
  }
}

// Bits of the integer sample formats; 0 for the others.
int pcmBits(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
      return 8;
    case SF_FORMAT_PCM_16:
      return 16;
    case SF_FORMAT_PCM_24:
      return 24;
    case SF_FORMAT_PCM_32:
      return 32;
    default:
      return 0;
  }
}

std::string formatName(int format) {
  const int bits = pcmBits(format);
  if (bits > 0) return std::to_string(bits) + "-bit PCM";
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_FLOAT:
      return "32-bit float";
    case SF_FORMAT_DOUBLE:
      return "64-bit float";
    default:
      return "compressed";
  }
}

}  // namespace

Audio readAudio(const std::string& path, int channel) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) fail(TVM_NO_FILE, path + ": no such file; check the path");
  if (std::filesystem::is_directory(path, ec))
    fail(TVM_NO_FILE, path + ": is a directory; give an audio file");
  SF_INFO info{};
  SndFilePtr file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) {
    fail(TVM_BAD_FILE, path + ": not a readable audio file (" + sf_strerror(nullptr) +
                           "); save it as WAV (PCM or float) or FLAC");
  }
  if (info.channels > 1 && channel == 0) {
    fail(TVM_BAD_CHANNEL, path + ": the file has " + std::to_string(info.channels) +
                              " channels; choose one of channels 1.." + std::to_string(info.channels));
  }
  if (channel < 0 || channel > info.channels) {
    fail(TVM_BAD_CHANNEL, "channel " + std::to_string(channel) + ": " + path + " has " +
                              std::to_string(info.channels) +
                              (info.channels == 1 ? " channel" : " channels") + "; choose 1.." +
                              std::to_string(info.channels));
  }
  if (info.frames < 1) fail(TVM_SILENT, path + ": the file holds no samples; record again");
  if (info.frames > std::numeric_limits<int32_t>::max()) {
    fail(TVM_BAD_FILE, path + ": more samples than the library can take (2^31 - 1); shorten the file");
  }
  const size_t frames = static_cast<size_t>(info.frames);
  const size_t channels = static_cast<size_t>(info.channels);
  const size_t pick = channel > 0 ? static_cast<size_t>(channel - 1) : 0;

  Audio audio;
  audio.sampleRate = info.samplerate;
  const int bits = pcmBits(info.format);
  audio.quantisationStep = bits > 0 ? std::ldexp(1.0, 1 - bits) : 0.0;
  audio.format = formatName(info.format);
  audio.channels = info.channels;
  audio.channel = static_cast<int>(pick) + 1;
  audio.samples.resize(frames);
  // Read interleaved frames in slices so that a long multichannel recording
  // does not need a second full-size buffer.
  constexpr size_t kSliceFrames = 65536;
  std::vector<double> slice(kSliceFrames * channels);
  size_t done = 0;
  while (done < frames) {
    const sf_count_t want = static_cast<sf_count_t>(std::min(kSliceFrames, frames - done));
    const sf_count_t got = sf_readf_double(file.get(), slice.data(), want);
    if (got <= 0) {
      fail(TVM_BAD_FILE, path + ": the file ends before its declared length (" + std::to_string(done) +
                             " of " + std::to_string(frames) + " samples); the file is damaged");
    }
    for (size_t i = 0; i < static_cast<size_t>(got); ++i)
      audio.samples[done + i] = slice[i * channels + pick];
    done += static_cast<size_t>(got);
  }
  return audio;
}

void writeFloatWav(const std::string& path, const std::vector<double>& samples, int sampleRate) {
  writeMono(path, samples, sampleRate, SF_FORMAT_FLOAT, false);
}

void writePlainPcmWav(const std::string& path, const std::vector<double>& samples, int sampleRate) {
  writeMono(path, samples, sampleRate, SF_FORMAT_PCM_32, true);
}

void writeFloatWavChannels(const std::string& path, const std::vector<std::vector<float>>& channels,
                           int sampleRate) {
  const size_t count = channels.size(), frames = count ? channels.front().size() : 0;
  for (const auto& c : channels)
    if (c.size() != frames || count == 0) fail(TVM_BAD_ARGUMENT, path + ": channels of unequal length");
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = static_cast<int>(count);
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SndFilePtr file(sf_open(path.c_str(), SFM_WRITE, &info));
  if (!file) {
    fail(TVM_WRITE_FAILED, path + ": cannot be written (" + sf_strerror(nullptr) +
                               "); check that the directory exists and is writable");
  }
  std::vector<float> frame(count);
  for (size_t i = 0; i < frames; ++i) {
    for (size_t c = 0; c < count; ++c) frame[c] = channels[c][i];
    if (sf_writef_float(file.get(), frame.data(), 1) != 1) {
      fail(TVM_WRITE_FAILED,
           path + ": writing failed (" + sf_strerror(file.get()) + "); check the free disk space");
    }
  }
}

}  // namespace tavrix::measure

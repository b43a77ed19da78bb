// Reading the audio files people bring (any layout libsndfile understands:
// WAV with extra chunks, WAVE_FORMAT_EXTENSIBLE, FLAC, multichannel) and
// writing the float files of the tool's own results.
#pragma once

#include <string>
#include <vector>

namespace tavrix::measure {

struct Audio {
  std::vector<double> samples;  // one channel, full scale +-1
  int sampleRate = 0;
  // The smallest step the file's sample format can take (2^-15 for 16-bit
  // PCM); 0 for float files, whose only exact silence is 0.
  double quantisationStep = 0;
  std::string format;  // "16-bit PCM", "32-bit float", ...
  int channels = 1;    // in the file
  int channel = 1;     // the one read, from 1
};

// Reads one channel of a file. channel is 1-based; 0 means "not chosen",
// which is fine for a mono file and a usage error (saying how many channels
// there are) for a multichannel one.
Audio readAudio(const std::string& path, int channel);

// Writes a mono 32-bit float WAV file.
void writeFloatWav(const std::string& path, const std::vector<double>& samples, int sampleRate);

// Writes a mono 32-bit PCM WAV file with nothing but the format and data
// chunks: the one layout every WAV reader accepts. Samples are clipped to +-1.
void writePlainPcmWav(const std::string& path, const std::vector<double>& samples, int sampleRate);

// Writes a 32-bit float WAV file of equally long channels, unclipped.
void writeFloatWavChannels(const std::string& path, const std::vector<std::vector<float>>& channels,
                           int sampleRate);

}  // namespace tavrix::measure

// The speech transmission index of one response through the library, with
// the conditioning every analysis here gets.
#pragma once

#include <string>
#include <vector>

#include "response_input.h"

namespace tavrix::measure {

// The index uses the octave bands 125 Hz (band 7) to 8 kHz (band 13) and the
// modulation frequencies 10^((j - 2) / 10) Hz, 0.63 to 12.5 Hz.
constexpr int kFirstStiBand = 7, kStiBands = 7, kModulationFrequencies = 14;

double modulationFrequency(int j);

struct StiOptions {
  bool nativeRate = false;
  // Speech and noise levels in dB of the 7 octave bands, both or neither.
  std::vector<double> signalDb, noiseDb;
};

struct StiResult {
  double male = 0;    // index with the male-speech weights
  double female = 0;  // and with the female-speech weights
  bool levelsCorrected = false;
  int sampleRate = 0, sourceRate = 0;
  double bandScale = 1;                  // analysed centre frequency over nominal
  std::vector<std::vector<double>> mtf;  // 7 octave bands x 14 modulation frequencies
  std::vector<std::string> notes;        // what was done to the response
  // STIPA of the same response, with the same weights and levels (stipa.h).
  double stipaMale = 0, stipaFemale = 0;
  std::vector<std::vector<double>> stipaMtf;  // 7 octave bands x their 2 modulation frequencies
};

// The index of a response as it came: resampled to 48 kHz unless the options
// keep its rate; its trailing silence is kept, since it changes no
// modulation sum. Safe from any thread.
StiResult measureSti(const AudioView& response, const StiOptions& options);

}  // namespace tavrix::measure

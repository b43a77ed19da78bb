// The speech transmission index of one response through the library.
#pragma once

#include <string>
#include <vector>

namespace tavrix::cli {

struct StiResult {
  double male = 0;                       // index with the male-speech weights
  double female = 0;                     // and with the female-speech weights
  std::vector<std::vector<double>> mtf;  // 7 octave bands x 14 modulation frequencies
};

// Levels, when given, are 7 octave-band values each (dB).
StiResult analyseSti(const std::string& name, const std::vector<double>& samples, int sampleRate,
                     const std::vector<double>* signalDb, const std::vector<double>* noiseDb);

}  // namespace tavrix::cli

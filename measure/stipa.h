// STIPA, the compact speech transmission index that public-address and
// voice-alarm meters measure with a test signal modulating each octave band
// at two frequencies, here from an impulse response: the modulation transfer
// at those frequencies by Schroeder's formula,
//   m(F) = |sum h^2(t) exp(-j 2 pi F t)| / sum h^2(t),
// of the response filtered through each octave band, and the index formed
// from it with the full index's band weights, redundancy factors and noise
// correction.
#pragma once

#include <vector>

namespace tavrix::measure {

constexpr int kStipaBands = 7, kStipaFrequencies = 2;

// The test signal's modulation frequencies in Hz, per octave band 125 Hz to
// 8 kHz.
double stipaModulationFrequency(int band, int k);

// The modulation transfer of one band's squared response at F Hz.
double modulationTransfer(const std::vector<double>& envelope, double fs, double frequency);

// The squared response through the octave bands 125 Hz .. 8 kHz, filtered
// forward from rest as the library's index filters it. Safe from any thread.
std::vector<std::vector<double>> octaveEnvelopes(const std::vector<double>& x);

// The index of a modulation transfer matrix, 7 octave bands by any number of
// modulation frequencies (2 for STIPA, 14 for the full index), with the
// male or the female weights; signalDb and noiseDb (7 each, or both empty)
// reduce each band's modulation by the background noise.
double indexFromMtf(const std::vector<std::vector<double>>& mtf, bool male,
                    const std::vector<double>& signalDb, const std::vector<double>& noiseDb);

struct Stipa {
  double male = 0, female = 0;
  std::vector<std::vector<double>> mtf;  // 7 bands x 2 modulation frequencies
};

// STIPA of a conditioned response at fs Hz; levels as for indexFromMtf.
Stipa stipa(const std::vector<double>& x, double fs, const std::vector<double>& signalDb,
            const std::vector<double>& noiseDb);

}  // namespace tavrix::measure

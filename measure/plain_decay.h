// Reverberation times of a decay that never meets a noise floor, by plain
// backward integration (Schroeder) of the band energy: the fallback for bands
// whose noise-compensated analysis finds no floor to compensate, for example
// a response whose noise was gated away.
#pragma once

#include <vector>

namespace tavrix::measure {

// The decay part of a band's level curve: one value per sample in dB re the
// band's peak, from the onset of the direct sound to the end of the window.
struct PlainDecay {
  std::vector<double> decayCurveDb;  // backward integral in dB re its value at the onset
  std::vector<double> times;         // s per range; NaN where the decay does not cover the range
  std::vector<double> fitQuality;    // r2 per range
  double endLevelDb = 0;             // mean level of the last tenth of the decay, dB re the peak
  bool stillFalling = false;         // the last tenth lies 3 dB or more below the tenth before it
};

// The mean level of the last tenth of a decay in dB re the peak (NaN for a
// decay of fewer than ten values).
double lastTenthLevelDb(const std::vector<double>& levelDb);

// Evaluates each range (0: the early decay time from 0 to -10 dB; R >= 10:
// from -5 to -(R + 5) dB) on the backward integral, by a least-squares line
// through every sample between the levels nearest the two ends, as the
// library does on its compensated curve. A range is evaluated only when the
// decay is still falling at its end and that end lies at least 10 dB below
// the end of the range (the margin ISO 3382-1 asks between a range and the
// noise), so the truncation of the integral at the end of the window moves
// the range's end by less than half a decibel.
PlainDecay plainDecay(const std::vector<double>& levelDb, const std::vector<double>& ranges, double fs);

}  // namespace tavrix::measure

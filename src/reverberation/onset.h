// Location of the direct sound in a broadband energy envelope, and of the
// segment and analysis window that the decay analysis keeps around it.
#pragma once

#include <cstdint>

namespace tavrix {

constexpr int32_t kOnsetNoRise = -40;   // no 10 ms block rises clearly above the background
constexpr int32_t kOnsetNoSearch = -1;  // rate too low for a quarter-second peak search to mean anything

// The first quarter second of a deconvolved response can hold the wrapped-round
// end of the measurement (distortion products, pre-ringing); the direct sound
// is looked for from there on. A response that ends before has no place to
// look.
constexpr double kPeakSearchStartSeconds = 0.25;

struct OnsetResult {
  int32_t status = 0;     // 0 or kOnsetNoRise
  double onsetPos = 0.0;  // 1-based position within the searched stretch
  double peakToNoiseDb = 0.0;
};

// The positions that locateImpulse fixes. segmentStart and segmentEnd count
// in the response; onset and the window positions within the segment
// (position 1 = segmentStart).
struct ImpulseLocation {
  double segmentStart = 0.0;
  double segmentEnd = 0.0;
  double onset = 0.0;
  double windowEnd = 0.0;
  double windowStart = 0.0;
  double peakToNoise = 0.0;  // dB
};

// Onset of the direct sound in s[0..length-1] sampled at fs: the first sample
// of the last 0.1 s before the energy peak that lies above a threshold set by
// the peak's margin over the background found by a 10 ms rise search.
OnsetResult detectOnset(const double* s, int32_t length, double fs);

// Finds the broadband peak from 0.25 s on, keeps the segment from half a
// second before it, and fixes onset and analysis window. energy[0..n-1];
// span = (sweepDuration + tailDuration + 1) * fs samples. Returns 0 or the
// negative status of detectOnset (kOnsetNoSearch below 2 Hz); on failure only
// segmentStart and segmentEnd are set, the other fields are 0.
int32_t locateImpulse(const double* energy, int32_t n, double fs, double sweepDuration, double span,
                      ImpulseLocation& location);

}  // namespace tavrix

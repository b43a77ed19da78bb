// The demo's room: a known impulse response to measure.
//
// Behind a direct sound after a short latency, the reverberant field is a sum
// of exponentially decaying noises, one per third-octave band and each
// band-limited by the library's own filters, whose reverberation times follow
// the octave-band values of the room (interpolated between them along the
// logarithmic frequency axis). A steady noise floor lies a fixed distance
// below the response's loudest 10 ms, as in a measured response.
#pragma once

#include <vector>

namespace tavrix::measure {

struct RoomBand {
  int band;    // octave band number (10 = 1 kHz), ascending
  double t60;  // reverberation time in s
};

struct SyntheticRoom {
  double sampleRate = 48000;
  double latency = 0.005;        // s from the start of the response to the direct sound
  double length = 3.0;           // s of response
  double noiseBelowPeakDb = 60;  // noise floor re the peak 10 ms of the response
  double directToReverbDb = 0;   // direct sound energy re the reverberant energy
  std::vector<RoomBand> bands;
};

// The documented default room: 1.4 s at 125 Hz falling to 0.6 s at 8 kHz.
SyntheticRoom demoRoom();

// The room's impulse response, the same for every run (fixed seed).
std::vector<double> roomResponse(const SyntheticRoom& room);

// True reverberation time of an octave band (NaN if the room has none).
double roomT60(const SyntheticRoom& room, int band);

// Reverberation time of a third-octave band (band 30 = 1 kHz).
double roomT60AtThird(const SyntheticRoom& room, int third);

}  // namespace tavrix::measure

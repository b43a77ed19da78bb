// Harmonic distortion from the response of an exponential sine sweep.
//
// A memoryless distortion turns the sweep sin(phi(t)) into harmonics
// sin(k phi(t)), and for an exponential sweep k phi(t) is the sweep itself
// advanced by dt_k = T ln k / ln(f2 / f1) (plus a constant phase). The
// deconvolution therefore puts the response of harmonic k dt_k before the
// linear one, wrapped around the end of the array, and the spectrum of that
// harmonic response at k f, over that of the linear response at f, is the
// harmonic's amplitude relative to the fundamental at excitation frequency f.
#pragma once

#include <vector>

namespace tavrix::measure {

// Harmonics above the tenth lie closer together than a room's response is
// long, even for long sweeps.
constexpr int kMaxHarmonic = 10;

struct SweepShape {
  double sampleRate, from, to, seconds;  // Hz, Hz, Hz, s
};

struct DistortionBand {
  int band;                         // third-octave band number of the fundamental (30 = 1 kHz)
  double frequency;                 // its mid-band frequency in Hz
  std::vector<double> harmonicsDb;  // harmonic k re the fundamental; NaN where k f lies above the sweep
  double thdPercent;                // 100 sqrt(sum of the harmonics' energies re the fundamental)
};

struct DistortionResult {
  int firstHarmonic = 2, lastHarmonic = 5;
  double windowSeconds = 0;  // length of every response's window
  std::vector<DistortionBand> bands;
};

// Cuts the linear response (at the response's peak) and each harmonic's at
// its advance, all with one window whose length is the smallest gap between
// neighbouring harmonics up to lastHarmonic, and compares their band energies
// in the third octaves that the sweep covers. A response too short to hold
// the harmonics asked for is a usage error.
DistortionResult analyseDistortion(const std::vector<double>& response, const SweepShape& sweep,
                                   int firstHarmonic, int lastHarmonic);

}  // namespace tavrix::measure

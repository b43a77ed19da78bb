// The fixed 48 kHz filter designs: fractional-octave band-pass filters of four
// resolutions, the A- and C-weighting filters and the bands' step delays.
#pragma once

#include <array>
#include <cstdint>

namespace tavrix {

// Every design is made for this rate; a signal at another rate is filtered
// with the same coefficients, so its band frequencies scale with the rate.
constexpr double kDesignSampleRate = 48000.0;

// Band numbers of one resolution and how many bands share an octave.
struct BandRange {
  int32_t firstBand;
  int32_t lastBand;
  int32_t bandsPerOctave;
};

// Resolutions 1 (octave) to 4 (twenty-fourth octave); row 0 is all zero.
constexpr int32_t kResolutionCount = 4;
constexpr std::array<BandRange, kResolutionCount + 1> kBandRanges{{
    {0, 0, 0},
    {4, 14, 1},
    {12, 43, 3},
    {49, 174, 12},
    {112, 348, 24},
}};

// True for a resolution 1..4 and a band number inside its range.
bool bandInRange(int32_t resolution, int32_t band);

// Mid-band frequency in Hz of band n at b bands per octave, on the base-ten
// octave ratio G = 10^0.3. Octave and third-octave bands are centred on 1 kHz
// (octave band 10, third-octave band 30); the finer resolutions put 1 kHz on
// a band edge (twelfth-octave bands 120 and 121 lie either side of it).
double bandMidFrequency(int32_t bandsPerOctave, int32_t band);
// The band edges fm * G^(-1/2b) and fm * G^(1/2b), where the filter is 3 dB down.
double bandLowerEdge(int32_t bandsPerOctave, int32_t band);
double bandUpperEdge(int32_t bandsPerOctave, int32_t band);

// One eighth-order band-pass filter as loaded by sosLoad: four sections of
// b0 b1 b2 a0 a1 a2, then the input gains of the four sections and the output
// gain (g0, 1, g2, 1, 1).
struct BandPassDesign {
  std::array<double, 24> sections;
  std::array<double, 5> gains;
};

// Designs the Butterworth band-pass with -3 dB edges f1 < f2 (Hz) at 48 kHz.
BandPassDesign designBandPass(double f1, double f2);

// The design of a band of a resolution, computed for all 406 bands on first
// use. The caller checks bandInRange first.
const BandPassDesign& bandPassDesign(int32_t resolution, int32_t band);

// The band's step delay in samples at 48 kHz, or -1 outside the resolution's range.
int32_t bandStepDelay(int32_t resolution, int32_t band);

// The weighting filters: A is sixth order (three sections), C fourth order (two).
struct AWeightingDesign {
  std::array<double, 18> sections;
  std::array<double, 4> gains;
};
struct CWeightingDesign {
  std::array<double, 12> sections;
  std::array<double, 3> gains;
};
const AWeightingDesign& aWeightingDesign();
const CWeightingDesign& cWeightingDesign();

}  // namespace tavrix

// Band numbers of the library's filter banks, their nominal names and the
// choice of a band range on the command line.
#pragma once

#include <string>
#include <vector>

namespace tavrix::measure {

enum class BandResolution { Octave = 1, Third = 2 };

// The library's broadband evaluations: A-weighted, and unfiltered ("Z").
constexpr int kBandA = 100000, kBandZ = 100002;

struct BandSet {
  BandResolution resolution = BandResolution::Octave;
  int firstBand = 7;  // 125 Hz
  int lastBand = 13;  // 8 kHz
  int count() const { return lastBand - firstBand + 1; }
};

// "octave" or "third": the resolution as the options name it.
const char* resolutionName(BandResolution resolution);

// Exact mid-band frequency of a band in Hz (base-ten ratios, 1 kHz reference);
// NaN for the broadband evaluations.
double bandFrequency(BandResolution resolution, int band);

// Nominal name, for example "125 Hz", "1 kHz", "31.5 Hz", "12.5 kHz"; "A" and
// "Z" for the broadband evaluations.
std::string bandName(BandResolution resolution, int band);

// The bands from the one nearest lowHz to the one nearest highHz. Frequencies
// outside the bank (16 Hz to 16 kHz in octaves, 16 Hz to 20 kHz in thirds) are
// usage errors naming the option.
BandSet chooseBands(BandResolution resolution, double lowHz, double highHz);

// The name of a band as it is analysed. scale is the ratio of the analysed
// centre frequency to the nominal one: 1 for a response at the filters'
// 48 kHz design rate, rate / 48000 for a response analysed at its own rate,
// where every band moves with the rate. At scale 1 the nominal name, else the
// actual centre, for example "919 Hz" or "1.84 kHz".
std::string bandLabel(BandResolution resolution, int band, double scale);

}  // namespace tavrix::measure

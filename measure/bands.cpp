#include "bands.h"

#include <cmath>
#include <cstdio>

#include "measure_error.h"

namespace tavrix::measure {

namespace {

// Band-number ranges the banks hold: octave 4..14 (16 Hz..16 kHz), third
// octave 12..43 (16 Hz..20 kHz). Octave band n is third-octave band 3n.
constexpr int kOctaveFirst = 4, kOctaveLast = 14;
constexpr int kThirdFirst = 12, kThirdLast = 43;

// Nominal third-octave frequencies from 16 Hz (third-octave band 12) up.
constexpr const char* kNominalThird[] = {
    "16 Hz",  "20 Hz",  "25 Hz",   "31.5 Hz",  "40 Hz",   "50 Hz",    "63 Hz",   "80 Hz",
    "100 Hz", "125 Hz", "160 Hz",  "200 Hz",   "250 Hz",  "315 Hz",   "400 Hz",  "500 Hz",
    "630 Hz", "800 Hz", "1 kHz",   "1.25 kHz", "1.6 kHz", "2 kHz",    "2.5 kHz", "3.15 kHz",
    "4 kHz",  "5 kHz",  "6.3 kHz", "8 kHz",    "10 kHz",  "12.5 kHz", "16 kHz",  "20 kHz"};

int thirdIndex(BandResolution resolution, int band) {
  return (resolution == BandResolution::Octave ? 3 * band : band) - kThirdFirst;
}

}  // namespace

const char* resolutionName(BandResolution resolution) {
  return resolution == BandResolution::Third ? "third" : "octave";
}

double bandFrequency(BandResolution resolution, int band) {
  if (band == kBandA || band == kBandZ) return std::nan("");
  const double perOctave = resolution == BandResolution::Octave ? 1.0 : 3.0;
  const double octaveRatio = std::pow(10.0, 0.3);
  return 1000.0 * std::pow(octaveRatio, (band - 10.0 * perOctave) / perOctave);
}

std::string bandName(BandResolution resolution, int band) {
  if (band == kBandA) return "A";
  if (band == kBandZ) return "Z";
  const int i = thirdIndex(resolution, band);
  if (i >= 0 && i < static_cast<int>(std::size(kNominalThird))) return kNominalThird[i];
  return "band " + std::to_string(band);
}

BandSet chooseBands(BandResolution resolution, double lowHz, double highHz) {
  const bool octave = resolution == BandResolution::Octave;
  const int first = octave ? kOctaveFirst : kThirdFirst;
  const int last = octave ? kOctaveLast : kThirdLast;
  const double perOctave = octave ? 1.0 : 3.0;
  const char* bankName = octave ? "octave" : "third-octave";
  const auto nearest = [&](double hz, const char* option) {
    if (!(hz > 0) || !std::isfinite(hz)) {
      fail(TVM_BAD_ARGUMENT, std::string(option) + ": the frequency must be a positive number of Hz");
    }
    const int band =
        static_cast<int>(std::lround(10.0 * perOctave + perOctave * std::log10(hz / 1000.0) / 0.3));
    if (band < first || band > last) {
      char line[256];
      std::snprintf(line, sizeof line,
                    "%s %g Hz: outside the %s bands (%s to %s); choose a frequency in that range", option, hz,
                    bankName, bandName(resolution, first).c_str(), bandName(resolution, last).c_str());
      fail(TVM_BAD_ARGUMENT, line);
    }
    return band;
  };
  BandSet set;
  set.resolution = resolution;
  set.firstBand = nearest(lowHz, "low");
  set.lastBand = nearest(highHz, "high");
  if (set.firstBand > set.lastBand)
    fail(TVM_BAD_ARGUMENT, "low lies above high; give the lower band edge first");
  return set;
}

std::string bandLabel(BandResolution resolution, int band, double scale) {
  if (scale == 1.0 || band == kBandA || band == kBandZ) return bandName(resolution, band);
  const double hz = bandFrequency(resolution, band) * scale;
  char text[32];
  if (hz >= 1000) {
    std::snprintf(text, sizeof text, "%.3g kHz", hz / 1000);
  } else {
    std::snprintf(text, sizeof text, "%.3g Hz", hz);
  }
  return text;
}

}  // namespace tavrix::measure

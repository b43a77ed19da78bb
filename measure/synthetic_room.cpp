#include "synthetic_room.h"

#include <cmath>
#include <limits>
#include <random>

#include "fft_convolution.h"
#include "library_client.h"
#include "measure_error.h"
#include "tavrix.h"

namespace tavrix::measure {

namespace {

// The level of a decaying sound falls 60 dB in T60, so its energy falls as
// exp(-t * 6 ln(10) / T60) and its amplitude at half that rate.
double amplitudeDecayRate(double t60) { return 3.0 * std::log(10.0) / t60; }

constexpr unsigned kSeed = 20240611;

// Third-octave bands of the reverberant field: 25 Hz (band 14) to 20 kHz
// (band 43).
constexpr int kFirstThird = 14, kLastThird = 43;

void bandLimit(int32_t bank, std::vector<double>& x, int band) {
  if (filterSingleBand(bank, x.data(), static_cast<int32_t>(x.size()), band) != 0) {
    fail(TVM_LIBRARY_REFUSED, "the library could not filter the demo room's bands");
  }
}

}  // namespace

SyntheticRoom demoRoom() {
  SyntheticRoom room;
  room.bands = {{7, 1.4}, {8, 1.3}, {9, 1.2}, {10, 1.1}, {11, 1.0}, {12, 0.8}, {13, 0.6}};
  return room;
}

double roomT60(const SyntheticRoom& room, int band) {
  for (const RoomBand& b : room.bands) {
    if (b.band == band) return b.t60;
  }
  return std::numeric_limits<double>::quiet_NaN();
}

double roomT60AtThird(const SyntheticRoom& room, int third) {
  // Octave band n is third-octave band 3n; between two octave values the
  // time is interpolated along the logarithmic frequency axis, beyond the
  // ends it stays at the end value.
  const RoomBand& lo = room.bands.front();
  const RoomBand& hi = room.bands.back();
  if (third <= 3 * lo.band) return lo.t60;
  if (third >= 3 * hi.band) return hi.t60;
  for (size_t i = 0; i + 1 < room.bands.size(); ++i) {
    const RoomBand& a = room.bands[i];
    const RoomBand& b = room.bands[i + 1];
    if (third >= 3 * a.band && third <= 3 * b.band) {
      const double w = (third - 3.0 * a.band) / (3.0 * (b.band - a.band));
      return a.t60 + w * (b.t60 - a.t60);
    }
  }
  return hi.t60;
}

std::vector<double> roomResponse(const SyntheticRoom& room) {
  const double fs = room.sampleRate;
  const size_t n = static_cast<size_t>(std::lround(room.length * fs));
  const size_t direct = static_cast<size_t>(std::lround(room.latency * fs));
  std::mt19937 random(kSeed);
  std::normal_distribution<double> gauss(0.0, 1.0);

  const LibraryLock lock = lockLibrary();
  FilterBankHandle bank(initFilterBank(2, kFirstThird, kLastThird));
  if (!bank.valid())
    fail(TVM_LIBRARY_REFUSED, "the library could not build the third-octave filters of the demo room");

  // Reverberant part: per third-octave band, noise through the band's filter
  // with its envelope taken out (only its phase kept) and band-limited again,
  // scaled to unit power, then given the band's exponential decay. A plain
  // noise's envelope fluctuates, and over one decay those fluctuations shift
  // the measured time by several percent in the narrow low bands; the
  // flattened noise keeps the decay close to exactly exponential. Filtering
  // before the decay is applied keeps the filters' ringing out of it, and
  // third-octave steps keep neighbouring decays close, so that an octave band
  // sees a decay near its own reverberation time.
  std::vector<double> response(n, 0.0), noise(n);
  double reverbEnergy = 0;
  for (int third = kFirstThird; third <= kLastThird; ++third) {
    for (double& v : noise) v = gauss(random);
    bandLimit(bank.get(), noise, third);
    noise = unitEnvelope(noise);
    bandLimit(bank.get(), noise, third);
    double power = 0;
    for (double v : noise) power += v * v;
    const double scale = 1.0 / std::sqrt(power / static_cast<double>(n));
    const double rate = amplitudeDecayRate(roomT60AtThird(room, third));
    for (size_t i = direct; i < n; ++i) {
      response[i] += scale * noise[i - direct] * std::exp(-rate * static_cast<double>(i - direct) / fs);
    }
    // The energy of a unit-power decay is the integral of exp(-2 rate t).
    reverbEnergy += fs / (2 * rate);
  }
  // Direct sound: one sample carrying the reverberant energy times the chosen
  // ratio.
  const double directAmplitude = std::sqrt(reverbEnergy * std::pow(10.0, room.directToReverbDb / 10));
  response[direct] += directAmplitude;

  // Noise floor: white noise whose power lies noiseBelowPeakDb below the
  // peak of the response's energy over 10 ms blocks (direct sound and early
  // reverberation together), the level a level-versus-time display shows.
  const size_t block = static_cast<size_t>(std::lround(0.01 * fs));
  double blockEnergy = 0;
  for (size_t i = direct; i < std::min(n, direct + block); ++i) blockEnergy += response[i] * response[i];
  const double floorRms =
      std::sqrt(blockEnergy / static_cast<double>(block)) * std::pow(10.0, -room.noiseBelowPeakDb / 20);
  for (double& v : response) v += floorRms * gauss(random);
  return response;
}

}  // namespace tavrix::measure

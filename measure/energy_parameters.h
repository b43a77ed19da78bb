// ISO 3382-1 energy parameters of one band from the band energy that the
// reverberation evaluation returns: clarity C50 and C80, definition D50 and
// centre time Ts, with the band's direct sound as time 0.
//
// What is integrated: the energy that the noise-compensated decay curve
// integrates, so that these figures and the decay times describe one and the
// same decay. From the onset to the crosspoint (where the decay sinks into the
// noise) every sample's energy less the band's noise level, clipped at 0; from
// the crosspoint on, no measured sample but the exponential tail of the
// late-decay model (from its level at the crosspoint, at its rate). The
// energy after time t is then the decay curve at t (before the crosspoint) or
// the model's tail beyond t (after it), and
//   C50, C80 = 10 log10(E(0 .. t) / E(t .. end)) for t = 50, 80 ms,
//   D50 = E(0 .. 50 ms) / E(0 .. end), Ts = sum of t E(t) / sum of E(t).
// A band whose compensated analysis found no noise floor and whose decay is
// clean to the end of the window (the plain fallback) has nothing to subtract
// and no tail: its measured energy is integrated to the end of the window.
//
// The direct sound before the onset: the library filters each band
// time-reversed, with the band's delay compensated, so that the filter's
// ringing falls before a sound instead of after it. A band's image of the
// direct sound is therefore centred on its arrival and reaches back before
// the onset by the filter's spread, a few periods of the band's lower edge
// (about 4 ms in the 1 kHz octave, 17 ms at 250 Hz, 34 ms at 125 Hz): up to
// half of the direct sound's band energy lies before the onset. The energy of
// the samples over that spread (less the noise, as after the onset) is direct
// sound and counts as early energy, and time 0 is where the band centres an
// impulse arriving at the onset (a fraction of a millisecond from it), so
// that the filter shifts no energy across the 50 and 80 ms limits and
// none in the first moment.
#pragma once

#include <cstddef>
#include <vector>

namespace tavrix::measure {

struct EnergyParameters {
  double c50Db, c80Db;  // NaN where the band gave no decay
  double d50Percent;
  double tsMs;
};

EnergyParameters noEnergyParameters();

// The band's direct sound relative to the library's onset.
struct DirectSound {
  // The band level of the samples just before the onset over which the
  // band filter spread the direct sound, dB re the peak, the earliest first
  // (the last lies one sample before the onset).
  std::vector<double> spreadDb;
  // Time 0: where the band centres an impulse arriving at the onset, in
  // samples after the onset (negative: before it).
  double centre = 0;
};

// levelDb: the band's level per sample from the onset on, dB re its peak.
// integrated: samples of it that enter (the crosspoint: the length of the
// decay curve; all of them for a decay without a floor). noiseDb: the noise
// level re the peak, subtracted from each of those samples (-infinity or NaN:
// none). tailDb: the late-decay model re the peak at the onset and at the
// crosspoint (NaN or -infinity: no tail). fs in Hz. direct: the direct
// sound's spread before the onset and time 0 (none given: time 0 at the
// onset, nothing before it).
EnergyParameters energyParameters(const std::vector<double>& levelDb, size_t integrated, double noiseDb,
                                  const double tailDb[2], double fs, const DirectSound& direct = {});

}  // namespace tavrix::measure

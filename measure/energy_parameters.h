// ISO 3382-1 energy parameters of one band from the band energy that the
// reverberation evaluation returns: clarity C50 and C80, definition D50 and
// centre time Ts, with the onset of the direct sound as time 0.
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

// levelDb: the band's level per sample from the onset on, dB re its peak.
// integrated: samples of it that enter (the crosspoint: the length of the
// decay curve; all of them for a decay without a floor). noiseDb: the noise
// level re the peak, subtracted from each of those samples (-infinity or NaN:
// none). tailDb: the late-decay model re the peak at the onset and at the
// crosspoint (NaN or -infinity: no tail). fs in Hz.
EnergyParameters energyParameters(const std::vector<double>& levelDb, size_t integrated, double noiseDb,
                                  const double tailDb[2], double fs);

}  // namespace tavrix::measure

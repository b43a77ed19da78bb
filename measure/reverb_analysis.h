// Decay analysis of impulse responses through the library's reverberation
// exports, for single positions and their ensemble.
#pragma once

#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "bands.h"
#include "energy_parameters.h"
#include "response_input.h"
#include "tavrix_measure.h"

namespace tavrix::measure {

struct ReverbOptions {
  BandSet bands;
  std::vector<double> ranges{0, 10, 20, 30};  // decay ranges in dB; 0 is the early decay time
  // The sweep measurement's durations, when known: the analysis window then
  // ends tailDuration after the direct sound. 0 analyses the whole file.
  double sweepDuration = 0;
  double tailDuration = 0;
  // Analysed centre frequency over nominal: 1 at 48 kHz (files at other
  // rates are resampled), rate / 48000 when a file is analysed at its own
  // rate. Set by measureReverberation from the first response.
  double bandScale = 1.0;
  bool nativeRate = false;   // analyse at the response's own rate
  bool keepSilence = false;  // keep trailing digital silence
  // Report the energy parameters, and evaluate the broadband responses
  // (A-weighted and unfiltered) too.
  bool parameters = false;
  // Called before each band's evaluation: steps done, steps in all, what.
  std::function<void(int, int, const std::string&)> progress;
};

// The options of the C interface with their defaults applied and checked
// (a bad one is a TVM_BAD_ARGUMENT naming it).
ReverbOptions reverbOptions(const tvm_reverb_options& options);

// How a band's times were found.
enum class DecayMethod {
  Compensated,  // the library's noise-compensated analysis
  Plain,        // plain backward integration: no noise floor was found, the decay is clean
};

struct BandResult {
  int band = 0;
  int status = -1;  // the library's status of the noise-compensated analysis
  DecayMethod method = DecayMethod::Compensated;
  // Why an evaluated band's figures should not be trusted as they are: a
  // range whose fit is not straight, or a curvature beyond +-10 % (the
  // rules are at doubtsAbout in reverb_analysis.cpp). Empty when the
  // evaluation is sound.
  std::vector<std::string> doubts;
  double endLevelDb = 0;           // the last tenth of the decay, dB re the band's peak
  std::vector<double> times;       // s per range; NaN where not evaluated or not reached
  std::vector<double> fitQuality;  // r2 per range
  double dynamicRange = 0;         // dB the decay curve falls
  double curvature = 0;            // 100 (T30/T20 - 1)
  double noiseLevelDb = 0;         // re the band's peak; NaN when no noise floor was found
  double peakLevelDb = 0;          // absolute, dB re full scale squared
  double tailModelDb[2] = {0, 0};  // late-decay model at the onset and at the crosspoint
  // C50, C80, D50, Ts of the energy the decay curve integrates and of the
  // direct sound's band energy before the onset, with the band's direct sound
  // as time 0 (see energy_parameters.h); NaN where the band gave no times.
  EnergyParameters energy = noEnergyParameters();
  // What the analysis used, in seconds from the response's first sample (as
  // it came, before any silence was put in front; negative inside that
  // silence): time 0 of the energy parameters, the crosspoint where the decay
  // sank into the noise (NaN without a floor), and the analysis window, the
  // same for every band. NaN for an ensemble mean, which has no one file.
  double onsetSeconds = std::numeric_limits<double>::quiet_NaN();
  double crosspointSeconds = std::numeric_limits<double>::quiet_NaN();
  double windowSeconds[2] = {std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::quiet_NaN()};
  // Curves as means over blocks of ReverbReport::blockSeconds, block 0
  // starting at the onset of the direct sound. The level curve (dB re the
  // band's peak sample, like the noise level and the late-decay model) starts
  // at block onsetOffset (0 or negative), the decay curve (dB re its value at
  // the onset) at block 0.
  std::vector<double> levelCurveDb;
  int onsetOffset = 0;
  std::vector<double> decayCurveDb;
};

struct ImpulseResult {
  std::string name;
  int sampleRate = 0;              // the rate analysed
  int sourceRate = 0;              // the file's rate
  double silenceCutSeconds = 0;    // digital silence cut from the end of the file
  double endCutSeconds = 0;        // then an end far below the noise before it (a fade, a gate)
  int channel = 0, channels = 0;   // the file's channel and count; 0 for arrays and the mean
  double leadInSeconds = 0;        // silence put in front of the file
  std::vector<std::string> notes;  // what was done to the response, one sentence each
  std::vector<BandResult> bands;
  std::vector<BandResult> broadband;  // A, Z with ReverbOptions::parameters
};

struct ReverbReport {
  std::vector<ImpulseResult> positions;
  std::optional<ImpulseResult> ensemble;  // the mean over positions, for two or more
  double blockSeconds = 0;
  double bandScale = 1;               // analysed centre frequency over nominal (ReverbOptions::bandScale)
  std::vector<std::string> warnings;  // about the ensemble as a whole
};

// Reverberation per band of responses that are positions of one room, as
// they came: each is conditioned (silence, rate, lead-in) as the options say,
// and two or more also give their ensemble mean. Safe from any thread: the
// use of the library is serialised.
ReverbReport measureReverberation(const std::vector<AudioView>& responses, const ReverbOptions& options);

// Column name of a decay range: "EDT" for 0, "T20" for 20 dB.
std::string rangeName(double range);

// True when a band holds reverberation times.
inline bool bandEvaluated(const BandResult& b) { return b.status == 0 || b.method == DecayMethod::Plain; }

}  // namespace tavrix::measure

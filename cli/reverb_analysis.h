// Decay analysis of impulse responses through the library's reverberation
// exports, for single positions and their ensemble.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bands.h"

namespace tavrix::cli {

struct ReverbOptions {
  BandSet bands;
  std::vector<double> ranges{0, 20, 30};  // decay ranges in dB; 0 is the early decay time
  // The sweep measurement's durations, when known: the analysis window then
  // ends tailDuration after the direct sound. 0 analyses the whole file.
  double sweepDuration = 0;
  double tailDuration = 0;
  bool verbose = false;
};

struct BandResult {
  int band = 0;
  int status = -1;
  std::vector<double> times;       // s per range; NaN where not evaluated or not reached
  std::vector<double> fitQuality;  // r2 per range
  double dynamicRange = 0;         // dB the decay curve falls
  double curvature = 0;            // 100 (T30/T20 - 1)
  double noiseLevelDb = 0;         // re the band's peak
  double peakLevelDb = 0;          // absolute, dB re full scale squared
  double tailModelDb[2] = {0, 0};  // late-decay model at the onset and at the crosspoint
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
  int sampleRate = 0;
  double leadInSeconds = 0;  // silence put in front of the file
  std::vector<BandResult> bands;
};

struct ReverbReport {
  std::vector<ImpulseResult> positions;
  std::optional<ImpulseResult> ensemble;  // the mean over positions, for two or more
  double blockSeconds = 0;
};

struct ImpulseInput {
  std::string name;
  const std::vector<double>* samples;
  int sampleRate;
};

ReverbReport analyseReverberation(const std::vector<ImpulseInput>& inputs, const ReverbOptions& options);

// True when a band holds a usable evaluation.
inline bool bandEvaluated(const BandResult& b) { return b.status == 0; }

}  // namespace tavrix::cli

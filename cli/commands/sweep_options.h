// The options that describe an exponential sine sweep, shared by `sweep`,
// which makes the playback file, and `ir`, which needs the same sweep again to
// deconvolve its recording.
#pragma once

#include <CLI/CLI.hpp>

#include "library_client.h"

namespace tavrix::cli {

using namespace tavrix::measure;

struct SweepOptions {
  double rate = 48000;  // Hz
  double from = 20;     // Hz
  double to = 20000;    // Hz
  double length = 10;   // s of sweep
  double tail = 2;      // s; the playback file ends tail + 1 s after the sweep
  bool fade = false;
};

// Registers --rate, --from, --to, --length, --tail and --fade; returns the
// --rate option so a caller can tell whether it was given.
CLI::Option* addSweepOptions(CLI::App* app, SweepOptions& options);

// Checks the options (a usage error names the first bad one) and synthesises
// the sweep in a new impulse measurement.
ImpulseHandle makeSweep(const SweepOptions& options);

}  // namespace tavrix::cli

// Errors that end a command. Each carries the one line the user sees on
// stderr (what, where, what to do) and the exit status: 2 when the command
// line has to change, 1 when the processing itself failed. The measurement
// layer's failures become one or the other by their value.
#pragma once

#include <stdexcept>
#include <string>

#include "measure_error.h"

namespace tavrix::cli {

constexpr int kExitProcessing = 1;
constexpr int kExitUsage = 2;

struct CliError : std::runtime_error {
  int exitCode;
  CliError(int code, const std::string& line) : std::runtime_error(line), exitCode(code) {}
};

[[noreturn]] inline void usageError(const std::string& line) { throw CliError(kExitUsage, line); }
[[noreturn]] inline void processingError(const std::string& line) { throw CliError(kExitProcessing, line); }

// A wrong argument, a missing file or channel is fixed on the command line;
// the rest lies in the data or the machine.
inline int exitStatusOf(const measure::MeasureError& e) {
  return e.code == TVM_BAD_ARGUMENT || e.code == TVM_NO_FILE || e.code == TVM_BAD_CHANNEL ? kExitUsage
                                                                                          : kExitProcessing;
}

}  // namespace tavrix::cli

// Errors that end a command. Each carries the one line the user sees on
// stderr (what, where, what to do) and the exit status: 2 when the command
// line has to change, 1 when the processing itself failed.
#pragma once

#include <stdexcept>
#include <string>

namespace tavrix::cli {

constexpr int kExitProcessing = 1;
constexpr int kExitUsage = 2;

struct CliError : std::runtime_error {
  int exitCode;
  CliError(int code, const std::string& line) : std::runtime_error(line), exitCode(code) {}
};

[[noreturn]] inline void usageError(const std::string& line) { throw CliError(kExitUsage, line); }
[[noreturn]] inline void processingError(const std::string& line) { throw CliError(kExitProcessing, line); }

}  // namespace tavrix::cli

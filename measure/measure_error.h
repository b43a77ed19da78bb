// Failures of the measurement layer. Each carries one of the interface's
// failure values and the one sentence a person reads (what, where, what to
// do); the C interface turns it into its return value and tvm_last_error(),
// the tool into its exit status and its stderr line.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "tavrix_measure.h"

namespace tavrix::measure {

struct MeasureError : std::runtime_error {
  int32_t code;
  MeasureError(int32_t failure, const std::string& line) : std::runtime_error(line), code(failure) {}
};

[[noreturn]] inline void fail(int32_t code, const std::string& line) { throw MeasureError(code, line); }

}  // namespace tavrix::measure

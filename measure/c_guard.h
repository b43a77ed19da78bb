// The one guard of the C interface, for exports defined outside
// c_interface.cpp: runs body, turns what it throws into a failure value and
// the calling thread's tvm_last_error() sentence.
#pragma once

#include <cstdint>
#include <functional>

namespace tavrix::measure {

int32_t guardedCall(const std::function<void()>& body) noexcept;

}  // namespace tavrix::measure

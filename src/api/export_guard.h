// The one place where C++ failures are turned into C status values.
#pragma once

#include <new>
#include <utility>

namespace tavrix {

// Runs an export body and returns failValue if it throws (in practice a failed
// allocation): nothing may propagate across the C interface.
template <class R, class F>
R guarded(R failValue, F&& body) noexcept {
  try {
    return std::forward<F>(body)();
  } catch (...) {
    return failValue;
  }
}

}  // namespace tavrix

// Talking to the library through its C interface: the one lock around every
// use of it, UTF-16 paths, and handles released when they go out of scope.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "tavrix.h"

namespace tavrix::measure {

// The UTF-16 form of a UTF-8 path as the exports take it. Invalid UTF-8 is a
// usage error naming the path.
std::u16string toLibraryPath(const std::string& utf8);

// The library keeps its objects in handle tables without locks, and one
// object is not for two threads at once: every use of it in this layer, from
// creating a handle to deleting it, holds this process-wide lock. It is
// recursive, so that an analysis holding it may call helpers that take it
// again. The first lock also starts the library.
using LibraryLock = std::unique_lock<std::recursive_mutex>;
LibraryLock lockLibrary();
std::recursive_mutex& libraryMutex();

// Owns one handle of one object kind; the destructor calls the matching
// delete export. A negative handle owns nothing.
template <int32_t (*Delete)(int32_t)>
class Handle {
 public:
  explicit Handle(int32_t h = -1) : handle_(h) {}
  ~Handle() {
    if (handle_ >= 0) {
      const LibraryLock lock = lockLibrary();
      Delete(handle_);
    }
  }
  Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      if (handle_ >= 0) {
        const LibraryLock lock = lockLibrary();
        Delete(handle_);
      }
      handle_ = other.handle_;
      other.handle_ = -1;
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  int32_t get() const { return handle_; }
  bool valid() const { return handle_ >= 0; }

 private:
  int32_t handle_;
};

using ImpulseHandle = Handle<deleteImpulse>;
using ReverbHandle = Handle<deleteReverberation>;
using StiHandle = Handle<deleteSpeechTransmissionIndex>;
using FftHandle = Handle<deleteFftAnalysis>;
using FilterBankHandle = Handle<deleteFilterBank>;

}  // namespace tavrix::measure

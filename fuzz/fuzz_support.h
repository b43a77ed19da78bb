// Shared by the libFuzzer targets and the random-argument driver: scratch
// files named as the host names them (UTF-16) and a contract check that stops
// the run where a broken promise is found.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tavrix.h"

#if defined(_WIN32)
#include <process.h>
#define TAVRIX_FUZZ_PID _getpid()
#else
#include <unistd.h>
#define TAVRIX_FUZZ_PID getpid()
#endif

namespace tavrix::fuzz {

// What the harness is doing, printed with a broken contract (the driver
// names the call and its number in the sequence).
inline std::string context;

// A broken contract is reported like a crash, so that the fuzzer keeps the
// input and CI fails on it.
#define FUZZ_CHECK(cond)                                                                     \
  do {                                                                                       \
    if (!(cond)) {                                                                           \
      std::fprintf(stderr, "contract broken at %s:%d: %s [%s]\n", __FILE__, __LINE__, #cond, \
                   ::tavrix::fuzz::context.c_str());                                         \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)

// A file in the system's scratch directory, unique per process; removed at exit.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& name) {
    path_ = std::filesystem::temp_directory_path() /
            ("tavrix-fuzz-" + std::to_string(TAVRIX_FUZZ_PID) + "-" + name);
    // Scratch paths are taken to be ASCII (one UTF-16 code unit a byte).
    for (char c : path_.string()) wide_ += static_cast<char16_t>(static_cast<unsigned char>(c));
  }
  ~ScratchFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  void write(const unsigned char* data, size_t size) const {
    std::ofstream(path_, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const char16_t* wide() const { return wide_.c_str(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::u16string wide_;
};

// An output array of exactly `size` values as the header documents it,
// framed by sentinels: a call that writes one value too many (or before the
// start) is caught in every build, not only under AddressSanitizer.
template <class T>
class Guarded {
 public:
  static constexpr size_t kGuard = 8;
  explicit Guarded(size_t size) : size_(size), storage_(size + 2 * kGuard) {
    for (T& v : storage_) v = sentinel();
  }
  T* data() { return storage_.data() + kGuard; }
  size_t size() const { return size_; }
  T& operator[](size_t i) { return data()[i]; }
  // True when nothing outside the documented size was touched.
  bool framesIntact() const {
    for (size_t i = 0; i < kGuard; ++i)
      if (!same(storage_[i]) || !same(storage_[kGuard + size_ + i])) return false;
    return true;
  }
  // True when not even the documented values were touched (a failed call).
  bool untouched() const {
    for (const T& v : storage_)
      if (!same(v)) return false;
    return true;
  }

 private:
  static T sentinel() {
    if constexpr (sizeof(T) == 8) {
      const uint64_t bits = 0x7FF4DEADBEEF0001ull;  // a signalling NaN no arithmetic produces
      T v;
      std::memcpy(&v, &bits, sizeof v);
      return v;
    } else {
      return static_cast<T>(0x5A5A5A5A);
    }
  }
  static bool same(const T& v) {
    const T s = sentinel();
    return std::memcmp(&v, &s, sizeof v) == 0;
  }
  size_t size_;
  std::vector<T> storage_;
};

// Largest output this harness allocates for one call, in values; longer
// outputs (absurd rates times long durations) are legal but not exercised.
constexpr int32_t kMaxOutput = 1 << 22;

// One band of a reverberation analysis or ensemble through both evaluation
// calls, with every output sized by getMaxImpulseLength and rangeCount.
inline void evaluateReverberationBand(int32_t handle, int32_t band, const double* ranges, int32_t rangeCount,
                                      int32_t blockLength) {
  const int32_t length = getMaxImpulseLength(handle);
  if (length < 0 || length > kMaxOutput || rangeCount < 0 || rangeCount > 64) return;
  Guarded<double> level(static_cast<size_t>(length)), decay(static_cast<size_t>(length)), tail(2),
      times(static_cast<size_t>(rangeCount)), fits(static_cast<size_t>(rangeCount)), scalars(6);
  Guarded<int32_t> counts(2);
  const int32_t status = getReverberationData(
      handle, band, ranges, rangeCount, blockLength, level.data(), &counts[0], decay.data(), &scalars[0],
      &scalars[1], tail.data(), times.data(), fits.data(), &scalars[2], &scalars[3], &counts[1], &scalars[4]);
  FUZZ_CHECK(status == 0 || status == -1 || status == -11 || (status <= -30 && status >= -33));
  for (auto* g : {&level, &decay, &tail, &times, &fits, &scalars}) FUZZ_CHECK(g->framesIntact());
  FUZZ_CHECK(counts.framesIntact());
  if (status == -1)
    for (auto* g : {&level, &decay, &tail, &times, &fits, &scalars}) FUZZ_CHECK(g->untouched());
  if (status != -1) FUZZ_CHECK(counts[0] >= 0 && counts[0] <= length);

  Guarded<double> level2(static_cast<size_t>(length)), decay2(static_cast<size_t>(length)), scalars2(4);
  Guarded<int32_t> counts2(2);
  const int32_t status2 =
      getReverberationDataLevel(handle, band, blockLength, level2.data(), &counts2[0], decay2.data(),
                                &scalars2[0], &scalars2[1], &scalars2[2], &counts2[1], &scalars2[3]);
  FUZZ_CHECK(status2 == 0 || status2 == -1 || (status2 <= -30 && status2 >= -33));
  FUZZ_CHECK(level2.framesIntact() && decay2.framesIntact() && scalars2.framesIntact() &&
             counts2.framesIntact());
}

// The outputs of an STI analysis, sized by getImpulseSize and 14 per band.
inline void evaluateSti(int32_t handle, int32_t band, bool male, bool useLevels) {
  const int32_t size = getImpulseSize(handle);
  if (size > 0 && size <= kMaxOutput) {
    Guarded<double> filtered(static_cast<size_t>(size));
    const int32_t status = getFilteredImpulse(handle, filtered.data(), band);
    FUZZ_CHECK(status == 0 || status == -1);
    FUZZ_CHECK(status == 0 ? filtered.framesIntact() : filtered.untouched());
  }
  Guarded<double> mtf(14);
  const int32_t status = getModulationTransferFunction(handle, mtf.data(), band);
  FUZZ_CHECK(status == 0 || status == -1);
  FUZZ_CHECK(status == 0 ? mtf.framesIntact() : mtf.untouched());
  (void)getSpeechTansmissionIndex(handle, male, useLevels);
}

}  // namespace tavrix::fuzz

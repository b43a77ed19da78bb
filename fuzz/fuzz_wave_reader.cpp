// libFuzzer target: arbitrary bytes as a WAV file through readWaveFile, the
// reader every file-taking export shares.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "tavrix.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const tavrix::fuzz::ScratchFile file("reader.wav");
  static const int started = initTavrix();
  (void)started;
  file.write(data, size);
  double* samples = nullptr;
  double rate = -1.0;
  int32_t n = -1;
  const int32_t status = readWaveFile(file.wide(), &samples, &rate, &n);
  if (status != 0) {
    FUZZ_CHECK(status == -1 || status == -10);
    FUZZ_CHECK(samples == nullptr);
    return 0;
  }
  // A rate a host can use, and never more samples than the file holds bytes
  // for after the 44-byte minimal header (two bytes at least per sample).
  FUZZ_CHECK(samples != nullptr);
  FUZZ_CHECK(rate >= 1.0 && rate <= 2147483647.0 && rate == std::trunc(rate));
  FUZZ_CHECK(n >= 0 && 2 * static_cast<size_t>(n) + 44 <= size);
  // Integer PCM (the format tag sits at byte 20 of the one layout the reader
  // accepts) lies within full scale, -1 .. 1 (the largest 32-bit code rounds
  // to 1 in single precision); float is as stored, finite or not. Reading
  // every sample lets AddressSanitizer check the array.
  const bool pcm = data[20] == 1 && data[21] == 0;
  for (int32_t i = 0; i < n; ++i)
    if (pcm) FUZZ_CHECK(samples[i] >= -1.0 && samples[i] <= 1.0);
  FUZZ_CHECK(deleteDouble(samples) == 0);
  return 0;
}

// libFuzzer target: the reverberation and STI analyses on fuzzed responses
// with fuzzed rates, durations, block lengths, decay ranges and band choices,
// including ensembles of two analyses.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "fuzz_support.h"
#include "tavrix.h"

namespace {

// Rates and durations where the arithmetic changes character, besides
// arbitrary values.
double pick(FuzzedDataProvider& fdp, std::initializer_list<double> special, double lo, double hi) {
  if (fdp.ConsumeBool()) return fdp.ConsumeFloatingPointInRange(lo, hi);
  const std::vector<double> values(special);
  return values[fdp.ConsumeIntegralInRange<size_t>(0, values.size() - 1)];
}

// Samples as 16-bit codes (fine detail) or raw doubles (NaN, inf, denormals, 1e300).
std::vector<double> response(FuzzedDataProvider& fdp) {
  const bool raw = fdp.ConsumeBool();
  const size_t n = fdp.ConsumeIntegralInRange<size_t>(0, 1 << 13);
  std::vector<double> x;
  while (x.size() < n && fdp.remaining_bytes() > 0) {
    if (raw) {
      const uint64_t bits = fdp.ConsumeIntegral<uint64_t>();
      double v;
      std::memcpy(&v, &bits, sizeof v);
      x.push_back(v);
    } else {
      x.push_back(fdp.ConsumeIntegral<int16_t>() / 32768.0);
    }
  }
  // A short input is repeated, so that responses of useful length stay cheap
  // for the fuzzer to reach.
  const size_t repeat = fdp.ConsumeIntegralInRange<size_t>(1, 16);
  const size_t base = x.size();
  for (size_t r = 1; r < repeat && base > 0 && x.size() < (1 << 14); ++r)
    for (size_t i = 0; i < base; ++i) x.push_back(x[i] * std::pow(0.5, static_cast<double>(r)));
  return x;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int started = initTavrix();
  (void)started;
  FuzzedDataProvider fdp(data, size);
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  const double rate =
      pick(fdp, {48000, 44100, 8000, 1, 0.5, 1e7, 1e7 + 1, 2147483647.0, 0, -48000, nan, inf, 5e-324}, 1.0,
           400000.0);
  const double sweepDuration = pick(fdp, {0, 1, 10, 180, -1, nan, inf, 1e300}, 0.0, 4.0);
  const double tailDuration = pick(fdp, {0, 1, 2, 32, -1, nan, inf, 1e300}, 0.0, 4.0);
  const int32_t blockLength = fdp.PickValueInArray(
      {0, -5, 1, 48, 480, 4096, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()});
  const int32_t resolution = fdp.ConsumeIntegralInRange(0, 5);
  const int32_t firstBand = fdp.ConsumeIntegralInRange(0, 350), lastBand = fdp.ConsumeIntegralInRange(0, 350);
  const int32_t band = fdp.ConsumeBool()
                           ? fdp.ConsumeIntegralInRange(0, 350)
                           : fdp.PickValueInArray({TAVRIX_BAND_A_WEIGHTING, TAVRIX_BAND_C_WEIGHTING,
                                                   TAVRIX_BAND_UNFILTERED, 10, 30});
  std::vector<double> ranges;
  const int32_t rangeCount = fdp.ConsumeIntegralInRange(0, 6);
  for (int32_t i = 0; i < rangeCount; ++i)
    ranges.push_back(fdp.PickValueInArray({0.0, 5.0, 10.0, 20.0, 30.0, 60.0, 1e300, -1.0, nan}));
  const std::vector<double> first = response(fdp), second = response(fdp);
  const int32_t n1 = static_cast<int32_t>(first.size()), n2 = static_cast<int32_t>(second.size());

  // Two analyses at the same rate and their ensemble.
  const int32_t a = initReverberation(n1 ? first.data() : nullptr, n1, rate, sweepDuration, tailDuration);
  const int32_t b = initReverberation(n2 ? second.data() : nullptr, n2, rate, sweepDuration, tailDuration);
  FUZZ_CHECK(a >= 0 && b >= 0);
  const int32_t members[] = {a, b};
  const int32_t ensemble = initReverberationEnsemble(members, 2);
  FUZZ_CHECK(ensemble >= 0);
  for (int32_t h : {a, b}) {
    const int32_t status = initReverberationFilter(h, resolution, firstBand, lastBand);
    FUZZ_CHECK(status == 0 || status == -1);
  }
  for (int32_t h : {a, ensemble})
    tavrix::fuzz::evaluateReverberationBand(h, band, ranges.data(), rangeCount, blockLength);
  for (int32_t h : {ensemble, a, b}) FUZZ_CHECK(deleteReverberation(h) == 0);

  // The STI analysis pads to 1.6 s of its rate (accepted up to 1e7 Hz): that
  // padding would be the cost of every run, so accepted rates stay low here.
  if (!(rate > 16000.0 && rate <= 1e7)) {
    const int32_t sti = initSpeechTransmissionIndex(n1 ? first.data() : nullptr, n1, rate);
    FUZZ_CHECK(sti >= 0);
    double levels[7];
    for (double& l : levels) l = fdp.ConsumeFloatingPointInRange(-20.0, 120.0);
    const int32_t noise = setNoiseLevel(sti, levels), signal = setSignalLevel(sti, levels);
    FUZZ_CHECK((noise == 0 || noise == -1) && signal == noise);
    tavrix::fuzz::evaluateSti(sti, fdp.ConsumeIntegralInRange(6, 14), fdp.ConsumeBool(), fdp.ConsumeBool());
    FUZZ_CHECK(deleteSpeechTransmissionIndex(sti) == 0);
  }
  return 0;
}

// Random-argument driver over all 55 exports, as a careless host would call
// them: live, deleted and impossible handles, NaN, infinities, subnormals,
// huge and negative values, null pointers and broken files. Every output
// array is sized exactly as the header documents (from getESSSize, getNFFT,
// getMaxImpulseLength, getImpulseSize, the measurement's rate) and framed by
// sentinels; results are checked against the header's codes and the rules
// that tie the calls together (getNFFT and the response writers agree, a
// failed recording file keeps the measurement's rate, a failed read hands
// out null). The sequence is fixed by --seed; --calls bounds it.
//
// Valid arguments are drawn so that no single call needs more than a few
// megabytes: the library accepts longer sweeps and higher rates, which only
// cost time and memory here.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "tavrix.h"

namespace {

using tavrix::fuzz::Guarded;
using tavrix::fuzz::ScratchFile;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();

std::mt19937_64 rng;

bool chance(double p) { return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < p; }
int32_t between(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); }
template <class T>
T oneOf(std::initializer_list<T> values) {
  return values.begin()[between(0, static_cast<int32_t>(values.size()) - 1)];
}

// A double that breaks arithmetic: the non-finite values, the ends of the
// range, subnormals and the integer limits.
double nasty() {
  return oneOf({0.0,    -0.0,    1.0,  -1.0,  0.5,  5e-324,       1e-310,       -1e-310,       1e-300, 1e300,
                -1e300, 1.7e308, kInf, -kInf, kNaN, 2147483647.0, 2147483648.0, -2147483649.0, 1e7,    1e-7});
}
// A usual value from the table most of the time, a nasty one otherwise.
double value(std::initializer_list<double> usual, double pNasty = 0.15) {
  return chance(pNasty) ? nasty() : oneOf(usual);
}

// Signal samples: noise with occasional nasty values.
std::vector<double> signal(int32_t n) {
  std::vector<double> x(static_cast<size_t>(std::max(n, 0)));
  std::normal_distribution<double> noise(0.0, 0.3);
  const bool dirty = chance(0.1);
  for (double& v : x) v = dirty && chance(0.01) ? nasty() : noise(rng);
  return x;
}

// Live handles of each kind; an impossible or stale one now and then.
struct Pool {
  std::vector<int32_t> live;
  int32_t any() {
    if (!live.empty() && chance(0.85))
      return live[static_cast<size_t>(between(0, static_cast<int32_t>(live.size()) - 1))];
    return oneOf({-1, 255, 256, kIntMin, kIntMax, between(0, 254)});
  }
  void add(int32_t h) {
    if (h >= 0 && std::find(live.begin(), live.end(), h) == live.end()) live.push_back(h);
  }
  void remove(int32_t h) { live.erase(std::remove(live.begin(), live.end(), h), live.end()); }
};

Pool banks, impulses, reverbs, stis, ffts;

// What the driver knows of each impulse measurement, as a host would: the
// rate it gave generateESS, replaced by a file's rate (read through
// readWaveFile) when processInputSignalFile read it.
struct ImpulseModel {
  double rate = 0.0;
  double tail = 0.0;
};
ImpulseModel models[255];

ScratchFile* files[3];
ScratchFile* output;

const char16_t* anyFile() {
  if (chance(0.05)) return nullptr;
  if (chance(0.05)) {
    static const char16_t unpaired[] = {u'x', 0xD800, 0};
    return unpaired;
  }
  return files[between(0, 2)]->wide();
}

// Rewrites one scratch file: a valid WAV at a random rate, then maybe damaged.
void refreshFile() {
  ScratchFile& f = *files[between(0, 2)];
  const int32_t rate = oneOf({8000, 44100, 48000, 96000, 192000, 1, 16, 10000000, kIntMax});
  const int32_t n = oneOf({0, 1, 100, 2000, 9000, 24000});
  std::vector<double> x = signal(n);
  if (n > 10) x[static_cast<size_t>(n / 10)] = 0.9;  // a clear arrival
  FUZZ_CHECK(writeWaveFile(f.wide(), x.data(), n, rate) == 0);
  if (!chance(0.4)) return;
  std::FILE* file = std::fopen(f.path().string().c_str(), "r+b");
  if (!file) return;
  // Damage one header field or byte, or cut the file short.
  const long at = oneOf<long>({4, 16, 20, 22, 24, 28, 34, 36, 40, 44, between(0, 60)});
  const uint32_t v = oneOf<uint32_t>({0, 1, 3, 14, 0xFFFE, 0x80000000u, 0xFFFFFFFFu, 0x7FFFFFFFu, 1000000u});
  unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                        static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
  std::fseek(file, at, SEEK_SET);
  std::fwrite(b, 1, oneOf<size_t>({1, 2, 4}), file);
  std::fclose(file);
  if (chance(0.2)) std::filesystem::resize_file(f.path(), static_cast<uintmax_t>(between(0, 50)));
}

// The rate readWaveFile reports for a file (0 when it cannot be read).
double fileRate(const char16_t* path) {
  double* samples = nullptr;
  double rate = 0.0;
  int32_t n = 0;
  const int32_t status = readWaveFile(path, &samples, &rate, &n);
  FUZZ_CHECK((status == 0) == (samples != nullptr));
  deleteDouble(samples);
  return status == 0 ? rate : 0.0;
}

int32_t slotOf(int32_t h) { return h >= 0 && h <= 254 ? h : -1; }

// Response writers of a measurement, checked against getNFFT.
void checkResponseWriters(int32_t h, int32_t which) {
  const int32_t nfft = getNFFT(h);
  FUZZ_CHECK(nfft == -1 || nfft >= 1);
  const size_t n = nfft > 0 ? static_cast<size_t>(nfft) : 0;
  Guarded<double> out(n), freq(nfft > 0 ? n / 2 + 1 : 0), level(nfft > 0 ? n / 2 + 1 : 0);
  const int32_t band = oneOf({10, 4, 14, 3, TAVRIX_BAND_A_WEIGHTING, TAVRIX_BAND_UNFILTERED, kIntMax});
  int32_t status = 0;
  switch (which) {
    case 0:
      status = getImpulseResponse(h, out.data());
      break;
    case 1:
      status = getImpulseResponseHilbert(h, out.data());
      break;
    case 2:
      status = getFilteredImpulseResponse(h, out.data(), band);
      break;
    case 3:
      status = getFilteredImpulseResponseHilbert(h, out.data(), band);
      break;
    default:
      status = getMagnitudeResponseForMicCal(h, level.data(), freq.data(), value({0.0, 1000.0, 20.0}));
      break;
  }
  FUZZ_CHECK(status == 0 || status == -1);
  FUZZ_CHECK(out.framesIntact() && freq.framesIntact() && level.framesIntact());
  if (nfft < 0) FUZZ_CHECK(status == -1 && out.untouched() && freq.untouched() && level.untouched());
}

// Fractional-octave calibration outputs, sized from the rate the driver knows.
void checkFractionalOctave(int32_t h, bool phase) {
  const int32_t b = oneOf({3, 6, 12, 24, 5, 0, -3, kIntMax});
  const int32_t slot = slotOf(h);
  const double rate =
      slot >= 0 && std::find(impulses.live.begin(), impulses.live.end(), h) != impulses.live.end()
          ? std::trunc(models[slot].rate)
          : 0.0;
  const int32_t octaves = rate == 48000.0 ? 10 : rate == 96000.0 ? 11 : rate == 192000.0 ? 12 : 0;
  const bool validB = b == 3 || b == 6 || b == 12 || b == 24;
  const size_t count = octaves > 0 && validB ? static_cast<size_t>(b * octaves + 1) : 0;
  Guarded<double> values(count), freq(count);
  const double reference = value({0.0, 1000.0, 25.0});
  const int32_t status =
      phase ? getFractionalOctavePhaseResponseForMicCal(h, values.data(), freq.data(), reference, b)
            : getFractionalOctaveMagnitudeResponseForMicCal(h, values.data(), freq.data(), reference, b);
  FUZZ_CHECK(status == 0 || status == -1 || status == -2);
  FUZZ_CHECK(values.framesIntact() && freq.framesIntact());
  if (status != 0) FUZZ_CHECK(values.untouched() && freq.untouched());
  // A count of 0 here means the driver expects a refusal; anything written
  // would have shown up in the frames.
  if (count == 0) FUZZ_CHECK(status != 0);
}

// Fills a table to its 255 slots and empties it again: the 256th constructor fails.
void fillTable(int32_t kind) {
  std::vector<int32_t> taken;
  const double x[4] = {0, 1, 0, 0};
  for (int32_t i = 0; i < 256; ++i) {
    int32_t h = -1;
    switch (kind) {
      case 0:
        h = initImpulse();
        break;
      case 1:
        h = initFftAnalysis();
        break;
      case 2:
        h = initReverberation(x, 4, 48000, 0, 1);
        break;  // not ready, but a slot
      default:
        h = initSpeechTransmissionIndex(nullptr, 0, 48000);
        break;
    }
    if (h < 0) break;
    taken.push_back(h);
  }
  FUZZ_CHECK(taken.size() <= 255);
  Pool& pool = kind == 0 ? impulses : kind == 1 ? ffts : kind == 2 ? reverbs : stis;
  FUZZ_CHECK(taken.size() + pool.live.size() == 255);
  for (int32_t h : taken) {
    const int32_t status = kind == 0   ? deleteImpulse(h)
                           : kind == 1 ? deleteFftAnalysis(h)
                           : kind == 2 ? deleteReverberation(h)
                                       : deleteSpeechTransmissionIndex(h);
    FUZZ_CHECK(status == 0);
  }
}

struct Export {
  const char* name;
  std::function<void()> call;
  long count = 0;
};

std::vector<Export> exports() {
  std::vector<Export> e;
  const auto add = [&](const char* name, std::function<void()> f) { e.push_back({name, std::move(f)}); };

  // Library.
  add("initTavrix", [] { FUZZ_CHECK(initTavrix() == 0); });
  add("log2", [] {
    const double x = value({8.0, 1.0, 0.0, -1.0});
    const double y = tavrix_log2(x);
    FUZZ_CHECK(std::isnan(x) || x < 0 ? std::isnan(y) : !std::isnan(y));
  });
  add("deleteDouble", [] { FUZZ_CHECK(deleteDouble(nullptr) == 0); });

  // Filter banks.
  add("initFilterBank", [] {
    if (banks.live.size() > 8) return;
    const int32_t h = initFilterBank(oneOf({1, 2, 3, 4, 0, 5}), between(0, 350), between(0, 350));
    if (chance(0.5)) {
      const int32_t r = oneOf({1, 2});
      banks.add(initFilterBank(r, r == 1 ? 4 : 12, r == 1 ? 14 : 43));
    }
    banks.add(h);
  });
  for (bool reverse : {false, true})
    add(reverse ? "filterSingleBandReverse" : "filterSingleBand", [reverse] {
      const int32_t n = oneOf({0, 1, 100, 4096, -1});
      Guarded<double> x(static_cast<size_t>(std::max(n, 0)));
      const std::vector<double> in = signal(n);
      std::copy(in.begin(), in.end(), x.data());
      const int32_t h = banks.any(),
                    band = oneOf({10, 30, 4, 100, TAVRIX_BAND_A_WEIGHTING, TAVRIX_BAND_C_WEIGHTING,
                                  TAVRIX_BAND_UNFILTERED, -1, kIntMax});
      double* data = chance(0.05) ? nullptr : x.data();
      const int32_t status =
          reverse ? filterSingleBandReverse(h, data, n, band) : filterSingleBand(h, data, n, band);
      FUZZ_CHECK((status == 0 || status == -1) && x.framesIntact());
    });
  add("getStepDelay", [] {
    const int32_t d = getStepDelay(banks.any(), between(0, 350));
    FUZZ_CHECK(d >= -1);
  });
  add("deleteFilterBank", [] {
    const int32_t h = banks.any();
    const bool live = std::find(banks.live.begin(), banks.live.end(), h) != banks.live.end();
    FUZZ_CHECK(deleteFilterBank(h) == (live ? 0 : -1));
    banks.remove(h);
  });

  // Impulse measurement.
  add("initImpulse", [] {
    if (impulses.live.size() > 12) return;
    const int32_t h = initImpulse();
    if (h >= 0) models[h] = ImpulseModel{};
    impulses.add(h);
  });
  add("setESSFade", [] { FUZZ_CHECK(setESSFade(impulses.any(), chance(0.5)) >= -1); });
  add("generateESS", [] {
    const int32_t h = impulses.any();
    const double fs = value({8000, 16000, 48000, 96000, 192000, 44100});
    const double f1 = value({20, 50, 100, 1e-3});
    const double f2 = value({1000, 2000, 4000, 20000});
    const double duration = value({0.05, 0.1, 0.2, 1.0 / 96000});
    const double tail = value({1, 2, 0.5});
    // Long sweeps are legal; they only cost time here.
    if (std::isfinite(fs * duration) && fs * duration > 40000) return;
    const int32_t status = generateESS(h, fs, f1, f2, duration, tail);
    FUZZ_CHECK(status == -1 || status >= 2);
    if (status > 0) {
      FUZZ_CHECK(getESSSize(h) == status);
      models[h].rate = fs;
      models[h].tail = tail;
    }
  });
  add("getESSSize", [] { FUZZ_CHECK(getESSSize(impulses.any()) >= -1); });
  add("getESS", [] {
    const int32_t h = impulses.any(), n = getESSSize(h);
    Guarded<double> out(static_cast<size_t>(std::max(n, 0)));
    const int32_t status = getESS(h, out.data());
    FUZZ_CHECK(status == (n > 0 ? 0 : -1) && out.framesIntact());
  });
  add("getESSFile", [] {
    const int32_t h = impulses.any(), slot = slotOf(h);
    if (slot >= 0 && models[slot].rate * (models[slot].tail + 1.2) > 2e5) return;  // long, not wrong
    const bool toFile = chance(0.9);
    const int32_t status = getESSFile(h, toFile ? output->wide() : nullptr, value({0.0, -6.0, 3.0}));
    FUZZ_CHECK(status == 0 || status == -1);
    // Written at the rate the host knows the measurement by.
    if (status == 0) FUZZ_CHECK(fileRate(output->wide()) == std::trunc(models[slot].rate));
  });
  add("processInputSignal", [] {
    const int32_t h = impulses.any(), n = oneOf({0, -1, 1, 100, 4000, 20000, 50000});
    const std::vector<double> x = signal(n);
    const int32_t status = processInputSignal(h, chance(0.05) ? nullptr : x.data(), n);
    FUZZ_CHECK(status == -1 || (status >= n && (status & (status - 1)) == 0));
    if (status > 0) FUZZ_CHECK(getNFFT(h) == status);
  });
  add("processInputSignalFile", [] {
    const int32_t h = impulses.any(), slot = slotOf(h);
    const char16_t* path = anyFile();
    const double rate = path ? fileRate(path) : 0.0;
    const bool live = std::find(impulses.live.begin(), impulses.live.end(), h) != impulses.live.end();
    const double gain = value({0.0, -6.0, 6.0});
    const int32_t status = processInputSignalFile(h, path, gain);
    FUZZ_CHECK(status == -1 || status >= 1);
    if (!live) return;
    // The file's rate counts once its samples are in; a failed read changes
    // no setting (getESSFile and the fractional-octave sizes check the rate)
    // and leaves no response to hand out.
    if (path && std::isfinite(gain)) {
      if (rate > 0)
        models[slot].rate = rate;
      else
        FUZZ_CHECK(status == -1 && getNFFT(h) == -1);
    }
    FUZZ_CHECK(status <= 0 || getNFFT(h) == status);
  });
  add("getImpulseResponse", [] { checkResponseWriters(impulses.any(), 0); });
  add("getNFFT", [] { FUZZ_CHECK(getNFFT(impulses.any()) >= -1); });
  add("getImpulseResponseFile", [] {
    const int32_t status = getImpulseResponseFile(impulses.any(), chance(0.1) ? nullptr : output->wide());
    FUZZ_CHECK(status == 0 || status == -1);
  });
  add("loadImpulseResponseFromFile", [] { FUZZ_CHECK(loadImpulseResponseFromFile() == -1); });
  add("getImpulseResponseHilbert", [] { checkResponseWriters(impulses.any(), 1); });
  add("initImpulseResponseFunctionGenerator", [] {
    const int32_t status = initImpulseResponseFunctionGenerator(impulses.any(), oneOf({1, 2, 0, 4}),
                                                                between(0, 50), between(0, 50));
    FUZZ_CHECK(status == 0 || status == -1);
  });
  add("getFilteredImpulseResponse", [] { checkResponseWriters(impulses.any(), 2); });
  add("getFilteredImpulseResponseHilbert", [] { checkResponseWriters(impulses.any(), 3); });
  add("deleteImpulse", [] {
    const int32_t h = impulses.any();
    const bool live = std::find(impulses.live.begin(), impulses.live.end(), h) != impulses.live.end();
    FUZZ_CHECK(deleteImpulse(h) == (live ? 0 : -1));
    impulses.remove(h);
  });

  // Calibration.
  add("setButterworthWindowWidth", [] {
    const double w = value({0.1, 0.001, 0.5});
    const int32_t status = setButterworthWindowWidth(impulses.any(), w);
    FUZZ_CHECK(status == 0 || status == -1);
    if (!(w > 0) || !std::isfinite(w)) FUZZ_CHECK(status == -1);
  });
  add("setAverageFFTtoOctaveFraction",
      [] { FUZZ_CHECK(setAverageFFTtoOctaveFraction(impulses.any(), chance(0.5)) >= -1); });
  add("processInputSignalForMicCal", [] {
    const int32_t h = impulses.any(), n = oneOf({0, 100, 4000, 20000});
    const std::vector<double> x = signal(n);
    const int32_t status = processInputSignalForMicCal(h, x.data(), n);
    FUZZ_CHECK(status == -1 || status >= n);
  });
  add("processInputSignalForMicCalTwoCh", [] {
    const int32_t h = impulses.any(), n = oneOf({0, 1, 100, 4000, -3});
    const std::vector<double> a = signal(n), b = signal(n);
    const int32_t status =
        processInputSignalForMicCalTwoCh(h, chance(0.05) ? nullptr : a.data(), b.data(), n);
    FUZZ_CHECK(status == -1 || status >= n);
  });
  add("getMagnitudeResponseForMicCal", [] { checkResponseWriters(impulses.any(), 4); });
  add("getFractionalOctaveMagnitudeResponseForMicCal", [] { checkFractionalOctave(impulses.any(), false); });
  add("getFractionalOctavePhaseResponseForMicCal", [] { checkFractionalOctave(impulses.any(), true); });

  // Reverberation.
  add("initReverberation", [] {
    if (reverbs.live.size() > 10) return;
    const int32_t n = oneOf({0, 1, 4800, 12000, 24000});
    std::vector<double> x = signal(n);
    for (int32_t i = n / 8; i < n; ++i) x[static_cast<size_t>(i)] *= std::exp(-(i - n / 8) / 2000.0);
    if (n > 8) x[static_cast<size_t>(n / 8)] = 1.0;
    const int32_t h =
        initReverberation(chance(0.05) ? nullptr : x.data(), n, value({48000, 8000, 16000, 44100, 1, 1e7}),
                          value({0.0, 0.05, 0.1}), value({0.0, 0.1, 0.2, 1.0}));
    FUZZ_CHECK(h >= -1);
    reverbs.add(h);
  });
  add("initReverberationWithFile", [] {
    if (reverbs.live.size() > 10) return;
    const int32_t h = initReverberationWithFile(anyFile(), value({0.0, 0.05}), value({0.0, 0.1, 0.3}));
    FUZZ_CHECK(h >= -1);
    reverbs.add(h);
  });
  add("initReverberationEnsemble", [] {
    std::vector<int32_t> members;
    const int32_t count = oneOf({0, 1, 2, 3, -1});
    for (int32_t i = 0; i < count; ++i) members.push_back(reverbs.any());
    const int32_t h = initReverberationEnsemble(chance(0.05) ? nullptr : members.data(), count);
    FUZZ_CHECK(h >= -1);
    reverbs.add(h);
  });
  add("getMaxImpulseLength", [] { FUZZ_CHECK(getMaxImpulseLength(reverbs.any()) >= -1); });
  add("initReverberationFilter", [] {
    const int32_t r = oneOf({1, 2, 0, 3});
    const bool sane = chance(0.7);
    const int32_t status =
        initReverberationFilter(reverbs.any(), r, sane ? (r == 1 ? 4 : 12) : between(0, 350),
                                sane ? (r == 1 ? 14 : 43) : between(0, 350));
    FUZZ_CHECK(status == 0 || status == -1);
  });
  for (bool levelOnly : {false, true})
    add(levelOnly ? "getReverberationDataLevel" : "getReverberationData", [] {
      // evaluateReverberationBand calls both, with every output sized.
      std::vector<double> ranges;
      const int32_t count = oneOf({0, 1, 3, 5});
      for (int32_t i = 0; i < count; ++i) ranges.push_back(value({0.0, 10.0, 20.0, 30.0, 7.0}));
      tavrix::fuzz::evaluateReverberationBand(reverbs.any(),
                                              oneOf({10, 30, 4, TAVRIX_BAND_A_WEIGHTING, 100002, -1}),
                                              ranges.data(), count, oneOf({0, -1, 1, 48, 480, kIntMax}));
    });
  add("deleteReverberation", [] {
    const int32_t h = reverbs.any();
    const bool live = std::find(reverbs.live.begin(), reverbs.live.end(), h) != reverbs.live.end();
    FUZZ_CHECK(deleteReverberation(h) == (live ? 0 : -1));
    reverbs.remove(h);
  });

  // Speech transmission index.
  add("initSpeechTransmissionIndex", [] {
    if (stis.live.size() > 6) return;
    const int32_t n = oneOf({0, 1, 2000, 24000});
    std::vector<double> x = signal(n);
    for (int32_t i = 0; i < n; ++i) x[static_cast<size_t>(i)] *= std::exp(-i / 3000.0);
    // Rates up to 1e7 Hz are accepted and pad to 1.6 s of them: long, not wrong.
    const double rate = value({48000, 8000, 44100, 0.0, -1.0, 2e7});
    if (rate > 200000 && rate <= 1e7) return;
    const int32_t h = initSpeechTransmissionIndex(chance(0.05) ? nullptr : x.data(), n, rate);
    FUZZ_CHECK(h >= -1);
    stis.add(h);
  });
  add("initSpeechTransmissionIndexWithFile", [] {
    if (stis.live.size() > 6) return;
    const char16_t* path = anyFile();
    const double rate = path ? fileRate(path) : 0.0;
    if (rate > 200000 && rate <= 1e7) return;
    const int32_t h = initSpeechTransmissionIndexWithFile(path);
    FUZZ_CHECK((h >= 0) == (rate > 0));
    stis.add(h);
  });
  add("getImpulseSize", [] { FUZZ_CHECK(getImpulseSize(stis.any()) >= -1); });
  add("getFilteredImpulse", [] {
    const int32_t h = stis.any(), size = getImpulseSize(h);
    Guarded<double> out(static_cast<size_t>(std::max(size, 0)));
    const int32_t status =
        getFilteredImpulse(h, out.data(), oneOf({7, 10, 13, 6, 14, TAVRIX_BAND_A_WEIGHTING}));
    FUZZ_CHECK((status == 0 || status == -1) && out.framesIntact());
    if (size < 0) FUZZ_CHECK(status == -1);
  });
  add("getModulationTransferFunction", [] {
    Guarded<double> out(14);
    const int32_t status = getModulationTransferFunction(stis.any(), out.data(), between(5, 15));
    FUZZ_CHECK((status == 0 || status == -1) && (status == 0 ? out.framesIntact() : out.untouched()));
  });
  for (bool noise : {true, false})
    add(noise ? "setNoiseLevel" : "setSignalLevel", [noise] {
      double levels[7];
      for (double& l : levels) l = value({40.0, 60.0, 20.0, 90.0}, 0.05);
      const int32_t h = stis.any();
      const int32_t status =
          noise ? setNoiseLevel(h, chance(0.05) ? nullptr : levels) : setSignalLevel(h, levels);
      FUZZ_CHECK(status == 0 || status == -1);
    });
  add("getSpeechTansmissionIndex", [] {
    const double sti = getSpeechTansmissionIndex(stis.any(), chance(0.5), chance(0.5));
    FUZZ_CHECK(sti == -1.0 || sti == -2.0 || std::isfinite(sti) || std::isnan(sti));
  });
  add("deleteSpeechTransmissionIndex", [] {
    const int32_t h = stis.any();
    const bool live = std::find(stis.live.begin(), stis.live.end(), h) != stis.live.end();
    FUZZ_CHECK(deleteSpeechTransmissionIndex(h) == (live ? 0 : -1));
    stis.remove(h);
  });

  // Power spectrum.
  add("initFftAnalysis", [] {
    if (ffts.live.size() < 4) ffts.add(initFftAnalysis());
  });
  add("fftStep", [] {
    Guarded<double> buffer(65536);
    const std::vector<double> x = signal(65536);
    std::copy(x.begin(), x.end(), buffer.data());
    const int32_t status = fftStep(ffts.any(), chance(0.05) ? nullptr : buffer.data());
    FUZZ_CHECK((status == 0 || status == -1) && buffer.framesIntact());
  });
  add("deleteFftAnalysis", [] {
    const int32_t h = ffts.any();
    const bool live = std::find(ffts.live.begin(), ffts.live.end(), h) != ffts.live.end();
    FUZZ_CHECK(deleteFftAnalysis(h) == (live ? 0 : -1));
    ffts.remove(h);
  });

  // Files.
  add("writeWaveFile", [] {
    if (chance(0.5)) return refreshFile();
    const int32_t n = oneOf({0, 10, -1});
    const std::vector<double> x = signal(n);
    const int32_t status = writeWaveFile(output->wide(), x.data(), n, oneOf({48000, 0, -1, kIntMax}));
    FUZZ_CHECK(status == 0 || status == -1);
  });
  add("readWaveFile", [] {
    double sentinel = 0.0;
    double* samples = &sentinel;
    double rate = 0.0;
    int32_t n = 0;
    const bool given = chance(0.95);
    const int32_t status = readWaveFile(anyFile(), given ? &samples : nullptr, chance(0.05) ? nullptr : &rate,
                                        chance(0.05) ? nullptr : &n);
    FUZZ_CHECK(status == 0 || status == -1 || status == -10);
    if (status == 0) {
      FUZZ_CHECK(samples != &sentinel && samples && rate >= 1 && rate <= kIntMax &&
                 rate == std::trunc(rate) && n >= 0);
      deleteDouble(samples);
    } else {
      FUZZ_CHECK(given ? samples == nullptr : samples == &sentinel);  // null on every failure
    }
  });
  add("createCalibratedWaveFile", [] {
    const char16_t* in = anyFile();
    const int32_t status = createCalibratedWaveFile(
        in, chance(0.05) ? nullptr : output->wide(), value({0.0, -30.0, 10.0}), value({0.0, 2.5}),
        value({0.0, 6.0, 20.0, -7.0}), value({0.0, 2000.0}), nasty(), chance(0.5), chance(0.5));
    FUZZ_CHECK(status == 0 || status == -1 || status == -10);
  });
  return e;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t seed = 1;
  long calls = 10000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--seed") == 0) seed = std::strtoull(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "--calls") == 0) calls = std::strtol(argv[i + 1], nullptr, 10);
  }
  rng.seed(seed);
  FUZZ_CHECK(initTavrix() == 0);
  ScratchFile a("driver-a.wav"), b("driver-b.wav"), c("driver-c.wav"), out("driver-out.bin");
  files[0] = &a, files[1] = &b, files[2] = &c, output = &out;
  for (int i = 0; i < 3; ++i) refreshFile();

  std::vector<Export> table = exports();
  FUZZ_CHECK(table.size() == 55);
  for (long call = 0; call < calls; ++call) {
    Export& e = table[static_cast<size_t>(between(0, static_cast<int32_t>(table.size()) - 1))];
    tavrix::fuzz::context =
        std::string(e.name) + ", call " + std::to_string(call) + " of seed " + std::to_string(seed);
    e.call();
    ++e.count;
    if (chance(0.0005)) fillTable(between(0, 3));
  }
  for (const Export& e : table) FUZZ_CHECK(e.count > 0);
  std::printf("export_driver: %ld calls over %zu exports (seed %llu), every contract held\n", calls,
              table.size(), static_cast<unsigned long long>(seed));
  return 0;
}

// libFuzzer target: one fuzzed WAV file through every export that takes a
// file (recording, reverberation with a band evaluation, STI, calibrated
// file in both formats). The whole input is the file; the settings are
// derived from its last bytes, so the WAV seeds work as they are.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "tavrix.h"

namespace {

using tavrix::fuzz::Guarded;
using tavrix::fuzz::ScratchFile;

// The recording path: a short sweep, the file as its recording, then every
// response getter sized by getNFFT.
void recording(const ScratchFile& file, const ScratchFile& out, double gainDb, double measurementRate) {
  const int32_t h = initImpulse();
  FUZZ_CHECK(h >= 0);
  FUZZ_CHECK(generateESS(h, 8000, 100, 2000, 0.01, 1) == 80);
  const int32_t status = processInputSignalFile(h, file.wide(), gainDb);
  const int32_t nfft = getNFFT(h);
  FUZZ_CHECK(status == nfft);
  if (nfft > 0 && nfft <= tavrix::fuzz::kMaxOutput) {
    Guarded<double> ir(static_cast<size_t>(nfft)), level(static_cast<size_t>(nfft / 2 + 1)),
        freq(static_cast<size_t>(nfft / 2 + 1));
    FUZZ_CHECK(getImpulseResponse(h, ir.data()) == 0 && ir.framesIntact());
    FUZZ_CHECK(getImpulseResponseHilbert(h, ir.data()) == 0 && ir.framesIntact());
    FUZZ_CHECK(getMagnitudeResponseForMicCal(h, level.data(), freq.data(), 1000.0) == 0);
    FUZZ_CHECK(level.framesIntact() && freq.framesIntact());
    FUZZ_CHECK(initImpulseResponseFunctionGenerator(h, 1, 4, 14) == 0);
    FUZZ_CHECK(getFilteredImpulseResponseHilbert(h, ir.data(), 10) == 0 && ir.framesIntact());
  } else {
    Guarded<double> none(0);
    FUZZ_CHECK(getImpulseResponse(h, none.data()) == -1 && none.untouched());
  }
  // The measurement's rate is the file's once its samples were read, else
  // still the sweep's: either way one the playback file can be written at
  // (higher rates would only make the file long and the run slow).
  if (measurementRate <= 16000.0) FUZZ_CHECK(getESSFile(h, out.wide(), 0.0) == 0);
  FUZZ_CHECK(deleteImpulse(h) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ScratchFile file("input.wav"), out("output.bin");
  static const int started = initTavrix();
  (void)started;
  FuzzedDataProvider fdp(data, size);
  const double gainDb = fdp.ConsumeFloatingPointInRange(-40.0, 40.0);
  const double sweepDuration = fdp.ConsumeFloatingPointInRange(0.0, 2.0);
  const double tailDuration = fdp.ConsumeFloatingPointInRange(0.0, 3.0);
  const int32_t blockLength = fdp.ConsumeIntegralInRange(-1, 600);
  const int32_t band = fdp.PickValueInArray({4, 10, 14, TAVRIX_BAND_A_WEIGHTING, TAVRIX_BAND_UNFILTERED});
  const double levels[4] = {
      fdp.ConsumeFloatingPointInRange(-200.0, 200.0), fdp.ConsumeFloatingPointInRange(-50.0, 50.0),
      fdp.ConsumeFloatingPointInRange(-10.0, 60.0), fdp.ConsumeFloatingPointInRange(-1e4, 1e4)};
  const bool high = fdp.ConsumeBool();
  file.write(data, size);

  double* samples = nullptr;
  double rate = 0.0;
  int32_t n = 0;
  const int32_t read = readWaveFile(file.wide(), &samples, &rate, &n);
  deleteDouble(samples);

  recording(file, out, gainDb, read == 0 ? rate : 8000.0);

  const int32_t reverb = initReverberationWithFile(file.wide(), sweepDuration, tailDuration);
  FUZZ_CHECK((reverb >= 0) == (read == 0));
  if (reverb >= 0) {
    FUZZ_CHECK(initReverberationFilter(reverb, 1, 4, 14) == 0);
    const double ranges[] = {0, 20, 30};
    tavrix::fuzz::evaluateReverberationBand(reverb, band, ranges, 3, blockLength);
    FUZZ_CHECK(deleteReverberation(reverb) == 0);
  }

  // The STI analysis pads a response to 1.6 s of its rate (accepted up to
  // 1e7 Hz): that padding, not the file, would be the cost of every run.
  if (read != 0 || rate <= 16000.0 || rate > 1e7) {
    const int32_t sti = initSpeechTransmissionIndexWithFile(file.wide());
    FUZZ_CHECK((sti >= 0) == (read == 0));
    if (sti >= 0) {
      tavrix::fuzz::evaluateSti(sti, band == 4 ? 7 : band, true, false);
      FUZZ_CHECK(deleteSpeechTransmissionIndex(sti) == 0);
    }
  }

  for (bool uff : {false, true}) {
    const int32_t status = createCalibratedWaveFile(file.wide(), out.wide(), levels[0], levels[1], levels[2],
                                                    levels[3], 0.0, high, uff);
    FUZZ_CHECK(status == 0 || status == -1 || status == -10);
    // Levels in these ranges always give a usable factor: the result is the reader's.
    if (levels[2] > -6.0) FUZZ_CHECK(status == read);
  }
  return 0;
}

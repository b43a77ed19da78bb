#include "sti_analysis.h"

#include <cmath>

#include "bands.h"
#include "library_client.h"
#include "measure_error.h"
#include "stipa.h"
#include "tavrix.h"

namespace tavrix::measure {

double modulationFrequency(int j) { return std::pow(10.0, (j - 2) / 10.0); }

StiResult measureSti(const AudioView& response, const StiOptions& options) {
  const bool useLevels = !options.signalDb.empty() || !options.noiseDb.empty();
  if (useLevels) {
    if (options.signalDb.size() != kStiBands || options.noiseDb.size() != kStiBands) {
      fail(TVM_BAD_ARGUMENT,
           "signal and noise levels go together: give 7 of each (125 Hz to 8 kHz), or neither");
    }
    for (size_t b = 0; b < kStiBands; ++b) {
      if (!std::isfinite(options.signalDb[b]) || !std::isfinite(options.noiseDb[b])) {
        fail(TVM_BAD_ARGUMENT, "the signal and noise levels must be finite numbers of dB");
      }
    }
  }
  const Response ir = prepareResponse(response, {false, options.nativeRate});
  if (trailingSilence(ir.samples.data(), ir.samples.size(), 0) == ir.samples.size()) {
    fail(TVM_SILENT,
         ir.name + ": the response holds nothing but zeros; check that it is an impulse response");
  }
  const std::string& name = ir.name;
  StiResult r;
  r.levelsCorrected = useLevels;
  r.sampleRate = ir.sampleRate;
  r.sourceRate = ir.sourceRate;
  r.bandScale = ir.sampleRate / static_cast<double>(kDesignRate);
  r.notes = ir.notes;
  r.mtf.assign(kStiBands, std::vector<double>(kModulationFrequencies));

  const LibraryLock lock = lockLibrary();
  StiHandle h(
      initSpeechTransmissionIndex(ir.samples.data(), static_cast<int32_t>(ir.samples.size()), ir.sampleRate));
  if (!h.valid()) fail(TVM_TABLE_FULL, "the library has no free STI slot left");
  if (getImpulseSize(h.get()) < 0) {
    fail(TVM_NO_DIRECT_SOUND,
         name + ": the speech transmission analysis failed; check that the file is an impulse response");
  }
  for (int b = 0; b < kStiBands; ++b) {
    if (getModulationTransferFunction(h.get(), r.mtf[static_cast<size_t>(b)].data(), kFirstStiBand + b) !=
        0) {
      fail(TVM_NO_DIRECT_SOUND, name + ": the modulation transfer function of " +
                                    bandName(BandResolution::Octave, kFirstStiBand + b) +
                                    " could not be formed; check that the file is an impulse response");
    }
  }
  if (useLevels) {
    // The library keeps pointers to the level arrays; they outlive the index
    // calls below.
    setSignalLevel(h.get(), options.signalDb.data());
    setNoiseLevel(h.get(), options.noiseDb.data());
  }
  for (const bool male : {true, false}) {
    const double index = getSpeechTansmissionIndex(h.get(), male, useLevels);
    if (index == -1.0 || index == -2.0) {
      fail(TVM_LIBRARY_REFUSED, name + ": the speech transmission index could not be computed: " +
                                    (index == -2.0 ? std::string("signal and noise levels are missing")
                                                   : std::string("the analysis of the response failed")));
    }
    (male ? r.male : r.female) = index;
  }
  const Stipa compact = stipa(ir.samples, ir.sampleRate, options.signalDb, options.noiseDb);
  r.stipaMale = compact.male;
  r.stipaFemale = compact.female;
  r.stipaMtf = compact.mtf;
  return r;
}

}  // namespace tavrix::measure

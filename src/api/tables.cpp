#include "api/tables.h"

#include "filters/filter_bank.h"
#include "impulse/impulse_measurement.h"
#include "reverberation/reverberation_analysis.h"
#include "fft_analysis/fft_analysis.h"
#include "sti/sti_analysis.h"

namespace tavrix {

// Plain static tables: constant-initialised (empty) before any export can run,
// and destroyed when the library is unloaded, which frees whatever objects the
// host left undeleted instead of leaking them on every load and unload.
namespace {
constinit HandleTable<FilterBank> filterBanks;
constinit HandleTable<ImpulseMeasurement> impulses;
constinit HandleTable<ReverberationAnalysis> reverberations;
constinit HandleTable<StiAnalysis> stiAnalyses;
constinit HandleTable<FftAnalysis> fftAnalyses;
}  // namespace

HandleTable<FilterBank>& filterBankTable() { return filterBanks; }
HandleTable<ImpulseMeasurement>& impulseTable() { return impulses; }
HandleTable<ReverberationAnalysis>& reverberationTable() { return reverberations; }
HandleTable<StiAnalysis>& stiTable() { return stiAnalyses; }
HandleTable<FftAnalysis>& fftAnalysisTable() { return fftAnalyses; }

void forgetAllObjects() {
  filterBanks.forgetAll();
  impulses.forgetAll();
  reverberations.forgetAll();
  stiAnalyses.forgetAll();
  fftAnalyses.forgetAll();
}

}  // namespace tavrix

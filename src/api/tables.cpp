#include "api/tables.h"

#include "filters/filter_bank.h"
#include "impulse/impulse_measurement.h"
#include "reverberation/reverberation_analysis.h"
#include "spectrum/fft_analysis.h"
#include "sti/sti_analysis.h"

namespace tavrix {

// Function-local statics: built on first use, never destroyed before a host
// that is still calling in (objects not deleted by the host are leaked, as a
// host that forgets a delete expects).
HandleTable<FilterBank>& filterBankTable() {
  static auto* table = new HandleTable<FilterBank>();
  return *table;
}
HandleTable<ImpulseMeasurement>& impulseTable() {
  static auto* table = new HandleTable<ImpulseMeasurement>();
  return *table;
}
HandleTable<ReverberationAnalysis>& reverberationTable() {
  static auto* table = new HandleTable<ReverberationAnalysis>();
  return *table;
}
HandleTable<StiAnalysis>& stiTable() {
  static auto* table = new HandleTable<StiAnalysis>();
  return *table;
}
HandleTable<FftAnalysis>& fftAnalysisTable() {
  static auto* table = new HandleTable<FftAnalysis>();
  return *table;
}

}  // namespace tavrix

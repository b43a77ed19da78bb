// The five object tables of the C interface.
#pragma once

#include "api/handle_table.h"

namespace tavrix {

struct FilterBank;
struct ImpulseMeasurement;
struct ReverberationAnalysis;
struct StiAnalysis;
struct FftAnalysis;

HandleTable<FilterBank>& filterBankTable();
HandleTable<ImpulseMeasurement>& impulseTable();
HandleTable<ReverberationAnalysis>& reverberationTable();
HandleTable<StiAnalysis>& stiTable();
HandleTable<FftAnalysis>& fftAnalysisTable();

// Start-up: every table forgets its objects without freeing them.
void forgetAllObjects();

}  // namespace tavrix

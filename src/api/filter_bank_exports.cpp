// Filter-bank exports.
#include "api/export_guard.h"
#include "api/tables.h"
#include "filters/filter_bank.h"
#include "tavrix.h"

using tavrix::guarded;

extern "C" {

TAVRIX_API int32_t initFilterBank(int32_t resolution, int32_t firstBand, int32_t lastBand) {
  return guarded(int32_t{-1}, [&] {
    auto& table = tavrix::filterBankTable();
    if (table.freeSlot() < 0) return int32_t{-1};
    auto bank = tavrix::bankCreate(resolution, firstBand, lastBand);
    if (!bank) return int32_t{-1};
    return table.adopt(std::move(bank));
  });
}

TAVRIX_API int32_t filterSingleBand(int32_t handle, double* x, int32_t n, int32_t band) {
  return guarded(int32_t{-1}, [&] {
    tavrix::FilterBank* bank = tavrix::filterBankTable().find(handle);
    if (!bank || !x || n < 0) return int32_t{-1};
    return tavrix::bankFilter(*bank, x, n, band);
  });
}

TAVRIX_API int32_t filterSingleBandReverse(int32_t handle, double* x, int32_t n, int32_t band) {
  return guarded(int32_t{-1}, [&] {
    tavrix::FilterBank* bank = tavrix::filterBankTable().find(handle);
    if (!bank || !x || n < 0) return int32_t{-1};
    return tavrix::bankFilterReverse(*bank, x, n, band);
  });
}

TAVRIX_API int32_t getStepDelay(int32_t handle, int32_t band) {
  return guarded(int32_t{-1}, [&] {
    const tavrix::FilterBank* bank = tavrix::filterBankTable().find(handle);
    if (!bank) return int32_t{-1};
    return tavrix::bankStepDelay(*bank, band);
  });
}

TAVRIX_API int32_t deleteFilterBank(int32_t handle) {
  return guarded(int32_t{-1},
                 [&] { return tavrix::filterBankTable().release(handle) ? int32_t{0} : int32_t{-1}; });
}

}  // extern "C"

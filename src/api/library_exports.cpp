// Library start-up and the exports that belong to no object.
#include <cmath>
#include <cstdlib>

#include "api/tables.h"
#include "numeric/constants.h"
#include "tavrix.h"

namespace {
bool libraryInitialised = false;
}

extern "C" {

TAVRIX_API int32_t initTavrix(void) {
  if (libraryInitialised) return 0;
  tavrix::setNonFiniteConstants();
  // Clearing forgets objects without freeing them: at first start-up the
  // tables are empty anyway.
  tavrix::forgetAllObjects();
  libraryInitialised = true;
  return 0;
}

TAVRIX_API int32_t deleteDouble(double* p) {
  std::free(p);
  return 0;
}

}  // extern "C"

// The `log2` export. Defined under another C++ name and given the export name
// by the linker (asm label on ELF, the module-definition file on Windows), so
// no code here redefines or calls the C library's log2: computed, as the host
// expects, from natural logarithms. On Windows it carries no dllexport: the
// .def file exports it as "log2" only, and the DLL exports no "tavrix_log2".
#ifdef _WIN32
extern "C" double tavrix_log2(double x) { return std::log(x) / std::log(2.0); }
#else
extern "C" TAVRIX_API double tavrix_log2(double x) { return std::log(x) / std::log(2.0); }
#endif

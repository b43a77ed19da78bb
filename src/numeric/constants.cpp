#include "numeric/constants.h"

#include <bit>
#include <cstdint>

namespace tavrix {

double nanValue = 0.0;
double infValue = 0.0;
double minusInfValue = 0.0;

void setNonFiniteConstants() {
  nanValue = std::bit_cast<double>(uint64_t{0xFFF8000000000000u});
  infValue = std::bit_cast<double>(uint64_t{0x7FF0000000000000u});
  minusInfValue = std::bit_cast<double>(uint64_t{0xFFF0000000000000u});
}

}  // namespace tavrix

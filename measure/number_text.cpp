#include "number_text.h"

#include <cmath>
#include <cstdio>

namespace tavrix::measure {

std::string fixed(double value, int decimals) {
  if (!std::isfinite(value)) return "-";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string general(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string duration(double seconds) {
  return std::fabs(seconds) >= 0.1 ? fixed(seconds, 3) + " s" : fixed(seconds * 1000, 2) + " ms";
}

}  // namespace tavrix::measure

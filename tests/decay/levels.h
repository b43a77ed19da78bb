// Test helper: energies from levels in dB.
#pragma once

#include <cmath>
#include <vector>

namespace tavrix {

inline std::vector<double> fromDb(const std::vector<double>& db) {
  std::vector<double> e(db.size());
  for (size_t i = 0; i < db.size(); ++i) e[i] = std::pow(10.0, db[i] / 10.0);
  return e;
}

}  // namespace tavrix

// Test signals shared by the filter tests.
#pragma once

#include <random>
#include <vector>

namespace tavrix::test {

// Reproducible Gaussian white noise of unit variance.
inline std::vector<double> noise(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> dist;
  std::vector<double> x(n);
  for (double& v : x) v = dist(rng);
  return x;
}

}  // namespace tavrix::test

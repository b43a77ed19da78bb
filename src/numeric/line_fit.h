// Least-squares straight line through (x, y) pairs.
#pragma once

#include <cstdint>

namespace tavrix {

struct Line {
  double intercept;  // value at x = 0
  double slope;      // per unit of x
};

// Least-squares solution p of the m-by-2 system [1 x] p = y: exact elimination
// with partial pivoting for two rows, Householder QR with column pivoting and
// the basic solution otherwise. m = 0 gives {0, 0}.
Line fitLine(const double* x, const double* y, int32_t m);

}  // namespace tavrix

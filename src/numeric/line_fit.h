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

// 1 - SSres/SStot of the line on the m points, the mean taken as sum / m: 1
// for a perfect fit, NaN when there is no spread to explain (m < 2 or all y
// equal with a perfect fit).
double coefficientOfDetermination(const double* x, const double* y, int32_t m, const Line& line);

}  // namespace tavrix

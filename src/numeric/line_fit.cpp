#include "numeric/line_fit.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "numeric/dyn_array.h"
#include "numeric/scalar_rules.h"

namespace tavrix {

namespace {

constexpr double kEps = 0x1p-52;       // rank tolerance factor
constexpr double kSqrtEps = 0x1p-26;   // below this a downdated column norm is recomputed
constexpr double kSafeMin = 0x1p-970;  // shortest reflector handled without rescaling
constexpr double kRescale = 0x1p970;   // applied while a reflector is shorter than kSafeMin

// Two equations, two unknowns: Gaussian elimination with partial pivoting.
// a is column-major 2x2. Each skipped operation mirrors a zero operand, so a
// singular system gives the infinities or NaN of the division it reaches.
Line solveTwoRows(const double* a, const double* y) {
  double a11 = a[0], a21 = a[1], a12 = a[2], a22 = a[3];
  double y1 = y[0], y2 = y[1];
  if (std::fabs(a21) > std::fabs(a11)) {
    std::swap(a11, a21);
    std::swap(a12, a22);
    std::swap(y1, y2);
  }
  const double l = a11 != 0.0 ? a21 / a11 : a21;
  double u22 = a22;
  if (a12 != 0.0) u22 = a22 - l * a12;
  double z1 = y1;
  double z2 = y2;
  if (z1 != 0.0) z2 = y2 - l * z1;
  double p2 = 0.0;
  if (z2 != 0.0) {
    p2 = z2 / u22;
    z1 = z1 - p2 * a12;
  }
  const double p1 = (z1 != 0.0) ? z1 / a11 : 0.0;  // NaN compares unequal, so it divides too
  return {p1, p2};
}

// One row, or three and more: Householder QR with column pivoting and the
// basic solution, which sets the coefficients beyond the numerical rank to 0.
// a is m-by-2 column-major and is overwritten by R and the reflectors; y is
// overwritten by Q^T y.
Line solveQr(double* a, double* y, int32_t m) {
  double* col[2] = {a, a + m};
  int perm[2] = {0, 1};
  double norm[2] = {norm2Scaled(col[0], m), norm2Scaled(col[1], m)};
  double ref[2] = {norm[0], norm[1]};
  double tau[2] = {0.0, 0.0};
  const int steps = std::min<int32_t>(m, 2);

  for (int j = 0; j < steps; ++j) {
    if (j == 0 && norm[1] > norm[0]) {
      // Ties keep the ones column first.
      std::swap(col[0], col[1]);
      std::swap(perm[0], perm[1]);
      std::swap(norm[0], norm[1]);
      std::swap(ref[0], ref[1]);
    }
    double* c = col[j];
    if (j + 1 < m) {
      double* below = c + j + 1;
      const int32_t nb = m - j - 1;
      double alpha = c[j];
      double xi = norm2Scaled(below, nb);
      if (xi != 0.0) {
        double beta = hypotScaled(alpha, xi);
        if (alpha >= 0.0) beta = -beta;
        int k = 0;
        if (std::fabs(beta) < kSafeMin) {
          // Terminates: |alpha| <= |beta| < 2^-970 and the scaled vector is
          // not zero, so one or two rescalings lift beta above the threshold.
          do {
            ++k;
            for (int32_t i = 0; i < nb; ++i) below[i] *= kRescale;
            beta *= kRescale;
            alpha *= kRescale;
          } while (std::fabs(beta) < kSafeMin);
          xi = norm2Scaled(below, nb);
          beta = hypotScaled(alpha, xi);
          if (alpha >= 0.0) beta = -beta;
        }
        tau[j] = (beta - alpha) / beta;
        const double scale = 1.0 / (alpha - beta);
        for (int32_t i = 0; i < nb; ++i) below[i] *= scale;
        for (int i = 0; i < k; ++i) beta *= kSafeMin;
        c[j] = beta;
      }
    }
    if (j == 0) {
      double* c2 = col[1];
      if (tau[0] != 0.0) {
        double dot = c2[0];
        for (int32_t i = 1; i < m; ++i) dot += c[i] * c2[i];
        const double w = tau[0] * dot;
        c2[0] -= w;
        for (int32_t i = 1; i < m; ++i) c2[i] -= c[i] * w;
      }
      // Downdate the remaining column's norm by the entry now in row 1; when
      // cancellation has eaten most of its digits, recompute it instead.
      if (norm[1] != 0.0) {
        const double r = std::fabs(c2[0]) / norm[1];
        double t = 1.0 - r * r;
        if (t < 0.0) t = 0.0;
        const double q = norm[1] / ref[1];
        if (t * (q * q) <= kSqrtEps) {
          norm[1] = m > 1 ? norm2Scaled(c2 + 1, m - 1) : 0.0;
          ref[1] = norm[1];
        } else {
          norm[1] *= std::sqrt(t);
        }
      }
    }
  }

  const double tol = static_cast<double>(std::max<int32_t>(m, 2)) * std::fabs(col[0][0]) * kEps;
  int rank = 0;
  while (rank < steps && std::fabs(col[rank][rank]) > tol) ++rank;

  for (int j = 0; j < steps; ++j) {
    if (tau[j] == 0.0) continue;
    const double* v = col[j];
    double dot = y[j];
    for (int32_t i = j + 1; i < m; ++i) dot += v[i] * y[i];
    const double w = tau[j] * dot;
    if (w != 0.0) {
      y[j] -= w;
      for (int32_t i = j + 1; i < m; ++i) y[i] -= v[i] * w;
    }
  }

  double p[2] = {0.0, 0.0};
  for (int i = 0; i < rank; ++i) p[perm[i]] = y[i];
  for (int i = rank - 1; i >= 0; --i) {
    p[perm[i]] /= col[i][i];
    if (i == 1) p[perm[0]] -= p[perm[1]] * col[1][0];
  }
  return {p[0], p[1]};
}

}  // namespace

Line fitLine(const double* x, const double* y, int32_t m) {
  if (m < 1) return {0.0, 0.0};
  if (m > DynArray<double>::kMaxCapacity / 2) throw std::bad_alloc();
  // Design matrix [1 x], column by column; the solvers work on copies.
  DynArray<double> a(2 * m);
  for (int32_t i = 0; i < m; ++i) {
    a[i] = 1.0;
    a[m + i] = x[i];
  }
  DynArray<double> rhs(y, m);
  if (m == 2) return solveTwoRows(a.data(), rhs.data());
  return solveQr(a.data(), rhs.data(), m);
}

double coefficientOfDetermination(const double* x, const double* y, int32_t m, const Line& line) {
  if (m < 0) m = 0;
  const double mean = sumOf(y, m) / m;
  double ssRes = 0.0, ssTot = 0.0;
  for (int32_t k = 0; k < m; ++k) {
    const double e = y[k] - (line.intercept + line.slope * x[k]);
    const double d = y[k] - mean;
    ssRes += e * e;
    ssTot += d * d;
  }
  return 1.0 - ssRes / ssTot;
}

}  // namespace tavrix

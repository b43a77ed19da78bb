// The scalar rules shared by all analysis code: rounding, NaN-aware extremum
// search, sums and means, a power function with fixed special cases, and
// overflow-safe norms.
#pragma once

#include <cstdint>

namespace tavrix {

// x rounded to a whole number, halves away from zero; |x| >= 2^52, infinities
// and NaN unchanged; values in (-0.5, 0.5) give a zero with the sign of x.
double roundHalfAway(double x);

// Conversion of a double to an index or count elsewhere truncates toward zero.
// Saturates at the int32 range and maps NaN to 0 so that a bad value can never
// become an undefined conversion; callers still range-check the result.
int32_t truncateToInt(double x);

// Sum in index order; 0.0 for n < 1.
double sumOf(const double* v, int32_t n);
// sumOf / n; NaN (0/0) for an empty stretch.
double meanOf(const double* v, int32_t n);

// 1-based position and value of the first largest (smallest) element. NaNs
// never win; ties keep the earliest; all NaN (or n == 1) gives position 1.
// n < 1 reads nothing and gives position 0 with a NaN value.
struct IndexedValue {
  int32_t position;
  double value;
};
IndexedValue indexOfFirstMax(const double* v, int32_t n);
IndexedValue indexOfFirstMin(const double* v, int32_t n);
// indexOfFirstMin of |v - level| without forming it: the first value nearest
// level, with its distance.
IndexedValue indexOfFirstNearest(const double* v, int32_t n, double level);

// Read access by the 1-based positions that the searches above return and the
// decay analysis counts in: the one place where a position becomes an index.
struct OneBased {
  const double* data;
  double operator()(int32_t position) const { return data[position - 1]; }
  // The stretch that starts at a position.
  const double* from(int32_t position) const { return data + (position - 1); }
};

// x^y with fixed special cases (NaN in, +-infinity exponents, y in {0, +-1, 2,
// 0.5}, negative base with a fractional exponent); the NaN and infinities it
// returns are the library-wide constants set by initTavrix.
double powerChecked(double x, double y);

// sqrt(a^2 + b^2) without intermediate overflow.
double hypotScaled(double a, double b);
// Euclidean norm of v[0..count-1] without intermediate overflow; 0 for count < 1.
double norm2Scaled(const double* v, int32_t count);

}  // namespace tavrix

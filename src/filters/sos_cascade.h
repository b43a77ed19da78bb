// IIR filters as cascades of second-order sections (transposed direct form II).
#pragma once

#include <cstdint>
#include <vector>

namespace tavrix {

struct SosSection {
  double b0, b1, b2;  // numerator
  double a1, a2;      // denominator (a0 = 1)
  double z1, z2;      // state
};

struct SosCascade {
  int32_t order = 0;          // even; order / 2 sections
  std::vector<double> gains;  // order/2 + 1: input gain of each section, then the output gain
  std::vector<SosSection> sections;
};

// Sets the order and allocates gains and sections; -1 if it already has sections.
int32_t sosCreate(SosCascade& cascade, int32_t order);
// Loads a design row (six values b0 b1 b2 a0 a1 a2 per section) and a gain row
// (order/2 + 1 values); the state is put at rest.
int32_t sosLoad(SosCascade& cascade, const double* designRow, const double* gainRow);
// Forward filtering in place, state carried over between calls. n < 1 does nothing.
int32_t sosFilter(SosCascade& cascade, double* x, int32_t n);
// The same recurrence from x[n-1] down to x[0], state carried over.
int32_t sosFilterReverse(SosCascade& cascade, double* x, int32_t n);
// Time-reversed filtering from rest of x delayed by d samples (0 <= d < n):
// x[t] <- step(x[t-d]) for t = n-1 .. d, then x[t] <- step(0) for t = d-1 .. 0.
int32_t sosFilterReverseDelayed(SosCascade& cascade, double* x, int32_t n, int32_t d);
// sosFilter on two signals of n samples at once from rest (the cascade's own
// state is not used), read from sx, sy and written to x, y (the same arrays or
// others that do not overlap them); each rounds exactly as on its own.
int32_t sosFilterPair(const SosCascade& cascade, const double* sx, const double* sy, double* x, double* y,
                      int32_t n);
// sosFilterReverseDelayed on two signals of n samples at once, from rest: the
// two recurrences are interleaved so that one hides the other's latency, each
// rounding exactly as on its own. Reads sx, sy and writes x, y, which may be
// the same arrays (in place) or others of n values that do not overlap them.
// The cascade's own state is not used.
int32_t sosFilterReverseDelayedPair(const SosCascade& cascade, const double* sx, const double* sy, double* x,
                                    double* y, int32_t n, int32_t d);
// Samples after which the slowest pole of the cascade has decayed by the factor
// attenuation (0 < attenuation < 1): ceil(ln attenuation / ln r) for the
// largest pole radius r; 0 without sections, -1 when a pole is not inside the
// unit circle.
int32_t sosSettlingLength(const SosCascade& cascade, double attenuation);
// Puts every section at rest.
void sosReset(SosCascade& cascade);

}  // namespace tavrix

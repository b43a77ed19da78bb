#include "filters/sos_cascade.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define TAVRIX_SOS_PAIR_SSE2 1
#endif

namespace tavrix {
namespace {

// One sample through the whole cascade. The operations are written out in a
// fixed order and grouping (the z1 update uses the old z2, and b1*w + z2 is
// formed before a1*y is subtracted): results are compared bit for bit across
// versions, so the compiler must not be given room to reassociate.
inline double cascadeStep(SosSection* sections, const double* gains, int32_t count, double v) {
  for (int32_t i = 0; i < count; ++i) {
    SosSection& s = sections[i];
    const double w = gains[i] * v;
    const double y = s.b0 * w + s.z1;
    s.z1 = (s.b1 * w + s.z2) - s.a1 * y;
    s.z2 = s.b2 * w - s.a2 * y;
    v = y;
  }
  return v * gains[count];
}

#ifdef TAVRIX_SOS_PAIR_SSE2
// The pair recurrence with x in the low and y in the high lane of one SSE2
// register, the section count fixed so that coefficients and states stay in
// registers (through pointers they would be reloaded after every store, as x
// and y might alias them). Lane-wise IEEE arithmetic in cascadeStep's order
// rounds exactly as the scalar recurrence.
// forward: t = 0 .. n-1 from s[t]; otherwise the delayed reverse pass.
template <int N>
int32_t pairSse2(const SosSection* s, const double* gains, const double* sx, const double* sy, double* x,
                 double* y, int32_t n, int32_t d, bool forward) {
  __m128d b0[N], b1[N], b2[N], a1[N], a2[N], g[N], z1[N], z2[N];
  for (int i = 0; i < N; ++i) {
    b0[i] = _mm_set1_pd(s[i].b0);
    b1[i] = _mm_set1_pd(s[i].b1);
    b2[i] = _mm_set1_pd(s[i].b2);
    a1[i] = _mm_set1_pd(s[i].a1);
    a2[i] = _mm_set1_pd(s[i].a2);
    g[i] = _mm_set1_pd(gains[i]);
    z1[i] = _mm_setzero_pd();
    z2[i] = _mm_setzero_pd();
  }
  const __m128d outGain = _mm_set1_pd(gains[N]);
  const auto step = [&](__m128d v) {
    for (int i = 0; i < N; ++i) {
      const __m128d w = _mm_mul_pd(g[i], v);
      const __m128d out = _mm_add_pd(_mm_mul_pd(b0[i], w), z1[i]);
      z1[i] = _mm_sub_pd(_mm_add_pd(_mm_mul_pd(b1[i], w), z2[i]), _mm_mul_pd(a1[i], out));
      z2[i] = _mm_sub_pd(_mm_mul_pd(b2[i], w), _mm_mul_pd(a2[i], out));
      v = out;
    }
    return _mm_mul_pd(v, outGain);
  };
  const auto put = [x, y](int32_t t, __m128d r) {
    _mm_storel_pd(x + t, r);
    _mm_storeh_pd(y + t, r);
  };
  if (forward) {
    for (int32_t t = 0; t < n; ++t) put(t, step(_mm_set_pd(sy[t], sx[t])));
    return 0;
  }
  for (int32_t t = n - 1; t >= d; --t) {
    put(t, step(_mm_set_pd(sy[t - d], sx[t - d])));
  }
  for (int32_t t = d - 1; t >= 0; --t) put(t, step(_mm_setzero_pd()));
  return 0;
}
#endif

}  // namespace

int32_t sosCreate(SosCascade& cascade, int32_t order) {
  if (!cascade.sections.empty() || order < 0 || order % 2 != 0) return -1;
  const std::size_t count = static_cast<std::size_t>(order / 2);
  cascade.gains.assign(count + 1, 0.0);
  cascade.sections.assign(count, SosSection{});
  cascade.order = order;
  return 0;
}

int32_t sosLoad(SosCascade& cascade, const double* designRow, const double* gainRow) {
  const std::size_t count = cascade.sections.size();
  for (std::size_t i = 0; i < count; ++i) {
    const double* row = designRow + 6 * i;  // b0 b1 b2 a0 a1 a2; a0 is always 1
    cascade.sections[i] = SosSection{row[0], row[1], row[2], row[4], row[5], 0.0, 0.0};
  }
  for (std::size_t i = 0; i <= count; ++i) cascade.gains[i] = gainRow[i];
  return 0;
}

int32_t sosFilter(SosCascade& cascade, double* x, int32_t n) {
  const int32_t count = static_cast<int32_t>(cascade.sections.size());
  SosSection* sections = cascade.sections.data();
  const double* gains = cascade.gains.data();
  for (int32_t t = 0; t < n; ++t) x[t] = cascadeStep(sections, gains, count, x[t]);
  return 0;
}

int32_t sosFilterReverse(SosCascade& cascade, double* x, int32_t n) {
  const int32_t count = static_cast<int32_t>(cascade.sections.size());
  SosSection* sections = cascade.sections.data();
  const double* gains = cascade.gains.data();
  for (int32_t t = n - 1; t >= 0; --t) x[t] = cascadeStep(sections, gains, count, x[t]);
  return 0;
}

int32_t sosFilterReverseDelayed(SosCascade& cascade, double* x, int32_t n, int32_t d) {
  if (d < 0 || d > n) return -1;  // would read or write outside x
  sosReset(cascade);
  const int32_t count = static_cast<int32_t>(cascade.sections.size());
  SosSection* sections = cascade.sections.data();
  const double* gains = cascade.gains.data();
  // Running downward, x[t - d] is read before anything at or below t has been
  // written, so the delayed copy needs no buffer of its own.
  for (int32_t t = n - 1; t >= d; --t) x[t] = cascadeStep(sections, gains, count, x[t - d]);
  for (int32_t t = d - 1; t >= 0; --t) x[t] = cascadeStep(sections, gains, count, 0.0);
  return 0;
}

namespace {

// Both pair passes; see sosFilterPair and sosFilterReverseDelayedPair.
int32_t filterPair(const SosCascade& cascade, const double* sx, const double* sy, double* x, double* y,
                   int32_t n, int32_t d, bool forward) {
  const int32_t count = static_cast<int32_t>(cascade.sections.size());
  const SosSection* s = cascade.sections.data();
  const double* gains = cascade.gains.data();
#ifdef TAVRIX_SOS_PAIR_SSE2
  using PairPass = int32_t (*)(const SosSection*, const double*, const double*, const double*, double*,
                               double*, int32_t, int32_t, bool);
  static constexpr PairPass kPasses[] = {pairSse2<1>, pairSse2<2>, pairSse2<3>,
                                         pairSse2<4>, pairSse2<5>, pairSse2<6>};
  if (count >= 1 && count <= 6) return kPasses[count - 1](s, gains, sx, sy, x, y, n, d, forward);
#endif
  // States z1, z2 of each section for x (za) and y (zb); the arithmetic is
  // cascadeStep's, operation for operation.
  std::vector<double> za(2 * static_cast<size_t>(count), 0.0), zb(za);
  auto step = [&](double va, double vb, double& outA, double& outB) {
    for (int32_t i = 0; i < count; ++i) {
      const double g = gains[i];
      const double wa = g * va, wb = g * vb;
      const double ya = s[i].b0 * wa + za[2 * i], yb = s[i].b0 * wb + zb[2 * i];
      za[2 * i] = (s[i].b1 * wa + za[2 * i + 1]) - s[i].a1 * ya;
      zb[2 * i] = (s[i].b1 * wb + zb[2 * i + 1]) - s[i].a1 * yb;
      za[2 * i + 1] = s[i].b2 * wa - s[i].a2 * ya;
      zb[2 * i + 1] = s[i].b2 * wb - s[i].a2 * yb;
      va = ya;
      vb = yb;
    }
    outA = va * gains[count];
    outB = vb * gains[count];
  };
  if (forward) {
    for (int32_t t = 0; t < n; ++t) step(sx[t], sy[t], x[t], y[t]);
    return 0;
  }
  for (int32_t t = n - 1; t >= d; --t) step(sx[t - d], sy[t - d], x[t], y[t]);
  for (int32_t t = d - 1; t >= 0; --t) step(0.0, 0.0, x[t], y[t]);
  return 0;
}

}  // namespace

int32_t sosFilterPair(const SosCascade& cascade, const double* sx, const double* sy, double* x, double* y,
                      int32_t n) {
  return filterPair(cascade, sx, sy, x, y, std::max(n, 0), 0, true);
}

int32_t sosFilterReverseDelayedPair(const SosCascade& cascade, const double* sx, const double* sy, double* x,
                                    double* y, int32_t n, int32_t d) {
  if (d < 0 || d > n) return -1;
  return filterPair(cascade, sx, sy, x, y, n, d, false);
}

int32_t sosSettlingLength(const SosCascade& cascade, double attenuation) {
  double radius = 0.0;
  for (const SosSection& s : cascade.sections) {
    // Roots of z^2 + a1 z + a2.
    const double discriminant = s.a1 * s.a1 - 4.0 * s.a2;
    const double r = discriminant < 0.0 ? std::sqrt(s.a2) : 0.5 * (std::fabs(s.a1) + std::sqrt(discriminant));
    radius = std::max(radius, r);
  }
  if (cascade.sections.empty()) return 0;
  if (!(radius < 1.0)) return -1;
  if (radius == 0.0) return 1;
  const double length = std::ceil(std::log(attenuation) / std::log(radius));
  return length < 2.0e9 ? static_cast<int32_t>(length) : -1;
}

void sosReset(SosCascade& cascade) {
  for (SosSection& s : cascade.sections) {
    s.z1 = 0.0;
    s.z2 = 0.0;
  }
}

}  // namespace tavrix

// Lateral energy fractions and interaural correlation against closed forms.
//
// Lateral: a direct sound of amplitude 1 straight ahead and reflections of
// amplitude a_k arriving at cos theta_k to the lateral axis, as single
// samples 20 ms apart. The figure-of-eight, null to the source, records
// a_k cos theta_k. Band images of single samples overlap over far less than
// 20 ms from 500 Hz up, so the band energies of the arrivals add and
//   LF  = sum over 5..80 ms of (a_k cos theta_k)^2 / (1 + sum over 0..80 ms of a_k^2),
//   LFC = sum over 5..80 ms of a_k^2 |cos theta_k|  / (1 + sum over 0..80 ms of a_k^2).
//
// Interaural: two identical ears correlate fully; an ear delayed by less
// than the 1 ms lag range correlates fully at that lag; two independent
// diffuse decays hardly at all.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "layer_support.h"
#include "tavrix_measure.h"

namespace tavrix::test {
namespace {

constexpr int kRate = 48000;
constexpr double kDirect = 0.2;  // s into the response

struct SpatialFree {
  void operator()(tvm_spatial_report* r) const { tvm_free_spatial_report(r); }
};
using SpatialReport = std::unique_ptr<tvm_spatial_report, SpatialFree>;

SpatialReport spatial(const std::vector<double>& a, const std::vector<double>& b, int32_t mode,
                      int32_t convention = TVM_PAIR) {
  tvm_spatial_options o;
  tvm_spatial_options_init(&o);
  o.mode = mode;
  o.convention = convention;
  const tvm_response first = responseOf(a, "first"), second = responseOf(b, "second");
  tvm_spatial_report* out = nullptr;
  EXPECT_EQ(tvm_analyse_spatial(&first, &second, &o, &out), TVM_OK) << tvm_last_error();
  return SpatialReport(out);
}

struct Arrival {
  double delay, amplitude, cosine;  // s after the direct sound; cosine to the lateral axis
};

// A diffuse tail from 150 ms on, 50 dB below the direct sound: the analysis
// finds its onset and decay as in a room, and it lies beyond 80 ms in every
// band from 500 Hz up.
std::vector<double> tail(unsigned seed, double direct = kDirect, double seconds = 1.5) {
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss;
  std::vector<double> x(static_cast<size_t>(seconds * kRate), 0.0);
  for (size_t i = static_cast<size_t>((direct + 0.15) * kRate); i < x.size(); ++i)
    x[i] = 3e-3 * gauss(random) * std::exp(-6.9 * (static_cast<double>(i) / kRate - direct) / 0.8);
  return x;
}

// The direct sound well into the response, and at its very start (where the
// analysis puts silence in front).
class LateralFractionsAt : public ::testing::TestWithParam<double> {};

TEST_P(LateralFractionsAt, ReflectionsAddTheirBandEnergies) {
  const double direct = GetParam();
  const std::vector<Arrival> arrivals{
      {0.020, 0.6, 0.8}, {0.040, 0.5, -0.5}, {0.060, 0.4, 0.95}, {0.120, 0.5, 1.0}};
  std::vector<double> omni = tail(1, direct), fig8(omni.size(), 0.0);
  const size_t at = static_cast<size_t>(std::lround(direct * kRate));
  omni[at] = 1;
  double early = 1, side = 0, cross = 0;
  for (const Arrival& r : arrivals) {
    const size_t i = at + static_cast<size_t>(std::lround(r.delay * kRate));
    omni[i] += r.amplitude;
    fig8[i] += r.amplitude * r.cosine;
    if (r.delay < 0.08) {
      early += r.amplitude * r.amplitude;
      side += r.amplitude * r.amplitude * r.cosine * r.cosine;
      cross += r.amplitude * r.amplitude * std::fabs(r.cosine);
    }
  }
  // FuMa records W 3 dB down; AmbiX W as the pressure.
  std::vector<double> fumaW = omni;
  for (double& v : fumaW) v /= std::sqrt(2.0);
  for (const auto& [w, convention] : {std::pair{omni, TVM_PAIR}, {fumaW, TVM_FUMA}, {omni, TVM_AMBIX}}) {
    const SpatialReport r = spatial(w, fig8, TVM_SPATIAL_LATERAL, convention);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->band_count, 6);
    EXPECT_STREQ(r->bands[3].label, "1 kHz");
    EXPECT_NEAR(r->onset_s, direct, 0.002);
    for (int32_t b = 2; b < r->band_count; ++b) {  // 500 Hz .. 4 kHz
      SCOPED_TRACE(r->bands[b].label);
      EXPECT_NEAR(r->bands[b].lf, side / early, 0.01);
      EXPECT_NEAR(r->bands[b].lfc, cross / early, 0.01);
      EXPECT_TRUE(std::isnan(r->bands[b].iacc_early));
    }
    double lf = 0, lfc = 0;
    for (int32_t b = 0; b < 4; ++b) {
      lf += r->bands[b].lf / 4;
      lfc += r->bands[b].lfc / 4;
    }
    EXPECT_DOUBLE_EQ(r->lf_mean, lf);
    EXPECT_DOUBLE_EQ(r->lfc_mean, lfc);
    EXPECT_TRUE(std::isnan(r->iacc_early_mean));
  }
}

INSTANTIATE_TEST_SUITE_P(Direct, LateralFractionsAt, ::testing::Values(kDirect, 0.003));

TEST(LateralFractions, AFigureOfEightFacingTheSourceIsNamed) {
  std::vector<double> omni = tail(2);
  const size_t at = static_cast<size_t>(kDirect * kRate);
  omni[at] = 1;
  omni[at + 960] = 0.5;
  // The figure-of-eight hears the direct sound: its lobe, not its null, faces the source.
  std::vector<double> fig8 = omni;
  const SpatialReport r = spatial(omni, fig8, TVM_SPATIAL_LATERAL);
  ASSERT_TRUE(r);
  bool named = false;
  for (int32_t i = 0; i < r->note_count; ++i)
    named = named || contains(r->notes[i], "turn its null to the source");
  EXPECT_TRUE(named);
  // Everything from 5 ms on is lateral.
  EXPECT_NEAR(r->bands[3].lf, 0.25 / 1.25, 0.01);
}

// A room's diffuse response: direct sound and exponentially decaying noise.
std::vector<double> diffuse(unsigned seed, double t60 = 1.2) {
  return decayingNoise(t60, 2.0, kDirect, seed, kRate, 1e-5);
}

TEST(InterauralCorrelation, IdenticalOrDelayedEarsCorrelateFully) {
  const std::vector<double> left = diffuse(3);
  std::vector<double> delayed(left.size(), 0.0);
  const size_t lag = static_cast<size_t>(0.0006 * kRate);  // 0.6 ms, a source well to one side
  std::copy(left.begin(), left.end() - static_cast<std::ptrdiff_t>(lag),
            delayed.begin() + static_cast<std::ptrdiff_t>(lag));
  for (const std::vector<double>& right : {left, delayed}) {
    const SpatialReport r = spatial(left, right, TVM_SPATIAL_BINAURAL);
    ASSERT_TRUE(r);
    EXPECT_STREQ(r->mode_name, "binaural");
    for (int32_t b = 2; b < r->band_count; ++b) {
      SCOPED_TRACE(r->bands[b].label);
      EXPECT_NEAR(r->bands[b].iacc_early, 1, 0.01);
      EXPECT_NEAR(r->bands[b].iacc_late, 1, 0.01);
      EXPECT_NEAR(r->bands[b].iacc, 1, 0.01);
      EXPECT_TRUE(std::isnan(r->bands[b].lf));
    }
    EXPECT_NEAR(r->iacc_early_mean, 1, 0.01);
  }
}

TEST(InterauralCorrelation, IndependentDiffuseDecaysCorrelateLittle) {
  // One direct sound from straight ahead, then reverberation that differs
  // between the ears: a late IACC near 0, an early one held up by the
  // direct sound the ears share.
  const SpatialReport r = spatial(diffuse(4), diffuse(5), TVM_SPATIAL_BINAURAL);
  ASSERT_TRUE(r);
  for (int32_t b = 2; b < r->band_count; ++b) {
    SCOPED_TRACE(r->bands[b].label);
    EXPECT_LT(r->bands[b].iacc_late, 0.25);
    EXPECT_GT(r->bands[b].iacc_early, r->bands[b].iacc_late);
    // The late stretch ends where the decay meets the floor, some 1.2 s in.
    EXPECT_GT(r->bands[b].late_end_ms, 500);
  }
}

TEST(SpatialInterface, RefusesWhatCannotBeAnalysed) {
  const std::vector<double> x = diffuse(6), silent(x.size(), 0.0);
  const tvm_response a = responseOf(x), z = responseOf(silent), slow = responseOf(x, nullptr, 44100);
  tvm_spatial_report* out = reinterpret_cast<tvm_spatial_report*>(&out);
  EXPECT_EQ(tvm_analyse_spatial(&a, nullptr, nullptr, &out), TVM_BAD_ARGUMENT);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(tvm_analyse_spatial(&a, &a, nullptr, nullptr), TVM_BAD_ARGUMENT);
  EXPECT_EQ(tvm_analyse_spatial(&a, &slow, nullptr, &out), TVM_BAD_ARGUMENT);
  EXPECT_TRUE(contains(tvm_last_error(), "share one rate"));
  EXPECT_EQ(tvm_analyse_spatial(&a, &z, nullptr, &out), TVM_SILENT);
  tvm_spatial_options o;
  tvm_spatial_options_init(&o);
  o.mode = 7;
  EXPECT_EQ(tvm_analyse_spatial(&a, &a, &o, &out), TVM_BAD_ARGUMENT);
  o.mode = TVM_SPATIAL_LATERAL;
  o.convention = -1;
  EXPECT_EQ(tvm_analyse_spatial(&a, &a, &o, &out), TVM_BAD_ARGUMENT);
  tvm_free_spatial_report(nullptr);
}

}  // namespace
}  // namespace tavrix::test

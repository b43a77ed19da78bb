// The noise-compensated decay analysis of a band envelope: crosspoint search,
// backward integration and reverberation times, on decays whose answer is
// known in closed form.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "numeric/constants.h"
#include "reverberation/crosspoint.h"
#include "reverberation/decay_analysis.h"
#include "reverberation/decay_times.h"

namespace tavrix {
namespace {

constexpr double kFs = 48000.0;

// Energies from levels in dB.
std::vector<double> fromDb(std::vector<double> db) {
  for (double& x : db) x = std::pow(10.0, x / 10.0);
  return db;
}

// Levels changing by `dbPerSample` from 0 dB.
std::vector<double> linearDb(int n, double dbPerSample) {
  std::vector<double> db(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) db[static_cast<size_t>(i)] = dbPerSample * i;
  return db;
}

// An exact exponential decay of 10 dB per `tau` samples onto a floor of
// 2^-20 (-60.21 dB), n samples.
std::vector<double> exponentialOverFloor(double tau, size_t n) {
  std::vector<double> e(n);
  for (size_t i = 0; i < n; ++i)
    e[i] = std::max(std::pow(10.0, -static_cast<double>(i) / tau), std::ldexp(1.0, -20));
  return e;
}

DecayAnalysis analyze(const std::vector<double>& e, double fs = kFs) {
  return analyzeDecay(e.data(), static_cast<int32_t>(e.size()), fs);
}

// The outputs of a failed analysis: a single zero energy, no crosspoint, no tail.
bool failedWith(const DecayAnalysis& d, int32_t status) {
  return d.status == status && d.decayCurve.size() == 1 && d.decayCurve[0] == 0.0 &&
         d.crosspointSample == 0.0 && d.tailModel[0] == 0.0 && d.tailModel[1] == 0.0;
}

struct Times {
  DecayTimesSummary summary;
  std::vector<double> times, quality;
};

template <class Curve>  // a copy: the evaluation converts the curve to dB in place
Times evaluate(Curve curve, const std::vector<double>& ranges, double fs) {
  Times t{{}, std::vector<double>(ranges.size(), 123.0), std::vector<double>(ranges.size(), 123.0)};
  t.summary = decayTimes(curve.data(), static_cast<int32_t>(curve.size()), ranges.data(),
                         static_cast<int32_t>(ranges.size()), fs, t.times.data(), t.quality.data());
  return t;
}

// The library's NaN and infinity constants, as initTavrix sets them.
struct Decay : ::testing::Test {
  void SetUp() override { setNonFiniteConstants(); }
};

TEST_F(Decay, EnvelopesWithoutAUsableDecayFailWithTheirStatus) {
  // Constant: nothing lies 10 dB above the noise estimate. Shorter than one
  // 10 ms block, empty, or a sample rate whose blocks are shorter than a
  // sample; non-finite energies.
  EXPECT_TRUE(failedWith(analyze(std::vector<double>(48000, 0.25)), kDecayNoDecayAboveNoise));
  EXPECT_EQ(analyze(std::vector<double>(479, 1.0)).status, kDecayNoDecayAboveNoise);
  EXPECT_EQ(analyzeDecay(nullptr, -5, kFs).status, kDecayNoDecayAboveNoise);
  for (double fs : {99.0, std::nan(""), -kFs})
    EXPECT_EQ(analyze(exponentialOverFloor(208.0, 3000), fs).status, kDecayNoDecayAboveNoise) << fs;
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity()})
    EXPECT_LT(analyze(std::vector<double>(48000, bad)).status, 0);
  // 200 blocks at 1 kHz, all 0 but a peak of 1 in block 190 and 0.1 in the ten
  // after it: the noise estimate over the last 21 blocks is 2 / 21, no block
  // from the peak on lies below it, and the search back from 90 % of the
  // blocks (block 180) starts before the peak: nothing to fit. Three blocks
  // at 48 kHz, the peak in the second: the fit takes blocks 2 and 3.
  std::vector<double> late(2000, 0.0), second(1440, 1.0);
  std::fill(late.begin() + 1890, late.end(), 0.1);
  std::fill(late.begin() + 1890, late.begin() + 1900, 1.0);
  EXPECT_EQ(analyze(late, 1000.0).status, kDecayNoDecayAboveNoise);
  std::fill(second.begin() + 480, second.begin() + 960, 20.0);
  EXPECT_NE(analyze(second).status, kDecayNoDecayAboveNoise);
}

TEST_F(Decay, FitClassBoundariesAndBackwardIntegration) {
  EXPECT_TRUE(decayFitClass(45.0) == 3 && decayFitClass(std::nextafter(45.0, 100.0)) == 4 &&
              decayFitClass(30.0) == 2 && decayFitClass(20.0) == 1);
  // tc * fs - 1 = 4 samples of e - 1 = {4, 3, 0, 2} (-0.5 counts as 0), tail
  // 10. Past the end of the envelope the samples count as 0; fs * tc < 1.5
  // gives an empty curve.
  const double e[] = {5.0, 4.0, 0.5, 3.0, 2.0, 1.0};
  DynArray<double> s;
  integrateBackward(e, 6, 5.0, 1.0, 10.0, 1.0, s);
  ASSERT_EQ(s.size(), 4);
  EXPECT_TRUE(s[0] == 10.0 + 4.0 + 3.0 + 0.0 + 2.0 && s[3] == 10.0 + 2.0);
  integrateBackward(e, 6, 9.0, 1.0, 0.5, 1.0, s);
  ASSERT_EQ(s.size(), 8);
  EXPECT_TRUE(s[0] == 0.5 + 4 + 3 + 0 + 2 + 1 + 0 && s[7] == 0.5);
  integrateBackward(e, 6, 1.49, 1.0, 0.5, 1.0, s);
  EXPECT_EQ(s.size(), 0);
  integrateBackward(e, 6, 1.5, 1.0, 0.5, 1.0, s);
  EXPECT_TRUE(s.size() == 1 && s[0] == 4.5);
}

// An exact exponential decay at 1 kHz, 10 dB per 208 samples, onto the floor,
// 3 s long. The 10 ms blocks give T10 = 0.208 s and a
// peak 60.2 dB above the floor (class 4). Intervals of T10 / 10 are 20
// samples (20.8 floored), 150 of them, each 200 / 208 dB below the one
// before; interval 1 averages -0.448 dB, so the line is 0.514 - 0.9615 i dB
// and meets -60.21 dB nearest at interval 63 (-60.06 dB; -61.02 at 64).
// The noise window from tc + T10 (interval 73 on) holds only floor.
// tc = 62 * 0.0208 s, crosspointSample = round(1288.6) = 1289.
// A 10 ms burst in the floor at 1.34 s, between the crosspoint and the noise
// window, exactly 10 dB above the floor changes nothing: the preliminary fit
// ends at the last block more than 10 dB above the noise estimate. At 10.5 dB
// the fit reaches it: no block lies strictly below the floor estimate, so the
// search back starts at 90 % of the blocks and finds the burst.
TEST_F(Decay, ExactExponentialOverAFloorGivesItsCrosspointByArithmetic) {
  const double floor = std::ldexp(1.0, -20);
  for (double burst : {1.0, 10.0, std::pow(10.0, 1.05)}) {
    std::vector<double> e = exponentialOverFloor(208.0, 3000);
    std::fill(e.begin() + 1340, e.begin() + 1350, burst * floor);
    const DecayAnalysis d = analyze(e, 1000.0);
    SCOPED_TRACE(burst);
    ASSERT_EQ(d.status, 0);
    EXPECT_EQ(d.crosspointSample == 1289.0, burst <= 10.0) << d.crosspointSample;
    if (burst > 10.0) continue;
    EXPECT_TRUE(d.decayCurve.size() == 1289 && d.noiseLevel == floor);
    EXPECT_TRUE(std::is_sorted(d.decayCurve.data(), d.decayCurve.data() + 1289, std::greater<>()));
    EXPECT_NEAR(d.tailModel[1] / floor, 1.0, 1e-9);
    EXPECT_NEAR(10.0 * std::log10(d.tailModel[0]), 0.5137, 1e-4);
  }
}

// Envelopes on which the constants of the search show. Two slopes at 1 kHz,
// 10 dB per 50 samples down to a break, then 10 dB per 300 onto a floor: the
// floor sets the peak-to-noise class (-60, -40, -25, -12 dB: classes 4, 3, 2,
// 1), whose late fit spans 25, 20, 15 or 5 dB and ends T10 (classes 3-4) or
// T10 / 2 before the crosspoint; with the break near the start of that span,
// how much of the fast slope it takes decides the fitted line, and so the
// crosspoint and the tail's level at time 0. The values are this analysis's;
// each row moves when the constant beside it changes by 10 %. At -40 / -20 the
// fine intervals fail and the T10 / 5 ones succeed in class 3: lowering the
// class there instead would give another crosspoint. A 10 dB per 8 samples
// decay at 8 kHz onto 1e-3 lies inside the first 80-sample block: the blocks
// give T10 = 5.85 ms (-17.1 dB from block 1 to 2), the decay meets the floor
// within a T10, and only intervals of a whole T10 (46 samples) leave a fit.
TEST_F(Decay, IntervalTrialsFitSpansAndMarginsShowOnBuiltEnvelopes) {
  const struct {
    double floorDb, breakDb, crosspoint, e0Db;  // pins
  } rows[] = {{-60, -44, 400, -14.084828},      // 25 dB span; T10 / 5 intervals
              {-40, -15, 821, -12.094373},      // 20 dB span
              {-40, -20, 446, -4.957043},       // class kept at T10 / 5
              {-25, -20, 124, 0.532881},        // 15 dB span
              {-12, -8, 74, 0.249711}};         // 5 dB span, half-T10 margin
  for (const auto& [floorDb, breakDb, crosspoint, e0Db] : rows) {
    std::vector<double> db(3000);
    for (int i = 0; i < 3000; ++i)
      db[i] = std::max(std::max(-0.2 * i, breakDb - (i + 5.0 * breakDb) / 30.0), floorDb);
    const DecayAnalysis d = analyze(fromDb(db), 1000.0);
    EXPECT_TRUE(d.status == 0 && d.crosspointSample == crosspoint) << breakDb << " " << d.crosspointSample;
    EXPECT_NEAR(10.0 * std::log10(d.tailModel[0]), e0Db, 1e-6) << breakDb;
  }
  std::vector<double> fast(2400), e(1000);
  for (int i = 0; i < 2400; ++i) fast[i] = std::pow(10.0, -i / 8.0) + 1e-3;
  const DecayAnalysis d = analyze(fast, 8000.0);
  EXPECT_TRUE(d.status == 0 && d.crosspointSample == 46.0 && std::fabs(d.noiseLevel / 1e-3 - 1) < 1e-9);
  // 100 blocks of 10 samples: the first noise estimate averages the last 11
  // (the floor, 1). A 12-block mean would take in block 89, raised to 9, and
  // reach 1.67: no block of the decay from 16 would lie 10 dB above it.
  for (int i = 0; i < 1000; ++i) e[i] = i / 10 == 88 ? 9.0 : std::max(16.0 * std::pow(10.0, -i / 100.0), 1.0);
  EXPECT_EQ(analyze(e, 1000.0).crosspointSample, 109.0);
  // 10 dB per 15 samples at 100 Hz onto the floor: 10 ms blocks and intervals
  // of T10 / 10 are one sample each (1.0, and 1.5 floored), and the search
  // still runs. Sample i lies at -2 i / 3 dB, the floor at -60.21 dB: nearest
  // at i = 90 (interval 91), so tc = 90 * 15 ms and crosspointSample = 134.
  EXPECT_EQ(analyze(exponentialOverFloor(15.0, 1000), 100.0).crosspointSample, 134.0);
  // Ten intervals are enough to search, nine are not. At 48 kHz: 480 samples at
  // 18, 480 at 18 * 10^-0.2815, then 1. Three 10 ms blocks; the noise estimate
  // is the last (1); the fit over blocks 1 and 2 falls 2.815 dB per block, so
  // T10 = 35.5 ms and intervals of T10 / 10 hold 170 samples (170.5 floored).
  // 1700 samples make ten: the search runs (peak 12.6 dB over the noise,
  // class 1) with its noise window on interval 10, fails (the fit would end at
  // interval 2), and the intervals of T10 / 5 are too few (-33) with that noise
  // of 1 left behind. 1699 samples make nine: -33 before any search, noise 0.
  for (const auto& [n, noise] : {std::pair{1700, 1.0}, {1699, 0.0}}) {
    std::vector<double> steps(static_cast<size_t>(n), 1.0);
    std::fill(steps.begin(), steps.begin() + 960, 18.0 * std::pow(10.0, -0.2815));
    std::fill(steps.begin(), steps.begin() + 480, 18.0);
    const DecayAnalysis r = analyze(steps);
    EXPECT_TRUE(failedWith(r, kDecayTooFewIntervals) && r.noiseLevel == noise) << n << " " << r.noiseLevel;
  }
}

// Interval means of a decay of 1 dB per interval over a floor 60 dB down:
// the decay meets the floor at the start of interval 61.
TEST_F(Decay, CrosspointConvergesWhereTheDecayMeetsTheNoise) {
  std::vector<double> m(120);
  for (int i = 0; i < 120; ++i) m[static_cast<size_t>(i)] = std::pow(10.0, -i / 10.0) + 1e-6;
  const double dt = 0.01, t10 = 0.1;
  for (double tc0 : {0.3, 0.5, 0.61, 0.64, 0.75}) {
    const CrosspointSearch r = iterateCrosspoint(tc0, m.data(), 120, dt, t10, t10, 25.0);
    ASSERT_EQ(r.status, 0) << tc0;
    EXPECT_EQ(r.crosspointTime, 60 * dt);  // an interval start, exactly
    EXPECT_NEAR(r.noiseLevel / 1e-6, 1.0, 0.02);
  }
  // From 0.9 s the estimates run 0.75, 0.64, 0.61 and then stay at 0.60 s (each
  // of those starts settles there, above): the fifth estimate differs from the
  // fourth, and the long iteration averages the start, those three and twelve
  // times 0.60: 10.1 / 16.
  const double late = iterateCrosspoint(0.9, m.data(), 120, dt, t10, t10, 25.0).crosspointTime;
  EXPECT_NEAR(late, 10.1 / 16.0, 1e-12);

  // A steep decay, 2 dB per interval, that the fit extrapolates deep into a
  // -90 dB floor, while the data hold a -45 dB shelf between the crosspoint
  // and the noise window. Without the shelf the same search succeeds.
  for (int shelfEnd : {55, 40}) {
    std::vector<double> db(100);
    for (int i = 1; i <= 100; ++i) db[i - 1] = i <= 40 ? -2.0 * (i - 1) : (i <= shelfEnd ? -45.0 : -90.0);
    db = fromDb(db);
    const CrosspointSearch r = iterateCrosspoint(45.0, db.data(), 100, 1.0, 10.0, 10.0, 20.0);
    EXPECT_EQ(r.status, shelfEnd > 40 ? kCrosspointImplausible : 0) << shelfEnd;
    EXPECT_TRUE(shelfEnd == 40 ||
                (r.crosspointTime == -1.0 &&
                 r.status == iterateCrosspointLong(45.0, db.data(), 100, 1.0, 10.0, 10.0, 20.0).status));
  }
}

// The late-decay fit's refusals steer which interval length and fit class the
// analysis falls back to. Unit intervals, T10 = 10 intervals, no margin: the
// fit ends at interval tc + 1 and starts `range` intervals earlier.
TEST_F(Decay, LateDecayFitRangeAndQualityChecks) {
  const std::vector<double> m = fromDb(linearDb(60, -1.0));
  // Clipped to interval 1 when it ends at interval 6 or later (tc 5), not when
  // it ends at 5 (tc 4); starting exactly at 1 needs no clipping. Ending at
  // the last interval (tc 59) is inside, one later is not.
  const struct {
    double tc, range;
    int32_t status;
  } cases[] = {
      {5.0, 25.0, 0},  {4.0, 25.0, kLateFitOutsideIntervals},  {4.0, 4.0, 0},
      {59.0, 25.0, 0}, {60.0, 25.0, kLateFitOutsideIntervals}, {std::nan(""), 25.0, kLateFitOutsideIntervals},
      {30.0, 0.0, 0}};
  for (const auto& [tc, range, status] : cases) {
    const LateDecayFit fit = fitLateDecay(m.data(), 60, tc, 10.0, 0.0, 1.0, range);
    EXPECT_EQ(fit.status, status) << tc << " " << range;
    EXPECT_TRUE(status != 0 || range == 0.0 ||
                (std::fabs(fit.line.intercept - 1.0) < 1e-12 && std::fabs(fit.line.slope + 1.0) < 1e-12));
  }
  // Levels 0, -30, -10, -40 dB over intervals 1..4 (tc 3, range 3): the line
  // 5 - 10 i leaves residuals 5, -15, 15, -5 around a mean of -20, so
  // SSres = 500 and SStot = 1000: r2 exactly 0.5, which passes. A flat line
  // (slope exactly 0) passes too; a rising one does not.
  const std::vector<double> half = fromDb({0.0, -30.0, -10.0, -40.0, -50.0}), flat(60, 1.0);
  EXPECT_EQ(fitLateDecay(half.data(), 5, 3.0, 10.0, 0.0, 1.0, 3.0).status, 0);
  EXPECT_EQ(fitLateDecay(flat.data(), 60, 40.0, 10.0, 10.0, 1.0, 20.0).status, 0);
  const std::vector<double> rising = fromDb(linearDb(60, 0.1));
  EXPECT_EQ(fitLateDecay(rising.data(), 60, 40.0, 10.0, 10.0, 1.0, 20.0).status, kLateFitRising);
  // Alternating levels 20 dB apart around a slight decay: r2 far below 0.5,
  // and a failing step ends the crosspoint search with no crosspoint.
  std::vector<double> ragged(60);
  for (int i = 0; i < 60; ++i)
    ragged[static_cast<size_t>(i)] = std::pow(10.0, (-0.05 * i - (i % 2) * 20.0) / 10.0);
  EXPECT_EQ(fitLateDecay(ragged.data(), 60, 40.0, 10.0, 10.0, 1.0, 20.0).status, kLateFitPoor);
  const CrosspointSearch failed = iterateCrosspoint(40.0, ragged.data(), 60, 1.0, 10.0, 10.0, 20.0);
  EXPECT_EQ(failed.status, kLateFitPoor);
  EXPECT_EQ(failed.crosspointTime, -1.0);
}

// The noise window opens one T10 behind the crosspoint estimate, at most at
// 90 % of the intervals. 100 unit intervals, T10 = 10: levels 8 on 81..90, 4
// on 91..95, 1 on 96..100. From tc 70 the window is 81..100 (mean 105 / 20);
// from tc 85 it is capped at 91..100 (mean 25 / 10). A fit margin of -40
// makes the step's fit end past the intervals, so the noise of that first
// step is what is reported.
TEST_F(Decay, NoiseWindowFollowsTheCrosspointUpToNinetyPercent) {
  std::vector<double> m = fromDb(linearDb(100, -0.5));
  std::fill(m.begin() + 80, m.begin() + 90, 8.0);
  std::fill(m.begin() + 90, m.begin() + 95, 4.0);
  std::fill(m.begin() + 95, m.end(), 1.0);
  for (const auto& [tc0, noise] : {std::pair{70.0, 5.25}, {85.0, 2.5}, {95.0, 2.5}}) {
    const CrosspointSearch r = iterateCrosspoint(tc0, m.data(), 100, 1.0, 10.0, -40.0, 20.0);
    EXPECT_TRUE(r.status == kLateFitOutsideIntervals && r.noiseLevel == noise) << tc0 << " " << r.noiseLevel;
  }
}

TEST_F(Decay, StraightDecayAndRangesTheCurveDoesNotReach) {
  // The first range 30, so that the curvature also finds a T30 at index 0.
  const Times t = evaluate(fromDb(linearDb(48000, -60.0 / kFs)), {30, 10, 20, 0}, kFs);
  for (size_t k = 0; k < 4; ++k)
    EXPECT_TRUE(std::fabs(t.times[k] - 1.0) < 1e-9 && std::fabs(t.quality[k] - 1.0) < 1e-12) << k;
  EXPECT_TRUE(t.summary.status == 0 && std::fabs(t.summary.curvature) < 1e-7) << t.summary.curvature;
  EXPECT_NEAR(t.summary.dynamicRange, 60.0 * 47999.0 / 48000.0, 1e-9);
  // Falling 30 dB reaches -25 dB (end of T20) but not -35 dB (end of T30).
  const Times half = evaluate(fromDb(linearDb(24000, -60.0 / kFs)), {0, 20, 30}, kFs);
  EXPECT_NEAR(half.times[1], 1.0, 1e-9);
  EXPECT_TRUE(half.summary.status == 0 && half.times[2] == -10.0 && std::isnan(half.quality[2]) &&
              std::isnan(half.summary.curvature));
  // Still above -10 dB at its end, or a single value: no EDT. Ending exactly
  // at -10 dB (0.1 dB per sample for 100 samples at 1 kHz) is reached: 0.6 s.
  EXPECT_EQ(evaluate(fromDb(linearDb(1000, -0.005)), {0}, kFs).times[0], -10.0);
  const Times single = evaluate(std::vector<double>{2.0}, {0}, kFs);  // one value: 0 dB re itself
  EXPECT_TRUE(single.times[0] == -10.0 && single.summary.dynamicRange == 0.0);
  std::vector<double> exactTen = fromDb(linearDb(101, -0.1));
  exactTen[100] = 0.1;
  EXPECT_NEAR(evaluate(exactTen, {0}, 1000.0).times[0], 0.6, 1e-12);
  // A range that is neither 0 nor >= 10 dB is invalid. An empty curve is not
  // read; every output is NaN. No ranges: nothing to evaluate, status 0.
  for (double bad : {-10.0, 9.999, std::nan("")})
    EXPECT_EQ(evaluate(fromDb(linearDb(3000, -0.06)), {bad}, 1000.0).summary.status, kDecayInvalidRange);
  const Times empty = evaluate(std::vector<double>(), {0, 20}, kFs);
  EXPECT_TRUE(empty.summary.status == 0 && std::isnan(empty.times[1]) && std::isnan(empty.quality[1]) &&
              std::isnan(empty.summary.dynamicRange));
  const Times none = evaluate(fromDb(linearDb(3000, -0.06)), {}, 1000.0);
  EXPECT_TRUE(none.summary.status == 0 && std::isnan(none.summary.dynamicRange));
}

// Closed-form least squares over the samples nearest the two levels, found by
// a plain search: an independent check of the samples a time is fitted over.
double referenceTime(const std::vector<double>& db, double startDb, double endDb, double fs) {
  auto nearest = [&](double level) {
    return std::min_element(db.begin(), db.end(),
                            [&](double a, double b) { return std::fabs(a - level) < std::fabs(b - level); }) -
           db.begin();
  };
  const auto i1 = nearest(startDb), i2 = nearest(endDb);
  const long double m = static_cast<long double>(i2 - i1 + 1);
  long double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (auto i = i1; i <= i2; ++i) {
    sx += i;
    sy += db[i];
    sxx += static_cast<long double>(i) * i;
    sxy += i * db[i];
  }
  return static_cast<double>(60.0L / (-fs * (m * sxy - sx * sy) / (m * sxx - sx * sx)));
}

TEST_F(Decay, CurvedDecayMatchesReferenceFitsAndCurvature) {
  // A decay whose rate slows all the way (60 dB/s at the start, 20 dB/s after
  // 2 s at 1 kHz): every fit depends on exactly where its range starts and
  // ends, so EDT (0 to -10 dB), T10, T20 and T30 (from -5 dB) each match only
  // the reference over their own levels.
  const double fs = 1000.0;
  std::vector<double> db(2000);
  for (int i = 0; i < 2000; ++i) db[i] = -0.06 * i + 1e-5 * i * i;
  const Times t = evaluate(fromDb(db), {20, 0, 30, 10}, fs);
  ASSERT_EQ(t.summary.status, 0);
  const double t20 = referenceTime(db, -5.0, -25.0, fs), t30 = referenceTime(db, -5.0, -35.0, fs);
  const double references[] = {t20, referenceTime(db, 0.0, -10.0, fs), t30,
                               referenceTime(db, -5.0, -15.0, fs)};
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(t.times[k], references[k], 1e-9 * references[k]) << k;
  EXPECT_NEAR(t.summary.curvature, (t30 / t20 - 1.0) * 100.0, 1e-6);
  EXPECT_GT(t.summary.curvature, 1.0);
  // After a flat lead-in the times are the same: the fit abscissa is the
  // sample position, so the start of the curve does not matter.
  std::vector<double> shifted(300, 0.0);
  shifted.insert(shifted.end(), db.begin(), db.end());
  EXPECT_NEAR(evaluate(fromDb(shifted), {20}, fs).times[0], t.times[0], 1e-9);
}

}  // namespace
}  // namespace tavrix

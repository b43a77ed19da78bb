// Band evaluation: the whole chain on rooms of known reverberation time, and
// the output conventions of the two evaluation calls.
#include "reverberation/band_evaluation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "reverberation/synthetic_room.h"
#include "tavrix.h"

namespace tavrix {
namespace {

using test::kRoomRate;

// An analysis of a measured room (1 s sweep, 3 s tail) with an octave bank
// 250 Hz - 4 kHz attached; deleted with the test.
struct Analysis {
  int32_t handle = -1;
  Analysis(double t60, bool tonal) {
    initTavrix();
    const std::vector<double>& ir = test::measuredRoom(t60, tonal);
    handle = initReverberation(ir.data(), static_cast<int32_t>(ir.size()), kRoomRate, test::kRoomSweepSeconds,
                               3.0);
    initReverberationFilter(handle, 1, 8, 12);
  }
  explicit Analysis(int32_t existing) : handle(existing) {}
  ~Analysis() { deleteReverberation(handle); }
};

constexpr double kUnset = 12345.0;

// Every output of getReverberationData, prefilled so that "not written" shows.
struct BandData {
  std::vector<double> level, decay, times, fits;
  double decayEnd = kUnset, noise = kUnset, tail[2] = {kUnset, kUnset}, dynamicRange = kUnset,
         curvature = kUnset, peak = kUnset;
  int32_t levelLength = -7, onsetOffset = -7, status = 0;

  BandData(int32_t handle, int32_t band, std::vector<double> ranges, int32_t blockLength = 0,
           int32_t rangeCount = -2) {
    const size_t capacity = static_cast<size_t>(std::max(getMaxImpulseLength(handle), 1));
    level.assign(capacity, kUnset);
    decay.assign(capacity, kUnset);
    times.assign(ranges.size(), kUnset);
    fits.assign(ranges.size(), kUnset);
    if (rangeCount == -2) rangeCount = static_cast<int32_t>(ranges.size());
    status = getReverberationData(handle, band, ranges.data(), rangeCount, blockLength, level.data(),
                                  &levelLength, decay.data(), &decayEnd, &noise, tail, times.data(),
                                  fits.data(), &dynamicRange, &curvature, &onsetOffset, &peak);
    if (status != -1) {
      level.resize(static_cast<size_t>(levelLength));
      decay.resize(static_cast<size_t>(decayEnd + 1.0));
    }
  }
  bool untouched() const {
    for (const auto* v : {&level, &decay, &times, &fits})
      if (std::any_of(v->begin(), v->end(), [](double x) { return x != kUnset; })) return false;
    return levelLength == -7 && onsetOffset == -7 && decayEnd == kUnset && noise == kUnset &&
           tail[0] == kUnset && dynamicRange == kUnset && curvature == kUnset && peak == kUnset;
  }
};

// Rooms of known T60 through sweep, deconvolution, onset location, band
// filtering and the noise-compensated decay analysis. With one decaying tone
// per octave every band decays as one clean exponential, and every time is
// the T60. A single decay of a noise field scatters about it by several
// percent, the more the narrower the band and the shorter the decay (the
// scatter goes as 1 / sqrt(bandwidth x decay time)): bands below 1 kHz get a
// wider margin.
TEST(ReverberationChain, KnownRoomsGiveTheirT60) {
  for (bool tonal : {true, false}) {
    for (double t60 : {0.4, 1.2, 3.0}) {
      Analysis a(t60, tonal);
      for (int32_t band = 8; band <= 12; ++band) {
        SCOPED_TRACE(testing::Message() << (tonal ? "tones" : "noise") << " T60 " << t60 << " band " << band);
        const double margin = tonal ? 0.01 : (band < 10 ? 0.12 : 0.05);
        const BandData d(a.handle, band, {0, 20, 30});
        ASSERT_EQ(d.status, 0);
        EXPECT_NEAR(d.times[0], t60, (tonal ? 0.02 : 0.2) * t60);  // EDT
        EXPECT_NEAR(d.times[1], t60, margin * t60);                // T20
        EXPECT_NEAR(d.times[2], t60, margin * t60);                // T30
        EXPECT_GT(d.fits[2], tonal ? 0.9999 : 0.99);
        EXPECT_LT(std::fabs(d.curvature), tonal ? 0.5 : 10.0);
        // 45 to 70 dB of floor below the peak; the compensated curve falls well past T30's 35 dB.
        EXPECT_LT(d.noise, -45.0);
        EXPECT_GT(d.noise, -75.0);
        EXPECT_GT(d.dynamicRange, 45.0);
      }
    }
  }
}

TEST(BandEvaluation, CurvesLevelsAndBlocks) {
  Analysis a(1.2, true);
  const int32_t window = getMaxImpulseLength(a.handle);
  const BandData d(a.handle, 10, {0, 20, 30});
  ASSERT_EQ(d.status, 0);
  // One level per window sample, the largest exactly 0 dB; the window opens
  // 0.1 s (4800 samples) before the onset. The decay curve starts at the onset
  // at exactly 0 dB and never rises.
  ASSERT_EQ(d.levelLength, window);
  EXPECT_EQ(*std::max_element(d.level.begin(), d.level.end()), 0.0);
  EXPECT_EQ(d.onsetOffset, -4800);
  ASSERT_GT(d.decay.size(), 1000u);
  EXPECT_EQ(d.decay[0], 0.0);
  EXPECT_TRUE(std::is_sorted(d.decay.rbegin(), d.decay.rend()));
  // The noise level is what the level curve shows in its last tenth, where
  // only the floor remains, and the late-decay model meets it at the crosspoint.
  double floorEnergy = 0.0;
  for (size_t i = d.level.size() * 9 / 10; i < d.level.size(); ++i)
    floorEnergy += std::pow(10.0, d.level[i] / 10.0);
  EXPECT_NEAR(10.0 * std::log10(floorEnergy / static_cast<double>(d.level.size() / 10)), d.noise, 1.0);
  EXPECT_NEAR(d.tail[1], d.noise, 0.01);
  // Unfiltered, the peak is the direct sound, a unit impulse: 0 dB.
  EXPECT_NEAR(BandData(a.handle, TAVRIX_BAND_UNFILTERED, {}).peak, 0.0, 0.2);

  // Blocks of one sample are no averaging; the object is left as it was.
  const BandData ones(a.handle, 10, {0, 20, 30}, 1);
  EXPECT_EQ(ones.level, d.level);
  EXPECT_EQ(ones.decay, d.decay);
  EXPECT_EQ(ones.onsetOffset, d.onsetOffset);
  EXPECT_EQ(ones.times, d.times);
  // 10 ms blocks: floor(window / 480) values, the onset 10 blocks in, decay
  // blocks referred to the curve's first sample; times from the plain curve.
  const BandData blocks(a.handle, 10, {0, 20, 30}, 480);
  EXPECT_EQ(blocks.levelLength, window / 480);
  EXPECT_EQ(*std::max_element(blocks.level.begin(), blocks.level.end()), 0.0);
  EXPECT_EQ(blocks.onsetOffset, -10);
  EXPECT_EQ(blocks.decay.size(), d.decay.size() / 480);
  EXPECT_LT(blocks.decay[0], 0.0);
  EXPECT_EQ(blocks.times, d.times);
  EXPECT_EQ(BandData(a.handle, 10, {0}, window).levelLength, 1);
  EXPECT_TRUE(BandData(a.handle, 10, {0}, window + 1).untouched());  // no whole block

  // The level-only call: the same levels, and the absolute start of the decay.
  std::vector<double> level(static_cast<size_t>(window)), decay(level.size());
  int32_t length = 0, offset = 0;
  double decayEnd = 0, noise = 0, start = 0, peak = 0;
  ASSERT_EQ(getReverberationDataLevel(a.handle, 10, 0, level.data(), &length, decay.data(), &decayEnd, &noise,
                                      &start, &offset, &peak),
            0);
  EXPECT_TRUE(std::equal(d.level.begin(), d.level.end(), level.begin()));
  EXPECT_EQ(decayEnd + 1.0, static_cast<double>(d.decay.size()));
  EXPECT_EQ(noise, d.noise);
  EXPECT_GT(start, peak);  // the energy of the whole decay exceeds its largest sample

  // A range that is neither 0 nor >= 10 stops the times there.
  const BandData bad(a.handle, 10, {20, 5, 30});
  EXPECT_EQ(bad.status, -11);
  EXPECT_EQ(bad.times[0], d.times[1]);
  EXPECT_TRUE(std::isnan(bad.times[1]) && std::isnan(bad.times[2]) && std::isnan(bad.curvature));
  EXPECT_EQ(bad.level, d.level);
}

TEST(BandEvaluation, RefusedCallsWriteNothing) {
  Analysis a(0.4, true);
  EXPECT_TRUE(BandData(a.handle, 13, {0, 20}).untouched());  // outside the bank 8..12
  EXPECT_TRUE(BandData(a.handle, 99999, {0, 20}).untouched());
  EXPECT_TRUE(BandData(a.handle, 10, {0, 20}, 0, -1).untouched());  // negative range count
  for (int32_t handle : {-1, 255, a.handle + 1}) EXPECT_TRUE(BandData(handle, 10, {0}).untouched());

  std::vector<double> curve(static_cast<size_t>(getMaxImpulseLength(a.handle)), kUnset);
  double x = kUnset, tail[2], t[1], r[1];
  int32_t n = -7;
  const double ranges[1] = {20};
  EXPECT_EQ(getReverberationData(a.handle, 10, ranges, 1, 0, curve.data(), &n, curve.data(), &x, &x, tail, t,
                                 r, &x, nullptr, &n, &x),
            -1);
  EXPECT_EQ(getReverberationData(a.handle, 10, nullptr, 1, 0, curve.data(), &n, curve.data(), &x, &x, tail, t,
                                 r, &x, &x, &n, &x),
            -1);
  EXPECT_EQ(getReverberationDataLevel(a.handle, 10, 0, curve.data(), &n, nullptr, &x, &x, &x, &n, &x), -1);
  EXPECT_TRUE(x == kUnset && n == -7 && curve[0] == kUnset);
  // No ranges: nothing to read or write for them.
  EXPECT_EQ(getReverberationData(a.handle, 10, nullptr, 0, 0, curve.data(), &n, curve.data(), &x, &x, tail,
                                 nullptr, nullptr, &x, &x, &n, &x),
            0);

  // Without a bank, and with a bank whose build failed.
  const std::vector<double>& ir = test::measuredRoom(0.4, true);
  Analysis bare(initReverberation(ir.data(), static_cast<int32_t>(ir.size()), kRoomRate, 1.0, 3.0));
  EXPECT_TRUE(BandData(bare.handle, TAVRIX_BAND_UNFILTERED, {0}).untouched());
  EXPECT_EQ(initReverberationFilter(bare.handle, 5, 8, 12), -1);
  EXPECT_TRUE(BandData(bare.handle, 10, {0}).untouched());
  EXPECT_TRUE(BandData(bare.handle, TAVRIX_BAND_A_WEIGHTING, {0}).untouched());
}

TEST(EnsembleEvaluation, MembersAreAveragedOnTheirOnsets) {
  Analysis first(1.2, true);
  Analysis second(1.2, false);
  // One member: its own band energy, the onset one sample later, and the
  // unfilled last position at -infinity.
  Analysis single(initReverberationEnsemble(&first.handle, 1));
  const BandData member(first.handle, 10, {30});
  BandData alone(single.handle, 10, {30});
  ASSERT_EQ(alone.status, 0);
  EXPECT_EQ(alone.level.back(), -std::numeric_limits<double>::infinity());
  alone.level.pop_back();
  EXPECT_EQ(alone.level, member.level);
  EXPECT_EQ(alone.onsetOffset, member.onsetOffset - 1);
  EXPECT_NEAR(alone.times[0], member.times[0], 0.001 * member.times[0]);

  // Two rooms of one T60: their mean energy decays at that rate too.
  const int32_t both[2] = {first.handle, second.handle};
  Analysis pair(initReverberationEnsemble(both, 2));
  const BandData mean(pair.handle, 10, {20, 30});
  ASSERT_EQ(mean.status, 0);
  EXPECT_NEAR(mean.times[0], 1.2, 0.05 * 1.2);
  EXPECT_NEAR(mean.times[1], 1.2, 0.05 * 1.2);
  // Every member needs a bank that holds the band; no members, nothing to evaluate.
  initReverberationFilter(second.handle, 1, 10, 10);
  EXPECT_TRUE(BandData(pair.handle, 9, {0}).untouched());
  EXPECT_EQ(BandData(pair.handle, 10, {0}).status, 0);
  Analysis none(initReverberationEnsemble(nullptr, 0));
  EXPECT_TRUE(BandData(none.handle, 10, {0}).untouched());
}

// Block means and level conventions on an envelope small enough to work out
// by hand: window positions 2..7 = {2, 8, 4, 2, 1, 0.5}, onset at position 3,
// decay curve {4, 2, 1}.
TEST(LevelCurves, HandComputedEnvelope) {
  initTavrix();  // the NaN reported for an empty decay curve is the library constant
  const double e[] = {0.5, 2.0, 8.0, 4.0, 2.0, 1.0, 0.5, 0.25};
  const DynArray<double> blocks = averageBlocks(e, 8, 3);
  ASSERT_EQ(blocks.size(), 2);  // the last two values are dropped
  EXPECT_DOUBLE_EQ(blocks[1], 7.0 / 3.0);
  const double decayValues[] = {4.0, 2.0, 1.0}, tail[2] = {8.0, 0.08};
  const DynArray<double> energy(e, 8), decay(decayValues, 3);
  const LevelCurves c = levelCurves(energy, decay, 0.8, tail, 0, 3.0, 7.0, 2.0);
  ASSERT_EQ(c.levelCurveDb.size(), 6);
  EXPECT_DOUBLE_EQ(c.levelCurveDb[0], 10.0 * std::log10(0.25));
  EXPECT_DOUBLE_EQ(c.noiseLevelDb, -10.0);
  EXPECT_DOUBLE_EQ(c.decayStartLevelDb, 10.0 * std::log10(4.0));
  EXPECT_DOUBLE_EQ(c.decayCurveDb[2], 10.0 * std::log10(0.25));
  EXPECT_DOUBLE_EQ(c.tailModelDb[1], -20.0);
  EXPECT_EQ(c.onsetOffset, -1);
  // Blocks of 2: {5, 3, 0.75}; the model is referred to the block peak, the
  // noise still to the sample peak; the decay block to the first sample.
  const LevelCurves b = levelCurves(energy, decay, 0.5, tail, 2, 3.0, 7.0, 2.0);
  ASSERT_EQ(b.levelCurveDb.size(), 3);
  EXPECT_DOUBLE_EQ(b.levelCurveDb[2], 10.0 * std::log10(0.15));
  EXPECT_DOUBLE_EQ(b.noiseLevelDb, 10.0 * std::log10(0.5 / 8.0));
  EXPECT_DOUBLE_EQ(b.tailModelDb[0], 10.0 * std::log10(8.0 / 5.0));
  ASSERT_EQ(b.decayCurveDb.size(), 1);
  EXPECT_DOUBLE_EQ(b.decayCurveDb[0], 10.0 * std::log10(3.0 / 4.0));
  EXPECT_EQ(b.onsetOffset, 0);  // floor(1 / 2) blocks before the onset
  EXPECT_TRUE(
      std::isnan(levelCurves(energy, DynArray<double>(), 0.8, tail, 0, 3.0, 7.0, 2.0).decayStartLevelDb));
}

}  // namespace
}  // namespace tavrix

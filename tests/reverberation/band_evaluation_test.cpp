// Band evaluation: the whole chain on rooms of known reverberation time, and
// the output conventions of the two evaluation calls.
#include "reverberation/band_evaluation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "api/tables.h"
#include "reverberation/synthetic_room.h"
#include "tavrix.h"

namespace tavrix {
namespace {

using test::kRoomRate;
using test::kRoomSweepSeconds;
constexpr double kTailSeconds = 3.0;

// An analysis of a measured room with an octave bank 250 Hz - 4 kHz attached.
struct Analysis {
  int32_t handle = -1;
  Analysis(double t60, bool tonal) {
    initTavrix();
    const std::vector<double>& ir = test::measuredRoom(t60, tonal);
    handle = initReverberation(ir.data(), static_cast<int32_t>(ir.size()), kRoomRate, kRoomSweepSeconds,
                               kTailSeconds);
    initReverberationFilter(handle, 1, 8, 12);
  }
  explicit Analysis(int32_t existing) : handle(existing) {}
  ~Analysis() { deleteReverberation(handle); }
  Analysis(const Analysis&) = delete;
  Analysis& operator=(const Analysis&) = delete;
};

constexpr double kSentinel = 12345.0;

// Every output of getReverberationData, prefilled with a sentinel so that
// "not written" can be seen.
struct BandData {
  std::vector<double> levelCurve, decayCurve, times, fits;
  int32_t levelCurveLength = -7;
  double decayCurveEnd = kSentinel, noiseLevel = kSentinel, tail[2] = {kSentinel, kSentinel};
  double dynamicRange = kSentinel, curvature = kSentinel, peakLevel = kSentinel;
  int32_t onsetOffset = -7;
  int32_t status = 0;

  BandData(int32_t handle, int32_t band, const std::vector<double>& ranges, int32_t blockLength = 0,
           int32_t rangeCount = -2) {
    const int32_t capacity = std::max(getMaxImpulseLength(handle), 1);
    levelCurve.assign(static_cast<size_t>(capacity), kSentinel);
    decayCurve.assign(static_cast<size_t>(capacity), kSentinel);
    times.assign(ranges.size(), kSentinel);
    fits.assign(ranges.size(), kSentinel);
    if (rangeCount == -2) rangeCount = static_cast<int32_t>(ranges.size());
    status =
        getReverberationData(handle, band, ranges.data(), rangeCount, blockLength, levelCurve.data(),
                             &levelCurveLength, decayCurve.data(), &decayCurveEnd, &noiseLevel, tail,
                             times.data(), fits.data(), &dynamicRange, &curvature, &onsetOffset, &peakLevel);
  }
  std::vector<double> levels() const { return {levelCurve.begin(), levelCurve.begin() + levelCurveLength}; }
  std::vector<double> decay() const {
    return {decayCurve.begin(), decayCurve.begin() + static_cast<int32_t>(decayCurveEnd) + 1};
  }
  bool untouched() const {
    auto clean = [](const std::vector<double>& v) {
      return std::all_of(v.begin(), v.end(), [](double x) { return x == kSentinel; });
    };
    return clean(levelCurve) && clean(decayCurve) && clean(times) && clean(fits) && levelCurveLength == -7 &&
           decayCurveEnd == kSentinel && noiseLevel == kSentinel && tail[0] == kSentinel &&
           dynamicRange == kSentinel && curvature == kSentinel && peakLevel == kSentinel && onsetOffset == -7;
  }
};

// Rooms whose decay is one clean exponential per octave band, through sweep,
// deconvolution, onset location, band filtering and the noise-compensated
// decay analysis: every reverberation time is the room's T60.
TEST(ReverberationChain, CleanExponentialDecaysGiveT60) {
  for (double t60 : {0.4, 1.2, 3.0}) {
    Analysis a(t60, true);
    for (int32_t band = 8; band <= 12; ++band) {
      SCOPED_TRACE(testing::Message() << "T60 " << t60 << " band " << band);
      const BandData d(a.handle, band, {0, 20, 30});
      ASSERT_EQ(d.status, 0);
      EXPECT_NEAR(d.times[0], t60, 0.02 * t60);  // EDT
      EXPECT_NEAR(d.times[1], t60, 0.01 * t60);  // T20
      EXPECT_NEAR(d.times[2], t60, 0.01 * t60);  // T30
      EXPECT_GT(d.fits[1], 0.9999);
      EXPECT_GT(d.fits[2], 0.9999);
      EXPECT_LT(std::fabs(d.curvature), 0.5);
      // The floor lies 54 to 66 dB below the tone in these bands, and the
      // compensated curve reaches well below the 35 dB of T30.
      EXPECT_LT(d.noiseLevel, -50.0);
      EXPECT_GT(d.noiseLevel, -70.0);
      EXPECT_GT(d.dynamicRange, 45.0);
    }
  }
}

// Exponentially decaying noise: one decay of a noise field scatters about the
// true time by several percent, the more the narrower the band and the shorter
// the decay (the scatter goes as 1 / sqrt(bandwidth x decay time)), so the
// octave bands below 1 kHz get a wider margin.
TEST(ReverberationChain, DecayingNoiseGivesT60WithinItsStatisticalSpread) {
  for (double t60 : {0.4, 1.2, 3.0}) {
    Analysis a(t60, false);
    for (int32_t band = 8; band <= 12; ++band) {
      SCOPED_TRACE(testing::Message() << "T60 " << t60 << " band " << band);
      const double margin = band < 10 ? 0.12 : 0.05;
      const BandData d(a.handle, band, {0, 20, 30});
      ASSERT_EQ(d.status, 0);
      EXPECT_NEAR(d.times[0], t60, 0.2 * t60);
      EXPECT_NEAR(d.times[1], t60, margin * t60);
      EXPECT_NEAR(d.times[2], t60, margin * t60);
      EXPECT_GT(d.fits[2], 0.99);
      EXPECT_LT(std::fabs(d.curvature), 10.0);
    }
  }
}

TEST(BandEvaluation, CurvesAndLevelsFollowTheirConventions) {
  Analysis a(1.2, true);
  const int32_t window = getMaxImpulseLength(a.handle);
  const BandData d(a.handle, 10, {0, 20, 30});
  ASSERT_EQ(d.status, 0);

  // One level per window sample, the largest exactly 0 dB; the window opens
  // 0.1 s (4800 samples) before the onset.
  ASSERT_EQ(d.levelCurveLength, window);
  EXPECT_EQ(*std::max_element(d.levelCurve.begin(), d.levelCurve.end()), 0.0);
  EXPECT_EQ(d.onsetOffset, -4800);
  // The decay curve starts at the onset at exactly 0 dB and never rises.
  const std::vector<double> decay = d.decay();
  ASSERT_GT(decay.size(), 1000u);
  EXPECT_LE(decay.size(), static_cast<size_t>(window));
  EXPECT_EQ(decay[0], 0.0);
  EXPECT_TRUE(std::is_sorted(decay.rbegin(), decay.rend()));

  // The reported noise level is what the level curve shows in its last
  // tenth, where only the noise floor remains.
  const std::vector<double> levels = d.levels();
  double tailEnergy = 0.0;
  const size_t from = levels.size() - levels.size() / 10;
  for (size_t i = from; i < levels.size(); ++i) tailEnergy += std::pow(10.0, levels[i] / 10.0);
  EXPECT_NEAR(10.0 * std::log10(tailEnergy / static_cast<double>(levels.size() - from)), d.noiseLevel, 1.0);
  // The late-decay model meets the noise at the crosspoint.
  EXPECT_NEAR(d.tail[1], d.noiseLevel, 0.01);
  EXPECT_GT(d.tail[0], d.tail[1] + 30.0);

  // Unfiltered, the peak is the direct sound: a unit impulse, 0 dB.
  const BandData broadband(a.handle, TAVRIX_BAND_UNFILTERED, {});
  EXPECT_NEAR(broadband.peakLevel, 0.0, 0.2);

  // The level-only call reports the same levels, and the absolute level of
  // the decay curve's start.
  std::vector<double> levelCurve(static_cast<size_t>(window)), decayCurve(static_cast<size_t>(window));
  int32_t levelLength = 0, onsetOffset = 0;
  double decayEnd = 0, noise = 0, startLevel = 0, peak = 0;
  ASSERT_EQ(getReverberationDataLevel(a.handle, 10, 0, levelCurve.data(), &levelLength, decayCurve.data(),
                                      &decayEnd, &noise, &startLevel, &onsetOffset, &peak),
            0);
  EXPECT_EQ(levelLength, d.levelCurveLength);
  EXPECT_EQ(decayEnd, d.decayCurveEnd);
  EXPECT_EQ(noise, d.noiseLevel);
  EXPECT_EQ(onsetOffset, d.onsetOffset);
  EXPECT_EQ(peak, d.peakLevel);
  EXPECT_TRUE(std::equal(levels.begin(), levels.end(), levelCurve.begin()));
  EXPECT_TRUE(std::isfinite(startLevel));
  EXPECT_LT(startLevel, peak + 40.0);

  // Evaluation leaves the object as it was: the same call gives the same bits.
  const BandData again(a.handle, 10, {0, 20, 30});
  EXPECT_EQ(again.levelCurve, d.levelCurve);
  EXPECT_EQ(again.times, d.times);
}

TEST(BandEvaluation, BlockAveraging) {
  Analysis a(0.4, true);
  const int32_t window = getMaxImpulseLength(a.handle);
  const BandData plain(a.handle, 11, {0, 20, 30}, 0);
  const BandData ones(a.handle, 11, {0, 20, 30}, 1);
  ASSERT_EQ(plain.status, 0);
  EXPECT_EQ(ones.status, plain.status);
  EXPECT_EQ(ones.levels(), plain.levels());
  EXPECT_EQ(ones.decay(), plain.decay());
  EXPECT_EQ(ones.onsetOffset, plain.onsetOffset);
  EXPECT_EQ(ones.times, plain.times);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(ones.tail[i], plain.tail[i]);

  // 10 ms blocks: floor(window / 480) values, the block holding the peak at
  // 0 dB, the onset 10 blocks in; the decay blocks stay referred to the
  // curve's first sample.
  const BandData blocks(a.handle, 11, {0, 20, 30}, 480);
  ASSERT_EQ(blocks.status, 0);
  EXPECT_EQ(blocks.levelCurveLength, window / 480);
  EXPECT_EQ(*std::max_element(blocks.levelCurve.begin(), blocks.levelCurve.begin() + blocks.levelCurveLength),
            0.0);
  EXPECT_EQ(blocks.onsetOffset, -10);
  EXPECT_EQ(blocks.decayCurveEnd + 1.0, std::floor((plain.decayCurveEnd + 1.0) / 480.0));
  EXPECT_LT(blocks.decayCurve[0], 0.0);
  EXPECT_EQ(blocks.times, plain.times);  // times come from the unaveraged curve

  // A block as long as the window gives one value; a longer one none, and the
  // call refuses to write anything.
  const BandData whole(a.handle, 11, {0}, window);
  EXPECT_EQ(whole.status, 0);
  EXPECT_EQ(whole.levelCurveLength, 1);
  EXPECT_EQ(whole.levelCurve[0], 0.0);
  const BandData tooLong(a.handle, 11, {0}, window + 1);
  EXPECT_EQ(tooLong.status, -1);
  EXPECT_TRUE(tooLong.untouched());
}

TEST(BandEvaluation, RefusedCallsWriteNothing) {
  Analysis a(0.4, true);
  EXPECT_TRUE(BandData(a.handle, 13, {0, 20}).untouched());  // outside the bank 8..12
  EXPECT_EQ(BandData(a.handle, 7, {0, 20}).status, -1);
  EXPECT_EQ(BandData(a.handle, 99999, {0, 20}).status, -1);
  const BandData negativeCount(a.handle, 10, {0, 20}, 0, -1);
  EXPECT_EQ(negativeCount.status, -1);
  EXPECT_TRUE(negativeCount.untouched());
  for (int32_t handle : {-1, 255, 1000, a.handle + 1}) EXPECT_TRUE(BandData(handle, 10, {0}).untouched());

  // Null outputs.
  std::vector<double> curve(static_cast<size_t>(getMaxImpulseLength(a.handle)), kSentinel);
  double x = kSentinel, tail[2], t[1], r[1];
  int32_t len = -7, off = -7;
  const double ranges[1] = {20};
  EXPECT_EQ(getReverberationData(a.handle, 10, ranges, 1, 0, curve.data(), &len, curve.data(), &x, &x, tail,
                                 t, r, &x, nullptr, &off, &x),
            -1);
  EXPECT_EQ(getReverberationData(a.handle, 10, nullptr, 1, 0, curve.data(), &len, curve.data(), &x, &x, tail,
                                 t, r, &x, &x, &off, &x),
            -1);
  EXPECT_EQ(getReverberationDataLevel(a.handle, 10, 0, curve.data(), &len, nullptr, &x, &x, &x, &off, &x),
            -1);
  EXPECT_EQ(x, kSentinel);
  EXPECT_EQ(len, -7);
  EXPECT_EQ(curve[0], kSentinel);
  // No ranges: nothing to read or write for them.
  EXPECT_EQ(getReverberationData(a.handle, 10, nullptr, 0, 0, curve.data(), &len, curve.data(), &x, &x, tail,
                                 nullptr, nullptr, &x, &x, &off, &x),
            0);

  // Without a filter bank, or with one whose build failed.
  const std::vector<double>& ir = test::measuredRoom(0.4, true);
  Analysis bare(
      initReverberation(ir.data(), static_cast<int32_t>(ir.size()), kRoomRate, kRoomSweepSeconds, kTailSeconds));
  EXPECT_TRUE(BandData(bare.handle, TAVRIX_BAND_UNFILTERED, {0}).untouched());
  EXPECT_EQ(initReverberationFilter(bare.handle, 5, 8, 12), -1);
  EXPECT_TRUE(BandData(bare.handle, 10, {0}).untouched());
  EXPECT_TRUE(BandData(bare.handle, TAVRIX_BAND_A_WEIGHTING, {0}).untouched());
}

TEST(BandEvaluation, InvalidRangeStopsTheTimes) {
  Analysis a(1.2, true);
  const BandData d(a.handle, 10, {20, 5, 30});
  EXPECT_EQ(d.status, -11);
  EXPECT_NEAR(d.times[0], 1.2, 0.012);
  EXPECT_TRUE(std::isnan(d.times[1]) && std::isnan(d.times[2]) && std::isnan(d.fits[2]));
  EXPECT_TRUE(std::isnan(d.curvature));
  EXPECT_GT(d.dynamicRange, 40.0);  // as found by the T20 before the bad range
  EXPECT_EQ(d.levelCurveLength, getMaxImpulseLength(a.handle));
}

TEST(EnsembleEvaluation, MembersAreAveragedOnTheirOnsets) {
  Analysis first(1.2, true);
  Analysis second(1.2, false);
  const int32_t window = getMaxImpulseLength(first.handle);

  // One member: its own band energy behind a one-sample shift of the onset,
  // and the unfilled last position at -infinity.
  Analysis single(initReverberationEnsemble(&first.handle, 1));
  const BandData member(first.handle, 10, {0, 20, 30});
  const BandData alone(single.handle, 10, {0, 20, 30});
  ASSERT_EQ(alone.status, 0);
  ASSERT_EQ(alone.levelCurveLength, window + 1);
  std::vector<double> head = alone.levels();
  EXPECT_EQ(head.back(), -std::numeric_limits<double>::infinity());
  head.pop_back();
  EXPECT_EQ(head, member.levels());
  EXPECT_EQ(alone.onsetOffset, member.onsetOffset - 1);
  EXPECT_NEAR(alone.times[2], member.times[2], 0.001 * member.times[2]);

  // Two rooms of one T60: the mean energy decays at that rate too.
  const int32_t both[2] = {first.handle, second.handle};
  Analysis pair(initReverberationEnsemble(both, 2));
  const BandData mean(pair.handle, 10, {0, 20, 30});
  ASSERT_EQ(mean.status, 0);
  EXPECT_NEAR(mean.times[1], 1.2, 0.05 * 1.2);
  EXPECT_NEAR(mean.times[2], 1.2, 0.05 * 1.2);
  EXPECT_EQ(*std::max_element(mean.levelCurve.begin(), mean.levelCurve.begin() + mean.levelCurveLength), 0.0);

  // Every member needs a bank that holds the band.
  initReverberationFilter(second.handle, 1, 10, 10);
  EXPECT_TRUE(BandData(pair.handle, 9, {0}).untouched());
  EXPECT_EQ(BandData(pair.handle, 10, {0}).status, 0);

  // Zero members: ready, but nothing to evaluate.
  Analysis none(initReverberationEnsemble(nullptr, 0));
  EXPECT_EQ(getMaxImpulseLength(none.handle), 1);
  EXPECT_TRUE(BandData(none.handle, 10, {0}).untouched());
}

// The block means and the level conventions on an envelope small enough to
// work out by hand.
TEST(LevelCurves, HandComputedEnvelope) {
  const double e[] = {0.5, 2.0, 8.0, 4.0, 2.0, 1.0, 0.5, 0.25};
  const DynArray<double> blocks = averageBlocks(e, 8, 3);
  ASSERT_EQ(blocks.size(), 2);  // the last two values are dropped
  EXPECT_DOUBLE_EQ(blocks[0], 3.5);
  EXPECT_DOUBLE_EQ(blocks[1], 7.0 / 3.0);
  EXPECT_EQ(averageBlocks(e, 2, 3).size(), 0);

  // Window positions 2..7, onset at position 3; decay curve 4, 2, 1.
  const DynArray<double> energy(e, 8);
  const double decayValues[] = {4.0, 2.0, 1.0};
  const DynArray<double> decay(decayValues, 3);
  const double tail[2] = {8.0, 0.08};
  const LevelCurves c = levelCurves(energy, decay, 0.8, tail, 0, 3.0, 7.0, 2.0);
  ASSERT_EQ(c.levelCurveDb.size(), 6);
  EXPECT_EQ(c.levelCurveDb[1], 0.0);
  EXPECT_DOUBLE_EQ(c.levelCurveDb[0], 10.0 * std::log10(0.25));
  EXPECT_DOUBLE_EQ(c.noiseLevelDb, -10.0);
  EXPECT_DOUBLE_EQ(c.peakLevelDb, 10.0 * std::log10(8.0));
  EXPECT_DOUBLE_EQ(c.decayStartLevelDb, 10.0 * std::log10(4.0));
  EXPECT_DOUBLE_EQ(c.decayCurveDb[2], 10.0 * std::log10(0.25));
  EXPECT_DOUBLE_EQ(c.tailModelDb[1], -20.0);
  EXPECT_EQ(c.onsetOffset, -1);

  // Blocks of 2 over the window {2, 8, 4, 2, 1, 0.5}: 5, 3, 0.75.
  const LevelCurves b = levelCurves(energy, decay, 0.5, tail, 2, 3.0, 7.0, 2.0);
  ASSERT_EQ(b.levelCurveDb.size(), 3);
  EXPECT_EQ(b.levelCurveDb[0], 0.0);
  EXPECT_DOUBLE_EQ(b.levelCurveDb[2], 10.0 * std::log10(0.15));
  EXPECT_DOUBLE_EQ(b.noiseLevelDb, 10.0 * std::log10(0.5 / 8.0));  // still re the sample peak
  EXPECT_DOUBLE_EQ(b.tailModelDb[0], 10.0 * std::log10(8.0 / 5.0));
  ASSERT_EQ(b.decayCurveDb.size(), 1);
  EXPECT_DOUBLE_EQ(b.decayCurveDb[0], 10.0 * std::log10(3.0 / 4.0));
  EXPECT_EQ(b.onsetOffset, 0);  // floor(1 / 2) blocks before the onset

  // An empty decay curve has no start level.
  const LevelCurves empty = levelCurves(energy, DynArray<double>(), 0.8, tail, 0, 3.0, 7.0, 2.0);
  EXPECT_EQ(empty.decayCurveDb.size(), 0);
  EXPECT_TRUE(std::isnan(empty.decayStartLevelDb));
}

}  // namespace
}  // namespace tavrix

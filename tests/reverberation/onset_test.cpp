// Onset and analysis-window location on envelopes whose answer is worked out
// by hand.
#include "reverberation/onset.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "api/tables.h"
#include "reverberation/reverberation_analysis.h"
#include "tavrix.h"

namespace tavrix {
namespace {

constexpr double kFs = 48000.0;

// Envelope of n samples at a constant background level; set(p, v) writes the
// value at 1-based position p.
struct Envelope {
  std::vector<double> e;
  Envelope(int32_t n, double background) : e(static_cast<size_t>(n), background) {}
  void set(int32_t position, double v) { e[static_cast<size_t>(position - 1)] = v; }
  void fill(int32_t from, int32_t to, double v) {
    for (int32_t p = from; p <= to; ++p) set(p, v);
  }
};

// A 10 s sweep with a 2 s tail at 48 kHz, the direct sound peaking at response
// position 60000 after a 50-sample rise, 60 dB above the background.
TEST(LocateImpulse, TenSecondSweepAtFortyEightKilohertz) {
  Envelope env(700000, 1e-6);
  env.fill(59950, 59999, 0.5);
  env.set(60000, 1.0);
  const double span = (10.0 + 2.0 + 1.0) * kFs;
  ImpulseLocation loc;
  ASSERT_EQ(locateImpulse(env.e.data(), 700000, kFs, 10.0, span, loc), 0);
  EXPECT_EQ(loc.segmentEnd, 624000.0);
  // Half a second before the peak: 60000 + 1 - 24000.
  EXPECT_EQ(loc.segmentStart, 36001.0);
  // 59950 in the response is position 59950 - 36001 + 1 of the segment.
  EXPECT_EQ(loc.onset, 23950.0);
  EXPECT_EQ(loc.windowStart, 23950.0 - 4800.0);
  EXPECT_EQ(loc.windowEnd, 624000.0 - 480000.0 - 23950.0);
  EXPECT_NEAR(loc.peakToNoise, 60.0, 1e-9);

  ReverberationAnalysis analysis;
  analysis.initialised = true;
  analysis.windowStart = loc.windowStart;
  analysis.windowEnd = loc.windowEnd;
  EXPECT_EQ(reverbMaxImpulseLength(analysis), 100901);
}

// The threshold below the peak follows the peak's margin over the background.
// A staircase in the last 6.25 ms before the peak (at -13, -7 and -3 dB)
// shows which threshold was used: -20 dB catches the first step, -10 dB the
// second, -5 dB the third.
TEST(DetectOnset, ThresholdFollowsPeakToNoiseMargin) {
  struct Case {
    double marginDb;
    int32_t expectedOnset;
  };
  const int32_t pk = 19200;  // a block boundary: the staircase lies in the last block
  for (const Case c : {Case{15.0, pk - 100}, Case{25.0, pk - 200}, Case{35.0, pk - 300}}) {
    Envelope s(30000, std::pow(10.0, -c.marginDb / 10.0));
    s.fill(pk - 300, pk - 201, 0.05);
    s.fill(pk - 200, pk - 101, 0.2);
    s.fill(pk - 100, pk - 1, 0.5);
    s.set(pk, 1.0);
    const OnsetResult r = detectOnset(s.e.data(), 30000, kFs);
    ASSERT_EQ(r.status, 0) << c.marginDb;
    EXPECT_EQ(r.onsetPos, c.expectedOnset) << c.marginDb;
    EXPECT_NEAR(r.peakToNoiseDb, c.marginDb, 1e-9);
  }
}

TEST(DetectOnset, OnlyTheLastTenthOfASecondBeforeThePeakCounts) {
  // An early burst above the threshold 0.2 s before the peak is not the onset.
  Envelope s(40000, 1e-6);
  s.fill(10000, 10100, 0.5);
  s.fill(19700, 20000, 0.5);
  s.set(20000, 1.0);
  OnsetResult r = detectOnset(s.e.data(), 40000, kFs);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.onsetPos, 19700);

  // Nothing above the threshold before the peak: the peak itself.
  Envelope lone(40000, 1e-6);
  lone.set(20000, 1.0);
  r = detectOnset(lone.e.data(), 40000, kFs);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.onsetPos, 20000);
}

TEST(DetectOnset, NoDistinctArrivalFails) {
  // Growing as the square root of time, no block reaches twice the mean of
  // the blocks before it (the ratio tends to 3/2).
  std::vector<double> smooth(20000);
  for (size_t i = 0; i < smooth.size(); ++i) smooth[i] = std::sqrt(1.0 + static_cast<double>(i));
  OnsetResult r = detectOnset(smooth.data(), 20000, kFs);
  EXPECT_EQ(r.status, kOnsetNoRise);
  EXPECT_EQ(r.onsetPos, 0.0);
  EXPECT_EQ(r.peakToNoiseDb, 0.0);

  std::vector<double> zeros(20000, 0.0);
  EXPECT_EQ(detectOnset(zeros.data(), 20000, kFs).status, kOnsetNoRise);

  // A peak in the first block has no block before it.
  Envelope early(20000, 1e-6);
  early.set(100, 1.0);
  EXPECT_EQ(detectOnset(early.e.data(), 20000, kFs).status, kOnsetNoRise);
}

TEST(DetectOnset, ShortStretchesReadNothingOutside) {
  // The peak in a last block cut short by the end of the stretch (1000 is not
  // a multiple of 480): the block ends at the stretch's end.
  Envelope s(1000, 1e-6);
  s.set(1000, 1.0);
  OnsetResult r = detectOnset(s.e.data(), 1000, kFs);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.onsetPos, 1000);

  // Shorter than one 10 ms block, a single sample, nothing, a rate whose
  // block is empty: rejected (ASan watches the reads).
  std::vector<double> tiny{1e-6, 1.0};
  EXPECT_EQ(detectOnset(tiny.data(), 2, kFs).status, kOnsetNoRise);
  EXPECT_EQ(detectOnset(tiny.data(), 1, kFs).status, kOnsetNoRise);
  EXPECT_EQ(detectOnset(nullptr, 0, kFs).status, kOnsetNoRise);
  EXPECT_EQ(detectOnset(s.e.data(), 1000, 40.0).status, kOnsetNoRise);
  EXPECT_EQ(detectOnset(s.e.data(), 1000, std::nan("")).status, kOnsetNoRise);
}

TEST(LocateImpulse, EarlyPeaksAndShortResponses) {
  // The largest value lies in the first quarter second and is skipped by the
  // peak search, but the segment starts at the response's first sample and so
  // shows it to the onset search, whose peak it becomes.
  Envelope env(200000, 1e-6);
  env.set(1000, 10.0);
  env.fill(19990, 20000, 1.0);
  const double span = (2.0 + 1.0 + 1.0) * kFs;
  ImpulseLocation loc;
  ASSERT_EQ(locateImpulse(env.e.data(), 200000, kFs, 2.0, span, loc), 0);
  EXPECT_EQ(loc.segmentStart, 1.0);
  EXPECT_EQ(loc.onset, 1000.0);
  EXPECT_EQ(loc.windowStart, 1.0);

  // Without the early spike the peak at 20000 is found, still within the
  // first half second: positions count from the start of the response.
  env.set(1000, 1e-6);
  ASSERT_EQ(locateImpulse(env.e.data(), 200000, kFs, 2.0, span, loc), 0);
  EXPECT_EQ(loc.segmentStart, 1.0);
  EXPECT_EQ(loc.onset, 19990.0);
  EXPECT_EQ(loc.windowStart, 19990.0 - 4800.0);
  EXPECT_EQ(loc.windowEnd, span - 96000.0 - 19990.0);

  // Responses too short to hold a 10 ms block before the peak.
  for (int32_t n : {0, 1, 479}) {
    Envelope shortEnv(n > 0 ? n : 1, 1e-6);
    if (n > 100) shortEnv.set(n - 10, 1.0);
    const int32_t status = locateImpulse(n > 0 ? shortEnv.e.data() : nullptr, n, kFs, 2.0, span, loc);
    EXPECT_LT(status, 0) << n;
    EXPECT_EQ(loc.onset, 0.0);
    EXPECT_EQ(loc.windowEnd, 0.0);
  }
}

}  // namespace
}  // namespace tavrix

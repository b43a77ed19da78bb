// Onset and analysis-window location on envelopes whose answer is worked out
// by hand.
#include "reverberation/onset.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "reverberation/reverberation_analysis.h"

namespace tavrix {
namespace {

constexpr double kFs = 48000.0;

// Envelope at a constant background; fill() writes 1-based positions.
struct Envelope {
  std::vector<double> e;
  Envelope(int32_t n, double background) : e(static_cast<size_t>(n), background) {}
  Envelope& fill(int32_t from, int32_t to, double v) {
    for (int32_t p = from; p <= to; ++p) e[static_cast<size_t>(p - 1)] = v;
    return *this;
  }
  OnsetResult onset() const { return detectOnset(e.data(), static_cast<int32_t>(e.size()), kFs); }
};

// A 10 s sweep with a 2 s tail at 48 kHz, the direct sound peaking at response
// position 60000 after a 50-sample rise, 60 dB above the background.
TEST(LocateImpulse, TenSecondSweepAtFortyEightKilohertz) {
  Envelope env(700000, 1e-6);
  env.fill(59950, 59999, 0.5).fill(60000, 60000, 1.0);
  ImpulseLocation loc;
  ASSERT_EQ(locateImpulse(env.e.data(), 700000, kFs, 10.0, 13.0 * kFs, loc), 0);
  EXPECT_EQ(loc.segmentEnd, 624000.0);
  EXPECT_EQ(loc.segmentStart, 36001.0);  // half a second before the peak
  EXPECT_EQ(loc.onset, 23950.0);         // 59950 counted from 36001
  EXPECT_EQ(loc.windowStart, 19150.0);
  EXPECT_EQ(loc.windowEnd, 120050.0);
  EXPECT_NEAR(loc.peakToNoise, 60.0, 1e-9);
  ReverberationAnalysis analysis;
  analysis.initialised = true;
  analysis.windowStart = loc.windowStart;
  analysis.windowEnd = loc.windowEnd;
  EXPECT_EQ(reverbMaxImpulseLength(analysis), 100901);
}

// The threshold below the peak follows the peak's margin over the background.
// A staircase at -13, -7 and -3 dB in the last 300 samples before the peak
// shows which threshold was used: -20 dB catches the first step, -10 dB the
// second, -5 dB the third. An earlier burst, 0.2 s before the peak, is never
// the onset.
TEST(DetectOnset, ThresholdFollowsPeakToNoiseMargin) {
  const int32_t pk = 19200;  // a block boundary: the staircase lies in one block
  for (const auto& [marginDb, expected] : {std::pair{15.0, pk - 100}, {25.0, pk - 200}, {35.0, pk - 300}}) {
    Envelope s(30000, std::pow(10.0, -marginDb / 10.0));
    s.fill(pk - 9599, pk - 9500, 0.9).fill(pk - 300, pk - 201, 0.05).fill(pk - 200, pk - 101, 0.2);
    s.fill(pk - 100, pk - 1, 0.5).fill(pk, pk, 1.0);
    const OnsetResult r = s.onset();
    ASSERT_EQ(r.status, 0) << marginDb;
    EXPECT_EQ(r.onsetPos, expected) << marginDb;
    EXPECT_NEAR(r.peakToNoiseDb, marginDb, 1e-9);
  }
  // Nothing above the threshold before the peak: the peak itself.
  EXPECT_EQ(Envelope(40000, 1e-6).fill(20000, 20000, 1.0).onset().onsetPos, 20000);
}

TEST(DetectOnset, NoRiseOrTooShortFails) {
  // Growing as the square root of time, no block reaches twice the mean of
  // the blocks before it (the ratio tends to 3/2).
  Envelope smooth(20000, 0.0);
  for (size_t i = 0; i < smooth.e.size(); ++i) smooth.e[i] = std::sqrt(1.0 + static_cast<double>(i));
  const OnsetResult r = smooth.onset();
  EXPECT_EQ(r.status, kOnsetNoRise);
  EXPECT_EQ(r.onsetPos, 0.0);
  EXPECT_EQ(r.peakToNoiseDb, 0.0);
  EXPECT_EQ(Envelope(20000, 0.0).onset().status, kOnsetNoRise);
  EXPECT_EQ(Envelope(20000, 1e-6).fill(100, 100, 1.0).onset().status,
            kOnsetNoRise);  // peak in the first block

  // A peak in a last block cut short by the end of the stretch (1000 is no
  // multiple of 480): the block ends with the stretch. Shorter than a block,
  // empty, or a rate whose block is empty: rejected. ASan watches the reads.
  Envelope s(1000, 1e-6);
  s.fill(1000, 1000, 1.0);
  EXPECT_EQ(s.onset().onsetPos, 1000);
  EXPECT_EQ(detectOnset(s.e.data() + 998, 2, kFs).status, kOnsetNoRise);
  EXPECT_EQ(detectOnset(nullptr, 0, kFs).status, kOnsetNoRise);
  EXPECT_EQ(detectOnset(s.e.data(), 1000, 40.0).status, kOnsetNoRise);
  EXPECT_EQ(detectOnset(s.e.data(), 1000, std::nan("")).status, kOnsetNoRise);
}

TEST(LocateImpulse, EarlyPeaksAndShortResponses) {
  // The largest value lies in the first quarter second, which the peak search
  // skips; but the segment starts at the response's first sample and so shows
  // it to the onset search, whose peak it becomes.
  Envelope env(200000, 1e-6);
  env.fill(1000, 1000, 10.0).fill(19990, 20000, 1.0);
  const double span = 4.0 * kFs;
  ImpulseLocation loc;
  ASSERT_EQ(locateImpulse(env.e.data(), 200000, kFs, 2.0, span, loc), 0);
  EXPECT_EQ(loc.segmentStart, 1.0);
  EXPECT_EQ(loc.onset, 1000.0);
  EXPECT_EQ(loc.windowStart, 1.0);
  // Without it, the peak within the first half second: positions count from
  // the start of the response.
  env.fill(1000, 1000, 1e-6);
  ASSERT_EQ(locateImpulse(env.e.data(), 200000, kFs, 2.0, span, loc), 0);
  EXPECT_EQ(loc.segmentStart, 1.0);
  EXPECT_EQ(loc.onset, 19990.0);
  EXPECT_EQ(loc.windowEnd, span - 96000.0 - 19990.0);

  // Too short to hold a 10 ms block before the peak.
  for (int32_t n : {0, 1, 479}) {
    Envelope shortEnv(n + 1, 1e-6);
    EXPECT_LT(locateImpulse(shortEnv.e.data(), n, kFs, 2.0, span, loc), 0) << n;
    EXPECT_EQ(loc.onset, 0.0);
    EXPECT_EQ(loc.windowEnd, 0.0);
  }
}

}  // namespace
}  // namespace tavrix

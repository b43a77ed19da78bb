#include "reverberation/decay_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "numeric/constants.h"
#include "reverberation/decay_times.h"

namespace tavrix {
namespace {

constexpr double kFs = 48000.0;

// Energy envelope of a diffuse decay with reverberation time t60 over a
// constant noise floor `noiseDb` below the peak. Multiplicative ripple mimics
// the fluctuation of a real band envelope.
std::vector<double> roomEnvelope(double t60, double noiseDb, double seconds, double ripple, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(1.0 - ripple, 1.0 + ripple);
  const double noise = std::pow(10.0, noiseDb / 10.0);
  std::vector<double> e(static_cast<size_t>(seconds * kFs));
  for (size_t i = 0; i < e.size(); ++i) {
    const double t = static_cast<double>(i) / kFs;
    e[i] = std::pow(10.0, -6.0 * t / t60) * u(rng) + noise * u(rng);
  }
  return e;
}

DecayAnalysis analyze(const std::vector<double>& e, double fs = kFs) {
  return analyzeDecay(e.data(), static_cast<int32_t>(e.size()), fs);
}

void expectUntouched(const DecayAnalysis& d) {
  ASSERT_EQ(d.decayCurve.size(), 1);
  EXPECT_EQ(d.decayCurve[0], 0.0);
  EXPECT_EQ(d.crosspointSample, 0.0);
  EXPECT_EQ(d.tailModel[0], 0.0);
  EXPECT_EQ(d.tailModel[1], 0.0);
}

class DecayAnalysisTest : public ::testing::Test {
 protected:
  void SetUp() override { setNonFiniteConstants(); }
};

TEST_F(DecayAnalysisTest, RecoversNoiseCrosspointAndReverberationTime) {
  struct Room {
    double t60, noiseDb, seconds;
  };
  for (const Room room : {Room{1.0, -60.0, 2.5}, Room{0.4, -45.0, 1.5}, Room{2.0, -70.0, 4.0}}) {
    SCOPED_TRACE(room.t60);
    const std::vector<double> e = roomEnvelope(room.t60, room.noiseDb, room.seconds, 0.2, 3);
    const DecayAnalysis d = analyze(e);
    ASSERT_EQ(d.status, 0);

    // The decay meets the floor where it has fallen by the floor's depth.
    const double noise = std::pow(10.0, room.noiseDb / 10.0);
    const double crossing = room.t60 * -room.noiseDb / 60.0 * kFs;
    EXPECT_NEAR(d.noiseLevel / noise, 1.0, 0.1);
    EXPECT_NEAR(d.crosspointSample / crossing, 1.0, 0.05);

    // The compensated Schroeder curve gives the reverberation time back.
    DynArray<double> curve = d.decayCurve;
    const double ranges[] = {0, 20, 30};
    double times[3], quality[3];
    const DecayTimesSummary s = decayTimes(curve.data(), curve.size(), ranges, 3, kFs, times, quality);
    ASSERT_EQ(s.status, 0);
    for (double t : times) EXPECT_NEAR(t / room.t60, 1.0, 0.02);
    EXPECT_GT(quality[2], 0.999);
    EXPECT_NEAR(s.curvature, 0.0, 3.0);
  }
}

TEST_F(DecayAnalysisTest, EnvelopesWithoutAUsableDecayFailWithTheirStatus) {
  // Constant: nothing lies 10 dB above the noise estimate.
  const DecayAnalysis constant = analyze(std::vector<double>(48000, 0.25));
  EXPECT_EQ(constant.status, kDecayNoDecayAboveNoise);
  expectUntouched(constant);

  // Shorter than one 10 ms block, empty, or a sample rate whose blocks are
  // shorter than a sample.
  EXPECT_EQ(analyze(std::vector<double>(479, 1.0)).status, kDecayNoDecayAboveNoise);
  EXPECT_EQ(analyzeDecay(nullptr, 0, kFs).status, kDecayNoDecayAboveNoise);
  EXPECT_EQ(analyzeDecay(nullptr, -5, kFs).status, kDecayNoDecayAboveNoise);
  const std::vector<double> room = roomEnvelope(1.0, -60.0, 2.5, 0.2, 3);
  EXPECT_EQ(analyze(room, 99.0).status, kDecayNoDecayAboveNoise);
  EXPECT_EQ(analyze(room, std::nan("")).status, kDecayNoDecayAboveNoise);
  EXPECT_EQ(analyze(room, -kFs).status, kDecayNoDecayAboveNoise);
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
    EXPECT_LT(analyze(std::vector<double>(48000, bad)).status, 0);
  }

  // A slow decay (10 dB per second) that drops into a floor after 0.4 s:
  // the preliminary fit sees T10 = 1 s, and 0.5 s holds only five intervals
  // of 0.1 s.
  std::vector<double> slow(24000);
  for (size_t i = 0; i < slow.size(); ++i) slow[i] = i < 19200 ? std::pow(10.0, -(i / kFs)) : 1e-4;
  const DecayAnalysis tooShort = analyze(slow);
  EXPECT_EQ(tooShort.status, kDecayTooFewIntervals);
  expectUntouched(tooShort);
  EXPECT_EQ(tooShort.noiseLevel, 0.0);  // no crosspoint iteration ran
}

// Random decays of every shape and length, with odd sample rates, stray
// negative and zero samples: every status keeps its output contract, and
// (under the sanitizers) nothing is read or written out of bounds.
TEST_F(DecayAnalysisTest, RandomEnvelopesKeepTheOutputContractOfEachStatus) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double rates[] = {100.0, 150.0, 1000.0, 8000.0, 48000.0};
  int seen[5] = {};
  for (int trial = 0; trial < 400; ++trial) {
    const double fs = rates[rng() % 5];
    const int32_t n = static_cast<int32_t>(rng() % 6000);
    const double t60 = 0.005 + 2.0 * u(rng), noise = std::pow(10.0, -8.0 * u(rng)), ripple = u(rng);
    std::vector<double> e(n);
    for (int32_t i = 0; i < n; ++i) {
      e[i] = std::pow(10.0, -6.0 * i / fs / t60) * (1 - ripple + 2 * ripple * u(rng)) +
             noise * (1 - ripple + 2 * ripple * u(rng));
      if (rng() % 50 == 0) e[i] = -e[i];
      if (rng() % 200 == 0) e[i] = 0.0;
    }
    const DecayAnalysis d = analyze(e, fs);
    SCOPED_TRACE(trial);
    ASSERT_LE(d.status, 0);
    ASSERT_GE(d.status, kDecayTooFewIntervals);
    ++seen[d.status == 0 ? 0 : -d.status - 29];  // 0, -30, ..., -33
    if (d.status == 0 || d.status == kDecayLateFitFailed) {
      const int32_t k = d.decayCurve.size();
      ASSERT_EQ(k, static_cast<int32_t>(d.crosspointSample));
      for (int32_t i = 1; i < k; ++i) ASSERT_LE(d.decayCurve[i], d.decayCurve[i - 1]);
      if (d.status == 0) {
        EXPECT_NEAR(d.tailModel[1] / d.noiseLevel, 1.0, 1e-9);
      } else {
        EXPECT_EQ(d.tailModel[0], 0.0);
        EXPECT_EQ(d.tailModel[1], 0.0);
        // Without a tail the curve ends at the last noise-subtracted sample.
        if (k > 0 && k <= n) {
          EXPECT_EQ(d.decayCurve[k - 1], std::max(e[k - 1] - d.noiseLevel, 0.0));
        }
      }
    } else {
      expectUntouched(d);
    }
  }
  // The mix reaches success and every failure but the rare -32 (a final fit
  // that fails at an averaged crosspoint).
  for (int s : {0, 1, 2, 4}) EXPECT_GT(seen[s], 0) << s;
}

TEST(DecayFitClass, BoundariesAreStrict) {
  EXPECT_EQ(decayFitClass(45.0), 3);
  EXPECT_EQ(decayFitClass(std::nextafter(45.0, 100.0)), 4);
  EXPECT_EQ(decayFitClass(30.0), 2);
  EXPECT_EQ(decayFitClass(20.0), 1);
}

TEST(IntegrateBackward, SumsNoiseFreeEnergyFromEachSampleToTheCrosspoint) {
  const double e[] = {5.0, 4.0, 0.5, 3.0, 2.0, 1.0};
  DynArray<double> s;
  // tc * fs - 1 = 4 samples of e - 1 = {4, 3, 0, 2} (-0.5 counts as 0), tail 10.
  integrateBackward(e, 6, 5.0, 1.0, 10.0, 1.0, s);
  ASSERT_EQ(s.size(), 4);
  EXPECT_EQ(s[0], 10.0 + 4.0 + 3.0 + 0.0 + 2.0);
  EXPECT_EQ(s[3], 10.0 + 2.0);
  // Past the end of the envelope the samples count as 0.
  integrateBackward(e, 6, 9.0, 1.0, 0.5, 1.0, s);
  ASSERT_EQ(s.size(), 8);
  EXPECT_EQ(s[0], 0.5 + 4 + 3 + 0 + 2 + 1 + 0);
  EXPECT_EQ(s[7], 0.5);
  // fs * tc < 1.5 gives an empty curve.
  integrateBackward(e, 6, 1.49, 1.0, 0.5, 1.0, s);
  EXPECT_EQ(s.size(), 0);
}

}  // namespace
}  // namespace tavrix

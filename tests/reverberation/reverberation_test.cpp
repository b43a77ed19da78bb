// Reverberation analysis: location of the direct sound on envelopes worked out
// by hand, analyses and ensembles through the C interface, and the whole chain
// on rooms of known reverberation time measured through the library's sweep.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <map>
#include <numbers>
#include <random>
#include <vector>

#include "api/tables.h"
#include "fileio/wave_file.h"
#include "numeric/fft.h"
#include "reverberation/band_evaluation.h"
#include "reverberation/onset.h"
#include "support/temp_path.h"
#include "tavrix.h"

namespace tavrix {
namespace {

constexpr double kFs = 48000.0, kUnset = 12345.0;

// A room (4.4 s): a unit direct sound after 0.6 s of quiet, then a diffuse
// field of rms 0.1 whose amplitude falls 60 dB in t60, over a steady floor.
// The field is Gaussian noise, or (tonal) one decaying tone at the centre of
// each octave 125 Hz - 8 kHz, so that every octave band decays as one clean
// exponential, free of the statistical spread of a single noise decay. The
// floor lies 60 dB below the field, 50 dB for a T60 of 2 s or more so that the
// decay meets it well within the response, and 45 dB for tonal rooms, whose
// energy is concentrated in seven lines while the floor is spread wide.
// Returned is its response as the library measures it, cached per program: a
// 20 Hz - 20 kHz sweep of 1 s played through the room (linear convolution by
// FFT), recorded and deconvolved (response and recording fit 2^18 samples).
const std::vector<double>& measuredRoom(double t60, bool tonal) {
  static std::map<std::pair<double, bool>, std::vector<double>> cache;
  std::vector<double>& ir = cache[{t60, tonal}];
  if (!ir.empty()) return ir;
  const int32_t handle = initImpulse(), sweepLength = generateESS(handle, kFs, 20.0, 20000.0, 1.0, 1.0);
  const int32_t roomLength = static_cast<int32_t>(4.4 * kFs), direct = static_cast<int32_t>(0.6 * kFs);
  const int32_t recordingLength = sweepLength + roomLength - 1, n = fftLengthFor(recordingLength);
  std::vector<std::complex<double>> a(static_cast<size_t>(n)), b(a.size());
  std::vector<double> recording(static_cast<size_t>(recordingLength));
  getESS(handle, recording.data());
  std::copy(recording.begin(), recording.begin() + sweepLength, a.begin());
  std::mt19937 random(static_cast<unsigned>(t60 * 10.0));
  std::normal_distribution<double> gauss(0.0, 1.0);
  const double floorRms = 0.1 * std::pow(10.0, -(tonal ? 45.0 : (t60 < 2.0 ? 60.0 : 50.0)) / 20.0);
  for (int32_t i = 0; i < roomLength; ++i) {
    double h = floorRms * gauss(random) + (i == direct ? 1.0 : 0.0);
    const double t = (i - direct) / kFs, decay = 0.1 * std::pow(10.0, -3.0 * t / t60);
    if (i > direct && !tonal) h += gauss(random) * decay;
    for (int octave = -3; i > direct && tonal && octave <= 3; ++octave)
      h += std::sqrt(2.0) * decay * std::cos(2000.0 * std::numbers::pi * std::exp2(octave) * t + octave);
    b[static_cast<size_t>(i)] = h;
  }
  fftForward(reinterpret_cast<double*>(a.data()), n);
  fftForward(reinterpret_cast<double*>(b.data()), n);
  for (size_t k = 0; k < a.size(); ++k) a[k] *= b[k];
  fftInverse(reinterpret_cast<double*>(a.data()), n);
  for (size_t i = 0; i < recording.size(); ++i) recording[i] = a[i].real();
  ir.resize(static_cast<size_t>(processInputSignal(handle, recording.data(), recordingLength)));
  getImpulseResponse(handle, ir.data());
  deleteImpulse(handle);
  return ir;
}

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

// An analysis of a measured room (1 s sweep, 3 s tail) with an octave bank
// 250 Hz - 4 kHz attached; deleted with the test.
struct Analysis {
  int32_t handle = -1;
  Analysis(double t60, bool tonal, double fs = kFs) {
    initTavrix();
    const std::vector<double>& ir = measuredRoom(t60, tonal);
    handle = initReverberation(ir.data(), static_cast<int32_t>(ir.size()), fs, 1.0, 3.0);
    initReverberationFilter(handle, 1, 8, 12);
  }
  explicit Analysis(int32_t existing) : handle(existing) {}
  ~Analysis() { deleteReverberation(handle); }
};

// Every output of getReverberationData, prefilled so that "not written" shows.
struct BandData {
  std::vector<double> level, decay, times, fits;
  double decayEnd = kUnset, noise = kUnset, tail[2] = {kUnset, kUnset}, dynamicRange = kUnset,
         curvature = kUnset, peak = kUnset;
  int32_t levelLength = -7, onsetOffset = -7, status = 0;

  BandData(int32_t handle, int32_t band, std::vector<double> ranges, int32_t blockLength = 0) {
    decay = level =
        std::vector<double>(static_cast<size_t>(std::max(getMaxImpulseLength(handle), 1)), kUnset);
    fits = times = std::vector<double>(ranges.size(), kUnset);
    status =
        getReverberationData(handle, band, ranges.data(), static_cast<int32_t>(ranges.size()), blockLength,
                             level.data(), &levelLength, decay.data(), &decayEnd, &noise, tail, times.data(),
                             fits.data(), &dynamicRange, &curvature, &onsetOffset, &peak);
    if (status == -1) return;
    level.resize(static_cast<size_t>(levelLength));
    decay.resize(static_cast<size_t>(decayEnd + 1.0));
  }
  bool untouched() const {
    const std::vector<double> scalars{decayEnd, noise, tail[0], tail[1], dynamicRange, curvature, peak};
    for (const auto* v : {&level, &decay, &times, &fits, &scalars})
      if (std::count(v->begin(), v->end(), kUnset) != std::ssize(*v)) return false;
    return levelLength == -7 && onsetOffset == -7;
  }
};

// A 10 s sweep with a 2 s tail at 48 kHz, the direct sound peaking at response
// position 60000 after a 50-sample rise, 60 dB above the background.
TEST(LocateImpulse, WorkedPositions) {
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
  // A 2 s sweep, the largest value in the first quarter second, which the
  // peak search skips; but the segment starts at the response's first sample
  // and so shows it to the onset search, whose peak it becomes. Shorter than
  // a 10 ms block before the peak: nothing located.
  Envelope early(200000, 1e-6);
  early.fill(1000, 1000, 10.0).fill(19990, 20000, 1.0);
  ASSERT_EQ(locateImpulse(early.e.data(), 200000, kFs, 2.0, 4.0 * kFs, loc), 0);
  EXPECT_TRUE(loc.segmentStart == 1.0 && loc.onset == 1000.0 && loc.windowStart == 1.0);
  for (int32_t n : {0, 1, 479})
    EXPECT_TRUE(locateImpulse(env.e.data(), n, kFs, 2.0, 4.0 * kFs, loc) < 0 && loc.onset == 0.0) << n;
  // At 4 Hz the search starts at the first sample; its 10 ms blocks are empty.
  EXPECT_EQ(locateImpulse(env.e.data(), 100, 4.0, 2.0, 16.0, loc), kOnsetNoRise);
}

// The threshold below the peak follows the peak's margin over a background bg
// (2^-10, so that every mean is exact): P / bg = 32, 100 (exactly 20 dB), 256,
// 1000 (exactly 30 dB), 4096. A staircase in the 300 samples before the peak,
// 50 samples per step at -21, -19, -10.5, -9.5, -5.2, -4.8 dB re P, shows the
// threshold: -20 dB takes the -19 dB step (pk - 250), -10 dB the -9.5 dB step
// (pk - 150), -5 dB the last (pk - 50). A sample exactly at the threshold
// (pk - 400) is not above it; one at pk - 4800, exactly 0.1 s before the peak
// and above every threshold (its block kept at a mean of bg by zeros), is
// outside the search. The block before the peak's (of 40 blocks of 480) at 2 bg
// is not more than twice the 38 bg before it: the noise becomes the mean of 39
// blocks, 40 bg / 39; at 2.1 bg it is the rise, noise bg.
TEST(DetectOnset, ThresholdFollowsPeakToNoiseMargin) {
  const int32_t pk = 19200;
  const double bg = std::ldexp(1.0, -10);
  const struct {
    double ratio, before, thresholdDb, noise;
  } rows[] = {{32, 1, -5, 1},     {100, 1, -10, 1},  {256, 1, -10, 1},
              {1000, 1, -20, 1},  {4096, 1, -20, 1}, {4096, 2, -20, 40.0 / 39.0},
              {4096, 2.1, -20, 1}};
  for (const auto& [ratio, before, thresholdDb, noise] : rows) {
    const double p = ratio * bg;
    Envelope s(30000, bg);
    const int32_t spike = static_cast<int32_t>(std::min(0.5 * ratio, 60.0));  // in bg, block mean kept at bg
    s.fill(pk - 959, pk - 480, before * bg).fill(pk - 4800 - spike + 1, pk - 4801, 0.0);
    s.fill(pk - 4800, pk - 4800, spike * bg);
    s.fill(pk - 400, pk - 400, p * std::pow(10.0, thresholdDb / 10.0)).fill(pk, pk, p);
    for (int step = 0; step < 6; ++step)
      s.fill(pk - 300 + 50 * step, pk - 251 + 50 * step,
             p * std::pow(10.0, std::vector<double>{-2.1, -1.9, -1.05, -0.95, -0.52, -0.48}[step]));
    const OnsetResult r = s.onset();
    SCOPED_TRACE(testing::Message() << ratio << " " << before);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.onsetPos, thresholdDb == -5.0 ? pk - 50 : (thresholdDb == -10.0 ? pk - 150 : pk - 250));
    EXPECT_NEAR(r.peakToNoiseDb, 10.0 * std::log10(ratio / noise), 1e-12);
  }
  // Blocks of one sample (100 Hz): the second value, three times the first,
  // rises; the first lies above the -5 dB threshold and is the onset.
  const double two[] = {1.0, 3.0};
  EXPECT_EQ(detectOnset(two, 2, 100.0).onsetPos, 1.0);
  // Nothing above the threshold before the peak: the peak itself. A peak in
  // a last block cut short by the end of the stretch (1000 is no multiple of
  // 480): the block ends with the stretch. ASan watches the reads.
  EXPECT_EQ(Envelope(40000, 1e-6).fill(20000, 20000, 1.0).onset().onsetPos, 20000);
  EXPECT_EQ(Envelope(1000, 1e-6).fill(1000, 1000, 1.0).onset().onsetPos, 1000);
  // Growing as the square root of time, no block reaches twice the mean of
  // the blocks before it (the ratio tends to 3/2). Nor does a constant, nor
  // anything when the peak lies in the first block.
  Envelope smooth(20000, 0.0);
  for (size_t i = 0; i < smooth.e.size(); ++i) smooth.e[i] = std::sqrt(1.0 + static_cast<double>(i));
  EXPECT_EQ(smooth.onset().status, kOnsetNoRise);
  EXPECT_EQ(Envelope(20000, 0.0).onset().status, kOnsetNoRise);
  EXPECT_EQ(Envelope(20000, 1e-6).fill(100, 100, 1.0).onset().status, kOnsetNoRise);
}

TEST(ReverberationObject, LocatesTheDirectSoundOfAMeasuredRoom) {
  initTavrix();
  const std::vector<double>& ir = measuredRoom(1.2, false);
  const int32_t h = initReverberation(ir.data(), static_cast<int32_t>(ir.size()), kFs, 2.0, 2.0);
  const ReverberationAnalysis& a = *reverberationTable().find(h);
  // The direct sound is response sample 28800 (0.6 s), position 28801; the
  // A-weighting delays the broadband peak by a sample or two. The stored
  // segment is the unweighted response.
  ASSERT_TRUE(a.initialised);
  EXPECT_NEAR(a.segmentStart + a.onset - 1.0, 28801.0, 30.0);
  EXPECT_NEAR(a.realSegment[28800 - static_cast<int32_t>(a.segmentStart) + 1], 1.0, 0.01);

  // The same response from a float WAV file finds the same window; an
  // unreadable file keeps no slot.
  test::TempFile file("room.wav"), missing("no_such_room.wav");
  ASSERT_EQ(writeWave(file.c_str(), ir.data(), static_cast<int32_t>(ir.size()), 48000, true), 0);
  const Analysis fromFile(initReverberationWithFile(file.c_str(), 2.0, 2.0));
  EXPECT_EQ(getMaxImpulseLength(fromFile.handle), getMaxImpulseLength(h));
  EXPECT_EQ(initReverberationWithFile(missing.c_str(), 2.0, 2.0), -1);
  EXPECT_EQ(initReverberationWithFile(nullptr, 2.0, 2.0), -1);
  EXPECT_EQ(Analysis(initReverberation(nullptr, 0, kFs, 1, 1)).handle, fromFile.handle + 1);
  // Bad bank arguments and bad handles fail.
  EXPECT_EQ(initReverberationFilter(h, 1, 12, 8), -1);
  EXPECT_TRUE(initReverberationFilter(255, 1, 8, 12) == -1 && getMaxImpulseLength(-1) == -1);
  EXPECT_EQ(deleteReverberation(h), 0);
  EXPECT_EQ(deleteReverberation(h), -1);
}

// Responses measured without a sweep (0 s) and a 1 s tail at 48 kHz: the span
// is (0 + 1 + 1) * 48000 = 96000 samples, nothing of it is a sweep; the window
// runs from 4800 samples before the onset to 96000 - onset or the segment's
// end. The direct sound at response position 36001 (0.75 s) puts the onset
// half a second into the segment, a few samples before the A-weighted peak.
// Cut at the quarter second (12000 samples) with the direct sound at 0.125 s:
// the peak search holds the last sample only, the segment runs from the first
// sample (half a second before the peak lies before it) to the response's end,
// and the onset search on it finds the direct sound.
TEST(ReverberationObject, ResponseWithoutASweepKeepsTheWindowRule) {
  initTavrix();
  std::vector<double> ir(96000);
  std::mt19937 random(5);
  std::normal_distribution<double> gauss(0.0, 1e-4);
  for (double& x : ir) x = gauss(random);
  for (const auto& [n, direct] : {std::pair{96000, 36000}, {12000, 6000}}) {
    ir[direct] = 1.0;
    const Analysis a(initReverberation(ir.data(), n, kFs, 0.0, 1.0));
    const ReverberationAnalysis& r = *reverberationTable().find(a.handle);
    ASSERT_TRUE(r.initialised) << n;
    EXPECT_TRUE(n == 12000 ? r.segmentStart == 1.0 : r.onset > 23990.0 && r.onset <= 24000.0) << r.onset;
    EXPECT_NEAR(r.segmentStart + r.onset - 1.0, direct + 1.0, 10.0);
    EXPECT_TRUE(r.segmentEnd == n && r.windowStart == r.onset - 4800.0 &&
                r.windowEnd == std::min(96000.0 - r.onset, n - r.segmentStart));
    EXPECT_EQ(getMaxImpulseLength(a.handle), static_cast<int32_t>(r.windowEnd - r.windowStart) + 1);
    // Whole-number window ends: a block as long as the window is one level.
    ASSERT_EQ(initReverberationFilter(a.handle, 1, 10, 10), 0);
    EXPECT_EQ(BandData(a.handle, 10, {0}, getMaxImpulseLength(a.handle)).levelLength, 1) << n;
  }
}

// Responses that cannot be prepared still get a handle; the object is not
// ready, takes a bank, and evaluates nothing.
TEST(ReverberationObject, UnpreparableResponsesGiveNotReadyObjects) {
  const std::vector<double>& ir = measuredRoom(0.4, false);
  const int32_t n = static_cast<int32_t>(ir.size());
  auto expectNotReady = [](const double* data, int32_t length, double fs, double sweep, double tail) {
    const Analysis a(initReverberation(data, length, fs, sweep, tail));
    EXPECT_EQ(getMaxImpulseLength(a.handle), -1) << length << " " << fs << " " << sweep << " " << tail;
    EXPECT_EQ(initReverberationFilter(a.handle, 1, 8, 12), 0);
    EXPECT_TRUE(BandData(a.handle, 10, {0}).untouched());
  };
  // A rate that is not a positive finite number, a duration that is negative
  // or not finite (0 s is a response measured without a sweep).
  for (double bad : {std::nan(""), -2.0, std::numeric_limits<double>::infinity()}) {
    expectNotReady(ir.data(), n, bad, 2, 2);
    expectNotReady(ir.data(), n, kFs, bad, 2);
    expectNotReady(ir.data(), n, kFs, 2, bad);
  }
  expectNotReady(ir.data(), n, 0.0, 2, 2);
  // No response, or one that ends a sample before the quarter second where
  // the peak search starts; a window that would end before it starts;
  // silence; a NaN.
  for (int32_t length : {0, -5, 11999}) expectNotReady(ir.data(), length, kFs, 2, 2);
  expectNotReady(nullptr, n, kFs, 2, 2);
  expectNotReady(ir.data(), n, kFs, 1e300, 2);
  expectNotReady(std::vector<double>(96000, 0.0).data(), 96000, kFs, 2, 2);
  std::vector<double> poisoned(ir);
  poisoned[100] = std::nan("");
  expectNotReady(poisoned.data(), n, kFs, 2, 2);
}

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
        EXPECT_TRUE(d.noise < -45.0 && d.noise > -75.0) << d.noise;
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
  // The late-decay model meets the noise level at the crosspoint.
  EXPECT_NEAR(d.tail[1], d.noise, 0.01);
  // Unfiltered, the peak is the direct sound, a unit impulse: 0 dB.
  EXPECT_NEAR(BandData(a.handle, TAVRIX_BAND_UNFILTERED, {}).peak, 0.0, 0.2);

  // Blocks of one sample are no averaging, and the object is left as it was.
  // 10 ms blocks: floor(window / 480) values (the window is odd), the onset
  // 10 blocks in, decay blocks referred to the curve's first sample, the
  // noise still to the largest sample; times from the plain curve. A block
  // longer than the window: nothing.
  const BandData ones(a.handle, 10, {0, 20, 30}, 1), blocks(a.handle, 10, {0, 20, 30}, 480);
  EXPECT_TRUE(ones.level == d.level && ones.decay == d.decay && ones.times == d.times);
  EXPECT_EQ(blocks.levelLength, window / 480);
  EXPECT_EQ(blocks.onsetOffset, -10);
  EXPECT_EQ(blocks.decay.size(), d.decay.size() / 480);
  EXPECT_LT(blocks.decay[0], 0.0);
  EXPECT_TRUE(blocks.times == d.times && blocks.noise == d.noise);
  EXPECT_TRUE(BandData(a.handle, 10, {0}, window + 1).untouched());
  const BandData whole(a.handle, 10, {0}, window);  // one block: the whole window, at 0 dB
  EXPECT_TRUE(whole.levelLength == 1 && whole.level[0] == 0.0);

  // The level-only call: the same levels, and the absolute start of the decay.
  std::vector<double> level(static_cast<size_t>(window)), decay(level.size());
  int32_t length, offset;
  double decayEnd, noise, start, peak;
  ASSERT_EQ(getReverberationDataLevel(a.handle, 10, 0, level.data(), &length, decay.data(), &decayEnd, &noise,
                                      &start, &offset, &peak),
            0);
  EXPECT_TRUE(std::equal(d.level.begin(), d.level.end(), level.begin()) && noise == d.noise);
  EXPECT_GT(start, peak);  // the energy of the whole decay exceeds its largest sample

  // A range that is neither 0 nor >= 10 stops the times there.
  const BandData bad(a.handle, 10, {20, 5, 30});
  EXPECT_TRUE(bad.status == -11 && bad.times[0] == d.times[1] && bad.level == d.level);
  EXPECT_TRUE(std::isnan(bad.times[1]) && std::isnan(bad.times[2]) && std::isnan(bad.curvature));
}

TEST(BandEvaluation, RefusedCallsWriteNothing) {
  Analysis a(0.4, true);
  EXPECT_TRUE(BandData(a.handle, 13, {0, 20}).untouched());  // outside the bank 8..12
  EXPECT_TRUE(BandData(a.handle, 99999, {0, 20}).untouched());
  for (int32_t handle : {-1, 255, a.handle + 1}) EXPECT_TRUE(BandData(handle, 10, {0}).untouched());
  // A negative range count; null outputs (curvature, the ranges with a count,
  // the decay curve). With no ranges there is nothing to read for them.
  std::vector<double> c(static_cast<size_t>(getMaxImpulseLength(a.handle)), kUnset);
  double x = kUnset, tail[2], t[1], r[1], ranges[1] = {20};
  int32_t n = -7;
  auto call = [&](const double* list, int32_t count, double* curvature) {
    return getReverberationData(a.handle, 10, list, count, 0, c.data(), &n, c.data(), &x, &x, tail, t, r, &x,
                                curvature, &n, &x);
  };
  EXPECT_TRUE(call(ranges, -1, &x) == -1 && call(ranges, 1, nullptr) == -1 && call(nullptr, 1, &x) == -1);
  EXPECT_EQ(getReverberationDataLevel(a.handle, 10, 0, c.data(), &n, nullptr, &x, &x, &x, &n, &x), -1);
  EXPECT_TRUE(x == kUnset && n == -7 && c[0] == kUnset);
  EXPECT_EQ(call(nullptr, 0, &x), 0);
  // Without a bank, and with a bank whose build failed.
  const std::vector<double>& ir = measuredRoom(0.4, true);
  Analysis bare(initReverberation(ir.data(), static_cast<int32_t>(ir.size()), kFs, 1.0, 3.0));
  EXPECT_TRUE(BandData(bare.handle, TAVRIX_BAND_UNFILTERED, {0}).untouched());
  EXPECT_EQ(initReverberationFilter(bare.handle, 5, 8, 12), -1);
  EXPECT_TRUE(BandData(bare.handle, 10, {0}).untouched() &&
              BandData(bare.handle, TAVRIX_BAND_A_WEIGHTING, {0}).untouched());
}

TEST(Ensembles, MembersAreCheckedAndAveragedOnTheirOnsets) {
  Analysis first(1.2, true), second(1.2, false);
  // One member: its own band energy over its window plus one unfilled
  // position (at -infinity dB), the onset one sample later.
  Analysis single(initReverberationEnsemble(&first.handle, 1));
  const BandData member(first.handle, 10, {30});
  BandData alone(single.handle, 10, {30});
  ASSERT_EQ(alone.status, 0);
  EXPECT_EQ(alone.level.back(), -std::numeric_limits<double>::infinity());
  alone.level.pop_back();
  EXPECT_TRUE(alone.level == member.level && alone.onsetOffset == member.onsetOffset - 1);
  EXPECT_NEAR(alone.times[0], member.times[0], 0.001 * member.times[0]);
  // Two rooms of one T60: their mean energy decays at that rate too.
  const int32_t both[2] = {first.handle, second.handle};
  Analysis pair(initReverberationEnsemble(both, 2));
  const BandData mean(pair.handle, 10, {20, 30});
  ASSERT_EQ(mean.status, 0);
  for (double t : mean.times) EXPECT_NEAR(t, 1.2, 0.05 * 1.2);
  // A room averaged with itself is that room: the same absolute peak level.
  const int32_t twice[2] = {first.handle, first.handle};
  EXPECT_EQ(BandData(Analysis(initReverberationEnsemble(twice, 2)).handle, 10, {30}).peak, alone.peak);
  // Every member needs a bank that holds the band; no members, nothing to
  // evaluate in a window of one position.
  initReverberationFilter(second.handle, 1, 10, 10);
  EXPECT_TRUE(BandData(pair.handle, 9, {0}).untouched());
  EXPECT_EQ(BandData(pair.handle, 10, {0}).status, 0);
  Analysis none(initReverberationEnsemble(nullptr, 0));
  EXPECT_TRUE(getMaxImpulseLength(none.handle) == 1 && BandData(none.handle, 10, {0}).untouched());
  // Not ready: a member at another rate, one not ready, a handle outside the
  // table or of an empty slot, a missing list, a negative count.
  Analysis slow(1.2, true, 44100.0), notReady(initReverberation(nullptr, 0, kFs, 1.0, 3.0));
  ASSERT_GT(getMaxImpulseLength(slow.handle), 0);
  for (int32_t other : {slow.handle, notReady.handle, 300, -1, 254}) {
    const int32_t members[2] = {first.handle, other};
    EXPECT_EQ(getMaxImpulseLength(Analysis(initReverberationEnsemble(members, 2)).handle), -1) << other;
  }
  EXPECT_EQ(getMaxImpulseLength(Analysis(initReverberationEnsemble(nullptr, 2)).handle), -1);
  EXPECT_EQ(getMaxImpulseLength(Analysis(initReverberationEnsemble(&first.handle, -1)).handle), -1);
  // A member whose window opens at its first position: a loud click 1000
  // samples in, which the onset search sees, before the direct sound at 0.4 s.
  std::vector<double> clicked(96000, 0.0);
  clicked[1000] = 10.0;
  clicked[19200] = 1.0;
  Analysis early(initReverberation(clicked.data(), 96000, kFs, 0.0, 1.0));
  initReverberationFilter(early.handle, 1, 8, 12);
  ASSERT_EQ(reverberationTable().find(early.handle)->windowStart, 1.0);
  EXPECT_NE(BandData(Analysis(initReverberationEnsemble(&early.handle, 1)).handle, 10, {0}).status, -1);
  // Deleting a member retires the ensembles that name it.
  EXPECT_EQ(deleteReverberation(second.handle), 0);
  EXPECT_TRUE(getMaxImpulseLength(pair.handle) == -1 && getMaxImpulseLength(first.handle) > 0);
}

// Block means and level conventions on an envelope small enough to work out
// by hand: window positions 2..7 = {2, 8, 4, 2, 1, 0.5}, onset at position 3,
// decay curve {4, 2, 1}, late-decay model 8 at the onset. Blocks of 2:
// {5, 3, 0.75}; the model is referred to the block peak, the noise still to
// the sample peak; the decay block to the first sample. Without a decay
// curve there is no level at its start.
TEST(LevelCurves, HandComputedEnvelope) {
  initTavrix();  // the NaN reported for an empty decay curve is the library constant
  const double e[] = {0.5, 2.0, 8.0, 4.0, 2.0, 1.0, 0.5, 0.25}, decayValues[] = {4.0, 2.0, 1.0};
  const double tail[2] = {8.0, 0.08};
  const DynArray<double> energy(e, 8), decay(decayValues, 3);
  const LevelCurves b = levelCurves(energy, decay, 0.5, tail, 2, 3.0, 7.0, 2.0);
  ASSERT_TRUE(b.levelCurveDb.size() == 3 && b.decayCurveDb.size() == 1);
  EXPECT_DOUBLE_EQ(b.levelCurveDb[2], 10.0 * std::log10(0.15));
  EXPECT_DOUBLE_EQ(b.noiseLevelDb, 10.0 * std::log10(0.5 / 8.0));
  EXPECT_DOUBLE_EQ(b.tailModelDb[0], 10.0 * std::log10(8.0 / 5.0));
  EXPECT_DOUBLE_EQ(b.decayCurveDb[0], 10.0 * std::log10(3.0 / 4.0));
  EXPECT_EQ(b.onsetOffset, 0);  // floor(1 / 2) blocks before the onset
  EXPECT_TRUE(std::isnan(levelCurves(energy, {}, 0.8, tail, 0, 3.0, 7.0, 2.0).decayStartLevelDb));
}

}  // namespace
}  // namespace tavrix

// The steps of a measurement through a sound card, on a room simulated in
// memory: what a sound card would return is the playback convolved with a
// known response, delayed and with noise, so that every verdict (nothing
// came back, clipping, lost audio, too little range for T30) and every
// figure (latency, travel time, the response) has a known answer.
#include "room_measurement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "layer_support.h"
#include "measure_error.h"
#include "reverb_analysis.h"
#include "signal_presence.h"

namespace tavrix::test {
namespace {

using namespace tavrix::measure;

constexpr double kRate = 48000;

// An exponential sine sweep in closed form: the phase 2 pi f1 L (e^(t/L) - 1)
// with L = T / ln(f2 / f1).
std::vector<double> sweep(double seconds, double f1 = 50, double f2 = 16000) {
  const double L = seconds / std::log(f2 / f1);
  std::vector<double> x(static_cast<size_t>(seconds * kRate));
  for (size_t i = 0; i < x.size(); ++i)
    x[i] = std::sin(2 * M_PI * f1 * L * (std::exp(static_cast<double>(i) / kRate / L) - 1));
  return x;
}

// The sound card and the room: input 1 hears output 1 through the response
// `h` after `latency` samples (the audio path) plus h's own delay, with
// white noise; input 2 hears output 2 straight, after the same latency.
struct SimulatedCard {
  std::vector<double> h = decayingNoise(0.5, 1.0, 0.0, 7, 48000, 0.0);
  size_t latency = 2000;
  double gain = 0.1, noise = 1e-5;
  bool wired = true;
  std::set<int> dropoutRuns;  // runs (from 1) that lose audio
  int clipOnRun = 0;          // a run whose input 1 clips
  bool interruptRun = false;
  bool rumble = false;  // noise low-passed twice at 60 Hz, as traffic or ventilation
  int runs = 0;
  std::mt19937 random{3};

  DuplexTake operator()(const std::vector<std::vector<float>>& play, const std::string&) {
    ++runs;
    const size_t n = play.front().size();
    DuplexTake take;
    take.recorded.assign(2, std::vector<float>(n, 0.0f));
    std::normal_distribution<double> gauss(0, noise);
    const std::vector<double> out1(play[0].begin(), play[0].end());
    const std::vector<double> wet = convolve(out1, h);
    for (size_t i = latency; i < n; ++i) {
      take.recorded[0][i] = static_cast<float>(wired ? gain * wet[i - latency] : 0.0);
      if (play.size() > 1) take.recorded[1][i] = play[1][i - latency];
    }
    const double a = std::exp(-2 * M_PI * 60 / kRate);
    double s1 = 0, s2 = 0;
    for (float& v : take.recorded[0]) {
      const double w = gauss(random);
      s1 = a * s1 + (1 - a) * w;
      s2 = a * s2 + (1 - a) * s1;
      v += static_cast<float>(rumble ? s2 : w);
    }
    if (dropoutRuns.count(runs)) take.inputOverflows = take.outputUnderflows = 1;
    if (clipOnRun == runs) take.recorded[0][n / 2] = 1.0f;
    take.interrupted = interruptRun;
    return take;
  }
};

RoomPlan plan(int repeats = 1, int reference = 0) {
  RoomPlan p;
  p.rate = kRate;
  p.sweep = sweep(2);
  p.checkSweep = sweep(kCheckSweepSeconds);
  p.sweepSeconds = 2;
  p.tailSeconds = 1;
  p.fromHz = 50;
  p.toHz = 16000;
  p.levelDb = -10;
  p.inputChannels = 2;
  p.repeats = repeats;
  p.referenceChannel = reference;
  return p;
}

struct Said {
  std::vector<std::string> lines;
  std::function<void(const std::string&)> sink() {
    return [this](const std::string& s) { lines.push_back(s); };
  }
  bool has(const std::string& part) const {
    for (const std::string& l : lines)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }
};

// Runs the measurement and returns the failure value, or TVM_OK.
int32_t failureOf(const RoomPlan& p, SimulatedCard& card, std::string* words = nullptr) {
  Said said;
  try {
    measureRoom(p, std::ref(card), said.sink());
  } catch (const MeasureError& e) {
    if (words) *words = e.what();
    return e.code;
  }
  return TVM_OK;
}

TEST(RoomMeasurement, SynchronousAverageIsTheMeanOfThePeriods) {
  // Three periods of 4 samples and a tail: each window runs from its
  // period's start to the end of the last period.
  const std::vector<float> rec{1, 2, 3, 4, 3, 4, 5, 6, 5, 6, 7, 8, 9, 9};
  const std::vector<double> mean = averagePeriods(rec, 4, 3);
  ASSERT_EQ(mean.size(), 6u);
  EXPECT_DOUBLE_EQ(mean[0], 3);                  // (1 + 3 + 5) / 3
  EXPECT_DOUBLE_EQ(mean[4], (3 + 5 + 9) / 3.0);  // reaches into the next periods
  EXPECT_DOUBLE_EQ(mean[5], (4 + 6 + 9) / 3.0);
  EXPECT_THROW(averagePeriods(rec, 8, 3), MeasureError);

  // A periodic signal stays, uncorrelated noise falls by sqrt(N).
  std::mt19937 random(5);
  std::normal_distribution<double> gauss;
  const size_t period = 4800;
  const int repeats = 16;
  std::vector<float> noisy(period * repeats);
  for (size_t i = 0; i < noisy.size(); ++i)
    noisy[i] = static_cast<float>(std::sin(2 * M_PI * static_cast<double>(i % period) / 100) + gauss(random));
  const std::vector<double> avg = averagePeriods(noisy, period, repeats);
  double residual = 0;
  for (size_t i = 0; i < period; ++i) {
    const double e = avg[i] - std::sin(2 * M_PI * static_cast<double>(i) / 100);
    residual += e * e;
  }
  EXPECT_NEAR(std::sqrt(residual / period), 1.0 / 4, 0.02);
}

TEST(RoomMeasurement, ResponseLatencyAndTravelTime) {
  for (int repeats : {1, 3}) {
    SimulatedCard card;
    Said said;
    const RoomMeasurement m = measureRoom(plan(repeats, 2), std::ref(card), said.sink());
    EXPECT_EQ(card.runs, 2);  // the level check and the sweeps, in one run
    EXPECT_EQ(m.attempts, 1);
    EXPECT_EQ(m.take.recorded.size(), 2u);
    // h's direct sound is its first sample: the latency is the path's.
    EXPECT_NEAR(m.latencySeconds, card.latency / kRate, 0.5 / kRate);
    ASSERT_TRUE(m.systemLatencySeconds);
    EXPECT_NEAR(*m.systemLatencySeconds, card.latency / kRate, 0.5 / kRate);
    // The response is gain times h inside the sweep's band: compared bin by
    // bin from 100 Hz to 10 kHz, from 50 ms before the direct sound, so that
    // the band limits' ringing on both sides of it is kept.
    const size_t n = 32768, before = 2400, d = m.response.directIndex - before;
    std::vector<double> head(n, 0.0), known(n, 0.0);
    for (size_t i = 0; i < n && d + i < m.response.response.size(); ++i) head[i] = m.response.response[d + i];
    for (size_t i = before; i < n; ++i) known[i] = card.h[i - before];
    const auto M = realForward(head.data(), n, n), H = realForward(known.data(), n, n);
    double err = 0, ref = 0;
    for (size_t k = 100 * n / 48000; k <= 10000 * n / 48000; ++k) {
      err += std::norm(M[k] - card.gain * H[k]);
      ref += std::norm(card.gain * H[k]);
    }
    EXPECT_LT(10 * std::log10(err / ref), -40) << repeats;
    EXPECT_TRUE(said.has("level check: background noise -100")) << said.lines.front();
  }
}

TEST(RoomMeasurement, LostAudioIsRepeatedThenFails) {
  SimulatedCard once;
  once.dropoutRuns = {2};  // the first sweep run
  Said said;
  const RoomMeasurement m = measureRoom(plan(), std::ref(once), said.sink());
  EXPECT_EQ(m.attempts, 2);
  EXPECT_TRUE(said.has("warning: the sweep lost audio (1 input overflows and 1 output underflows"));

  SimulatedCard always;
  always.dropoutRuns = {1, 2, 3, 4, 5, 6};
  std::string words;
  EXPECT_EQ(failureOf(plan(), always, &words), TVM_AUDIO_STREAM);
  EXPECT_NE(words.find("the level check lost audio in each of 3 attempts"), std::string::npos) << words;
  EXPECT_EQ(always.runs, kMaxAttempts);
}

TEST(RoomMeasurement, NothingComesBackStopsBeforeTheSweep) {
  SimulatedCard unwired;
  unwired.wired = false;  // noise alone
  std::string words;
  EXPECT_EQ(failureOf(plan(), unwired, &words), TVM_NO_SIGNAL);
  EXPECT_NE(words.find("nothing came back on input 1"), std::string::npos) << words;
  EXPECT_NE(words.find("only noise"), std::string::npos) << words;
  EXPECT_EQ(unwired.runs, 1);

  SimulatedCard silent;
  silent.wired = false;
  silent.noise = 0;  // an input that is digital silence
  EXPECT_EQ(failureOf(plan(), silent, &words), TVM_NO_SIGNAL);
  EXPECT_NE(words.find("digital silence"), std::string::npos) << words;

  // A loopback that is not connected is named as the reference.
  SimulatedCard card;
  RoomPlan p = plan(1, 2);
  p.referenceChannel = 2;
  p.outChannel = 1;
  card.latency = 2000;
  SimulatedCard noLoop = card;
  const auto run = [&](const std::vector<std::vector<float>>& play, const std::string& what) {
    DuplexTake t = noLoop(play, what);
    std::fill(t.recorded[1].begin(), t.recorded[1].end(), 0.0f);
    return t;
  };
  Said said;
  try {
    measureRoom(p, run, said.sink());
    ADD_FAILURE() << "a missing loopback passed";
  } catch (const MeasureError& e) {
    EXPECT_EQ(e.code, TVM_NO_SIGNAL);
    EXPECT_NE(std::string(e.what()).find("reference input 2"), std::string::npos) << e.what();
  }
}

// The level check predicts each octave's decay range above the noise from
// its quiet, short sweep; the measurement's own noise levels must bear it
// out. Low-frequency rumble leaves 125 Hz short of what T30 needs.
TEST(RoomMeasurement, LevelCheckPredictsTheRangeAboveTheNoise) {
  SimulatedCard quiet, rumbling;
  quiet.noise = 3e-3;
  rumbling.rumble = true;
  rumbling.noise = 0.3;
  for (SimulatedCard* card : {&quiet, &rumbling}) {
    Said said;
    const RoomMeasurement m = measureRoom(plan(), std::ref(*card), said.sink());
    tvm_reverb_options c = defaultOptions();
    measure::ReverbOptions options = reverbOptions(c);
    options.keepSilence = true;
    const measure::ReverbReport measured = measureReverberation(
        {{"ir", m.response.response.data(), m.response.response.size(), 48000, 0.0, "", 0, 0}}, options);
    ASSERT_EQ(m.check.bands.size(), 7u);  // 125 Hz to 8 kHz lie inside 50 Hz to 16 kHz
    for (const BandMargin& b : m.check.bands) {
      const BandResult& r = measured.positions.front().bands.at(static_cast<size_t>(b.band - 7));
      EXPECT_NEAR(b.marginDb, -r.noiseLevelDb, 2) << b.band;
    }
    const bool warned = said.has(
        "warning: the decay will stand less than the 45 dB above the noise that T30 needs in 125 Hz (");
    EXPECT_EQ(warned, card == &rumbling) << said.lines.back();
    EXPECT_EQ(said.has("250 Hz ("), false);
  }
}

// Noise's loudest sample among 2^17 stands 12 to 16 dB above its rms; a
// response's direct sound far above its noise tail passes.
TEST(SignalPresence, NoiseAloneIsNoResponse) {
  std::mt19937 random(11);
  std::normal_distribution<double> gauss;
  std::vector<double> noise(1 << 17);
  for (double& v : noise) v = gauss(random);
  const double ratio = peakToNoiseDb(noise.data(), noise.size());
  EXPECT_GT(ratio, 12);
  EXPECT_LT(ratio, 16);
  EXPECT_THROW(requireResponse("noise.wav", noise.data(), noise.size()), MeasureError);

  std::vector<double> response = decayingNoise(0.8, 2.0, 0.1, 4);
  EXPECT_GT(peakToNoiseDb(response.data(), response.size()), 60);
  EXPECT_NO_THROW(requireResponse("ir.wav", response.data(), response.size()));

  const std::vector<double> zeros(100, 0.0);
  EXPECT_TRUE(std::isinf(peakToNoiseDb(zeros.data(), zeros.size())));
  try {
    requireResponse("silence.wav", zeros.data(), zeros.size());
    ADD_FAILURE();
  } catch (const MeasureError& e) {
    EXPECT_EQ(e.code, TVM_NO_SIGNAL);
    EXPECT_NE(std::string(e.what()).find("silence.wav: no sweep in the recording"), std::string::npos);
  }
}

}  // namespace
}  // namespace tavrix::test

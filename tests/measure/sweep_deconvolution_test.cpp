// The deconvolution of recordings made with a sweep the tool did not make:
// the real transforms under it, a known response and its latency, the bands
// the sweep never excited, another rate, the refusals and the C interface.
#include "sweep_deconvolution.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "fft_convolution.h"
#include "measure_error.h"
#include "tavrix_measure.h"

namespace tavrix::measure {
namespace {

constexpr int kRate = 48000;

// An exponential sweep as another program makes it: f1 to f2 over `seconds`
// at amplitude 0.5, faded in over 20 ms and out over 5 ms with half cosines,
// behind `lead` s of silence and followed by `trail` s of it.
std::vector<double> foreignSweep(double f1, double f2, double seconds, int rate, double lead = 0.1,
                                 double trail = 0.5) {
  const size_t n = static_cast<size_t>(seconds * rate), in = rate / 50, out = rate / 200;
  const size_t first = static_cast<size_t>(lead * rate);
  std::vector<double> x(first + n + static_cast<size_t>(trail * rate), 0.0);
  const double k = seconds / std::log(f2 / f1);
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / rate;
    double v = 0.5 * std::sin(2 * std::numbers::pi * f1 * k * std::expm1(t / k));
    if (i < in) v *= 0.5 - 0.5 * std::cos(std::numbers::pi * i / in);
    if (n - i <= out) v *= 0.5 - 0.5 * std::cos(std::numbers::pi * (n - i) / out);
    x[first + i] = v;
  }
  return x;
}

// A small room: a direct sound and two reflections, as (delay, gain) pairs.
const std::vector<std::pair<size_t, double>> kRoom{{0, 0.8}, {700, -0.3}, {2100, 0.1}};

// What a recorder starting with the playback hears: `latency` s of silence,
// then the sweep file through the room, `after` s more, and white noise.
std::vector<double> record(const std::vector<double>& sweep, double latency, double after, double noise,
                           unsigned seed = 1) {
  const size_t delay = static_cast<size_t>(std::lround(latency * kRate));
  std::vector<double> y(delay + sweep.size() + static_cast<size_t>(after * kRate), 0.0);
  for (const auto& [lag, gain] : kRoom) {
    for (size_t i = 0; i < sweep.size() && delay + lag + i < y.size(); ++i)
      y[delay + lag + i] += gain * sweep[i];
  }
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss(0.0, noise);
  for (double& v : y) v += gauss(random);
  return y;
}

AudioView view(const std::string& name, const std::vector<double>& x, int rate) {
  AudioView v;
  v.name = name;
  v.samples = x.data();
  v.length = x.size();
  v.sampleRate = rate;
  return v;
}

// |H|^2 of the response, averaged over the bins from f1 to f2 Hz, in dB.
double bandLevelDb(const std::vector<double>& h, double f1, double f2) {
  size_t n = 2;
  while (n < h.size()) n <<= 1;
  const std::vector<std::complex<double>> H = realForward(h.data(), h.size(), n);
  double sum = 0;
  int count = 0;
  for (size_t k = 0; k < H.size(); ++k) {
    const double f = static_cast<double>(k) * kRate / static_cast<double>(n);
    if (f >= f1 && f < f2) sum += std::norm(H[k]), ++count;
  }
  return 10 * std::log10(sum / count);
}

// The room's |0.8 - 0.3 z^-700 + 0.1 z^-2100|^2 averaged from f1 to f2 Hz, in dB.
double roomLevelDb(double f1, double f2) {
  constexpr int kPoints = 4800;
  double sum = 0;
  for (int k = 0; k < kPoints; ++k) {
    const double w = 2 * std::numbers::pi * (f1 + (f2 - f1) * k / kPoints) / kRate;
    std::complex<double> h = 0;
    for (const auto& [lag, gain] : kRoom) h += gain * std::polar(1.0, -w * static_cast<double>(lag));
    sum += std::norm(h);
  }
  return 10 * std::log10(sum / kPoints);
}

TEST(RealTransform, MatchesTheDefinitionAndInvertsItself) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> uniform(-1, 1);
  for (size_t n : {2u, 4u, 8u, 64u, 1024u}) {
    for (size_t given : {n, n / 2 + 1, n + 3}) {
      SCOPED_TRACE("n " + std::to_string(n) + ", given " + std::to_string(given));
      std::vector<double> x(given);
      for (double& v : x) v = uniform(random);
      const std::vector<std::complex<double>> X = realForward(x.data(), x.size(), n);
      ASSERT_EQ(X.size(), n / 2 + 1);
      double worst = 0;
      for (size_t k = 0; k <= n / 2; ++k) {
        std::complex<double> direct = 0;
        for (size_t i = 0; i < std::min(n, given); ++i)
          direct += x[i] * std::polar(1.0, -2 * std::numbers::pi * static_cast<double>(i * k % n) / n);
        worst = std::max(worst, std::abs(X[k] - direct));
      }
      EXPECT_LT(worst, 1e-12 * n);
      const std::vector<double> back = realInverse(X, n);
      ASSERT_EQ(back.size(), n);
      for (size_t i = 0; i < n; ++i) EXPECT_NEAR(back[i], i < given ? x[i] : 0.0, 1e-13 * n) << i;
    }
  }
}

TEST(SweepDeconvolution, RecoversAKnownResponseAndItsLatency) {
  // Up to the Nyquist frequency, so that the response is the room's own
  // samples (and not their band-limited version).
  const std::vector<double> sweep = foreignSweep(20, 24000, 2, kRate);
  const std::vector<double> rec = record(sweep, 0.5, 1.0, 1e-5);
  const Deconvolution d = deconvolveSweep(view("rec", rec, kRate), view("sweep", sweep, kRate));
  EXPECT_EQ(d.sampleRate, kRate);
  EXPECT_NEAR(d.latencySeconds, 0.5, 1.0 / kRate);
  EXPECT_EQ(d.directIndex, 4800u);
  EXPECT_DOUBLE_EQ(d.leadSeconds, 0.1);
  // The recording's 4 s less the sweep's 2 s hold the complete response: up
  // to 1.5 s after the direct sound at 0.5 s.
  EXPECT_NEAR(static_cast<double>(d.response.size()) / kRate, 0.1 + 1.5, 2.0 / kRate);
  double elsewhere = 0;
  for (size_t i = 0; i < d.response.size(); ++i) {
    bool reflection = false;
    for (const auto& [lag, gain] : kRoom) {
      if (i == d.directIndex + lag) {
        EXPECT_NEAR(d.response[i], gain, 5e-3) << lag;
        reflection = true;
      }
    }
    if (!reflection) elsewhere = std::max(elsewhere, std::fabs(d.response[i]));
  }
  EXPECT_LT(elsewhere, 5e-3);
  EXPECT_LT(d.bandLowHz, 20);
  EXPECT_GT(d.bandHighHz, 23000);
  ASSERT_EQ(d.notes.size(), 2u);
  // The fades' first and last samples lie below -80 dB and count as silence.
  EXPECT_NE(d.notes[0].find("silence: 0.10"), std::string::npos) << d.notes[0];
}

TEST(SweepDeconvolution, BandsOutsideTheSweepStayQuiet) {
  // 200 Hz to 5 kHz, with noise in the recording: plain division would lift
  // that noise by the depth of the sweep's spectrum outside its band.
  const std::vector<double> sweep = foreignSweep(200, 5000, 2, kRate);
  const std::vector<double> rec = record(sweep, 0.05, 1.0, 1e-3);
  const Deconvolution d = deconvolveSweep(view("rec", rec, kRate), view("sweep", sweep, kRate));
  EXPECT_NEAR(d.latencySeconds, 0.05, 1.0 / kRate);
  EXPECT_GT(d.bandLowHz, 100);
  EXPECT_LT(d.bandLowHz, 200);
  EXPECT_GT(d.bandHighHz, 5000);
  EXPECT_LT(d.bandHighHz, 7000);
  const double inside = bandLevelDb(d.response, 500, 2000);
  EXPECT_NEAR(inside, bandLevelDb(d.response, 300, 4000), 1.0);
  EXPECT_LT(bandLevelDb(d.response, 1, 50), inside - 30);
  EXPECT_LT(bandLevelDb(d.response, 10000, 24000), inside - 30);
  EXPECT_NEAR(inside, roomLevelDb(500, 2000), 0.1);
}

TEST(SweepDeconvolution, ResamplesASweepAtAnotherRate) {
  // The same continuous sweep at 44.1 kHz, played and recorded at 48 kHz.
  const std::vector<double> played = foreignSweep(20, 20000, 2, kRate, 0.05);
  const std::vector<double> file = foreignSweep(20, 20000, 2, 44100, 0.05);
  const std::vector<double> rec = record(played, 0.25, 1.0, 1e-5);
  const Deconvolution d = deconvolveSweep(view("rec", rec, kRate), view("sweep", file, 44100));
  EXPECT_NEAR(d.latencySeconds, 0.25, 2.0 / kRate);
  // Band-limited to the sweep's 20 kHz, the room's spectrum inside it.
  EXPECT_NEAR(bandLevelDb(d.response, 100, 15000), roomLevelDb(100, 15000), 0.1);
  EXPECT_NE(d.notes[0].find("resampled the sweep from 44100 Hz"), std::string::npos) << d.notes[0];
}

int32_t failureOf(const std::vector<double>& rec, const std::vector<double>& sweep, std::string& line) {
  try {
    deconvolveSweep(view("rec.wav", rec, kRate), view("sweep.wav", sweep, kRate));
  } catch (const MeasureError& e) {
    line = e.what();
    return e.code;
  }
  return TVM_OK;
}

TEST(SweepDeconvolution, RefusesWhatCannotHoldAResponse) {
  const std::vector<double> sweep = foreignSweep(100, 10000, 1, kRate);
  std::string line;
  EXPECT_EQ(failureOf(std::vector<double>(kRate / 2, 1e-3), sweep, line), TVM_BAD_ARGUMENT);
  EXPECT_NE(line.find("rec.wav: 0.500 s long, shorter than the"), std::string::npos) << line;
  EXPECT_NE(line.find("sweep in sweep.wav"), std::string::npos) << line;
  EXPECT_EQ(failureOf(record(sweep, 0, 0.5, 1e-5), std::vector<double>(1000, 0.0), line), TVM_SILENT);
  EXPECT_NE(line.find("sweep.wav: the sweep holds nothing but digital silence"), std::string::npos) << line;
  EXPECT_EQ(failureOf(std::vector<double>(2 * kRate, 0.0), sweep, line), TVM_SILENT);
  EXPECT_NE(line.find("rec.wav: the recording holds nothing but digital silence"), std::string::npos) << line;
  // More latency than the recording holds silence after the sweep file: the
  // sweep (0.1 s into its file) arrives 0.9 s into the recording and ends
  // there after 1.9 s, but the recording stops at 1.85 s.
  std::vector<double> late = record(sweep, 0.8, 0, 1e-5);
  late.resize(sweep.size() + kRate / 4);
  EXPECT_EQ(failureOf(late, sweep, line), TVM_BAD_ARGUMENT);
  EXPECT_NE(line.find("rec.wav: the sweep arrives 0.900 s into the recording"), std::string::npos) << line;
  EXPECT_NE(line.find("after the recording's end at 1.850 s; record at least"), std::string::npos) << line;
}

TEST(SweepDeconvolution, CInterfaceOwnsItsResult) {
  // A direct sound earlier than the response's lead: the lead comes from the
  // negative lags, which the circular result holds at its end.
  const std::vector<double> sweep = foreignSweep(50, 16000, 1, kRate, 0);
  const std::vector<double> rec = record(sweep, 0.03, 1.0, 1e-5);
  tvm_impulse* out = nullptr;
  ASSERT_EQ(tvm_deconvolve(rec.data(), std::ssize(rec), kRate, sweep.data(), std::ssize(sweep), kRate, &out),
            TVM_OK)
      << tvm_last_error();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->sample_rate, kRate);
  EXPECT_NEAR(out->latency_s, 0.03, 1.0 / kRate);
  EXPECT_EQ(out->direct_index, 4800);
  // Up to 10 ms before the direct sound, where the ringing of the band edge
  // has died away.
  double before = 0;
  for (int64_t i = 0; i < out->direct_index - 480; ++i) before = std::max(before, std::fabs(out->samples[i]));
  EXPECT_LT(before, 1e-4 * std::fabs(out->samples[out->direct_index]));
  EXPECT_DOUBLE_EQ(out->lead_s, 0.1);
  EXPECT_GT(out->length, kRate);
  EXPECT_LT(out->band_low_hz, 50);
  EXPECT_GT(out->band_high_hz, 16000);
  ASSERT_GE(out->note_count, 1);
  EXPECT_EQ(out->notes[out->note_count], nullptr);
  EXPECT_NE(std::string(out->notes[out->note_count - 1]).find("divided by the sweep's spectrum"),
            std::string::npos);
  tvm_free_impulse(out);
  tvm_free_impulse(nullptr);

  tvm_impulse untouched{};
  out = &untouched;  // set to NULL on failure
  EXPECT_EQ(tvm_deconvolve(rec.data(), std::ssize(rec), kRate, nullptr, 0, kRate, &out), TVM_BAD_ARGUMENT);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(tvm_deconvolve(rec.data(), std::ssize(rec), 500, sweep.data(), std::ssize(sweep), kRate, &out),
            TVM_BAD_ARGUMENT);
  EXPECT_NE(std::string(tvm_last_error()).find("recording: a sample rate of 500 Hz"), std::string::npos)
      << tvm_last_error();
  EXPECT_EQ(tvm_deconvolve(rec.data(), 100, kRate, sweep.data(), std::ssize(sweep), kRate, &out),
            TVM_BAD_ARGUMENT);
  EXPECT_NE(std::string(tvm_last_error()).find("shorter than the"), std::string::npos);
  EXPECT_EQ(
      tvm_deconvolve(rec.data(), std::ssize(rec), kRate, sweep.data(), std::ssize(sweep), kRate, nullptr),
      TVM_BAD_ARGUMENT);
}

}  // namespace
}  // namespace tavrix::measure

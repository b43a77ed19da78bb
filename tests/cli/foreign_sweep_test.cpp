// End to end through the tavrix binary with a sweep it did not make: `ir
// --sweep` on a recording with half a second of sound-card latency, then
// `reverb` with no durations, against a room of known reverberation times;
// and the latency warning of the tool's own sweep.
#include <gtest/gtest.h>

#include <complex>
#include <map>
#include <numbers>
#include <random>

#include "cli/cli_runner.h"

#if __has_include(<nlohmann/json.hpp>)

namespace tavrix::test {
namespace {

using Complex = std::complex<double>;
constexpr int kRate = 48000;

// An in-place radix-2 FFT (n a power of two) of the test's own, so that the
// signals do not come from the code under test. The inverse is scaled by 1/n.
void transform(std::vector<Complex>& x, bool inverse) {
  const size_t n = x.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    std::vector<Complex> w(len / 2);
    for (size_t k = 0; k < len / 2; ++k)
      w[k] = std::polar(1.0, (inverse ? 2 : -2) * std::numbers::pi * k / len);
    for (size_t start = 0; start < n; start += len) {
      for (size_t k = 0; k < len / 2; ++k) {
        const Complex u = x[start + k], v = x[start + k + len / 2] * w[k];
        x[start + k] = u + v;
        x[start + k + len / 2] = u - v;
      }
    }
  }
  if (inverse)
    for (Complex& v : x) v /= static_cast<double>(n);
}

std::vector<double> convolve(const std::vector<double>& a, const std::vector<double>& b) {
  size_t n = 1;
  while (n < a.size() + b.size()) n <<= 1;
  std::vector<Complex> x(a.begin(), a.end()), y(b.begin(), b.end());
  x.resize(n);
  y.resize(n);
  transform(x, false);
  transform(y, false);
  for (size_t k = 0; k < n; ++k) x[k] *= y[k];
  transform(x, true);
  std::vector<double> out(a.size() + b.size() - 1);
  for (size_t i = 0; i < out.size(); ++i) out[i] = x[i].real();
  return out;
}

// The room's reverberation time in each octave band, and at any frequency:
// that of the octave band holding it (the outer bands reach to 0 Hz and to
// the Nyquist frequency).
const std::map<std::string, double> kT60{{"125 Hz", 1.3}, {"250 Hz", 1.25}, {"500 Hz", 1.2}, {"1 kHz", 1.1},
                                         {"2 kHz", 1.0},  {"4 kHz", 0.9},   {"8 kHz", 0.8}};
double t60At(double f) {
  constexpr double kByOctave[] = {1.3, 1.25, 1.2, 1.1, 1.0, 0.9, 0.8};
  const long octave = std::clamp(std::lround(std::log2(std::max(f, 1.0) / 1000)), -3L, 3L);
  return kByOctave[octave + 3];
}

// The room: a direct sound, then a diffuse decay in blocks of 2048 samples,
// each the inverse transform of a random-phase spectrum whose magnitude at
// frequency f is 10^(-3 t / T60(f)) for the block's middle t. The energy of
// every band then falls exactly as its reverberation time says, without the
// block-to-block scatter of Gaussian noise, which would move a single
// response's T30 by several per cent in the low octaves.
std::vector<double> room(double seconds, unsigned seed) {
  constexpr size_t kBlock = 2048;
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> phase(0, 2 * std::numbers::pi);
  std::vector<double> h;
  for (size_t start = 0; start + kBlock <= seconds * kRate; start += kBlock) {
    const double t = (static_cast<double>(start) + kBlock / 2.0) / kRate;
    std::vector<Complex> X(kBlock);
    for (size_t k = 1; k <= kBlock / 2; ++k) {
      const double f = static_cast<double>(k) * kRate / kBlock;
      X[k] = std::polar(std::pow(10.0, -3 * t / t60At(f)), k == kBlock / 2 ? 0.0 : phase(random));
      X[kBlock - k] = std::conj(X[k]);
    }
    transform(X, true);
    for (const Complex& v : X) h.push_back(2.0 * v.real());
  }
  h[0] += 0.9;
  return h;
}

// An exponential sweep as another program makes it: 20 Hz to 20 kHz over 5 s
// at amplitude 0.5, faded in over 20 ms and out over 5 ms with half cosines,
// 0.1 s of silence before it and 1 s after it.
std::vector<double> foreignSweep() {
  constexpr double f1 = 20, f2 = 20000, seconds = 5;
  const size_t n = static_cast<size_t>(seconds * kRate), in = kRate / 50, out = kRate / 200,
               lead = kRate / 10;
  std::vector<double> x(lead + n + kRate, 0.0);
  const double k = seconds / std::log(f2 / f1);
  for (size_t i = 0; i < n; ++i) {
    double v = 0.5 * std::sin(2 * std::numbers::pi * f1 * k * std::expm1(static_cast<double>(i) / kRate / k));
    if (i < in) v *= 0.5 - 0.5 * std::cos(std::numbers::pi * i / in);
    if (n - i <= out) v *= 0.5 - 0.5 * std::cos(std::numbers::pi * (n - i) / out);
    x[lead + i] = v;
  }
  return x;
}

// `seconds` of latency in front of the recorded signal, and white noise.
std::vector<double> delayed(const std::vector<double>& x, double seconds, double noise, unsigned seed) {
  std::vector<double> y(static_cast<size_t>(std::lround(seconds * kRate)), 0.0);
  y.insert(y.end(), x.begin(), x.end());
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss(0.0, noise);
  for (double& v : y) v += gauss(random);
  return y;
}

// The number after "latency found: " in the tool's output, in ms.
double latencyMs(const std::string& text) {
  const size_t at = text.find("latency found: ");
  return at == std::string::npos ? std::nan("") : std::stod(text.substr(at + 15));
}

TEST(CliForeignSweep, ResponseWithLatencyGivesTheRoomsReverberationTimes) {
  REQUIRE_CLI();
  TempFile sweepFile("foreign_sweep.wav"), recording("foreign_recording.wav"), ir("foreign_ir.wav");
  const std::vector<double> sweep = foreignSweep();
  writeWav(sweepFile.path, sweep, 1, kRate);
  writeWav(recording.path, delayed(convolve(sweep, room(3, 5)), 0.5, 1e-5, 6), 1, kRate);

  const RunResult r =
      runTavrix("ir" + q(recording.path) + " --sweep" + q(sweepFile.path) + " -o" + q(ir.path));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NEAR(latencyMs(r.out), 500, 2000.0 / kRate) << r.out;
  EXPECT_NE(
      r.out.find("analyse it with: tavrix reverb " + ir.path.string() + " (no --length or --tail needed)"),
      std::string::npos)
      << r.out;

  const nlohmann::json bands = runJson("reverb" + q(ir.path) + " --format json")["positions"][0]["bands"];
  int checked = 0;
  for (const auto& b : bands) {
    const std::string band = b["band"];
    if (band == "125 Hz" || band == "8 kHz") continue;
    ++checked;
    EXPECT_NEAR(b["times_s"]["T30"].get<double>(), kT60.at(band), 0.03 * kT60.at(band)) << b;
  }
  EXPECT_EQ(checked, 5);  // 250 Hz to 4 kHz
}

TEST(CliForeignSweep, OwnSweepWarnsOfLatency) {
  REQUIRE_CLI();
  TempFile playback("latency_sweep.wav"), recording("latency_recording.wav"), ir("latency_ir.wav");
  const std::string options = " --length 2 --tail 1";
  RunResult r = runTavrix("sweep" + q(playback.path) + options);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<double> played = ReadBack(playback.c_str()).samples();
  std::vector<double> heard = played;
  heard.resize(played.size() + 2 * kRate);  // the recorder ran on

  // 1.5 s of latency: the direct sound lies 1.7 s into the response, not 0.2 s.
  writeWav(recording.path, delayed(heard, 1.5, 1e-5, 2), 1, kRate);
  r = runTavrix("ir" + q(recording.path) + " -o" + q(ir.path) + options);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("tavrix: warning: the direct sound arrives 1.700 s into the recording"),
            std::string::npos)
      << r.err;
  EXPECT_NEAR(latencyMs(r.err), 1500, 0.05) << r.err;
  // The playback file itself given as the sweep: its silence is left out and
  // the latency counts from its start.
  r = runTavrix("ir" + q(recording.path) + " --sweep" + q(playback.path) + " -o" + q(ir.path));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NEAR(latencyMs(r.out), 1500, 0.05) << r.out;

  // 50 ms of latency is no reason to warn.
  writeWav(recording.path, delayed(heard, 0.05, 1e-5, 3), 1, kRate);
  r = runTavrix("ir" + q(recording.path) + " -o" + q(ir.path) + options);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");

  // The sweep file replaces the sweep options, and --distortion needs them.
  for (const std::string& extra : {options, std::string(" --distortion"), std::string(" --fade")}) {
    r = runTavrix("ir" + q(recording.path) + " --sweep" + q(playback.path) + " -o" + q(ir.path) + extra);
    EXPECT_EQ(r.exitCode, 2) << extra;
    EXPECT_NE(r.err.find("--sweep"), std::string::npos) << r.err;
  }
  r = runTavrix("ir" + q(recording.path) + " --sweep-channel 2 -o" + q(ir.path) + options);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("--sweep-channel belongs to --sweep"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tavrix::test
#endif

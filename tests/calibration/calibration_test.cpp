#include "impulse/calibration.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <tuple>
#include <vector>

#include "api/tables.h"
#include "fileio/uff58b.h"
#include "fileio/wave_file.h"
#include "support/temp_path.h"
#include "tavrix.h"

namespace tavrix {
namespace {

constexpr double kFs = 48000.0;
const double kNaN = std::nan("");

// A dataset 58b read back independently of the writer: thirteen text lines
// (delimiter, header, eleven records) and what follows the binary block whose
// size the header announces; the block assembled from little-endian bytes.
struct ParsedUff {
  std::vector<std::string> lines;
  std::vector<double> data;
};

ParsedUff parseUff(const test::TempFile& file) {
  std::ifstream in(file.path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  ParsedUff out;
  size_t pos = 0;
  for (size_t end; out.lines.size() < 13 && (end = bytes.find('\n', pos)) != std::string::npos; pos = end + 1)
    out.lines.push_back(bytes.substr(pos, end - pos));
  const size_t dataBytes = std::stoul(out.lines[1].substr(31));
  for (size_t i = 0; i + 8 <= dataBytes && pos + i + 8 <= bytes.size(); i += 8) {
    uint64_t bits = 0;
    for (int b = 7; b >= 0; --b) bits = (bits << 8) | static_cast<unsigned char>(bytes[pos + i + b]);
    out.data.push_back(std::bit_cast<double>(bits));
  }
  out.lines.push_back(bytes.substr(std::min(pos + dataBytes, bytes.size())));
  return out;
}

TEST(Uff58b, EveryRecordAndEveryDataByte) {
  test::TempFile file("dataset.uff");
  const double samples[] = {0.0, -0.0, 1.5, -1e-310, INFINITY, kNaN, 12345.678};
  ASSERT_EQ(writeUff58b(file.c_str(), samples, 7, 48000), 0);
  const ParsedUff uff = parseUff(file);
  const std::string none = "NONE" + std::string(76, ' ');
  const std::string axis = "         0    0    0    0 NONE                 NONE                ";
  // clang-format off
  const std::vector<std::string> expected = {"    -1", "    58b     1     2          11          56",
      "Calibrated recording file" + std::string(55, ' '), none, none, none, none,
      "    1         0    0         0       NONE         0   1       NONE         0   0",
      "         4         7         1   0.0000e+00   2.0833e-05   0.0000e+00",
      "        17    0    0    0 Time                 s                   ",
      "        15    0    0    0 Pressure             Pa                  ", axis, axis, "    -1\n"};
  // clang-format on
  EXPECT_EQ(uff.lines, expected);  // line feeds only: a carriage return would show here
  ASSERT_EQ(uff.data.size(), 7u);
  EXPECT_EQ(std::memcmp(uff.data.data(), samples, sizeof samples), 0);  // every bit, NaN payload included
  ASSERT_EQ(writeUff58b(file.c_str(), nullptr, 0, 48000), 0);           // no samples: still a dataset
  EXPECT_EQ(parseUff(file).lines[1], "    58b     1     2          11           0");
}

TEST(CalibratedFile, ScaleFollowsTheChainLevelsAndBadInputsWriteNothing) {
  initTavrix();
  test::TempFile input("recording.wav"), output("calibrated.out"), absent("absent.wav"),
      ext("extensible.wav");
  const double samples[] = {0.5, -0.25, 1.0, 0.0};
  ASSERT_EQ(writeWave(input.c_str(), samples, 4, 48000, true), 0);
  ASSERT_EQ(writeWave(ext.c_str(), samples, 1, 48000, true), 0);
  std::fstream(ext.path, std::ios::binary | std::ios::in | std::ios::out).seekp(20).write("\xFE\xFF", 2);
  const char16_t *in = input.c_str(), *out = output.c_str();
  // (input, output, sensitivity, adjustment, gain, trim) -> code, for either
  // output. Finite levels whose factor overflows or underflows (to 0 or to a
  // subnormal) are refused like a gain that rounds to a factor of 0.
  // clang-format off
  const std::vector<std::tuple<const char16_t*, const char16_t*, double, double, double, double, int32_t>> bad{
      {ext.c_str(), out, 0, 0, 0, 0, kWaveUnsupportedFormat}, {absent.c_str(), out, 0, 0, 0, 0, -1},
      {nullptr, out, 0, 0, 0, 0, -1}, {in, nullptr, 0, 0, 0, 0, -1}, {in, out, kNaN, 0, 0, 0, -1},
      {in, out, 0, INFINITY, 0, 0, -1}, {in, out, 0, 0, -7.0, 0, -1}, {in, out, 1e308, 0, 0, 0, -1},
      {in, out, 0, -1e308, 0, 0, -1}, {in, out, 0, 0, 1e6, 0, -1}, {in, out, 0, 0, 0, -1e308, -1},
      {in, out, 0, 1e308, 0, 0, -1}, {in, out, 6240, 0, 0, 0, -1}};
  // clang-format on
  for (bool uff : {false, true})
    for (auto [from, to, sensitivity, adjust, gain, trim, code] : bad)
      EXPECT_EQ(createCalibratedWaveFile(from, to, sensitivity, adjust, gain, trim, 0, false, uff), code)
          << uff << " " << sensitivity << " " << adjust << " " << gain << " " << trim;
  EXPECT_FALSE(std::filesystem::exists(output.path));
  // Pascals per full-scale unit for a chain, read back from the dataset.
  const auto scale = [&](double sensitivityDb, double adjustDb, double gainDb, double trim, bool high) {
    EXPECT_EQ(createCalibratedWaveFile(in, out, sensitivityDb, adjustDb, gainDb, trim, kNaN, high, true), 0);
    const ParsedUff uff = parseUff(output);
    const double k = uff.data.size() == 4 ? uff.data[2] : kNaN;
    EXPECT_EQ(uff.data, (std::vector<double>{k / 2, -k / 4, k, 0.0}));
    return k;
  };
  // All levels 0: 138.47 - 26 + 1.66 = 114.13 dB at full scale, about 10.2 Pa.
  const double k0 = scale(0, 0, 0, 0, false);
  EXPECT_NEAR(k0, 2e-5 * std::pow(10.0, 114.1338 / 20.0), 1e-4);
  // Sensitivity, adjustment, gain (dB), trim, high correction -> the scale in
  // dB re k0. The gain acts as the nearest whole factor: 3 dB is 1, 6 dB is 2.
  // clang-format off
  const std::vector<std::vector<double>> chain{{0, 0, 3, 0, 0, 0.0}, {0, 0, 6, 0, 0, -20 * std::log10(2.0)},
      {0, 0, 20, 0, 0, -20}, {0, 0, 0, 2000, 0, 1}, {0, 2.5, 0, 0, 0, 2.5}, {-30, 0, 0, 0, 0, 30},
      {0, 0, 0, 0, 1, 2.9 - 1.66}};
  // clang-format on
  for (const auto& c : chain)
    EXPECT_NEAR(20 * std::log10(scale(c[0], c[1], c[2], c[3], c[4] != 0) / k0), c[5], 1e-9) << c[2] << c[3];
  // The float WAV variant holds the same pascals in single precision.
  ASSERT_EQ(createCalibratedWaveFile(in, out, 0, 0, 0, 0, 0, false, false), 0);
  DynArray<double> pa;
  double rate = 0;
  int32_t n = 0;
  ASSERT_EQ(readWave(out, pa, rate, n), 0);
  EXPECT_EQ(std::pair(rate, pa[2]), std::pair(48000.0, static_cast<double>(static_cast<float>(k0))));

  // An output that cannot be created: the WAV writer says so, the dataset writer does not.
  const std::u16string unwritable = test::toUtf16((test::scratchDir() / "no-such-dir" / "out").string());
  EXPECT_EQ(createCalibratedWaveFile(in, unwritable.c_str(), 0, 0, 0, 0, 0, false, false), -1);
  EXPECT_EQ(createCalibratedWaveFile(in, unwritable.c_str(), 0, 0, 0, 0, 0, false, true), 0);
  EXPECT_FALSE(std::filesystem::exists(test::scratchDir() / "no-such-dir"));
}

TEST(CalibrationWindow, ButterworthShapeAroundTheFirstLargestPeakInCircularTime) {
  ImpulseMeasurement m;
  // Unit samples around peaks of -2 every 20000 samples: the first one, at 0,
  // is the centre, and the gated result is the window itself, wrapping round
  // the end. 0.05 s = 2400 samples: half there, 1/(1 + 2^12) at twice that.
  m.impulseResponse = DynArray<double>(65536);
  for (int32_t i = 0; i < 65536; ++i) m.impulseResponse[i] = i % 20000 ? 1.0 : -2.0;
  m.nfft = 65536, m.sampleRate = kFs, m.windowWidth = 0.05;
  ASSERT_EQ(calibrationWindow(m), 0);
  // clang-format off
  const std::vector<std::pair<int32_t, double>> window{
      {0, -2.0}, {65535, 1.0}, {2400, 0.5}, {63136, 0.5}, {4800, 1 / 4097.}, {60736, 1 / 4097.}, {20000, 0}};
  // clang-format on
  for (auto [at, gain] : window) EXPECT_NEAR(m.impulseResponse[at], gain, 1e-10) << at;
  // One sample (a one-sample recording): the window is centred on it, so a
  // half-width of one sample leaves it whole; its one bin is DC, which every
  // fractional-octave point and any reference frequency fall on.
  m.impulseResponse = DynArray<double>(1), m.impulseResponse[0] = -2.0;
  m.nfft = 1, m.windowWidth = 1.0 / kFs;
  ASSERT_EQ(calibrationWindow(m), 0);
  std::vector<double> v(241), f(241);
  ASSERT_EQ(narrowBandResponse(m, v.data(), f.data(), 0.0, false), 0);
  EXPECT_EQ(std::tuple(m.impulseResponse[0], v[0], f[0]), std::tuple(-2.0, 2.0, 0.0));
  ASSERT_EQ(narrowBandResponse(m, v.data(), f.data(), 5.0, true), 0);
  EXPECT_EQ(v[0], 0.0);
  ASSERT_EQ(fractionalOctaveResponse(m, CalibrationQuantity::kMagnitudeDb, v.data(), f.data(), 0.0, 24), 0);
  EXPECT_EQ(v, std::vector<double>(241, 20 * std::log10(2.0)));
  EXPECT_EQ(nearestIndex(std::array{0.0, 10.0, 20.0}.data(), 3, 15.0), 1);  // ties go to the first
  // Point counts at the other rates and bands, the rate truncated.
  for (auto [rate, b, count] : {std::tuple{48000.9, 24, 241}, {96000.0, 12, 133}, {192000.0, 6, 73}})
    EXPECT_EQ(fractionalOctavePointCount(rate, b), count);
}

// The device under test: a peaking equaliser at 1 kHz, +6 dB, Q 2 (bilinear
// design from the analogue prototype), run in direct form I, with its
// closed-form response H(e^jw).
const double kA = std::pow(10.0, 6.0 / 40.0), kW0 = 2.0 * std::numbers::pi * 1000.0 / kFs;
const double kAlpha = std::sin(kW0) / 4.0, kA0 = 1.0 + kAlpha / kA;
const double kB[3] = {(1.0 + kAlpha * kA) / kA0, -2.0 * std::cos(kW0) / kA0, (1.0 - kAlpha * kA) / kA0};
const double kDen[3] = {1.0, -2.0 * std::cos(kW0) / kA0, (1.0 - kAlpha / kA) / kA0};

std::complex<double> analytic(double f) {
  const std::complex<double> z = std::polar(1.0, -2.0 * std::numbers::pi * f / kFs);
  return (kB[0] + kB[1] * z + kB[2] * z * z) / (kDen[0] + kDen[1] * z + kDen[2] * z * z);
}
double analyticDb(double f) { return 20.0 * std::log10(std::abs(analytic(f))); }
double analyticDegrees(double f) { return std::arg(analytic(f)) * 180.0 / std::numbers::pi; }

TEST(MicCal, RecoversAKnownFilterFromOneAndTwoChannelsAndRejectsBadCalls) {
  initTavrix();
  const int32_t one = initImpulse(), two = initImpulse();
  std::vector<double> db(241, 7.0), deg(241), f(241), nbDb(65537), nbFreq(65537), ir(131072);
  const double x[4] = {1, 0, 0, 0};
  // Before any processing, without a sample rate to lay out the window, and bad handles.
  // clang-format off
  EXPECT_EQ((std::vector<int32_t>{getMagnitudeResponseForMicCal(two, db.data(), f.data(), 0.0),
      processInputSignalForMicCalTwoCh(two, x, x, 4), processInputSignalForMicCal(two, x, 4),
      setAverageFFTtoOctaveFraction(two + 1, true), setButterworthWindowWidth(-1, 0.1),
      getFractionalOctavePhaseResponseForMicCal(255, db.data(), f.data(), 0.0, 3)}), std::vector(6, -1));
  // clang-format on

  // A 2 s sweep from 20 Hz to 20 kHz, zero-padded by 0.1 s for the filter's
  // response to die away; the second object's sweep only sets its sample
  // rate, as the reference replaces it.
  for (int32_t h : {one, two}) ASSERT_EQ(generateESS(h, kFs, 20.0, 20000.0, 2.0, 1.0), 96000);
  std::vector<double> sweep(96000 + 4800, 0.0), out(sweep.size());
  ASSERT_EQ(getESS(one, sweep.data()), 0);
  for (size_t i = 0; i < out.size(); ++i)
    for (size_t j = 0; j < 3 && j <= i; ++j) out[i] += kB[j] * sweep[i - j] - (j ? kDen[j] * out[i - j] : 0);
  ASSERT_EQ(processInputSignalForMicCal(one, out.data(), 100800), 131072);
  ASSERT_EQ(processInputSignalForMicCalTwoCh(two, sweep.data(), out.data(), 100800), 131072);
  for (int32_t h : {one, two}) {
    // Nearest bins: the closed form at every point and at bins across the band.
    ASSERT_EQ(setAverageFFTtoOctaveFraction(h, false), 0);
    ASSERT_EQ(getFractionalOctaveMagnitudeResponseForMicCal(h, db.data(), f.data(), 0.0, 24), 0);
    for (int i = 0; i < 241; ++i) EXPECT_NEAR(db[i], analyticDb(f[i]), 0.02) << f[i] << " Hz, handle " << h;
    EXPECT_NEAR(f[0], 19.9526, 1e-4);
    EXPECT_EQ(f[136], 1000.0);
    ASSERT_EQ(getMagnitudeResponseForMicCal(h, nbDb.data(), nbFreq.data(), 1000.0), 0);
    EXPECT_EQ(nbDb[2731], 0.0);            // the bin nearest 1 kHz
    for (int k : {55, 546, 27307, 54613})  // 20 Hz, 200 Hz, 10 kHz, 20 kHz
      EXPECT_NEAR(nbDb[k], analyticDb(k * kFs / 131072) - analyticDb(nbFreq[2731]), 0.02) << k;
    // Normalised to 1 kHz: exactly 0 there, the rest relative to the +6 dB peak.
    ASSERT_EQ(getFractionalOctaveMagnitudeResponseForMicCal(h, db.data(), f.data(), 1000.0, 3), 0);
    EXPECT_EQ(db[17], 0.0);
    // Averaged: the mean over a quarter of the point spacing either side (1/12
    // octave at 3 points per octave), against the mean of the closed form over
    // that band; at the peak it lies about 0.1 dB below the point value.
    ASSERT_EQ(setAverageFFTtoOctaveFraction(h, true), 0);
    ASSERT_EQ(getFractionalOctaveMagnitudeResponseForMicCal(h, db.data(), f.data(), 0.0, 3), 0);
    ASSERT_EQ(getFractionalOctavePhaseResponseForMicCal(h, deg.data(), f.data(), 0.0, 3), 0);
    for (int i = 0; i < 31; ++i) {
      const double lo = f[i] / std::pow(10.0, 0.025), step = (f[i] * std::pow(10.0, 0.025) - lo) / 2000;
      double magnitude = 0.0, phase = 0.0;
      for (int j = 0; j <= 2000; ++j)
        magnitude += std::abs(analytic(lo + step * j)) / 2001, phase += analyticDegrees(lo + step * j) / 2001;
      EXPECT_NEAR(db[i], 20.0 * std::log10(magnitude), 0.01) << f[i] << " Hz";
      EXPECT_NEAR(deg[i], phase, 0.1) << f[i] << " Hz";
    }
  }

  // A direct sound and echoes of half its amplitude at 1 ms and 2 ms: a 1 ms
  // gate, set before the processing it applies to, halves the first echo and
  // all but removes the second.
  for (size_t i = 0; i < sweep.size(); ++i)
    out[i] = sweep[i] + 0.5 * ((i >= 48 ? sweep[i - 48] : 0.0) + (i >= 96 ? sweep[i - 96] : 0.0));
  ASSERT_EQ(setButterworthWindowWidth(one, 0.001), 0);
  ASSERT_EQ(processInputSignalForMicCal(one, out.data(), 100800), 131072);
  ASSERT_EQ(getImpulseResponse(one, ir.data()), 0);
  EXPECT_NEAR(ir[48], 0.25, 1e-9);
  EXPECT_NEAR(ir[96], 0.5 / 4097.0, 1e-9);

  // Rejected calls; a two-channel recording needs no sweep.
  // clang-format off
  EXPECT_EQ((std::vector<int32_t>{processInputSignalForMicCalTwoCh(one, nullptr, x, 4),
      processInputSignalForMicCalTwoCh(one, x, x, 0), processInputSignalForMicCal(one, x, -5),
      processInputSignalForMicCal(one, x, 4), processInputSignalForMicCalTwoCh(one, x, x, 4),
      getMagnitudeResponseForMicCal(one, db.data(), nullptr, 0.0),
      getMagnitudeResponseForMicCal(one, db.data(), f.data(), kNaN),
      getFractionalOctaveMagnitudeResponseForMicCal(one, db.data(), f.data(), 0.0, 5)}),
      (std::vector<int32_t>{-1, -1, -1, -1, 4, -1, -1, -2}));  // the 4th: shorter than the sweep
  // clang-format on
  impulseTable().find(one)->sampleRate = 44100.0;  // the rate is judged before the band count
  EXPECT_EQ(getFractionalOctavePhaseResponseForMicCal(one, db.data(), f.data(), 0.0, 5), -1);
  for (int32_t h : {one, two}) deleteImpulse(h);
}

}  // namespace
}  // namespace tavrix

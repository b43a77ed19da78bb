// Band-pass and weighting designs, the section cascade that runs them, the
// filter bank, the analytic signal, and the exports a host calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "api/tables.h"
#include "fileio/wave_file.h"
#include "filters/filter_bank.h"
#include "filters/filter_designs.h"
#include "filters/sos_cascade.h"
#include "impulse/analytic_signal.h"
#include "impulse/impulse_measurement.h"
#include "support/temp_path.h"
#include "tavrix.h"

namespace tavrix {
namespace {

using Signal = std::vector<double>;
constexpr double kPi = std::numbers::pi;

// Reproducible Gaussian white noise of unit variance.
Signal noise(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> dist;
  Signal x(n);
  for (double& v : x) v = dist(rng);
  return x;
}

// Gain in dB at f of sections (b0 b1 b2 a0 a1 a2 each) with a gain before each
// section and one after the last, from the transfer function on the unit circle.
double responseDb(const double* sections, const double* gains, int count, double f) {
  const std::complex<double> z1 = std::polar(1.0, -2.0 * kPi * f / 48000.0);
  std::complex<double> h = gains[count];
  for (const double* s = sections; s < sections + 6 * count; s += 6, ++gains)
    h *= *gains * (s[0] + s[1] * z1 + s[2] * z1 * z1) / (s[3] + s[4] * z1 + s[5] * z1 * z1);
  return 20.0 * std::log10(std::abs(h));
}

void expectRelative(double actual, double expected, double tolerance) {
  EXPECT_NEAR(actual, expected, tolerance * std::fabs(expected));
}

TEST(FilterDesigns, BandFrequenciesCoefficientsAndEveryBandsResponse) {
  const struct { int perOctave, band; double f, tolerance; } mids[] = {
      {1, 10, 1000.0, 1e-9}, {3, 30, 1000.0, 1e-9}, {1, 4, 15.85, 0.01},     {3, 43, 19953.0, 0.5},
      {12, 120, 971.6, 0.05}, {12, 121, 1029.2, 0.05}, {24, 348, 22067.0, 0.5}};
  for (const auto& m : mids) EXPECT_NEAR(bandMidFrequency(m.perOctave, m.band), m.f, m.tolerance) << m.band;
  EXPECT_NEAR(bandLowerEdge(1, 10), 707.9, 0.05);
  EXPECT_NEAR(bandUpperEdge(1, 10), 1412.5, 0.05);

  // Worked coefficients of the 1 kHz octave and third-octave bands (a1 a2 of
  // each section, gains of the first and third) pin the order and pole layout.
  const struct { int resolution, band; double a[8], g0, g2; } rows[] = {
      {1, 10, {-1.9230128659693577, 0.954856161065051, -1.9670939113223902, 0.9759684300073513,
               -1.8856262633849106, 0.9073066470398132, -1.9168707919907382, 0.9293065864749331},
       0.0020527746823131, 0.0019584792405431},
      {2, 30, {-1.9662724280715915, 0.9873032532658462, -1.9759535607512533, 0.9897140507676491,
               -1.9528488883568467, 0.9712781371862091, -1.9582198784364944, 0.9736731688161054},
       0.0002254980342039, 0.0002219121833338}};
  for (const auto& row : rows) {
    const BandPassDesign& d = bandPassDesign(row.resolution, row.band);
    for (int s = 0; s < 4; ++s) {
      expectRelative(d.sections[6 * s + 4], row.a[2 * s], 1e-9);
      expectRelative(d.sections[6 * s + 5], row.a[2 * s + 1], 1e-9);
    }
    expectRelative(d.gains[0], row.g0, 1e-9);
    expectRelative(d.gains[2], row.g2, 1e-9);
  }
  // Every band of every resolution is unity at mid-band and half power at both edges.
  const double halfPowerDb = 10.0 * std::log10(0.5);
  for (int r = 1; r <= 4; ++r) {
    const int b = kBandRanges[r].bandsPerOctave;
    for (int band = kBandRanges[r].firstBand; band <= kBandRanges[r].lastBand; ++band) {
      const BandPassDesign& d = bandPassDesign(r, band);
      auto db = [&](double f) { return responseDb(d.sections.data(), d.gains.data(), 4, f); };
      EXPECT_NEAR(db(bandMidFrequency(b, band)), 0.0, 0.003) << r << "/" << band;
      EXPECT_NEAR(db(bandLowerEdge(b, band)), halfPowerDb, 1e-6) << r << "/" << band;
      EXPECT_NEAR(db(bandUpperEdge(b, band)), halfPowerDb, 1e-6) << r << "/" << band;
    }
  }
}

TEST(FilterDesigns, WeightingCoefficientsAndCurves) {
  const AWeightingDesign& a = aWeightingDesign();
  const double expected[18] = {1, 2,  1, 1, -0.2245584580597792, 0.0126066252715464,
                               1, -2, 1, 1, -1.8938704947230705, 0.8951597690946614,
                               1, -2, 1, 1, -1.9946144559930217, 0.9946217070140845};
  for (int i = 0; i < 18; ++i) expectRelative(a.sections[i], expected[i], 1e-15);
  expectRelative(a.gains[0], 0.2343017922995135, 1e-15);
  const CWeightingDesign& c = cWeightingDesign();
  expectRelative(c.gains[0], 0.1978871200263934, 1e-15);
  const struct { bool isA; double f, db, tolerance; } curve[] = {
      {true, 1000.0, 0.004, 0.0005}, {true, 100.0, -19.14, 0.005}, {true, 20.0, -50.4, 0.05},
      {true, 10000.0, -3.70, 0.005}, {false, 1000.0, -0.0002, 0.00005}, {false, 20.0, -6.2, 0.05},
      {false, 10000.0, -5.6, 0.05}};
  for (const auto& p : curve) {
    const double db = p.isA ? responseDb(a.sections.data(), a.gains.data(), 3, p.f)
                            : responseDb(c.sections.data(), c.gains.data(), 2, p.f);
    EXPECT_NEAR(db, p.db, p.tolerance) << (p.isA ? "A " : "C ") << p.f;
  }
}

// The step delays are literal data; check them against the filters they
// belong to: each is close to the peak of the band's impulse-response
// envelope, and they fall strictly from band to band.
TEST(FilterDesigns, StepDelaysFollowImpulseResponsePeaks) {
  const int32_t known[][3] = {{1, 10, 63}, {1, 4, 4024}, {1, 14, 3}, {2, 30, 192},
                              {3, 49, 46941}, {4, 348, 69}, {1, 15, -1}, {0, 0, -1}};
  for (const auto& k : known) EXPECT_EQ(bandStepDelay(k[0], k[1]), k[2]) << k[0] << "/" << k[1];
  for (int r = 1; r <= 4; ++r) {
    const BandRange& range = kBandRanges[r];
    for (int band = range.firstBand; band <= range.lastBand; ++band) {
      const int32_t delay = bandStepDelay(r, band);
      EXPECT_TRUE(band == range.firstBand || delay < bandStepDelay(r, band - 1)) << r << "/" << band;
      if ((band - range.firstBand) % 4 != 0 && band != range.lastBand) continue;
      auto bank = bankCreate(r, band, band);
      Signal x(static_cast<size_t>(2 * delay + 64), 0.0);
      x[0] = 1.0;
      bankFilter(*bank, x.data(), static_cast<int32_t>(x.size()), band);
      hilbertEnvelope(x.data(), static_cast<int32_t>(x.size()));
      const double peak = static_cast<double>(std::max_element(x.begin(), x.end()) - x.begin());
      EXPECT_NEAR(delay, peak, 0.07 * peak + 1.0) << r << "/" << band;
    }
  }
}

// Two resonant sections (pole radii 0.9 and 0.8) with input gains and an
// output gain: a stable fourth-order filter that rings.
const double kDesign[12] = {0.5, 0.2, -0.1, 1.0, -1.6, 0.81, 1.0, -0.3, 0.4, 1.0, -1.2, 0.64};
const double kGains[3] = {0.7, 1.3, 0.9};

SosCascade makeCascade() {
  SosCascade c;
  EXPECT_EQ(sosCreate(c, 4), 0);
  sosLoad(c, kDesign, kGains);
  return c;
}

// The same filter as one difference equation per section, in direct form I,
// with the gains applied to whole sequences: an independent way to the output.
Signal directFormReference(Signal x) {
  for (int s = 0; s < 2; ++s) {
    const double* r = kDesign + 6 * s;
    Signal y(x.size());
    for (size_t t = 0; t < x.size(); ++t) {
      auto in = [&](size_t k) { return t >= k ? kGains[s] * x[t - k] : 0.0; };
      auto out = [&](size_t k) { return t >= k ? y[t - k] : 0.0; };
      y[t] = r[0] * in(0) + r[1] * in(1) + r[2] * in(2) - r[4] * out(1) - r[5] * out(2);
    }
    x = y;
  }
  for (double& v : x) v *= kGains[2];
  return x;
}

TEST(SosCascade, ForwardAndReverseMatchDirectFormAcrossBlocks) {
  const Signal input = noise(500, 1), expected = directFormReference(input);
  SosCascade whole = makeCascade(), blocks = makeCascade();
  Signal x = input, y = input;
  sosFilter(whole, x.data(), 500);
  for (size_t t = 0; t < x.size(); ++t) ASSERT_NEAR(x[t], expected[t], 1e-12 * (1 + std::fabs(expected[t]))) << t;
  // Uneven blocks, including an empty one, carry the state over exactly.
  const int32_t cuts[] = {0, 1, 1, 77, 300, 500};
  for (int i = 0; i + 1 < 6; ++i) sosFilter(blocks, y.data() + cuts[i], cuts[i + 1] - cuts[i]);
  EXPECT_EQ(y, x);

  // Reverse filtering is forward filtering of the reversed signal, and its
  // blocks go from the end backwards.
  Signal reversed(input.rbegin(), input.rend());
  SosCascade forward = makeCascade(), backward = makeCascade(), backBlocks = makeCascade();
  sosFilter(forward, reversed.data(), 500);
  std::reverse(reversed.begin(), reversed.end());
  x = y = input;
  sosFilterReverse(backward, x.data(), 500);
  EXPECT_EQ(x, reversed);
  sosFilterReverse(backBlocks, y.data() + 250, 250);
  sosFilterReverse(backBlocks, y.data(), 250);
  EXPECT_EQ(y, reversed);
}

// The pair passes keep states and coefficients in registers for up to six
// sections and in memory beyond: either way, forward or reversed, in place or
// into other arrays, each signal must round exactly as it does on its own.
TEST(SosCascade, PairPassEqualsTwoSinglePassesForEverySectionCount) {
  const Signal a = noise(300, 6), b = noise(300, 7);
  for (int32_t sections = 1; sections <= 7; ++sections) {
    std::vector<double> design, gains(static_cast<size_t>(sections) + 1, 1.1);
    for (int32_t i = 0; i < sections; ++i)
      design.insert(design.end(), kDesign + 6 * (i % 2), kDesign + 6 * (i % 2) + 6);
    SosCascade c;
    ASSERT_EQ(sosCreate(c, 2 * sections), 0);
    sosLoad(c, design.data(), gains.data());
    Signal forwardA(300), forwardB(300), fx = a, fy = b;
    ASSERT_EQ(sosFilterPair(c, a.data(), b.data(), forwardA.data(), forwardB.data(), 300), 0);
    sosFilter(c, fx.data(), 300);
    sosReset(c);
    sosFilter(c, fy.data(), 300);
    EXPECT_TRUE(forwardA == fx && forwardB == fy) << sections << " sections, forward";
    for (int32_t d : {0, 5, 300}) {
      Signal x = a, y = b, xs = a, ys = b, apart(300), bpart(300);
      ASSERT_EQ(sosFilterReverseDelayedPair(c, x.data(), y.data(), x.data(), y.data(), 300, d), 0);
      ASSERT_EQ(sosFilterReverseDelayedPair(c, a.data(), b.data(), apart.data(), bpart.data(), 300, d), 0);
      sosFilterReverseDelayed(c, xs.data(), 300, d);
      sosFilterReverseDelayed(c, ys.data(), 300, d);
      EXPECT_TRUE(x == xs && y == ys && apart == xs && bpart == ys) << sections << " sections, delay " << d;
    }
  }
}

TEST(AnalyticSignal, CosineToSinePaddingAndTinyInputs) {
  const int n = 1024;
  Signal x(n);
  for (int t = 0; t < n; ++t) x[t] = std::cos(2.0 * kPi * 64.0 * t / n);
  const DynArray<double> im = hilbertTransform(x.data(), n);
  for (int t = 0; t < n; ++t) EXPECT_NEAR(im[t], std::sin(2.0 * kPi * 64.0 * t / n), 1e-12);
  EXPECT_EQ(hilbertEnvelope(x.data(), n), 0);
  for (int t = 0; t < n; ++t) EXPECT_NEAR(x[t], 1.0, 1e-12);

  // Five samples are padded to eight: the first five values of the padded
  // sequence's analytic signal.
  Signal five = {0.3, -1.0, 2.0, 0.5, -0.25}, eight = five;
  eight.resize(8, 0.0);
  const DynArray<double> im5 = hilbertTransform(five.data(), 5), im8 = hilbertTransform(eight.data(), 8);
  ASSERT_EQ(im5.size(), 8);
  for (int t = 0; t < 5; ++t) EXPECT_DOUBLE_EQ(im5[t], im8[t]);
  // With one or two samples there is nothing between DC and Nyquist.
  Signal two = {-0.75, 0.5}, one = {-2.0};
  hilbertEnvelope(two.data(), 2);
  hilbertEnvelope(one.data(), 1);
  EXPECT_EQ(two, (Signal{0.75, 0.5}));
  EXPECT_EQ(one[0], 2.0);
  EXPECT_EQ(hilbertEnvelope(nullptr, 0), 0);
}

// Gain in dB of a sine at an integer frequency through a bank band, from the
// mean square of its second second (a whole number of periods).
double bankGainDb(FilterBank& bank, int32_t band, int frequency) {
  Signal x(96000);
  for (int t = 0; t < 96000; ++t) x[t] = std::sin(2.0 * kPi * frequency * t / 48000.0);
  EXPECT_EQ(bankFilter(bank, x.data(), 96000, band), 0);
  double sum = 0.0;
  for (int t = 48000; t < 96000; ++t) sum += x[t] * x[t];
  return 10.0 * std::log10(2.0 * sum / 48000.0);
}

TEST(FilterBank, SinesThroughBandsAndWeightingsFollowTheirDesigns) {
  auto bank = bankCreate(1, 4, 14);
  const struct { int32_t band; const double *sections, *gains; int count; } filters[] = {
      {10, bandPassDesign(1, 10).sections.data(), bandPassDesign(1, 10).gains.data(), 4},
      {kBandAWeighting, aWeightingDesign().sections.data(), aWeightingDesign().gains.data(), 3},
      {kBandCWeighting, cWeightingDesign().sections.data(), cWeightingDesign().gains.data(), 2}};
  for (const auto& filter : filters)
    for (int f : {1000, 708, 250, 20})
      EXPECT_NEAR(bankGainDb(*bank, filter.band, f), responseDb(filter.sections, filter.gains, filter.count, f), 0.01)
          << filter.band << " " << f;
  // A built bank cannot be built again; it keeps its bands.
  EXPECT_EQ(bankBuild(*bank, 2, 12, 43), -1);
  EXPECT_EQ(bank->firstBand, 4);
  EXPECT_EQ(bank->bandCount, 11);
}

// Aligned filtering shifts the signal later by the band's step delay (one
// sample for a weighting) and filters it time-reversed from rest, whatever
// state earlier use left behind; a delay outside the signal is refused.
TEST(FilterBank, AlignedReverseShiftsByTheStepDelayAndBadBandsSelectNothing) {
  auto bank = bankCreate(1, 4, 14), reference = bankCreate(1, 4, 14);
  const Signal input = noise(2000, 4);
  Signal x = input;
  EXPECT_EQ(bankFilterReverseAligned(*bank, x.data(), 63, 10), -1);  // delay 63
  EXPECT_EQ(sosFilterReverseDelayed(*bankCascade(*bank, 10), x.data(), 63, 64), -1);
  EXPECT_EQ(sosFilterReverseDelayed(*bankCascade(*bank, 10), x.data(), 63, -1), -1);
  // A delay of 0 is plain reverse filtering; one of the whole signal leaves only zeros.
  SosCascade& c = *bankCascade(*reference, 10);
  Signal plain(input.begin(), input.begin() + 64), undelayed = plain, shifted = plain;
  sosFilterReverse(c, plain.data(), 64);
  EXPECT_TRUE(sosFilterReverseDelayed(c, undelayed.data(), 64, 0) == 0 && undelayed == plain);
  EXPECT_TRUE(sosFilterReverseDelayed(c, shifted.data(), 64, 64) == 0 && shifted == Signal(64, 0.0));
  // Band ids outside the bank select nothing; the unfiltered id leaves the signal.
  for (auto filter : {bankFilter, bankFilterReverse, bankFilterReverseAligned}) {
    for (int32_t band : {3, 15, 99999, 100003, -1, 0}) EXPECT_EQ(filter(*bank, x.data(), 64, band), -1) << band;
    EXPECT_EQ(filter(*bank, x.data(), 64, kBandUnfiltered), 0);
  }
  for (int32_t band : {3, 15, 0, kBandAWeighting}) EXPECT_EQ(bankStepDelay(*bank, band), -1) << band;
  EXPECT_EQ(x, input);
  for (auto [band, delay] : {std::pair{10, 63}, std::pair{14, 3}, std::pair{kBandAWeighting, 1}}) {
    for (int32_t n : {2000, delay + 1}) {
      Signal junk = noise(100, 5), y(input.begin(), input.begin() + n), u(n, 0.0);
      bankFilter(*bank, junk.data(), 100, band);
      EXPECT_EQ(bankFilterReverseAligned(*bank, y.data(), n, band), 0);
      std::copy(input.begin(), input.begin() + n - delay, u.begin() + delay);
      sosReset(*bankCascade(*reference, band));
      bankFilterReverse(*reference, u.data(), n, band);
      EXPECT_EQ(y, u) << band << " " << n;
    }
  }
}

TEST(FilterBankExports, SlotsAndBadArguments) {
  initTavrix();
  const int32_t h = initFilterBank(1, 4, 14);
  ASSERT_GE(h, 0);
  // Ranges that are not of one resolution fail and keep no slot.
  for (auto [r, first, last] : {std::tuple{2, 11, 43}, {2, 12, 44}, {5, 12, 12}, {0, 0, 0}, {1, 9, 8}})
    EXPECT_EQ(initFilterBank(r, first, last), -1) << r << " " << first << " " << last;
  const int32_t next = initFilterBank(3, 100, 100);
  EXPECT_EQ(next, h + 1);
  std::vector<int32_t> handles;
  for (int32_t k; (k = initFilterBank(1, 10, 10)) >= 0;) handles.push_back(k);
  EXPECT_EQ(handles.size() + 2, 255u);
  for (int32_t k : handles) EXPECT_EQ(deleteFilterBank(k), 0);
  EXPECT_EQ(deleteFilterBank(next), 0);

  const Signal input = noise(32, 1);
  Signal x = input;
  for (auto filter : {filterSingleBand, filterSingleBandReverse}) {
    EXPECT_EQ(filter(h, nullptr, 32, 10), -1);
    EXPECT_EQ(filter(h, x.data(), -1, 10), -1);
    for (int32_t band : {3, 15, 99999}) EXPECT_EQ(filter(h, x.data(), 32, band), -1);
    for (int32_t bad : {next, -5, 255, 1000}) EXPECT_EQ(filter(bad, x.data(), 32, 10), -1);
    EXPECT_EQ(filter(h, x.data(), 32, TAVRIX_BAND_UNFILTERED), 0);
    EXPECT_EQ(filter(h, x.data(), 0, 10), 0);
  }
  EXPECT_EQ(x, input);
  EXPECT_EQ(getStepDelay(h, 4), 4024);
  for (int32_t band : {TAVRIX_BAND_A_WEIGHTING, 15}) EXPECT_EQ(getStepDelay(h, band), -1);
  EXPECT_EQ(getStepDelay(next, 10), -1);
  EXPECT_EQ(deleteFilterBank(h), 0);
  for (int32_t bad : {h, -1, 255}) EXPECT_EQ(deleteFilterBank(bad), -1);
}

// A measurement holding a given impulse response, placed in the impulse
// table the way the deconvolution leaves it.
struct Measurement {
  int32_t handle;
  explicit Measurement(const Signal& ir, double sampleRate = 48000.0) {
    handle = impulseTable().create();
    ImpulseMeasurement* m = impulseTable().find(handle);
    m->impulseResponse = DynArray<double>(ir.data(), static_cast<int32_t>(ir.size()));
    m->nfft = static_cast<int32_t>(ir.size());
    m->sampleRate = sampleRate;
  }
  ~Measurement() { impulseTable().release(handle); }
};

// A decaying noise burst standing in for a room response.
Signal roomResponse(size_t n) {
  Signal ir = noise(n, 3);
  for (size_t t = 0; t < n; ++t) ir[t] *= std::exp(-static_cast<double>(t) / 600.0);
  return ir;
}

TEST(ImpulseResponseExports, HilbertEnvelopeOfStoredResponse) {
  // Closed form for an impulse at 0 over N = 8:
  // z[t] = (1/8) (1 + (-1)^t + 2 sum_{k=1..3} e^{i pi k t / 4}).
  Measurement m({1, 0, 0, 0, 0, 0, 0, 0});
  Signal out(8);
  ASSERT_EQ(getImpulseResponseHilbert(m.handle, out.data()), 0);
  const double expected[8] = {1, 0.603553, 0, 0.103553, 0, 0.103553, 0, 0.603553};
  for (int t = 0; t < 8; ++t) EXPECT_NEAR(out[t], expected[t], 5e-7) << t;
  EXPECT_EQ(getImpulseResponseHilbert(m.handle, nullptr), -1);
  EXPECT_EQ(getImpulseResponseHilbert(m.handle + 1, out.data()), -1);
  EXPECT_EQ(loadImpulseResponseFromFile(), -1);
}

TEST(ImpulseResponseExports, FilteredResponseNeedsBankResponseAndKnownBand) {
  const Signal ir = roomResponse(4096);
  Measurement m(ir);
  Signal out(4096, 7.0);
  EXPECT_EQ(getFilteredImpulseResponse(m.handle, out.data(), 30), -1);  // no bank yet
  EXPECT_EQ(initImpulseResponseFunctionGenerator(m.handle, 2, 20, 40), 0);
  EXPECT_EQ(getFilteredImpulseResponse(m.handle, out.data(), 19), -1);
  EXPECT_EQ(out, ir);  // the unfiltered copy
  EXPECT_EQ(getFilteredImpulseResponse(m.handle, nullptr, 30), -1);
  EXPECT_EQ(getFilteredImpulseResponseHilbert(m.handle, out.data(), 19), -1);
  // Each band and weighting comes out as the response filtered time-reversed
  // from rest, however often it is asked for: compare with a fresh bank.
  for (int32_t band : {30, 20, 40, TAVRIX_BAND_A_WEIGHTING, TAVRIX_BAND_C_WEIGHTING, TAVRIX_BAND_UNFILTERED}) {
    const int32_t bank = initFilterBank(2, 20, 40);
    Signal expected = ir, envelope(4096);
    ASSERT_EQ(filterSingleBandReverse(bank, expected.data(), 4096, band), 0);
    deleteFilterBank(bank);
    for (int repeat = 0; repeat < 2; ++repeat) {
      ASSERT_EQ(getFilteredImpulseResponse(m.handle, out.data(), band), 0);
      EXPECT_EQ(out, expected) << band;
    }
    ASSERT_EQ(getFilteredImpulseResponseHilbert(m.handle, envelope.data(), band), 0);
    hilbertEnvelope(expected.data(), 4096);
    EXPECT_EQ(envelope, expected) << band;
  }
  // A failed attach leaves no bank behind, not the earlier one.
  EXPECT_EQ(initImpulseResponseFunctionGenerator(m.handle, 2, 11, 40), -1);
  EXPECT_EQ(getFilteredImpulseResponse(m.handle, out.data(), 30), -1);
  EXPECT_EQ(initImpulseResponseFunctionGenerator(-1, 1, 4, 14), -1);
  // A bank on a measurement without a response has nothing to give.
  Measurement empty({});
  EXPECT_EQ(initImpulseResponseFunctionGenerator(empty.handle, 1, 4, 14), 0);
  EXPECT_EQ(getFilteredImpulseResponse(empty.handle, out.data(), 10), -1);
  EXPECT_EQ(getFilteredImpulseResponseHilbert(empty.handle, out.data(), 10), -1);
  EXPECT_EQ(getImpulseResponseHilbert(empty.handle, out.data()), -1);
  EXPECT_EQ(getImpulseResponseFile(empty.handle, test::TempFile("none.wav").c_str()), -1);
}

// The file is a float WAV at the measurement's whole-number rate (the writer's
// byte layout has its own tests): read back through the library's reader.
TEST(ImpulseResponseExports, ResponseFileIsFloatWaveAtMeasurementRate) {
  const Signal ir = roomResponse(1000);
  Measurement m(ir, 44100.7);
  test::TempFile file("impulse_response.wav");
  ASSERT_EQ(getImpulseResponseFile(m.handle, file.c_str()), 0);
  DynArray<double> samples;
  double rate = 0.0;
  int32_t count = 0;
  ASSERT_EQ(readWave(file.c_str(), samples, rate, count), 0);
  EXPECT_EQ(rate, 44100.0);
  ASSERT_EQ(count, 1000);
  for (int32_t t = 0; t < count; ++t) EXPECT_EQ(samples.data()[t], static_cast<float>(ir[t])) << t;
  EXPECT_EQ(getImpulseResponseFile(m.handle, nullptr), -1);
  EXPECT_EQ(getImpulseResponseFile(m.handle + 1, file.c_str()), -1);
}

}  // namespace
}  // namespace tavrix

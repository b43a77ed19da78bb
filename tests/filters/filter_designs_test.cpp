#include "filters/filter_designs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "filters/sos_cascade.h"
#include "impulse/analytic_signal.h"

namespace tavrix {
namespace {

using Complex = std::complex<double>;

// Gain in dB at frequency f of sections (b0 b1 b2 a0 a1 a2 each) with one
// gain before each section and one after the last, from the transfer
// function on the unit circle.
double responseDb(const double* sections, const double* gains, int count, double f) {
  const Complex z1 = std::polar(1.0, -2.0 * std::numbers::pi * f / 48000.0);
  Complex h = gains[count];
  for (int i = 0; i < count; ++i) {
    const double* s = sections + 6 * i;
    h *= gains[i] * (s[0] + s[1] * z1 + s[2] * z1 * z1) / (s[3] + s[4] * z1 + s[5] * z1 * z1);
  }
  return 20.0 * std::log10(std::abs(h));
}

// Mid-band frequency from its definition, with its own arithmetic.
double midBand(int bandsPerOctave, int band) {
  const double shift = bandsPerOctave >= 12 ? 0.5 : 0.0;
  return 1000.0 * std::pow(10.0, 0.3 * (band - 10.0 * bandsPerOctave - shift) / bandsPerOctave);
}

void expectRelative(double actual, double expected, double tolerance, const char* what) {
  EXPECT_NEAR(actual, expected, tolerance * std::fabs(expected)) << what;
}

TEST(FilterDesigns, MidBandFrequencies) {
  EXPECT_NEAR(bandMidFrequency(1, 10), 1000.0, 1e-9);
  EXPECT_NEAR(bandMidFrequency(3, 30), 1000.0, 1e-9);
  EXPECT_NEAR(bandMidFrequency(1, 4), 15.85, 0.01);
  EXPECT_NEAR(bandMidFrequency(3, 43), 19953.0, 0.5);
  EXPECT_NEAR(bandMidFrequency(12, 120), 971.6, 0.05);
  EXPECT_NEAR(bandMidFrequency(12, 121), 1029.2, 0.05);
  EXPECT_NEAR(bandMidFrequency(24, 348), 22067.0, 0.5);
  EXPECT_NEAR(bandLowerEdge(1, 10), 707.9, 0.05);
  EXPECT_NEAR(bandUpperEdge(1, 10), 1412.5, 0.05);
}

TEST(FilterDesigns, OneKilohertzBandsReproduceReferenceRows) {
  struct Row {
    int resolution, band;
    double a[8];
    double g0, g2;
  };
  const Row rows[] = {
      {1,
       10,
       {-1.9230128659693577, 0.954856161065051, -1.9670939113223902, 0.9759684300073513, -1.8856262633849106,
        0.9073066470398132, -1.9168707919907382, 0.9293065864749331},
       0.0020527746823131,
       0.0019584792405431},
      {2,
       30,
       {-1.9662724280715915, 0.9873032532658462, -1.9759535607512533, 0.9897140507676491, -1.9528488883568467,
        0.9712781371862091, -1.9582198784364944, 0.9736731688161054},
       0.0002254980342039,
       0.0002219121833338},
  };
  for (const Row& row : rows) {
    const BandPassDesign& d = bandPassDesign(row.resolution, row.band);
    for (int s = 0; s < 4; ++s) {
      EXPECT_EQ(d.sections[6 * s + 0], 1.0);
      EXPECT_EQ(d.sections[6 * s + 1], 0.0);
      EXPECT_EQ(d.sections[6 * s + 2], -1.0);
      EXPECT_EQ(d.sections[6 * s + 3], 1.0);
      expectRelative(d.sections[6 * s + 4], row.a[2 * s], 1e-9, "a1");
      expectRelative(d.sections[6 * s + 5], row.a[2 * s + 1], 1e-9, "a2");
    }
    expectRelative(d.gains[0], row.g0, 1e-9, "g0");
    expectRelative(d.gains[2], row.g2, 1e-9, "g2");
    EXPECT_EQ(d.gains[1], 1.0);
    EXPECT_EQ(d.gains[3], 1.0);
    EXPECT_EQ(d.gains[4], 1.0);
  }
}

// Every band of every resolution passes its mid-band frequency at unity gain
// and is 3 dB down (half power) at both edges.
TEST(FilterDesigns, EveryBandIsUnityAtMidBandAndHalfPowerAtEdges) {
  const double halfPowerDb = 10.0 * std::log10(0.5);
  for (int r = 1; r <= 4; ++r) {
    const int b = kBandRanges[r].bandsPerOctave;
    for (int band = kBandRanges[r].firstBand; band <= kBandRanges[r].lastBand; ++band) {
      const BandPassDesign& d = bandPassDesign(r, band);
      const double fm = midBand(b, band);
      const double edge = std::pow(10.0, 0.3 / (2.0 * b));
      EXPECT_NEAR(responseDb(d.sections.data(), d.gains.data(), 4, fm), 0.0, 0.003) << r << "/" << band;
      EXPECT_NEAR(responseDb(d.sections.data(), d.gains.data(), 4, fm / edge), halfPowerDb, 1e-6) << band;
      EXPECT_NEAR(responseDb(d.sections.data(), d.gains.data(), 4, fm * edge), halfPowerDb, 1e-6) << band;
    }
  }
}

TEST(FilterDesigns, AWeightingSectionsAndGainToFifteenDigits) {
  const AWeightingDesign& a = aWeightingDesign();
  const double expected[18] = {1, 2,  1, 1, -0.2245584580597792, 0.0126066252715464,
                               1, -2, 1, 1, -1.8938704947230705, 0.8951597690946614,
                               1, -2, 1, 1, -1.9946144559930217, 0.9946217070140845};
  for (int i = 0; i < 18; ++i) expectRelative(a.sections[i], expected[i], 1e-15, "A section value");
  expectRelative(a.gains[0], 0.2343017922995135, 1e-15, "A gain");
  EXPECT_EQ(a.gains[1], 1.0);
  EXPECT_EQ(a.gains[3], 1.0);

  const CWeightingDesign& c = cWeightingDesign();
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(c.sections[i], a.sections[i]);
    EXPECT_EQ(c.sections[6 + i], a.sections[12 + i]);
  }
  expectRelative(c.gains[0], 0.1978871200263934, 1e-15, "C gain");
}

TEST(FilterDesigns, WeightingCurvesAtReferenceFrequencies) {
  const AWeightingDesign& a = aWeightingDesign();
  auto aDb = [&](double f) { return responseDb(a.sections.data(), a.gains.data(), 3, f); };
  EXPECT_NEAR(aDb(1000.0), 0.004, 0.0005);
  EXPECT_NEAR(aDb(100.0), -19.14, 0.005);
  EXPECT_NEAR(aDb(20.0), -50.4, 0.05);
  EXPECT_NEAR(aDb(10000.0), -3.70, 0.005);
  const CWeightingDesign& c = cWeightingDesign();
  auto cDb = [&](double f) { return responseDb(c.sections.data(), c.gains.data(), 2, f); };
  EXPECT_NEAR(cDb(1000.0), -0.0002, 0.00005);
  EXPECT_NEAR(cDb(20.0), -6.2, 0.05);
  EXPECT_NEAR(cDb(10000.0), -5.6, 0.05);
}

// The step delays are literal data; check them against the filters they
// belong to: each is close to the time at which the band's impulse response
// envelope peaks, and they fall strictly from band to band.
TEST(FilterDesigns, StepDelaysFollowImpulseResponsePeaks) {
  EXPECT_EQ(bandStepDelay(1, 10), 63);
  EXPECT_EQ(bandStepDelay(1, 4), 4024);
  EXPECT_EQ(bandStepDelay(1, 14), 3);
  EXPECT_EQ(bandStepDelay(2, 30), 192);
  EXPECT_EQ(bandStepDelay(3, 49), 46941);
  EXPECT_EQ(bandStepDelay(4, 348), 69);
  EXPECT_EQ(bandStepDelay(1, 15), -1);
  EXPECT_EQ(bandStepDelay(0, 0), -1);
  for (int r = 1; r <= 4; ++r) {
    const BandRange& range = kBandRanges[r];
    for (int band = range.firstBand; band <= range.lastBand; ++band) {
      const int32_t delay = bandStepDelay(r, band);
      if (band > range.firstBand) {
        EXPECT_LT(delay, bandStepDelay(r, band - 1)) << r << "/" << band;
      }
      if ((band - range.firstBand) % 4 != 0 && band != range.lastBand) continue;
      SosCascade cascade;
      sosCreate(cascade, 8);
      sosLoad(cascade, bandPassDesign(r, band).sections.data(), bandPassDesign(r, band).gains.data());
      std::vector<double> x(static_cast<size_t>(2 * delay + 64), 0.0);
      x[0] = 1.0;
      sosFilter(cascade, x.data(), static_cast<int32_t>(x.size()));
      hilbertEnvelope(x.data(), static_cast<int32_t>(x.size()));
      size_t peak = 0;
      for (size_t i = 1; i < x.size(); ++i)
        if (x[i] > x[peak]) peak = i;
      EXPECT_NEAR(delay, static_cast<double>(peak), 0.07 * static_cast<double>(peak) + 1.0)
          << r << "/" << band;
    }
  }
}

}  // namespace
}  // namespace tavrix

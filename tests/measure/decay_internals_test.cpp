// The layer's own decay arithmetic on exact decays, against closed forms:
// plain backward integration, the ISO 3382-1 energy parameters with their
// 50 and 80 ms limits, and the words for a band that is too short.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "energy_parameters.h"
#include "plain_decay.h"
#include "status_messages.h"
#include "tavrix.h"

namespace tavrix::measure {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// A decay falling linearly in dB: totalDb over n values.
std::vector<double> linearDecay(size_t n, double totalDb) {
  std::vector<double> db(n);
  for (size_t i = 0; i < n; ++i) db[i] = -totalDb * static_cast<double>(i) / static_cast<double>(n);
  return db;
}

// Plain backward integration of an exact exponential: the truncation at the
// window end lies 10 dB or more below every evaluated range, so the times
// are within half a percent. A decay that ends on a floor gives none.
TEST(PlainDecay, OnlyDecaysThatMeetNoFloorAndRangesTenDecibelsAboveTheirEnd) {
  const double fs = 1000, t60 = 1.2;
  std::vector<double> clean = linearDecay(1200, 60), floored;  // ends 60 dB down
  for (double db : clean) floored.push_back(10 * std::log10(std::pow(10.0, db / 10) + 1e-4));  // -40 dB floor
  const PlainDecay d = plainDecay(clean, {0, 20, 30, 41, 42}, fs);
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_NEAR(d.times[k], t60, 0.005 * t60) << k;
    EXPECT_GT(d.fitQuality[k], 0.999);
  }
  // The last tenth's mean energy of -54 ... -60 dB lies at -56.63 dB: T41
  // (ending at -46 dB) keeps its 10 dB margin, T42 (-47 dB) does not.
  EXPECT_NEAR(d.endLevelDb, -56.63, 0.01);
  EXPECT_TRUE(std::isnan(d.times[4]));
  const PlainDecay f = plainDecay(floored, {0, 20}, fs);
  EXPECT_FALSE(f.stillFalling);
  EXPECT_TRUE(std::isnan(f.times[0]) && std::isnan(f.times[1]));
  // Still falling means the last tenth 3 dB or more below the one before:
  // 3.5 dB per tenth is, 2.5 dB is not (a floor flattens the end).
  EXPECT_TRUE(plainDecay(linearDecay(1000, 35), {0}, fs).stillFalling);
  EXPECT_FALSE(plainDecay(linearDecay(1000, 25), {0}, fs).stillFalling);
  // Ten values are the shortest decay with a last tenth: 60 dB in 10 ms.
  EXPECT_NEAR(plainDecay(linearDecay(10, 60), {0}, fs).times[0], 0.01, 0.001);
  EXPECT_TRUE(std::isnan(plainDecay(linearDecay(9, 54), {0}, fs).times[0]));
}

// Energy falling as exp(-13.816 t / T): 60 dB in T seconds.
double c80Of(double t) { return 10 * std::log10(std::exp(1.1052 / t) - 1); }
double c50Of(double t) { return 10 * std::log10(std::exp(0.6908 / t) - 1); }
double d50Of(double t) { return 1 - std::exp(-0.6908 / t); }
double tsOf(double t) { return t / 13.816; }

TEST(EnergyParameters, ExponentialDecayGivesTheClosedForms) {
  constexpr double fs = 48000, t60 = 0.9, noiseDb = -30;
  // Level per sample re the peak: the decay plus a steady noise 30 dB down,
  // as the band evaluation returns it.
  std::vector<double> level(static_cast<size_t>(2 * fs));
  for (size_t i = 0; i < level.size(); ++i)
    level[i] = 10 * std::log10(std::pow(10.0, -6.0 * static_cast<double>(i) / fs / t60) +
                               std::pow(10.0, noiseDb / 10));
  const auto expectClosedForms = [&](const EnergyParameters& p, double t, const char* what) {
    EXPECT_NEAR(p.c50Db, c50Of(t), 0.01) << what;
    EXPECT_NEAR(p.c80Db, c80Of(t), 0.01) << what;
    EXPECT_NEAR(p.d50Percent, 100 * d50Of(t), 0.05) << what;
    EXPECT_NEAR(p.tsMs, 1000 * tsOf(t), 0.05) << what;
  };
  // The crosspoint where decay and noise meet (0.45 s), the model's tail
  // beyond it: the noise is subtracted and the tail stands for the rest.
  const size_t cross = static_cast<size_t>(std::lround(-noiseDb / 60 * t60 * fs));
  const double tail[2] = {0, noiseDb};
  expectClosedForms(energyParameters(level, cross - 1, noiseDb, tail, fs), t60, "compensated");
  // A crosspoint before 50 ms leaves both limits in the tail; two measured
  // samples are the fewest that the tail may continue.
  for (size_t measured : {static_cast<size_t>(0.025 * fs) - 1, size_t{2}}) {
    const double early[2] = {0, -60 * static_cast<double>(measured + 1) / fs / t60};
    expectClosedForms(energyParameters(level, measured, noiseDb, early, fs), t60, "early crosspoint");
  }
  // A clean decay without floor or tail, integrated to the end of its window.
  const std::vector<double> clean = linearDecay(level.size(), 2 * 60 / 0.3);
  const double none[2] = {NAN, NAN};
  expectClosedForms(energyParameters(clean, clean.size(), NAN, none, fs), 0.3, "plain");
  // Uncompensated, the noise would lower C80 and lengthen Ts.
  const EnergyParameters raw = energyParameters(level, level.size(), NAN, none, fs);
  EXPECT_LT(raw.c80Db, c80Of(t60) - 0.1);
  EXPECT_GT(raw.tsMs, 1000 * tsOf(t60) * 1.1);
  // A flat late-decay model is no tail (it would hold infinite energy).
  const double flat[2] = {-30, -30};
  EXPECT_DOUBLE_EQ(energyParameters(clean, clean.size(), NAN, flat, fs).c50Db,
                   energyParameters(clean, clean.size(), NAN, none, fs).c50Db);
  EXPECT_TRUE(std::isnan(energyParameters(clean, clean.size(), NAN, none, 0).tsMs));  // no rate, no times
}

// Single reflections around the limits at 48 kHz: 50 ms is sample 2400 and
// 80 ms sample 3840 after the onset, and a sample at the limit is late. With
// energies 1, 2, 4, ... the sums that each parameter compares are exact.
TEST(EnergyParameters, FiftyAndEightyMillisecondLimitsFallOnTheirSamples) {
  constexpr double fs = 48000;
  const size_t at[] = {0, 2399, 2400, 3839, 3840, 6000};
  std::vector<double> level(8000, -kInf);
  double energy[6], total = 0, moment = 0;
  for (size_t j = 0; j < 6; ++j) {
    energy[j] = std::ldexp(1.0, static_cast<int>(j));
    level[at[j]] = 10 * std::log10(energy[j]);
    total += energy[j];
    moment += energy[j] * static_cast<double>(at[j]);
  }
  const double none[2] = {NAN, NAN};
  const EnergyParameters p = energyParameters(level, level.size(), NAN, none, fs);
  EXPECT_NEAR(p.c50Db, 10 * std::log10((1.0 + 2) / (4 + 8 + 16 + 32)), 1e-9);
  EXPECT_NEAR(p.c80Db, 10 * std::log10((1.0 + 2 + 4 + 8) / (16 + 32)), 1e-9);
  EXPECT_NEAR(p.d50Percent, 100 * 3 / total, 1e-9);
  EXPECT_NEAR(p.tsMs, 1000 * moment / total / fs, 1e-9);
  // A window that ends exactly at 50 ms holds all of its energy before 50
  // ms; one a sample shorter leaves the energy up to 50 ms unknown.
  EXPECT_DOUBLE_EQ(energyParameters(level, 2400, NAN, none, fs).d50Percent, 100);
  EXPECT_TRUE(std::isnan(energyParameters(level, 2399, NAN, none, fs).d50Percent));
}

// A band too short for the noise analysis is described by how far it falls:
// less than 25 dB is too little level or a decay cut short.
TEST(ResultWords, TooShortBandsAreExplainedByTheirFall) {
  BandResult b;
  b.status = TAVRIX_TOO_SHORT;
  b.endLevelDb = -24.9;
  EXPECT_NE(resultSentence(b).find("falls only 24.9 dB"), std::string::npos) << resultSentence(b);
  for (double end : {-25.0, -25.1}) {
    b.endLevelDb = end;
    EXPECT_NE(resultSentence(b).find("early decay is too irregular"), std::string::npos) << resultSentence(b);
  }
  EXPECT_EQ(resultLabel(b), "too short");
  for (int status : {TAVRIX_NO_DECAY, TAVRIX_NO_CROSSPOINT, TAVRIX_NO_TAIL_FIT, TAVRIX_FAILED}) {
    b.status = status;
    EXPECT_EQ(resultLabel(b).find("status"), std::string::npos) << status;
    EXPECT_EQ(resultSentence(b).find("undocumented"), std::string::npos) << status;
  }
}

}  // namespace
}  // namespace tavrix::measure

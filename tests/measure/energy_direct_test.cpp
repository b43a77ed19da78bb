// Clarity, definition and centre time where the direct sound is strong. A
// direct sound of energy D at time 0 and a reverberation of energy R whose
// energy density falls as R k exp(-k t), k = 6 ln 10 / T, give in every band
// of a flat spectrum
//   C(te) = 10 log10((D + R (1 - exp(-k te))) / (R exp(-k te))),
//   D50 = (D + R (1 - exp(-k 50 ms))) / (D + R),   Ts = (R / k) / (D + R).
//
// The responses. A reverberation of noise gives these only as an expectation:
// in the 250 Hz octave one position's C50 scatters by a decibel (the band
// holds some ten independent values per decay time constant, and the direct
// sound interferes with the first milliseconds of noise), and the mean of a
// hundred positions still by a tenth. The responses here have the same
// expected band energy without that scatter in their mean. The reverberation
// is a train of arrivals 10 ms apart, each carrying the energy of its 10 ms
// of the exponential at that stretch's centre of gravity, so that energies up
// to 50 and 80 ms and the first moment are the continuous decay's. The
// positions give each arrival the signs of one column of a Hadamard matrix
// (4 x 4 from 250 Hz up, 8 x 8 at 125 Hz): the direct sound column 0, the
// arrivals the other columns in turn, so that arrivals of one sign pattern lie
// 30 ms apart (70 ms with 8 positions) and any two nearer ones have orthogonal
// patterns. Band images overlap over less (about 20 ms at 250 Hz, 45 ms at
// 125 Hz), so in the positions' mean band energy, which the ensemble evaluates, every cross term
// between arrivals cancels and each adds its band image alone, as in the
// expectation of a noise. A single position keeps its cross terms where band
// images overlap (below 1 kHz); there the mean of the positions' figures is
// compared, from 1 kHz on every position on its own.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "reverb_analysis.h"
#include "tavrix.h"
#include "tavrix_measure.h"

namespace tavrix::test {
namespace {

constexpr int kRate = 48000;
constexpr double kSpacing = 0.010;  // s between arrivals
constexpr double kDirectAt = 0.5;   // s; the layer adds no lead-in from half a second on
constexpr int k125Hz = 7, k250Hz = 8, k1kHz = 10, k4kHz = 12;

// How closely the figures must meet the closed forms: 0.3 dB, 1 point of
// D50, 3 % of Ts.
constexpr double kClarityDb = 0.3, kDefinitionPoints = 1.0, kCentreShare = 0.03;

double decayRate(double t60) { return 6 * std::log(10.0) / t60; }

struct Figures {
  double c50Db, c80Db, d50Percent, tsMs;
};

// The closed forms above, with R = 1.
Figures closedForms(double t60, double direct) {
  const double k = decayRate(t60);
  const auto clarity = [&](double te) {
    return 10 * std::log10((direct + 1 - std::exp(-k * te)) / std::exp(-k * te));
  };
  return {clarity(0.05), clarity(0.08), 100 * (direct + 1 - std::exp(-k * 0.05)) / (direct + 1),
          1000 / k / (direct + 1)};
}

// Sylvester's Hadamard matrix: any two columns are orthogonal over the rows.
double hadamardSign(int row, int column) {
  return std::popcount(static_cast<unsigned>(row & column)) % 2 == 0 ? 1.0 : -1.0;
}

struct Room {
  double t60 = 1;
  double direct = 1;  // D / R; 0: no direct sound
  int positions = 4;  // 8 for the 125 Hz octave's longer band images
  bool operator<(const Room& o) const {
    return std::tie(t60, direct, positions) < std::tie(o.t60, o.direct, o.positions);
  }
};

// The positions of a room, R = 1e-3 over a steady floor 90 dB below R.
// Without a direct sound the decay's first millisecond arrives at time 0 on
// its own (in column 0), so that the onset lies at the start of the decay.
std::vector<std::vector<double>> positions(const Room& room) {
  const double k = decayRate(room.t60), scale = std::sqrt(1e-3);
  const size_t n = static_cast<size_t>((kDirectAt + room.t60 + 0.2) * kRate);
  const size_t at = static_cast<size_t>(kDirectAt * kRate);
  std::mt19937 random(7);
  std::normal_distribution<double> gauss;
  std::vector<double> floor(n);
  for (double& v : floor) v = 3e-5 * scale * gauss(random);
  struct Arrival {
    double t, energy;
    int column;
  };
  std::vector<Arrival> arrivals;
  double start = 0;
  if (room.direct > 0) {
    arrivals.push_back({0, room.direct, 0});
  } else {
    start = 0.001;
    arrivals.push_back({0, 1 - std::exp(-k * start), 0});
  }
  for (int j = 0; (j + 1) * kSpacing < room.t60; ++j) {
    const double a = std::max(start, j * kSpacing), b = (j + 1) * kSpacing;
    const double energy = std::exp(-k * a) - std::exp(-k * b);
    const double centre = (a * std::exp(-k * a) - b * std::exp(-k * b)) / energy + 1 / k;
    arrivals.push_back({centre, energy, 1 + j % (room.positions - 1)});
  }
  std::vector<std::vector<double>> out(static_cast<size_t>(room.positions), floor);
  for (int p = 0; p < room.positions; ++p) {
    for (const Arrival& a : arrivals) {
      out[static_cast<size_t>(p)][at + static_cast<size_t>(std::lround(a.t * kRate))] +=
          hadamardSign(p, a.column) * scale * std::sqrt(a.energy);
    }
  }
  return out;
}

struct Measured {
  std::vector<std::vector<double>> responses;
  measure::ReverbReport report;
};

// The layer's analysis of a room's positions and their ensemble in the
// octaves firstBand to lastBand, made once.
const Measured& measured(const Room& room, int firstBand, int lastBand) {
  static std::map<std::tuple<Room, int, int>, Measured> made;
  const auto key = std::make_tuple(room, firstBand, lastBand);
  if (const auto found = made.find(key); found != made.end()) return found->second;
  Measured m;
  m.responses = positions(room);
  std::vector<measure::AudioView> views;
  for (size_t i = 0; i < m.responses.size(); ++i)
    views.push_back(
        {"position " + std::to_string(i + 1), m.responses[i].data(), m.responses[i].size(), kRate, 0, ""});
  measure::ReverbOptions options;
  options.bands = {measure::BandResolution::Octave, firstBand, lastBand};
  m.report = measure::measureReverberation(views, options);
  return made.emplace(key, std::move(m)).first->second;
}

std::string nameOf(const Room& room, int band) {
  return "T " + std::to_string(room.t60) + " s, D/R " + std::to_string(room.direct) + ", band " +
         std::to_string(band);
}

void expectNear(const measure::EnergyParameters& e, const Figures& f, const std::string& what,
                double clarityDb = kClarityDb, double definitionPoints = kDefinitionPoints,
                double centreShare = kCentreShare) {
  EXPECT_NEAR(e.c50Db, f.c50Db, clarityDb) << what;
  EXPECT_NEAR(e.c80Db, f.c80Db, clarityDb) << what;
  EXPECT_NEAR(e.d50Percent, f.d50Percent, definitionPoints) << what;
  EXPECT_NEAR(e.tsMs, f.tsMs, centreShare * f.tsMs) << what;
}

// The mean of the single positions' figures in one band.
measure::EnergyParameters meanOfPositions(const measure::ReverbReport& report, size_t band) {
  measure::EnergyParameters mean{0, 0, 0, 0};
  const double count = static_cast<double>(report.positions.size());
  for (const measure::ImpulseResult& p : report.positions) {
    const measure::EnergyParameters& e = p.bands[band].energy;
    mean.c50Db += e.c50Db / count;
    mean.c80Db += e.c80Db / count;
    mean.d50Percent += e.d50Percent / count;
    mean.tsMs += e.tsMs / count;
  }
  return mean;
}

// Every band of one analysis against the closed forms: the ensemble, the mean
// of the positions, and from 1 kHz on each position.
void expectClosedForms(const Room& room, int firstBand, int lastBand, double clarityDb = kClarityDb) {
  const Measured& m = measured(room, firstBand, lastBand);
  ASSERT_EQ(m.report.positions.size(), static_cast<size_t>(room.positions));
  ASSERT_TRUE(m.report.ensemble.has_value());
  const Figures expected = closedForms(room.t60, room.direct);
  for (size_t b = 0; b < m.report.ensemble->bands.size(); ++b) {
    const int band = m.report.ensemble->bands[b].band;
    const std::string what = nameOf(room, band);
    ASSERT_EQ(m.report.ensemble->bands[b].status, 0) << what;
    expectNear(m.report.ensemble->bands[b].energy, expected, what + ", ensemble", clarityDb);
    expectNear(meanOfPositions(m.report, b), expected, what + ", mean of the positions", clarityDb);
    if (band < k1kHz) continue;
    for (const measure::ImpulseResult& p : m.report.positions)
      expectNear(p.bands[b].energy, expected, what + ", " + p.name, clarityDb);
  }
}

// The case as reported (D = R, T = 1 s) in every octave 250 Hz to 4 kHz, and
// the corners of reverberation times 0.5 to 2 s and direct to reverberant
// energies 0.2 to 2 at 250 Hz, where the band filter spreads the direct sound
// furthest (17 ms).
TEST(EnergyDirectSound, SinglePositionsAndEnsemblesGiveTheClosedForms) {
  expectClosedForms({1, 1}, k250Hz, k4kHz);
  for (const Room room : {Room{0.5, 2}, Room{0.5, 0.2}, Room{2, 2}, Room{2, 0.2}})
    expectClosedForms(room, k250Hz, k250Hz);
}

// Without a direct sound the decay starts at the onset, and the figures are
// those of the exponential alone; C80 within 0.1 dB.
TEST(EnergyDirectSound, ADecayWithoutDirectSoundStaysRight) {
  expectClosedForms({0.5, 0}, k250Hz, k4kHz, 0.1);
}

// At 125 Hz the filter's image of an arrival reaches 34 ms before it: a
// smooth decay's figures still come out, from the ensemble.
TEST(EnergyDirectSound, TheLowestOctaveGivesASmoothDecaysFigures) {
  expectClosedForms({1, 1, 8}, k125Hz, k125Hz);
}

// A second path to the same figures: each response filtered forward, causally,
// through the library's band filters (a bank of its own per response, since
// the filters keep their state), squared, and summed from the direct sound's
// sample on. The forward filter delays everything by its group delay; the
// delay of a band's energy is the centre of gravity of the band's impulse
// response energy, and time 0 lies there. (The library's step delay, which
// aligns its time-reversed filtering, lies within a quarter millisecond of
// it from 250 Hz up.)
struct ForwardBand {
  std::vector<double> energy;  // from the direct sound's sample on
  double zero = 0;             // time 0 in samples from that sample
};

ForwardBand forwardEnergy(std::vector<double> x, size_t from, int band) {
  ForwardBand out;
  tvm_lock_library();
  initTavrix();
  const int32_t bank = initFilterBank(1, band, band);
  std::vector<double> impulse(kRate / 2, 0.0);
  impulse[0] = 1;
  filterSingleBand(bank, impulse.data(), static_cast<int32_t>(impulse.size()), band);
  deleteFilterBank(bank);
  const int32_t fresh = initFilterBank(1, band, band);
  filterSingleBand(fresh, x.data(), static_cast<int32_t>(x.size()), band);
  deleteFilterBank(fresh);
  tvm_unlock_library();
  double sum = 0, moment = 0;
  for (size_t i = 0; i < impulse.size(); ++i) {
    sum += impulse[i] * impulse[i];
    moment += static_cast<double>(i) * impulse[i] * impulse[i];
  }
  out.zero = moment / sum;
  tvm_lock_library();
  const int32_t delays = initFilterBank(1, band, band);
  EXPECT_NEAR(out.zero, getStepDelay(delays, band), 0.25e-3 * kRate) << band;
  deleteFilterBank(delays);
  tvm_unlock_library();
  for (size_t i = from; i < x.size(); ++i) out.energy.push_back(x[i] * x[i]);
  return out;
}

measure::EnergyParameters figuresOf(const std::vector<double>& energy, double zero) {
  double total = 0, moment = 0, e50 = 0, e80 = 0;
  for (size_t i = 0; i < energy.size(); ++i) {
    const double t = (static_cast<double>(i) - zero) / kRate;
    total += energy[i];
    moment += t * energy[i];
    if (t < 0.05) e50 += energy[i];
    if (t < 0.08) e80 += energy[i];
  }
  return {10 * std::log10(e50 / (total - e50)), 10 * std::log10(e80 / (total - e80)), 100 * e50 / total,
          1000 * moment / total};
}

TEST(EnergyDirectSound, ForwardFilteringAgrees) {
  for (const auto& [room, firstBand, lastBand] :
       {std::make_tuple(Room{1, 1}, k250Hz, k4kHz), std::make_tuple(Room{0.5, 2}, k250Hz, k250Hz)}) {
    const Measured& m = measured(room, firstBand, lastBand);
    const size_t at = static_cast<size_t>(kDirectAt * kRate);
    for (size_t b = 0; b < m.report.ensemble->bands.size(); ++b) {
      const int band = m.report.ensemble->bands[b].band;
      const std::string what = nameOf(room, band);
      // The positions' mean energy, as the ensemble's. The two filters
      // spread an arrival to opposite sides, so where an image is a few
      // milliseconds long (250 Hz) they share the arrivals next to a limit
      // out a little differently.
      std::vector<double> mean;
      double zero = 0;
      for (size_t p = 0; p < m.responses.size(); ++p) {
        const ForwardBand f = forwardEnergy(m.responses[p], at, band);
        if (mean.empty()) mean.assign(f.energy.size(), 0.0);
        for (size_t i = 0; i < mean.size(); ++i) mean[i] += f.energy[i] / static_cast<double>(room.positions);
        zero = f.zero;
        // From 1 kHz on an arrival's image is shorter than the spacing: every
        // position on its own.
        if (band >= k1kHz) {
          const measure::EnergyParameters forward = figuresOf(f.energy, f.zero);
          expectNear(m.report.positions[p].bands[b].energy,
                     {forward.c50Db, forward.c80Db, forward.d50Percent, forward.tsMs},
                     what + ", " + m.report.positions[p].name, 0.05, 0.1, 0.01);
        }
      }
      const measure::EnergyParameters forward = figuresOf(mean, zero);
      expectNear(m.report.ensemble->bands[b].energy,
                 {forward.c50Db, forward.c80Db, forward.d50Percent, forward.tsMs}, what + ", ensemble", 0.15,
                 0.5, 0.01);
    }
  }
}

}  // namespace
}  // namespace tavrix::test

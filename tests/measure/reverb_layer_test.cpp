// Reverberation and speech transmission through the C interface: rooms whose
// decay times are known per band, ensembles and the warning about their
// levels, the doubt rules, the silence put in front of an early direct sound,
// bands without a floor.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "layer_support.h"

namespace tavrix::test {
namespace {

// The octave bands 125 Hz to 8 kHz of a hall; the outer two only keep the
// neighbours of the bands tested realistic.
const std::vector<double> kHallT60{2.0, 1.9, 1.8, 1.7, 1.6, 1.5, 1.4};

const std::vector<double>& hall(unsigned seed) {
  static std::vector<std::vector<double>> rooms(5);
  std::vector<double>& room = rooms.at(seed);
  if (room.empty()) room = octaveRoom(kHallT60, 7, 4.0, seed);
  return room;
}

// Energy falling as exp(-13.816 t / T): 60 dB in T seconds.
double c80Of(double t) { return 10 * std::log10(std::exp(1.1052 / t) - 1); }
double d50Of(double t) { return 1 - std::exp(-0.6908 / t); }
double tsOf(double t) { return t / 13.816; }

TEST(LayerReverb, HallGivesItsTimesPerBandAndCurvesOnTheirTimeScale) {
  const double ranges[] = {0, 20, 30, 100};
  tvm_reverb_options o = defaultOptions();
  o.low_hz = 250, o.high_hz = 4000, o.ranges = ranges, o.range_count = 4;
  const ReverbReport report = analyse({responseOf(hall(1))}, o);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->ensemble, nullptr);
  const tvm_source_result& p = report->positions[0];
  ASSERT_EQ(p.band_count, 5);
  EXPECT_EQ(report->evaluated_bands, 5);
  for (int b = 0; b < 5; ++b) {
    const tvm_band_result& band = p.bands[b];
    const double t60 = kHallT60[static_cast<size_t>(b) + 1];
    SCOPED_TRACE(band.label);
    EXPECT_EQ(band.band, 8 + b);
    EXPECT_NEAR(band.frequency_hz, 1000 * std::pow(10.0, 0.3 * (b - 2)), 1e-9);
    EXPECT_EQ(std::string(band.result), "ok") << band.result_text;
    EXPECT_NEAR(band.times_s[1], t60, 0.03 * t60);
    EXPECT_NEAR(band.times_s[2], t60, 0.03 * t60);
    EXPECT_TRUE(std::isnan(band.times_s[3]));  // -105 dB lies beyond any measured decay
    // The decay curve falls 60 dB per T60 on its block time scale: -15 dB
    // a quarter of T60 after the onset.
    const double blocks = 0.25 * t60 / report->block_seconds;
    ASSERT_GT(band.decay_length, blocks);
    EXPECT_NEAR(band.decay_db[static_cast<int>(blocks)], -15, 1.0);
    // The level curve starts 0.1 s before the onset; the onset lies near the peak.
    EXPECT_EQ(band.level_first_block * report->block_seconds, -0.1);
    EXPECT_GT(band.level_db[-band.level_first_block], -6);
  }
}

// One noise decay scatters by a few tenths of a decibel in C80: the mean of
// four positions (the ensemble's mean band energy) is compared.
TEST(LayerReverb, EnsembleEnergyParametersFollowTheClosedForms) {
  std::vector<tvm_response> positions;
  for (unsigned seed = 1; seed <= 4; ++seed) positions.push_back(responseOf(hall(seed)));
  tvm_reverb_options o = defaultOptions();
  o.low_hz = 250, o.high_hz = 4000, o.parameters = true;
  const ReverbReport report = analyse(positions, o);
  ASSERT_TRUE(report && report->ensemble);
  EXPECT_EQ(report->position_count, 4);
  EXPECT_EQ(report->warning_count, 0);
  EXPECT_EQ(std::string(report->positions[3].name), "response 4");
  const tvm_source_result& mean = *report->ensemble;
  EXPECT_EQ(std::string(mean.name), "mean");
  ASSERT_EQ(mean.band_count, 5 + 2);
  EXPECT_EQ(report->evaluated_bands, 5 * 7);
  for (int i = 0; i < 5; ++i) {
    const tvm_band_result& b = mean.bands[i];
    const double t = kHallT60[static_cast<size_t>(i) + 1];
    SCOPED_TRACE(b.label);
    EXPECT_NEAR(b.c80_db, c80Of(t), 0.3);
    EXPECT_NEAR(b.d50_percent / 100, d50Of(t), 0.02);
    EXPECT_NEAR(b.ts_ms / 1000, tsOf(t), 0.03 * tsOf(t));
  }
  // Broadband, the bands' decays mix.
  for (int i = 5; i < 7; ++i) {
    EXPECT_EQ(std::string(mean.bands[i].label), i == 5 ? "A" : "Z");
    EXPECT_TRUE(std::isnan(mean.bands[i].frequency_hz));
    EXPECT_GT(mean.bands[i].c80_db, c80Of(2.0));
    EXPECT_LT(mean.bands[i].c80_db, c80Of(1.4));
  }
}

// The modulation transfer of an exponential decay of reverberation time T is
// 1 / sqrt(1 + (2 pi F T / 13.8)^2) at modulation frequency F (one noise
// decay scatters about it; the mean of four positions is compared). A single
// impulse (one sample is a response) transmits every modulation: index 1.
// Speech no louder than the noise loses half of every modulation.
TEST(LayerSti, ModulationTransferOfTheHallAndOfAnImpulse) {
  double mean[7][14] = {};
  tvm_sti_result s, noisy, perfect;
  for (unsigned seed = 1; seed <= 4; ++seed) {
    const tvm_response r = responseOf(hall(seed));
    ASSERT_EQ(tvm_analyse_sti(&r, nullptr, &s), TVM_OK) << tvm_last_error();
    for (int b = 0; b < 7; ++b)
      for (int j = 0; j < 14; ++j) mean[b][j] += s.mtf[b][j] / 4;
  }
  EXPECT_FALSE(s.levels_corrected);
  for (int b = 0; b < 7; ++b) {
    EXPECT_NEAR(s.band_frequencies_hz[b], 1000 * std::pow(10.0, 0.3 * (b - 3)), 1e-9);
    for (int j = 0; j < 14; ++j) {
      const double f = std::pow(10.0, (j - 2) / 10.0);
      EXPECT_NEAR(s.modulation_frequencies_hz[j], f, 1e-12);
      EXPECT_NEAR(mean[b][j], 1 / std::hypot(1.0, 2 * M_PI * f * kHallT60[static_cast<size_t>(b)] / 13.8),
                  0.04)
          << s.band_frequencies_hz[b] << " Hz, " << f << " Hz";
    }
  }
  const double levels[7] = {60, 60, 60, 60, 60, 60, 60};
  const tvm_sti_options o{false, levels, levels};
  const tvm_response r = responseOf(hall(4));
  ASSERT_EQ(tvm_analyse_sti(&r, &o, &noisy), TVM_OK) << tvm_last_error();
  EXPECT_TRUE(noisy.levels_corrected);
  EXPECT_LT(noisy.male, s.male - 0.1);
  const std::vector<double> one{0.5};
  const tvm_response impulse = responseOf(one);
  ASSERT_EQ(tvm_analyse_sti(&impulse, nullptr, &perfect), TVM_OK) << tvm_last_error();
  EXPECT_NEAR(perfect.male, 1, 1e-9);
  EXPECT_NEAR(perfect.female, 1, 1e-9);
}

// The ensemble averages band energies: a position much louder than the
// other decides the mean alone. Two copies of one decay 9.5 and 10.5 dB apart
// lie on either side of the 10 dB from which the layer warns; their mean
// decays as each copy does.
TEST(LayerReverb, PositionsMoreThanTenDecibelsApartAreWarnedAbout) {
  const std::vector<double> near = decayingNoise(0.6, 1.2, 0.6, 4);
  tvm_reverb_options o = defaultOptions();
  o.low_hz = o.high_hz = 1000;
  std::vector<std::tuple<int, int, std::string>> steps;
  o.progress_data = &steps;
  o.progress = [](void* data, int32_t done, int32_t total, const char* what) {
    static_cast<decltype(steps)*>(data)->emplace_back(done, total, what);
  };
  for (double apart : {9.5, 10.5, 20.0}) {
    SCOPED_TRACE(apart);
    std::vector<double> far = near;
    for (double& v : far) v *= std::pow(10.0, -apart / 20);
    steps.clear();
    const ReverbReport report = analyse({responseOf(near, "near.wav"), responseOf(far, "far.wav")}, o);
    ASSERT_TRUE(report && report->ensemble);
    EXPECT_EQ(report->evaluated_bands, 3);
    // (The ensemble's decay starts one sample after its members'.)
    EXPECT_NEAR(report->ensemble->bands[0].times_s[3], report->positions[0].bands[0].times_s[3], 1e-4);
    if (apart < 10) {
      EXPECT_EQ(report->warning_count, 0);
    } else {
      ASSERT_EQ(report->warning_count, 1);
      char words[64];
      std::snprintf(words, sizeof words, "differ by up to %.1f dB (1 kHz: near.wav above far.wav)", apart);
      EXPECT_TRUE(contains(report->warnings[0], words)) << report->warnings[0];
    }
    using Step = std::tuple<int, int, std::string>;
    EXPECT_EQ(steps,
              (std::vector<Step>{
                  {0, 3, "near.wav 1 kHz"}, {1, 3, "far.wav 1 kHz"}, {2, 3, "mean 1 kHz"}, {3, 3, "done"}}));
  }
}

// A range is doubted when its non-linearity 1000 (1 - r2) exceeds 10 per
// mille at 20 dB and more, 40 at 10 dB (the same scatter about a line takes a
// quarter as much from r2 over twice the range), and a curvature (T30 over
// T20) beyond 10 % either way; the early decay is not expected to be
// straight, and T10 is judged only where no longer range gave a time. This
// decay's 500 Hz band curves by 10.4 % with straight ranges; its 125 Hz band
// fits T10 and T20 poorly and its early decay worse. Asked for EDT and T10
// alone, T10 is judged.
TEST(LayerReverb, DoubtsFollowTheFitOfEachRangeAndTheCurvature) {
  const double ranges[] = {0, 10, 20, 30};
  tvm_reverb_options o = defaultOptions();
  o.ranges = ranges, o.range_count = 4;
  const ReverbReport report = analyse({responseOf(decayingNoise(0.8, 1.2, 0.6, 12))}, o);
  ASSERT_TRUE(report);
  const tvm_source_result& p = report->positions[0];
  ASSERT_EQ(p.band_count, 7);
  const tvm_band_result &low = p.bands[0], &curved = p.bands[2];
  ASSERT_LT(low.r2[0], 0.96);
  ASSERT_LT(low.r2[1], 0.96);
  ASSERT_GT(std::fabs(curved.curvature_percent), 10);
  ASSERT_LT(std::fabs(curved.curvature_percent), 11);
  const double shortRanges[] = {0, 10};
  o.ranges = shortRanges, o.range_count = 2;
  const ReverbReport shortOnly = analyse({responseOf(decayingNoise(0.8, 1.2, 0.6, 12))}, o);
  ASSERT_TRUE(shortOnly);
  EXPECT_TRUE(contains(shortOnly->positions[0].bands[0].doubts[0], "non-linearity of T10"));
  for (int b = 0; b < p.band_count; ++b) {
    const tvm_band_result& band = p.bands[b];
    SCOPED_TRACE(band.label);
    std::vector<std::string> expected;
    const double limit[] = {0, 0.040, 0.010, 0.010};
    const bool longerRange = std::isfinite(band.times_s[2]) || std::isfinite(band.times_s[3]);
    for (int k = longerRange ? 2 : 1; k < 4; ++k)
      if (1 - band.r2[k] > limit[k])
        expected.push_back(std::string("non-linearity of ") + report->range_names[k]);
    if (std::fabs(band.curvature_percent) > 10) expected.push_back("curvature");
    ASSERT_EQ(band.doubt_count, static_cast<int32_t>(expected.size()));
    for (size_t k = 0; k < expected.size(); ++k)
      EXPECT_TRUE(contains(band.doubts[k], expected[k])) << band.doubts[k];
    EXPECT_EQ(band.doubts[band.doubt_count], nullptr);
    EXPECT_EQ(std::string(band.result), expected.empty() ? "ok" : "doubtful");
    EXPECT_EQ(contains(band.result_text, "doubtful: "), !expected.empty()) << band.result_text;
  }
}

// The library looks for the direct sound from 0.25 s on: an earlier one gets
// half a second of silence in front, and says so. Of two equally strong
// arrivals the first is the direct sound (an echo half a second after it is
// not). A later one needs nothing, and a response that ends in its own noise
// has no silence to cut. What the analysis used is given in the file's own
// seconds, whatever silence was put in front and whatever rate the file had:
// the onset on the direct sound, the window from 0.1 s before it to the end of
// the file, and the crosspoint where the decay (60 dB in 0.4 s from 70 dB
// above the floor) meets the floor, 0.47 s after the direct sound.
TEST(LayerReverb, EarlyDirectSoundGetsSilenceInFrontAndTimesCountFromTheFile) {
  std::vector<double> early = decayingNoise(0.4, 1.0, 0.1, 5);
  early[static_cast<size_t>(0.6 * 48000)] = -early[static_cast<size_t>(0.1 * 48000)];
  const std::vector<double> late = decayingNoise(0.4, 1.5, 0.7, 5);
  const std::vector<double> resampled = decayingNoise(0.4, 1.5, 0.7, 5, 44100);
  tvm_reverb_options o = defaultOptions();
  o.low_hz = o.high_hz = 1000;
  const ReverbReport a = analyse({responseOf(early)}, o), b = analyse({responseOf(late)}, o),
                     c = analyse({responseOf(resampled, nullptr, 44100)}, o);
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(a->positions[0].lead_in_s, 0.5);
  ASSERT_EQ(a->positions[0].note_count, 1);
  EXPECT_TRUE(contains(a->positions[0].notes[0], "direct sound at 0.100 s; added 0.5 s of silence"))
      << a->positions[0].notes[0];
  const tvm_source_result& p = b->positions[0];
  EXPECT_EQ(p.lead_in_s, 0);
  EXPECT_EQ(p.silence_cut_s, 0);
  EXPECT_EQ(p.note_count, 0);
  EXPECT_NEAR(p.bands[0].times_s[3], 0.4, 0.04);
  const std::vector<std::tuple<const tvm_band_result*, double, double>> used{
      {&a->positions[0].bands[0], 0.1, 1.0}, {&p.bands[0], 0.7, 1.5}, {&c->positions[0].bands[0], 0.7, 1.5}};
  for (const auto& [band, direct, end] : used) {
    SCOPED_TRACE(direct);
    EXPECT_NEAR(band->onset_s, direct, 0.0003);
    EXPECT_NEAR(band->window_start_s, direct - 0.1, 0.0003);
    EXPECT_NEAR(band->window_end_s, end, 0.001);
    // The early response's second click at 0.6 s is no part of a decay.
    if (direct > 0.1) {
      EXPECT_NEAR(band->crosspoint_s, direct + 0.4 * 70.4 / 60, 0.02);
    }
  }
  // A mean over positions has no one file to count from.
  const ReverbReport mean = analyse({responseOf(late), responseOf(late)}, o);
  ASSERT_TRUE(mean && mean->ensemble);
  EXPECT_NEAR(mean->positions[1].bands[0].onset_s, 0.7, 0.0003);
  EXPECT_TRUE(std::isnan(mean->ensemble->bands[0].onset_s));
  EXPECT_TRUE(std::isnan(mean->ensemble->bands[0].window_start_s));
}

// Bands whose decay meets no floor: a noise-free response, where the noise
// analysis meets only rounding residue, and a window that closes while the
// decay still falls, where it finds no floor and plain backward integration
// gives the times (or the band says how little it fell).
TEST(LayerReverb, BandsWithoutANoiseFloorSaySo) {
  tvm_reverb_options o = defaultOptions();
  o.parameters = true;
  const ReverbReport clean = analyse({responseOf(decayingNoise(0.5, 2.0, 0.05, 2, 48000, 0))}, o);
  o.sweep_seconds = 1, o.tail_seconds = 0.2;
  const ReverbReport cut = analyse({responseOf(decayingNoise(0.8, 3.0, 0.6, 2, 48000, 0))}, o);
  ASSERT_TRUE(clean && cut);
  int noiseFree = 0, plain = 0, fellLittle = 0;
  for (int b = 0; b < clean->positions[0].band_count; ++b) {
    const tvm_band_result& band = clean->positions[0].bands[b];
    ASSERT_EQ(band.status, 0) << band.label;
    EXPECT_TRUE(std::isnan(band.noise_level_db) || band.noise_level_db > -200) << band.label;
    if (std::isnan(band.noise_level_db)) {
      ++noiseFree;
      EXPECT_TRUE(contains(band.result_text, "meets no noise floor")) << band.result_text;
    }
  }
  for (int b = 0; b < cut->positions[0].band_count; ++b) {
    const tvm_band_result& band = cut->positions[0].bands[b];
    SCOPED_TRACE(band.label);
    if (band.method == TVM_METHOD_PLAIN) {
      ++plain;
      EXPECT_EQ(std::string(band.method_text), "plain backward integration");
      EXPECT_TRUE(contains(band.result_text, "no noise floor found (too short)")) << band.result_text;
      EXPECT_TRUE(std::isnan(band.noise_level_db) && std::isnan(band.tail_model_db[1]));
      EXPECT_TRUE(band.times_s[0] > 0 && std::isfinite(band.c80_db) && std::isfinite(band.ts_ms));
    } else if (band.status == TAVRIX_TOO_SHORT) {
      ++fellLittle;
      EXPECT_TRUE(contains(band.result_text, "falls only")) << band.result_text;
      EXPECT_TRUE(std::isnan(band.times_s[0]) && std::isnan(band.c80_db));
    }
  }
  EXPECT_GT(noiseFree, 0);
  EXPECT_GT(plain, 0);
  EXPECT_GT(fellLittle, 0);
}

}  // namespace
}  // namespace tavrix::test

namespace tavrix::test {
namespace {

// An end far below the steady noise before it (an author's fade, a gate) holds
// neither decay nor noise: it is cut, said, and the times are those of the
// response without it. A floor to the end, or a noise-free decay without any
// floor, keep every sample.
TEST(LayerReverb, EndsFarBelowTheNoiseAreCutButFloorsAndCleanDecaysKept) {
  constexpr int kRate = 48000;
  const std::vector<double> room = decayingNoise(0.6, 2.0, 0.1, 21);
  std::vector<double> faded = room;
  const size_t fadeStart = static_cast<size_t>(1.5 * kRate), fadeLength = kRate / 20;
  for (size_t i = fadeStart; i < faded.size(); ++i) {
    const double k = static_cast<double>(i - fadeStart) / fadeLength;
    faded[i] *= k < 1 ? 0.5 * (1 + std::cos(std::numbers::pi * k)) : 1e-9;  // the gate leaves -180 dB
  }
  const std::vector<double> byHand(room.begin(), room.begin() + static_cast<std::ptrdiff_t>(fadeStart));
  const ReverbReport cut = analyse({responseOf(faded)}, defaultOptions());
  const ReverbReport reference = analyse({responseOf(byHand)}, defaultOptions());
  ASSERT_TRUE(cut && reference);
  const tvm_source_result &p = cut->positions[0], &q = reference->positions[0];
  // The cut starts where the fade has taken 3 dB off the floor, 25 ms in.
  EXPECT_NEAR(p.end_cut_s, 0.475, 0.011);
  EXPECT_EQ(q.end_cut_s, 0);
  ASSERT_GE(p.note_count, 1);
  EXPECT_TRUE(contains(p.notes[0], "below the steady noise")) << p.notes[0];
  for (int b = 0; b < p.band_count; ++b) {
    SCOPED_TRACE(p.bands[b].label);
    EXPECT_TRUE(p.bands[b].evaluated);
    EXPECT_NEAR(p.bands[b].times_s[3], q.bands[b].times_s[3], 0.02 * q.bands[b].times_s[3]);
    EXPECT_NEAR(p.bands[b].noise_level_db, q.bands[b].noise_level_db, 1.0);
  }
  // keep_silence keeps the faded end too.
  tvm_reverb_options keep = defaultOptions();
  keep.keep_silence = true;
  EXPECT_EQ(analyse({responseOf(faded)}, keep)->positions[0].end_cut_s, 0);

  std::vector<double> clean(static_cast<size_t>(2.0 * kRate), 0.0);
  std::mt19937 random(3);
  std::normal_distribution<double> gauss;
  for (size_t i = kRate / 10; i < clean.size(); ++i)
    clean[i] = gauss(random) * std::pow(10.0, -3.0 * static_cast<double>(i) / kRate / 0.3);
  for (const std::vector<double>* x : std::vector<const std::vector<double>*>{&room, &clean}) {
    const ReverbReport kept = analyse({responseOf(*x)}, defaultOptions());
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->positions[0].end_cut_s, 0);
  }
}

}  // namespace
}  // namespace tavrix::test

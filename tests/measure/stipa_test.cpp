// STIPA from an impulse response. Two pieces of evidence: the layer's own
// modulation transfer and index, run at the full index's fourteen modulation
// frequencies, give the library's matrix and index; and an exponential decay
// of time T, whose squared response falls as exp(-k t), k = 6 ln 10 / T, has
// the closed-form modulation transfer
//   m(F) = 1 / sqrt(1 + (2 pi F / k)^2).
#include "stipa.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "layer_support.h"
#include "sti_analysis.h"
#include "tavrix_measure.h"

namespace tavrix::test {
namespace {

using measure::indexFromMtf;

tvm_sti_result stiOf(const std::vector<double>& x, const std::vector<double>& signal = {},
                     const std::vector<double>& noise = {}) {
  const tvm_response r = responseOf(x);
  tvm_sti_options o{};
  o.signal_db = signal.empty() ? nullptr : signal.data();
  o.noise_db = noise.empty() ? nullptr : noise.data();
  tvm_sti_result out{};
  EXPECT_EQ(tvm_analyse_sti(&r, &o, &out), TVM_OK) << tvm_last_error();
  return out;
}

TEST(Stipa, ItsModulationTransferAndIndexAreTheFullIndexs) {
  const std::vector<double> x = octaveRoom({2.2, 1.8, 1.5, 1.2, 1.0, 0.8, 0.6}, 7, 2.5, 11);
  const std::vector<double> signal{60, 62, 65, 63, 58, 54, 50}, noise{55, 50, 52, 45, 40, 44, 45};
  const tvm_sti_result plain = stiOf(x), levelled = stiOf(x, signal, noise);
  const std::vector<std::vector<double>> envelopes = measure::octaveEnvelopes(x);
  std::vector<std::vector<double>> mtf(7);
  for (size_t b = 0; b < 7; ++b) {
    for (int j = 0; j < 14; ++j) {
      mtf[b].push_back(measure::modulationTransfer(envelopes[b], 48000, measure::modulationFrequency(j)));
      EXPECT_NEAR(mtf[b].back(), plain.mtf[b][j], 1e-9) << "band " << b << ", F " << j;
    }
  }
  EXPECT_NEAR(indexFromMtf(mtf, true, {}, {}), plain.male, 1e-9);
  EXPECT_NEAR(indexFromMtf(mtf, false, {}, {}), plain.female, 1e-9);
  EXPECT_NEAR(indexFromMtf(mtf, true, signal, noise), levelled.male, 1e-9);
  EXPECT_NEAR(indexFromMtf(mtf, false, signal, noise), levelled.female, 1e-9);
  // STIPA is corrected for the levels as the full index is.
  std::vector<std::vector<double>> stipaMtf(7);
  for (size_t b = 0; b < 7; ++b) stipaMtf[b] = {levelled.stipa_mtf[b][0], levelled.stipa_mtf[b][1]};
  EXPECT_NEAR(levelled.stipa_male, indexFromMtf(stipaMtf, true, signal, noise), 1e-12);
  EXPECT_NEAR(levelled.stipa_female, indexFromMtf(stipaMtf, false, signal, noise), 1e-12);
  EXPECT_LT(levelled.stipa_male, plain.stipa_male - 0.02);
}

TEST(Stipa, AnExponentialDecayGivesItsClosedForm) {
  const std::vector<double> t60{2.4, 2.0, 1.6, 1.3, 1.1, 0.9, 0.7};
  const tvm_sti_result r = stiOf(octaveRoom(t60, 7, 4.0, 12));
  std::vector<std::vector<double>> expected(7);
  for (size_t b = 0; b < 7; ++b) {
    const double k = 6 * std::log(10.0) / t60[b];
    for (int i = 0; i < 2; ++i) {
      const double f = r.stipa_modulation_frequencies_hz[b][i];
      EXPECT_DOUBLE_EQ(f, measure::stipaModulationFrequency(static_cast<int>(b), i));
      expected[b].push_back(1 / std::sqrt(1 + std::pow(2 * std::numbers::pi * f / k, 2)));
      // Below 500 Hz one decay's noise scatters its band's sums by more.
      if (b >= 2) {
        EXPECT_NEAR(r.stipa_mtf[b][i], expected[b].back(), 0.02) << "band " << b;
      }
    }
  }
  EXPECT_DOUBLE_EQ(r.stipa_modulation_frequencies_hz[0][0], 1.6);
  EXPECT_DOUBLE_EQ(r.stipa_modulation_frequencies_hz[6][1], 12.5);
  EXPECT_NEAR(r.stipa_male, indexFromMtf(expected, true, {}, {}), 0.02);
  EXPECT_NEAR(r.stipa_female, indexFromMtf(expected, false, {}, {}), 0.02);
  // The two frequencies per band sample what the fourteen sample.
  EXPECT_NEAR(r.stipa_male, r.male, 0.03);
}

}  // namespace
}  // namespace tavrix::test

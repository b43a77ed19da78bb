// The band energy is filtered only from the window end plus the band filter's
// settling length: every value the analysis reads must equal the one from the
// pass over the whole stored segment.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "filters/filter_bank.h"
#include "numeric/scalar_rules.h"
#include "reverberation/band_evaluation.h"
#include "reverberation/reverberation_analysis.h"

namespace tavrix {
namespace {

// Background noise, a direct sound at 0.5 s and a diffuse decay of the given
// reverberation time, 7 s at 48 kHz.
std::vector<double> room(double reverbTime, double background, unsigned seed) {
  const double fs = 48000.0;
  std::mt19937 gen(seed);
  std::normal_distribution<double> gauss;
  std::vector<double> h(static_cast<size_t>(7 * fs));
  const size_t direct = static_cast<size_t>(0.5 * fs);
  for (size_t i = 0; i < h.size(); ++i) {
    h[i] = background * gauss(gen);
    if (i == direct) h[i] += 1.0;
    if (i > direct)
      h[i] += 0.1 * gauss(gen) * std::pow(10.0, -3.0 * static_cast<double>(i - direct) / (reverbTime * fs));
  }
  return h;
}

// Every output of one band evaluation, in one array.
std::vector<double> evaluate(const ReverberationAnalysis& analysis, int32_t band) {
  const int32_t capacity = reverbMaxImpulseLength(analysis);
  std::vector<double> levels(static_cast<size_t>(capacity)), decay(levels), scalars(14);
  int32_t levelLength = 0, onsetOffset = 0;
  const double ranges[3] = {0, 20, 30};
  BandOutputs out;
  out.levelCurveDb = levels.data();
  out.levelCurveLength = &levelLength;
  out.decayCurveDb = decay.data();
  out.decayCurveEnd = &scalars[0];
  out.noiseLevelDb = &scalars[1];
  out.tailModelDb = &scalars[2];
  out.decayStartLevelDb = &scalars[4];
  out.onsetOffset = &onsetOffset;
  out.peakLevelDb = &scalars[5];
  out.reverbTimes = &scalars[6];
  out.fitQuality = &scalars[9];
  out.dynamicRange = &scalars[12];
  out.curvature = &scalars[13];
  EXPECT_EQ(evaluateBand(analysis, band, ranges, 3, 0, out), 0) << band;
  levels.resize(static_cast<size_t>(levelLength));
  decay.resize(static_cast<size_t>(scalars[0] + 1));
  scalars.push_back(levelLength);
  scalars.push_back(onsetOffset);
  scalars.insert(scalars.end(), levels.begin(), levels.end());
  scalars.insert(scalars.end(), decay.begin(), decay.end());
  return scalars;
}

TEST(BandSpan, WindowedPassGivesTheWholeSegmentResults) {
  struct Room {
    double reverbTime, background;
  };
  struct Bank {
    int32_t resolution, first, last;
  };
  const Room rooms[] = {{0.3, 1e-4}, {1.5, 1e-3}, {3.5, 1e-5}};
  const Bank banks[] = {{1, 4, 14}, {2, 12, 43}, {3, 49, 174}};
  int shortened = 0;
  for (const Room& r : rooms) {
    const std::vector<double> h = room(r.reverbTime, r.background, 17);
    // A 4 s sweep and a 1.5 s tail: the segment is about twice the window.
    ReverberationAnalysis analysis;
    ASSERT_EQ(reverbPrepare(analysis, h.data(), static_cast<int32_t>(h.size()), 48000.0, 4.0, 1.5), 0);
    for (const Bank& b : banks) {
      analysis.filterBank = bankCreate(b.resolution, b.first, b.last);
      for (int32_t band : {b.first, b.last, kBandAWeighting, kBandUnfiltered}) {
        BandEnergy energy;
        ASSERT_EQ(bandEnergy(analysis, band, energy), 0);
        shortened += energy.energy.size() < analysis.realSegment.size();
        analysis.wholeSegmentPasses = false;
        const std::vector<double> windowed = evaluate(analysis, band);
        analysis.wholeSegmentPasses = true;
        const std::vector<double> whole = evaluate(analysis, band);
        analysis.wholeSegmentPasses = false;
        ASSERT_EQ(windowed.size(), whole.size());
        for (size_t i = 0; i < whole.size(); ++i) {
          if (std::isnan(whole[i])) {
            EXPECT_TRUE(std::isnan(windowed[i])) << i;
            continue;
          }
          ASSERT_NEAR(windowed[i], whole[i], 1e-12 * std::max(1.0, std::fabs(whole[i])))
              << r.reverbTime << " s, resolution " << b.resolution << ", band " << band << ", output " << i;
        }
      }
    }
  }
  // The high bands settle quickly: their passes must have been shortened.
  EXPECT_GE(shortened, 9);
}

}  // namespace
}  // namespace tavrix

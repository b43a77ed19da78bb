#include "reverberation/decay_analysis.h"

#include <cmath>

#include "numeric/scalar_rules.h"
#include "reverberation/crosspoint.h"

namespace tavrix {

namespace {

// Length of the blocks that give the first, coarse look at the decay.
constexpr double kBlockSeconds = 0.01;
// The first noise estimate averages the last 10 % of the blocks (plus one).
constexpr double kNoiseBlockFraction = 0.1;
// Without a block below the first noise estimate, the preliminary fit may
// reach up to 90 % of the blocks.
constexpr double kNoiseCrossingFallback = 0.9;
// Interval counts per 10 dB of decay, from fine to coarse: fine intervals
// follow the decay closely, coarse ones average more noise.
constexpr int kIntervalsPer10Db[] = {10, 5, 3, 1};
// The crosspoint search needs at least this many intervals.
constexpr int32_t kMinIntervals = 10;

// Late-decay fit by peak-to-noise class 1..4: the dB span it covers, and the
// time it keeps clear before the crosspoint (one ten-decibel time, half of it
// in the two lower classes). A poor peak-to-noise ratio leaves only a short
// stretch of clean decay to fit.
constexpr double kFitRangeDb[] = {5.0, 15.0, 20.0, 25.0};
constexpr double kLowClassMarginFactor = 0.5;

double toDb(double energy) { return 10.0 * std::log10(energy); }

double fitMargin(int cls, double t10) { return cls >= 3 ? t10 : t10 * kLowClassMarginFactor; }

// Outcome of the coarse 10 ms block stage: where the crosspoint search starts
// and how fast the decay falls.
struct Preliminary {
  int32_t status = 0;
  double tc0 = 0.0;  // s
  double t10 = 0.0;  // s for 10 dB of decay
  int cls = 1;
};

Preliminary preliminaryDecay(const double* e, int32_t n, double fs) {
  Preliminary r;
  r.status = kDecayNoDecayAboveNoise;
  const double peakDb = toDb(indexOfFirstMax(e, n).value);

  // Blocks of w0 samples, w0 not rounded: block i covers the 1-based samples
  // trunc((i - 1) w0 + 1) .. trunc(i w0). With w0 >= 1 every block holds at
  // least one sample and the last ends inside the envelope.
  const double w0 = fs * kBlockSeconds;
  if (!(w0 >= 1.0) || n < 1) return r;
  const double blockCount = std::floor(n / w0);
  if (!(blockCount >= 1.0)) return r;
  const int32_t nB = static_cast<int32_t>(blockCount);
  DynArray<double> blocks(nB);
  for (int32_t k = 0; k < nB; ++k) {
    const int32_t first = static_cast<int32_t>(k * w0 + 1.0);
    const int32_t last = static_cast<int32_t>((k + 1) * w0);
    blocks[k] = meanOf(OneBased{e}.from(first), last - first + 1);
  }
  const OneBased b{blocks.data()};  // b(i) is block i

  const int32_t q = static_cast<int32_t>(std::floor(kNoiseBlockFraction * nB));
  const double noise0 = meanOf(b.from(nB - q), q + 1);
  const double noise0Db = toDb(noise0);
  const int32_t ip = indexOfFirstMax(blocks.data(), nB).position;

  int32_t t1 = static_cast<int32_t>(roundHalfAway(kNoiseCrossingFallback * nB));
  for (int32_t i = ip; i <= nB; ++i) {
    if (b(i) < noise0) {
      t1 = i;
      break;
    }
  }
  // The preliminary fit ends at the last block, searching back from the noise
  // crossing, that lies more than 10 dB above the first noise estimate.
  int32_t t2 = 0;
  for (int32_t i = t1; i >= ip; --i) {
    if (b(i) > 10.0 * noise0) {
      t2 = i;
      break;
    }
  }
  if (t2 == 0) return r;
  if (t2 == ip) t2 = ip + 1;
  // Only a peak in the last block gets here with t2 past the blocks (for
  // negative energies); there is no decay to fit.
  if (t2 > nB) return r;

  const int32_t m = t2 - ip + 1;
  DynArray<double> x(m), y(m);
  for (int32_t k = 0; k < m; ++k) {
    x[k] = ip + k;
    y[k] = toDb(b(ip + k));
  }
  const Line line = fitLine(x.data(), y.data(), m);  // dB, dB per block

  DynArray<double> distance(nB);
  for (int32_t k = 0; k < nB; ++k) distance[k] = std::fabs(line.intercept + line.slope * (k + 1) - noise0Db);
  const int32_t ic = indexOfFirstMin(distance.data(), nB).position;

  r.status = 0;
  r.tc0 = (ic - 1) * kBlockSeconds;
  r.t10 = (-10.0 / line.slope) * kBlockSeconds;
  r.cls = decayFitClass(peakDb - noise0Db);
  return r;
}

}  // namespace

int decayFitClass(double peakToNoiseDb) {
  if (peakToNoiseDb > 45.0) return 4;
  if (peakToNoiseDb > 30.0) return 3;
  if (peakToNoiseDb > 20.0) return 2;
  return 1;
}

void integrateBackward(const double* energy, int32_t n, double tc, double fs, double tailSamples,
                       double noise, DynArray<double>& curve) {
  if (n < 0) n = 0;
  double k = roundHalfAway(tc * fs - 1.0);
  if (!(k >= 1.0)) k = 0.0;
  if (k > 2.0 * n) k = 2.0 * n;
  const int32_t len = static_cast<int32_t>(k);
  curve.resize(len);
  for (int32_t j = 0; j < len; ++j) {
    double w = j < n ? energy[j] - noise : 0.0;
    if (w < 0.0) w = 0.0;
    curve[j] = w;
  }
  for (int32_t j = len - 2; j >= 0; --j) curve[j] += curve[j + 1];
  for (int32_t j = 0; j < len; ++j) curve[j] += tailSamples;
}

DecayAnalysis analyzeDecay(const double* energy, int32_t n, double fs) {
  DecayAnalysis r;
  r.decayCurve.resize(1);
  if (n < 0) n = 0;

  const Preliminary pre = preliminaryDecay(energy, n, fs);
  if (pre.status != 0) {
    r.status = pre.status;
    return r;
  }
  const double t10 = pre.t10;

  // Interval trials. A found crosspoint leaves its interval means, length and
  // class behind for the final fit.
  DynArray<double> means;
  double dt = 0.0;
  int cls = pre.cls;
  CrosspointSearch found;
  bool converged = false;
  for (const int perTen : kIntervalsPer10Db) {
    dt = t10 / perTen;
    const double w = std::floor(fs * dt);
    // Intervals shorter than a sample (or a non-finite decay time) cannot be
    // formed; they end the analysis like too few intervals.
    if (!(w >= 1.0) || !(std::floor(n / w) >= kMinIntervals)) {
      r.status = kDecayTooFewIntervals;
      return r;
    }
    const int32_t width = static_cast<int32_t>(w);
    const int32_t count = n / width;
    means.resize(count);
    for (int32_t i = 0; i < count; ++i) means[i] = sumOf(energy + i * width, width) / width;

    // Fine intervals try the class of the peak-to-noise ratio only; coarse
    // ones fall back to lower classes with their shorter fits.
    for (cls = pre.cls; cls >= 1; --cls) {
      const double margin = fitMargin(cls, t10);
      found = iterateCrosspoint(pre.tc0, means.data(), count, dt, t10, margin, kFitRangeDb[cls - 1]);
      r.noiseLevel = found.noiseLevel;
      if (found.status == 0) {
        converged = true;
        break;
      }
      if (perTen >= 5) break;
    }
    if (converged) break;
  }
  if (!converged) {
    r.status = kDecayNoCrosspoint;
    return r;
  }

  const double tc = found.crosspointTime;
  const double noise = found.noiseLevel;
  const LateDecayFit late =
      fitLateDecay(means.data(), means.size(), tc, t10, fitMargin(cls, t10), dt, kFitRangeDb[cls - 1]);
  double tailEnergy = 0.0;
  if (late.status != 0) {
    r.status = kDecayLateFitFailed;
  } else {
    // Exponential tail through the fitted level at time 0 and the noise level
    // at the crosspoint; its energy beyond the crosspoint is -E0 g / A.
    const double e0 = powerChecked(10.0, late.line.intercept / 10.0);
    const double rate = std::log(noise / e0) / tc;
    const double g = std::exp(tc * rate);
    r.tailModel[0] = e0;
    r.tailModel[1] = g * e0;
    tailEnergy = -e0 / rate * g;
    r.status = 0;
  }
  integrateBackward(energy, n, tc, fs, tailEnergy * fs, noise, r.decayCurve);
  r.crosspointSample = roundHalfAway(fs * tc - 1.0);
  r.noiseLevel = noise;
  return r;
}

}  // namespace tavrix

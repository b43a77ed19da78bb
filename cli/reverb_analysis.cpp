#include "reverb_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "cli_error.h"
#include "library_client.h"
#include "output.h"
#include "tavrix.h"

namespace tavrix::cli {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The library looks for the direct sound from 0.25 s on and keeps half a
// second before it; a response whose direct sound comes earlier (most files
// cut by other tools start with it) gets this much silence in front.
constexpr double kLeadInSeconds = 0.5;

// The curves are kept as 5 ms block means: fine enough to draw a decay and
// small enough to keep. The library is asked for them sample by sample and the
// blocks are formed here, so that the level curve stays relative to the
// band's peak sample, the reference of the noise level and the late-decay
// model. (The library's own block averaging would refer the level curve to
// its loudest block instead.)
constexpr double kBlockSeconds = 0.005;

// A reverberation time of exactly -10 s is the library's mark for "the decay
// curve never reaches the end of this range".
constexpr double kNotReached = -10.0;

struct Prepared {
  ReverbHandle handle;
  ImpulseResult result;
};

Prepared prepare(const ImpulseInput& input, const ReverbOptions& options) {
  const std::vector<double>& x = *input.samples;
  const double fs = input.sampleRate;
  size_t peak = 0;
  for (size_t i = 1; i < x.size(); ++i) {
    if (std::fabs(x[i]) > std::fabs(x[peak])) peak = i;
  }
  const size_t lead = peak < static_cast<size_t>(std::lround(kLeadInSeconds * fs))
                          ? static_cast<size_t>(std::lround(kLeadInSeconds * fs))
                          : 0;
  if (x.size() + lead > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    processingError(input.name + ": too long for the analysis (2^31 - 1 samples); shorten the file");
  }
  std::vector<double> y(lead + x.size(), 0.0);
  std::copy(x.begin(), x.end(), y.begin() + static_cast<std::ptrdiff_t>(lead));
  if (options.verbose && lead > 0) {
    std::fprintf(stderr,
                 "%s: direct sound at %.3f s; put %.1f s of silence in front so the onset search sees it\n",
                 input.name.c_str(), peak / fs, kLeadInSeconds);
  }

  double sweep = options.sweepDuration;
  double tail = options.tailDuration;
  const double seconds = static_cast<double>(y.size()) / fs;
  if (sweep <= 0) {
    // Whole file: the library's window ends (sweep + tail + 1) s minus the
    // sweep after the start, and the peak search covers the first half of
    // that span. A one-sample "sweep" and a span half a second longer than
    // the file let the window reach the end of the file.
    sweep = 1.0 / fs;
    tail = seconds - 0.5 - sweep;
  }
  if (seconds < 1.0) {
    processingError(
        input.name + ": only " + fixed(x.size() / fs, 3) +
        " s long; the decay analysis needs a response of at least half a second after the direct sound");
  }

  Prepared p;
  p.result.name = input.name;
  p.result.sampleRate = input.sampleRate;
  p.result.leadInSeconds = lead / fs;
  p.handle = ReverbHandle(initReverberation(y.data(), static_cast<int32_t>(y.size()), fs, sweep, tail));
  if (!p.handle.valid()) processingError(input.name + ": the library has no free reverberation slot left");
  if (getMaxImpulseLength(p.handle.get()) < 0) {
    processingError(
        input.name +
        ": no distinct direct sound found (the energy never rises clearly above what precedes it); "
        "check that the file is an impulse response");
  }
  const BandSet& b = options.bands;
  if (initReverberationFilter(p.handle.get(), static_cast<int>(b.resolution), b.firstBand, b.lastBand) != 0) {
    processingError(input.name + ": the library refused the filter bank; choose bands inside the bank");
  }
  return p;
}

// Means of the energies behind dB values over blocks of b samples. Value i
// lies at sample offset + i from the onset; block k covers the samples
// k b ... (k + 1) b - 1, so block 0 starts at the onset. Returns the first
// block's index through firstBlock.
std::vector<double> blockMeansDb(const std::vector<double>& db, int offset, int b, int& firstBlock) {
  if (db.empty() || b < 1) {
    firstBlock = 0;
    return {};
  }
  const auto blockOf = [b](int64_t sample) {
    return static_cast<int>(sample >= 0 ? sample / b : -((-sample + b - 1) / b));
  };
  firstBlock = blockOf(offset);
  const int lastBlock = blockOf(offset + static_cast<int64_t>(db.size()) - 1);
  std::vector<double> sum(static_cast<size_t>(lastBlock - firstBlock + 1), 0.0), count(sum.size(), 0.0);
  for (size_t i = 0; i < db.size(); ++i) {
    if (std::isnan(db[i])) continue;
    const size_t k = static_cast<size_t>(blockOf(offset + static_cast<int64_t>(i)) - firstBlock);
    sum[k] += std::pow(10.0, db[i] / 10);
    count[k] += 1;
  }
  for (size_t k = 0; k < sum.size(); ++k) sum[k] = count[k] > 0 ? 10 * std::log10(sum[k] / count[k]) : kNaN;
  return sum;
}

BandResult evaluate(int32_t handle, int band, int blockLength, const ReverbOptions& options) {
  const int32_t maxLength = getMaxImpulseLength(handle);
  const size_t capacity = static_cast<size_t>(std::max(maxLength, 0)) + 2;
  std::vector<double> level(capacity, kNaN), decay(capacity, kNaN);
  const size_t rangeCount = options.ranges.size();
  BandResult r;
  r.band = band;
  r.times.assign(rangeCount, kNaN);
  r.fitQuality.assign(rangeCount, kNaN);
  r.dynamicRange = r.curvature = r.noiseLevelDb = r.peakLevelDb = kNaN;
  r.tailModelDb[0] = r.tailModelDb[1] = kNaN;
  int32_t levelLength = 0;
  double decayEnd = -1;
  r.status = getReverberationData(handle, band, options.ranges.data(), static_cast<int32_t>(rangeCount), 0,
                                  level.data(), &levelLength, decay.data(), &decayEnd, &r.noiseLevelDb,
                                  r.tailModelDb, r.times.data(), r.fitQuality.data(), &r.dynamicRange,
                                  &r.curvature, &r.onsetOffset, &r.peakLevelDb);
  if (r.status == -1) return r;  // nothing was written
  for (double& t : r.times) {
    if (t == kNotReached) t = kNaN;
  }
  level.resize(static_cast<size_t>(std::clamp<int64_t>(levelLength, 0, static_cast<int64_t>(capacity))));
  const double decayCount = std::isfinite(decayEnd) ? decayEnd + 1 : 0;
  decay.resize(static_cast<size_t>(std::clamp<double>(decayCount, 0, static_cast<double>(capacity))));
  int firstBlock = 0;
  r.levelCurveDb = blockMeansDb(level, r.onsetOffset, blockLength, firstBlock);
  r.onsetOffset = firstBlock;
  r.decayCurveDb = blockMeansDb(decay, 0, blockLength, firstBlock);
  return r;
}

}  // namespace

ReverbReport analyseReverberation(const std::vector<ImpulseInput>& inputs, const ReverbOptions& options) {
  ReverbReport report;
  report.blockSeconds = kBlockSeconds;
  const int rate = inputs.front().sampleRate;
  for (const ImpulseInput& in : inputs) {
    if (in.sampleRate != rate) {
      usageError(in.name + ": sampled at " + std::to_string(in.sampleRate) + " Hz, " + inputs.front().name +
                 " at " + std::to_string(rate) + " Hz; an ensemble needs one sample rate, so resample first");
    }
  }
  const int blockLength = static_cast<int>(std::lround(kBlockSeconds * rate));
  const bool withEnsemble = inputs.size() >= 2;
  const int bandCount = options.bands.count();
  Progress progress("analysing", static_cast<int>(inputs.size() + (withEnsemble ? 1 : 0)) * bandCount);
  int done = 0;

  std::vector<Prepared> prepared;
  prepared.reserve(inputs.size());
  for (const ImpulseInput& in : inputs) prepared.push_back(prepare(in, options));

  const auto evaluateAll = [&](int32_t handle, ImpulseResult& result) {
    for (int band = options.bands.firstBand; band <= options.bands.lastBand; ++band) {
      progress.step(++done, result.name + " " + bandName(options.bands.resolution, band));
      result.bands.push_back(evaluate(handle, band, blockLength, options));
    }
  };
  for (Prepared& p : prepared) {
    evaluateAll(p.handle.get(), p.result);
    report.positions.push_back(p.result);
  }
  if (withEnsemble) {
    std::vector<int32_t> handles;
    for (const Prepared& p : prepared) handles.push_back(p.handle.get());
    ReverbHandle ensemble(initReverberationEnsemble(handles.data(), static_cast<int32_t>(handles.size())));
    if (!ensemble.valid())
      processingError("the library has no free reverberation slot left for the ensemble");
    if (getMaxImpulseLength(ensemble.get()) < 0) {
      processingError(
          "the files do not form an ensemble: their direct sounds lie at different distances from "
          "the start of their analysis windows; analyse them one by one");
    }
    ImpulseResult mean;
    mean.name = "mean";
    mean.sampleRate = rate;
    evaluateAll(ensemble.get(), mean);
    report.ensemble = std::move(mean);
  }
  return report;
}

}  // namespace tavrix::cli

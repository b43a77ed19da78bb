#include "reverb_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>

#include "direct_image.h"
#include "library_client.h"
#include "measure_error.h"
#include "number_text.h"
#include "plain_decay.h"
#include "tavrix.h"
#include "window_location.h"

namespace tavrix::measure {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// More ranges than this say nothing a person reads.
constexpr int kMaxRanges = 16;

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

// A noise level this far below the band's peak is no floor a measurement
// chain can have (24-bit quantisation lies near -144 dB): the analysis met
// digital silence or a noise-free response.
constexpr double kNoFloorDb = -200;

// Where a position's analysis window lies in the samples it was created
// from, and how many of those were silence put in front of the response.
struct Placement {
  std::optional<int64_t> windowStart;
  double leadSamples = 0;
};

struct Prepared {
  ReverbHandle handle;
  ImpulseResult result;
  Placement placement;
};

// The window's first sample in y, from the unfiltered band's level curve.
// Called with the library lock held, on a handle whose filter bank is set.
std::optional<int64_t> windowStartIn(int32_t handle, const std::vector<double>& y, double fs) {
  std::vector<double> level(static_cast<size_t>(std::max(getMaxImpulseLength(handle), 0)) + 2),
      decay(level.size());
  int32_t length = 0, onsetOffset = 0;
  double decayEnd = 0, noise = 0, start = 0, peak = 0;
  if (getReverberationDataLevel(handle, kBandZ, 0, level.data(), &length, decay.data(), &decayEnd, &noise,
                                &start, &onsetOffset, &peak) == TAVRIX_FAILED)
    return std::nullopt;
  level.resize(static_cast<size_t>(std::clamp<int64_t>(length, 0, std::ssize(level))));
  return locateWindow(level, y, fs);
}

// The library's reverberation object for one conditioned response. Called
// with the library lock held.
Prepared prepare(const Response& input, const ReverbOptions& options) {
  const std::vector<double>& x = input.samples;
  const double fs = input.sampleRate;
  size_t peak = 0;
  for (size_t i = 1; i < x.size(); ++i) {
    if (std::fabs(x[i]) > std::fabs(x[peak])) peak = i;
  }
  const size_t lead = peak < static_cast<size_t>(std::lround(kLeadInSeconds * fs))
                          ? static_cast<size_t>(std::lround(kLeadInSeconds * fs))
                          : 0;
  if (x.size() + lead > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    fail(TVM_BAD_ARGUMENT, input.name + ": too long for the analysis (2^31 - 1 samples); shorten the file");
  }
  std::vector<double> y(lead + x.size(), 0.0);
  std::copy(x.begin(), x.end(), y.begin() + static_cast<std::ptrdiff_t>(lead));

  double sweep = options.sweepDuration;
  double tail = options.tailDuration;
  if (sweep <= 0) {
    // A response without its sweep: the library's window then ends
    // (tail + 1) s after the start, and the peak search covers the first half
    // of that span. A tail of the file's length less the half second the
    // analysis keeps before the direct sound lets the window reach the end of
    // the file and keeps the peak search in its first half.
    sweep = 0;
    tail = std::max(0.0, static_cast<double>(y.size()) / fs - kLeadInSeconds);
  }

  Prepared p;
  p.result.name = input.name;
  p.result.sampleRate = input.sampleRate;
  p.result.sourceRate = input.sourceRate;
  p.result.silenceCutSeconds = input.silenceCutSeconds;
  p.result.endCutSeconds = input.endCutSeconds;
  p.result.channel = input.channel;
  p.result.channels = input.channels;
  p.result.leadInSeconds = lead / fs;
  p.result.notes = input.notes;
  if (lead > 0) {
    p.result.notes.push_back("direct sound at " + fixed(peak / fs, 3) + " s; added " +
                             fixed(kLeadInSeconds, 1) +
                             " s of silence in front, which the onset search needs before it");
  }
  p.handle = ReverbHandle(initReverberation(y.data(), static_cast<int32_t>(y.size()), fs, sweep, tail));
  if (!p.handle.valid())
    fail(TVM_TABLE_FULL, input.name + ": the library has no free reverberation slot left");
  if (getMaxImpulseLength(p.handle.get()) < 0) {
    fail(TVM_NO_DIRECT_SOUND,
         input.name +
             ": no distinct direct sound found (the energy never rises clearly above what precedes it); "
             "check that the file is an impulse response");
  }
  const BandSet& b = options.bands;
  if (initReverberationFilter(p.handle.get(), static_cast<int>(b.resolution), b.firstBand, b.lastBand) != 0) {
    fail(TVM_LIBRARY_REFUSED,
         input.name + ": the library refused the filter bank; choose bands inside the bank");
  }
  p.placement = {windowStartIn(p.handle.get(), y, fs), static_cast<double>(lead)};
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

// 100 (T30 / T20 - 1) from the last ranges of exactly 20 and 30 dB, as the
// library reports it.
double curvatureOf(const std::vector<double>& ranges, const std::vector<double>& times) {
  double t20 = kNaN, t30 = kNaN;
  for (size_t k = 0; k < ranges.size(); ++k) {
    if (ranges[k] == 20) t20 = times[k];
    if (ranges[k] == 30) t30 = times[k];
  }
  return t20 > 0 && t30 > 0 ? (t30 / t20 - 1) * 100 : kNaN;
}

// A decay that is not a straight line in dB gives a reverberation time that
// depends on the range. The measures are those of the measurement standard's
// guidance: the non-linearity xi = 1000 (1 - r2) per mille of each range's
// fit, and the curvature C = 100 (T30 / T20 - 1) %.
// - xi: a straight decay fitted over 20 or 30 dB gives a few per mille; above
//   10 per mille the range is not one slope. The same fluctuation about the
//   line weighs more on a shorter range: 1 - r2 is the residual variance over
//   the line's own variance, which grows as the square of the range, so the
//   limit for a range R below 20 dB is 10 (20 / R)^2 per mille: 40 for T10,
//   where a real room's 10 dB fit is rarely straighter. A range shorter than
//   20 dB is judged only where no range of 20 dB or more gave a time: the
//   first 15 dB of a room with a strong direct sound hold the bend from the
//   early to the late decay, and T20/T30 are what is reported. The early
//   decay time is not expected to be straight and is never doubted for its
//   fit.
// - C: beyond 10 % either way the decay is curved (a double slope, or a floor
//   the compensation missed).
constexpr double kNonLinearityLimit = 10;  // per mille, for ranges of 20 dB and more
constexpr double kNonLinearityFullRange = 20;
constexpr double kDoubtfulCurvature = 10;

double nonLinearityLimit(double range) {
  const double shortness = std::max(1.0, kNonLinearityFullRange / range);
  return kNonLinearityLimit * shortness * shortness;
}

std::vector<std::string> doubtsAbout(const BandResult& r, const std::vector<double>& ranges) {
  std::vector<std::string> doubts;
  bool fullRange = false;
  for (size_t k = 0; k < ranges.size(); ++k)
    fullRange = fullRange || (ranges[k] >= kNonLinearityFullRange && std::isfinite(r.times[k]));
  for (size_t k = 0; k < ranges.size(); ++k) {
    if (ranges[k] < 10 || !std::isfinite(r.times[k])) continue;
    if (fullRange && ranges[k] < kNonLinearityFullRange) continue;
    const double xi = 1000 * (1 - r.fitQuality[k]);
    const double limit = nonLinearityLimit(ranges[k]);
    if (xi > limit) {
      doubts.push_back("non-linearity of " + rangeName(ranges[k]) + " " + fixed(xi, 1) + " per mille above " +
                       general(limit) + " (r2 " + fixed(r.fitQuality[k], 4) + ")");
    }
  }
  if (std::fabs(r.curvature) > kDoubtfulCurvature) {
    doubts.push_back("curvature " + fixed(r.curvature, 0) + " % beyond +-10 %");
  }
  return doubts;
}

// lateOnset: samples by which this analysis puts the onset after the one the
// direct image was found with (1 for an ensemble, whose onset lies one sample
// after its members').
BandResult evaluate(int32_t handle, int band, int blockLength, double fs, const ReverbOptions& options,
                    const DirectImage& image, int lateOnset, const Placement& placement) {
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
  if (r.status == TAVRIX_FAILED) return r;  // nothing was written
  for (double& t : r.times) {
    if (t == kNotReached) t = kNaN;
  }
  level.resize(static_cast<size_t>(std::clamp<int64_t>(levelLength, 0, static_cast<int64_t>(capacity))));
  const double decayCount = std::isfinite(decayEnd) ? decayEnd + 1 : 0;
  decay.resize(static_cast<size_t>(std::clamp<double>(decayCount, 0, static_cast<double>(capacity))));
  const size_t onsetIndex = static_cast<size_t>(std::clamp<int64_t>(-r.onsetOffset, 0, std::ssize(level)));
  const std::vector<double> decayPart(level.begin() + static_cast<std::ptrdiff_t>(onsetIndex), level.end());
  r.endLevelDb = lastTenthLevelDb(decayPart);
  // The direct sound's spread before the onset and its centre, as the image
  // of an impulse arriving at the onset lies in this band.
  DirectSound direct;
  const size_t spread = std::min(onsetIndex, image.spread + static_cast<size_t>(lateOnset));
  direct.spreadDb.assign(level.begin() + static_cast<std::ptrdiff_t>(onsetIndex - spread),
                         level.begin() + static_cast<std::ptrdiff_t>(onsetIndex));
  direct.centre = image.centre - lateOnset;
  if (placement.windowStart) {
    const double windowStart = static_cast<double>(*placement.windowStart);
    const double onset = windowStart + static_cast<double>(onsetIndex);
    const auto seconds = [&](double sample) { return (sample - placement.leadSamples) / fs; };
    r.windowSeconds[0] = seconds(windowStart);
    r.windowSeconds[1] = seconds(windowStart + static_cast<double>(level.size()) - 1);
    r.onsetSeconds = seconds(onset + direct.centre);
    // The compensated decay curve ends at the crosspoint.
    if (r.status == 0) r.crosspointSeconds = seconds(onset + static_cast<double>(decay.size()));
  }
  if (r.status == 0) {
    r.energy = energyParameters(decayPart, decay.size(), r.noiseLevelDb, r.tailModelDb, fs, direct);
  }
  if (r.status == 0 && r.noiseLevelDb < kNoFloorDb) {
    // The window ends in digital silence or the response is noise-free: the
    // noise level is a rounding residue, not a floor.
    r.noiseLevelDb = kNaN;
  } else if (r.status != 0) {
    const PlainDecay plain = plainDecay(decayPart, options.ranges, fs);
    if (std::any_of(plain.times.begin(), plain.times.end(), [](double t) { return std::isfinite(t); })) {
      r.method = DecayMethod::Plain;
      r.times = plain.times;
      r.fitQuality = plain.fitQuality;
      r.dynamicRange = -plain.endLevelDb;
      r.curvature = curvatureOf(options.ranges, r.times);
      r.noiseLevelDb = r.tailModelDb[0] = r.tailModelDb[1] = kNaN;
      decay = plain.decayCurveDb;
      // No floor: nothing to subtract, no tail; the window holds the decay.
      const double noTail[2] = {kNaN, kNaN};
      r.energy = energyParameters(decayPart, decayPart.size(), kNaN, noTail, fs, direct);
    }
  }
  if (bandEvaluated(r)) r.doubts = doubtsAbout(r, options.ranges);
  int firstBlock = 0;
  r.levelCurveDb = blockMeansDb(level, r.onsetOffset, blockLength, firstBlock);
  r.onsetOffset = firstBlock;
  r.decayCurveDb = blockMeansDb(decay, 0, blockLength, firstBlock);
  return r;
}

// The ensemble averages band energies, so a position much louder than the
// others decides the mean alone. Names the band where the positions' peak
// levels differ most, when that is more than 10 dB.
std::string levelSpreadWarning(const std::vector<ImpulseResult>& positions, const ReverbOptions& options) {
  constexpr double kSpreadDb = 10;
  double worst = 0;
  size_t worstBand = 0, loudest = 0, quietest = 0;
  for (size_t b = 0; b < positions.front().bands.size(); ++b) {
    size_t hi = 0, lo = 0;
    for (size_t i = 1; i < positions.size(); ++i) {
      if (positions[i].bands[b].peakLevelDb > positions[hi].bands[b].peakLevelDb) hi = i;
      if (positions[i].bands[b].peakLevelDb < positions[lo].bands[b].peakLevelDb) lo = i;
    }
    const double spread = positions[hi].bands[b].peakLevelDb - positions[lo].bands[b].peakLevelDb;
    if (spread > worst) {
      worst = spread;
      worstBand = b;
      loudest = hi;
      quietest = lo;
    }
  }
  if (!(worst > kSpreadDb)) return "";
  return "the positions' levels differ by up to " + fixed(worst, 1) + " dB (" +
         bandLabel(options.bands.resolution, positions[loudest].bands[worstBand].band, options.bandScale) +
         ": " + positions[loudest].name + " above " + positions[quietest].name +
         "), so the mean follows the loudest position; scale the files to one level or analyse them one by "
         "one";
}

}  // namespace

ReverbReport measureReverberation(const std::vector<AudioView>& responses, const ReverbOptions& given) {
  if (responses.empty()) fail(TVM_BAD_ARGUMENT, "no response to analyse");
  // Conditioning runs outside the library lock: it does not touch the library.
  std::vector<Response> inputs;
  inputs.reserve(responses.size());
  for (const AudioView& r : responses)
    inputs.push_back(prepareResponse(r, {!given.keepSilence, given.nativeRate}));
  ReverbOptions options = given;
  options.bandScale = inputs.front().sampleRate / static_cast<double>(kDesignRate);
  ReverbReport report;
  report.blockSeconds = kBlockSeconds;
  report.bandScale = options.bandScale;
  const int rate = inputs.front().sampleRate;
  for (const Response& in : inputs) {
    if (in.sampleRate != rate) {
      fail(TVM_BAD_ARGUMENT,
           in.name + ": sampled at " + std::to_string(in.sampleRate) + " Hz, " + inputs.front().name +
               " at " + std::to_string(rate) +
               " Hz; an ensemble needs one sample rate: analyse them resampled to 48000 Hz, "
               "not at their own rates");
    }
  }
  const int blockLength = static_cast<int>(std::lround(kBlockSeconds * rate));
  const bool withEnsemble = inputs.size() >= 2;
  const int bandCount = options.bands.count() + (options.parameters ? 2 : 0);
  const int steps = static_cast<int>(inputs.size() + (withEnsemble ? 1 : 0)) * bandCount;
  int done = 0;

  // Everything from the first handle to the last delete holds the lock.
  const LibraryLock lock = lockLibrary();
  const std::map<int, DirectImage> images = cachedDirectImages(options.bands, options.parameters, rate);
  const auto imageOf = [&images](int band) {
    const auto found = images.find(band);
    return found == images.end() ? DirectImage{} : found->second;
  };
  std::vector<Prepared> prepared;
  prepared.reserve(inputs.size());
  for (const Response& in : inputs) prepared.push_back(prepare(in, options));

  const auto evaluateAll = [&](int32_t handle, ImpulseResult& result, int lateOnset,
                               const Placement& placement) {
    const auto step = [&](int band) {
      if (options.progress) {
        options.progress(done++, steps,
                         result.name + " " + bandLabel(options.bands.resolution, band, options.bandScale));
      }
    };
    for (int band = options.bands.firstBand; band <= options.bands.lastBand; ++band) {
      step(band);
      result.bands.push_back(
          evaluate(handle, band, blockLength, rate, options, imageOf(band), lateOnset, placement));
    }
    if (options.parameters) {
      for (int band : {kBandA, kBandZ}) {
        step(band);
        result.broadband.push_back(
            evaluate(handle, band, blockLength, rate, options, imageOf(band), lateOnset, placement));
      }
    }
  };
  for (Prepared& p : prepared) {
    evaluateAll(p.handle.get(), p.result, 0, p.placement);
    report.positions.push_back(p.result);
  }
  if (withEnsemble) {
    if (std::string w = levelSpreadWarning(report.positions, options); !w.empty())
      report.warnings.push_back(w);
    std::vector<int32_t> handles;
    for (const Prepared& p : prepared) handles.push_back(p.handle.get());
    ReverbHandle ensemble(initReverberationEnsemble(handles.data(), static_cast<int32_t>(handles.size())));
    if (!ensemble.valid())
      fail(TVM_TABLE_FULL, "the library has no free reverberation slot left for the ensemble");
    if (getMaxImpulseLength(ensemble.get()) < 0) {
      fail(TVM_NO_DIRECT_SOUND,
           "the files do not form an ensemble: their direct sounds lie at different distances from "
           "the start of their analysis windows; analyse them one by one");
    }
    ImpulseResult mean;
    mean.name = "mean";
    mean.sampleRate = rate;
    evaluateAll(ensemble.get(), mean, 1, Placement{});
    report.ensemble = std::move(mean);
  }
  if (options.progress) options.progress(steps, steps, "done");
  return report;
}

std::string rangeName(double range) {
  if (range == 0) return "EDT";
  char text[32];
  std::snprintf(text, sizeof text, "T%g", range);
  return text;
}

ReverbOptions reverbOptions(const tvm_reverb_options& c) {
  ReverbOptions o;
  if (c.bands != TVM_OCTAVE && c.bands != TVM_THIRD) {
    fail(TVM_BAD_ARGUMENT, "bands " + std::to_string(c.bands) + ": choose octave or third-octave bands");
  }
  const BandResolution resolution = c.bands == TVM_THIRD ? BandResolution::Third : BandResolution::Octave;
  // Third-octave analysis starts and ends a little wider than the octave one.
  const double lowDefault = resolution == BandResolution::Third ? 100 : 125;
  const double highDefault = resolution == BandResolution::Third ? 10000 : 8000;
  o.bands = chooseBands(resolution, c.low_hz == 0 ? lowDefault : c.low_hz,
                        c.high_hz == 0 ? highDefault : c.high_hz);
  if (c.ranges != nullptr) {
    if (c.range_count < 1 || c.range_count > kMaxRanges) {
      fail(TVM_BAD_ARGUMENT,
           "give 1 to " + std::to_string(kMaxRanges) + " decay ranges, not " + std::to_string(c.range_count));
    }
    o.ranges.assign(c.ranges, c.ranges + c.range_count);
    for (double r : o.ranges) {
      if (!std::isfinite(r) || (r != 0 && r < 10)) {
        fail(TVM_BAD_ARGUMENT,
             "ranges: " + general(r) +
                 " dB is not a decay range; give 0 (the early decay time) or 10 dB and more");
      }
    }
  }
  if (!std::isfinite(c.sweep_seconds) || !std::isfinite(c.tail_seconds) || c.sweep_seconds < 0 ||
      c.tail_seconds < 0) {
    fail(TVM_BAD_ARGUMENT, "the sweep's and the tail's durations must be 0 or positive numbers of seconds");
  }
  if ((c.sweep_seconds > 0) != (c.tail_seconds > 0)) {
    fail(TVM_BAD_ARGUMENT,
         "the sweep's length and its tail go together: give both durations of the sweep measurement, or "
         "neither");
  }
  o.sweepDuration = c.sweep_seconds;
  o.tailDuration = c.tail_seconds;
  o.nativeRate = c.native_rate;
  o.keepSilence = c.keep_silence;
  o.parameters = c.parameters;
  if (c.progress != nullptr) {
    const tvm_progress_fn fn = c.progress;
    void* data = c.progress_data;
    o.progress = [fn, data](int done, int total, const std::string& what) {
      fn(data, done, total, what.c_str());
    };
  }
  return o;
}

}  // namespace tavrix::measure

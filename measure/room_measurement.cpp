#include "room_measurement.h"

#include <algorithm>
#include <cmath>

#include "bands.h"
#include "measure_error.h"
#include "number_text.h"
#include "reverb_analysis.h"
#include "signal_presence.h"

namespace tavrix::measure {

namespace {

// The playback file's silence before the sweep, as `tavrix sweep` writes it.
constexpr double kLeadSeconds = 0.2;

// The level check: background first (read from 0.1 s, when the stream has
// settled, to before the sweep can arrive), its sweep, then room for the
// sweep's response and latency.
constexpr double kCheckQuietSeconds = 0.5;
constexpr double kNoiseFromSeconds = 0.1;
constexpr double kCheckAfterSeconds = 1.5;

double db(double amplitude) { return 20 * std::log10(amplitude); }

double peakOf(const std::vector<float>& x) {
  double peak = 0;
  for (float v : x) peak = std::max(peak, static_cast<double>(std::fabs(v)));
  return peak;
}

std::string dbfs(double value) {
  return std::isfinite(value) ? fixed(value, 1) + " dBFS" : "digital silence";
}

// The output buffers: the signal on the measured output and on the
// reference's, silence on the others before them.
std::vector<std::vector<float>> outputs(const RoomPlan& plan, const std::vector<double>& signal) {
  const int count = std::max(plan.outChannel, plan.referenceChannel);
  std::vector<std::vector<float>> play(static_cast<size_t>(count), std::vector<float>(signal.size(), 0.0f));
  std::vector<float> s(signal.begin(), signal.end());
  play[static_cast<size_t>(plan.outChannel - 1)] = s;
  if (plan.referenceChannel > 0) play[static_cast<size_t>(plan.referenceChannel - 1)] = s;
  return play;
}

// A run without lost audio: repeated up to kMaxAttempts times.
DuplexTake runClean(const DuplexRunner& run, const std::vector<std::vector<float>>& play,
                    const std::string& what, const std::function<void(const std::string&)>& say,
                    int& attempts) {
  for (attempts = 1;; ++attempts) {
    DuplexTake take = run(play, what);
    if (take.interrupted) fail(TVM_AUDIO_STREAM, "interrupted: playback stopped, nothing was written");
    if (!take.dropouts()) return take;
    const std::string lost = std::to_string(take.inputOverflows) + " input overflows and " +
                             std::to_string(take.outputUnderflows) + " output underflows";
    if (attempts == kMaxAttempts) {
      fail(TVM_AUDIO_STREAM, "the " + what + " lost audio in each of " + std::to_string(kMaxAttempts) +
                                 " attempts (" + lost +
                                 " in the last): the machine or the audio server cannot keep up; close "
                                 "other programs or give the server a longer period, and measure again");
    }
    say("warning: the " + what + " lost audio (" + lost + ", dropouts); repeating it");
  }
}

std::vector<double> toDouble(const std::vector<float>& x) { return {x.begin(), x.end()}; }

// The deconvolved response of one input of the level check, or a failure
// that says nothing came back.
Deconvolution checkResponse(const std::vector<float>& recording, const std::vector<double>& playback,
                            double rate, int input, const std::string& role, double levelDb) {
  const std::vector<double> rec = toDouble(recording);
  const std::string name = role + " " + std::to_string(input);
  const std::string advice =
      "nothing came back on " + name + " when the level check played its sweep at " + dbfs(levelDb) +
      ": check the output and input channels, the cable, that the loudspeaker and microphone are on "
      "and the input gain";
  try {
    return deconvolveSweep(
        {name, rec.data(), rec.size(), static_cast<int>(rate), 0.0, "", 0, 0},
        {"the level check's sweep", playback.data(), playback.size(), static_cast<int>(rate), 0.0, "", 0, 0});
  } catch (const MeasureError& e) {
    if (e.code == TVM_SILENT) fail(TVM_NO_SIGNAL, advice + " (the input was digital silence)");
    if (e.code == TVM_NO_SIGNAL || e.code == TVM_BAD_ARGUMENT)
      fail(TVM_NO_SIGNAL, advice + " (only noise was recorded)");
    throw;
  }
}

// The decay range each octave band of the measurement will have above its
// noise floor, from the check's response: its noise level per band, less
// what the measurement adds. The measurement plays kCheckBelowLevelDb
// louder; a sweep's energy, and so its response's peak over the noise,
// grows with its length, and averaging N repeats lowers uncorrelated noise
// by 10 log10 N.
std::vector<BandMargin> bandMargins(const Deconvolution& d, const RoomPlan& plan) {
  tvm_reverb_options c;
  tvm_reverb_options_init(&c);
  ReverbOptions options = reverbOptions(c);
  options.keepSilence = true;
  const double gain = kCheckBelowLevelDb + 10 * std::log10(plan.sweepSeconds / kCheckSweepSeconds) +
                      10 * std::log10(plan.repeats);
  std::vector<BandMargin> margins;
  try {
    const ReverbReport report = measureReverberation(
        {{"level check", d.response.data(), d.response.size(), d.sampleRate, 0.0, "", 0, 0}}, options);
    for (const BandResult& b : report.positions.front().bands) {
      const double f = bandFrequency(BandResolution::Octave, b.band);
      // Octaves the sweep covers whole.
      if (f / std::sqrt(2.0) < plan.fromHz || f * std::sqrt(2.0) > plan.toHz) continue;
      if (!std::isfinite(b.noiseLevelDb)) continue;  // no noise floor within the response
      margins.push_back({b.band, -b.noiseLevelDb + gain});
    }
  } catch (const MeasureError&) {
    // A check response too short or too odd for the analysis gives no margins.
  }
  return margins;
}

LevelCheck checkLevel(const RoomPlan& plan, const DuplexRunner& run,
                      const std::function<void(const std::string&)>& say) {
  const double level = plan.levelDb - kCheckBelowLevelDb;
  const double rate = plan.rate;
  const size_t quiet = static_cast<size_t>(kCheckQuietSeconds * rate);
  std::vector<double> playback(quiet, 0.0);
  const double g = std::pow(10.0, level / 20);
  for (double v : plan.checkSweep) playback.push_back(v * g);
  playback.resize(playback.size() + static_cast<size_t>(kCheckAfterSeconds * rate), 0.0);
  int attempts = 0;
  const DuplexTake take = runClean(run, outputs(plan, playback), "level check", say, attempts);
  const std::vector<float>& rec = take.recorded.at(static_cast<size_t>(plan.inChannel - 1));

  LevelCheck check;
  double energy = 0;
  const size_t from = static_cast<size_t>(kNoiseFromSeconds * rate);
  for (size_t i = from; i < quiet; ++i) energy += static_cast<double>(rec[i]) * rec[i];
  check.noiseDb = db(std::sqrt(energy / static_cast<double>(quiet - from)));
  check.checkPeakDb = db(peakOf(rec));
  // The sweep's share of the peak grows with the level, the background's
  // does not.
  const std::vector<float> before(rec.begin() + static_cast<std::ptrdiff_t>(from),
                                  rec.begin() + static_cast<std::ptrdiff_t>(quiet));
  const double background = peakOf(before);
  const double sweepPeak = std::max(0.0, peakOf(rec) - background);
  check.expectedPeakDb = db(sweepPeak * std::pow(10.0, kCheckBelowLevelDb / 20) + background);
  const size_t clipped = clippedSamples(rec);
  if (clipped > 0) {
    fail(TVM_CLIPPED, "input " + std::to_string(plan.inChannel) + " clips already in the level check (" +
                          std::to_string(clipped) + " samples at full scale with its sweep at " +
                          dbfs(level) + "): turn the input gain down, and measure again");
  }
  const Deconvolution d = checkResponse(rec, playback, rate, plan.inChannel, "input", level);
  check.returnDb = peakToNoiseDb(d.response.data(), d.response.size());
  if (plan.referenceChannel > 0) {
    checkResponse(take.recorded.at(static_cast<size_t>(plan.referenceChannel - 1)), playback, rate,
                  plan.referenceChannel, "reference input", level);
  }
  if (check.expectedPeakDb >= db(kClipLevel)) {
    fail(TVM_CLIPPED, "input " + std::to_string(plan.inChannel) + " would clip: the level check's sweep, " +
                          fixed(kCheckBelowLevelDb, 0) + " dB below --level " + fixed(plan.levelDb, 1) +
                          ", peaked at " + dbfs(check.checkPeakDb) + ", so the sweep would reach " +
                          dbfs(check.expectedPeakDb) + "; lower --level by at least " +
                          fixed(std::ceil(check.expectedPeakDb + 3), 0) + " dB, or the input gain");
  }
  check.bands = bandMargins(d, plan);
  std::string low;
  for (const BandMargin& b : check.bands) {
    if (b.marginDb >= kT30NeedsDb) continue;
    low += (low.empty() ? "" : ", ") + bandName(BandResolution::Octave, b.band) + " (" +
           fixed(b.marginDb, 0) + " dB)";
  }
  say("level check: background noise " + dbfs(check.noiseDb) + ", the quiet sweep came back at " +
      dbfs(check.checkPeakDb) + " peak (" + fixed(check.returnDb, 0) +
      " dB above the noise in its response); the sweep at " + dbfs(plan.levelDb) + " will peak near " +
      dbfs(check.expectedPeakDb));
  if (!low.empty()) {
    say("warning: the decay will stand less than the " + fixed(kT30NeedsDb, 0) +
        " dB above the noise that T30 needs in " + low +
        "; raise --level, lengthen the sweep, add --repeats or quieten the room");
  }
  return check;
}

}  // namespace

std::vector<double> playbackPeriod(const std::vector<double>& sweep, double levelDb, double rate,
                                   double tailSeconds) {
  std::vector<double> p(static_cast<size_t>(std::lround(kLeadSeconds * rate)), 0.0);
  const double g = std::pow(10.0, levelDb / 20);
  for (double v : sweep) p.push_back(v * g);
  p.resize(p.size() + static_cast<size_t>(std::lround((tailSeconds + 1) * rate)), 0.0);
  return p;
}

std::vector<double> averagePeriods(const std::vector<float>& recording, size_t period, int repeats) {
  if (repeats < 1 || recording.size() < period * static_cast<size_t>(repeats - 1)) {
    fail(TVM_BAD_ARGUMENT, "the recording is shorter than its repeats");
  }
  // Each window runs from its period's start to the end of the recording's
  // last period, so the last one's tail is whole.
  const size_t window = recording.size() - period * static_cast<size_t>(repeats - 1);
  std::vector<double> mean(window, 0.0);
  for (int r = 0; r < repeats; ++r) {
    const size_t start = period * static_cast<size_t>(r);
    for (size_t i = 0; i < window; ++i) mean[i] += recording[start + i];
  }
  for (double& v : mean) v /= repeats;
  return mean;
}

size_t clippedSamples(const std::vector<float>& recording) {
  return static_cast<size_t>(
      std::count_if(recording.begin(), recording.end(), [](float v) { return std::fabs(v) >= kClipLevel; }));
}

RoomMeasurement measureRoom(const RoomPlan& plan, const DuplexRunner& run,
                            const std::function<void(const std::string&)>& say) {
  if (plan.sweep.empty() || plan.checkSweep.empty() || plan.repeats < 1 || plan.inChannel < 1 ||
      plan.outChannel < 1 || plan.referenceChannel < 0 || plan.inChannel > plan.inputChannels ||
      plan.referenceChannel > plan.inputChannels || plan.referenceChannel == plan.inChannel) {
    fail(TVM_BAD_ARGUMENT, "the measurement's channels or sweeps are out of range");
  }
  RoomMeasurement m;
  m.check = checkLevel(plan, run, say);

  // The repeats follow each other without a gap beyond the tail: each
  // sweep's decay has died away before the next period starts, so every
  // period holds the same response and they average sample by sample.
  m.playback = playbackPeriod(plan.sweep, plan.levelDb, plan.rate, plan.tailSeconds);
  const size_t lead = static_cast<size_t>(std::lround(kLeadSeconds * plan.rate));
  const size_t period = m.playback.size() - lead;
  std::vector<double> stream(lead + period * static_cast<size_t>(plan.repeats), 0.0);
  for (int r = 0; r < plan.repeats; ++r)
    std::copy(m.playback.begin() + static_cast<std::ptrdiff_t>(lead), m.playback.end(),
              stream.begin() + static_cast<std::ptrdiff_t>(lead + period * static_cast<size_t>(r)));
  const std::string what = plan.repeats > 1 ? std::to_string(plan.repeats) + " sweeps" : "sweep";
  m.take = runClean(run, outputs(plan, stream), what, say, m.attempts);

  for (int input : {plan.inChannel, plan.referenceChannel}) {
    if (input < 1) continue;
    const std::vector<float>& rec = m.take.recorded.at(static_cast<size_t>(input - 1));
    const size_t clipped = clippedSamples(rec);
    if (clipped > 0) {
      fail(TVM_CLIPPED, "input " + std::to_string(input) + " clipped during the sweep (" +
                            std::to_string(clipped) + " samples at full scale, peak " +
                            dbfs(db(peakOf(rec))) + "): lower --level or the input gain, and measure again");
    }
  }
  const auto deconvolved = [&](int input, std::vector<double>& averaged) {
    averaged = averagePeriods(m.take.recorded.at(static_cast<size_t>(input - 1)), period, plan.repeats);
    const std::string name =
        (input == plan.inChannel ? "input " : "reference input ") + std::to_string(input);
    return deconvolveSweep(
        {name, averaged.data(), averaged.size(), static_cast<int>(plan.rate), 0.0, "", 0, 0},
        {"the sweep", m.playback.data(), m.playback.size(), static_cast<int>(plan.rate), 0.0, "", 0, 0});
  };
  if (plan.referenceChannel > 0) {
    std::vector<double> loop;
    m.systemLatencySeconds = deconvolved(plan.referenceChannel, loop).latencySeconds;
  }
  m.response = deconvolved(plan.inChannel, m.averaged);
  m.latencySeconds = m.response.latencySeconds;
  return m;
}

}  // namespace tavrix::measure

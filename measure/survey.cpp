#include "survey.h"

#include <cmath>
#include <functional>
#include <limits>

#include "audio_io.h"
#include "bands.h"
#include "measure_error.h"
#include "reverb_analysis.h"
#include "status_messages.h"
#include "sti_analysis.h"

namespace tavrix::measure {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// What one row is made of: the file's channel as read, its reverberation
// analysis, one band of it, and the channel's speech transmission index.
struct RowSource {
  const std::string& path;
  const Audio& audio;
  const ImpulseResult& source;
  const BandResult& band;
  const ReverbOptions& options;
  const StiResult& sti;
};

struct ColumnRule {
  SurveyColumn column;
  std::function<double(const RowSource&)> number;
  std::function<std::string(const RowSource&)> text;
};

ColumnRule number(std::string name, std::function<double(const RowSource&)> f) {
  return {{std::move(name), false}, std::move(f), nullptr};
}
ColumnRule text(std::string name, std::function<std::string(const RowSource&)> f) {
  return {{std::move(name), true}, nullptr, std::move(f)};
}

std::string joined(const std::vector<std::string>& items) {
  std::string s;
  for (const std::string& item : items) s += (s.empty() ? "" : "; ") + item;
  return s;
}

// The reverberation options of `tavrix reverb --parameters`: the defaults
// (octave bands 125 Hz to 8 kHz; EDT, T10, T20, T30; the whole file; 48 kHz;
// trailing silence cut) with the energy parameters and the bands A and Z.
ReverbOptions surveyReverbOptions() {
  tvm_reverb_options c;
  tvm_reverb_options_init(&c);
  c.parameters = true;
  return reverbOptions(c);
}

// The columns, with the names and meaning of the reverb report's CSV where
// they are the same quantity.
std::vector<ColumnRule> makeRules() {
  std::vector<ColumnRule> r;
  r.push_back(text("file", [](const RowSource& s) { return s.path; }));
  r.push_back(number("channel", [](const RowSource& s) { return s.audio.channel; }));
  r.push_back(number("channels", [](const RowSource& s) { return s.audio.channels; }));
  r.push_back(text("format", [](const RowSource& s) { return s.audio.format; }));
  r.push_back(number("source_rate_hz", [](const RowSource& s) { return s.source.sourceRate; }));
  r.push_back(number("analysed_rate_hz", [](const RowSource& s) { return s.source.sampleRate; }));
  r.push_back(text("band", [](const RowSource& s) {
    return bandLabel(s.options.bands.resolution, s.band.band, s.options.bandScale);
  }));
  r.push_back(number("frequency_hz", [](const RowSource& s) {
    return bandFrequency(s.options.bands.resolution, s.band.band) * s.options.bandScale;
  }));
  const std::vector<double> ranges = surveyReverbOptions().ranges;
  for (size_t k = 0; k < ranges.size(); ++k)
    r.push_back(number(rangeName(ranges[k]) + "_s", [k](const RowSource& s) { return s.band.times[k]; }));
  for (size_t k = 0; k < ranges.size(); ++k)
    r.push_back(
        number("r2_" + rangeName(ranges[k]), [k](const RowSource& s) { return s.band.fitQuality[k]; }));
  r.push_back(number("dynamic_range_db", [](const RowSource& s) { return s.band.dynamicRange; }));
  r.push_back(number("curvature_percent", [](const RowSource& s) { return s.band.curvature; }));
  r.push_back(number("noise_level_db", [](const RowSource& s) { return s.band.noiseLevelDb; }));
  r.push_back(number("peak_level_db", [](const RowSource& s) { return s.band.peakLevelDb; }));
  r.push_back(number("status", [](const RowSource& s) { return s.band.status; }));
  r.push_back(text("result", [](const RowSource& s) { return resultLabel(s.band); }));
  r.push_back(text("status_text", [](const RowSource& s) { return resultSentence(s.band); }));
  r.push_back(text("doubts", [](const RowSource& s) { return joined(s.band.doubts); }));
  r.push_back(number("c50_db", [](const RowSource& s) { return s.band.energy.c50Db; }));
  r.push_back(number("c80_db", [](const RowSource& s) { return s.band.energy.c80Db; }));
  r.push_back(number("d50_percent", [](const RowSource& s) { return s.band.energy.d50Percent; }));
  r.push_back(number("ts_ms", [](const RowSource& s) { return s.band.energy.tsMs; }));
  r.push_back(number("onset_s", [](const RowSource& s) { return s.band.onsetSeconds; }));
  r.push_back(number("crosspoint_s", [](const RowSource& s) { return s.band.crosspointSeconds; }));
  r.push_back(number("window_start_s", [](const RowSource& s) { return s.band.windowSeconds[0]; }));
  r.push_back(number("window_end_s", [](const RowSource& s) { return s.band.windowSeconds[1]; }));
  // The channel's index, on each of its rows: male weights (the default of
  // `tavrix sti`), then female.
  r.push_back(number("sti", [](const RowSource& s) { return s.sti.male; }));
  r.push_back(number("sti_female", [](const RowSource& s) { return s.sti.female; }));
  r.push_back(number("stipa", [](const RowSource& s) { return s.sti.stipaMale; }));
  r.push_back(text("error", [](const RowSource&) { return std::string(); }));
  return r;
}

const std::vector<ColumnRule>& rules() {
  static const std::vector<ColumnRule> all = makeRules();
  return all;
}

void addRow(SurveyTable& table, const RowSource& s) {
  for (const ColumnRule& rule : rules()) {
    table.numbers.push_back(rule.number ? rule.number(s) : kNaN);
    table.texts.push_back(rule.text ? rule.text(s) : std::string());
  }
  ++table.rows;
}

}  // namespace

const std::vector<SurveyColumn>& surveyColumns() {
  static const std::vector<SurveyColumn> columns = [] {
    std::vector<SurveyColumn> all;
    for (const ColumnRule& rule : rules()) all.push_back(rule.column);
    return all;
  }();
  return columns;
}

SurveyTable surveyFile(const std::string& path) {
  SurveyTable table;
  const ReverbOptions defaults = surveyReverbOptions();
  // Channel 1 first: it tells how many there are. A channel is read alone,
  // as `--channel N` reads it.
  int channels = 1;
  for (int channel = 1; channel <= channels; ++channel) {
    const Audio audio = readAudio(path, channel);
    channels = audio.channels;
    const AudioView view = viewOf(path, audio);
    const ReverbReport report = measureReverberation({view}, defaults);
    ReverbOptions options = defaults;
    options.bandScale = report.bandScale;
    const StiResult sti = measureSti(view, StiOptions{});
    const ImpulseResult& source = report.positions.front();
    for (const BandResult& b : source.bands) addRow(table, {path, audio, source, b, options, sti});
    for (const BandResult& b : source.broadband) addRow(table, {path, audio, source, b, options, sti});
  }
  return table;
}

SurveyTable surveyFailure(const std::string& path, const std::string& error) {
  SurveyTable table;
  table.rows = 1;
  for (const SurveyColumn& c : surveyColumns()) {
    table.numbers.push_back(kNaN);
    table.texts.push_back(c.name == "file" ? path : c.name == "error" ? error : std::string());
  }
  return table;
}

}  // namespace tavrix::measure

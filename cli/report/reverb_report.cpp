#include "reverb_report.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "output.h"
#include "status_messages.h"

namespace tavrix::cli {

using namespace tavrix::measure;

namespace {

std::vector<const ImpulseResult*> sources(const ReverbReport& report) {
  std::vector<const ImpulseResult*> all;
  for (const ImpulseResult& p : report.positions) all.push_back(&p);
  if (report.ensemble) all.push_back(&*report.ensemble);
  return all;
}

// The r2 shown in the table is that of the longest range asked for: the
// reverberation time an acoustician usually quotes.
size_t longestRange(const std::vector<double>& ranges) {
  size_t best = 0;
  for (size_t k = 1; k < ranges.size(); ++k) {
    if (ranges[k] > ranges[best]) best = k;
  }
  return best;
}

// The noise column: "none" where the decay met no noise floor.
std::string noiseText(const BandResult& b) {
  return bandEvaluated(b) && !std::isfinite(b.noiseLevelDb) ? "none" : fixed(b.noiseLevelDb, 1);
}

std::string joinedDoubts(const BandResult& b) {
  std::string text;
  for (const std::string& d : b.doubts) text += (text.empty() ? "" : "; ") + d;
  return text;
}

nlohmann::json number(double v) { return std::isfinite(v) ? nlohmann::json(v) : nlohmann::json(nullptr); }

// The bands of a source as reported: the fractional-octave bands, then with
// the energy parameters the broadband A and Z.
std::vector<const BandResult*> reported(const ImpulseResult& r) {
  std::vector<const BandResult*> all;
  for (const BandResult& b : r.bands) all.push_back(&b);
  for (const BandResult& b : r.broadband) all.push_back(&b);
  return all;
}

nlohmann::json sourceJson(const ImpulseResult& r, const ReverbOptions& options) {
  nlohmann::json bands = nlohmann::json::array();
  const BandResolution res = options.bands.resolution;
  for (const BandResult* band : reported(r)) {
    const BandResult& b = *band;
    nlohmann::json times = nlohmann::json::object(), r2 = nlohmann::json::object();
    for (size_t k = 0; k < options.ranges.size(); ++k) {
      times[rangeName(options.ranges[k])] = number(b.times[k]);
      r2[rangeName(options.ranges[k])] = number(b.fitQuality[k]);
    }
    bands.push_back({{"band", bandLabel(res, b.band, options.bandScale)},
                     {"nominal_band", bandName(res, b.band)},
                     {"frequency_hz", number(bandFrequency(res, b.band) * options.bandScale)},
                     {"times_s", times},
                     {"r2", r2},
                     {"dynamic_range_db", number(b.dynamicRange)},
                     {"curvature_percent", number(b.curvature)},
                     {"noise_level_db", number(b.noiseLevelDb)},
                     {"peak_level_db", number(b.peakLevelDb)},
                     {"method", methodText(b.method)},
                     {"result", resultLabel(b)},
                     {"doubts", b.doubts},
                     {"status", b.status},
                     {"status_text", resultSentence(b)}});
    if (options.parameters) {
      bands.back().update({{"c50_db", number(b.energy.c50Db)},
                           {"c80_db", number(b.energy.c80Db)},
                           {"d50_percent", number(b.energy.d50Percent)},
                           {"ts_ms", number(b.energy.tsMs)}});
    }
    bands.back().update({{"onset_s", number(b.onsetSeconds)},
                         {"crosspoint_s", number(b.crosspointSeconds)},
                         {"window_start_s", number(b.windowSeconds[0])},
                         {"window_end_s", number(b.windowSeconds[1])}});
  }
  return {{"name", r.name},
          {"sample_rate", r.sampleRate},
          {"source_sample_rate", r.sourceRate},
          {"resampled", r.sampleRate != r.sourceRate},
          {"silence_cut_s", r.silenceCutSeconds},
          {"end_cut_s", r.endCutSeconds},
          {"channel", r.channel > 0 ? nlohmann::json(r.channel) : nlohmann::json(nullptr)},
          {"lead_in_s", r.leadInSeconds},
          {"bands", bands}};
}

}  // namespace

std::string rangeName(double range) {
  if (range == 0) return "EDT";
  char text[32];
  std::snprintf(text, sizeof text, "T%g", range);
  return text;
}

std::string reverbTable(const ReverbReport& report, const ReverbOptions& options) {
  std::string out;
  const size_t r2Index = longestRange(options.ranges);
  for (const ImpulseResult* r : sources(report)) {
    if (report.ensemble && r == &*report.ensemble) {
      out += "mean of " + std::to_string(report.positions.size()) + " positions\n";
    } else {
      out +=
          r->name +
          (r->channels > 1 ? ", channel " + std::to_string(r->channel) + " of " + std::to_string(r->channels)
                           : "") +
          " (" + std::to_string(r->sourceRate) + " Hz" +
          (r->sampleRate != r->sourceRate ? ", analysed at " + std::to_string(r->sampleRate) + " Hz" : "") +
          (r->silenceCutSeconds > 0 ? ", " + duration(r->silenceCutSeconds) + " of silence cut" : "") +
          (r->endCutSeconds > 0 ? ", " + duration(r->endCutSeconds) + " cut at the end below the noise"
                                : "") +
          ")\n";
    }
    std::vector<std::string> header{"band"};
    for (double range : options.ranges) header.push_back(rangeName(range) + " s");
    // The window is the same for every band; a mean has none of its own.
    for (const BandResult* b : reported(*r)) {
      if (std::isfinite(b->windowSeconds[0])) {
        out += "analysis window " + fixed(b->windowSeconds[0], 3) + " to " + fixed(b->windowSeconds[1], 3) +
               " s of the file; crosspoints in seconds of the file\n";
        break;
      }
    }
    header.insert(header.end(), {"r2 " + rangeName(options.ranges[r2Index]), "dyn dB", "curv %", "noise dB",
                                 "cross s", "peak dB", "status"});
    TextTable table(header);
    for (const BandResult* band : reported(*r)) {
      const BandResult& b = *band;
      std::vector<std::string> row{bandLabel(options.bands.resolution, b.band, options.bandScale)};
      for (double t : b.times) row.push_back(fixed(t, 2));
      row.insert(row.end(),
                 {fixed(b.fitQuality[r2Index], 4), fixed(b.dynamicRange, 1), fixed(b.curvature, 1),
                  noiseText(b), fixed(b.crosspointSeconds, 2), fixed(b.peakLevelDb, 1), resultLabel(b)});
      table.add(row);
    }
    out += table.render();
    // Why a band is doubtful, under the table that marks it.
    for (const BandResult* b : reported(*r)) {
      if (bandEvaluated(*b) && !b->doubts.empty()) {
        out += "  " + bandLabel(options.bands.resolution, b->band, options.bandScale) + " doubtful: ";
        for (size_t k = 0; k < b->doubts.size(); ++k) out += (k > 0 ? "; " : "") + b->doubts[k];
        out += "\n";
      }
    }
    out += "\n";
    if (options.parameters) {
      TextTable energy({"band", "C50 dB", "C80 dB", "D50 %", "Ts ms", "status"});
      for (const BandResult* b : reported(*r)) {
        energy.add({bandLabel(options.bands.resolution, b->band, options.bandScale),
                    fixed(b->energy.c50Db, 1), fixed(b->energy.c80Db, 1), fixed(b->energy.d50Percent, 1),
                    fixed(b->energy.tsMs, 0), resultLabel(*b)});
      }
      out += energy.render() + "\n";
    }
  }
  return out;
}

std::string reverbCsv(const ReverbReport& report, const ReverbOptions& options) {
  // Built field by field: one row per source and band.
  std::vector<std::string> header{"source", "source_rate_hz", "analysed_rate_hz", "band", "frequency_hz"};
  for (double range : options.ranges) header.push_back(rangeName(range).append("_s"));
  for (double range : options.ranges) header.push_back(std::string("r2_").append(rangeName(range)));
  header.insert(header.end(), {"dynamic_range_db", "curvature_percent", "noise_level_db", "peak_level_db",
                               "status", "result", "status_text", "doubts"});
  if (options.parameters) header.insert(header.end(), {"c50_db", "c80_db", "d50_percent", "ts_ms"});
  header.insert(header.end(), {"onset_s", "crosspoint_s", "window_start_s", "window_end_s"});
  const auto line = [](const std::vector<std::string>& fields) {
    std::string text;
    for (const std::string& f : fields) {
      if (!text.empty()) text.push_back(',');
      text.append(f);
    }
    text.push_back('\n');
    return text;
  };
  std::string out = line(header);
  for (const ImpulseResult* r : sources(report)) {
    for (const BandResult* band : reported(*r)) {
      const BandResult& b = *band;
      std::vector<std::string> row{
          csvField(r->name), std::to_string(r->sourceRate), std::to_string(r->sampleRate),
          csvField(bandLabel(options.bands.resolution, b.band, options.bandScale)),
          csvNumber(bandFrequency(options.bands.resolution, b.band) * options.bandScale)};
      for (double t : b.times) row.push_back(csvNumber(t));
      for (double q : b.fitQuality) row.push_back(csvNumber(q));
      row.insert(row.end(), {csvNumber(b.dynamicRange), csvNumber(b.curvature), csvNumber(b.noiseLevelDb),
                             csvNumber(b.peakLevelDb), std::to_string(b.status), csvField(resultLabel(b)),
                             csvField(resultSentence(b)), csvField(joinedDoubts(b))});
      if (options.parameters) {
        row.insert(row.end(), {csvNumber(b.energy.c50Db), csvNumber(b.energy.c80Db),
                               csvNumber(b.energy.d50Percent), csvNumber(b.energy.tsMs)});
      }
      row.insert(row.end(), {csvNumber(b.onsetSeconds), csvNumber(b.crosspointSeconds),
                             csvNumber(b.windowSeconds[0]), csvNumber(b.windowSeconds[1])});
      out.append(line(row));
    }
  }
  return out;
}

std::string reverbJson(const ReverbReport& report, const ReverbOptions& options) {
  nlohmann::json doc;
  doc["bands"] = resolutionName(options.bands.resolution);
  doc["ranges_db"] = options.ranges;
  doc["positions"] = nlohmann::json::array();
  for (const ImpulseResult& p : report.positions) doc["positions"].push_back(sourceJson(p, options));
  if (report.ensemble) doc["ensemble"] = sourceJson(*report.ensemble, options);
  doc["warnings"] = report.warnings;
  return doc.dump(2) + "\n";
}

}  // namespace tavrix::cli

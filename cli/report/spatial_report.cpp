#include "spatial_report.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "output.h"

namespace tavrix::cli {

namespace {

bool lateral(const SpatialResult& r) { return r.mode == SpatialMode::Lateral; }

std::string label(const SpatialResult& r, int band) {
  return bandLabel(BandResolution::Octave, band, r.bandScale);
}

// The span of the reported mean, in the bands' labels.
std::string meanSpan(const SpatialResult& r) {
  return lateral(r) ? label(r, 7) + " - " + label(r, 10) : label(r, 9) + " - " + label(r, 11);
}

std::string cell(double v) { return std::isfinite(v) ? fixed(v, 3) : "-"; }

std::string conventionText(const SpatialResult& r) {
  switch (r.convention) {
    case LateralConvention::FuMa:
      return "B-format W,Y, FuMa: W raised 3 dB";
    case LateralConvention::AmbiX:
      return "B-format W,Y, AmbiX";
    default:
      return "pressure and figure-of-eight";
  }
}

}  // namespace

std::string spatialTable(const SpatialResult& r) {
  std::string out;
  if (lateral(r)) {
    out = "Early lateral energy fractions of " + r.names[0] + " and " + r.names[1] + " (" +
          conventionText(r) + ")\n\n";
    TextTable t({"band", "LF", "LFC"});
    for (const SpatialBand& b : r.bands) t.add({label(r, b.band), cell(b.lf), cell(b.lfc)});
    t.add({"mean " + meanSpan(r), cell(r.lfMean), cell(r.lfcMean)});
    out += t.render();
  } else {
    out = "Interaural cross-correlation of " + r.names[0] + " (left) and " + r.names[1] + " (right)\n\n";
    TextTable t({"band", "IACC early", "IACC late", "IACC", "late to ms"});
    for (const SpatialBand& b : r.bands) {
      t.add({label(r, b.band), cell(b.iaccEarly), cell(b.iaccLate), cell(b.iacc), fixed(b.lateEndMs, 0)});
    }
    t.add({"mean " + meanSpan(r), cell(r.iaccEarlyMean), "", "", ""});
    out += t.render();
  }
  out += "\n";
  for (const std::string& note : r.notes) out += "note: " + note + "\n";
  return out;
}

std::string spatialCsv(const SpatialResult& r) {
  std::string out;
  if (lateral(r)) {
    out = "band,lf,lfc\n";
    for (const SpatialBand& b : r.bands)
      out += csvField(label(r, b.band)) + "," + csvNumber(b.lf) + "," + csvNumber(b.lfc) + "\n";
    out += csvField("mean " + meanSpan(r)) + "," + csvNumber(r.lfMean) + "," + csvNumber(r.lfcMean) + "\n";
  } else {
    out = "band,iacc_early,iacc_late,iacc,late_end_ms\n";
    for (const SpatialBand& b : r.bands) {
      out += csvField(label(r, b.band)) + "," + csvNumber(b.iaccEarly) + "," + csvNumber(b.iaccLate) + "," +
             csvNumber(b.iacc) + "," + csvNumber(b.lateEndMs) + "\n";
    }
    out += csvField("mean " + meanSpan(r)) + "," + csvNumber(r.iaccEarlyMean) + ",,,\n";
  }
  return out;
}

std::string spatialJson(const SpatialResult& r) {
  // NaN (a band without energy) becomes null.
  const auto number = [](double v) { return std::isfinite(v) ? nlohmann::json(v) : nlohmann::json(nullptr); };
  nlohmann::json doc;
  doc["mode"] = spatialModeName(r.mode);
  doc["channels"] = {r.names[0], r.names[1]};
  if (lateral(r)) doc["convention"] = lateralConventionName(r.convention);
  doc["reference"] = r.reference;
  doc["onset_s"] = r.onsetSeconds;
  doc["sample_rate"] = r.sampleRate;
  doc["source_sample_rate"] = r.sourceRate;
  nlohmann::json bands = nlohmann::json::array();
  for (const SpatialBand& b : r.bands) {
    nlohmann::json j;
    j["band"] = label(r, b.band);
    j["frequency_hz"] = bandFrequency(BandResolution::Octave, b.band) * r.bandScale;
    if (lateral(r)) {
      j["lf"] = number(b.lf);
      j["lfc"] = number(b.lfc);
    } else {
      j["iacc_early"] = number(b.iaccEarly);
      j["iacc_late"] = number(b.iaccLate);
      j["iacc"] = number(b.iacc);
      j["late_end_ms"] = number(b.lateEndMs);
    }
    bands.push_back(j);
  }
  doc["bands"] = bands;
  nlohmann::json mean;
  mean["bands"] = meanSpan(r);
  if (lateral(r)) {
    mean["lf"] = number(r.lfMean);
    mean["lfc"] = number(r.lfcMean);
  } else {
    mean["iacc_early"] = number(r.iaccEarlyMean);
  }
  doc["mean"] = mean;
  doc["notes"] = r.notes;
  return doc.dump(2) + "\n";
}

}  // namespace tavrix::cli

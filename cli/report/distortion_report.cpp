// The harmonic distortion as a table for people, CSV and JSON for scripts,
// and an SVG picture over frequency.
#include "distortion_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "bands.h"
#include "number_text.h"
#include "output.h"

namespace tavrix::cli {

using namespace tavrix::measure;

using namespace tavrix::measure;

namespace {

std::string harmonicName(int k) {
  char name[8];
  std::snprintf(name, sizeof name, "H%d", k);
  return name;
}

nlohmann::json number(double v) { return std::isfinite(v) ? nlohmann::json(v) : nlohmann::json(nullptr); }

}  // namespace

std::string distortionTable(const DistortionResult& r) {
  std::vector<std::string> header{"band"};
  for (int k = r.firstHarmonic; k <= r.lastHarmonic; ++k) header.push_back(harmonicName(k).append(" dB"));
  header.push_back("THD %");
  TextTable table(header);
  for (const DistortionBand& b : r.bands) {
    std::vector<std::string> row{bandName(BandResolution::Third, b.band)};
    for (double h : b.harmonicsDb) row.push_back(fixed(h, 1));
    row.push_back(fixed(b.thdPercent, b.thdPercent < 1 ? 3 : 2));
    table.add(row);
  }
  return "harmonic distortion: levels re the fundamental at its frequency, windows of " +
         fixed(r.windowSeconds, 3) + " s\n" + table.render() + "\n";
}

std::string distortionCsv(const DistortionResult& r) {
  std::string out = "band,frequency_hz";
  for (int k = r.firstHarmonic; k <= r.lastHarmonic; ++k) {
    char name[16];
    std::snprintf(name, sizeof name, ",h%d_db", k);
    out.append(name);
  }
  out += ",thd_percent\n";
  for (const DistortionBand& b : r.bands) {
    out.append(csvField(bandName(BandResolution::Third, b.band))).append(",").append(csvNumber(b.frequency));
    for (double h : b.harmonicsDb) out.append(",").append(csvNumber(h));
    out.append(",").append(csvNumber(b.thdPercent)).append("\n");
  }
  return out;
}

std::string distortionJson(const DistortionResult& r) {
  nlohmann::json bands = nlohmann::json::array();
  for (const DistortionBand& b : r.bands) {
    nlohmann::json harmonics = nlohmann::json::object();
    for (size_t i = 0; i < b.harmonicsDb.size(); ++i)
      harmonics[std::to_string(r.firstHarmonic + static_cast<int>(i))] = number(b.harmonicsDb[i]);
    bands.push_back({{"band", bandName(BandResolution::Third, b.band)},
                     {"frequency_hz", b.frequency},
                     {"harmonics_db", harmonics},
                     {"thd_percent", number(b.thdPercent)}});
  }
  return nlohmann::json{{"window_s", r.windowSeconds}, {"bands", bands}}.dump(2) + "\n";
}

std::string distortionPlotSvg(const DistortionResult& r, const std::string& title) {
  constexpr double width = 720, height = 420, left = 60, right = 110, top = 40, bottom = 50;
  constexpr double lowHz = 16, highHz = 20000, floorDb = -100, ceilingDb = 0;
  constexpr const char* colours[] = {"#1f5fbf", "#c0392b", "#2e8b3e", "#8e44ad", "#d35400",
                                     "#16a085", "#7f8c8d", "#b7950b", "#2c3e50"};
  const auto x = [&](double hz) {
    return left + (width - left - right) * std::log(hz / lowHz) / std::log(highHz / lowHz);
  };
  const auto y = [&](double db) {
    return top +
           (height - top - bottom) * (ceilingDb - std::clamp(db, floorDb, ceilingDb)) / (ceilingDb - floorDb);
  };
  char text[256];
  std::string svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"720\" height=\"420\" font-family=\"sans-serif\" "
      "font-size=\"12\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  std::snprintf(text, sizeof text, "<text x=\"%g\" y=\"24\" font-size=\"15\">", left);
  svg += text + title + "</text>\n";
  for (double db = floorDb; db <= ceilingDb; db += 20) {
    std::snprintf(text, sizeof text,
                  "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#ddd\"/><text x=\"%.1f\" "
                  "y=\"%.1f\" text-anchor=\"end\">%g</text>\n",
                  left, y(db), width - right, y(db), left - 6, y(db) + 4, db);
    svg += text;
  }
  for (double hz : {31.5, 63.0, 125.0, 250.0, 500.0, 1000.0, 2000.0, 4000.0, 8000.0, 16000.0}) {
    std::snprintf(text, sizeof text,
                  "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#ddd\"/><text x=\"%.1f\" "
                  "y=\"%.1f\" text-anchor=\"middle\">%g</text>\n",
                  x(hz), top, x(hz), height - bottom, x(hz), height - bottom + 16, hz);
    svg += text;
  }
  std::snprintf(
      text, sizeof text,
      "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">Frequency of the fundamental (Hz)</text>\n"
      "<text x=\"16\" y=\"%.1f\" transform=\"rotate(-90 16 %.1f)\" text-anchor=\"middle\">Level re "
      "the fundamental (dB)</text>\n",
      (left + width - right) / 2, height - 14, (top + height - bottom) / 2, (top + height - bottom) / 2);
  svg += text;
  // One curve per harmonic and one for the THD in dB (20 log10 of its ratio).
  const int curves = r.lastHarmonic - r.firstHarmonic + 2;
  for (int c = 0; c < curves; ++c) {
    const bool thd = c == curves - 1;
    std::string points;
    for (const DistortionBand& b : r.bands) {
      const double db = thd ? 20 * std::log10(b.thdPercent / 100) : b.harmonicsDb[static_cast<size_t>(c)];
      if (!std::isfinite(db)) continue;
      std::snprintf(text, sizeof text, "%.1f,%.1f ", x(b.frequency), y(db));
      points += text;
    }
    const char* colour = colours[static_cast<size_t>(c) % std::size(colours)];
    const std::string name = thd ? std::string("THD") : harmonicName(r.firstHarmonic + c);
    std::snprintf(text, sizeof text, "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"%s\" points=\"",
                  colour, thd ? "2.5" : "1.5");
    svg += text + points + "\"/>\n";
    std::snprintf(
        text, sizeof text,
        "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" stroke-width=\"2\"/><text "
        "x=\"%.1f\" y=\"%.1f\">",
        width - right + 12, top + 18.0 * c, width - right + 32, top + 18.0 * c, colour, width - right + 38,
        top + 18.0 * c + 4);
    svg += text + name + "</text>\n";
  }
  return svg + "</svg>\n";
}

}  // namespace tavrix::cli

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
#include "svg_writer.h"

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
  Svg svg(width, height, "white", "sans-serif");
  svg.text(left, 24, title, "start", 15);
  for (double db = floorDb; db <= ceilingDb; db += 20) {
    svg.line(left, y(db), width - right, y(db), "#ddd", 1);
    svg.text(left - 6, y(db) + 4, general(db), "end", 12);
  }
  for (double hz : {31.5, 63.0, 125.0, 250.0, 500.0, 1000.0, 2000.0, 4000.0, 8000.0, 16000.0}) {
    svg.line(x(hz), top, x(hz), height - bottom, "#ddd", 1);
    svg.text(x(hz), height - bottom + 16, general(hz), "middle", 12);
  }
  const double midY = (top + height - bottom) / 2;
  svg.text((left + width - right) / 2, height - 14, "Frequency of the fundamental (Hz)", "middle", 12);
  svg.text(16, midY, "Level re the fundamental (dB)", "middle", 12,
           " transform=\"rotate(-90 16 " + svgNumber(midY) + ")\"");
  // One curve per harmonic and one for the THD in dB (20 log10 of its ratio).
  const int curves = r.lastHarmonic - r.firstHarmonic + 2;
  for (int c = 0; c < curves; ++c) {
    const bool thd = c == curves - 1;
    std::vector<std::pair<double, double>> points;
    for (const DistortionBand& b : r.bands) {
      const double db = thd ? 20 * std::log10(b.thdPercent / 100) : b.harmonicsDb[static_cast<size_t>(c)];
      if (std::isfinite(db)) points.emplace_back(x(b.frequency), y(db));
    }
    const char* colour = colours[static_cast<size_t>(c) % std::size(colours)];
    svg.polyline(points, colour, thd ? 2.5 : 1.5);
    const double legendY = top + 18.0 * c;
    svg.line(width - right + 12, legendY, width - right + 32, legendY, colour, 2);
    svg.text(width - right + 38, legendY + 4, thd ? std::string("THD") : harmonicName(r.firstHarmonic + c),
             "start", 12);
  }
  return svg.finish();
}

}  // namespace tavrix::cli

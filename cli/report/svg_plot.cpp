#include "svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "output.h"
#include "reverb_report.h"
#include "status_messages.h"
#include "svg_writer.h"

namespace tavrix::cli {

using namespace tavrix::measure;

namespace {

// Page geometry in SVG user units (pixels at 100 %).
constexpr double kPanelWidth = 440, kPanelHeight = 250;
constexpr double kMarginLeft = 58, kMarginRight = 16, kMarginTop = 30, kMarginBottom = 42;
constexpr double kPageMargin = 20, kTitleHeight = 56, kLegendHeight = 40;
constexpr int kColumns = 2;

constexpr const char* kLevelColour = "#9a9a9a";
constexpr const char* kDecayColour = "#1f5fbf";
constexpr const char* kNoiseColour = "#c0392b";
constexpr const char* kModelColour = "#2e8b3e";

// A tick spacing of 1, 2 or 5 times a power of ten giving about `target` ticks.
double niceStep(double span, int target) {
  const double raw = span / target;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10 * power;
}

struct Axes {
  double x0, y0, w, h;  // plot area on the page
  double tMin, tMax, dbMin, dbMax;
  double x(double t) const { return x0 + (t - tMin) / (tMax - tMin) * w; }
  // Levels below the floor (down to -infinity) are drawn on the floor.
  double y(double db) const {
    const double v = std::isfinite(db) ? std::clamp(db, dbMin, dbMax) : dbMin;
    return y0 + (dbMax - v) / (dbMax - dbMin) * h;
  }
};

// A curve of values every dt seconds from t0, where it lies inside the axes.
void curve(Svg& svg, const Axes& a, const std::vector<double>& db, double t0, double dt, const char* colour,
           double width) {
  std::vector<std::pair<double, double>> points;
  for (size_t i = 0; i < db.size(); ++i) {
    const double t = t0 + static_cast<double>(i) * dt;
    if (t < a.tMin || t > a.tMax) continue;
    points.emplace_back(a.x(t), a.y(db[i]));
  }
  svg.polyline(points, colour, width);
}

void panel(Svg& s, const Axes& a, const BandResult& band, const std::string& name, double dt,
           const std::vector<double>& ranges) {
  s.rect(a.x0, a.y0, a.w, a.h, "#ffffff", "#444");
  // Grid with tick labels: 10 dB steps, and a 1-2-5 time step.
  for (double db = std::floor(a.dbMax / 10) * 10; db >= a.dbMin - 1e-9; db -= 10) {
    s.line(a.x0, a.y(db), a.x0 + a.w, a.y(db), "#e2e2e2", 1);
    s.text(a.x0 - 6, a.y(db) + 4, fixed(db, 0), "end", 11);
  }
  const double step = niceStep(a.tMax - a.tMin, 6);
  for (double t = std::ceil(a.tMin / step) * step; t <= a.tMax + 1e-9; t += step) {
    const double tt = std::fabs(t) < 1e-12 ? 0 : t;
    s.line(a.x(tt), a.y0, a.x(tt), a.y0 + a.h, tt == 0 ? "#bdbdbd" : "#e2e2e2", 1);
    s.text(a.x(tt), a.y0 + a.h + 15, fixed(tt, step < 0.1 ? 2 : 1), "middle", 11);
  }
  s.text(a.x0 + a.w / 2, a.y0 + a.h + 32, "Time after the direct sound (s)", "middle", 11);
  s.text(a.x0 - 40, a.y0 + a.h / 2, "Level (dB)", "middle", 11,
         " transform=\"rotate(-90 " + svgNumber(a.x0 - 40) + " " + svgNumber(a.y0 + a.h / 2) + ")\"");
  s.text(a.x0, a.y0 - 9, name, "start", 14, " font-weight=\"bold\"");

  // The evaluated times in the panel's top-right corner.
  std::string times;
  for (size_t k = 0; k < ranges.size() && k < band.times.size(); ++k) {
    if (!times.empty()) times += "   ";
    times +=
        rangeName(ranges[k]) + " " + (std::isfinite(band.times[k]) ? fixed(band.times[k], 2) + " s" : "-");
  }
  if (!bandEvaluated(band)) {
    times = "not evaluated: " + statusLabel(band.status);
  } else if (band.method == DecayMethod::Plain) {
    times += "   (plain)";
  }
  s.text(a.x0 + a.w, a.y0 - 9, times, "end", 11);
  // Why the band failed or is doubtful, in words, under the panel's name.
  if (!bandEvaluated(band) || !band.doubts.empty()) {
    const std::string why = bandEvaluated(band) ? "doubtful: " + band.doubts.front() : resultSentence(band);
    s.text(a.x0 + 4, a.y0 + 12, why.substr(0, why.find(';')), "start", 10, " fill=\"#b03a2e\"");
  }

  s.beginClip(a.x0, a.y0, a.w, a.h);
  curve(s, a, band.levelCurveDb, band.onsetOffset * dt, dt, kLevelColour, 1);
  curve(s, a, band.decayCurveDb, 0, dt, kDecayColour, 2);
  if (std::isfinite(band.noiseLevelDb)) {
    s.line(a.x0, a.y(band.noiseLevelDb), a.x0 + a.w, a.y(band.noiseLevelDb), kNoiseColour, 1.5, "6 4");
  }
  // The late-decay model runs from the onset to the crosspoint, where the
  // decay curve ends.
  if (band.status == 0 && std::isfinite(band.tailModelDb[0]) && std::isfinite(band.tailModelDb[1]) &&
      !band.decayCurveDb.empty()) {
    const double crosspoint = static_cast<double>(band.decayCurveDb.size()) * dt;
    s.line(a.x(0), a.y(band.tailModelDb[0]), a.x(crosspoint), a.y(band.tailModelDb[1]), kModelColour, 1.5,
           "3 3");
  }
  s.endClip();
}

}  // namespace

std::string decayPlotSvg(const std::string& title, const ImpulseResult& result, const ReverbOptions& options,
                         double blockSeconds) {
  const std::vector<double>& ranges = options.ranges;
  const double dt = blockSeconds;
  // One time axis for all panels: from the start of the longest lead to the
  // end of the longest level curve.
  double tMin = 0, tMax = 0.5, lowest = 0;
  for (const BandResult& b : result.bands) {
    tMin = std::min(tMin, b.onsetOffset * dt);
    tMax = std::max(tMax, (b.onsetOffset + static_cast<double>(b.levelCurveDb.size())) * dt);
    if (std::isfinite(b.noiseLevelDb)) lowest = std::min(lowest, b.noiseLevelDb);
  }
  // Show the noise floor with some room below it, at least 60 dB of decay.
  const double dbMin = std::clamp(std::floor((lowest - 10) / 10) * 10, -140.0, -60.0);

  const int count = static_cast<int>(result.bands.size());
  const int rows = (count + kColumns - 1) / kColumns;
  const double width = 2 * kPageMargin + kColumns * kPanelWidth;
  const double height = kTitleHeight + rows * kPanelHeight + kLegendHeight + kPageMargin;
  Svg s(width, height, "#fafafa", "Helvetica, Arial, sans-serif");
  s.text(kPageMargin, 30, title, "start", 18, " font-weight=\"bold\"");
  s.text(kPageMargin, 48,
         "Levels per band re the band's peak; decay curve noise-compensated and backward-integrated, 0 dB at "
         "the direct sound",
         "start", 11, " fill=\"#555\"");
  for (int i = 0; i < count; ++i) {
    const double px = kPageMargin + (i % kColumns) * kPanelWidth;
    const double py = kTitleHeight + (i / kColumns) * kPanelHeight;
    const Axes axes{px + kMarginLeft,
                    py + kMarginTop,
                    kPanelWidth - kMarginLeft - kMarginRight,
                    kPanelHeight - kMarginTop - kMarginBottom,
                    tMin,
                    tMax,
                    dbMin,
                    5.0};
    panel(s, axes, result.bands[static_cast<size_t>(i)],
          bandLabel(options.bands.resolution, result.bands[static_cast<size_t>(i)].band, options.bandScale),
          dt, ranges);
  }
  // Legend.
  const double ly = kTitleHeight + rows * kPanelHeight + 18;
  double lx = kPageMargin + kMarginLeft;
  const auto entry = [&](const char* colour, double w, const char* dash, const char* label) {
    s.line(lx, ly, lx + 30, ly, colour, w, dash);
    s.text(lx + 36, ly + 4, label, "start", 12);
    lx += 200;
  };
  entry(kLevelColour, 1, nullptr, "level curve");
  entry(kDecayColour, 2, nullptr, "decay curve");
  entry(kNoiseColour, 1.5, "6 4", "noise level");
  entry(kModelColour, 1.5, "3 3", "late-decay model");
  return s.finish();
}

}  // namespace tavrix::cli

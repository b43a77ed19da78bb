#include "distortion.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>

#include "bands.h"
#include "cli_error.h"
#include "fft_convolution.h"
#include "output.h"

namespace tavrix::cli {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Part of each window before the response's start (the deconvolution's
// ringing and a direct sound that is not the peak), at most 5 ms, and the
// raised-cosine fade at the window's end, a tenth of it.
constexpr double kLeadSeconds = 0.005, kLeadShare = 0.1, kFadeShare = 0.1;

// The shortest window: 20 ms resolve third octaves from about 650 Hz up.
constexpr double kMinWindowSeconds = 0.020;

// A band's energy needs this many frequency bins of the window's spectrum.
constexpr int kMinBins = 3;

// Third-octave band edges: the mid-band frequency times 10^(+-1/20).
const double kHalfBand = std::pow(10.0, 0.05);

// Third-octave bands of the library's numbering: 12 (16 Hz) to 43 (20 kHz).
constexpr int kFirstThird = 12, kLastThird = 43;

// Mean of spectrum bins in [low, high) Hz; NaN when too few bins fall there.
double bandMean(const std::vector<double>& power, double binHz, double low, double high) {
  const size_t first = static_cast<size_t>(std::ceil(low / binHz));
  const size_t last = std::min(power.size(), static_cast<size_t>(std::ceil(high / binHz)));
  if (last < first + kMinBins) return kNaN;
  double sum = 0;
  for (size_t k = first; k < last; ++k) sum += power[k];
  return sum / static_cast<double>(last - first);
}

std::string harmonicName(int k) {
  char name[8];
  std::snprintf(name, sizeof name, "H%d", k);
  return name;
}

nlohmann::json number(double v) { return std::isfinite(v) ? nlohmann::json(v) : nlohmann::json(nullptr); }

}  // namespace

DistortionResult analyseDistortion(const std::vector<double>& response, const SweepShape& sweep,
                                   int firstHarmonic, int lastHarmonic) {
  DistortionResult result;
  result.firstHarmonic = firstHarmonic;
  result.lastHarmonic = lastHarmonic;
  const double fs = sweep.sampleRate, octaves = std::log(sweep.to / sweep.from);
  const auto advance = [&](int k) { return sweep.seconds * std::log(k) / octaves * fs; };  // samples
  // One window for all: no longer than the gap between the closest
  // neighbours (the highest ones), so that none reaches into the next.
  const double gap = advance(lastHarmonic) - advance(lastHarmonic - 1);
  const size_t length = static_cast<size_t>(gap);
  const size_t lead = static_cast<size_t>(std::min(kLeadSeconds * fs, kLeadShare * gap));
  const size_t n = response.size();
  if (gap < kMinWindowSeconds * fs || advance(lastHarmonic) + gap >= static_cast<double>(n)) {
    usageError("--harmonics: harmonic " + std::to_string(lastHarmonic) +
               " does not fit the response (it lies " + fixed(advance(lastHarmonic) / fs, 3) +
               " s before the linear response, " + fixed(gap / fs, 3) +
               " s from its neighbour); ask for fewer harmonics or measure with a longer sweep");
  }
  result.windowSeconds = static_cast<double>(length) / fs;
  size_t peak = 0;
  for (size_t i = 1; i < n; ++i) {
    if (std::fabs(response[i]) > std::fabs(response[peak])) peak = i;
  }
  // The window: a half raised cosine over the lead, flat, a half raised
  // cosine over the last tenth.
  const size_t fade = std::max<size_t>(1, static_cast<size_t>(kFadeShare * static_cast<double>(length)));
  std::vector<double> window(length, 1.0);
  for (size_t i = 0; i < lead; ++i) window[i] = 0.5 * (1 - std::cos(M_PI * (i + 0.5) / lead));
  for (size_t i = 0; i < fade; ++i) window[length - 1 - i] = 0.5 * (1 - std::cos(M_PI * (i + 0.5) / fade));
  size_t fftLength = 1;
  while (fftLength < length) fftLength <<= 1;
  const double binHz = fs / static_cast<double>(fftLength);
  // Spectra of the windowed responses: index 0 the linear one, k - 1 harmonic k.
  std::vector<std::vector<double>> spectra;
  for (int k = 1; k <= lastHarmonic; ++k) {
    const double start = static_cast<double>(peak) - (k == 1 ? 0 : advance(k)) - static_cast<double>(lead);
    const int64_t first = static_cast<int64_t>(std::llround(start));
    std::vector<double> cut(length);
    for (size_t i = 0; i < length; ++i) {
      const int64_t at =
          ((first + static_cast<int64_t>(i)) % static_cast<int64_t>(n) + static_cast<int64_t>(n)) %
          static_cast<int64_t>(n);
      cut[i] = response[static_cast<size_t>(at)] * window[i];
    }
    spectra.push_back(powerSpectrum(cut, fftLength));
  }
  // The harmonics are valid up to the sweep's end frequency (beyond it the
  // deconvolution divides by next to nothing) and below half the rate.
  const double top = std::min(sweep.to, fs / 2);
  for (int band = kFirstThird; band <= kLastThird; ++band) {
    const double mid = bandFrequency(BandResolution::Third, band);
    const double low = mid / kHalfBand, high = mid * kHalfBand;
    if (low < sweep.from || high > top) continue;
    const double fundamental = bandMean(spectra[0], binHz, low, high);
    if (!(fundamental > 0)) continue;
    DistortionBand b{band, mid, {}, 0};
    double sum = 0;
    for (int k = firstHarmonic; k <= lastHarmonic; ++k) {
      const double h =
          k * high <= top ? bandMean(spectra[static_cast<size_t>(k - 1)], binHz, k * low, k * high) : kNaN;
      b.harmonicsDb.push_back(10 * std::log10(h / fundamental));
      sum += h / fundamental;
    }
    b.thdPercent = 100 * std::sqrt(sum);  // NaN when a harmonic lies beyond the sweep
    result.bands.push_back(b);
  }
  return result;
}

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

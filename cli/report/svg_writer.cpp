#include "svg_writer.h"

#include <cstdio>
#include <fstream>

#include "cli_error.h"

namespace tavrix::cli {

namespace {

// Length of the well-formed UTF-8 sequence starting at s[i], or 0 when there
// is none (a stray continuation byte, an overlong form, a surrogate, a value
// beyond U+10FFFF, a sequence cut short).
size_t utf8Length(const std::string& s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  }
  if (n == 0 || i + n > s.size()) return 0;
  const unsigned char second = static_cast<unsigned char>(s[i + 1]);
  if (second < low || second > high) return 0;
  for (size_t k = 2; k < n; ++k) {
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  }
  return n;
}

}  // namespace

std::string xmlEscape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    const char c = s[i];
    const size_t n = utf8Length(s, i);
    if (n == 0) {
      out += '?';
      ++i;
      continue;
    }
    if (n > 1) {
      out.append(s, i, n);
      i += n;
      continue;
    }
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        // XML 1.0 has no place for control characters other than tab and line breaks.
        out += static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r' ? '?' : c;
    }
    ++i;
  }
  return out;
}

std::string svgNumber(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", v);
  return text;
}

Svg::Svg(double width, double height, const std::string& background, const std::string& fontFamily) {
  out_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out_ += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + svgNumber(width) + "\" height=\"" +
          svgNumber(height) + "\" viewBox=\"0 0 " + svgNumber(width) + " " + svgNumber(height) +
          "\" font-family=\"" + xmlEscape(fontFamily) + "\" fill=\"#222\">\n";
  out_ += "<rect width=\"100%\" height=\"100%\" fill=\"" + xmlEscape(background) + "\"/>\n";
}

void Svg::text(double x, double y, const std::string& content, const char* anchor, double size,
               const std::string& extra) {
  out_ += "<text x=\"" + svgNumber(x) + "\" y=\"" + svgNumber(y) + "\" text-anchor=\"" + anchor +
          "\" font-size=\"" + svgNumber(size) + "\"" + extra + ">" + xmlEscape(content) + "</text>\n";
}

void Svg::line(double x1, double y1, double x2, double y2, const char* colour, double width,
               const char* dash) {
  out_ += "<line x1=\"" + svgNumber(x1) + "\" y1=\"" + svgNumber(y1) + "\" x2=\"" + svgNumber(x2) +
          "\" y2=\"" + svgNumber(y2) + "\" stroke=\"" + colour + "\" stroke-width=\"" + svgNumber(width) +
          "\"";
  if (dash) out_ += std::string(" stroke-dasharray=\"") + dash + "\"";
  out_ += "/>\n";
}

void Svg::polyline(const std::vector<std::pair<double, double>>& points, const char* colour, double width) {
  if (points.empty()) return;
  std::string list;
  for (const auto& [x, y] : points) list += svgNumber(x) + "," + svgNumber(y) + " ";
  out_ += "<polyline fill=\"none\" stroke=\"" + std::string(colour) + "\" stroke-width=\"" +
          svgNumber(width) + "\" stroke-linejoin=\"round\" points=\"" + list + "\"/>\n";
}

void Svg::rect(double x, double y, double w, double h, const char* fill, const char* stroke) {
  out_ += "<rect x=\"" + svgNumber(x) + "\" y=\"" + svgNumber(y) + "\" width=\"" + svgNumber(w) +
          "\" height=\"" + svgNumber(h) + "\" fill=\"" + fill + "\"";
  if (stroke) out_ += std::string(" stroke=\"") + stroke + "\" stroke-width=\"1\"";
  out_ += "/>\n";
}

void Svg::beginClip(double x, double y, double w, double h) {
  const std::string id = "clip" + std::to_string(clips_++);
  out_ += "<clipPath id=\"" + id + "\"><rect x=\"" + svgNumber(x) + "\" y=\"" + svgNumber(y) + "\" width=\"" +
          svgNumber(w) + "\" height=\"" + svgNumber(h) + "\"/></clipPath>\n";
  out_ += "<g clip-path=\"url(#" + id + ")\">\n";
}

void Svg::endClip() { out_ += "</g>\n"; }

std::string Svg::finish() { return out_ + "</svg>\n"; }

void writeTextFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  out.close();
  if (!out) processingError(path + ": cannot be written; check that the directory exists and is writable");
}

}  // namespace tavrix::cli

// The one SVG writer of the tool's pictures: every text it writes is
// escaped, so that any file name or label gives a document XML parsers read.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tavrix::cli {

// Text as XML character data or attribute value: markup characters as
// entities, control characters XML forbids and bytes that are not UTF-8 as '?'.
std::string xmlEscape(const std::string& text);

// A coordinate or length with one decimal.
std::string svgNumber(double v);

class Svg {
 public:
  // Starts a document of the given size on a plain background.
  Svg(double width, double height, const std::string& background, const std::string& fontFamily);

  // Text at (x, y); anchor "start", "middle" or "end"; extra holds further
  // attributes of the tool's own making (no user text).
  void text(double x, double y, const std::string& content, const char* anchor, double size,
            const std::string& extra = "");
  void line(double x1, double y1, double x2, double y2, const char* colour, double width,
            const char* dash = nullptr);
  void polyline(const std::vector<std::pair<double, double>>& points, const char* colour, double width);
  void rect(double x, double y, double w, double h, const char* fill, const char* stroke = nullptr);
  // Clipping: the elements between beginClip and endClip are drawn inside
  // the rectangle only.
  void beginClip(double x, double y, double w, double h);
  void endClip();

  // The finished document.
  std::string finish();

 private:
  std::string out_;
  int clips_ = 0;
};

// Writes a document to a file; a failure is a processing error naming it.
void writeTextFile(const std::string& path, const std::string& text);

}  // namespace tavrix::cli

#include "fileio/uff58b.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "fileio/file_path.h"

namespace tavrix {
namespace {

// A record is the concatenation of fixed-width fields and one line feed (never
// a carriage return). Fields are built here rather than with a printf family
// format so that no C runtime's idea of the exponent width leaks into a file.

std::string rightAligned(int64_t value, size_t width) {
  std::string digits = std::to_string(value);
  return digits.size() < width ? std::string(width - digits.size(), ' ') + digits : digits;
}

std::string leftAligned(const std::string& text, size_t width) {
  return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}

// x as d.dddde+XX: four decimals and an exponent of at least two digits, as C99
// prints "%.4e" (some Windows runtimes print three exponent digits).
std::string scientific4(double x) {
  char buffer[64];
  const int len = std::snprintf(buffer, sizeof buffer, "%.4e", x);
  std::string s(buffer, len > 0 ? static_cast<size_t>(len) : 0);
  const size_t e = s.find('e');
  if (e == std::string::npos || e + 2 >= s.size()) return s;  // inf, nan
  size_t first = e + 2;                                       // after the sign
  while (s.size() - first > 2 && s[first] == '0') s.erase(first, 1);
  return s;
}

// Axis records 8 to 11: data type, three unit exponents (length, force,
// temperature), then the axis label and its unit in 20-character fields.
std::string axisRecord(int64_t dataType, const char* label, const char* unit) {
  return rightAligned(dataType, 10) + "    0    0    0 " + leftAligned(label, 20) + " " +
         leftAligned(unit, 20) + "\n";
}

std::string headerText(int32_t n, int32_t sampleRate) {
  // Abscissa increment: the sampling interval in seconds.
  const double increment = sampleRate > 0 ? 1.0 / sampleRate : 0.0;
  std::string text = "    -1\n";
  // Dataset 58 binary, byte order 1 (little endian), floating-point format 2
  // (IEEE 754), 11 ASCII records follow, then the size of the binary block.
  text += "    58b     1     2          11" + rightAligned(8 * static_cast<int64_t>(n), 12) + "\n";
  text += leftAligned("Calibrated recording file", 80) + "\n";
  for (int i = 0; i < 4; ++i) text += leftAligned("NONE", 80) + "\n";
  // Function type 1 (time response), no load case; response at node 0 in
  // direction 1; no reference point.
  text += "    1         0    0         0       NONE         0   1       NONE         0   0\n";
  // Ordinate type 4 (real, double precision), n values, even spacing; the
  // abscissa starts at 0 s; no z-axis value.
  text += "         4" + rightAligned(n, 10) + "         1   " + scientific4(0.0) + "   " +
          scientific4(increment) + "   " + scientific4(0.0) + "\n";
  text += axisRecord(17, "Time", "s");
  text += axisRecord(15, "Pressure", "Pa");
  text += axisRecord(0, "NONE", "NONE");  // ordinate denominator
  text += axisRecord(0, "NONE", "NONE");  // z axis
  return text;
}

}  // namespace

int32_t writeUff58b(const char16_t* path, const double* samples, int32_t n, int32_t sampleRate) {
  if (!path || n < 0 || (n > 0 && !samples)) return 0;
  std::unique_ptr<std::FILE, FileCloser> file(openFile(path, "wb"));
  if (!file) return 0;

  const std::string header = headerText(n, sampleRate);
  std::fwrite(header.data(), 1, header.size(), file.get());

  // Each value goes out from its least significant byte, so the file is
  // little endian whatever the machine's byte order.
  constexpr int32_t kChunk = 4096;
  unsigned char bytes[8 * kChunk];
  for (int32_t start = 0; start < n; start += kChunk) {
    const int32_t count = n - start < kChunk ? n - start : kChunk;
    for (int32_t i = 0; i < count; ++i) {
      uint64_t bits;
      std::memcpy(&bits, &samples[start + i], sizeof bits);
      for (int b = 0; b < 8; ++b) bytes[8 * i + b] = static_cast<unsigned char>(bits >> (8 * b));
    }
    std::fwrite(bytes, 1, 8 * static_cast<size_t>(count), file.get());
  }
  std::fputs("    -1\n", file.get());
  return 0;
}

}  // namespace tavrix

#include "output.h"

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tavrix::cli {

using namespace tavrix::measure;

std::string TextTable::render() const {
  std::vector<size_t> width(header_.size(), 0);
  const auto measure = [&](const std::vector<std::string>& row) {
    for (size_t c = 0; c < row.size() && c < width.size(); ++c) width[c] = std::max(width[c], row[c].size());
  };
  measure(header_);
  for (const auto& row : rows_) measure(row);
  std::string out;
  const auto emit = [&](const std::vector<std::string>& row) {
    std::string line;
    for (size_t c = 0; c < width.size(); ++c) {
      const std::string cell = c < row.size() ? row[c] : "";
      const std::string pad(width[c] - cell.size(), ' ');
      if (c > 0) line += "  ";
      line += c == 0 ? cell + pad : pad + cell;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  };
  emit(header_);
  for (const auto& row : rows_) emit(row);
  return out;
}

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string csvNumber(double value) {
  if (!std::isfinite(value)) return "";
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

Progress::Progress(std::string label, int total)
    : label_(std::move(label)), total_(total), active_(isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() { done(); }

void Progress::done() {
  if (active_) std::fprintf(stderr, "\r\033[K");
  active_ = false;
}

void Progress::step(int done, const std::string& what) {
  if (!active_) return;
  std::fprintf(stderr, "\r\033[K%s %d/%d%s%s", label_.c_str(), done, total_, what.empty() ? "" : " ",
               what.c_str());
  std::fflush(stderr);
}

}  // namespace tavrix::cli

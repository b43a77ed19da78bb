// Text output: aligned tables, number formatting, and the progress line that
// appears on a terminal only.
#pragma once

#include <string>
#include <vector>

#include "number_text.h"

namespace tavrix::cli {

using namespace tavrix::measure;

using measure::fixed;

// A plain-text table: a header row, then rows; columns are right-aligned
// except the first.
class TextTable {
 public:
  explicit TextTable(std::vector<std::string> header) : header_(std::move(header)) {}
  void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  std::string render() const;

 private:
  std::vector<std::string> header_;
  std::vector<std::vector<std::string>> rows_;
};

// One CSV field: quoted when it holds a comma, quote or line break.
std::string csvField(const std::string& text);

// A number for CSV: shortest round-trip text, empty when not finite.
std::string csvNumber(double value);

// "Working: step i of n" on stderr, rewritten in place, only when stderr is a
// terminal; cleared when the work ends.
class Progress {
 public:
  Progress(std::string label, int total);
  ~Progress();
  void step(int done, const std::string& what = "");
  // The same when the total is known only as the work goes.
  void step(int done, int total, const std::string& what) {
    total_ = total;
    step(done, what);
  }
  // Clears the line before results are printed; the destructor does the same.
  void done();

 private:
  std::string label_;
  int total_;
  bool active_;
};

}  // namespace tavrix::cli

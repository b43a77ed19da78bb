// Survey rows as CSV (a header, then one line per channel and band) and as
// JSON lines (one record per file), and the files an output already holds.
#pragma once

#include <set>
#include <string>

#include "survey.h"

namespace tavrix::cli {

using namespace tavrix::measure;

std::string surveyCsvHeader();
std::string surveyCsvRows(const SurveyTable& table);

// One line: {"file": ..., "error": null or the failure, "rows": [{column: value, ...}]}.
std::string surveyJsonRecord(const std::string& path, const SurveyTable& table);

// The files an earlier survey wrote to `text` (CSV with the same header, or
// JSON lines), and in `complete` the length of the text to keep. A survey that
// was stopped may have left half a line, or some of a file's CSV rows: only
// whole lines count, and the last file of a CSV is left out (its rows are cut
// and it is analysed again). A text whose header or lines are not this tool's
// is a usage error naming `name`.
std::set<std::string> surveyedFiles(const std::string& text, bool csv, const std::string& name,
                                    size_t& complete);

}  // namespace tavrix::cli

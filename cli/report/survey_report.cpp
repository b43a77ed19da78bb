#include "survey_report.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "cli_error.h"
#include "output.h"

namespace tavrix::cli {

namespace {

// Whole numbers (channels, rates, statuses) as integers, as the CSV shows them.
nlohmann::ordered_json jsonNumber(double v) {
  if (!std::isfinite(v)) return nullptr;
  if (v == std::floor(v) && std::fabs(v) < 1e15) return static_cast<int64_t>(v);
  return v;
}

// The first field of a CSV line, unquoted.
std::string firstField(const std::string& line) {
  if (line.empty() || line[0] != '"') return line.substr(0, line.find(','));
  std::string field;
  for (size_t i = 1; i < line.size(); ++i) {
    if (line[i] == '"') {
      if (i + 1 < line.size() && line[i + 1] == '"') {
        field += '"';
        ++i;
        continue;
      }
      break;
    }
    field += line[i];
  }
  return field;
}

}  // namespace

std::string surveyCsvHeader() {
  std::string line;
  for (const SurveyColumn& c : surveyColumns()) {
    if (!line.empty()) line.push_back(',');
    line += csvField(c.name);
  }
  return line + "\n";
}

std::string surveyCsvRows(const SurveyTable& table) {
  const std::vector<SurveyColumn>& columns = surveyColumns();
  std::string out;
  for (size_t r = 0; r < table.rows; ++r) {
    for (size_t c = 0; c < columns.size(); ++c) {
      const size_t cell = r * columns.size() + c;
      if (c > 0) out.push_back(',');
      out += columns[c].text ? csvField(table.texts[cell]) : csvNumber(table.numbers[cell]);
    }
    out.push_back('\n');
  }
  return out;
}

std::string surveyJsonRecord(const std::string& path, const SurveyTable& table) {
  const std::vector<SurveyColumn>& columns = surveyColumns();
  nlohmann::ordered_json record{{"file", path}, {"error", nullptr}};
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (size_t r = 0; r < table.rows; ++r) {
    nlohmann::ordered_json row = nlohmann::ordered_json::object();
    for (size_t c = 0; c < columns.size(); ++c) {
      const size_t cell = r * columns.size() + c;
      if (columns[c].name == "file") continue;
      if (columns[c].name == "error") {
        if (!table.texts[cell].empty()) record["error"] = table.texts[cell];
        continue;
      }
      row[columns[c].name] =
          columns[c].text ? nlohmann::ordered_json(table.texts[cell]) : jsonNumber(table.numbers[cell]);
    }
    rows.push_back(std::move(row));
  }
  // A failed file's record holds its error and no rows.
  if (!record["error"].is_null()) rows = nlohmann::ordered_json::array();
  record["rows"] = std::move(rows);
  return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::set<std::string> surveyedFiles(const std::string& text, bool csv, const std::string& name,
                                    size_t& complete) {
  std::set<std::string> files;
  complete = 0;
  size_t start = 0;
  bool header = csv;
  std::string last;      // the file of the last CSV rows
  size_t lastStart = 0;  // where its rows begin
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    if (header) {
      if (line + "\n" != surveyCsvHeader())
        usageError(name + ": not a survey of this tool's columns; write the survey to a new file");
      header = false;
    } else if (csv) {
      std::string file = firstField(line);
      if (file != last || files.empty()) {
        files.insert(file);
        last = std::move(file);
        lastStart = start;
      }
    } else {
      const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
      if (!record.is_object() || !record.contains("file") || !record["file"].is_string())
        usageError(name + ": a line is not a survey record; write the survey to a new file");
      files.insert(record["file"].get<std::string>());
    }
    complete = end + 1;
  }
  // A file's CSV rows are several lines, and the survey may have stopped
  // after some of them: the last file's rows are cut and it is analysed again.
  if (csv && !files.empty()) {
    files.erase(last);
    complete = lastStart;
  }
  return files;
}

}  // namespace tavrix::cli

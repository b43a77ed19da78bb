// The survey of one audio file: every channel analysed alone, with the
// defaults of the reverberation analysis (energy parameters included) and of
// the speech transmission index, as rows of one table per band. Written here
// once so that the tool's worker processes and the Python package's workers
// give the same rows by construction.
#pragma once

#include <string>
#include <vector>

namespace tavrix::measure {

// A column of survey rows: numbers (NaN where not measured) or texts.
struct SurveyColumn {
  std::string name;
  bool text = false;
};

// Rows of one file: one per channel and band (the octave bands 125 Hz to
// 8 kHz, then the broadband A and Z), cells row by row.
struct SurveyTable {
  size_t rows = 0;
  std::vector<double> numbers;     // rows x columns; NaN in text columns
  std::vector<std::string> texts;  // rows x columns; "" in number columns
};

// The columns in order: file, channel, ..., sti_female. The first is the file
// as it was named; the last, error, is empty in rows of a file that was
// analysed and holds the failure's sentence in the one row of a file that was not.
const std::vector<SurveyColumn>& surveyColumns();

// The survey of one file. A file that cannot be read or analysed (any
// channel) throws its MeasureError: a survey row is all of a file or none.
SurveyTable surveyFile(const std::string& path);

// The one row of a file that failed: its name and the failure's sentence.
SurveyTable surveyFailure(const std::string& path, const std::string& error);

}  // namespace tavrix::measure

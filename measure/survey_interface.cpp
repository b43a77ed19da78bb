// The C interface of surveys and of finding audio files: plain tables over
// the C++ results, failures as values and words.
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "audio_discovery.h"
#include "c_guard.h"
#include "measure_error.h"
#include "survey.h"
#include "tavrix_measure.h"

using namespace tavrix::measure;

namespace {

// Each allocated C result is the first member of a standard-layout holder
// whose second member owns what it points into.
struct SurveyStore {
  SurveyTable table;
  std::vector<const char*> columns;
  std::unique_ptr<bool[]> textColumns;
  std::vector<const char*> texts;
};
struct SurveyHolder {
  tvm_survey_table c;
  SurveyStore* store;
};

struct PathStore {
  std::vector<std::string> paths;
  std::vector<const char*> pointers;
};
struct PathHolder {
  tvm_path_list c;
  PathStore* store;
};

void require(bool ok, const char* what) {
  if (!ok) fail(TVM_BAD_ARGUMENT, what);
}

tvm_survey_table* publish(SurveyTable table) {
  auto store = std::make_unique<SurveyStore>();
  store->table = std::move(table);
  const std::vector<SurveyColumn>& columns = surveyColumns();
  store->textColumns = std::make_unique<bool[]>(columns.size());
  for (size_t k = 0; k < columns.size(); ++k) {
    store->columns.push_back(columns[k].name.c_str());
    store->textColumns[k] = columns[k].text;
  }
  for (const std::string& t : store->table.texts) store->texts.push_back(t.c_str());
  auto holder = std::make_unique<SurveyHolder>();
  holder->c.column_count = static_cast<int32_t>(columns.size());
  holder->c.columns = store->columns.data();
  holder->c.text_columns = store->textColumns.get();
  holder->c.row_count = static_cast<int32_t>(store->table.rows);
  holder->c.numbers = store->table.numbers.data();
  holder->c.texts = store->texts.data();
  holder->store = store.release();
  return &holder.release()->c;
}

}  // namespace

extern "C" {

TVM_API int32_t tvm_survey_file(const char* path, tvm_survey_table** out) {
  return guardedCall([&] {
    require(out != nullptr, "a place for the survey is needed");
    *out = nullptr;
    *out = publish(path != nullptr ? surveyFile(path) : SurveyTable{});
  });
}

TVM_API int32_t tvm_survey_failure(const char* path, const char* error, tvm_survey_table** out) {
  return guardedCall([&] {
    require(out != nullptr, "a place for the row is needed");
    *out = nullptr;
    require(path != nullptr && error != nullptr, "a failed file's row needs its path and its failure");
    *out = publish(surveyFailure(path, error));
  });
}

TVM_API void tvm_free_survey_table(tvm_survey_table* table) {
  if (table == nullptr) return;
  auto* holder = reinterpret_cast<SurveyHolder*>(table);
  delete holder->store;
  delete holder;
}

TVM_API int32_t tvm_find_audio_files(const char* const* paths, int32_t count, tvm_path_list** out) {
  return guardedCall([&] {
    require(out != nullptr, "a place for the list is needed");
    *out = nullptr;
    require(paths != nullptr && count >= 1, "give at least one file or folder");
    std::vector<std::string> named;
    for (int32_t k = 0; k < count; ++k) {
      require(paths[k] != nullptr, "a path in the list is NULL");
      named.emplace_back(paths[k]);
    }
    auto store = std::make_unique<PathStore>();
    store->paths = findAudioFiles(named);
    for (const std::string& p : store->paths) store->pointers.push_back(p.c_str());
    auto holder = std::make_unique<PathHolder>();
    holder->c.count = static_cast<int32_t>(store->paths.size());
    holder->c.paths = store->pointers.data();
    holder->store = store.release();
    *out = &holder.release()->c;
  });
}

TVM_API void tvm_free_path_list(tvm_path_list* list) {
  if (list == nullptr) return;
  auto* holder = reinterpret_cast<PathHolder*>(list);
  delete holder->store;
  delete holder;
}

}  // extern "C"

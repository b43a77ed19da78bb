// libFuzzer target: arbitrary bytes as an audio file through the measurement
// layer's survey of one file, which reads it with libsndfile, conditions each
// channel (silence, resampling, lead-in) and analyses reverberation, energy
// parameters and speech transmission. Whatever the file holds, the result is a
// table of rows or a failure value with its sentence, and nothing in between.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "tavrix_measure.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const tavrix::fuzz::ScratchFile file("survey.wav");
  file.write(data, size);
  const std::string path = file.path().string();
  tvm_survey_table* table = nullptr;
  const int32_t code = tvm_survey_file(path.c_str(), &table);
  if (code != TVM_OK) {
    FUZZ_CHECK(table == nullptr);
    FUZZ_CHECK(code == TVM_NO_FILE || code == TVM_BAD_FILE || code == TVM_BAD_ARGUMENT ||
               code == TVM_SILENT || code == TVM_NO_DIRECT_SOUND || code == TVM_LIBRARY_REFUSED ||
               code == TVM_BAD_CHANNEL);
    const char* why = tvm_last_error();
    FUZZ_CHECK(why != nullptr && std::strlen(why) > 0);
    return 0;
  }
  FUZZ_CHECK(table != nullptr);
  FUZZ_CHECK(table->column_count > 0 && table->row_count >= 0);
  // Every cell is read, so that AddressSanitizer checks the arrays.
  for (int64_t r = 0; r < table->row_count; ++r) {
    for (int32_t c = 0; c < table->column_count; ++c) {
      const size_t cell =
          static_cast<size_t>(r) * static_cast<size_t>(table->column_count) + static_cast<size_t>(c);
      if (table->text_columns[c]) {
        FUZZ_CHECK(table->texts[cell] != nullptr);
        (void)std::strlen(table->texts[cell]);
      } else {
        (void)std::isnan(table->numbers[cell]);
      }
    }
  }
  tvm_free_survey_table(table);
  return 0;
}

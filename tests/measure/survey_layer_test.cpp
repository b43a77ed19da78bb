// Surveys through the layer's C interface: folders are searched for audio
// files, and surveys from several threads give the same rows. (That a file's
// rows are each channel's reverb and sti figures, and how a failed file is
// reported, the tool's survey test checks end to end.)
#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "layer_support.h"

namespace tavrix::test {
namespace {

struct SurveyFree {
  void operator()(tvm_survey_table* t) const { tvm_free_survey_table(t); }
  void operator()(tvm_path_list* l) const { tvm_free_path_list(l); }
};
using Table = std::unique_ptr<tvm_survey_table, SurveyFree>;
using Paths = std::unique_ptr<tvm_path_list, SurveyFree>;

Table survey(const std::string& path) {
  tvm_survey_table* out = nullptr;
  EXPECT_EQ(tvm_survey_file(path.c_str(), &out), TVM_OK) << tvm_last_error();
  return Table(out);
}

// Two channels of different decays, written by libsndfile directly.
void writeStereo(const std::filesystem::path& path, int rate, int format) {
  const std::vector<double> left = decayingNoise(0.5, 1.5, 0.05, 3, rate),
                            right = decayingNoise(1.0, 1.5, 0.05, 4, rate);
  std::vector<double> frames;
  for (size_t i = 0; i < left.size(); ++i) frames.insert(frames.end(), {0.5 * left[i], 0.5 * right[i]});
  SF_INFO info{};
  info.samplerate = rate, info.channels = 2, info.format = format;
  SNDFILE* file = sf_open(path.string().c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  sf_writef_double(file, frames.data(), static_cast<sf_count_t>(left.size()));
  sf_close(file);
}

TEST(SurveyLayer, FoldersAreSearchedForAudioFiles) {
  const TempFile root("survey_tree");
  namespace fs = std::filesystem;
  fs::remove_all(root.path);
  fs::create_directories(root.path / "b" / "deep");
  for (const char* name :
       {"z.wav", "b/A.FLAC", "b/deep/c.aiff", "b/deep/d.ogg", "b/notes.txt", "b/e.wav.bak"})
    std::ofstream(root.path / name) << "x";
  const std::string r = root.path.string(), txt = (root.path / "b" / "notes.txt").string();
  const char* named[] = {r.c_str(), txt.c_str(), r.c_str()};
  tvm_path_list* out = nullptr;
  ASSERT_EQ(tvm_find_audio_files(named, 3, &out), TVM_OK) << tvm_last_error();
  const Paths list(out);
  std::vector<std::string> got(out->paths, out->paths + out->count);
  // Sorted, each once; the .txt because it was named.
  const std::vector<std::string> want{r + "/b/A.FLAC", r + "/b/deep/c.aiff", r + "/b/deep/d.ogg", txt,
                                      r + "/z.wav"};
  EXPECT_EQ(got, want);

  const char* missing[] = {"/no/such/folder"};
  out = nullptr;
  EXPECT_EQ(tvm_find_audio_files(missing, 1, &out), TVM_NO_FILE);
  EXPECT_TRUE(contains(tvm_last_error(), "/no/such/folder"));
  const char* holes[] = {r.c_str(), nullptr};
  EXPECT_EQ(tvm_find_audio_files(holes, 2, &out), TVM_BAD_ARGUMENT);
  EXPECT_EQ(tvm_find_audio_files(named, 0, &out), TVM_BAD_ARGUMENT);
  EXPECT_EQ(tvm_find_audio_files(nullptr, 1, &out), TVM_BAD_ARGUMENT);
  EXPECT_EQ(tvm_find_audio_files(named, 1, nullptr), TVM_BAD_ARGUMENT);
  EXPECT_EQ(out, nullptr);
  tvm_free_path_list(nullptr);
  fs::remove_all(root.path);
}

TEST(SurveyLayer, ThreadsSurveyingAtOnceGetTheSameRows) {
  const TempFile file("survey_threads.wav");
  writeStereo(file.path, 48000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  const Table alone = survey(file.path.string());
  ASSERT_TRUE(alone);
  const size_t cells = static_cast<size_t>(alone->row_count * alone->column_count);
  std::vector<Table> tables(3);
  std::vector<std::thread> threads;
  for (Table& t : tables) threads.emplace_back([&t, &file] { t = survey(file.path.string()); });
  for (std::thread& t : threads) t.join();
  for (const Table& t : tables) {
    ASSERT_TRUE(t);
    ASSERT_EQ(t->row_count, alone->row_count);
    // NaN cells (text columns, A and Z frequencies) compare bit for bit too.
    EXPECT_TRUE(sameBits(t->numbers, alone->numbers, cells));
  }
}

}  // namespace
}  // namespace tavrix::test

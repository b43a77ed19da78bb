// Surveys through the layer's C interface: a file's rows are, channel by
// channel, what the reverberation and STI analyses give for that channel read
// alone; failures are values with words; folders are searched for audio files.
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

int column(const tvm_survey_table& t, const std::string& name) {
  for (int32_t c = 0; c < t.column_count; ++c) {
    if (name == t.columns[c]) return c;
  }
  ADD_FAILURE() << "no column " << name;
  return 0;
}

double number(const tvm_survey_table& t, int32_t row, const std::string& name) {
  return t.numbers[row * t.column_count + column(t, name)];
}
std::string text(const tvm_survey_table& t, int32_t row, const std::string& name) {
  return t.texts[row * t.column_count + column(t, name)];
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

TEST(SurveyLayer, RowsAreEachChannelsReverberationAndSti) {
  const TempFile file("survey_stereo.flac");
  writeStereo(file.path, 44100, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
  const Table table = survey(file.path.string());
  ASSERT_TRUE(table);
  const tvm_survey_table& t = *table;
  ASSERT_EQ(t.row_count, 2 * 9);  // 7 octave bands, A and Z per channel

  for (int32_t channel = 1; channel <= 2; ++channel) {
    // The second path: the channel read alone and analysed as `reverb
    // --parameters` and `sti` analyse it.
    tvm_audio* audio = nullptr;
    ASSERT_EQ(tvm_read_audio(file.path.string().c_str(), channel, &audio), TVM_OK);
    const AudioData owned(audio);
    const std::vector<double> x(audio->samples, audio->samples + audio->frames);
    tvm_response response = responseOf(x, nullptr, audio->sample_rate, audio->quantisation_step);
    tvm_reverb_options options = defaultOptions();
    options.parameters = true;
    const ReverbReport report = analyse({response}, options);
    tvm_sti_result sti{};
    ASSERT_EQ(tvm_analyse_sti(&response, nullptr, &sti), TVM_OK);
    const tvm_source_result& source = report->positions[0];
    ASSERT_EQ(source.band_count, 9);
    for (int32_t b = 0; b < 9; ++b) {
      const int32_t row = (channel - 1) * 9 + b;
      const tvm_band_result& band = source.bands[b];
      EXPECT_EQ(number(t, row, "channel"), channel);
      EXPECT_EQ(number(t, row, "channels"), 2);
      EXPECT_EQ(number(t, row, "source_rate_hz"), 44100);
      EXPECT_EQ(text(t, row, "file"), file.path.string());
      EXPECT_EQ(text(t, row, "band"), band.label);
      EXPECT_EQ(text(t, row, "result"), band.result);
      EXPECT_EQ(text(t, row, "error"), "");
      const double cells[] = {
          number(t, row, "EDT_s"),  number(t, row, "T10_s"),       number(t, row, "T20_s"),
          number(t, row, "T30_s"),  number(t, row, "r2_T30"),      number(t, row, "c50_db"),
          number(t, row, "c80_db"), number(t, row, "d50_percent"), number(t, row, "ts_ms")};
      const double wanted[] = {band.times_s[0], band.times_s[1],  band.times_s[2],
                               band.times_s[3], band.r2[3],       band.c50_db,
                               band.c80_db,     band.d50_percent, band.ts_ms};
      EXPECT_TRUE(sameBits(cells, wanted, 9)) << "channel " << channel << ", " << band.label;
      EXPECT_EQ(number(t, row, "sti"), sti.male);
      EXPECT_EQ(number(t, row, "sti_female"), sti.female);
      EXPECT_EQ(number(t, row, "stipa"), sti.stipa_male);
      EXPECT_EQ(number(t, row, "onset_s"), band.onset_s);
    }
    // And the figures are the decays the channels were made with.
    EXPECT_NEAR(number(t, (channel - 1) * 9 + 3, "T20_s"), channel == 1 ? 0.5 : 1.0, 0.05 * channel);
  }
}

TEST(SurveyLayer, ColumnsAndTheRowOfAFailedFile) {
  tvm_survey_table* out = nullptr;
  ASSERT_EQ(tvm_survey_file(nullptr, &out), TVM_OK);
  const Table columns(out);
  ASSERT_EQ(out->row_count, 0);
  EXPECT_STREQ(out->columns[0], "file");
  EXPECT_STREQ(out->columns[out->column_count - 1], "error");
  EXPECT_TRUE(out->text_columns[column(*out, "band")] && out->text_columns[column(*out, "doubts")]);
  EXPECT_FALSE(out->text_columns[column(*out, "T20_s")] || out->text_columns[column(*out, "sti")]);

  const TempFile broken("survey_broken.wav");
  std::ofstream(broken.path, std::ios::binary) << "RIFF\x04\0\0\0WAVE";
  out = reinterpret_cast<tvm_survey_table*>(&out);  // must be set to NULL
  EXPECT_EQ(tvm_survey_file(broken.path.string().c_str(), &out), TVM_BAD_FILE);
  EXPECT_EQ(out, nullptr);
  const std::string why = tvm_last_error();
  EXPECT_TRUE(contains(why.c_str(), broken.path.string())) << why;

  ASSERT_EQ(tvm_survey_failure(broken.path.string().c_str(), why.c_str(), &out), TVM_OK);
  const Table row(out);
  ASSERT_EQ(out->row_count, 1);
  EXPECT_EQ(text(*out, 0, "file"), broken.path.string());
  EXPECT_EQ(text(*out, 0, "error"), why);
  EXPECT_EQ(text(*out, 0, "band"), "");
  EXPECT_TRUE(std::isnan(number(*out, 0, "T20_s")) && std::isnan(number(*out, 0, "channel")));

  EXPECT_EQ(tvm_survey_file("/no/such/response.wav", &out), TVM_NO_FILE);
  EXPECT_EQ(tvm_survey_file("x.wav", nullptr), TVM_BAD_ARGUMENT);
  EXPECT_EQ(tvm_survey_failure(nullptr, "why", &out), TVM_BAD_ARGUMENT);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(tvm_survey_failure("x.wav", nullptr, &out), TVM_BAD_ARGUMENT);
  EXPECT_EQ(tvm_survey_failure("x.wav", "why", nullptr), TVM_BAD_ARGUMENT);
  tvm_free_survey_table(nullptr);
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

// Audio files as people bring them, read through the layer: float WAV written
// and read back, multichannel and FLAC files written here with libsndfile,
// 16-bit files that end in digital silence, responses at 44.1 kHz, and the
// files that cannot be read.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "layer_support.h"

namespace tavrix::test {
namespace {

std::string pathOf(const TempFile& f) { return f.path.string(); }

// A file written by libsndfile directly: frames x channels interleaved values.
template <class T>
void writeSndfile(const TempFile& f, const std::vector<T>& interleaved, int channels, int rate, int format) {
  SF_INFO info{};
  info.samplerate = rate, info.channels = channels, info.format = format;
  SNDFILE* file = sf_open(pathOf(f).c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  const sf_count_t frames = static_cast<sf_count_t>(interleaved.size()) / channels;
  if constexpr (std::is_same_v<T, short>) {
    EXPECT_EQ(sf_writef_short(file, interleaved.data(), frames), frames);
  } else {
    EXPECT_EQ(sf_writef_double(file, interleaved.data(), frames), frames);
  }
  sf_close(file);
}

// Reads a file that must be read (a failure names itself).
AudioData read(const TempFile& f, int32_t channel) {
  tvm_audio* out = nullptr;
  EXPECT_EQ(tvm_read_audio(pathOf(f).c_str(), channel, &out), TVM_OK) << tvm_last_error();
  return AudioData(out);
}

int32_t refusedRead(const std::string& path, int32_t channel) {
  static tvm_audio untouched;
  tvm_audio* out = &untouched;
  const int32_t code = tvm_read_audio(path.empty() ? nullptr : path.c_str(), channel, &out);
  EXPECT_EQ(out, nullptr);
  return code;
}

TEST(LayerAudio, FloatWavWrittenAndReadBackHoldsTheSamples) {
  TempFile f("layer_float.wav"), one("layer_one.wav");
  const std::vector<double> x = decayingNoise(0.3, 1.5, 0.1, 7);  // 72000 frames: more than one slice
  ASSERT_EQ(tvm_write_float_wav(pathOf(f).c_str(), x.data(), static_cast<int64_t>(x.size()), 44100), TVM_OK);
  const AudioData a = read(f, 0);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->frames, static_cast<int64_t>(x.size()));
  EXPECT_EQ(a->sample_rate, 44100);
  EXPECT_EQ(a->quantisation_step, 0);
  EXPECT_EQ(std::string(a->format), "32-bit float");
  size_t differing = 0;
  for (size_t i = 0; i < x.size(); ++i)
    differing += a->samples[i] != static_cast<double>(static_cast<float>(x[i]));
  EXPECT_EQ(differing, 0u);
  // A file of one sample is still audio.
  ASSERT_EQ(tvm_write_float_wav(pathOf(one).c_str(), x.data() + 4410, 1, 48000), TVM_OK);
  const AudioData b = read(one, 1);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->frames, 1);
  EXPECT_EQ(b->samples[0], static_cast<double>(static_cast<float>(x[4410])));
}

TEST(LayerAudio, ChannelsAreChosenFromMultichannelFiles) {
  TempFile f("layer_stereo.wav");
  std::vector<double> stereo(2 * 3000);
  for (size_t i = 0; i < 3000; ++i) stereo[2 * i] = 0.25, stereo[2 * i + 1] = 0.5 * std::sin(0.01 * i);
  writeSndfile(f, stereo, 2, 48000, SF_FORMAT_WAV | SF_FORMAT_DOUBLE);
  const AudioData a = read(f, 2);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->channels, 2);
  EXPECT_EQ(a->channel, 2);
  EXPECT_EQ(std::string(a->format), "64-bit float");
  for (size_t i = 0; i < 3000; ++i) ASSERT_EQ(a->samples[i], stereo[2 * i + 1]) << i;
  EXPECT_EQ(refusedRead(pathOf(f), 0), TVM_BAD_CHANNEL);
  EXPECT_TRUE(contains(tvm_last_error(), "has 2 channels; choose one of channels 1..2")) << tvm_last_error();
  EXPECT_EQ(refusedRead(pathOf(f), 3), TVM_BAD_CHANNEL);
  EXPECT_TRUE(contains(tvm_last_error(), "channel 3")) << tvm_last_error();
  EXPECT_EQ(refusedRead(pathOf(f), -1), TVM_BAD_ARGUMENT);
  EXPECT_TRUE(contains(tvm_last_error(), "numbered from 1")) << tvm_last_error();
}

// A 16-bit file that ends in half a second of zeros: the zeros are cut before
// the analysis (the noise analysis needs the response's own floor), the last
// sample of one step is not. Kept, the zeros change the analysis.
TEST(LayerAudio, SixteenBitFileEndingInZerosHasItsSilenceCut) {
  TempFile f("layer_pcm16.wav");
  std::vector<short> codes;
  for (double v : decayingNoise(0.5, 1.5, 0.05, 8, 48000, 1e-4))
    codes.push_back(static_cast<short>(std::lround(v * 30000)));
  codes.back() = 1;
  codes.resize(codes.size() + 24000, 0);
  writeSndfile(f, codes, 1, 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  const AudioData a = read(f, 0);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->quantisation_step, std::ldexp(1.0, -15));
  EXPECT_EQ(std::string(a->format), "16-bit PCM");
  const tvm_response r = {"pcm.wav",  a->samples, a->frames, a->sample_rate, a->quantisation_step,
                          a->channel, a->channels};
  tvm_reverb_options o = defaultOptions();
  o.low_hz = 500, o.high_hz = 2000;
  const ReverbReport cut = analyse({r}, o);
  o.keep_silence = true;
  const ReverbReport kept = analyse({r}, o);
  ASSERT_TRUE(cut && kept);
  const tvm_source_result &p = cut->positions[0], &q = kept->positions[0];
  EXPECT_EQ(p.silence_cut_s, 0.5);
  ASSERT_GE(p.note_count, 1);
  EXPECT_TRUE(contains(p.notes[0], "cut 0.500 s of digital silence at the end")) << p.notes[0];
  EXPECT_EQ(q.silence_cut_s, 0);
  EXPECT_FALSE(contains(q.notes[0], "digital silence")) << q.notes[0];
  for (int b = 0; b < 3; ++b) EXPECT_NE(p.bands[b].noise_level_db, q.bands[b].noise_level_db) << b;
}

// A response at 44.1 kHz is resampled to the filters' 48 kHz and analysed in
// the nominal bands; at its own rate every band moves down with the rate and
// is named by its centre.
TEST(LayerAudio, ResponsesAtOtherRatesAreResampledOrAnalysedAtTheirOwn) {
  const std::vector<double> x = decayingNoise(0.7, 1.5, 0.6, 9, 44100);
  const tvm_response r = responseOf(x, nullptr, 44100);
  tvm_reverb_options o = defaultOptions();
  o.low_hz = o.high_hz = 1000;
  const ReverbReport resampled = analyse({r}, o);
  o.native_rate = true;
  const ReverbReport native = analyse({r}, o);
  ASSERT_TRUE(resampled && native);
  const tvm_source_result &p = resampled->positions[0], &q = native->positions[0];
  EXPECT_EQ(p.sample_rate, 48000);
  EXPECT_EQ(p.source_rate, 44100);
  ASSERT_EQ(p.note_count, 1);
  EXPECT_TRUE(contains(p.notes[0], "resampled from 44100 Hz to 48000 Hz")) << p.notes[0];
  EXPECT_EQ(p.bands[0].frequency_hz, 1000);
  EXPECT_NEAR(p.bands[0].times_s[3], 0.7, 0.05);
  EXPECT_EQ(q.sample_rate, 44100);
  EXPECT_EQ(q.note_count, 0);
  EXPECT_EQ(native->band_scale, 44100 / 48000.0);
  EXPECT_EQ(q.bands[0].frequency_hz, 918.75);
  EXPECT_EQ(std::string(q.bands[0].label), "919 Hz");
  EXPECT_EQ(std::string(q.bands[0].nominal), "1 kHz");
  // The speech transmission index alike.
  tvm_sti_result s;
  ASSERT_EQ(tvm_analyse_sti(&r, nullptr, &s), TVM_OK) << tvm_last_error();
  EXPECT_EQ(s.sample_rate, 48000);
  EXPECT_EQ(s.source_rate, 44100);
}

TEST(LayerAudio, FilesThatCannotBeReadAreNamed) {
  TempFile text("layer_text.wav"), empty("layer_empty.wav"), flac("layer_cut.flac");
  std::ofstream(text.path) << "not audio at all, only words\n";
  writeSndfile(empty, std::vector<double>{}, 1, 48000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  // A FLAC file cut to half its length ends before the length its header declares.
  std::vector<short> codes;
  for (double v : decayingNoise(5, 3, 0.1, 10)) codes.push_back(static_cast<short>(std::lround(v * 30000)));
  writeSndfile(flac, codes, 1, 48000, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  std::filesystem::resize_file(flac.path, std::filesystem::file_size(flac.path) / 2);
  const std::string missing = pathOf(text) + ".missing", dir = scratchDir().string();
  const struct {
    std::string path;
    int32_t code;
    const char* word;
  } cases[] = {{missing, TVM_NO_FILE, "no such file"},
               {dir, TVM_NO_FILE, "is a directory"},
               {pathOf(text), TVM_BAD_FILE, "not a readable audio file"},
               {pathOf(empty), TVM_SILENT, "holds no samples"},
               {pathOf(flac), TVM_BAD_FILE, "ends before its declared length"},
               {"", TVM_BAD_ARGUMENT, "a path and a place"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(refusedRead(c.path, 0), c.code);
    EXPECT_TRUE(contains(tvm_last_error(), c.word)) << tvm_last_error();
  }
  EXPECT_EQ(tvm_read_audio(pathOf(text).c_str(), 0, nullptr), TVM_BAD_ARGUMENT);

  const double x[] = {0.5, std::nan(""), 0.25};
  const std::string nowhere = missing + "/deeper/file.wav", written = pathOf(text);
  const char* out = written.c_str();
  const struct {
    const char* path;
    const double* samples;
    int64_t length;
    int32_t rate, code;
    const char* word;
  } writes[] = {{nullptr, x, 1, 48000, TVM_BAD_ARGUMENT, "a path and samples"},
                {out, nullptr, 1, 48000, TVM_BAD_ARGUMENT, "a path and samples"},
                {out, x, 0, 48000, TVM_BAD_ARGUMENT, "at least one sample"},
                {out, x, -1, 48000, TVM_BAD_ARGUMENT, "at least one sample"},
                {out, x, 1, 0, TVM_BAD_ARGUMENT, "sample rate"},
                {out, x, 3, 48000, TVM_BAD_ARGUMENT, "sample 1 is not a finite number"},
                {nowhere.c_str(), x, 1, 48000, TVM_WRITE_FAILED, "cannot be written"}};
  for (const auto& w : writes) {
    EXPECT_EQ(tvm_write_float_wav(w.path, w.samples, w.length, w.rate), w.code) << w.word;
    EXPECT_TRUE(contains(tvm_last_error(), w.word)) << tvm_last_error();
  }
}

}  // namespace
}  // namespace tavrix::test

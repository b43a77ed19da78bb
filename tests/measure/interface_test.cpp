// The C interface's conventions: a refused call returns its failure value,
// allocates nothing, sets *out to NULL (or leaves a result struct as it was)
// and leaves one sentence naming the problem; every value has words.
#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <string>
#include <vector>

#include "layer_support.h"

namespace tavrix::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kFive[] = {0, 5, 20}, kSeventeen[17] = {};

void expectRefused(int32_t got, int32_t code, const char* word) {
  EXPECT_EQ(got, code) << word;
  EXPECT_TRUE(contains(tvm_last_error(), word)) << tvm_last_error();
}

// The calls as a refusal must leave them: *out NULL, a result untouched.
int32_t reverb(const tvm_response* responses, int32_t count, const tvm_reverb_options* options) {
  static tvm_reverb_report untouched;
  tvm_reverb_report* out = &untouched;
  const int32_t code = tvm_analyse_reverb(responses, count, options, &out);
  EXPECT_EQ(out, nullptr);
  return code;
}

int32_t sti(const tvm_response* response, const tvm_sti_options* options) {
  tvm_sti_result out, before;
  std::memset(&out, 0xA5, sizeof out);
  before = out;
  const int32_t code = tvm_analyse_sti(response, options, &out);
  EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0) << "the result was written";
  return code;
}

TEST(LayerInterface, EveryFailureValueHasItsOwnWords) {
  std::set<std::string> texts;
  for (int32_t code = TVM_TABLE_FULL; code <= TVM_OK; ++code) {
    EXPECT_FALSE(contains(tvm_error_text(code), "unknown")) << code;
    texts.insert(tvm_error_text(code));
  }
  EXPECT_EQ(texts.size(), 11u);
  EXPECT_TRUE(contains(tvm_error_text(TVM_TABLE_FULL - 1), "unknown"));
  EXPECT_TRUE(contains(tvm_error_text(1), "unknown"));
  EXPECT_EQ(std::string(tvm_version()), std::to_string(TVM_VERSION_MAJOR) + "." +
                                            std::to_string(TVM_VERSION_MINOR) + "." +
                                            std::to_string(TVM_VERSION_PATCH));
  tvm_reverb_options_init(nullptr);  // nothing to fill, nothing done
  tvm_free_reverb_report(nullptr);
  tvm_free_audio(nullptr);
  tvm_free_distortion_report(nullptr);
}

TEST(LayerInterface, ReverberationRefusesWhatCannotBeAnalysed) {
  const std::vector<double> x = decayingNoise(0.5, 1.0, 0.05, 1), zeros(48000, 0.0);
  std::vector<double> nan = x, inf = x;
  nan[100] = kNaN, inf[100] = -kInf;
  const double* s = x.data();
  const int64_t n = 48000;
  const struct {
    const char* word;
    tvm_response r;
  } responses[] = {{"needs samples", {nullptr, nullptr, n, 48000, 0, 0, 0}},
                   {"needs samples", {nullptr, s, 0, 48000, 0, 0, 0}},
                   {"needs samples", {nullptr, s, -3, 48000, 0, 0, 0}},
                   {"sample 100 is not a finite number", {nullptr, nan.data(), n, 48000, 0, 0, 0}},
                   {"sample 100 is not a finite number", {nullptr, inf.data(), n, 48000, 0, 0, 0}},
                   {"a sample rate of 999 Hz", {nullptr, s, n, 999, 0, 0, 0}},
                   {"a sample rate of 768001 Hz", {nullptr, s, n, 768001, 0, 0, 0}},
                   {"quantisation step", {nullptr, s, n, 48000, kNaN, 0, 0}},
                   {"quantisation step", {nullptr, s, n, 48000, -1e-3, 0, 0}},
                   {"quantisation step", {nullptr, s, n, 48000, 1, 0, 0}}};
  for (const auto& c : responses) expectRefused(reverb(&c.r, 1, nullptr), TVM_BAD_ARGUMENT, c.word);

  const tvm_response good = responseOf(x);
  const struct {
    const char* word;
    void (*change)(tvm_reverb_options&);
  } options[] = {
      {"bands 3", [](auto& o) { o.bands = 3; }},
      {"low: the frequency must be", [](auto& o) { o.low_hz = kNaN; }},
      {"low: the frequency must be", [](auto& o) { o.low_hz = -1; }},
      {"high: the frequency must be", [](auto& o) { o.high_hz = kInf; }},
      {"low 11 Hz: outside the octave bands (16 Hz to 16 kHz)", [](auto& o) { o.low_hz = 11; }},
      {"high 23000 Hz: outside the octave bands", [](auto& o) { o.high_hz = 23000; }},
      {"low 12.5 Hz: outside the third-octave bands (16 Hz to 20 kHz)",
       [](auto& o) { o.bands = TVM_THIRD, o.low_hz = 12.5; }},
      {"high 25000 Hz: outside", [](auto& o) { o.bands = TVM_THIRD, o.high_hz = 25000; }},
      {"low lies above high", [](auto& o) { o.low_hz = 4000, o.high_hz = 250; }},
      {"5 dB is not a decay range", [](auto& o) { o.ranges = kFive, o.range_count = 3; }},
      {"is not a decay range", [](auto& o) { o.ranges = &kNaN, o.range_count = 1; }},
      {"give 1 to 16 decay ranges, not 17", [](auto& o) { o.ranges = kSeventeen, o.range_count = 17; }},
      {"give 1 to 16 decay ranges, not 0", [](auto& o) { o.ranges = kFive; }},
      {"go together", [](auto& o) { o.sweep_seconds = 2; }},
      {"go together", [](auto& o) { o.tail_seconds = 1; }},
      {"0 or positive", [](auto& o) { o.sweep_seconds = -1, o.tail_seconds = 1; }},
      {"0 or positive", [](auto& o) { o.sweep_seconds = 1, o.tail_seconds = kNaN; }}};
  for (const auto& c : options) {
    tvm_reverb_options o = defaultOptions();
    c.change(o);
    expectRefused(reverb(&good, 1, &o), TVM_BAD_ARGUMENT, c.word);
  }

  expectRefused(tvm_analyse_reverb(&good, 1, nullptr, nullptr), TVM_BAD_ARGUMENT, "a place for the report");
  expectRefused(reverb(nullptr, 1, nullptr), TVM_BAD_ARGUMENT, "give at least one response");
  expectRefused(reverb(&good, 0, nullptr), TVM_BAD_ARGUMENT, "give at least one response");
  expectRefused(reverb(&good, -1, nullptr), TVM_BAD_ARGUMENT, "give at least one response");
  const tvm_response silent = responseOf(zeros, "zeros.wav");
  expectRefused(reverb(&silent, 1, nullptr), TVM_SILENT, "zeros.wav: the response holds nothing but digital");
  // A stationary noise has no direct sound to start a decay from.
  std::mt19937 random(3);
  std::normal_distribution<double> gauss;
  std::vector<double> hum(96000);
  for (double& v : hum) v = 0.1 * gauss(random);
  const tvm_response noise = responseOf(hum, "hum.wav");
  expectRefused(reverb(&noise, 1, nullptr), TVM_NO_DIRECT_SOUND, "hum.wav: no distinct direct sound");
  // Positions analysed at their own, different rates form no ensemble.
  const std::vector<double> other = decayingNoise(0.5, 1.0, 0.05, 2, 44100);
  const tvm_response two[] = {good, responseOf(other, nullptr, 44100)};
  tvm_reverb_options native = defaultOptions();
  native.native_rate = true;
  expectRefused(reverb(two, 2, &native), TVM_BAD_ARGUMENT, "an ensemble needs one sample rate");
}

// Options and rates at their limits pass their checks and reach the
// response, whose zeros are then refused as silent.
TEST(LayerInterface, LimitsThemselvesAreAccepted) {
  const std::vector<double> zeros(1000, 0.0);
  static double sixteen[16] = {0, 10}, ten[] = {10};
  for (int k = 2; k < 16; ++k) sixteen[k] = 10 + 5 * k;
  void (*const limits[])(tvm_reverb_options&) = {
      [](auto&) {}, [](auto& o) { o.low_hz = 16, o.high_hz = 16000, o.ranges = sixteen, o.range_count = 16; },
      [](auto& o) { o.low_hz = o.high_hz = 1000, o.ranges = ten, o.range_count = 1; },
      [](auto& o) { o.bands = TVM_THIRD, o.low_hz = 16, o.high_hz = 20000; }};
  for (int32_t rate : {1000, 768000}) {
    for (const auto change : limits) {
      tvm_reverb_options o = defaultOptions();
      change(o);
      const tvm_response r = responseOf(zeros, nullptr, rate);
      expectRefused(reverb(&r, 1, &o), TVM_SILENT, "digital silence");
    }
  }
}

TEST(LayerInterface, SpeechTransmissionIndexRefusesWhatCannotBeAnalysed) {
  const std::vector<double> x = decayingNoise(0.5, 1.0, 0.05, 1), zeros(48000, 0.0);
  std::vector<double> nan = x;
  nan[7] = kNaN;
  const double levels[7] = {60, 60, 60, 60, 60, 60, 60}, nanLevels[7] = {60, 60, kNaN, 60, 60, 60, 60};
  const struct {
    const char* word;
    tvm_response r;
    tvm_sti_options o;
  } cases[] = {
      {"needs samples", {nullptr, nullptr, 48000, 48000, 0, 0, 0}, {}},
      {"needs samples", {nullptr, x.data(), 0, 48000, 0, 0, 0}, {}},
      {"sample 7 is not a finite number", {nullptr, nan.data(), 48000, 48000, 0, 0, 0}, {}},
      {"a sample rate of 0 Hz", {nullptr, x.data(), 48000, 0, 0, 0, 0}, {}},
      {"go together", {nullptr, x.data(), 48000, 48000, 0, 0, 0}, {false, levels, nullptr}},
      {"finite numbers of dB", {nullptr, x.data(), 48000, 48000, 0, 0, 0}, {false, levels, nanLevels}}};
  for (const auto& c : cases) expectRefused(sti(&c.r, &c.o), TVM_BAD_ARGUMENT, c.word);
  const tvm_response good = responseOf(x), silent = responseOf(zeros);
  expectRefused(sti(nullptr, nullptr), TVM_BAD_ARGUMENT, "a response and a place");
  expectRefused(tvm_analyse_sti(&good, nullptr, nullptr), TVM_BAD_ARGUMENT, "a response and a place");
  expectRefused(sti(&silent, nullptr), TVM_SILENT, "nothing but zeros");
}

TEST(LayerInterface, DistortionRefusesWhatCannotBeAnalysed) {
  std::vector<double> x(96000, 0.0), nan(x), zeros(x), none;
  x[100] = 1, nan[5] = kNaN;
  const struct {
    const char* word;
    const std::vector<double>& x;
    double rate, from, to, seconds;
    int first, last;
  } cases[] = {{"needs an impulse response", none, 48000, 20, 20000, 2, 2, 3},
               {"not a finite number", nan, 48000, 20, 20000, 2, 2, 3},
               {"nothing but zeros", zeros, 48000, 20, 20000, 2, 2, 3},
               {"a rate of at least 1000 Hz", x, 999, 20, 400, 2, 2, 3},
               {"a rate of at least 1000 Hz", x, kNaN, 20, 400, 2, 2, 3},
               {"0 < start < end", x, 48000, 0, 20000, 2, 2, 3},
               {"0 < start < end", x, 48000, 1000, 500, 2, 2, 3},
               {"0 < start < end", x, 48000, 20, kInf, 2, 2, 3},
               {"a positive duration", x, 48000, 20, 20000, 0, 2, 3},
               {"harmonics 1..3", x, 48000, 20, 20000, 2, 1, 3},
               {"harmonics 3..2", x, 48000, 20, 20000, 2, 3, 2},
               {"harmonics 2..11", x, 48000, 20, 20000, 2, 2, 11},
               {"harmonic 5 does not fit", x, 48000, 20, 20000, 10, 2, 5},
               {"no third octave", x, 48000, 990, 1010, 0.02, 2, 2}};
  for (const auto& c : cases) {
    static tvm_distortion_report untouched;
    tvm_distortion_report* out = &untouched;
    expectRefused(tvm_analyse_distortion(c.x.empty() ? nullptr : c.x.data(), static_cast<int64_t>(c.x.size()),
                                         c.rate, c.from, c.to, c.seconds, c.first, c.last, &out),
                  TVM_BAD_ARGUMENT, c.word);
    EXPECT_EQ(out, nullptr);
  }
  expectRefused(tvm_analyse_distortion(x.data(), 96000, 48000, 20, 20000, 2, 2, 3, nullptr), TVM_BAD_ARGUMENT,
                "a place for the report");
}

// A host that fills a table of the library itself leaves the layer no slot:
// a failure of its own, which names the table.
TEST(LayerInterface, TablesFilledByTheHostAreReportedAsFull) {
  const std::vector<double> x = decayingNoise(0.5, 1.0, 0.05, 1);
  const tvm_response r = responseOf(x);
  std::vector<int32_t> reverbs, indices;
  tvm_lock_library();
  for (int32_t h; (h = initReverberation(nullptr, 0, 48000, 0, 0)) >= 0;) reverbs.push_back(h);
  for (int32_t h; (h = initSpeechTransmissionIndex(nullptr, 0, 48000)) >= 0;) indices.push_back(h);
  EXPECT_EQ(reverbs.size(), 255u);
  expectRefused(reverb(&r, 1, nullptr), TVM_TABLE_FULL, "no free reverberation slot");
  expectRefused(sti(&r, nullptr), TVM_TABLE_FULL, "no free STI slot");
  for (int32_t h : reverbs) deleteReverberation(h);
  for (int32_t h : indices) deleteSpeechTransmissionIndex(h);
  tvm_unlock_library();
  tvm_sti_result s;
  EXPECT_EQ(tvm_analyse_sti(&r, nullptr, &s), TVM_OK) << tvm_last_error();
}

}  // namespace
}  // namespace tavrix::test

// The layer may be called from any number of threads at once: it serialises
// its use of the library, and a host that calls the library itself takes the
// same lock. Four threads analysing four responses at once (one of them also
// filtering through the library directly) get what the same calls made one
// after another get, bit for bit; each thread keeps its own last failure.
#include <gtest/gtest.h>

#include <barrier>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "layer_support.h"

namespace tavrix::test {
namespace {

constexpr int kThreads = 4;

// Every number of a reverberation report, band by band, and of an index.
std::vector<double> numbersOf(const tvm_reverb_report& report) {
  std::vector<double> v;
  for (int p = 0; p < report.position_count; ++p) {
    const tvm_source_result& s = report.positions[p];
    for (int b = 0; b < s.band_count; ++b) {
      const tvm_band_result& x = s.bands[b];
      v.insert(v.end(), x.times_s, x.times_s + report.range_count);
      v.insert(v.end(), x.r2, x.r2 + report.range_count);
      v.insert(v.end(), {x.dynamic_range_db, x.curvature_percent, x.noise_level_db, x.peak_level_db,
                         x.end_level_db, x.tail_model_db[0], x.tail_model_db[1], x.c50_db, x.c80_db,
                         x.d50_percent, x.ts_ms, double(x.status), double(x.level_first_block)});
      v.insert(v.end(), x.level_db, x.level_db + x.level_length);
      v.insert(v.end(), x.decay_db, x.decay_db + x.decay_length);
    }
  }
  return v;
}

std::vector<double> numbersOf(const tvm_sti_result& r) {
  std::vector<double> v{r.male, r.female};
  for (const auto& band : r.mtf) v.insert(v.end(), band, band + 14);
  return v;
}

struct Results {
  std::vector<double> reverb, sti, filtered;
};

// The host's own use of the library: a noise through the 1 kHz octave filter.
std::vector<double> hostFilters(unsigned seed) {
  std::vector<double> x = decayingNoise(1, 0.5, 0, seed);
  tvm_lock_library();
  const int32_t bank = initFilterBank(1, 10, 10);
  EXPECT_EQ(filterSingleBand(bank, x.data(), static_cast<int32_t>(x.size()), 10), 0);
  deleteFilterBank(bank);
  tvm_unlock_library();
  return x;
}

Results measure(const std::vector<double>& x, bool host) {
  Results run;
  tvm_reverb_options o = defaultOptions();
  o.low_hz = 500, o.high_hz = 2000, o.parameters = true;
  if (host) run.filtered = hostFilters(1);
  const ReverbReport report = analyse({responseOf(x)}, o);
  if (report) run.reverb = numbersOf(*report);
  if (host) {
    const std::vector<double> again = hostFilters(2);
    run.filtered.insert(run.filtered.end(), again.begin(), again.end());
  }
  const tvm_response r = responseOf(x);
  tvm_sti_result s;
  EXPECT_EQ(tvm_analyse_sti(&r, nullptr, &s), TVM_OK) << tvm_last_error();
  run.sti = numbersOf(s);
  return run;
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && test::sameBits(a.data(), b.data(), a.size());
}

TEST(LayerThreads, ConcurrentAnalysesGiveTheSerialBits) {
  std::vector<std::vector<double>> responses;
  for (int i = 0; i < kThreads; ++i) responses.push_back(decayingNoise(0.4 + 0.2 * i, 1.2, 0.3, 20 + i));
  std::vector<Results> concurrent(kThreads);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      concurrent[i] = measure(responses[i], i == 0);
    });
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) {
    SCOPED_TRACE(i);
    const Results serial = measure(responses[i], i == 0);
    ASSERT_FALSE(serial.reverb.empty());
    EXPECT_TRUE(sameBits(concurrent[i].reverb, serial.reverb));
    EXPECT_TRUE(sameBits(concurrent[i].sti, serial.sti));
    EXPECT_TRUE(sameBits(concurrent[i].filtered, serial.filtered));
  }
}

TEST(LayerThreads, LastFailureBelongsToItsThread) {
  std::barrier step(2);
  std::string before, first, later;
  std::thread a([&] {
    before = tvm_last_error();
    tvm_reverb_report* out = nullptr;
    EXPECT_EQ(tvm_analyse_reverb(nullptr, 1, nullptr, &out), TVM_BAD_ARGUMENT);
    first = tvm_last_error();
    step.arrive_and_wait();  // the other thread fails now
    step.arrive_and_wait();
    // Neither a failure elsewhere nor a call that succeeds changes it.
    const TempFile f("layer_thread.wav");
    const double x[] = {0.5, -0.5};
    EXPECT_EQ(tvm_write_float_wav(f.path.string().c_str(), x, 2, 48000), TVM_OK);
    tvm_lock_library();
    tvm_unlock_library();
    tvm_error_text(TVM_NO_FILE);
    tvm_version();
    later = tvm_last_error();
  });
  std::thread b([&] {
    step.arrive_and_wait();
    tvm_audio* out = nullptr;
    EXPECT_EQ(tvm_read_audio("no such file here.wav", 0, &out), TVM_NO_FILE);
    EXPECT_TRUE(contains(tvm_last_error(), "no such file here.wav: no such file")) << tvm_last_error();
    step.arrive_and_wait();
  });
  a.join();
  b.join();
  EXPECT_EQ(before, "");
  EXPECT_TRUE(contains(first.c_str(), "at least one response")) << first;
  EXPECT_EQ(later, first);
}

}  // namespace
}  // namespace tavrix::test

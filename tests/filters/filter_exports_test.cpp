// The filter-bank and band-response exports, called as a host calls them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "api/tables.h"
#include "filters/test_signals.h"
#include "impulse/impulse_measurement.h"
#include "support/temp_path.h"
#include "tavrix.h"

namespace tavrix {
namespace {

using test::noise;

TEST(FilterBankExports, ConstructorTakesLowestSlotAndFreesItOnFailure) {
  initTavrix();
  const int32_t h = initFilterBank(2, 12, 43);
  ASSERT_GE(h, 0);
  EXPECT_EQ(initFilterBank(2, 11, 43), -1);
  EXPECT_EQ(initFilterBank(5, 12, 12), -1);
  EXPECT_EQ(initFilterBank(1, 9, 8), -1);
  // The failed calls kept no slot: the next bank takes the slot after h.
  const int32_t next = initFilterBank(1, 4, 14);
  EXPECT_EQ(next, h + 1);

  std::vector<int32_t> handles;
  for (int32_t k; (k = initFilterBank(1, 10, 10)) >= 0;) handles.push_back(k);
  EXPECT_EQ(handles.size() + 2, 255u);
  for (int32_t k : handles) EXPECT_EQ(deleteFilterBank(k), 0);

  EXPECT_EQ(deleteFilterBank(next), 0);
  EXPECT_EQ(deleteFilterBank(next), -1);
  EXPECT_EQ(deleteFilterBank(h), 0);
  EXPECT_EQ(deleteFilterBank(-1), -1);
  EXPECT_EQ(deleteFilterBank(255), -1);
}

TEST(FilterBankExports, BadArgumentsFailAndChangeNothing) {
  const int32_t h = initFilterBank(1, 4, 14);
  ASSERT_GE(h, 0);
  const std::vector<double> input = noise(32, 1);
  std::vector<double> x = input;
  for (auto filter : {filterSingleBand, filterSingleBandReverse}) {
    EXPECT_EQ(filter(h, nullptr, 32, 10), -1);
    EXPECT_EQ(filter(h, x.data(), -1, 10), -1);
    EXPECT_EQ(filter(h, x.data(), 32, 3), -1);
    EXPECT_EQ(filter(h, x.data(), 32, 99999), -1);
    EXPECT_EQ(filter(h + 1, x.data(), 32, 10), -1);
    EXPECT_EQ(filter(-5, x.data(), 32, 10), -1);
    EXPECT_EQ(filter(1000, x.data(), 32, 10), -1);
    EXPECT_EQ(filter(h, x.data(), 32, TAVRIX_BAND_UNFILTERED), 0);
    EXPECT_EQ(filter(h, x.data(), 0, 10), 0);
  }
  EXPECT_EQ(x, input);
  EXPECT_EQ(getStepDelay(h, 10), 63);
  EXPECT_EQ(getStepDelay(h, 4), 4024);
  EXPECT_EQ(getStepDelay(h, TAVRIX_BAND_A_WEIGHTING), -1);
  EXPECT_EQ(getStepDelay(h, 15), -1);
  EXPECT_EQ(getStepDelay(h + 1, 10), -1);
  EXPECT_EQ(deleteFilterBank(h), 0);
}

// A measurement holding a given impulse response, placed in the impulse
// table the way the deconvolution leaves it.
struct Measurement {
  int32_t handle;
  explicit Measurement(const std::vector<double>& ir, double sampleRate = 48000.0) {
    handle = impulseTable().create();
    ImpulseMeasurement* m = impulseTable().find(handle);
    m->impulseResponse = DynArray<double>(ir.data(), static_cast<int32_t>(ir.size()));
    m->nfft = static_cast<int32_t>(ir.size());
    m->sampleRate = sampleRate;
  }
  ~Measurement() { impulseTable().release(handle); }
  ImpulseMeasurement& get() { return *impulseTable().find(handle); }
};

// A decaying noise burst standing in for a room response.
std::vector<double> roomResponse(size_t n) {
  std::vector<double> ir = noise(n, 3);
  for (size_t t = 0; t < n; ++t) ir[t] *= std::exp(-static_cast<double>(t) / 600.0);
  return ir;
}

TEST(ImpulseResponseExports, HilbertEnvelopeOfStoredResponse) {
  Measurement m({1, 0, 0, 0, 0, 0, 0, 0});
  std::vector<double> out(8);
  ASSERT_EQ(getImpulseResponseHilbert(m.handle, out.data()), 0);
  EXPECT_NEAR(out[1], 0.603553, 5e-7);
  EXPECT_NEAR(out[3], 0.103553, 5e-7);
  EXPECT_EQ(getImpulseResponseHilbert(m.handle, nullptr), -1);
  EXPECT_EQ(getImpulseResponseHilbert(m.handle + 1, out.data()), -1);
  EXPECT_EQ(loadImpulseResponseFromFile(), -1);
}

TEST(ImpulseResponseExports, FilteredResponseNeedsBankResponseAndKnownBand) {
  const std::vector<double> ir = roomResponse(4096);
  Measurement m(ir);
  std::vector<double> out(4096, 7.0);
  EXPECT_EQ(getFilteredImpulseResponse(m.handle, out.data(), 30), -1);  // no bank yet
  EXPECT_EQ(initImpulseResponseFunctionGenerator(m.handle, 2, 20, 40), 0);
  EXPECT_EQ(getFilteredImpulseResponse(m.handle, out.data(), 19), -1);
  EXPECT_EQ(out, ir);  // the unfiltered copy
  EXPECT_EQ(getFilteredImpulseResponse(m.handle, nullptr, 30), -1);
  EXPECT_EQ(getFilteredImpulseResponse(m.handle, out.data(), TAVRIX_BAND_UNFILTERED), 0);
  EXPECT_EQ(out, ir);

  // Each band, and each weighting, comes out as the response filtered
  // time-reversed from rest, however often it is asked for: compare with a
  // fresh filter bank of the filtering exports.
  for (int32_t band : {30, 20, 40, TAVRIX_BAND_A_WEIGHTING, TAVRIX_BAND_C_WEIGHTING}) {
    const int32_t bank = initFilterBank(2, 20, 40);
    std::vector<double> expected = ir;
    ASSERT_EQ(filterSingleBandReverse(bank, expected.data(), 4096, band), 0);
    deleteFilterBank(bank);
    for (int repeat = 0; repeat < 2; ++repeat) {
      ASSERT_EQ(getFilteredImpulseResponse(m.handle, out.data(), band), 0);
      EXPECT_EQ(out, expected) << band;
    }
    std::vector<double> envelope(4096);
    ASSERT_EQ(getFilteredImpulseResponseHilbert(m.handle, envelope.data(), band), 0);
    for (size_t t = 0; t < 4096; t += 97) EXPECT_GE(envelope[t], std::fabs(expected[t]) * (1 - 1e-12));
  }
  EXPECT_EQ(getFilteredImpulseResponseHilbert(m.handle, out.data(), 19), -1);

  // A failed attach leaves no bank behind, not the earlier one.
  EXPECT_EQ(initImpulseResponseFunctionGenerator(m.handle, 2, 11, 40), -1);
  EXPECT_EQ(m.get().bandFilter, nullptr);
  EXPECT_EQ(getFilteredImpulseResponse(m.handle, out.data(), 30), -1);
  EXPECT_EQ(initImpulseResponseFunctionGenerator(-1, 1, 4, 14), -1);
}

TEST(ImpulseResponseExports, BankWithoutResponseFails) {
  Measurement m({});
  std::vector<double> out(16, 0.0);
  EXPECT_EQ(initImpulseResponseFunctionGenerator(m.handle, 1, 4, 14), 0);
  EXPECT_EQ(getFilteredImpulseResponse(m.handle, out.data(), 10), -1);
  EXPECT_EQ(getFilteredImpulseResponseHilbert(m.handle, out.data(), 10), -1);
  EXPECT_EQ(getImpulseResponseHilbert(m.handle, out.data()), -1);
  EXPECT_EQ(getImpulseResponseFile(m.handle, test::TempFile("none.wav").c_str()), -1);
}

// Reads the fields of a float WAV file by hand, independently of the library's reader.
TEST(ImpulseResponseExports, ResponseFileIsFloatWaveAtMeasurementRate) {
  const std::vector<double> ir = roomResponse(1000);
  Measurement m(ir, 44100.7);
  test::TempFile file("impulse_response.wav");
  ASSERT_EQ(getImpulseResponseFile(m.handle, file.c_str()), 0);
  std::ifstream in(file.path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto u16 = [&](size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8);
  };
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(u16(at) | static_cast<uint32_t>(u16(at + 2)) << 16);
  };
  ASSERT_EQ(bytes.substr(0, 4), "RIFF");
  ASSERT_EQ(bytes.substr(8, 4), "WAVE");
  size_t at = 12, fmt = 0, data = 0;
  while (at + 8 <= bytes.size()) {
    if (bytes.compare(at, 4, "fmt ") == 0) fmt = at + 8;
    if (bytes.compare(at, 4, "data") == 0) data = at;
    at += 8 + u32(at + 4);
  }
  ASSERT_GT(fmt, 0u);
  ASSERT_GT(data, 0u);
  EXPECT_EQ(u16(fmt), 3);      // IEEE float
  EXPECT_EQ(u16(fmt + 2), 1);  // mono
  EXPECT_EQ(u32(fmt + 4), 44100u);
  EXPECT_EQ(u16(fmt + 14), 32);
  ASSERT_EQ(u32(data + 4), 4000u);
  for (size_t t = 0; t < 1000; ++t) {
    float v;
    std::memcpy(&v, bytes.data() + data + 8 + 4 * t, 4);
    EXPECT_EQ(v, static_cast<float>(ir[t]));
  }
  EXPECT_EQ(getImpulseResponseFile(m.handle, nullptr), -1);
  EXPECT_EQ(getImpulseResponseFile(m.handle + 1, file.c_str()), -1);
}

}  // namespace
}  // namespace tavrix

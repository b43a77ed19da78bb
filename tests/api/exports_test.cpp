#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <utility>
#include <vector>

#include "support/temp_path.h"
#include "tavrix.h"

namespace {

using tavrix::test::ReadBack, tavrix::test::TempFile;

TEST(Handles, SlotRulesOfTheImpulseTable) {
  ASSERT_EQ(initTavrix(), 0);
  for (int32_t i = 0; i < 255; ++i) ASSERT_EQ(initImpulse(), i);
  EXPECT_EQ(initImpulse(), -1);
  // A freed slot is reused, lowest first.
  EXPECT_EQ(deleteImpulse(200), 0);
  EXPECT_EQ(deleteImpulse(7), 0);
  EXPECT_EQ(deleteImpulse(7), -1);
  EXPECT_EQ(initImpulse(), 7);
  EXPECT_EQ(initImpulse(), 200);
  EXPECT_EQ(initImpulse(), -1);
  // Handles outside 0..254 are empty slots for every call.
  for (int32_t h : {-1, 255, 256, 100000, INT32_MIN, INT32_MAX})
    EXPECT_EQ((std::vector{deleteImpulse(h), setESSFade(h, true), getESSSize(h), getNFFT(h)}),
              std::vector<int32_t>(4, -1))
        << h;
  // Starting the library again keeps what exists.
  ASSERT_EQ(generateESS(3, 8000, 100, 1000, 0.5, 1), 4000);
  EXPECT_EQ(initTavrix(), 0);
  EXPECT_EQ(getESSSize(3), 4000);
  EXPECT_EQ(initImpulse(), -1);
  for (int32_t i = 0; i < 255; ++i) ASSERT_EQ(deleteImpulse(i), 0);
  // log2 of a negative number (8 and 0 are checked by the host program, through
  // the shared library), and freeing nothing is allowed.
  EXPECT_TRUE(std::isnan(tavrix_log2(-1.0)));
  EXPECT_EQ(deleteDouble(nullptr), 0);
}

// A measurement that is deleted however the test ends.
struct Measurement {
  int32_t handle;
  Measurement() : handle((initTavrix(), initImpulse())) {}
  ~Measurement() { deleteImpulse(handle); }
};

TEST(ImpulseExports, SweepToImpulseResponseThroughSamplesAndFiles) {
  Measurement m;
  ASSERT_EQ(setESSFade(m.handle, true), 0);
  ASSERT_EQ(generateESS(m.handle, 8000, 50, 4000, 0.5, 1), 4000);
  std::vector<double> sweep(4000), ir(8192), recording(5000, 0.0);
  ASSERT_EQ(getESS(m.handle, sweep.data()), 0);
  EXPECT_EQ(sweep.back(), 0.0);                                   // faded out
  EXPECT_EQ(generateESS(m.handle, 8000, 50, 4000, 0.25, 1), -1);  // one sweep per object
  EXPECT_EQ(getESSSize(m.handle), 4000);
  TempFile file("recording.wav"), missing("missing.wav");
  // A recording: 0.25 of the sweep 300 samples late.
  for (size_t i = 0; i < sweep.size(); ++i) recording[i + 300] = 0.25 * sweep[i];
  ASSERT_EQ(processInputSignal(m.handle, recording.data(), 5000), 8192);
  ASSERT_EQ(getImpulseResponse(m.handle, ir.data()), 0);
  for (size_t i = 0; i < ir.size(); ++i) ASSERT_NEAR(ir[i], i == 300 ? 0.25 : 0.0, 1e-9) << i;
  // The same recording through a 16-bit WAV file (0.99 of full scale), with -6.0206 dB of gain.
  ASSERT_EQ(writeWaveFile(file.c_str(), recording.data(), 5000, 8000), 0);
  ASSERT_EQ(processInputSignalFile(m.handle, file.c_str(), -6.0206), 8192);
  ASSERT_EQ(getImpulseResponse(m.handle, ir.data()), 0);
  EXPECT_NEAR(ir[300], 0.25 * 0.99 * 0.5, 2e-4);
  // An unreadable file: -1, and the recording is gone.
  EXPECT_EQ(processInputSignalFile(m.handle, missing.c_str(), 0.0), -1);
  EXPECT_EQ(getNFFT(m.handle), -1);
}

// 0.2 s of silence, the sweep at 0.99 of full scale with -6 dB of gain, and
// 2 + 1 s of tail, in 16 bits: ten of the writer's blocks of 65536 samples.
TEST(ImpulseExports, PlaybackFileHoldsSilenceSweepAndTail) {
  Measurement m;
  ASSERT_EQ(generateESS(m.handle, 48000, 20, 20000, 10, 2), 480000);
  std::vector<double> sweep(480000);
  ASSERT_EQ(getESS(m.handle, sweep.data()), 0);
  TempFile file("playback.wav");
  ASSERT_EQ(getESSFile(m.handle, file.c_str(), -6.0), 0);
  const ReadBack back(file.c_str());
  EXPECT_EQ(back.rate, 48000.0);
  ASSERT_EQ(back.n, 9600 + 480000 + 144000);
  double worst = 0.0;
  for (int32_t i = 0; i < back.n; ++i) {
    const double expected =
        (i >= 9600 && i < 9600 + 480000) ? std::pow(10.0, -0.3) * 0.99 * sweep[i - 9600] : 0.0;
    worst = std::max(worst, std::abs(back.data[i] - expected));
  }
  EXPECT_LE(worst, 0.5 / 32768 + 1e-7);
}

// The sweep's spectrum is kept between recordings: a recording that needs a
// longer transform, and a two-channel reference of the same length as the
// last, must give exactly what an object that never saw the earlier calls gives.
TEST(ImpulseExports, KeptSweepSpectrumFollowsTheSweepAndTheTransformLength) {
  Measurement kept, fresh, freshTwo;
  for (const Measurement* m : {&kept, &fresh, &freshTwo})
    ASSERT_EQ(generateESS(m->handle, 8000, 50, 4000, 0.5, 1), 4000);
  std::vector<double> sweep(4000), other(4000), recording(9000, 0.0);
  ASSERT_EQ(getESS(kept.handle, sweep.data()), 0);
  for (size_t i = 0; i < sweep.size(); ++i) {
    recording[i + 7] = sweep[i];
    other[i] = 0.5 * sweep[i] + (i > 0 ? 0.25 * sweep[i - 1] : 0.0);
  }
  auto response = [](const Measurement& m) {
    std::vector<double> ir(static_cast<size_t>(std::max(getNFFT(m.handle), 0)));
    EXPECT_EQ(getImpulseResponse(m.handle, ir.data()), 0);
    return ir;
  };
  ASSERT_EQ(processInputSignal(kept.handle, recording.data(), 5000), 8192);
  ASSERT_EQ(processInputSignal(kept.handle, recording.data(), 9000), 16384);
  ASSERT_EQ(processInputSignal(fresh.handle, recording.data(), 9000), 16384);
  EXPECT_EQ(response(kept), response(fresh));
  ASSERT_EQ(processInputSignalForMicCalTwoCh(kept.handle, sweep.data(), recording.data(), 4000), 4096);
  ASSERT_EQ(processInputSignalForMicCalTwoCh(kept.handle, other.data(), recording.data(), 4000), 4096);
  ASSERT_EQ(processInputSignalForMicCalTwoCh(freshTwo.handle, other.data(), recording.data(), 4000), 4096);
  EXPECT_EQ(response(kept), response(freshTwo));
}

TEST(ImpulseExports, BadArgumentsFailAndChangeNothing) {
  Measurement m, early;
  const double nan = std::nan(""), inf = INFINITY;
  // clang-format off
  const std::vector<std::vector<double>> badSweeps{
      {nan, 20, 2000, 1, 1},     {48000, nan, 2000, 1, 1},  {48000, 20, inf, 1, 1},
      {48000, 20, 2000, nan, 1}, {48000, 20, 2000, 1, -inf}, {48000, 2000, 2000, 1, 1}};
  // clang-format on
  for (const auto& a : badSweeps) EXPECT_EQ(generateESS(m.handle, a[0], a[1], a[2], a[3], a[4]), -1);
  std::vector<double> x(128, 0.0);
  x[0] = 1.0;
  EXPECT_EQ(getESS(m.handle, x.data()), -1);
  EXPECT_EQ(getESSFile(m.handle, u"x.wav", 0.0), -1);
  EXPECT_EQ(getImpulseResponse(m.handle, x.data()), -1);
  // A recording without a sweep is kept but not deconvolved; the object then
  // takes no sweep any more.
  EXPECT_EQ(processInputSignal(early.handle, x.data(), 4), -1);
  EXPECT_EQ(generateESS(early.handle, 1000, 10, 500, 0.1, 1), -1);

  ASSERT_EQ(generateESS(m.handle, 1000, 10, 500, 0.1, 1), 100);
  const char16_t unpaired[] = {u'a', 0xDC00, 0};
  EXPECT_EQ((std::vector{getESS(m.handle, nullptr), getESSFile(m.handle, nullptr, 0.0),
                         getESSFile(m.handle, unpaired, 0.0), getESSFile(m.handle, u"x.wav", nan),
                         processInputSignal(m.handle, nullptr, 128)}),
            std::vector<int32_t>(5, -1));
  for (int32_t n : {0, -5, 99}) EXPECT_EQ(processInputSignal(m.handle, x.data(), n), -1) << n;  // 99: short
  EXPECT_EQ(getNFFT(m.handle), -1);
  ASSERT_EQ(processInputSignal(m.handle, x.data(), 128), 128);
  // Rejected arguments leave the recording and results alone.
  EXPECT_EQ(processInputSignalFile(m.handle, nullptr, 0.0), -1);
  EXPECT_EQ(processInputSignalFile(m.handle, u"x.wav", inf), -1);
  EXPECT_EQ(getImpulseResponse(m.handle, nullptr), -1);
  EXPECT_EQ(getNFFT(m.handle), 128);
  // A path that names no file is an unreadable file: the recording is gone.
  EXPECT_EQ(processInputSignalFile(m.handle, unpaired, 0.0), -1);
  EXPECT_EQ(getNFFT(m.handle), -1);

  // File exports: an empty file is valid; bad arguments allocate nothing.
  TempFile file("exports.wav"), missing("missing.wav");
  EXPECT_EQ(writeWaveFile(nullptr, x.data(), 3, 44100), -1);
  EXPECT_EQ(writeWaveFile(file.c_str(), nullptr, 3, 44100), -1);
  EXPECT_EQ(writeWaveFile(file.c_str(), x.data(), -1, 44100), -1);
  EXPECT_EQ(writeWaveFile(file.c_str(), x.data(), 3, 0), -1);
  ASSERT_EQ(writeWaveFile(file.c_str(), nullptr, 0, 8000), 0);
  double* samples = nullptr;
  double rate = 0;
  int32_t n = -1;
  ASSERT_EQ(readWaveFile(file.c_str(), &samples, &rate, &n), 0);
  EXPECT_EQ(n, 0);
  EXPECT_NE(samples, nullptr);
  EXPECT_EQ(deleteDouble(samples), 0);
  EXPECT_EQ(readWaveFile(file.c_str(), nullptr, &rate, &n), -1);
  // Every failure leaves *samples null, whichever other argument is missing.
  const auto nullOnFailure = [&](const char16_t* path, double* rateOut, int32_t* countOut) {
    samples = x.data();
    return readWaveFile(path, &samples, rateOut, countOut) == -1 && samples == nullptr;
  };
  EXPECT_TRUE(nullOnFailure(nullptr, &rate, &n) && nullOnFailure(file.c_str(), nullptr, &n) &&
              nullOnFailure(file.c_str(), &rate, nullptr) && nullOnFailure(missing.c_str(), &rate, &n));
}

// A file whose header is read but whose recording is not (or whose header is
// refused) changes no setting of the measurement, and the response getters
// then agree with getNFFT: -1 and nothing written.
TEST(ImpulseExports, FailedFileReadKeepsTheRateAndHidesTheResponse) {
  TempFile bad("bad.wav"), playback("playback.wav");
  std::vector<double> x(4000, 0.0), out(8192, 7.0), freq(8192, 7.0);
  // (offset, little-endian value): data missing at 11025 Hz, then rates 0, 2^31, 2^32 - 1.
  for (auto [at, value] :
       std::vector<std::pair<int, uint32_t>>{{40, 1000000}, {24, 0}, {24, 0x80000000u}, {24, 0xFFFFFFFFu}}) {
    ASSERT_EQ(writeWaveFile(bad.c_str(), x.data(), 100, 11025), 0);
    const char field[4] = {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
    std::fstream(bad.path, std::ios::binary | std::ios::in | std::ios::out).seekp(at).write(field, 4);
    Measurement m;
    ASSERT_EQ(generateESS(m.handle, 8000, 50, 4000, 0.5, 1), 4000);
    ASSERT_EQ(getESS(m.handle, x.data()), 0);
    ASSERT_EQ(processInputSignal(m.handle, x.data(), 4000), 4096);
    ASSERT_EQ(initImpulseResponseFunctionGenerator(m.handle, 1, 4, 14), 0);
    EXPECT_EQ(processInputSignalFile(m.handle, bad.c_str(), 0.0), -1) << at << " " << value;
    EXPECT_EQ((std::vector<int32_t>{getNFFT(m.handle), getImpulseResponse(m.handle, out.data()),
                                    getImpulseResponseHilbert(m.handle, out.data()),
                                    getFilteredImpulseResponse(m.handle, out.data(), 10),
                                    getFilteredImpulseResponseHilbert(m.handle, out.data(), 10),
                                    getMagnitudeResponseForMicCal(m.handle, out.data(), freq.data(), 0.0),
                                    getImpulseResponseFile(m.handle, playback.c_str())}),
              std::vector<int32_t>(7, -1));
    EXPECT_EQ(out, std::vector<double>(8192, 7.0));
    EXPECT_EQ(freq, out);
    // The sweep's rate still rules the playback file and the calibration window.
    ASSERT_EQ(getESSFile(m.handle, playback.c_str(), 0.0), 0);
    EXPECT_EQ(ReadBack(playback.c_str()).rate, 8000.0);
    EXPECT_EQ(processInputSignalForMicCal(m.handle, x.data(), 4000), 4096);
  }
}

}  // namespace

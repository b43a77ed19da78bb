#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/temp_path.h"
#include "tavrix.h"

namespace {

// A measurement that is deleted however the test ends.
struct Measurement {
  int32_t handle;
  Measurement() : handle((initTavrix(), initImpulse())) {}
  ~Measurement() { deleteImpulse(handle); }
};

std::vector<double> sweepOf(int32_t h) {
  std::vector<double> s(static_cast<size_t>(getESSSize(h)));
  EXPECT_EQ(getESS(h, s.data()), 0);
  return s;
}

TEST(ImpulseExports, SweepToImpulseResponseThroughSamplesAndFiles) {
  Measurement m;
  ASSERT_GE(m.handle, 0);
  EXPECT_EQ(getNFFT(m.handle), -1);
  EXPECT_EQ(getESSSize(m.handle), -1);
  ASSERT_EQ(setESSFade(m.handle, true), 0);
  ASSERT_EQ(generateESS(m.handle, 8000, 50, 4000, 0.5, 1), 4000);
  const std::vector<double> sweep = sweepOf(m.handle);
  EXPECT_EQ(sweep.back(), 0.0);  // faded out
  EXPECT_EQ(generateESS(m.handle, 8000, 50, 4000, 0.25, 1), -1);
  EXPECT_EQ(getESSSize(m.handle), 4000);
  EXPECT_EQ(getNFFT(m.handle), -1);

  // A recording: 0.25 of the sweep 300 samples late.
  std::vector<double> recording(5000, 0.0);
  for (size_t i = 0; i < sweep.size(); ++i) recording[i + 300] = 0.25 * sweep[i];
  ASSERT_EQ(processInputSignal(m.handle, recording.data(), 5000), 8192);
  EXPECT_EQ(getNFFT(m.handle), 8192);
  std::vector<double> ir(8192);
  ASSERT_EQ(getImpulseResponse(m.handle, ir.data()), 0);
  for (size_t i = 0; i < ir.size(); ++i) ASSERT_NEAR(ir[i], i == 300 ? 0.25 : 0.0, 1e-9) << i;

  // The same recording through a float WAV file, with -6.0206 dB of gain.
  tavrix::test::TempFile file("recording.wav");
  ASSERT_EQ(writeWaveFile(file.c_str(), recording.data(), 5000, 8000), 0);  // 16-bit, 0.99 scale
  ASSERT_EQ(processInputSignalFile(m.handle, file.c_str(), -6.0206), 8192);
  ASSERT_EQ(getImpulseResponse(m.handle, ir.data()), 0);
  EXPECT_NEAR(ir[300], 0.25 * 0.99 * 0.5, 2e-4);

  // An unreadable file: -1, and the recording is gone.
  tavrix::test::TempFile missing("missing.wav");
  EXPECT_EQ(processInputSignalFile(m.handle, missing.c_str(), 0.0), -1);
  EXPECT_EQ(getNFFT(m.handle), -1);
}

TEST(ImpulseExports, PlaybackFileHoldsSilenceSweepAndTail) {
  Measurement m;
  ASSERT_EQ(generateESS(m.handle, 48000, 20, 20000, 10, 2), 480000);
  const std::vector<double> sweep = sweepOf(m.handle);
  tavrix::test::TempFile file("playback.wav");
  ASSERT_EQ(getESSFile(m.handle, file.c_str(), -6.0), 0);
  double* samples = nullptr;
  double rate = 0;
  int32_t n = 0;
  ASSERT_EQ(readWaveFile(file.c_str(), &samples, &rate, &n), 0);
  EXPECT_EQ(rate, 48000.0);
  ASSERT_EQ(n, 9600 + 480000 + 144000);
  const double gain = std::pow(10.0, -6.0 / 20.0) * 0.99;
  double worst = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const double expected = (i >= 9600 && i < 9600 + 480000) ? gain * sweep[i - 9600] : 0.0;
    worst = std::max(worst, std::abs(samples[i] - expected));
  }
  EXPECT_LE(worst, 0.5 / 32768 + 1e-7);
  EXPECT_EQ(deleteDouble(samples), 0);
}

TEST(ImpulseExports, BadArgumentsFailAndChangeNothing) {
  Measurement m;
  const double nan = std::nan(""), inf = INFINITY;
  for (const auto& args : std::vector<std::vector<double>>{{nan, 20, 2000, 1, 1},
                                                           {48000, nan, 2000, 1, 1},
                                                           {48000, 20, inf, 1, 1},
                                                           {48000, 20, 2000, nan, 1},
                                                           {48000, 20, 2000, 1, -inf},
                                                           {48000, 2000, 2000, 1, 1}})
    EXPECT_EQ(generateESS(m.handle, args[0], args[1], args[2], args[3], args[4]), -1);
  double x[4] = {0, 0, 0, 0};
  EXPECT_EQ(getESS(m.handle, x), -1);
  EXPECT_EQ(getESSFile(m.handle, u"x.wav", 0.0), -1);
  EXPECT_EQ(getImpulseResponse(m.handle, x), -1);
  {
    // A recording without a sweep is kept but not deconvolved; the object
    // then takes no sweep any more.
    Measurement early;
    EXPECT_EQ(processInputSignal(early.handle, x, 4), -1);
    EXPECT_EQ(generateESS(early.handle, 1000, 10, 500, 0.1, 1), -1);
  }

  ASSERT_EQ(generateESS(m.handle, 1000, 10, 500, 0.1, 1), 100);
  const char16_t unpaired[] = {u'a', 0xDC00, 0};
  EXPECT_EQ(getESS(m.handle, nullptr), -1);
  EXPECT_EQ(getESSFile(m.handle, nullptr, 0.0), -1);
  EXPECT_EQ(getESSFile(m.handle, unpaired, 0.0), -1);
  EXPECT_EQ(getESSFile(m.handle, u"x.wav", nan), -1);
  std::vector<double> recording(128, 0.0);
  recording[0] = 1.0;
  EXPECT_EQ(processInputSignal(m.handle, nullptr, 128), -1);
  EXPECT_EQ(processInputSignal(m.handle, recording.data(), 0), -1);
  EXPECT_EQ(processInputSignal(m.handle, recording.data(), -5), -1);
  EXPECT_EQ(processInputSignal(m.handle, recording.data(), 99), -1);  // shorter than the sweep
  EXPECT_EQ(getNFFT(m.handle), -1);
  ASSERT_EQ(processInputSignal(m.handle, recording.data(), 128), 128);
  // Rejected arguments leave the recording and results alone.
  EXPECT_EQ(processInputSignalFile(m.handle, nullptr, 0.0), -1);
  EXPECT_EQ(processInputSignalFile(m.handle, u"x.wav", inf), -1);
  EXPECT_EQ(getNFFT(m.handle), 128);
  EXPECT_EQ(getImpulseResponse(m.handle, nullptr), -1);
  EXPECT_EQ(getESSSize(m.handle), 100);
  // A path that names no file is an unreadable file: the recording is gone.
  EXPECT_EQ(processInputSignalFile(m.handle, unpaired, 0.0), -1);
  EXPECT_EQ(getNFFT(m.handle), -1);
}

TEST(FileExports, BadArgumentsAllocateNothing) {
  tavrix::test::TempFile file("exports.wav");
  const double in[3] = {0.5, -0.25, 0.0};
  EXPECT_EQ(writeWaveFile(nullptr, in, 3, 44100), -1);
  EXPECT_EQ(writeWaveFile(file.c_str(), nullptr, 3, 44100), -1);
  EXPECT_EQ(writeWaveFile(file.c_str(), in, -1, 44100), -1);
  EXPECT_EQ(writeWaveFile(file.c_str(), in, 3, 0), -1);
  ASSERT_EQ(writeWaveFile(file.c_str(), nullptr, 0, 8000), 0);  // an empty but valid file
  double* samples = nullptr;
  double rate = 0;
  int32_t n = -1;
  ASSERT_EQ(readWaveFile(file.c_str(), &samples, &rate, &n), 0);
  EXPECT_EQ(n, 0);
  EXPECT_NE(samples, nullptr);
  deleteDouble(samples);
  EXPECT_EQ(readWaveFile(nullptr, &samples, &rate, &n), -1);
  EXPECT_EQ(readWaveFile(file.c_str(), nullptr, &rate, &n), -1);
  EXPECT_EQ(readWaveFile(file.c_str(), &samples, nullptr, &n), -1);
  EXPECT_EQ(readWaveFile(file.c_str(), &samples, &rate, nullptr), -1);
  tavrix::test::TempFile missing("missing.wav");
  samples = const_cast<double*>(in);
  EXPECT_EQ(readWaveFile(missing.c_str(), &samples, &rate, &n), -1);
  EXPECT_EQ(samples, nullptr);
}

}  // namespace

// Separate objects used from separate threads at once are independent: the
// transform tables built on first use may be asked for by several threads at
// the same moment. Under ctest every test runs in a process of its own, so
// its lengths are new there and the threads, released together, build the
// tables between them; their results must equal a serial run's bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <latch>
#include <random>
#include <thread>
#include <vector>

#include "numeric/fft.h"
#include "tavrix.h"

namespace tavrix {
namespace {

constexpr int kThreads = 4;

// Runs work(0) .. work(kThreads - 1) on as many threads, started together.
void together(const std::function<void(int)>& work) {
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      work(i);
    });
  for (std::thread& t : threads) t.join();
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), sizeof(double) * a.size()) == 0;
}

std::vector<double> noise(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> d;
  std::vector<double> x(n);
  for (double& v : x) v = d(gen);
  return x;
}

// A real transform of 2^20 points (odd stages up to the last kept table, one
// long stage, the largest kept twiddle table) and a complex one of 2^18 (the
// even stages up to the largest kept stage table).
constexpr int kReal = 1 << 20, kComplex = 1 << 18;
void transformBoth(std::vector<double>& real, std::vector<double>& complex) {
  real[kReal] = realFftForward(real.data(), kReal);  // the Nyquist bin after the others
  fftForward(complex.data(), kComplex);
}

TEST(FftThreads, TablesBuiltConcurrentlyGiveTheSerialBits) {
  std::vector<std::vector<double>> real(kThreads), complex(kThreads);
  for (int i = 0; i < kThreads; ++i) real[i] = noise(kReal + 1, i), complex[i] = noise(2 * kComplex, 10 + i);
  std::vector<std::vector<double>> realIn = real, complexIn = complex;
  together([&](int i) { transformBoth(real[i], complex[i]); });
  for (int i = 0; i < kThreads; ++i) {
    transformBoth(realIn[i], complexIn[i]);
    EXPECT_TRUE(sameBits(real[i], realIn[i])) << "real, thread " << i;
    EXPECT_TRUE(sameBits(complex[i], complexIn[i])) << "complex, thread " << i;
  }
}

// Impulse measurements through the exports: a 2 s sweep at 16 kHz recorded
// through a decaying-noise response of its own per thread, 48000 samples,
// deconvolved at 2^16 points. Objects are created and deleted on this thread
// (the handle tables are shared); each thread uses only its own object.
constexpr double kRate = 16000.0;
constexpr int32_t kRecordingLength = 48000;

std::vector<double> measure(int32_t handle, const std::vector<double>& recording) {
  EXPECT_EQ(generateESS(handle, kRate, 50.0, 7000.0, 2.0, 1.0), 32000);
  EXPECT_EQ(processInputSignal(handle, recording.data(), kRecordingLength), 1 << 16);
  std::vector<double> response(static_cast<size_t>(std::max(getNFFT(handle), 0)));
  EXPECT_EQ(getImpulseResponse(handle, response.data()), 0);
  return response;
}

TEST(FftThreads, SeparateMeasurementsDeconvolveAsOnOneThread) {
  initTavrix();
  const int32_t probe = initImpulse();
  ASSERT_EQ(generateESS(probe, kRate, 50.0, 7000.0, 2.0, 1.0), 32000);
  std::vector<double> sweep(32000);
  ASSERT_EQ(getESS(probe, sweep.data()), 0);
  deleteImpulse(probe);

  std::vector<std::vector<double>> recordings(kThreads);
  for (int i = 0; i < kThreads; ++i) {
    std::vector<double> room = noise(400, 20 + i);
    for (size_t k = 0; k < room.size(); ++k) room[k] *= std::exp(-static_cast<double>(k) / (40.0 + 20 * i));
    recordings[i].assign(kRecordingLength, 0.0);
    for (size_t t = 0; t < sweep.size(); ++t)
      for (size_t k = 0; k < room.size(); ++k) recordings[i][t + k] += sweep[t] * room[k];
  }

  std::vector<int32_t> handles(kThreads);
  for (int32_t& h : handles) h = initImpulse();
  std::vector<std::vector<double>> concurrent(kThreads);
  together([&](int i) { concurrent[i] = measure(handles[i], recordings[i]); });
  for (int32_t h : handles) deleteImpulse(h);

  for (int i = 0; i < kThreads; ++i) {
    const int32_t h = initImpulse();
    EXPECT_TRUE(sameBits(concurrent[i], measure(h, recordings[i]))) << "thread " << i;
    deleteImpulse(h);
  }
}

}  // namespace
}  // namespace tavrix

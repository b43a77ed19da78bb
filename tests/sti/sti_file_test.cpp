// The WAV path against the sample path.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "fileio/wave_file.h"
#include "support/temp_path.h"
#include "tavrix.h"

namespace tavrix {
namespace {

TEST(StiFromFile, SameAnalysisAsFromSamples) {
  // Samples that single precision holds exactly, as the reader returns them.
  std::vector<double> h(30000);
  for (size_t i = 0; i < h.size(); ++i) {
    const double t = static_cast<double>(i) / 44100.0;
    h[i] = static_cast<float>(0.5 * std::sin(2.0 * 3.14159 * 1000.0 * t) * std::exp(-20.0 * t));
  }
  test::TempFile file("sti_response.wav");
  ASSERT_EQ(writeWave(file.c_str(), h.data(), static_cast<int32_t>(h.size()), 44100, true), 0);

  const int32_t fromFile = initSpeechTransmissionIndexWithFile(file.c_str());
  const int32_t fromSamples = initSpeechTransmissionIndex(h.data(), static_cast<int32_t>(h.size()), 44100.0);
  ASSERT_GE(fromFile, 0);
  ASSERT_GE(fromSamples, 0);
  EXPECT_EQ(getImpulseSize(fromFile), 70560);
  for (int32_t band = 7; band <= 13; ++band) {
    std::vector<double> a(14), b(14);
    ASSERT_EQ(getModulationTransferFunction(fromFile, a.data(), band), 0);
    ASSERT_EQ(getModulationTransferFunction(fromSamples, b.data(), band), 0);
    EXPECT_EQ(a, b) << band;
  }
  EXPECT_EQ(getSpeechTansmissionIndex(fromFile, true, false),
            getSpeechTansmissionIndex(fromSamples, true, false));
  EXPECT_EQ(deleteSpeechTransmissionIndex(fromFile), 0);
  EXPECT_EQ(deleteSpeechTransmissionIndex(fromSamples), 0);
}

TEST(StiFromFile, UnreadableFileUsesNoSlot) {
  const int32_t probe = initSpeechTransmissionIndex(nullptr, 0, 0.0);  // lowest free slot
  ASSERT_GE(probe, 0);
  ASSERT_EQ(deleteSpeechTransmissionIndex(probe), 0);
  test::TempFile missing("no_such_response.wav");
  EXPECT_EQ(initSpeechTransmissionIndexWithFile(missing.c_str()), -1);
  EXPECT_EQ(initSpeechTransmissionIndexWithFile(nullptr), -1);
  const int32_t next = initSpeechTransmissionIndex(nullptr, 0, 0.0);
  EXPECT_EQ(next, probe);
  EXPECT_EQ(deleteSpeechTransmissionIndex(next), 0);
}

}  // namespace
}  // namespace tavrix

#include <gtest/gtest.h>

#include <cmath>

#include "tavrix.h"

namespace {

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
  for (int32_t h : {-1, 255, 256, 100000, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(deleteImpulse(h), -1);
    EXPECT_EQ(setESSFade(h, true), -1);
    EXPECT_EQ(getESSSize(h), -1);
    EXPECT_EQ(getNFFT(h), -1);
  }
  // Starting the library again keeps what exists.
  ASSERT_EQ(generateESS(3, 8000, 100, 1000, 0.5, 1), 4000);
  EXPECT_EQ(initTavrix(), 0);
  EXPECT_EQ(getESSSize(3), 4000);
  EXPECT_EQ(initImpulse(), -1);
  for (int32_t i = 0; i < 255; ++i) ASSERT_EQ(deleteImpulse(i), 0);
  EXPECT_EQ(initImpulse(), 0);
  EXPECT_EQ(deleteImpulse(0), 0);
}

TEST(Library, Log2IsNaturalLogarithmRatio) {
  EXPECT_NEAR(tavrix_log2(8.0), 3.0, 4e-16);
  EXPECT_EQ(tavrix_log2(1.0), 0.0);
  EXPECT_EQ(tavrix_log2(0.0), -INFINITY);
  EXPECT_TRUE(std::isnan(tavrix_log2(-1.0)));
  EXPECT_EQ(deleteDouble(nullptr), 0);
}

}  // namespace

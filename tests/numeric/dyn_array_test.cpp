#include "numeric/dyn_array.h"

#include <gtest/gtest.h>

namespace tavrix {
namespace {

TEST(DynArray, GrowthStartsAtSixteenAndDoublesFromCurrentCapacity) {
  DynArray<double> a;
  a.resize(1);
  EXPECT_EQ(a.capacity(), 16);
  a.resize(17);
  EXPECT_EQ(a.capacity(), 32);
  DynArray<double> b;
  b.resize(100);
  EXPECT_EQ(b.capacity(), 128);
  DynArray<double> c;
  c.resizeExact(20);
  EXPECT_EQ(c.capacity(), 20);
  c.resize(30);
  EXPECT_EQ(c.capacity(), 40);
  for (double v : c) EXPECT_EQ(v, 0.0);
}

TEST(DynArray, RequestWithinCapacityKeepsTheBlock) {
  DynArray<int32_t> a(10);
  const int32_t* block = a.data();
  a[3] = 7;
  a.resize(16);
  EXPECT_EQ(a.data(), block);
  EXPECT_EQ(a.capacity(), 16);
  EXPECT_EQ(a[3], 7);
}

TEST(DynArray, GrowingAWrappedBufferCopiesAndLeavesTheCallersAlone) {
  double caller[3] = {1.0, 2.0, 3.0};
  {
    auto a = DynArray<double>::wrap(caller, 3);
    EXPECT_FALSE(a.ownsData());
    EXPECT_EQ(a.capacity(), 3);
    a.resize(5);
    EXPECT_TRUE(a.ownsData());
    EXPECT_NE(a.data(), caller);
    a[0] = 9.0;
    EXPECT_EQ(a[1], 2.0);
    EXPECT_EQ(a[4], 0.0);
  }  // destruction must not free the caller's buffer
  EXPECT_EQ(caller[0], 1.0);
}

}  // namespace
}  // namespace tavrix

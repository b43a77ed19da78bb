// Reverberation analyses and ensembles through the C interface: creation from
// samples and files, readiness, the handle table, banks and deletion.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "api/tables.h"
#include "fileio/wave_file.h"
#include "reverberation/reverberation_analysis.h"
#include "reverberation/synthetic_room.h"
#include "support/temp_path.h"
#include "tavrix.h"

namespace tavrix {
namespace {

using test::kRoomRate;

int32_t create(const std::vector<double>& ir, double fs = kRoomRate) {
  return initReverberation(ir.data(), static_cast<int32_t>(ir.size()), fs, 2.0, 2.0);
}

const ReverberationAnalysis& object(int32_t handle) { return *reverberationTable().find(handle); }

TEST(ReverberationObject, LocatesTheDirectSoundOfAMeasuredRoom) {
  initTavrix();
  const std::vector<double>& ir = test::measuredRoom(1.2, false);
  const int32_t h = create(ir);
  const ReverberationAnalysis& a = object(h);
  ASSERT_TRUE(a.initialised);
  // The direct sound is response sample 28800 (0.6 s), position 28801; the
  // segment starts half a second before the broadband peak, which the
  // A-weighting delays by a sample or two.
  EXPECT_NEAR(a.segmentStart + a.onset - 1.0, 28801.0, 30.0);
  EXPECT_NEAR(a.segmentStart, 28801.0 + 1.0 - 24000.0, 3.0);
  EXPECT_EQ(a.segmentEnd, 5.0 * kRoomRate);  // sweep + tail + 1 s
  EXPECT_EQ(a.windowEnd, 5.0 * kRoomRate - 2.0 * kRoomRate - a.onset);
  // The onset lies more than 0.1 s into the segment: the window opens 4800
  // samples before it.
  EXPECT_EQ(getMaxImpulseLength(h), static_cast<int32_t>(a.windowEnd - a.onset) + 4801);
  // The stored segment is the unweighted response from segmentStart on.
  ASSERT_EQ(a.realSegment.size(), static_cast<int32_t>(a.segmentEnd - a.segmentStart));
  EXPECT_NEAR(a.realSegment[28800 - static_cast<int32_t>(a.segmentStart) + 1], 1.0, 0.01);

  // The same response from a float WAV file finds the same window; an
  // unreadable file keeps no slot.
  test::TempFile file("room.wav");
  ASSERT_EQ(writeWave(file.c_str(), ir.data(), static_cast<int32_t>(ir.size()), 48000, true), 0);
  const int32_t fromFile = initReverberationWithFile(file.c_str(), 2.0, 2.0);
  EXPECT_EQ(getMaxImpulseLength(fromFile), getMaxImpulseLength(h));
  EXPECT_EQ(object(fromFile).onset, a.onset);
  deleteReverberation(fromFile);
  test::TempFile missing("no_such_room.wav");
  EXPECT_EQ(initReverberationWithFile(missing.c_str(), 2.0, 2.0), -1);
  EXPECT_EQ(initReverberationWithFile(nullptr, 2.0, 2.0), -1);
  EXPECT_EQ(create(ir), fromFile);
  deleteReverberation(fromFile);

  // Banks are replaced; bad arguments and bad handles fail.
  EXPECT_EQ(initReverberationFilter(h, 1, 8, 12), 0);
  EXPECT_EQ(initReverberationFilter(h, 2, 30, 30), 0);
  EXPECT_EQ(object(h).filterBank->resolution, 2);
  EXPECT_EQ(initReverberationFilter(h, 1, 12, 8), -1);
  EXPECT_EQ(initReverberationFilter(255, 1, 8, 12), -1);
  EXPECT_EQ(getMaxImpulseLength(-1), -1);
  EXPECT_EQ(deleteReverberation(h), 0);
  EXPECT_EQ(deleteReverberation(h), -1);
}

// Responses that cannot be prepared still get a handle; the object is not ready.
TEST(ReverberationObject, UnpreparableResponsesGiveNotReadyObjects) {
  initTavrix();
  const std::vector<double>& ir = test::measuredRoom(0.4, false);
  const int32_t n = static_cast<int32_t>(ir.size());
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const std::vector<double> zeros(96000, 0.0);
  std::vector<double> poisoned(ir);
  poisoned[100] = nan;
  struct Case {
    const double* data;
    int32_t n;
    double fs, sweep, tail;
  } const cases[] = {
      {nullptr, n, kRoomRate, 2, 2},
      {ir.data(), 0, kRoomRate, 2, 2},
      {ir.data(), -5, kRoomRate, 2, 2},
      {ir.data(), 5000, kRoomRate, 2, 2},  // ends before the quarter second where the peak search starts
      {ir.data(), n, nan, 2, 2},
      {ir.data(), n, 0.0, 2, 2},
      {ir.data(), n, inf, 2, 2},
      {ir.data(), n, kRoomRate, -2, 2},
      {ir.data(), n, kRoomRate, 2, nan},
      {ir.data(), n, kRoomRate, 2, 0},
      {ir.data(), n, kRoomRate, 1e300, 2},  // the window would end before it starts
      {zeros.data(), 96000, kRoomRate, 2, 2},
      {poisoned.data(), n, kRoomRate, 2, 2},
  };
  for (const Case& c : cases) {
    const int32_t h = initReverberation(c.data, c.n, c.fs, c.sweep, c.tail);
    ASSERT_GE(h, 0);
    EXPECT_EQ(getMaxImpulseLength(h), -1) << c.n << " " << c.fs << " " << c.sweep << " " << c.tail;
    EXPECT_EQ(initReverberationFilter(h, 1, 8, 12), 0);
    double levels[4], x;
    int32_t len, off;
    EXPECT_EQ(getReverberationDataLevel(h, 10, 0, levels, &len, levels, &x, &x, &x, &off, &x), -1);
    EXPECT_EQ(deleteReverberation(h), 0);
  }
}

TEST(ReverberationObject, TableFillsAndReusesTheLowestSlot) {
  initTavrix();
  std::vector<int32_t> handles;
  for (int32_t h; (h = initReverberation(nullptr, 0, kRoomRate, 1, 1)) >= 0;) handles.push_back(h);
  // The other tests delete their objects, so the whole table was free.
  ASSERT_EQ(handles.size(), 255u);
  EXPECT_EQ(initReverberationEnsemble(nullptr, 0), -1);
  deleteReverberation(handles[17]);
  EXPECT_EQ(initReverberationEnsemble(nullptr, 0), 17);
  for (int32_t h : handles) EXPECT_EQ(deleteReverberation(h), 0);
}

TEST(ReverberationEnsemble, ChecksItsMembers) {
  initTavrix();
  const std::vector<double>& ir = test::measuredRoom(0.4, false);
  const int32_t a = create(ir), b = create(ir), slow = create(ir, 44100.0);
  const int32_t notReady = initReverberation(nullptr, 0, kRoomRate, 2, 2);
  ASSERT_GT(getMaxImpulseLength(slow), 0);
  std::vector<int32_t> made;
  auto ensemble = [&made](std::vector<int32_t> members) {
    made.push_back(initReverberationEnsemble(members.data(), static_cast<int32_t>(members.size())));
    return getMaxImpulseLength(made.back());
  };
  // The same response twice: the common window plus the unfilled position,
  // the onset 4801 samples into the members' windows, plus one.
  EXPECT_EQ(ensemble({a, b}), getMaxImpulseLength(a) + 1);
  EXPECT_EQ(object(made.back()).onset, 4802.0);
  EXPECT_TRUE(object(made.back()).isEnsemble);
  // Members that cannot be averaged sample by sample: a handle to an
  // ensemble that is not ready.
  for (const auto& members :
       std::vector<std::vector<int32_t>>{{a, slow}, {a, notReady}, {a, 300}, {a, -1}, {a, 254}})
    EXPECT_EQ(ensemble(members), -1);
  // A missing list or a negative count: not ready; no members: one position.
  made.push_back(initReverberationEnsemble(nullptr, 2));
  EXPECT_EQ(getMaxImpulseLength(made.back()), -1);
  made.push_back(initReverberationEnsemble(&a, -1));
  EXPECT_EQ(getMaxImpulseLength(made.back()), -1);
  EXPECT_EQ(ensemble({}), 1);

  // Deleting a member retires the ensembles that name it.
  ASSERT_GT(ensemble({b, a}), 0);
  deleteReverberation(b);
  EXPECT_EQ(getMaxImpulseLength(made.back()), -1);
  EXPECT_GT(getMaxImpulseLength(a), 0);
  for (int32_t h : made) EXPECT_EQ(deleteReverberation(h), 0);
  for (int32_t h : {a, slow, notReady}) EXPECT_EQ(deleteReverberation(h), 0);
}

}  // namespace
}  // namespace tavrix

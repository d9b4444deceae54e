#include "sound/SampleScheduler.h"

#include <gtest/gtest.h>
#include <vector>

namespace melo {
namespace {

constexpr int Rate = 44100;
constexpr int Period = 4096;
constexpr double PeriodMs = Period * 1000.0 / Rate;

std::vector<TSampleScheduler::TMessage> Copy(std::span<const TSampleScheduler::TMessage> taken) {
  return {taken.begin(), taken.end()};
}

TEST(SampleSchedulerTest, FramesFollowTheEarliestPeriodStartAndLateOnesPlayAtOnce) {
  TSampleScheduler scheduler(Rate, 64);
  scheduler.BeginPeriod(0, Period, 1000.0);
  ASSERT_TRUE(scheduler.Push(1010.0, 0x99, 42, 90));
  ASSERT_TRUE(scheduler.Push(1005.0, 0x99, 36, 100));
  ASSERT_TRUE(scheduler.Push(1005.0, 0x89, 36, 64));
  // The audio thread wakes 3 ms late: the tie of clock and frames stays.
  const auto taken = Copy(scheduler.BeginPeriod(Period, Period, 1000.0 + PeriodMs + 3.0));
  ASSERT_EQ(taken.size(), 3u);
  // 5 ms = 220.5 frames, plus one period: 4316.5, nearest boundary 4288.
  EXPECT_EQ(taken[0].Frame, 4288);
  EXPECT_EQ(taken[0].Data1, 36);
  EXPECT_EQ(taken[0].Status, 0x99);
  EXPECT_EQ(taken[1].Status, 0x89);
  // 10 ms = 441 frames: 4537, nearest boundary 4544.
  EXPECT_EQ(taken[2].Frame, 4544);
  EXPECT_EQ(scheduler.FrameOf(1010.0, Period), 4537);

  // Due long ago: taken with the next period, at a frame before it (the
  // caller plays it at the period's start).
  ASSERT_TRUE(scheduler.Push(900.0, 0x90, 60, 100));
  const auto late = Copy(scheduler.BeginPeriod(2 * Period, Period, 1000.0 + 2 * PeriodMs));
  ASSERT_EQ(late.size(), 1u);
  EXPECT_LT(late[0].Frame, 2 * Period);

  // A message due beyond the period waits.
  ASSERT_TRUE(scheduler.Push(1000.0 + 3 * PeriodMs, 0x90, 61, 100));
  EXPECT_TRUE(scheduler.BeginPeriod(3 * Period, Period, 1000.0 + 3 * PeriodMs).empty());
  EXPECT_EQ(scheduler.Waiting(), 1u);
  EXPECT_EQ(scheduler.BeginPeriod(4 * Period, Period, 1000.0 + 4 * PeriodMs).size(), 1u);
}

// An output reopened after ten silent seconds (its sound server came back):
// without a new tie a note due now would wait for the old one's frames.
TEST(SampleSchedulerTest, ARestartTiesTheClockAfreshAfterAGap) {
  TSampleScheduler scheduler(Rate, 64);
  scheduler.BeginPeriod(0, Period, 1000.0);
  scheduler.BeginPeriod(Period, Period, 1000.0 + PeriodMs);
  const double later = 11000.0;
  scheduler.Restart();
  scheduler.BeginPeriod(2 * Period, Period, later);
  ASSERT_TRUE(scheduler.Push(later + 1.0, 0x90, 60, 100));
  EXPECT_EQ(scheduler.BeginPeriod(3 * Period, Period, later + PeriodMs).size(), 1u);
}

TEST(SampleSchedulerTest, AnOutputThatRanDryTiesClockAndFramesAnew) {
  // Two periods of buffer: a period may start up to one period late.
  TSampleScheduler scheduler(Rate, 64);
  scheduler.BeginPeriod(0, Period, 1000.0, 2 * Period);
  scheduler.BeginPeriod(Period, Period, 1000.0 + PeriodMs + 0.9 * PeriodMs, 2 * Period);
  EXPECT_EQ(scheduler.FrameOf(1000.0, Period), Period);
  // Two periods late: the output stood still for a period, and frames now
  // sound that much later.
  const double resumed = 1000.0 + 4 * PeriodMs;
  scheduler.BeginPeriod(2 * Period, Period, resumed, 2 * Period);
  EXPECT_EQ(scheduler.FrameOf(resumed, Period), 3 * Period);
  // An output that calls once per period of its own: a whole period late is
  // a missed one.
  scheduler.BeginPeriod(3 * Period, Period, resumed + PeriodMs + 0.4 * PeriodMs);
  EXPECT_EQ(scheduler.FrameOf(resumed, Period), 3 * Period);
  scheduler.BeginPeriod(4 * Period, Period, resumed + 3 * PeriodMs);
  EXPECT_EQ(scheduler.FrameOf(resumed + 3 * PeriodMs, Period), 5 * Period);
}

TEST(SampleSchedulerTest, DroppingNoteOnsKeepsOtherChannelsAndNoteOffs) {
  TSampleScheduler scheduler(Rate, 64, 4);
  ASSERT_TRUE(scheduler.Push(10, 0x90, 60, 100));
  ASSERT_TRUE(scheduler.Push(11, 0x80, 59, 64));
  ASSERT_TRUE(scheduler.Push(12, 0x91, 60, 100));
  ASSERT_TRUE(scheduler.Push(13, 0x90, 62, 0));    // a note-off in note-on form
  EXPECT_FALSE(scheduler.Push(14, 0x90, 63, 100)); // full
  scheduler.DropNoteOns(1, 61);                    // another key of channel 1: nothing
  EXPECT_EQ(scheduler.Waiting(), 4u);
  scheduler.DropNoteOns(0);
  EXPECT_EQ(scheduler.Waiting(), 3u);
  const auto all = Copy(scheduler.TakeAll());
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].Status, 0x80);
  EXPECT_EQ(all[1].Status, 0x91);
  EXPECT_EQ(all[2].Data2, 0);
  EXPECT_EQ(scheduler.Waiting(), 0u);

  ASSERT_TRUE(scheduler.Push(10, 0x96, 60, 40));
  ASSERT_TRUE(scheduler.Push(11, 0x96, 64, 40));
  scheduler.DropNoteOns(6, 60);
  const auto kept = Copy(scheduler.TakeAll());
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].Data1, 64);
}

} // namespace
} // namespace melo

#include "music/KoTimer.h"
#include "music/HighTimer.h"

#include "TestDispatcher.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace melo {
namespace {

using namespace std::chrono_literals;
using test::TQueueDispatcher;

// Real time, generous bounds: these check that ticks happen and stop.
template <typename Predicate> bool WaitUntil(Predicate done, std::chrono::milliseconds limit = 5s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end)
      return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(KoHiTimer, IntervalOutsideTheLimitsBecomesOneSecond) {
  TKoHiTimer timer;
  EXPECT_EQ(timer.Interval(), 1000);
  timer.SetInterval(5);
  EXPECT_EQ(timer.Interval(), 5);
  timer.SetInterval(0);
  EXPECT_EQ(timer.Interval(), 1000);
  EXPECT_EQ(timer.MinPeriod(), 1u);
}

TEST(KoHiTimer, ThreadModeTicksOnAWorkerAndStopsAtOnce) {
  TKoHiTimer timer;
  timer.Synchronize = false;
  timer.SetInterval(2);
  std::atomic<int> ticks{0};
  std::atomic<bool> onCaller{false};
  const auto caller = std::this_thread::get_id();
  timer.OnTimer = [&](TKoHiTimer& sender) {
    EXPECT_EQ(&sender, &timer);
    onCaller = onCaller || std::this_thread::get_id() == caller;
    ++ticks;
  };
  timer.SetEnabled(true);
  ASSERT_TRUE(WaitUntil([&] { return ticks >= 5; }));
  timer.SetEnabled(false);
  const int stopped = ticks;
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(ticks, stopped);
  EXPECT_FALSE(onCaller);
}

TEST(KoHiTimer, AssigningTheHandlerTakesEffectAtTheNextEnable) {
  TKoHiTimer timer;
  timer.Synchronize = false;
  timer.SetInterval(2);
  timer.SetEnabled(true); // no handler yet: nothing runs
  std::atomic<int> ticks{0};
  timer.OnTimer = [&](TKoHiTimer&) { ++ticks; };
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(ticks, 0);
  timer.SetEnabled(true);
  EXPECT_TRUE(WaitUntil([&] { return ticks > 0; }));
}

TEST(KoHiTimer, StoppingFromInsideItsOwnTickDoesNotDeadlock) {
  TKoHiTimer timer;
  timer.Synchronize = false;
  timer.SetInterval(1);
  std::atomic<int> ticks{0};
  std::atomic<bool> stopped{false};
  timer.OnTimer = [&](TKoHiTimer& sender) {
    ++ticks;
    sender.SetEnabled(false);
    stopped = true; // from here on the test thread owns the timer again
  };
  timer.SetEnabled(true);
  ASSERT_TRUE(WaitUntil([&] { return stopped.load(); }));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(ticks, 1);
}

TEST(KoHiTimer, AnExtraTickComesBetweenTheRegularOnes) {
  TKoHiTimer timer;
  timer.Synchronize = false;
  timer.SetInterval(60000); // the regular ticks: one at once, the next in a minute
  std::atomic<int> ticks{0};
  timer.OnTimer = [&](TKoHiTimer& sender) {
    if (++ticks == 1)
      sender.RequestTick(std::chrono::steady_clock::now() + 20ms);
  };
  timer.SetEnabled(true);
  ASSERT_TRUE(WaitUntil([&] { return ticks >= 2; }, 10s));
  timer.SetEnabled(false);
  EXPECT_EQ(ticks, 2);
}

TEST(KoHiTimer, MessageModeDeliversOnTheUiQueueAndDropsTicksAfterStop) {
  TQueueDispatcher ui;
  TKoHiTimer timer;
  timer.SetUseThread(false);
  timer.SetInterval(1);
  int ticks = 0;
  timer.OnTimer = [&](TKoHiTimer&) { ++ticks; };
  timer.SetEnabled(true);
  ASSERT_TRUE(ui.WaitForCall());
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(ui.Pending(), 1u) << "waiting ticks merge instead of piling up";
  ui.Drain();
  EXPECT_EQ(ticks, 1);
  ASSERT_TRUE(ui.WaitForCall());
  timer.SetEnabled(false);
  ui.Drain();
  EXPECT_EQ(ticks, 1) << "a tick queued before the stop must not run";
}

TEST(KoHiTimer, SynchronisedThreadModeRunsTheHandlerOnTheUiThread) {
  TQueueDispatcher ui;
  TKoHiTimer timer; // Synchronize is true by default
  timer.SetInterval(1);
  int ticks = 0;
  timer.OnTimer = [&](TKoHiTimer&) { ++ticks; };
  timer.SetEnabled(true);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(ui.WaitForCall());
    ui.Drain();
  }
  EXPECT_EQ(ticks, 3);
  ASSERT_TRUE(ui.WaitForCall()); // the worker now waits for the UI thread
  timer.SetEnabled(false);       // and must give up at once
  ui.Drain();
  EXPECT_EQ(ticks, 3);
}

TEST(KoHiTimer, MessageModeWithoutADispatcherStaysIdle) {
  SetUiDispatcher({});
  TKoHiTimer timer;
  timer.SetUseThread(false);
  timer.SetInterval(1);
  timer.OnTimer = [](TKoHiTimer&) { FAIL(); };
  timer.SetEnabled(true);
  std::this_thread::sleep_for(10ms);
}

TEST(HighTimer, PropertyRules) {
  THighTimer timer;
  EXPECT_EQ(timer.TimerRes(), static_cast<std::uint32_t>(timer.MinPeriod()));
  timer.SetTimerRes(0);
  EXPECT_EQ(timer.TimerRes(), static_cast<std::uint32_t>(timer.MinPeriod()));
  timer.SetTimerRes(1);
  timer.SetInterval(10);
  EXPECT_EQ(timer.Interval(), 10u);
  timer.SetInterval(0);
  EXPECT_EQ(timer.Interval(), 10u);
  timer.SetTimerRes(20);
  timer.SetInterval(15); // below TimerRes
  EXPECT_EQ(timer.Interval(), 10u);
}

TEST(HighTimer, TicksOnTheUiQueueAndCanBeStoppedAndFreedFromItsTick) {
  TQueueDispatcher ui;
  auto timer = std::make_unique<THighTimer>();
  timer->SetTimerRes(1);
  timer->SetInterval(10);
  int ticks = 0;
  timer->SetOnTimer([&](THighTimer& sender) {
    ++ticks;
    if (ticks == 2) {
      sender.SetEnabled(false);
      timer.reset(); // the recorder frees its timer when playback ends
    }
  });
  timer->SetEnabled(true);
  while (timer) {
    ASSERT_TRUE(ui.WaitForCall());
    ui.Drain();
  }
  EXPECT_EQ(ticks, 2);
  std::this_thread::sleep_for(30ms);
  ui.Drain();
  EXPECT_EQ(ticks, 2);
}

} // namespace
} // namespace melo

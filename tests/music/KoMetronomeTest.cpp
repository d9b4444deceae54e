#include "music/KoMetronome.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace melo {
namespace {

// A metronome on a hand-driven millisecond clock: the tests move the clock and
// call Tick themselves; the timer has no handler, so no worker runs.
class MetronomeTest : public ::testing::Test {
protected:
  MetronomeTest() : Clock(1'000'000), Metro([this] { return Clock; }) {
    Metro.Timer.OnTimer = nullptr;
  }

  void TickAt(std::int64_t elapsed) {
    Clock = 1'000'000 + elapsed;
    Metro.Tick();
  }

  // Records the flags of every call.
  TMetronomeCallback Recorder(std::vector<std::uint16_t>& flags) {
    return [&flags](TMetronome&, std::uint16_t f, double, double, int, std::int32_t, std::int32_t,
                    bool&) { flags.push_back(f); };
  }

  std::int64_t Clock;
  TMetronome Metro;
};

TEST_F(MetronomeTest, BarBeatAndSixteenthLengthsAtTempo100) {
  std::vector<std::uint16_t> bars, beats, sixteenths;
  Metro.AddClient("bar", mfNewBar, Recorder(bars));
  Metro.AddClient("beat", mfNewBeat, Recorder(beats));
  Metro.AddClient("16th", mfNewSixteenth, Recorder(sixteenths));
  Metro.SetRunning(true);
  for (int ms = 0; ms < 2400; ++ms)
    TickAt(ms);
  EXPECT_EQ(bars.size(), 1u);
  EXPECT_EQ(beats.size(), 4u);       // 600 ms each
  EXPECT_EQ(sixteenths.size(), 16u); // 150 ms each
  TickAt(2400);
  EXPECT_DOUBLE_EQ(Metro.BarPosition(), 1.0);
  EXPECT_EQ(bars.size(), 2u);
  EXPECT_EQ(Metro.ElapsedRealMs(), 2400);
}

TEST_F(MetronomeTest, TempoChangeKeepsThePosition) {
  Metro.SetRunning(true);
  TickAt(0);
  TickAt(1200);
  ASSERT_DOUBLE_EQ(Metro.BarPosition(), 0.5);
  Metro.SetTempo(120);
  TickAt(1200);
  EXPECT_DOUBLE_EQ(Metro.BarPosition(), 0.5);
  TickAt(1800);
  EXPECT_DOUBLE_EQ(Metro.BarPosition(), 0.5 + 600 * 120.0 / (4 * 60000));
  Metro.SetTempo(120); // same tempo: nothing moves
  TickAt(2400);
  EXPECT_DOUBLE_EQ(Metro.BarPosition(), 0.5 + 1200 * 120.0 / (4 * 60000));
  EXPECT_DOUBLE_EQ(Metro.Tempo(), 120);
}

TEST_F(MetronomeTest, StopResetsTheTempoChangePoint) {
  Metro.SetRunning(true);
  TickAt(0);
  TickAt(1200);
  Metro.SetTempo(200);
  Metro.SetRunning(false);
  EXPECT_EQ(Metro.BarPosition(), 0);
  Metro.SetRunning(true);
  TickAt(3000); // first tick after the start restarts the time base
  TickAt(3600);
  EXPECT_DOUBLE_EQ(Metro.BarPosition(), 600 * 200.0 / (4 * 60000));
}

TEST_F(MetronomeTest, FirstTickReportsEveryBoundary) {
  std::vector<std::uint16_t> flags;
  Metro.AddClient("all", 0x1F, Recorder(flags));
  Metro.SetRunning(true);
  TickAt(500); // whenever it comes, the first tick is position 0
  ASSERT_EQ(flags.size(), 1u);
  EXPECT_EQ(flags[0], 0x1F);
  TickAt(505);
  EXPECT_EQ(flags.back(), mfTick);
}

TEST_F(MetronomeTest, SecondAndBeatClientSeesOnlyItsBoundaries) {
  std::vector<std::uint16_t> flags;
  std::vector<std::int64_t> at;
  Metro.AddClient(
      "NewSecondAndNewBeat", 20,
      [&](TMetronome& m, std::uint16_t f, double, double, int, std::int32_t, std::int32_t, bool&) {
        flags.push_back(f);
        at.push_back(m.ElapsedRealMs());
      });
  Metro.SetRunning(true);
  for (int ms = 0; ms <= 3000; ms += 5)
    TickAt(ms);
  const std::vector<std::int64_t> wantAt = {0, 600, 1000, 1200, 1800, 2000, 2400, 3000};
  const std::vector<std::uint16_t> wantFlags = {0x14, 0x04, 0x10, 0x04, 0x04, 0x10, 0x04, 0x14};
  EXPECT_EQ(at, wantAt);
  EXPECT_EQ(flags, wantFlags);
}

TEST_F(MetronomeTest, ClientNamesAreUnique) {
  int first = 0, second = 0;
  auto count = [](int& n) {
    return [&n](TMetronome&, std::uint16_t, double, double, int, std::int32_t, std::int32_t,
                bool&) { ++n; };
  };
  EXPECT_TRUE(Metro.AddClient("Accomp", mfTick, count(first)));
  EXPECT_FALSE(Metro.AddClient("Accomp", mfTick, count(second)));
  EXPECT_TRUE(Metro.AddClient("accomp", mfTick, count(second))); // case matters
  Metro.SetRunning(true);
  TickAt(0);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 1);
  EXPECT_TRUE(Metro.RemoveClient("Accomp"));
  EXPECT_FALSE(Metro.RemoveClient("Accomp"));
  EXPECT_EQ(Metro.IndexOfClient("Accomp"), -1);
  EXPECT_EQ(Metro.IndexOfClient("accomp"), 1); // slots never move
  EXPECT_TRUE(Metro.AddClient("Accomp", mfTick, count(first)));
  EXPECT_EQ(Metro.IndexOfClient("Accomp"), 2);
}

TEST_F(MetronomeTest, RemovalAndAdditionDuringATick) {
  std::vector<std::string> calls;
  auto named = [&](const std::string& name, auto action) {
    return [&calls, name, action](TMetronome&, std::uint16_t, double, double, int, std::int32_t,
                                  std::int32_t, bool& stop) {
      calls.push_back(name);
      action(stop);
    };
  };
  Metro.AddClient("A", mfTick, named("A", [this](bool&) {
                    Metro.RemoveClient("A"); // itself
                    Metro.RemoveClient("B"); // a later one
                    Metro.AddClient("D", mfTick,
                                    [](TMetronome&, std::uint16_t, double, double, int,
                                       std::int32_t, std::int32_t, bool&) {});
                  }));
  Metro.AddClient("B", mfTick, named("B", [](bool&) {}));
  Metro.AddClient("C", mfTick, named("C", [](bool& stop) { stop = true; }));
  Metro.AddClient("E", mfTick, named("E", [](bool&) {}));
  Metro.SetRunning(true);
  TickAt(0);
  EXPECT_EQ(calls, (std::vector<std::string>{"A", "C", "E"}));
  EXPECT_EQ(Metro.IndexOfClient("C"), -1); // Stop removed it
  EXPECT_EQ(Metro.IndexOfClient("E"), 3);
  EXPECT_EQ(Metro.IndexOfClient("D"), 4);
  calls.clear();
  TickAt(5);
  EXPECT_EQ(calls, (std::vector<std::string>{"E"}));
}

TEST_F(MetronomeTest, SpecialModesUseParam) {
  std::vector<std::uint16_t> atBeat, atBar, periodic;
  std::vector<std::int64_t> periodicAt;
  Metro.AddClient("beat2", mfAtBeat, Recorder(atBeat), 2);
  Metro.AddClient("bar1", mfAtBar, Recorder(atBar), 1);
  Metro.AddClient(
      "every250", mfPeriodic,
      [&](TMetronome& m, std::uint16_t f, double, double, int, std::int32_t, std::int32_t, bool&) {
        periodic.push_back(f);
        periodicAt.push_back(m.ElapsedRealMs());
      },
      250);
  Metro.SetRunning(true);
  for (int ms = 0; ms <= 6000; ms += 10)
    TickAt(ms);
  EXPECT_EQ(atBeat, (std::vector<std::uint16_t>{mfAtBeat}));
  EXPECT_EQ(Metro.IndexOfClient("beat2"), -1);
  EXPECT_EQ(atBar, (std::vector<std::uint16_t>{mfAtBar}));
  EXPECT_EQ(Metro.IndexOfClient("bar1"), -1);
  ASSERT_EQ(periodicAt.size(), 24u);
  EXPECT_EQ(periodicAt.front(), 250);
  EXPECT_EQ(periodicAt.back(), 6000);
  EXPECT_EQ(periodic.front(), mfPeriodic);
}

// Real time, generous bounds: the worker ticks and stops.
TEST(Metronome, RunsOnItsWorkerAndStops) {
  TMetronome metro;
  metro.SetTempo(300); // a sixteenth every 50 ms
  std::atomic<int> sixteenths{0};
  metro.AddClient("16th", mfNewSixteenth,
                  [&](TMetronome&, std::uint16_t, double, double, int, std::int32_t, std::int32_t,
                      bool&) { ++sixteenths; });
  metro.SetRunning(true);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (sixteenths < 3 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  metro.SetRunning(false);
  EXPECT_GE(sixteenths, 3);
  const int stopped = sixteenths;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(sixteenths, stopped);
}

} // namespace
} // namespace melo

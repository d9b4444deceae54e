// Sends from the window's thread and the metronome's worker at the same time:
// every message arrives whole, in each sender's order, and the bookkeeping of
// a sink in front of the engine stays with its own message.
#include "sound/KoDirectMusic.h"

#include "ChannelMessages.h"
#include "DlsTestSets.h"
#include "FluidTsanSuppressions.h"
#include "SynthTestSupport.h"
#include "music/MidiInterfaces.h"
#include "sound/DlsWriter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

namespace melo {
namespace {

constexpr int MessagesPerThread = 100000;

// Thread A plays notes on channel 0 through the memory (one message plus
// LastNotes). Thread B sends raw controller messages on channel 1 straight to
// the engine and, every 1000th time, a SetPatch on channel 2 through the
// memory (three messages that must stay together).
void SendNotes(test::TChannelMemory& memory) {
  for (int i = 0; i < MessagesPerThread; ++i) {
    test::NoteOn(memory, 0, static_cast<std::uint8_t>(i & 0x7F),
                 static_cast<std::uint8_t>((i >> 7) & 0x7F));
  }
}

void SendControllers(TKoDirectMusic& engine, test::TChannelMemory& memory) {
  for (int i = 0; i < MessagesPerThread; ++i) {
    if (i % 1000 == 999) {
      const auto whole = memory.Hold();
      test::SetPatch(memory, 2, static_cast<std::uint32_t>(i / 1000));
    } else {
      engine.SendMidiMessage(0xB1, static_cast<std::uint8_t>(i & 0x7F),
                             static_cast<std::uint8_t>((i >> 7) & 0x7F));
    }
  }
}

TEST(EngineThreadTest, TwoSendersLoseAndInterleaveNothing) {
  constexpr std::size_t patchMessages = MessagesPerThread / 1000 * 2; // two extra per SetPatch
  TKoDirectMusic engine(TEngineMode::Capture, (2 * MessagesPerThread + patchMessages) * 3);
  ASSERT_TRUE(engine.SelectPort(0));
  test::TChannelMemory memory(engine);
  std::thread notes(SendNotes, std::ref(memory));
  std::thread controllers(SendControllers, std::ref(engine), std::ref(memory));
  int observedNote = 0;
  while (observedNote == 0) {
    observedNote = memory.LastNotes(0); // read while both senders run
  }
  notes.join();
  controllers.join();

  const std::vector<std::uint8_t> bytes = engine.CapturedBytes();
  ASSERT_EQ(bytes.size(), (2 * MessagesPerThread + patchMessages) * 3);
  int nextNote = 0;
  int nextController = 0;
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    const int counter = bytes[at + 1] | bytes[at + 2] << 7;
    switch (bytes[at]) {
    case 0x90:
      ASSERT_EQ(counter, nextNote & 0x3FFF);
      ++nextNote;
      break;
    case 0xB1:
      ASSERT_EQ(counter, nextController & 0x3FFF);
      ++nextController;
      break;
    case 0xB2: // bank MSB, then LSB and program directly behind it
      ASSERT_LE(at + 9, bytes.size());
      ASSERT_EQ(bytes[at + 3], 0xB2);
      ASSERT_EQ(bytes[at + 6], 0xC2);
      ASSERT_EQ(bytes[at + 7], nextController / 1000);
      ++nextController;
      at += 6;
      break;
    default:
      FAIL() << "unexpected status " << int{bytes[at]};
    }
  }
  EXPECT_EQ(nextNote, MessagesPerThread);
  EXPECT_EQ(nextController, MessagesPerThread);
  EXPECT_EQ(memory.LastNotes(0), (MessagesPerThread - 1) & 0x7F);
  EXPECT_EQ(memory.Patches(2), static_cast<std::uint32_t>(MessagesPerThread / 1000 - 1));
}

TEST(EngineThreadTest, SendersAndRenderingShareTheSynthesizer) {
  auto owner = test::MakeOfflineEngine();
  TKoDirectMusic& engine = *owner;
  auto play = [&engine](std::uint8_t channel, int* failures) {
    for (int i = 0; i < 20000; ++i) {
      const auto note = static_cast<std::uint8_t>(36 + i % 48);
      *failures += test::NoteOn(engine, channel, note, 80) ? 0 : 1;
      *failures += test::NoteOff(engine, channel, note) ? 0 : 1;
    }
  };
  int failuresA = 0;
  int failuresB = 0;
  std::thread a(play, 0, &failuresA);
  std::thread b(play, 1, &failuresB);
  std::vector<float> left(256);
  std::vector<float> right(256);
  for (int block = 0; block < 200; ++block) {
    EXPECT_TRUE(engine.Render(left, right));
  }
  a.join();
  b.join();
  EXPECT_EQ(failuresA + failuresB, 0);
}

// The built-in set builds an instrument at its first note. A key from the
// window and the accompaniment's timed notes (played by the audio thread)
// reach the same unbuilt instruments at once while the output renders.
TEST(EngineThreadTest, InstrumentsBuiltAtTheirFirstNoteFromTwoThreads) {
  constexpr int programs = 48;
  TDlsCollection set;
  set.Waves.push_back(test::LoopedSine(440.0, 22050, 20, 69));
  set.Waves.push_back(test::LoopedSine(220.0, 22050, 10, 57));
  for (int p = 0; p < programs; ++p) {
    set.Instruments.push_back(test::Instrument(0, std::uint32_t(p), "I" + std::to_string(p),
                                               {test::Region(std::uint32_t(p % 2))}, p % 3 == 0));
  }
  const auto path = std::filesystem::temp_directory_path() /
                    ("melo-firstnote-" + std::to_string(::getpid()) + ".dls");
  ASSERT_TRUE(SaveDlsFile(set, path.string()));
  TKoDirectMusic engine(TEngineMode::Offline);
  ASSERT_TRUE(engine.SelectPort(0));
  ASSERT_TRUE(engine.LoadCollectionFromMappedFile(path));
  std::filesystem::remove(path);

  std::atomic<int> failures{0};
  std::atomic<int> running{2};
  auto play = [&](std::uint8_t channel, bool timed) {
    for (int p = 0; p < programs; ++p) {
      const auto note = static_cast<std::uint8_t>(48 + p % 24);
      const double now = std::chrono::duration<double, std::milli>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count();
      std::optional<TIntendedTimeScope> scope;
      if (timed)
        scope.emplace(now, 0.0);
      failures += test::SetPatch(engine, channel, std::uint32_t(p)) ? 0 : 1;
      failures += test::NoteOn(engine, channel, note, 100) ? 0 : 1;
    }
    --running;
  };
  std::thread key(play, std::uint8_t{0}, false);
  std::thread worker(play, std::uint8_t{1}, true);
  std::vector<float> left(256);
  std::vector<float> right(256);
  float peak = 0;
  auto render = [&] {
    if (!engine.Render(left, right))
      return false;
    for (float v : left)
      peak = std::max(peak, std::abs(v));
    return true;
  };
  // Render on while they play, then until the last timed notes are out. A
  // timed note sounds one period after its time on the clock, and this loop
  // renders many periods per millisecond, so the last ones wait for the clock
  // to move on: how many periods that takes depends on the machine's load.
  bool rendering = true;
  while (rendering && running > 0)
    rendering = render();
  for (int extra = 0; rendering && extra < 4000 && engine.WaitingMessages() > 0; ++extra)
    rendering = render();
  EXPECT_TRUE(rendering) << "no offline rendering";
  key.join();
  worker.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(engine.WaitingMessages(), 0u);
  EXPECT_GT(peak, 0.01f);
}

} // namespace
} // namespace melo

// Sends from the window's thread and the metronome's worker at the same time:
// every message arrives whole, in each sender's order, and the bookkeeping of
// a wrapper stays with its own message.
#include "sound/KoDirectMusic.h"

#include "FluidTsanSuppressions.h"
#include "SynthTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace melo {
namespace {

constexpr int MessagesPerThread = 100000;

// Thread A plays notes on channel 0 (NoteOn: one message plus LastNotes).
// Thread B sends raw controller messages on channel 1 and, every 1000th time,
// a SetPatch on channel 2 (three messages that must stay together).
void SendNotes(TKoDirectMusic& engine) {
  for (int i = 0; i < MessagesPerThread; ++i) {
    engine.NoteOn(0, static_cast<std::uint8_t>(i & 0x7F),
                  static_cast<std::uint8_t>((i >> 7) & 0x7F));
  }
}

void SendControllers(TKoDirectMusic& engine) {
  for (int i = 0; i < MessagesPerThread; ++i) {
    if (i % 1000 == 999) {
      engine.SetPatch(2, static_cast<std::uint32_t>(i / 1000));
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
  std::thread notes(SendNotes, std::ref(engine));
  std::thread controllers(SendControllers, std::ref(engine));
  int observedNote = 0;
  while (observedNote == 0) {
    observedNote = engine.LastNotes(0); // read while both senders run
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
  EXPECT_EQ(engine.LastNotes(0), (MessagesPerThread - 1) & 0x7F);
  EXPECT_EQ(engine.Patches(2), static_cast<std::uint32_t>(MessagesPerThread / 1000 - 1));
}

TEST(EngineThreadTest, SendersAndRenderingShareTheSynthesizer) {
  auto owner = test::MakeOfflineEngine();
  TKoDirectMusic& engine = *owner;
  auto play = [&engine](std::uint8_t channel, int* failures) {
    for (int i = 0; i < 20000; ++i) {
      const auto note = static_cast<std::uint8_t>(36 + i % 48);
      *failures += engine.NoteOn(channel, note, 80) ? 0 : 1;
      *failures += engine.NoteOff(channel, note) ? 0 : 1;
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

} // namespace
} // namespace melo

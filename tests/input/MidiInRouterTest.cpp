// What a MIDI keyboard's messages turn into: notes, pedal steps and passed
// messages, also when the transposition changes between a press and its release.
#include "input/MidiInRouter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace melo {
namespace {

using Bytes = std::vector<std::uint8_t>;

class MidiInRouterTest : public ::testing::Test {
protected:
  void SetUp() override {
    router.OnNoteOn = [this](int n, int v) {
      Log("on " + std::to_string(n) + " " + std::to_string(v));
    };
    router.OnNoteOff = [this](int n, int v) {
      Log("off " + std::to_string(n) + " " + std::to_string(v));
    };
    router.OnSustain = [this](bool down) { Log(down ? "pedal down" : "pedal up"); };
    router.OnPass = [this](std::uint8_t s, std::uint8_t d1, std::uint8_t d2) {
      char text[16];
      std::snprintf(text, sizeof text, "%02X %02X %02X", s, d1, d2);
      Log(text);
    };
  }

  void Log(const std::string& action) { actions.push_back(action); }

  void Play(Bytes message, int shift = 0) {
    router.Play(message.data(), static_cast<int>(message.size()), shift);
  }

  TMidiInRouter router;
  std::vector<std::string> actions;
};

using Actions = std::vector<std::string>;

TEST_F(MidiInRouterTest, NotesOfAnyChannelPlayWithThePlayersVelocity) {
  Play({0x90, 60, 37});
  Play({0x83, 60, 20}); // another channel's note-off still ends it
  Play({0x9F, 64, 127});
  Play({0x9F, 64, 0}); // a note-on with velocity 0 is a release
  EXPECT_EQ(actions, (Actions{"on 60 37", "off 60 20", "on 64 127", "off 64 64"}));
}

TEST_F(MidiInRouterTest, DataBytesAbove127AreRefusedNotMasked) {
  Play({0x90, 0x90, 0x3C});
  Play({0x90, 0x3C, 0x80});
  Play({0xB0, 0x81, 0x7F});
  Play({0x90, 0x7F, 0x7F});
  EXPECT_EQ(actions, (Actions{"on 127 127"}));
}

TEST_F(MidiInRouterTest, ReleaseStopsTheNoteThePressSoundedAfterATransposeChange) {
  Play({0x90, 60, 90}, 3);
  EXPECT_EQ(router.SoundingNote(60), 63);
  Play({0x80, 60, 64}, -2); // transposition changed meanwhile
  EXPECT_EQ(actions, (Actions{"on 63 90", "off 63 64"}));
  EXPECT_EQ(router.SoundingNote(60), -1);
}

TEST_F(MidiInRouterTest, ReleaseOfANoteThatDoesNotSoundIsHarmless) {
  Play({0x80, 60, 64});
  Play({0x90, 61, 0});
  Play({0x90, 127, 100}, 1); // above the range: not played ...
  Play({0x80, 127, 64}, 1);  // ... so its release does nothing either
  Play({0x90, 0, 100}, -4);
  EXPECT_TRUE(actions.empty());
}

TEST_F(MidiInRouterTest, ANoteStruckAgainRestartsAndOneReleaseEndsIt) {
  Play({0x90, 60, 50});
  Play({0x90, 60, 80}, 2); // the first press ends before the second sounds
  Play({0x80, 60, 0});
  Play({0x80, 60, 0}); // a second release finds nothing
  EXPECT_EQ(actions, (Actions{"on 60 50", "off 60 64", "on 62 80", "off 62 0"}));
}

TEST_F(MidiInRouterTest, SustainControllerWorksThePedalOnItsStepsOnly) {
  Play({0xB0, 64, 127});
  Play({0xB0, 64, 100}); // still down
  Play({0xB5, 64, 63});  // up, from any channel
  Play({0xB0, 64, 0});
  EXPECT_EQ(actions, (Actions{"pedal down", "pedal up"}));
  EXPECT_FALSE(router.SustainDown());
}

TEST_F(MidiInRouterTest, OtherChannelMessagesPassToTheRightHandChannel) {
  Play({0xE4, 0x00, 0x50}); // pitch bend
  Play({0xB2, 1, 90});      // modulation wheel
  Play({0xC7, 5});          // program change: one data byte
  Play({0xD3, 40});         // channel pressure
  Play({0xA0, 60, 33});     // key pressure
  Play({0xF8, 0});          // real-time and system messages are not played
  Play({0x40, 1, 2});
  Play({0x90});
  EXPECT_EQ(actions, (Actions{"E1 00 50", "B1 01 5A", "C1 05 00", "D1 28 00", "A1 3C 21"}));
}

TEST_F(MidiInRouterTest, AllNotesOffEndsTheSoundingNotesThenPasses) {
  Play({0x90, 60, 50});
  Play({0x90, 67, 50}, 1);
  Play({0xB3, 123, 0});
  EXPECT_TRUE(router.SoundingNotes().empty());
  Play({0x80, 60, 64}); // its release finds nothing
  EXPECT_EQ(actions, (Actions{"on 60 50", "on 68 50", "off 60 64", "off 68 64", "B1 7B 00"}));
}

TEST_F(MidiInRouterTest, ReleaseAllEndsEveryNoteAndLiftsThePedal) {
  Play({0x90, 72, 50});
  Play({0x90, 48, 60}, 1);
  Play({0xB0, 64, 127});
  EXPECT_EQ(router.SoundingNotes(), (std::vector<int>{49, 72}));
  router.ReleaseAll();
  EXPECT_EQ(actions,
            (Actions{"on 72 50", "on 49 60", "pedal down", "off 49 64", "off 72 64", "pedal up"}));
  EXPECT_TRUE(router.SoundingNotes().empty());
  router.ReleaseAll(); // nothing left to release
  EXPECT_EQ(actions.size(), 6u);
}

TEST_F(MidiInRouterTest, ForgetDropsTheNotesWithoutReleasingThem) {
  Play({0x90, 60, 50});
  Play({0xB0, 64, 127});
  router.Forget();
  Play({0x80, 60, 64});
  Play({0xB0, 64, 0}); // the pedal's release still goes out
  EXPECT_EQ(actions, (Actions{"on 60 50", "pedal down", "pedal up"}));
}

} // namespace
} // namespace melo

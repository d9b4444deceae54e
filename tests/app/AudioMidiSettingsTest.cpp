// The command line's say over the stored audio output and MIDI input, and a MIDI source as stored.
#include "app/AudioMidiSettings.h"

#include <gtest/gtest.h>

namespace melo {
namespace {

TEST(AudioMidiChoicesForRun, AGivenOptionWinsForItsOwnChoice) {
  const TAudioMidiChoices stored{"pulse", "Keys"};
  EXPECT_EQ(ChoicesForRun(stored, "", ""), stored);
  EXPECT_EQ(ChoicesForRun(stored, "jack", ""), (TAudioMidiChoices{"jack", "Keys"}));
  EXPECT_EQ(ChoicesForRun(stored, "", "20:0"), (TAudioMidiChoices{"pulse", "20:0"}));
}

TEST(StoredMidiSource, LeavesOffOnlyAnAlsaAddress) {
  const struct {
    const char* Source;
    const char* Stored;
  } cases[] = {
      {"Keyboard: MIDI 1 [24:0]", "Keyboard: MIDI 1"},
      {"a2j:Keyboard [20] (capture): MIDI 1", "a2j:Keyboard [20] (capture): MIDI 1"},
      {"Keys [24:x]", "Keys [24:x]"},
      {"Keys [:0]", "Keys [:0]"},
      {"Keys [24:0] out", "Keys [24:0] out"},
      {"Keys[24:0]", "Keys[24:0]"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(StoredMidiSource(c.Source), c.Stored) << c.Source;
}

} // namespace
} // namespace melo

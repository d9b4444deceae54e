// The stored audio output and MIDI input: their file, read from any bytes, and the command line's
// say over them.
#include "app/AudioMidiSettings.h"

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace melo {
namespace {

class AudioMidiSettingsTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Folder.isValid()); }
  void Write(const std::string& bytes) const { std::ofstream(File, std::ios::binary) << bytes; }
  std::string Read() const {
    std::ostringstream text;
    text << std::ifstream(File, std::ios::binary).rdbuf();
    return text.str();
  }

  QTemporaryDir Folder;
  const std::filesystem::path File = std::filesystem::path(Folder.path().toStdString()) / "a.cfg";
};

TEST_F(AudioMidiSettingsTest, SavedChoicesAreTwoLinesThatLoadBack) {
  const TAudioMidiChoices choices{"sysdefault:CARD=PCH", "Keyboard: MIDI 1"};
  ASSERT_TRUE(SaveAudioMidiTo(File, choices));
  EXPECT_EQ(Read(), "audio=sysdefault:CARD=PCH\nmidi-in=Keyboard: MIDI 1\n");
  TAudioMidiChoices loaded{"x", "y"};
  ASSERT_TRUE(LoadAudioMidiFrom(File, loaded));
  EXPECT_EQ(loaded, choices);
}

TEST_F(AudioMidiSettingsTest, AnyBytesGiveChoicesOrNone) {
  const std::string tooLong(MaxAudioMidiValueBytes + 1, 'a');
  const std::string longest(MaxAudioMidiValueBytes, 'a');
  const struct {
    std::string Bytes;
    TAudioMidiChoices Expected;
  } cases[] = {
      {"audio=pulse\r\nmidi-in=24:0\r\n", {"pulse", "24:0"}},
      {"midi-in=Keys\nother=1\naudio=jack", {"jack", "Keys"}},
      {"audio=pulse\naudio=jack\n", {"jack", ""}}, // the last line wins
      {"audio=pul\tse\nmidi-in=K\x7F\n", {"", ""}},
      {std::string("audio=a\0b\n", 10), {"", ""}},
      {"audio=" + tooLong + "\nmidi-in=" + longest, {"", longest}},
      {"AUDIO=pulse\n audio=jack\n\n", {"", ""}},
      {"\xFF\xFE\x00garbage", {"", ""}},
  };
  for (const auto& c : cases) {
    Write(c.Bytes);
    TAudioMidiChoices loaded{"x", "y"};
    EXPECT_TRUE(LoadAudioMidiFrom(File, loaded));
    EXPECT_EQ(loaded, c.Expected) << c.Bytes;
  }
}

TEST_F(AudioMidiSettingsTest, AMissingOrOversizedFileIsNoChoice) {
  TAudioMidiChoices loaded{"x", "y"};
  EXPECT_FALSE(LoadAudioMidiFrom(File, loaded));
  EXPECT_EQ(loaded, TAudioMidiChoices{});
  Write("audio=pulse\n" + std::string(4096, '\n'));
  loaded = {"x", "y"};
  EXPECT_FALSE(LoadAudioMidiFrom(File, loaded));
  EXPECT_EQ(loaded, TAudioMidiChoices{});
}

TEST_F(AudioMidiSettingsTest, AValueTheFileCannotHoldKeepsTheOldFile) {
  Write("audio=pulse\n");
  EXPECT_FALSE(SaveAudioMidiTo(File, {"pulse\njack", ""}));
  EXPECT_FALSE(SaveAudioMidiTo(File, {"", std::string(MaxAudioMidiValueBytes + 1, 'k')}));
  EXPECT_EQ(Read(), "audio=pulse\n");
}

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

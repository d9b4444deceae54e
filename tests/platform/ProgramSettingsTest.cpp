#include "platform/ProgramSettings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace melo {
namespace {

namespace fs = std::filesystem;

class ProgramSettingsTest : public ::testing::Test {
protected:
  ProgramSettingsTest() { fs::create_directories(Folder); }
  ~ProgramSettingsTest() override { fs::remove_all(Folder); }
  const fs::path Folder =
      fs::temp_directory_path() / ("melo-settings-" + std::to_string(::getpid()));
  const fs::path File = Folder / "Melotastico.ini";
};

TEST_F(ProgramSettingsTest, EachSwitchRoundTripsAndAMissingFileGivesTheDefaults) {
  TProgramSettings read{true, true};
  EXPECT_FALSE(LoadProgramSettingsFrom(File, read));
  EXPECT_EQ(read, TProgramSettings{});
  for (const TProgramSettings written :
       {TProgramSettings{true, false}, TProgramSettings{false, true}}) {
    ASSERT_TRUE(SaveProgramSettingsTo(File, written));
    ASSERT_TRUE(LoadProgramSettingsFrom(File, read));
    EXPECT_EQ(read, written);
  }
}

TEST_F(ProgramSettingsTest, KeysMissingFromTheFileKeepTheirDefaults) {
  std::ofstream(File) << "[Accompaniment]\nFingeredChords=true\n[Other]\nDrumsOnly=true\n";
  TProgramSettings read{true, false};
  ASSERT_TRUE(LoadProgramSettingsFrom(File, read));
  EXPECT_EQ(read, (TProgramSettings{false, true}));
}

TEST_F(ProgramSettingsTest, AFileThatCannotBeWrittenFails) {
  std::ofstream(File) << "not a folder";
  EXPECT_FALSE(SaveProgramSettingsTo(File / "Melotastico.ini", {}));
  EXPECT_FALSE(SaveAudioMidiTo(File / "Melotastico.ini", {}));
}

// The settings dialog and the Audio and MIDI page share the file: each save leaves the other's
// values as they were, and names with any characters come back whole.
TEST_F(ProgramSettingsTest, AudioMidiChoicesAndSwitchesKeepEachOther) {
  TAudioMidiChoices choices{"x", "y"};
  EXPECT_FALSE(LoadAudioMidiFrom(File, choices));
  EXPECT_EQ(choices, TAudioMidiChoices{});
  const TAudioMidiChoices stored{"sysdefault:CARD=PCH", "Keys; [24:0]\n=\"\t\xE9\x9F\xB3"};
  ASSERT_TRUE(SaveProgramSettingsTo(File, {true, false}));
  ASSERT_TRUE(SaveAudioMidiTo(File, stored));
  ASSERT_TRUE(SaveProgramSettingsTo(File, {false, true}));
  ASSERT_TRUE(LoadAudioMidiFrom(File, choices));
  EXPECT_EQ(choices, stored);
  ASSERT_TRUE(SaveAudioMidiTo(File, {"pulse", ""}));
  TProgramSettings read;
  ASSERT_TRUE(LoadProgramSettingsFrom(File, read));
  EXPECT_EQ(read, (TProgramSettings{false, true}));
  ASSERT_TRUE(LoadAudioMidiFrom(File, choices));
  EXPECT_EQ(choices, (TAudioMidiChoices{"pulse", ""}));
}

} // namespace
} // namespace melo

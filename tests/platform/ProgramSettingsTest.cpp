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
  TProgramSettings read{.AccompDrumsOnly = true, .FingeredChords = true};
  EXPECT_FALSE(LoadProgramSettingsFrom(File, read));
  EXPECT_EQ(read, TProgramSettings{});
  for (const TProgramSettings& written :
       {TProgramSettings{.AccompDrumsOnly = true}, TProgramSettings{.FingeredChords = true}}) {
    ASSERT_TRUE(SaveProgramSettingsTo(File, written));
    ASSERT_TRUE(LoadProgramSettingsFrom(File, read));
    EXPECT_EQ(read, written);
  }
}

TEST_F(ProgramSettingsTest, KeysMissingFromTheFileKeepTheirDefaults) {
  std::ofstream(File) << "[Accompaniment]\nFingeredChords=true\n[Other]\nDrumsOnly=true\n";
  TProgramSettings read{.AccompDrumsOnly = true};
  ASSERT_TRUE(LoadProgramSettingsFrom(File, read));
  EXPECT_EQ(read, (TProgramSettings{.FingeredChords = true}));
}

TEST_F(ProgramSettingsTest, BestScoresRoundTripByAnySongNameAndOnlyPercentsAreRead) {
  const TProgramSettings both{.BestScores = {{"a b=c;#[x].mid", 0}, {"歌.lyt", 100}}};
  const TProgramSettings one{.BestScores = {{"歌.lyt", 100}}};
  TProgramSettings read;
  for (const TProgramSettings& written : {both, one}) {
    ASSERT_TRUE(SaveProgramSettingsTo(File, written));
    ASSERT_TRUE(LoadProgramSettingsFrom(File, read));
    EXPECT_EQ(read, written);
  }
  std::ofstream(File) << "[BestScores]\nx.mid=101\ny.mid=-1\nz.mid=abc\nw.mid=55\n";
  ASSERT_TRUE(LoadProgramSettingsFrom(File, read));
  EXPECT_EQ(read.BestScores, (std::map<std::string, int>{{"w.mid", 55}}));
}

TEST_F(ProgramSettingsTest, PracticeChoicesRoundTripAndEachOffItsRangeReadsAsTheDefault) {
  const TPracticeChoices lowest{0, 0, 0, 0, 25};
  const TPracticeChoices highest{2, 16, 127, 1, 150};
  TProgramSettings read;
  for (const TPracticeChoices& choices : {lowest, highest}) {
    ASSERT_TRUE(SaveProgramSettingsTo(File, {.Practice = choices}));
    ASSERT_TRUE(LoadProgramSettingsFrom(File, read));
    EXPECT_EQ(read.Practice, choices);
  }
  std::ofstream(File) << "[Practice]\nPart=3\nChannel=-1\nSplit=128\nMode=x\nTempo=24\n";
  ASSERT_TRUE(LoadProgramSettingsFrom(File, read));
  EXPECT_EQ(read.Practice, TPracticeChoices{});
  std::ofstream(File) << "[Practice]\nTempo=151\nSplit=59\n";
  ASSERT_TRUE(LoadProgramSettingsFrom(File, read));
  EXPECT_EQ(read.Practice, (TPracticeChoices{.Split = 59}));
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

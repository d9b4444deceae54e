#include "app/MidiFileSong.h"

#include "music/KoMidiFile.h"
#include "platform/FileBytes.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace melo {
namespace {

namespace fs = std::filesystem;

// Two hands and a drum, as the program writes them, with the song's texts.
const std::vector<TTimedMidiMessage> Played{{0, 0x90, 60, 100},
                                            {3, 0x91, 48, 70},
                                            {437, 0x80, 60, 0},
                                            {438, 0x99, 36, 90},
                                            {1201, 0x81, 48, 0}};

std::vector<std::uint8_t> WrittenFile() {
  std::vector<std::uint8_t> file;
  EXPECT_TRUE(BuildMidiFile(Played, {"Song", "Me", "Remark"}, 2000, file));
  return file;
}

TEST(MidiFileSong, EveryMessageIsARawEventAtItsMillisecondAndTheTextsTheInformation) {
  TMidiFileContent content;
  std::string reason;
  ASSERT_TRUE(ParseMidiFile(WrittenFile(), content, reason)) << reason;
  TSimpleRecorder recorder;
  TSongInfo info{};
  ASSERT_TRUE(recorder.LoadFromStream(MidiFileSongImage(content), info));

  const TSimpleBuffer& events = recorder.Events();
  // The writer ends the drum strike a sixteenth (125 ms) later.
  ASSERT_EQ(events.Count(), Played.size() + 2);
  std::vector<TTimedMidiMessage> raw;
  for (std::size_t i = 0; i + 1 < events.Count(); ++i) {
    ASSERT_EQ(events[i].Kind, sekRawMidi);
    const auto data = static_cast<std::uint32_t>(events[i].Data);
    raw.push_back({events[i].Time, static_cast<std::uint8_t>(data >> 16),
                   static_cast<std::uint8_t>(data >> 8), static_cast<std::uint8_t>(data)});
  }
  EXPECT_EQ(raw, content.Messages);
  EXPECT_EQ(raw[4], (TTimedMidiMessage{563, 0x89, 36, 0}));
  EXPECT_EQ(events[events.Count() - 1].Kind, sekEnd);
  EXPECT_EQ(events[events.Count() - 1].Time, 2000u);

  EXPECT_EQ(SongTitle(info), "Song");
  EXPECT_EQ(SongPlayer(info), "Me");
  EXPECT_EQ(SongRemark(info), "Remark\r\nLeft hand\r\nRight hand\r\nDrums");
  const TSongState& state = recorder.Header.State;
  EXPECT_EQ(std::tuple(state.Transpose, state.LeftOctave, state.RightOctave, state.LeftVelocity,
                       state.RightVelocity, state.LeftPatch, state.RightPatch, state.SmartSemitone),
            std::tuple(0, 0, 0, StartLeftVelocity, StartRightVelocity, 0, 0, 0));
  TKeyDefTable defaults{};
  FillDefaultKeyDefs(defaults);
  EXPECT_EQ(std::memcmp(&state.KeyDefs, &defaults, sizeof defaults), 0);
}

TEST(MidiFileSong, ARefusedFileLeavesTheSongInMemoryAndSaysWhy) {
  QTemporaryDir dir;
  const fs::path good = fs::path(dir.path().toStdString()) / "good.mid";
  const fs::path cut = fs::path(dir.path().toStdString()) / "cut.mid";
  std::vector<std::uint8_t> file = WrittenFile();
  ASSERT_TRUE(WriteFileReplacing(good, file));
  file.resize(file.size() - 3);
  ASSERT_TRUE(WriteFileReplacing(cut, file));

  TSimpleRecorder recorder;
  TSongInfo info{};
  std::string reason;
  ASSERT_TRUE(LoadMidiFileSong(good, recorder, info, reason)) << reason;
  const std::size_t count = recorder.Events().Count();
  EXPECT_FALSE(LoadMidiFileSong(cut, recorder, info, reason));
  EXPECT_NE(reason.find("runs past the end"), std::string::npos) << reason;
  EXPECT_EQ(recorder.Events().Count(), count);
  EXPECT_EQ(SongTitle(recorder.Header.Info), "Song");

  // Saved, it is a song file like any other.
  const fs::path saved = fs::path(dir.path().toStdString()) / "song.lyt";
  ASSERT_TRUE(recorder.SaveToFile(saved, info));
  TSimpleRecorder again;
  ASSERT_TRUE(again.LoadFromFile(saved, info));
  EXPECT_EQ(again.Events().Count(), count);
  EXPECT_EQ(again.Header.Version, SongVersion);
}

} // namespace
} // namespace melo

#include "app/RecordingJournal.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "platform/FileBytes.h"

namespace melo {
namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<std::uint8_t>;

// 2026-01-02 03:04:05 UTC: every field of the name differs.
constexpr std::int64_t StartTime = 1767323045;

TSongHeader SomeHeader() {
  TSongHeader header{};
  header.Info = MakeSongInfo("Take", "Player", "");
  header.State = DefaultSongState();
  header.State.Transpose = 3;
  return header;
}

// Three events, the last of the given kind (a key-definition event carries its table).
TSimpleBuffer ThreeEvents(std::uint8_t lastKind) {
  TSimpleBuffer events;
  events.Add({10, 0, sekKeyDown, 16});
  events.Add({20, 0, sekRawMidi, 0x903C64});
  TKeyDefTable table{};
  FillDefaultKeyDefs(table);
  events.Add({30, 0, lastKind, 17}, &table);
  return events;
}

TBytes Journal(const TSongHeader& header, const TSimpleBuffer& events) {
  TBytes journal = JournalHead(header, StartTime);
  events.SaveToStream(journal, journal.size());
  return journal;
}

TEST(RecordingJournalTest, AJournalCutAnywhereInItsLastEventKeepsEveryWholeEventAndNothingElse) {
  const TSongHeader header = SomeHeader();
  for (const std::uint8_t lastKind : {sekKeyUp, sekKeyDefs}) {
    SCOPED_TRACE(int{lastKind});
    const TSimpleBuffer events = ThreeEvents(lastKind);
    const TBytes journal = Journal(header, events);
    TJournalSong song;
    ASSERT_TRUE(SongFromJournal(journal, song));
    EXPECT_EQ(song.StartTime, StartTime);
    EXPECT_EQ(song.EventCount, 3u);
    EXPECT_EQ(song.Image, SongImage(header, events));

    TSimpleBuffer firstTwo;
    firstTwo.LoadFromStream(journal, JournalHeadBytes, 2);
    const TBytes firstTwoImage = SongImage(header, firstTwo);
    const std::size_t lastBytes = SongEventBytes + (lastKind == sekKeyDefs ? KeyDefTableBytes : 0);
    for (std::size_t cut = journal.size() - lastBytes; cut < journal.size(); ++cut) {
      ASSERT_TRUE(SongFromJournal(std::span(journal).first(cut), song)) << cut;
      ASSERT_EQ(song.EventCount, 2u) << cut;
      ASSERT_EQ(song.Image, firstTwoImage) << cut;
    }
  }
}

TEST(RecordingJournalTest, AJournalWithoutItsWholeHeadIsNoJournal) {
  TBytes journal = Journal(SomeHeader(), ThreeEvents(sekKeyUp));
  TJournalSong song;
  EXPECT_FALSE(SongFromJournal(std::span(journal).first(JournalHeadBytes - 1), song));
  ASSERT_TRUE(SongFromJournal(std::span(journal).first(JournalHeadBytes), song));
  EXPECT_EQ(song.EventCount, 0u);
  journal[15] = 'x';
  EXPECT_FALSE(SongFromJournal(journal, song));
}

class RecoverJournalsTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    Folder = Dir.path().toStdString();
    const char* tz = std::getenv("TZ");
    OldTz = tz ? tz : "";
    HadTz = tz != nullptr;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  void TearDown() override {
    if (HadTz) {
      ::setenv("TZ", OldTz.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  // A journal as a copy leaves it that ends without closing: written, then let go.
  fs::path LeftJournal(const TSimpleBuffer& events) {
    TRecordingJournal journal;
    std::error_code error;
    EXPECT_TRUE(journal.Create(Folder, SomeHeader(), StartTime, error)) << error.message();
    TBytes bytes;
    events.SaveToStream(bytes, 0);
    EXPECT_TRUE(journal.Append(bytes, error)) << error.message();
    return journal.Path();
  }
  fs::path Recordings() const { return Folder / "Recordings"; }

  QTemporaryDir Dir;
  fs::path Folder;
  std::string OldTz;
  bool HadTz = false;
};

TEST_F(RecoverJournalsTest, OnlyJournalsNoRunningCopyHoldsBecomeSongsNamedByTheirStart) {
  TRecordingJournal live;
  std::error_code error;
  ASSERT_TRUE(live.Create(Folder, SomeHeader(), StartTime, error));
  ASSERT_TRUE(live.Append(TBytes(SongEventBytes, 1), error));
  const fs::path left = LeftJournal(ThreeEvents(sekKeyUp));
  const fs::path empty = LeftJournal({});
  const fs::path foreign = Folder / "Recording-1-1.journal";
  ASSERT_TRUE(WriteFileReplacing(foreign, TBytes(100, 7)));
  EXPECT_NE(left, live.Path());

  const std::vector<fs::path> songs = RecoverJournals(Folder, Recordings());
  ASSERT_EQ(songs, std::vector<fs::path>{Recordings() / "2026-01-02 03-04-05.lyt"});
  TBytes song;
  ASSERT_TRUE(ReadFileBytes(songs[0], song, MaxSongFileBytes));
  EXPECT_EQ(song, SongImage(SomeHeader(), ThreeEvents(sekKeyUp)));
  EXPECT_FALSE(fs::exists(left));
  EXPECT_FALSE(fs::exists(empty));
  EXPECT_TRUE(fs::exists(live.Path()));
  EXPECT_TRUE(fs::exists(foreign));

  // Once its copy has gone, the live one is recovered too, beside the first of its second.
  live.Close();
  EXPECT_EQ(RecoverJournals(Folder, Recordings()),
            std::vector<fs::path>{Recordings() / "2026-01-02 03-04-05 (2).lyt"});
  EXPECT_TRUE(RecoverJournals(Folder, Recordings()).empty());
}

} // namespace
} // namespace melo

#include "app/RecordingKeeper.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "SongTestFiles.h"
#include "platform/FileBytes.h"

namespace melo {
namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<std::uint8_t>;

class RecordingKeeperTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "test_recordingkeeper";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv); // the flush timer's thread needs one
  }
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    Folder = Dir.path().toStdString();
    Keeper = std::make_unique<TRecordingKeeper>(Recorder, Folder);
    Keeper->OnNoteChanged = [this] { ++Notes; };
    Recorder.Header.State = DefaultSongState();
    Recorder.Header.State.RightOctave = 1;
  }

  // The song the only journal holds.
  TJournalSong JournalSong() const {
    const std::vector<fs::path> journals = test::FilesIn(Folder, ".journal");
    TJournalSong song;
    TBytes bytes;
    if (journals.size() == 1 && ReadFileBytes(journals[0], bytes, MaxSongFileBytes)) {
      EXPECT_TRUE(SongFromJournal(bytes, song));
    } else {
      ADD_FAILURE() << journals.size() << " journals";
    }
    return song;
  }
  TBytes RecordedImage() const { return SongImage(Recorder.Header, Recorder.Events()); }

  QTemporaryDir Dir;
  fs::path Folder;
  std::uint32_t Now = 0;
  TSimpleRecorder Recorder{[this] { return Now += 7; }};
  std::unique_ptr<TRecordingKeeper> Keeper;
  int Notes = 0;
};

TEST_F(RecordingKeeperTest, TheJournalHoldsWhatTheSongFileWouldAfterEveryEvent) {
  TKeyDefTable table{};
  FillDefaultKeyDefs(table);
  const std::vector<std::function<void()>> events = {
      [&] { Recorder.RecordKeyDown(16); },    [&] { Recorder.RecordRawMidi(0x99, 36, 100); },
      [&] { Recorder.RecordKeyDefs(table); }, [&] { Recorder.RecordKeyUp(16); },
      [&] { Recorder.RecordEnd(); },
  };
  Recorder.StartRecord();
  for (const auto& record : events) {
    record();
    Keeper->Flush();
    EXPECT_EQ(JournalSong().Image, RecordedImage()) << Recorder.Events().Count();
  }
  // Stopping writes what came after the last flush.
  Recorder.RecordKeyDown(17);
  Recorder.StopRecord();
  EXPECT_EQ(JournalSong().Image, RecordedImage());
  EXPECT_EQ(Notes, 0);
}

TEST_F(RecordingKeeperTest, ASavedRecordingLeavesNoJournalAndIsNotKept) {
  Recorder.StartRecord();
  Recorder.RecordKeyDown(16);
  Recorder.StopRecord();
  ASSERT_EQ(test::FilesIn(Folder, ".journal").size(), 1u);
  ASSERT_TRUE(Recorder.SaveToFile(Folder / "Saved.lyt", Recorder.Header.Info));
  EXPECT_TRUE(test::FilesIn(Folder, ".journal").empty());
  Recorder.StartRecord();
  EXPECT_FALSE(fs::exists(Folder / "Recordings"));
}

// In a child process, whose file-size limit lets the journal's head and three events be written.
TEST_F(RecordingKeeperTest, AJournalThatCannotBeWrittenIsToldOnceAndTheRecordingGoesOn) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{JournalHeadBytes + 3 * SongEventBytes + 5,
                       JournalHeadBytes + 3 * SongEventBytes + 5};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    Recorder.StartRecord();
    for (std::uint8_t key = 16; key < 26; ++key) {
      Recorder.RecordKeyDown(key);
      Keeper->Flush();
    }
    const bool told = Notes == 1 && !Keeper->Note().isEmpty();
    const bool recording = Recorder.Recording() && Recorder.Events().Count() == 10;
    // What reached the disk before the failure is whole events only.
    const bool written = JournalSong().EventCount == 3;
    ::_exit((told ? 0 : 1) | (recording ? 0 : 2) | (written ? 0 : 4));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not told once, 2: recording stopped, 4: journal";
}

} // namespace
} // namespace melo

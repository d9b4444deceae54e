#include "app/SongCommands.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "ScriptedSongDialogs.h"
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "app/SimpleRecorder.h"
#include "music/KoMidiFile.h"
#include "platform/DataFolder.h"
#include "platform/FileBytes.h"

namespace melo {
namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<std::uint8_t>;

TBytes FileBytes(const fs::path& file) {
  TBytes bytes;
  EXPECT_TRUE(ReadFileBytes(file, bytes, MaxSongFileBytes));
  return bytes;
}

// Answers the commands' dialogs from prepared answers and notes what was asked.
class FakeDialogs : public test::TScriptedSongDialogs {
public:
  QString OpenFileName(const QString& folder) override {
    Asked.push_back("open " + folder.toStdString());
    return Next();
  }
  QString SaveFileName(const QString& folder, const QString& proposedName) override {
    Asked.push_back("save " + folder.toStdString() + " [" + proposedName.toStdString() + "]");
    return Next();
  }
  bool SongInfo(const QString& caption, const TSongInfo& info, TSongInfo& result,
                bool readOnly) override {
    Asked.push_back("info " + caption.toStdString() + (readOnly ? " ro " : " rw ") +
                    SongTitle(info) + "|" + SongPlayer(info) + "|" + SongRemark(info));
    if (!InfoOk)
      return false;
    result = Typed;
    return true;
  }

  bool InfoOk = true;
  TSongInfo Typed = MakeSongInfo("", "", "");
};

class SongCommandsTest : public ::testing::Test {
protected:
  SongCommandsTest()
      : Commands(Recorder, FileName,
                 {[this] { return Busy; },
                  [this] { Log.push_back("reset"); },
                  [this] { Log.push_back("caption " + FileName.toStdString()); },
                  [this] { Log.push_back("buttons"); },
                  {},
                  {}},
                 Dialogs) {}

  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    Root = Dir.path().toStdString();
    fs::create_directories(Root / "prog");
    fs::create_directories(Root / "xdg");
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    OldXdg = xdg ? xdg : "";
    ::setenv("XDG_CONFIG_HOME", (Root / "xdg").c_str(), 1);
    SetProgramFolder(Root / "prog");
  }
  void TearDown() override {
    if (OldXdg.empty()) {
      ::unsetenv("XDG_CONFIG_HOME");
    } else {
      ::setenv("XDG_CONFIG_HOME", OldXdg.c_str(), 1);
    }
  }

  // A fresh recording of two key events and an end, named as the window names it.
  void RecordSong() {
    Recorder.Header.Info = MakeSongInfo("SongTitle", "Tavrin", "SongRemark");
    Recorder.Header.State.Transpose = 3;
    Recorder.StartRecord();
    Recorder.RecordKeyDown(16);
    Recorder.RecordKeyUp(16);
    Recorder.RecordEnd();
    Recorder.StopRecord();
    FileName = QString::fromLatin1(NewSongFileName);
  }

  // Writes a song file of the given version holding one key-down event.
  fs::path WriteSong(const std::string& name, std::int32_t version, const char* title) {
    TSimpleRecorder other;
    other.Header.State.RightVelocity = 99;
    other.StartRecord();
    other.RecordKeyDown(17);
    other.StopRecord();
    const fs::path file = Root / name;
    EXPECT_TRUE(other.SaveToFile(file, MakeSongInfo(title, "P", "R")));
    if (version != SongVersion) {
      TBytes bytes = FileBytes(file);
      bytes[16] = static_cast<std::uint8_t>(version);
      EXPECT_TRUE(WriteFileReplacing(file, bytes));
    }
    return file;
  }

  static QString Q(const fs::path& path) { return QString::fromStdString(path.string()); }

  QTemporaryDir Dir;
  fs::path Root;
  std::string OldXdg;
  TSimpleRecorder Recorder;
  QString FileName;
  bool Busy = false;
  std::vector<std::string> Log;
  FakeDialogs Dialogs;
  TSongCommands Commands;
};

TEST_F(SongCommandsTest, OpenSongLoadsWarnsAboutOldVersionsAndShowsTheInformationReadOnly) {
  const fs::path v4 = WriteSong("v4.lyt", 4, "Four");
  const fs::path v2 = WriteSong("v2.lyt", 2, "Two");
  const std::string folder = (Root / "prog").string();

  Dialogs.FileNames = {Q(v4)};
  Commands.OpenSong();
  EXPECT_EQ(FileName, Q(v4));
  EXPECT_EQ(Log, (std::vector<std::string>{"reset", "caption " + v4.string(), "buttons"}));
  EXPECT_EQ(Dialogs.Asked,
            (std::vector<std::string>{"open " + folder, "info 歌曲信息 ro Four|P|R"}));
  EXPECT_EQ(Recorder.Header.State.RightVelocity, 99);
  ASSERT_EQ(Recorder.Events().Count(), 1u);

  Dialogs.Asked.clear();
  Dialogs.FileNames = {Q(v2)};
  Commands.OpenSong();
  EXPECT_EQ(FileName, Q(v2));
  EXPECT_EQ(Dialogs.Asked,
            (std::vector<std::string>{"open " + folder, "message 旧版文件，可能无法正确播放。",
                                      "info 歌曲信息 ro Two|P|R"}));
}

TEST_F(SongCommandsTest, AFileThatDoesNotLoadLeavesTheSongAndItsName) {
  RecordSong();
  const fs::path damaged = WriteSong("damaged.lyt", 4, "X");
  TBytes bytes = FileBytes(damaged);
  bytes.resize(bytes.size() - 1); // the last event cut short
  ASSERT_TRUE(WriteFileReplacing(damaged, bytes));
  Dialogs.FileNames = {Q(damaged)};
  Commands.OpenSong();
  EXPECT_EQ(Dialogs.Asked.back(), "message 读取文件失败!");
  EXPECT_EQ(FileName, QString::fromLatin1(NewSongFileName));
  EXPECT_EQ(Recorder.Events().Count(), 3u);
  EXPECT_EQ(Recorder.Header.State.Transpose, 3);

  // Nothing chosen, or busy: nothing happens at all.
  Dialogs.Asked.clear();
  Log.clear();
  Commands.OpenSong();
  EXPECT_EQ(Dialogs.Asked.size(), 1u);
  Busy = true;
  Commands.OpenSong();
  Commands.EditSongInfo();
  Commands.SaveSongAs();
  EXPECT_FALSE(Commands.QuickSave());
  EXPECT_EQ(Dialogs.Asked.size(), 1u);
  EXPECT_EQ(Log, (std::vector<std::string>{"reset"}));
}

TEST_F(SongCommandsTest, SaveSongAsProposesTheTitleAddsTheExtensionAndTakesTheName) {
  Commands.SaveSongAs(); // nothing recorded
  EXPECT_TRUE(Dialogs.Asked.empty());
  RecordSong();
  Dialogs.Typed = MakeSongInfo(" A/B title ", "me", "line 1\r\nline 2");
  Dialogs.FileNames = {Q(Root / "chosen")};
  Commands.SaveSongAs();
  const std::string folder = (Root / "prog").string();
  EXPECT_EQ(Dialogs.Asked, (std::vector<std::string>{"info 请输入歌曲信息 rw ||",
                                                     "save " + folder + " [A_B title]"}));
  const fs::path saved = Root / "chosen.lyt";
  EXPECT_EQ(FileName, Q(saved));
  EXPECT_EQ(Log, (std::vector<std::string>{"reset", "caption " + saved.string(), "buttons"}));
  TSimpleRecorder loaded;
  TSongInfo info{};
  ASSERT_TRUE(loaded.LoadFromFile(saved, info));
  EXPECT_EQ(SongTitle(info), " A/B title ");
  EXPECT_EQ(SongRemark(info), "line 1\r\nline 2");
  EXPECT_EQ(loaded.Events().Count(), 3u);

  // Only a fresh recording is saved this way.
  Dialogs.Asked.clear();
  Commands.SaveSongAs();
  EXPECT_TRUE(Dialogs.Asked.empty());
}

TEST_F(SongCommandsTest, CancelledInformationSavesEmptyTextsAndCancelledFileSavesNothing) {
  RecordSong();
  Dialogs.InfoOk = false;
  Dialogs.FileNames = {}; // the save dialog cancelled too
  Commands.SaveSongAs();
  EXPECT_EQ(FileName, QString::fromLatin1(NewSongFileName));
  EXPECT_TRUE(fs::is_empty(Root / "prog"));

  Dialogs.FileNames = {Q(Root / "empty.lyt")};
  Commands.SaveSongAs();
  TSimpleRecorder loaded;
  TSongInfo info = MakeSongInfo("x", "y", "z");
  ASSERT_TRUE(loaded.LoadFromFile(Root / "empty.lyt", info));
  EXPECT_EQ(SongTitle(info) + SongPlayer(info) + SongRemark(info), "");
}

TEST_F(SongCommandsTest, AFailedSaveNamesTheFileAndReasonAndKeepsNameAndRecording) {
  RecordSong();
  const fs::path missing = Root / "no such folder" / "song.lyt";
  Dialogs.FileNames = {Q(missing)};
  Commands.SaveSongAs();
  ASSERT_FALSE(Dialogs.Asked.empty());
  EXPECT_EQ(Dialogs.Asked.back(), "message 保存文件失败!\n" + missing.string() +
                                      "\n原因：文件夹不存在\n歌曲仍在内存中，没有丢失。");
  EXPECT_EQ(FileName, QString::fromLatin1(NewSongFileName));
  EXPECT_EQ(Log, (std::vector<std::string>{"reset"}));
  EXPECT_EQ(Recorder.Events().Count(), 3u);

  // The user saves elsewhere afterwards.
  Dialogs.FileNames = {Q(Root / "elsewhere.lyt")};
  Commands.SaveSongAs();
  EXPECT_TRUE(fs::exists(Root / "elsewhere.lyt"));
}

TEST_F(SongCommandsTest, QuickSaveWritesIntoTheDataFolderAndReportsAFailure) {
  RecordSong();
  ASSERT_TRUE(Commands.QuickSave());
  const fs::path newFile = Root / "prog" / NewSongFileName;
  EXPECT_EQ(fs::file_size(newFile), SongHeaderBytes + 3 * SongEventBytes);
  TSimpleRecorder loaded;
  TSongInfo info{};
  ASSERT_TRUE(loaded.LoadFromFile(newFile, info));
  EXPECT_EQ(SongTitle(info), "SongTitle");

  if (::geteuid() != 0) { // root writes anywhere
    ::chmod((Root / "prog").c_str(), 0555);
    ::chmod((Root / "xdg").c_str(), 0555);
    Dialogs.Asked.clear();
    EXPECT_FALSE(Commands.QuickSave());
    ::chmod((Root / "prog").c_str(), 0755);
    ::chmod((Root / "xdg").c_str(), 0755);
    ASSERT_EQ(Dialogs.Asked.size(), 1u);
    EXPECT_NE(Dialogs.Asked[0].find("保存文件失败!"), std::string::npos);
  }
  // A song opened from a file is saved back into it.
  const fs::path opened = WriteSong("opened.lyt", 2, "Old");
  ASSERT_TRUE(Commands.OpenSongFile(Q(opened)));
  ASSERT_TRUE(Commands.QuickSave());
  EXPECT_EQ(FileBytes(opened)[16], SongVersion);
}

TEST_F(SongCommandsTest, EditSongInfoRewritesOnlyTheTextsOfAFileThatLoaded) {
  const fs::path song = WriteSong("edit.lyt", 4, "Before");
  const TBytes before = FileBytes(song);
  Dialogs.Typed = MakeSongInfo("After", "Who", "Why");
  Dialogs.FileNames = {Q(song)};
  Commands.EditSongInfo();
  EXPECT_EQ(Dialogs.Asked.back(), "info 修改歌曲信息 rw Before|P|R");
  EXPECT_EQ(FileName, Q(song));
  const TBytes after = FileBytes(song);
  ASSERT_EQ(after.size(), before.size());
  // Magic and version, then the state and events, are unchanged; only the texts differ.
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + 20, after.begin()));
  EXPECT_TRUE(std::equal(before.begin() + 336, before.end(), after.begin() + 336));
  TSimpleRecorder loaded;
  TSongInfo info{};
  ASSERT_TRUE(loaded.LoadFromFile(song, info));
  EXPECT_EQ(SongTitle(info) + SongPlayer(info) + SongRemark(info), "AfterWhoWhy");

  // Cancelled: the file is not written.
  Dialogs.InfoOk = false;
  Dialogs.FileNames = {Q(song)};
  Commands.EditSongInfo();
  EXPECT_EQ(FileBytes(song), after);
}

TEST_F(SongCommandsTest, EditSongInfoNeverWritesAFileThatDidNotLoad) {
  RecordSong();
  const fs::path bad = Root / "bad.lyt";
  const TBytes junk(9000, 0x41); // no song magic
  ASSERT_TRUE(WriteFileReplacing(bad, junk));
  Dialogs.FileNames = {Q(bad)};
  Commands.EditSongInfo();
  EXPECT_EQ(FileBytes(bad), junk);
  EXPECT_EQ(Dialogs.Asked.back(), "message 读取文件失败!");
  EXPECT_EQ(FileName, QString::fromLatin1(NewSongFileName));
  EXPECT_EQ(Recorder.Events().Count(), 3u);
}

TEST_F(SongCommandsTest, AMidiFileOpensAsTheSongAndIsSavedAsASongNeverOverIt) {
  RecordSong();
  TBytes midi;
  ASSERT_TRUE(BuildMidiFile({{0, 0x90, 60, 100}, {500, 0x80, 60, 0}}, {"Tune", "", ""}, 600, midi));
  const fs::path tune = Root / "tune.mid";
  const fs::path cut = Root / "cut.MID";
  ASSERT_TRUE(WriteFileReplacing(tune, midi));
  ASSERT_TRUE(WriteFileReplacing(cut, TBytes(midi.begin(), midi.end() - 2)));

  Dialogs.FileNames = {Q(cut)};
  Commands.OpenSong();
  ASSERT_EQ(Dialogs.Asked.size(), 2u);
  EXPECT_EQ(Dialogs.Asked[1].rfind("message 读取 MIDI 文件失败!\nthe file: track 2", 0), 0u)
      << Dialogs.Asked[1];
  EXPECT_EQ(FileName, QString::fromLatin1(NewSongFileName));
  EXPECT_EQ(Recorder.Events().Count(), 3u);

  Dialogs.Asked.clear();
  Dialogs.FileNames = {Q(tune)};
  Commands.OpenSong();
  EXPECT_EQ(FileName, Q(tune));
  EXPECT_EQ(Dialogs.Asked.back(), "info 歌曲信息 ro Tune||Left hand");
  EXPECT_EQ(Recorder.Events().Count(), 3u); // two notes and the end
  EXPECT_TRUE(TSongCommands::AwaitsSave(FileName));

  // Quick save asks for the texts (the file's to start with) and a song name.
  Dialogs.Asked.clear();
  Dialogs.Typed = MakeSongInfo("Tune", "", "");
  Dialogs.FileNames = {Q(Root / "tune")};
  EXPECT_TRUE(Commands.QuickSave());
  EXPECT_EQ(Dialogs.Asked,
            (std::vector<std::string>{"info 请输入歌曲信息 rw Tune||Left hand",
                                      "save " + (Root / "prog").string() + " [Tune]"}));
  EXPECT_EQ(FileName, Q(Root / "tune.lyt"));
  EXPECT_FALSE(TSongCommands::AwaitsSave(FileName));
  EXPECT_EQ(FileBytes(tune), midi);
  TSimpleRecorder saved;
  TSongInfo info{};
  ASSERT_TRUE(saved.LoadFromFile(Root / "tune.lyt", info));
  EXPECT_EQ(saved.Events().Count(), 3u);
}

TEST(SongArgumentTest, SongsAreTheLyTPathsAndExistingFilesOtherArgumentsKeepTheirMeaning) {
  QTemporaryDir dir;
  const QString existing = dir.filePath(QStringLiteral("NewFile"));
  std::ofstream(existing.toStdString()) << "x";
  EXPECT_EQ(SongArgument({}), QString());
  EXPECT_EQ(
      SongArgument({QStringLiteral("MULTIINSTANCE"), QStringLiteral("3"), QStringLiteral("x7")}),
      QString());
  EXPECT_EQ(SongArgument({QStringLiteral("/a/b.LYT"), QStringLiteral("12")}),
            QStringLiteral("/a/b.LYT"));
  EXPECT_EQ(SongArgument({QStringLiteral("/a/b.lyt"), QStringLiteral("/a/c.Mid")}),
            QStringLiteral("/a/c.Mid"));
  EXPECT_EQ(SongArgument({QStringLiteral("/a/b.lyt"), existing, QStringLiteral("multiinstance")}),
            existing);
  const QString relative = SongArgument({QStringLiteral("song.lyt")});
  EXPECT_TRUE(relative.startsWith(QLatin1Char('/'))) << relative.toStdString();
}

} // namespace
} // namespace melo

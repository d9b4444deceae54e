// The main window's song commands and Help button, with the file dialogs
// and message boxes answered by a test double; where a person would type the
// song information, the real dialog is filled in while it runs.

#include "app/MainWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include <fluidsynth.h>
#include <gtest/gtest.h>

#include "ScriptedSongDialogs.h"
#include "SongTestFiles.h"
#include "StandInSoundSet.h"
#include "WindowTestEnvironment.h"
#include "WindowTyping.h"
#include "app/SimpleRecorder.h"
#include "app/SongCommands.h"
#include "app/SongInfo.h"
#include "controls/KoMainButtons.h"
#include "controls/KoMultiGlyphButton.h"
#include "platform/DataFolder.h"
#include "platform/FileBytes.h"
#include "platform/GbkText.h"

namespace melo {
namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<std::uint8_t>;

using namespace test; // the X keycodes and typing

[[maybe_unused]] ::testing::Environment* const Environment =
    ::testing::AddGlobalTestEnvironment(new test::TWindowTestEnvironment("test_songwindow"));

// Takes the URLs the window asks the desktop to open.
class UrlCatcher : public QObject {
  Q_OBJECT
public:
  std::vector<QUrl> Urls;
public slots:
  void Open(const QUrl& url) { Urls.push_back(url); }
};

// File dialogs and messages from prepared answers; the information dialog is
// the real one, filled in by Type while it runs (or closed, when Type is empty).
class DialogDouble : public test::TScriptedSongDialogs {
public:
  QString OpenFileName(const QString&) override {
    Asked.push_back("open");
    return Next();
  }
  QString SaveFileName(const QString&, const QString& proposedName) override {
    Asked.push_back("save [" + proposedName.toStdString() + "]");
    return Next();
  }
  bool SongInfo(const QString& caption, const TSongInfo& info, TSongInfo& result,
                bool readOnly) override {
    QTimer::singleShot(0, [this, caption, readOnly] {
      auto* form = dynamic_cast<TfrmSongInfo*>(QApplication::activeModalWidget());
      ASSERT_NE(form, nullptr);
      Asked.push_back("info " + caption.toStdString() + (readOnly ? " ro " : " rw ") +
                      form->edTitle->text().toStdString() + "|" +
                      form->edPlayer->text().toStdString() + "|" +
                      form->memRemark->toPlainText().toStdString() + " editable " +
                      (form->edTitle->isReadOnly() ? "no" : "yes"));
      if (!Type) {
        form->close();
        return;
      }
      Type(*form);
      form->btnOK->click();
    });
    return ExecuteSongInfo(caption, info, result, readOnly);
  }
  std::function<void(TfrmSongInfo&)> Type = [](TfrmSongInfo&) {};
};

TBytes FileBytes(const fs::path& file) {
  TBytes bytes;
  EXPECT_TRUE(ReadFileBytes(file, bytes, MaxSongFileBytes));
  return bytes;
}

class SongWindowTest : public ::testing::Test, protected TWindowTyping {
protected:
  void SetUp() override {
    ASSERT_TRUE(Folder.isValid());
    Root = Folder.path().toStdString();
    ASSERT_TRUE(test::WriteStandInSoundSet(Root / "msf4.s"));
    SetProgramFolder(Root);
    // The user's own data folder must not take the songs: an empty one of our own.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    OldXdg = xdg ? xdg : "";
    ::setenv("XDG_CONFIG_HOME", (Root / "config").c_str(), 1);
    Form = std::make_unique<TRoVoravForm>(TEngineMode::Capture);
    Form->SongCommands().SetDialogs(Dialogs);
  }
  void TearDown() override {
    Form.reset();
    if (OldXdg.empty()) {
      ::unsetenv("XDG_CONFIG_HOME");
    } else {
      ::setenv("XDG_CONFIG_HOME", OldXdg.c_str(), 1);
    }
  }

  QWidget* TypingTarget() override { return Form.get(); }
  void ClickButton(int index) {
    QWidget* button = Form->MainButtons().Button(index);
    for (bool down : {true, false}) {
      QMouseEvent event(down ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease, QPointF(2, 2),
                        QPointF(2, 2), Qt::LeftButton, down ? Qt::LeftButton : Qt::NoButton,
                        Qt::NoModifier);
      QApplication::sendEvent(button, &event);
      QCoreApplication::processEvents();
    }
  }
  void RecordQW() {
    With(xLCtrl, xR);
    Tap(xQ);
    Tap(xW);
    With(xLCtrl, xR);
    ASSERT_EQ(Form->Recorder().Events().Count(), 5u);
  }
  // A song file holding one key-down of scan code 18 ("E"), with the given version byte.
  fs::path WriteSong(const std::string& name, std::uint8_t version, const char* title) {
    TSimpleRecorder other;
    other.Header.State.LeftVelocity = 33;
    other.StartRecord();
    other.RecordKeyDown(18);
    other.StopRecord();
    const fs::path file = Root / name;
    EXPECT_TRUE(other.SaveToFile(file, MakeSongInfo(title, "Player", "Remark")));
    TBytes bytes = FileBytes(file);
    bytes[16] = version;
    EXPECT_TRUE(WriteFileReplacing(file, bytes));
    return file;
  }
  static QString Q(const fs::path& path) { return QString::fromStdString(path.string()); }
  QString Caption() const { return Form->windowTitle(); }

  QTemporaryDir Folder;
  fs::path Root;
  std::string OldXdg;
  DialogDouble Dialogs;
  std::unique_ptr<TRoVoravForm> Form;
};

TEST_F(SongWindowTest, OpenShowsTheSongOfEachVersionAndADamagedFileChangesNothing) {
  const fs::path v4 = WriteSong("four.lyt", 4, "Four");
  Dialogs.FileNames = {Q(v4)};
  With(xLCtrl, xO);
  EXPECT_EQ(Caption(), QStringLiteral("Melotastico - ") + Q(v4));
  EXPECT_TRUE(Form->MainButtons().Enabled(2));  // Play
  EXPECT_FALSE(Form->MainButtons().Enabled(1)); // Save: not a fresh recording
  EXPECT_EQ(Dialogs.Asked,
            (std::vector<std::string>{"open", "info 歌曲信息 ro Four|Player|Remark editable no"}));
  EXPECT_EQ(Form->Recorder().Header.State.LeftVelocity, 33);

  const fs::path v2 = WriteSong("two.lyt", 2, "Two");
  Dialogs.Asked.clear();
  Dialogs.FileNames = {Q(v2)};
  ClickButton(0); // Open
  EXPECT_EQ(Dialogs.Asked,
            (std::vector<std::string>{"open", "message 旧版文件，可能无法正确播放。",
                                      "info 歌曲信息 ro Two|Player|Remark editable no"}));
  EXPECT_EQ(Caption(), QStringLiteral("Melotastico - ") + Q(v2));

  const fs::path damaged = Root / "damaged.lyt";
  TBytes bytes = FileBytes(v4);
  bytes.resize(bytes.size() - 5);
  ASSERT_TRUE(WriteFileReplacing(damaged, bytes));
  Dialogs.Asked.clear();
  Dialogs.FileNames = {Q(damaged)};
  With(xLCtrl, xO);
  EXPECT_EQ(Dialogs.Asked, (std::vector<std::string>{"open", "message 读取文件失败!"}));
  EXPECT_EQ(Caption(), QStringLiteral("Melotastico - ") + Q(v2));
  EXPECT_EQ(Form->Recorder().Events().Count(), 1u);
  EXPECT_EQ(Form->Recorder().Header.Version, 2);
}

TEST_F(SongWindowTest, SaveAsWritesTheTypedTextsCutToTheirFieldsAndTheEvents) {
  RecordQW();
  EXPECT_EQ(Caption(), QStringLiteral("Melotastico - NewFile"));
  Dialogs.Type = [](TfrmSongInfo& form) {
    form.edTitle->setText(QStringLiteral("Title ") + QString(40, QLatin1Char('t')));
    form.edPlayer->setText(QString(12, QChar(0x4E50))); // 24 GBK bytes
    form.memRemark->setPlainText(QString(300, QLatin1Char('r')));
  };
  Dialogs.FileNames = {Q(Root / "typed")};
  ClickButton(1); // Save
  ASSERT_EQ(Dialogs.Asked.size(), 2u);
  EXPECT_EQ(Dialogs.Asked[0], "info 请输入歌曲信息 rw || editable yes");
  EXPECT_EQ(Dialogs.Asked[1], "save [Title " + std::string(33, 't') + "]");
  const fs::path saved = Root / "typed.lyt";
  EXPECT_EQ(Caption(), QStringLiteral("Melotastico - ") + Q(saved));
  EXPECT_FALSE(Form->MainButtons().Enabled(1));

  TSimpleRecorder loaded;
  TSongInfo info{};
  ASSERT_TRUE(loaded.LoadFromFile(saved, info));
  EXPECT_EQ(SongTitle(info), "Title " + std::string(33, 't'));
  EXPECT_EQ(Utf8ToGbk(SongPlayer(info)).size(), 18u); // nine whole characters
  EXPECT_EQ(SongRemark(info), std::string(255, 'r'));
  ASSERT_EQ(loaded.Events().Count(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(loaded.Events()[i].Kind, Form->Recorder().Events()[i].Kind);
    // Copies: packed fields cannot be bound by reference.
    const std::int32_t fromFile = loaded.Events()[i].Data,
                       recorded = Form->Recorder().Events()[i].Data;
    EXPECT_EQ(fromFile, recorded);
  }
}

TEST_F(SongWindowTest, CancelledInformationStillSavesWithEmptyTexts) {
  RecordQW();
  Dialogs.Type = nullptr; // the information dialog is closed
  Dialogs.FileNames = {Q(Root / "plain.lyt")};
  With(xLCtrl, xS);
  EXPECT_EQ(Dialogs.Asked[1], "save []");
  TSimpleRecorder loaded;
  TSongInfo info = MakeSongInfo("x", "y", "z");
  ASSERT_TRUE(loaded.LoadFromFile(Root / "plain.lyt", info));
  EXPECT_EQ(SongTitle(info) + SongPlayer(info) + SongRemark(info), "");
  EXPECT_EQ(loaded.Events().Count(), 5u);
}

TEST_F(SongWindowTest, AFailedSaveIsReportedAndKeepsCaptionAndRecording) {
  RecordQW();
  const fs::path nowhere = Root / "missing" / "song.lyt";
  Dialogs.FileNames = {Q(nowhere)};
  With(xLCtrl, xS);
  ASSERT_EQ(Dialogs.Asked.size(), 3u);
  EXPECT_EQ(Dialogs.Asked[2], "message 保存文件失败!\n" + nowhere.string() +
                                  "\n原因：文件夹不存在\n歌曲仍在内存中，没有丢失。");
  EXPECT_EQ(Caption(), QStringLiteral("Melotastico - NewFile"));
  EXPECT_TRUE(Form->MainButtons().Enabled(1)); // still offered, to save elsewhere
  EXPECT_EQ(Form->Recorder().Events().Count(), 5u);

  // A quick save that cannot replace "NewFile" (a folder of that name is in the way) is
  // reported too.
  fs::create_directory(Root / NewSongFileName); // a folder where the song should go
  Dialogs.Asked.clear();
  With(xLCtrl, xLShift, xS);
  ASSERT_EQ(Dialogs.Asked.size(), 1u);
  EXPECT_EQ(
      Dialogs.Asked[0].rfind("message 保存文件失败!\n" + (Root / NewSongFileName).string(), 0), 0u)
      << Dialogs.Asked[0];
  EXPECT_EQ(Caption(), QStringLiteral("Melotastico - NewFile"));
  EXPECT_EQ(Form->Recorder().Events().Count(), 5u);
}

TEST_F(SongWindowTest, EditSongInformationRewritesOnlyTheTextsOfALoadedFile) {
  const fs::path song = WriteSong("edit.lyt", 4, "Before");
  const TBytes before = FileBytes(song);
  Dialogs.Type = [](TfrmSongInfo& form) {
    form.edTitle->setText(QStringLiteral("After"));
    form.edPlayer->setText(QStringLiteral("Me"));
  };
  Dialogs.FileNames = {Q(song)};
  With(xLCtrl, xLShift, xO);
  EXPECT_EQ(Dialogs.Asked, (std::vector<std::string>{
                               "open", "info 修改歌曲信息 rw Before|Player|Remark editable yes"}));
  EXPECT_EQ(Caption(), QStringLiteral("Melotastico - ") + Q(song));
  const TBytes after = FileBytes(song);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + 20, after.begin()));
  EXPECT_TRUE(std::equal(before.begin() + 336, before.end(), after.begin() + 336));
  TSimpleRecorder loaded;
  TSongInfo info{};
  ASSERT_TRUE(loaded.LoadFromFile(song, info));
  EXPECT_EQ(SongTitle(info) + SongPlayer(info) + SongRemark(info), "AfterMeRemark");

  // A file that does not load is never written, and the song in memory stays.
  const fs::path broken = Root / "broken.lyt";
  TBytes bytes = after;
  bytes[8756] = 9; // more events than the file holds
  ASSERT_TRUE(WriteFileReplacing(broken, bytes));
  const auto written = fs::last_write_time(broken);
  Dialogs.Asked.clear();
  Dialogs.FileNames = {Q(broken)};
  With(xLCtrl, xLShift, xO);
  EXPECT_EQ(Dialogs.Asked, (std::vector<std::string>{"open", "message 读取文件失败!"}));
  EXPECT_EQ(FileBytes(broken), bytes);
  EXPECT_EQ(fs::last_write_time(broken), written);
  EXPECT_EQ(Caption(), QStringLiteral("Melotastico - ") + Q(song));
}

// Closing, opening or editing another song and a new recording keep an unsaved recording in the
// Recordings folder, as it would have been saved, and say where; a saved one is not kept.
TEST_F(SongWindowTest, AnUnsavedRecordingIsKeptWhenReplacedOrDroppedASavedOneIsNot) {
  const fs::path other = WriteSong("other.lyt", 4, "Other");
  const fs::path recordings = Root / "Recordings";
  RecordQW();
  With(xLCtrl, xLShift, xS);
  RecordQW();
  EXPECT_FALSE(fs::exists(recordings));

  const std::vector<std::pair<std::string, std::function<void()>>> actions = {
      {"new recording",
       [&] {
         With(xLCtrl, xR);
         With(xLCtrl, xR);
       }},
      {"open",
       [&] {
         Dialogs.FileNames = {Q(other)};
         With(xLCtrl, xO);
       }},
      {"edit song information",
       [&] {
         Dialogs.Type = {};
         Dialogs.FileNames = {Q(other)};
         With(xLCtrl, xLShift, xO);
       }},
      {"close", [&] { Form->close(); }},
  };
  for (const auto& [name, action] : actions) {
    SCOPED_TRACE(name);
    RecordQW();
    const TBytes recorded = SongImage(Form->Recorder().Header, Form->Recorder().Events());
    fs::remove_all(recordings);
    action();
    const std::vector<fs::path> kept = FilesIn(recordings, ".lyt");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(FileBytes(kept[0]), recorded);
    EXPECT_EQ(FilesIn(Root, ".journal").size(), name == "new recording" ? 1u : 0u);
    EXPECT_TRUE(Caption().contains(Q(kept[0]))) << Caption().toStdString();
  }
}

TEST_F(SongWindowTest, SaveAsAMidiFileExportsTheRecordingAndKeepsItUnsaved) {
  RecordQW();
  Dialogs.Type = [](TfrmSongInfo& form) { form.edTitle->setText(QStringLiteral("Take one")); };
  const fs::path midi = Root / "take.mid";
  Dialogs.FileNames = {Q(midi)};
  ClickButton(1); // Save
  ASSERT_TRUE(fs::exists(midi));
  EXPECT_TRUE(fluid_is_midifile(midi.c_str()));
  const TBytes bytes = FileBytes(midi);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("Take one"), std::string::npos); // the typed title names the song
  // Q and W: middle C and D sound.
  for (const std::uint8_t note : {60, 62}) {
    bool found = false;
    for (std::size_t i = 0; i + 2 < bytes.size() && !found; ++i)
      found = (bytes[i] & 0xF0) == 0x90 && bytes[i + 1] == note && bytes[i + 2] > 0;
    EXPECT_TRUE(found) << int(note);
  }
  // The recording keeps its name and can still be saved as a song.
  EXPECT_EQ(Caption(), QStringLiteral("Melotastico - NewFile"));
  EXPECT_TRUE(Form->MainButtons().Enabled(1));
  for (const auto& entry : fs::directory_iterator(Root))
    EXPECT_NE(entry.path().extension(), ".lyt") << entry.path();
}

TEST_F(SongWindowTest, SaveDialogOffersTheSongFirstThenTheExportTypes) {
  TSongDialogsOnScreen dialogs(Form.get());
  QStringList filters;
  QString suffix;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    filters = dialog->nameFilters();
    suffix = dialog->selectedNameFilter() + " " + dialog->defaultSuffix();
    auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    ASSERT_NE(types, nullptr);
    types->setCurrentIndex(1);
    // What a click on "MIDI file" sends.
    emit types->activated(1);
    emit types->textActivated(types->itemText(1));
    dialog->selectFile(QStringLiteral("picked"));
    static_cast<QDialog*>(dialog)->accept(); // the Save button
  });
  const QString chosen = dialogs.SaveFileName(Q(Root), QString());
  EXPECT_EQ(filters,
            (QStringList{
                QStringLiteral("Melotastico Song File(*.lyt)"), QStringLiteral("MIDI file (*.mid)"),
                QStringLiteral("Wave audio (*.wav)"), QStringLiteral("FLAC audio (*.flac)"),
                QStringLiteral("Ogg Vorbis audio (*.ogg)"), QStringLiteral("Video (*.mp4)")}));
  EXPECT_EQ(suffix, QStringLiteral("Melotastico Song File(*.lyt) lyt"));
  EXPECT_EQ(chosen.toStdString(), (Root / "picked.mid").string());
}

TEST_F(SongWindowTest, AnUndercountedSongLoadsWithAWarningAlsoBeforeItsTextsAreEdited) {
  TSimpleRecorder other;
  other.StartRecord();
  for (int i = 0; i < 7; ++i) {
    other.RecordKeyDown(18);
    other.RecordKeyUp(18);
  }
  other.StopRecord();
  const fs::path song = Root / "undercounted.lyt";
  ASSERT_TRUE(other.SaveToFile(song, MakeSongInfo("Short", "Player", "Remark")));
  TBytes bytes = FileBytes(song);
  ASSERT_EQ(other.Events().Count(), 14u);
  const std::uint8_t one[] = {1, 0, 0, 0};
  std::copy(std::begin(one), std::end(one), bytes.begin() + 8756);
  ASSERT_TRUE(WriteFileReplacing(song, bytes));

  Dialogs.FileNames = {Q(song)};
  With(xLCtrl, xO);
  EXPECT_EQ(Form->Recorder().Events().Count(), 1u);
  EXPECT_EQ(Form->Recorder().IgnoredBytes(), 169u);
  const std::string warning = "message " + DamagedSongText(169).toStdString();
  EXPECT_EQ(warning,
            "message 歌曲文件可能已损坏，部分内容可能丢失。\n文件末尾有 169 个字节未能读取。");
  EXPECT_EQ(Dialogs.Asked,
            (std::vector<std::string>{"open", warning,
                                      "info 歌曲信息 ro Short|Player|Remark editable no"}));
  EXPECT_EQ(Caption(), QStringLiteral("Melotastico - ") + Q(song));

  // Editing its texts writes the one event back: only after the same warning.
  Dialogs.Asked.clear();
  Dialogs.FileNames = {Q(song)};
  With(xLCtrl, xLShift, xO);
  EXPECT_EQ(Dialogs.Asked,
            (std::vector<std::string>{"open", warning,
                                      "info 修改歌曲信息 rw Short|Player|Remark editable yes"}));
}

TEST_F(SongWindowTest, OpenWhileRecordingOrPlayingDoesNothing) {
  const fs::path song = WriteSong("busy.lyt", 4, "Busy");
  Dialogs.FileNames = {Q(song), Q(song), Q(song), Q(song)};
  With(xLCtrl, xR);
  With(xLCtrl, xO);
  With(xLCtrl, xLShift, xO);
  EXPECT_TRUE(Dialogs.Asked.empty());
  Tap(xQ);
  QThread::msleep(300); // the song lasts long enough to be stopped while playing
  With(xLCtrl, xR);
  With(xLCtrl, xP);
  ASSERT_TRUE(Form->Performance().Playing());
  With(xLCtrl, xO);
  ClickButton(0);
  EXPECT_TRUE(Dialogs.Asked.empty());
  EXPECT_EQ(Caption(), QStringLiteral("Melotastico - NewFile"));
}

TEST_F(SongWindowTest, HelpOpensThePageBesideTheProgramAndAMissingPageNothing) {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
  ClickButton(5);
  EXPECT_TRUE(catcher.Urls.empty());
  std::ofstream(Root / "MelotasticoHelp.html") << "<html></html>";
  ClickButton(5);
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  ASSERT_EQ(catcher.Urls.size(), 1u);
  EXPECT_EQ(catcher.Urls[0], QUrl::fromLocalFile(Q(Root / "MelotasticoHelp.html")));
}

TEST_F(SongWindowTest, SongNamedOnTheCommandLineOpensAsFromTheDialog) {
  const fs::path song = WriteSong("argument.lyt", 3, "Arg");
  UseCommandLine(ParseCommandLine({"MULTIINSTANCE", song.string()}));
  EXPECT_TRUE(MultiInstance);
  EXPECT_EQ(PortIndexArg, -1);
  ASSERT_EQ(SongFileArg, Q(song));
  EXPECT_TRUE(Form->OpenSongFile(SongFileArg));
  UseCommandLine(ParseCommandLine({}));
  EXPECT_TRUE(SongFileArg.isEmpty());
  EXPECT_EQ(Dialogs.Asked,
            (std::vector<std::string>{"message 旧版文件，可能无法正确播放。",
                                      "info 歌曲信息 ro Arg|Player|Remark editable no"}));
  EXPECT_EQ(Caption(), QStringLiteral("Melotastico - ") + Q(song));
}

} // namespace
} // namespace melo

#include "SongWindowTest.moc"

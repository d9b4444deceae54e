// Drives the main window through key events carrying X11 native scan codes,
// with an engine that records the MIDI bytes it is sent.

#include "app/MainWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "StandInSoundSet.h"
#include "WindowTestEnvironment.h"
#include "WindowTyping.h"
#include "app/PracticeWindow.h"
#include "app/SimpleRecorder.h"
#include "controls/KoMainButtons.h"
#include "controls/KoMultiGlyphButton.h"
#include "controls/KoPCKeyboard.h"
#include "controls/KoSpinEdit.h"
#include "controls/RoVoravKb.h"
#include "music/AutoAccomp.h"
#include "music/KoMetronome.h"
#include "music/KoMidiFile.h"
#include "platform/DataFolder.h"
#include "platform/FileBytes.h"
#include "sound/DlsTestSets.h"
#include "sound/DlsWriter.h"
#include "sound/FavoriteVoices.h"
#include "sound/MyVolume.h"
#include "sound/SetupConfig.h"

namespace melo {
namespace {

using TBytes = std::vector<std::uint8_t>;

using namespace test; // the X keycodes and typing

void Click(QWidget* button, bool down) {
  QMouseEvent event(down ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease, QPointF(2, 2),
                    QPointF(2, 2), Qt::LeftButton, down ? Qt::LeftButton : Qt::NoButton,
                    Qt::NoModifier);
  QApplication::sendEvent(button, &event);
  QCoreApplication::processEvents();
}

class QtEnvironment : public test::TWindowTestEnvironment {
public:
  QtEnvironment() : TWindowTestEnvironment("test_mainwindow") {}

protected:
  void BeforeApplication() override {
    // No sound server and no ALSA mixer: the window must not touch the machine's volume.
    ::setenv("PULSE_SERVER", "unix:/nonexistent/melo-test/native", 1);
    MixerDeviceName = "melo-no-mixer";
  }
};
[[maybe_unused]] ::testing::Environment* const Environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// A small instrument list: pianos, two sound effects and a drum kit last.
void FillInstruments() {
  std::vector<TSoundSetInstrument> instruments = {{0, "Piano"},     {1, "Bright"},
                                                  {2, "Electric"},  {126, "Applause"},
                                                  {127, "Gunshot"}, {F_INSTRUMENT_DRUMS, "Drums"}};
  InstrumentList.Fill(instruments);
}

// Accepts the next message box shown within five seconds, keeping its text.
// Polled: events processed before the box opens must not use the check up.
// Accepts the next message boxes (count of them) as they show; their texts go
// into shown, each after a line break but the first.
void AcceptNextMessage(QString& shown, int count = 1) {
  auto* poll = new QTimer(qApp);
  QObject::connect(poll, &QTimer::timeout, [poll, &shown, count]() mutable {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown += (shown.isEmpty() ? QString() : QStringLiteral("\n")) + box->text();
      box->accept();
      if (--count == 0) {
        poll->stop();
        poll->deleteLater();
      }
    }
  });
  QTimer::singleShot(5000, poll, &QObject::deleteLater);
  poll->start(10);
}

class MainWindowTest : public ::testing::Test, protected TWindowTyping {
protected:
  void SetUp() override {
    ASSERT_TRUE(Folder.isValid());
    ASSERT_TRUE(
        test::WriteStandInSoundSet(std::filesystem::path(Folder.path().toStdString()) / "msf4.s"));
    SetProgramFolder(Folder.path().toStdString());
    Form = std::make_unique<TRoVoravForm>(TEngineMode::Capture);
    FillInstruments();
    Form->Performance().SetRightVoice(0);
    Form->Performance().SetLeftVoice(0);
    Form->Performance().SetTickSource([this] { return Tick; });
    Mark();
  }

  void TearDown() override { Form.reset(); }

  QWidget* TypingTarget() override { return Form.get(); }

  const TPerformanceValues& Values() const { return Form->Performance().Values(); }
  void Mark() { Start = Form->Music()->CapturedBytes().size(); }
  // The bytes sent since the last Mark.
  TBytes Sent() const {
    const TBytes all = Form->Music()->CapturedBytes();
    return TBytes(all.begin() + static_cast<std::ptrdiff_t>(Start), all.end());
  }
  // Only note-on and note-off messages.
  static TBytes Notes(const TBytes& bytes) {
    TBytes notes;
    for (std::size_t i = 0; i + 2 < bytes.size(); i += 3) {
      if ((bytes[i] & 0xE0) == 0x80) {
        notes.insert(notes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(i),
                     bytes.begin() + static_cast<std::ptrdiff_t>(i + 3));
      }
    }
    return notes;
  }

  QTemporaryDir Folder;
  std::unique_ptr<TRoVoravForm> Form;
  std::size_t Start = 0;
  std::uint32_t Tick = 100000;
};

TEST_F(MainWindowTest, QPlaysMiddleCOnTheLeftHandAndReleaseStopsIt) {
  Press(xQ);
  EXPECT_EQ(Sent(), (TBytes{0x90, 60, 70}));
  EXPECT_EQ(Form->LeftKeyboard().KeyState(36), 1);
  EXPECT_TRUE(Form->Performance().KeyState().IsDown(16));
  Press(xQ); // a repeat sounds nothing
  Release(xQ);
  EXPECT_EQ(Sent(), (TBytes{0x90, 60, 70, 0x80, 60, 64}));
  EXPECT_EQ(Form->LeftKeyboard().KeyState(36), 0);
}

TEST_F(MainWindowTest, TransposeKeysShowInTheTransposeEdit) {
  for (int i = 0; i < 8; ++i)
    With(xLCtrl, xHome);
  EXPECT_EQ(Values().Transpose, -4);
  EXPECT_EQ(Form->SpinEdit(0).Text(), QStringLiteral("1=bA (-4)"));
}

TEST_F(MainWindowTest, DrumKeysPlayTheirPercussionWhateverTheDefinition) {
  const int volume = Form->AutoAccomp().APercussVolume();
  Tap(xApostrophe);
  EXPECT_EQ(Sent(), (TBytes{0x99, 36, static_cast<std::uint8_t>(volume), 0x89, 36, 64}));
}

// A release stops exactly the notes its press started, whatever changed while
// the key was held: no note is ever left sounding.
TEST_F(MainWindowTest, ReleaseStopsTheNoteThePressStarted) {
  Press(xQ);
  With(xLCtrl, xHome);   // transpose +1
  With(xLShift, xGrave); // left octave -1
  Release(xQ);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x90, 60, 70, 0x80, 60, 64}));
  EXPECT_EQ(Form->LeftKeyboard().KeyState(36), 0);
}

TEST_F(MainWindowTest, ReleaseWithAModifierOrWindowsKeyHeldStillStopsTheNote) {
  Press(xQ);
  Press(xLCtrl);
  Release(xQ);
  Release(xLCtrl);
  Press(xW);
  Press(xLWin);
  Release(xW);
  Release(xLWin);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x90, 60, 70, 0x80, 60, 64, 0x90, 62, 70, 0x80, 62, 64}));
  EXPECT_FALSE(Form->Performance().KeyState().IsDown(16));
}

TEST_F(MainWindowTest, EscapeReleasesPedalsThenSilencesEverything) {
  Press(xQ);
  Mark();
  Tap(xEsc);
  EXPECT_EQ(Sent(), (TBytes{0xB0, 64, 0, 0xB1, 64, 0, 0xB0, 123, 0, 0xB1, 123, 0, 0xB0, 120, 0,
                            0xB1, 120, 0}));
  EXPECT_FALSE(Form->Performance().KeyState().IsDown(16));
  EXPECT_EQ(Form->LeftKeyboard().KeyState(36), 0);
}

TEST_F(MainWindowTest, FunctionKeysSelectFavouriteVoices) {
  Form->show();
  SetFavoriteVoicePatch(FavoriteVoices[3], 2);      // F4: right hand
  SetFavoriteVoicePatch(FavoriteVoices[12 + 3], 1); // Shift+F4: left hand
  Tap(xF4);
  EXPECT_EQ(Form->Performance().RightVoiceIndex(), 2);
  EXPECT_EQ(Sent(), (TBytes{0xB1, 0, 0, 0xB1, 32, 0, 0xC1, 2, 0}));
  With(xLShift, xF4);
  EXPECT_EQ(Form->Performance().LeftVoiceIndex(), 1);
  With(xLAlt, xF4); // closes the window: no voice change
  EXPECT_EQ(Form->Performance().RightVoiceIndex(), 2);
  EXPECT_FALSE(Form->isVisible());
}

TEST_F(MainWindowTest, TabStepsTheVoicesAroundTheList) {
  Tap(xTab);
  EXPECT_EQ(Form->Performance().RightVoiceIndex(), 1);
  Form->Performance().SetRightVoice(InstrumentList.Count - 1);
  Tap(xTab);
  EXPECT_EQ(Form->Performance().RightVoiceIndex(), 0);
  With(xLShift, xTab);
  EXPECT_EQ(Form->Performance().LeftVoiceIndex(), 1);
}

TEST_F(MainWindowTest, PlaybackRepeatsTheRecordedNotesInOrder) {
  EXPECT_FALSE(Form->MainButtons().Enabled(1)); // Save
  EXPECT_FALSE(Form->MainButtons().Enabled(2)); // Play
  With(xLCtrl, xR);
  EXPECT_EQ(Form->windowTitle(), QStringLiteral("Melotastico - NewFile"));
  EXPECT_FALSE(Form->MainButtons().Enabled(0));
  EXPECT_EQ(Form->MainButtons().ButtonState(3), 1);
  Mark();
  Press(xQ);
  Press(xW);
  Release(xQ);
  Tap(xApostrophe);
  Release(xW);
  const TBytes live = Notes(Sent());
  With(xLCtrl, xR);
  ASSERT_FALSE(Form->Performance().Recording());
  EXPECT_TRUE(Form->MainButtons().Enabled(2));
  EXPECT_EQ(Form->Recorder().Events()[Form->Recorder().Events().Count() - 1].Kind, sekEnd);
  Mark();
  Form->Performance().SetPlaying(true);
  QElapsedTimer timer;
  timer.start();
  while (Form->Performance().Playing() && timer.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_FALSE(Form->Performance().Playing());
  EXPECT_EQ(Notes(Sent()), live);
}

TEST_F(MainWindowTest, EmptyPlaybackByKeyIgnoresNotesUntilEscape) {
  With(xLCtrl, xP);
  ASSERT_TRUE(Form->Performance().Playing());
  Tap(xQ);
  EXPECT_TRUE(Notes(Sent()).empty());
  Tap(xEsc);
  EXPECT_FALSE(Form->Performance().Playing());
  Mark();
  Tap(xQ);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x90, 60, 70, 0x80, 60, 64}));
}

TEST_F(MainWindowTest, PianoKeyboardMouseNotesIgnoreTransposeAndOctave) {
  Form->Performance().SetTranspose(3);
  Form->Performance().SetRightOctave(1);
  Mark();
  bool black = true;
  int white = 0;
  TRoVoravKb::PositionToKey(36, black, white);
  ASSERT_FALSE(black);
  Click(Form->RightKeyboard().BigWhiteKey(white), true);
  EXPECT_EQ(Form->RightKeyboard().KeyState(36), 1);
  Click(Form->RightKeyboard().BigWhiteKey(white), false);
  EXPECT_EQ(Sent(), (TBytes{0x91, 60, 100, 0x81, 60, 64}));
  EXPECT_FALSE(Form->Performance().KeyState().IsDown(16));
}

TEST_F(MainWindowTest, PCKeyboardClickTakesTheKeyPathWithNotebookReplacement) {
  Form->Performance().SetNotebookMode(true);
  TKoMultiGlyphButton* k = Form->PCKeyboard().Button(KeyIndexOfScanCode(37));
  ASSERT_NE(k, nullptr);
  Click(k, true);
  Click(k, false);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x91, 60, 100, 0x81, 60, 64}));
}

TEST_F(MainWindowTest, SpecialKeysRecordPlayAndSwitchSmartSemitone) {
  Tap(xWakeUp);
  EXPECT_TRUE(Form->Performance().Recording());
  Tap(xQ);
  QThread::msleep(300); // the song lasts long enough to be stopped while playing
  Tap(xWakeUp);
  EXPECT_FALSE(Form->Performance().Recording());
  EXPECT_EQ(Form->Recorder().Events().Count(), 3u); // down, up, end
  Tap(xPower);
  EXPECT_TRUE(Form->Performance().SmartSemitone());
  Press(xSleep);
  EXPECT_TRUE(Form->Performance().Playing());
  Press(xPower); // during playback Power only stops it
  EXPECT_FALSE(Form->Performance().Playing());
  EXPECT_FALSE(Form->Performance().SmartSemitone()); // the song's start state
}

TEST_F(MainWindowTest, QuickSaveWritesTheFreshRecordingIntoTheDataFolder) {
  With(xLCtrl, xLShift, xS); // nothing recorded: nothing written
  const std::filesystem::path file = std::filesystem::path(Folder.path().toStdString()) / "NewFile";
  EXPECT_FALSE(std::filesystem::exists(file));
  With(xLCtrl, xR);
  Tap(xQ);
  With(xLCtrl, xR);
  With(xLCtrl, xLShift, xS);
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(std::filesystem::file_size(file), SongHeaderBytes + 3 * SongEventBytes);
}

TEST_F(MainWindowTest, SpinEditArrowsStepTheValuesAndVoicesWrap) {
  Click(Form->SpinEdit(0).UpArrow(), true);
  Click(Form->SpinEdit(0).UpArrow(), false);
  EXPECT_EQ(Values().Transpose, 1);
  EXPECT_EQ(Form->SpinEdit(0).Text(), QStringLiteral("1=bD (+1)"));
  Click(Form->SpinEdit(2).DownArrow(), true);
  Click(Form->SpinEdit(2).DownArrow(), false);
  EXPECT_EQ(Values().RightOctave, -1);
  EXPECT_EQ(Form->SpinEdit(2).Text(), QStringLiteral("-1"));
  Click(Form->SpinEdit(5).DownArrow(), true);
  Click(Form->SpinEdit(5).DownArrow(), false);
  EXPECT_EQ(Form->Performance().LeftVoiceIndex(), InstrumentList.Count - 1);
  EXPECT_EQ(Form->SpinEdit(5).Text(), QString::number(InstrumentList.Count - 1));
}

TEST_F(MainWindowTest, LoopPlaybackStartsAgainUntilEscape) {
  With(xLCtrl, xR);
  Tap(xQ);
  With(xLCtrl, xR);
  Mark();
  QElapsedTimer timer;
  timer.start();
  With(xLCtrl, xLShift, xP);
  EXPECT_TRUE(Form->Performance().LoopPlay());
  auto noteOns = [this] {
    const TBytes notes = Notes(Sent());
    return std::count(notes.begin(), notes.end(), 0x90);
  };
  while (noteOns() < 2 && timer.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_GE(noteOns(), 2);
  EXPECT_GE(timer.elapsed(), 500); // the pause between the loops
  Tap(xEsc);
  EXPECT_FALSE(Form->Performance().Playing());
}

TEST_F(MainWindowTest, PortArgumentWritesThePortListAlsoWhenOutOfRange) {
  Form.reset();
  PortIndexArg = 5;
  Form = std::make_unique<TRoVoravForm>(TEngineMode::Capture);
  const std::filesystem::path list =
      std::filesystem::path(Folder.path().toStdString()) / "OutDevList.txt";
  ASSERT_TRUE(std::filesystem::exists(list));
  std::ifstream in(list);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line.rfind("0:  ", 0), 0u) << line;
  Mark();
  Tap(xQ); // no port: silent
  EXPECT_TRUE(Sent().empty());
}

// A mistyped or moved external set is named before the built-in set takes over.
TEST_F(MainWindowTest, MissingExternalAndBuiltInSoundSetsAreBothReported) {
  Form.reset();
  std::filesystem::remove(std::filesystem::path(Folder.path().toStdString()) / "msf4.s");
  Config.UseExternalDLS = true;
  Config.ExternalDLSFileName =
      (std::filesystem::path(Folder.path().toStdString()) / "gone.dls").string();
  QString shown;
  AcceptNextMessage(shown, 2);
  Form = std::make_unique<TRoVoravForm>(TEngineMode::Capture);
  EXPECT_EQ(shown, QStringLiteral("无法载入外部音色库：\n%1\n找不到此文件。\n现在使用内置音色库。\n"
                                  "msf4.s not found.")
                       .arg(QString::fromStdString(Config.ExternalDLSFileName)));
  Mark();
  Tap(xQ); // the window still plays, without a sound set
  EXPECT_EQ(Notes(Sent()), (TBytes{0x90, 60, 70, 0x80, 60, 64}));
}

// A damaged built-in set would leave the piano silent without a word.
TEST_F(MainWindowTest, ABuiltInSoundSetThatDoesNotLoadIsReported) {
  Form.reset();
  const auto file = std::filesystem::path(Folder.path().toStdString()) / "msf4.s";
  std::ofstream(file, std::ios::trunc) << "not a sound set";
  QString shown;
  AcceptNextMessage(shown);
  Form = std::make_unique<TRoVoravForm>(TEngineMode::Capture);
  EXPECT_EQ(shown,
            QStringLiteral("无法载入内置音色库：\n%1\n这不是音色库文件（既非DLS也非SoundFont）。")
                .arg(QString::fromStdString(file.string())));
  FillInstruments();
  Mark();
  Tap(xQ); // the window still plays
  EXPECT_EQ(Notes(Sent()), (TBytes{0x90, 60, 70, 0x80, 60, 64}));
}

// A set that does not load would leave the piano silent: at start-up and when
// the settings name it, the player is told and the built-in set takes over.
TEST_F(MainWindowTest, AnExternalSetThatDoesNotLoadIsReportedAndTheBuiltInSetTakesOver) {
  Form.reset();
  const auto bad = std::filesystem::path(Folder.path().toStdString()) / "bad.dls";
  std::ofstream(bad) << "not a sound set";
  Config.UseExternalDLS = true;
  Config.ExternalDLSFileName = bad.string();
  QString shown;
  AcceptNextMessage(shown);
  Form = std::make_unique<TRoVoravForm>(TEngineMode::Capture);
  EXPECT_TRUE(shown.contains(QString::fromStdString(bad.string()))) << shown.toStdString();
  EXPECT_FALSE(Form->Performance().UseExternalDLS());
  EXPECT_EQ(Form->ExternalVoices().List(LeftHand), nullptr);

  const auto good = std::filesystem::path(Folder.path().toStdString()) / "good.dls";
  ASSERT_TRUE(SaveDlsFile(test::Level1Set(), good.string()));
  const auto chooseInSettings = [this](const std::filesystem::path& file) {
    Form->SetDialogRunners(
        [file](TSetupConfig& config, TSetupOptions&) {
          config.ExternalDLSFileName = file.string();
          return true;
        },
        nullptr);
    Click(Form->MainButtons().Button(4), true);
    Click(Form->MainButtons().Button(4), false);
  };
  chooseInSettings(good);
  EXPECT_TRUE(Form->Performance().UseExternalDLS());
  ASSERT_NE(Form->ExternalVoices().List(RightHand), nullptr);
  EXPECT_EQ(Form->ExternalVoices().List(RightHand)->count(), 4);
  shown.clear();
  AcceptNextMessage(shown);
  chooseInSettings(bad);
  EXPECT_TRUE(shown.contains(QString::fromStdString(bad.string()))) << shown.toStdString();
  EXPECT_FALSE(Form->Performance().UseExternalDLS());
  EXPECT_EQ(Form->ExternalVoices().List(RightHand), nullptr);
}

TEST_F(MainWindowTest, RecordAndPlayButtons) {
  TKoMultiGlyphButton* record = Form->MainButtons().Button(3);
  TKoMultiGlyphButton* play = Form->MainButtons().Button(2);
  Click(record, true);
  Click(record, false);
  EXPECT_TRUE(Form->Performance().Recording());
  Click(record, true);
  Click(record, false);
  EXPECT_FALSE(Form->Performance().Recording());
  EXPECT_TRUE(Form->Recorder().IsEmpty()); // the button appends no end event
  EXPECT_FALSE(Form->MainButtons().Enabled(2));

  Click(record, true);
  Click(record, false);
  Tap(xQ);
  QThread::msleep(300); // long enough to be stopped while playing
  Click(record, true);
  Click(record, false);
  ASSERT_TRUE(Form->MainButtons().Enabled(2));
  Press(xLShift); // seen going down: Play loops
  Click(play, true);
  Click(play, false);
  EXPECT_TRUE(Form->Performance().Playing());
  EXPECT_TRUE(Form->Performance().LoopPlay());
  Click(play, true);
  Click(play, false);
  EXPECT_FALSE(Form->Performance().Playing());
  EXPECT_TRUE(Form->Performance().LoopPlay());
}

TEST_F(MainWindowTest, KeyHeldWhenTheWindowLosesFocusIsReleased) {
  Press(xQ);
  Press(xLCtrl);
  QEvent deactivate(QEvent::WindowDeactivate);
  QApplication::sendEvent(Form.get(), &deactivate);
  QCoreApplication::processEvents();
  EXPECT_EQ(Notes(Sent()), (TBytes{0x90, 60, 70, 0x80, 60, 64}));
  EXPECT_EQ(Form->Performance().KeyState().ShiftState(), 0);
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(Form.get(), &activate);
  Mark();
  Tap(xQ);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x90, 60, 70, 0x80, 60, 64}));
}

// ---- Practice ---------------------------------------------------------------------------------

TEST_F(MainWindowTest, PracticeLabelsFallingNotesWithTheirKeysAndMarksTheKeysToPressNext) {
  // A C major triad for the right hand over a low accompaniment note.
  const std::vector<TTimedMidiMessage> song{
      {0, 0x92, 40, 90},   {500, 0x90, 60, 100}, {500, 0x90, 64, 100}, {500, 0x90, 67, 100},
      {1500, 0x80, 60, 0}, {1500, 0x80, 64, 0},  {1500, 0x80, 67, 0},  {1600, 0x82, 40, 0}};
  TBytes file;
  ASSERT_TRUE(BuildMidiFile(song, {}, 2000, file));
  const QString name = Folder.filePath(QStringLiteral("triad.mid"));
  ASSERT_TRUE(WriteFileReplacing(name.toStdString(), file));
  ASSERT_TRUE(Form->OpenPractice(name));
  TPracticeWindow& practice = *Form->Practice();
  std::uint32_t now = 0;
  practice.SetClock([&now] { return now; });
  practice.StartPractice();

  QStringList labels;
  for (const TPracticeWindow::TFallingNote& note : practice.FallingNotes())
    labels << (note.Practised ? note.Label : QStringLiteral("accompaniment"));
  labels.sort();
  EXPECT_EQ(labels, QStringList({"Num-1", "Num-3", "Num-5", "accompaniment"}));
  const std::vector<int> next{KeyIndexOfScanCode(scNum1), KeyIndexOfScanCode(scNum3),
                              KeyIndexOfScanCode(scNum5)};
  for (int key = 0; key < KeyCount; ++key)
    EXPECT_EQ(Form->PCKeyboard().KeyMarked(key), std::ranges::find(next, key) != next.end()) << key;
  for (const int position : {60 - 24, 64 - 24, 67 - 24})
    EXPECT_TRUE(Form->RightKeyboard().PositionMarked(position)) << position;
  EXPECT_FALSE(Form->RightKeyboard().PositionMarked(62 - 24));
  EXPECT_FALSE(Form->LeftKeyboard().PositionMarked(60 - 24));
  const QImage marked = Form->PCKeyboard().Button(next[0])->grab().toImage();
  EXPECT_EQ(marked.pixelColor(1, marked.height() / 2), QColor::fromRgb(NextKeyColour));

  now = 5000;
  practice.Tick(); // the song waits at the chord, its accompaniment sounding
  Mark();
  for (const std::uint32_t xKey : {87u, 89u, 84u}) { // the keypad's 1, 3 and 5
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, xKey, 0, 0);
    QApplication::sendEvent(&practice, &press);
  }
  EXPECT_EQ(Notes(Sent()), (TBytes{0x91, 60, 100, 0x91, 64, 100, 0x91, 67, 100}));
  EXPECT_EQ(practice.Session().Chords()[0].Judgement, TJudgement::Hit);
  for (const int key : next)
    EXPECT_FALSE(Form->PCKeyboard().KeyMarked(key)) << key;
  EXPECT_FALSE(Form->RightKeyboard().PositionMarked(60 - 24));
}

// ---- Dialogs ----------------------------------------------------------------------------------

void MouseEvent(QWidget* target, QEvent::Type type) {
  const bool down = type != QEvent::MouseButtonRelease;
  QMouseEvent event(type, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                    down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
  QCoreApplication::processEvents();
}

// What the toolkit sends for a double-click: press, release, double-click, release.
void DoubleClick(QWidget* target) {
  MouseEvent(target, QEvent::MouseButtonPress);
  MouseEvent(target, QEvent::MouseButtonRelease);
  MouseEvent(target, QEvent::MouseButtonDblClick);
  MouseEvent(target, QEvent::MouseButtonRelease);
}

class MainWindowDialogTest : public MainWindowTest {
protected:
  void ClickSetup() {
    Click(Form->MainButtons().Button(4), true);
    Click(Form->MainButtons().Button(4), false);
  }
};

TEST_F(MainWindowDialogTest, DoubleClickEditsTheKeyAndTheNextPressOnlyShowsItUp) {
  constexpr int keyOne = 14;
  int openedAt = -1;
  Form->SetDialogRunners(nullptr, [&](TKeyDefTable& table, int key) {
    openedAt = key;
    table.Keys[keyOne].Notes[0] = TKeyNote{5, 0, 5, 1, 0}; // G above the octave of C5, right
    return true;
  });
  TKoMultiGlyphButton* one = Form->PCKeyboard().Button(keyOne);
  ASSERT_NE(one, nullptr);
  DoubleClick(one);
  EXPECT_EQ(openedAt, keyOne);
  // The first click played the old note; the second one's press sounded nothing.
  EXPECT_EQ(Notes(Sent()), (TBytes{0x90, 72, 70, 0x80, 72, 64}));
  EXPECT_EQ(Form->PCKeyboard().KeyState(keyOne), 0);
  EXPECT_EQ(Values().KeyDefs.Keys[keyOne].Notes[0].Degree, 5);
  Mark();
  Click(one, true);
  Click(one, false);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x91, 79, 100, 0x81, 79, 64}));
}

TEST_F(MainWindowDialogTest, CancelledEditorChangesNothingAndWhileRecordingTheChangeIsKept) {
  constexpr int keyOne = 14;
  bool accept = false;
  Form->SetDialogRunners(nullptr, [&](TKeyDefTable& table, int) {
    table.Keys[keyOne].NoteCount = 0;
    return accept;
  });
  Form->EditKeyDefinition(keyOne);
  EXPECT_EQ(Values().KeyDefs.Keys[keyOne].NoteCount, 1);

  With(xLCtrl, xR);
  ASSERT_TRUE(Form->Performance().Recording());
  accept = true;
  Form->EditKeyDefinition(keyOne);
  EXPECT_EQ(Values().KeyDefs.Keys[keyOne].NoteCount, 0);
  const TSimpleBuffer& events = Form->Recorder().Events();
  ASSERT_GE(events.Count(), 1u);
  EXPECT_EQ(events[events.Count() - 1].Kind, sekKeyDefs);
  EXPECT_TRUE(Form->Performance().Recording()); // a dialog leaves the recording running
}

TEST_F(MainWindowDialogTest, HeldKeysAreReleasedBeforeADialogOpens) {
  // The notes of the two hands, apart from the accompaniment's drums running meanwhile.
  const auto handNotes = [this] {
    TBytes hands;
    const TBytes notes = Notes(Sent());
    for (std::size_t i = 0; i + 2 < notes.size(); i += 3) {
      if ((notes[i] & 0x0F) < 2) {
        hands.insert(hands.end(), notes.begin() + static_cast<std::ptrdiff_t>(i),
                     notes.begin() + static_cast<std::ptrdiff_t>(i + 3));
      }
    }
    return hands;
  };
  Form->Performance().SetAccompaniment(true);
  Press(xQ);
  Press(xLShift);
  bool sawHeld = true;
  Form->SetDialogRunners(
      [&](TSetupConfig&, TSetupOptions&) {
        sawHeld = Form->Performance().KeyState().IsDown(16) ||
                  Form->Performance().KeyState().ShiftState() != 0;
        return false;
      },
      nullptr);
  ClickSetup();
  EXPECT_FALSE(sawHeld);
  EXPECT_EQ(handNotes(), (TBytes{0x90, 60, 70, 0x80, 60, 64}));
  EXPECT_TRUE(Form->Performance().AccompRunning());
  Mark();
  Release(xQ); // already let go: nothing more
  Release(xLShift);
  EXPECT_TRUE(handNotes().empty());
  Tap(xQ); // and the keyboard still plays
  EXPECT_EQ(handNotes(), (TBytes{0x90, 60, 70, 0x80, 60, 64}));
  Form->Performance().SetAccompaniment(false);
}

TEST_F(MainWindowDialogTest, SetupButtonAppliesAConfirmedDialog) {
  TSetupOptions seen{true, true, true, true};
  Form->SetDialogRunners(
      [&](TSetupConfig& config, TSetupOptions& options) {
        seen = options;
        config.Latency = 60;
        config.ReverbLevel = 1;
        options = TSetupOptions{true, true, true, true};
        return true;
      },
      nullptr);
  ClickSetup();
  EXPECT_EQ(seen, (TSetupOptions{false, false, false, false}));
  // The response time is what the player hears: the buffer's periods, the
  // one the synthesizer holds and half a period's wait.
  EXPECT_NEAR(HeardLatencyMs(Form->Music()->DriverBuffer(), TKoDirectMusic::SampleRate), 60,
              64 * 1000.0 / TKoDirectMusic::SampleRate);
  EXPECT_LT(Form->Music()->GetWriteLatency(), 60);
  EXPECT_EQ(Form->Music()->ReverbLevel(), 1);
  EXPECT_TRUE(Form->Performance().NotebookMode());
  EXPECT_TRUE(Form->Performance().LoopPlay());
  EXPECT_TRUE(Form->Performance().PeriodPedal());
  EXPECT_TRUE(Form->Performance().SmartSemitone());

  // Cancel hands nothing over, whatever the dialog held.
  Form->SetDialogRunners(
      [&](TSetupConfig&, TSetupOptions& options) {
        seen = options;
        return false;
      },
      nullptr);
  ClickSetup();
  EXPECT_EQ(seen, (TSetupOptions{true, true, true, true}));
  EXPECT_TRUE(Form->Performance().SmartSemitone());
}

TEST_F(MainWindowDialogTest, AChangedOutputPlaysAtOnceAndFromTheNextStartUnlessOverridden) {
  Form->SetDialogRunners(nullptr, nullptr, [](TAudioMidiChoices& choices, const TAudioMidiLists&) {
    choices.AudioOutput = "null";
    return true;
  });
  Form->OpenAudioMidi();
  EXPECT_EQ(Form->Music()->DirectSound().SelectedDeviceName(), "null");
  Form.reset();
  Form = std::make_unique<TRoVoravForm>(TEngineMode::Capture);
  EXPECT_EQ(Form->Music()->DirectSound().SelectedDeviceName(), "null");
  AudioOutputArg = "default"; // --audio default, for this run
  Form.reset();
  Form = std::make_unique<TRoVoravForm>(TEngineMode::Capture);
  EXPECT_EQ(Form->Music()->DirectSound().SelectedDeviceName(), "default");
}

TEST_F(MainWindowDialogTest, AnotherExternalFileLoadsAtOnceOnlyWhileTheExternalSetStaysOn) {
  const std::filesystem::path dir = Folder.path().toStdString();
  ASSERT_TRUE(SaveDlsFile(test::Level1Set(), (dir / "new.dls").string()));
  struct TCase {
    bool OnBefore;
    std::string NameBefore;
    bool Reloads;
  };
  const std::string newName = (dir / "new.dls").string();
  for (const TCase& c : {TCase{true, (dir / "old.dls").string(), true}, TCase{false, "", false},
                         TCase{true, newName, false}}) {
    FillInstruments();
    Config.UseExternalDLS = c.OnBefore;
    Config.ExternalDLSFileName = c.NameBefore;
    Form->SetDialogRunners(
        [&](TSetupConfig& config, TSetupOptions&) {
          config.UseExternalDLS = true;
          config.ExternalDLSFileName = newName;
          return true;
        },
        nullptr);
    ClickSetup();
    EXPECT_TRUE(Form->Performance().UseExternalDLS());
    if (c.Reloads) {
      ASSERT_EQ(InstrumentList.Count, 4);
      EXPECT_EQ(InstrumentList.NameUtf8(1), "Guitar");
    } else {
      EXPECT_EQ(InstrumentList.Count, 6) << c.NameBefore; // the set in use stays
    }
  }
}

} // namespace
} // namespace melo

// The window's master volume, volume slider, mouse pedal and external-voice lists. The executable
// starts a PulseAudio daemon of its own with null sinks, so the window's mixer is a real one.

#include "app/MainWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include "../sound/DlsTestSets.h"
#include "../sound/PrivatePulseServer.h"
#include "StandInSoundSet.h"
#include "WindowTestEnvironment.h"
#include "WindowTyping.h"
#include "app/SimpleRecorder.h"
#include "controls/KoSlider.h"
#include "controls/PointerClip.h"
#include "platform/DataFolder.h"
#include "sound/Audio.h"
#include "sound/DlsWriter.h"
#include "sound/MasterVolume.h"
#include "sound/MyVolume.h"
#include "sound/SetupConfig.h"

namespace melo {
namespace {

using TBytes = std::vector<std::uint8_t>;

using namespace test; // the X keycodes and typing

test::TPrivatePulseServer* Pulse = nullptr;

// The server first, then the application: ALSA decides at its first use whether the server runs.
class PulseQtEnvironment : public test::TWindowTestEnvironment {
public:
  PulseQtEnvironment() : TWindowTestEnvironment("test_mainwindow_volume") {}

protected:
  void BeforeApplication() override {
    Pulse = new test::TPrivatePulseServer();
    // ALSA decides at its first device open whether the sound server takes the
    // default devices, and keeps that: decide it now, with the server in reach,
    // not in whichever test happens to open a device first.
    snd_ctl_t* control = nullptr;
    if (snd_ctl_open(&control, "default", 0) == 0)
      snd_ctl_close(control);
  }
  void AfterApplication() override {
    delete Pulse;
    Pulse = nullptr;
  }
};
[[maybe_unused]] ::testing::Environment* const Environment =
    ::testing::AddGlobalTestEnvironment(new PulseQtEnvironment);

// Runs the event loop until done() holds or five seconds passed.
template <class F> bool ProcessUntil(F done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Lets the change events of earlier writes arrive and be handled.
void Settle() {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  while (std::chrono::steady_clock::now() < until) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

unsigned ServerValue(int masterVolume) {
  return ServerVolumeOfMixerValue(MixerValueOfMasterVolume(masterVolume));
}

class WindowFixture : public ::testing::Test, protected TWindowTyping {
protected:
  void SetUp() override {
    ASSERT_TRUE(Pulse && Pulse->Running()) << Pulse->Log();
    ::setenv("PULSE_SERVER", Pulse->Server().c_str(), 1);
    ASSERT_TRUE(Pulse->Pactl("set-default-sink nul"));
    ASSERT_TRUE(Pulse->Pactl("set-sink-mute nul 0"));
    ASSERT_TRUE(Folder.isValid());
    ASSERT_TRUE(
        test::WriteStandInSoundSet(std::filesystem::path(Folder.path().toStdString()) / "msf4.s"));
    SetProgramFolder(Folder.path().toStdString());
  }
  void TearDown() override {
    Form.reset();
    Settle();
    ::setenv("PULSE_SERVER", Pulse->Server().c_str(), 1);
  }

  void Create() {
    Form = std::make_unique<TRoVoravForm>(TEngineMode::Capture);
    Settle();
    Mark();
  }

  QWidget* TypingTarget() override { return Form.get(); }
  void Mouse(QWidget* target, QPoint at, QEvent::Type type) {
    const bool press = type != QEvent::MouseButtonRelease;
    QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), Qt::LeftButton,
                      press ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
    QCoreApplication::processEvents();
  }
  void DoubleClickSlider() {
    Mouse(&Form->VolumeSlider(), QPoint(50, 9), QEvent::MouseButtonDblClick);
    Mouse(&Form->VolumeSlider(), QPoint(50, 9), QEvent::MouseButtonRelease);
  }

  void Mark() { Start = Form->Music()->CapturedBytes().size(); }
  TBytes Sent() const {
    const TBytes all = Form->Music()->CapturedBytes();
    return TBytes(all.begin() + static_cast<std::ptrdiff_t>(Start), all.end());
  }

  QTemporaryDir Folder;
  std::unique_ptr<TRoVoravForm> Form;
  std::size_t Start = 0;
};

// ---- Master volume through the sound server -------------------------------------------------

class WindowVolumeTest : public WindowFixture {
protected:
  void SetUp() override {
    WindowFixture::SetUp();
    ASSERT_TRUE(Pulse->Pactl("set-sink-volume nul 65536 65536"));
    Create();
    ASSERT_NE(Form->Volume().Mixer(), nullptr);
  }
};

TEST_F(WindowVolumeTest, StartLeavesTheMasterVolumeAtFifty) {
  // The sink was at 100 %; the start's slider position 50 went through the ALSA mixer.
  EXPECT_EQ(Pulse->SinkVolumes("nul"), (std::vector<unsigned>{ServerValue(50), ServerValue(50)}));
  EXPECT_EQ(Form->Volume().GetMasterVolume(), 50);
  EXPECT_EQ(Form->VolumeSlider().Position(), 50);
  EXPECT_FALSE(Form->Volume().SynthVolumeMode());
}

TEST_F(WindowVolumeTest, CtrlPageUpAndDownStepTheMasterVolumeByFive) {
  With(xLCtrl, xPageUp);
  EXPECT_EQ(Form->Volume().GetMasterVolume(), 55);
  EXPECT_EQ(Pulse->SinkVolumes("nul"), (std::vector<unsigned>{ServerValue(55), ServerValue(55)}));
  EXPECT_TRUE(ProcessUntil([&] { return Form->VolumeSlider().Position() == 55; }));
  With(xLCtrl, xPageDown);
  With(xLCtrl, xPageDown);
  EXPECT_EQ(Form->Volume().GetMasterVolume(), 45);
  EXPECT_TRUE(ProcessUntil([&] { return Form->VolumeSlider().Position() == 45; }));
  // Ctrl+Shift is the tempo, not the volume.
  Key(xLShift, true);
  With(xLCtrl, xPageUp);
  Key(xLShift, false);
  EXPECT_EQ(Form->Volume().GetMasterVolume(), 45);
  // The ends hold.
  Form->Volume().SetMasterVolume(125);
  With(xLCtrl, xPageUp);
  EXPECT_EQ(Form->Volume().GetMasterVolume(), 127);
  Form->Volume().SetMasterVolume(3);
  With(xLCtrl, xPageDown);
  EXPECT_EQ(Form->Volume().GetMasterVolume(), 0);
}

TEST_F(WindowVolumeTest, ChangesByOtherProgramsMoveTheSliderWithoutFeedingBack) {
  ASSERT_TRUE(Pulse->Pactl("set-sink-volume nul 40000 20000"));
  const int expected = MixerValueOfServerVolume(40000) >> 9;
  ASSERT_TRUE(ProcessUntil([&] { return Form->VolumeSlider().Position() == expected; }));
  Settle();
  // Showing the value wrote nothing back.
  EXPECT_EQ(Pulse->SinkVolumes("nul"), (std::vector<unsigned>{40000, 20000}));

  // Moving the slider keeps the balance: the louder channel gets the value.
  Form->VolumeSlider().SetPosition(64);
  EXPECT_EQ(Pulse->SinkVolumes("nul"),
            (std::vector<unsigned>{ServerValue(64), ServerVolumeOfMixerValue(16384)}));
  // Through zero and back restores the proportion.
  Form->VolumeSlider().SetPosition(0);
  EXPECT_EQ(Pulse->SinkVolumes("nul"), (std::vector<unsigned>{0, 0}));
  Form->VolumeSlider().SetPosition(64);
  EXPECT_EQ(Pulse->SinkVolumes("nul"),
            (std::vector<unsigned>{ServerValue(64), ServerVolumeOfMixerValue(16384)}));
}

TEST_F(WindowVolumeTest, MuteIsWrittenBackUnchanged) {
  ASSERT_TRUE(Pulse->Pactl("set-sink-mute nul 1"));
  With(xLCtrl, xPageUp);
  EXPECT_TRUE(Pulse->SinkMuted("nul"));
  EXPECT_EQ(Form->Volume().GetMasterVolume(), 55);
  ASSERT_TRUE(Pulse->Pactl("set-sink-mute nul 0"));
  With(xLCtrl, xPageDown);
  EXPECT_FALSE(Pulse->SinkMuted("nul"));
}

TEST_F(WindowVolumeTest, DoubleClickSwitchesModesWithoutChangingAVolume) {
  Form->Volume().SetMasterVolume(60);
  ASSERT_TRUE(ProcessUntil([&] { return Form->VolumeSlider().Position() == 60; }));
  const std::vector<unsigned> master = Pulse->SinkVolumes("nul");

  DoubleClickSlider();
  ASSERT_TRUE(Form->Volume().SynthVolumeMode());
  EXPECT_EQ(Form->VolumeSlider().MinValue(), -2000);
  EXPECT_EQ(Form->VolumeSlider().MaxValue(), 2000);
  EXPECT_EQ(Form->VolumeSlider().Position(), 0);
  Form->VolumeSlider().SetPosition(-700);
  EXPECT_EQ(Form->Volume().SynthVolume(), -700);
  Settle();
  EXPECT_EQ(Pulse->SinkVolumes("nul"), master);

  // In synthesizer mode a master-volume change elsewhere leaves the slider alone.
  ASSERT_TRUE(Pulse->Pactl("set-sink-volume nul 30000 30000"));
  Settle();
  EXPECT_EQ(Form->VolumeSlider().Position(), -700);
  EXPECT_EQ(Form->Volume().SynthVolume(), -700);

  DoubleClickSlider();
  EXPECT_FALSE(Form->Volume().SynthVolumeMode());
  EXPECT_EQ(Form->VolumeSlider().MaxValue(), 127);
  EXPECT_EQ(Form->VolumeSlider().Position(), MixerValueOfServerVolume(30000) >> 9);
  EXPECT_EQ(Form->Volume().SynthVolume(), -700);
  Settle();
  EXPECT_EQ(Pulse->SinkVolumes("nul"), (std::vector<unsigned>{30000, 30000}));

  // Back in synthesizer mode the slider shows the kept synthesizer volume.
  DoubleClickSlider();
  EXPECT_EQ(Form->VolumeSlider().Position(), -700);
}

// ---- Without a sound server ------------------------------------------------------------------

TEST_F(WindowFixture, WithoutAServerTheFallbackServesAndTheSecondActivationSaysSoWithoutAMixer) {
  ::setenv("PULSE_SERVER", "unix:/nonexistent/melo-test/native", 1);
  MixerDeviceName = "melo-no-mixer";
  Create();
  EXPECT_EQ(Form->Volume().Mixer(), nullptr);
  EXPECT_EQ(Form->Volume().GetMasterVolume(), 0);
  EXPECT_EQ(Form->VolumeSlider().Position(), 50);
  // The value still goes to the slider, which keeps working.
  With(xLCtrl, xPageUp);
  EXPECT_EQ(Form->VolumeSlider().Position(), 5);
  Form->VolumeSlider().SetPosition(90);
  EXPECT_EQ(Form->VolumeSlider().Position(), 90);

  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(Form.get(), &activate);
  EXPECT_EQ(Form->findChild<QMessageBox*>(), nullptr);
  QApplication::sendEvent(Form.get(), &activate);
  auto* box = Form->findChild<QMessageBox*>();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), QStringLiteral("由于某种原因，Melotastico在您的机器上无法调整总音量。"));
  box->accept();

  // Still no server for the window, but an ALSA mixer that sets the volume:
  // nothing to say.
  Form.reset();
  Create();
  ASSERT_EQ(Form->Volume().Mixer(), nullptr);
  ::setenv("PULSE_SERVER", Pulse->Server().c_str(), 1);
  MixerDeviceName = "default";
  QApplication::sendEvent(Form.get(), &activate);
  QApplication::sendEvent(Form.get(), &activate);
  EXPECT_EQ(Form->findChild<QMessageBox*>(), nullptr);
}

// ---- Mouse pedal -----------------------------------------------------------------------------

TEST_F(WindowFixture, AnOutputChosenOnTheAudioMidiPagePlaysAtOnce) {
  Form = std::make_unique<TRoVoravForm>(TEngineMode::Live);
  std::string output;
  Form->SetDialogRunners(nullptr, nullptr, [&output](TAudioMidiChoices& choices, const auto&) {
    choices.AudioOutput = output;
    return true;
  });
  const auto streams = [] {
    const std::string list = Pulse->PactlOutput("list short sink-inputs");
    return std::count(list.begin(), list.end(), '\n');
  };
  const struct {
    const char* Output;
    long Streams; // the server's playback streams: ours on PulseAudio, none on ALSA's null
    bool Told;    // that the output does not open, and the sound stays where it was
  } steps[] = {{"pulse", 1, false}, {"hw:97,0", 1, true}, {"null", 0, false}};
  for (const auto& step : steps) {
    output = step.Output;
    QString told;
    QTimer::singleShot(0, [&told] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        told = box->text();
        box->accept();
      }
    });
    Form->OpenAudioMidi();
    EXPECT_EQ(told.contains(QStringLiteral("hw:97,0")), step.Told) << step.Output;
    EXPECT_TRUE(ProcessUntil([&] { return streams() == step.Streams; })) << step.Output;
  }
}

TEST_F(WindowFixture, MousePedalClicksPressBothPedalsAndAreRecorded) {
  Create();
  Form->show();
  With(xLCtrl, xEnter);
  ASSERT_TRUE(Form->MousePedal());
  With(xLCtrl, xEnter); // a second Ctrl+Enter frees it again
  EXPECT_FALSE(Form->MousePedal());
  EXPECT_EQ(Form->PointerClip().Method(), TPointerClip::TMethod::None);
  With(xLCtrl, xEnter);

  Form->Performance().SetRecording(true);
  Key(xQ, true);
  Mark();
  Mouse(Form.get(), QPoint(400, 120), QEvent::MouseButtonPress);
  EXPECT_EQ(Sent(), (TBytes{0xB0, 64, 127, 0xB1, 64, 127}));
  Key(xQ, false); // the note is released, the pedals hold it
  Mark();
  Mouse(Form.get(), QPoint(400, 120), QEvent::MouseButtonRelease);
  EXPECT_EQ(Sent(), (TBytes{0xB0, 64, 0, 0xB1, 64, 0}));

  const TSimpleBuffer& events = Form->Recorder().Events();
  std::vector<std::pair<int, int>> pedals;
  for (std::size_t i = 0; i < events.Count(); ++i) {
    if (events[i].Kind == sekLeftSustain || events[i].Kind == sekRightSustain)
      pedals.emplace_back(events[i].Kind, std::int32_t{events[i].Data});
  }
  EXPECT_EQ(
      pedals,
      (std::vector<std::pair<int, int>>{
          {sekLeftSustain, -1}, {sekRightSustain, -1}, {sekLeftSustain, 0}, {sekRightSustain, 0}}));

  // Losing the foreground frees the pointer; then clicks are plain clicks again.
  QEvent deactivate(QEvent::WindowDeactivate);
  QApplication::sendEvent(Form.get(), &deactivate);
  EXPECT_FALSE(Form->MousePedal());
  EXPECT_EQ(Form->PointerClip().Method(), TPointerClip::TMethod::None);
  Mark();
  Mouse(Form.get(), QPoint(400, 120), QEvent::MouseButtonPress);
  Mouse(Form.get(), QPoint(400, 120), QEvent::MouseButtonRelease);
  EXPECT_TRUE(Sent().empty());
}

// ---- External-voice lists --------------------------------------------------------------------

class WindowExternalSetTest : public WindowFixture {
protected:
  void SetUp() override {
    WindowFixture::SetUp();
    const std::string path =
        (std::filesystem::path(Folder.path().toStdString()) / "set.dls").string();
    ASSERT_TRUE(SaveDlsFile(test::Level1Set(), path));
    Config.UseExternalDLS = true;
    Config.ExternalDLSFileName = path;
    Create();
  }
  static QStringList Items(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
      items << list->itemText(i);
    return items;
  }
};

TEST_F(WindowExternalSetTest, ListsShowTheSetsVoicesAndApplyOnFirstActivation) {
  QComboBox* left = Form->ExternalVoices().List(LeftHand);
  QComboBox* right = Form->ExternalVoices().List(RightHand);
  ASSERT_NE(left, nullptr);
  ASSERT_NE(right, nullptr);
  const QStringList expected = {"0: Piano", "1: Guitar", "2: Variation", "3: Standard Kit"};
  EXPECT_EQ(Items(left), expected);
  EXPECT_EQ(Items(right), expected);
  EXPECT_EQ(left->geometry().topLeft(), QPoint(32, 240));
  EXPECT_EQ(right->geometry().topLeft(), QPoint(272, 240));
  EXPECT_EQ(left->width(), 201);
  EXPECT_EQ(left->currentIndex(), 0);
  EXPECT_FALSE(left->isEditable());
  EXPECT_EQ(left->focusPolicy(), Qt::NoFocus);

  // Choosing sets that hand's voice; the first activation applies both lists.
  right->setCurrentIndex(1);
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(Form.get(), &activate);
  EXPECT_EQ(Sent(),
            (TBytes{0xB0, 0, 0, 0xB0, 32, 0, 0xC0, 0, 0, 0xB1, 0, 0, 0xB1, 32, 0, 0xC1, 24, 0}));
  Mark();
  QApplication::sendEvent(Form.get(), &activate);
  EXPECT_TRUE(Sent().empty());

  // A choice by the user (activated) goes out and is recorded as the hand's voice.
  Form->Performance().SetRecording(true);
  left->setCurrentIndex(2);
  emit left->activated(2);
  EXPECT_EQ(Sent(), (TBytes{0xB0, 0, 8, 0xB0, 32, 1, 0xC0, 5, 0}));
  const TSimpleBuffer& events = Form->Recorder().Events();
  ASSERT_GE(events.Count(), 1u);
  EXPECT_EQ(events[events.Count() - 1].Kind, sekLeftVoice);
}

TEST_F(WindowExternalSetTest, TabStepsTheRightListAndStaysInsideIt) {
  QComboBox* right = Form->ExternalVoices().List(RightHand);
  ASSERT_NE(right, nullptr);
  Key(xLShift, true);
  Tap(xTab); // before the first item: stays on it
  Key(xLShift, false);
  EXPECT_EQ(right->currentIndex(), 0);
  for (int i = 0; i < 6; ++i)
    Tap(xTab);
  EXPECT_EQ(right->currentIndex(), 3);
  Mark();
  Tap(xTab);
  EXPECT_EQ(right->currentIndex(), 3);
  // The drum kit is applied on the right hand again, nothing else changes.
  EXPECT_EQ(Form->ExternalVoices().List(LeftHand)->currentIndex(), 0);
  Key(xLShift, true);
  Tap(xTab);
  Key(xLShift, false);
  EXPECT_EQ(right->currentIndex(), 2);

  // Alt+Backspace builds the lists anew, back on their first items.
  Key(xLAlt, true);
  Tap(xBackspace);
  Key(xLAlt, false);
  ASSERT_NE(Form->ExternalVoices().List(RightHand), nullptr);
  EXPECT_EQ(Form->ExternalVoices().List(RightHand)->currentIndex(), 0);
  EXPECT_EQ(Form->ExternalVoices().List(RightHand)->count(), 4);
  EXPECT_EQ(Form->findChildren<QComboBox*>().size(), 2);
}

} // namespace
} // namespace melo

// The Audio and MIDI page: what it lists, what it shows and hands back, and what a confirmed
// page stores and applies, on an engine without sound.
#include "app/AudioMidiDialog.h"

#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "WindowTestEnvironment.h"
#include "platform/DataFolder.h"
#include "sound/KoDirectMusic.h"
#include "sound/MidiInPorts.h"

namespace melo {
namespace {

[[maybe_unused]] ::testing::Environment* const Environment =
    ::testing::AddGlobalTestEnvironment(new test::TWindowTestEnvironment("test_audiomididialog"));

std::vector<std::string> ItemData(const QComboBox& box) {
  std::vector<std::string> data;
  for (int i = 0; i < box.count(); ++i)
    data.push_back(box.itemData(i).toString().toStdString());
  return data;
}

TEST(AudioMidiDialog, ListsTheEnginesOutputsAndTheMidiInputsSources) {
  TKoDirectMusic engine(TEngineMode::Offline);
  TMidiInPorts midiIn([] {});
  const TAudioMidiLists lists = ListAudioMidi(engine, &midiIn);
  const TKoDS_AllDevCapsType& devices = engine.DirectSound().Devices();
  std::vector<std::string> names;
  for (int i = 0; i < devices.Count; ++i)
    names.push_back(devices.Devices[static_cast<std::size_t>(i)].Name);
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.front(), "default");
  EXPECT_EQ(lists.MidiSources, midiIn.Sources());

  TfrmAudioMidi form(lists);
  EXPECT_EQ(ItemData(*form.cbAudioOutput), names);
  EXPECT_EQ(form.cbMidiIn->count(), static_cast<int>(lists.MidiSources.size()) + 1);
  EXPECT_TRUE(ListAudioMidi(engine, nullptr).MidiSources.empty());
}

TEST(AudioMidiDialog, ShowsTheStoredChoicesAndHandsBackTheChosenOnes) {
  const TAudioMidiLists lists{{{"default", "Default audio output"}, {"pulse", "PulseAudio"}},
                              {"Keys: MIDI 1 [24:0]", "system:midi_capture_1"}};
  TfrmAudioMidi form(lists);
  EXPECT_EQ(ItemData(*form.cbMidiIn),
            (std::vector<std::string>{"", "Keys: MIDI 1", "system:midi_capture_1"}));
  form.Show({"pulse", "Keys: MIDI 1"});
  EXPECT_EQ(form.cbAudioOutput->currentText(), QStringLiteral("PulseAudio (pulse)"));
  EXPECT_EQ(form.cbMidiIn->currentText(), QStringLiteral("Keys: MIDI 1 [24:0]"));
  EXPECT_EQ(form.Choices(), (TAudioMidiChoices{"pulse", "Keys: MIDI 1"}));
  std::string toned;
  form.OnTestTone = [&toned](const std::string& output) { toned = output; };
  form.btnTestTone->click();
  EXPECT_EQ(toned, "pulse");

  // What the machine no longer has stays chosen; no choice is the default and no input.
  form.Show({"hw:9", "Gone"});
  EXPECT_EQ(form.cbAudioOutput->count(), 3);
  EXPECT_EQ(form.Choices(), (TAudioMidiChoices{"hw:9", "Gone"}));
  form.Show({});
  EXPECT_EQ(form.cbAudioOutput->currentText(), QStringLiteral("默认音频输出 (default)"));
  EXPECT_EQ(form.Choices(), (TAudioMidiChoices{"default", ""}));
}

TEST(AudioMidiDialog, TheTestToneIsAShortMiddleCOnTheRightHand) {
  TKoDirectMusic engine(TEngineMode::Capture);
  ASSERT_TRUE(engine.SelectPort(engine.GetDefaultPortIndex()));
  QObject context;
  PlayTestTone(engine, &context);
  EXPECT_EQ(engine.CapturedBytes(), (std::vector<std::uint8_t>{0x91, 60, 100}));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (engine.CapturedBytes().size() < 6 && std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(engine.CapturedBytes(), (std::vector<std::uint8_t>{0x91, 60, 100, 0x81, 60, 0}));
}

class AudioMidiPageTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Folder.isValid());
    ::setenv("XDG_CONFIG_HOME", (Dir / "xdg").c_str(), 1);
    SetProgramFolder(Dir);
    std::ofstream(Dir / "Melotastico4.cfg", std::ios::binary) << SettingsBytes;
  }
  std::string SettingsFile() const {
    std::ostringstream text;
    text << std::ifstream(Dir / "Melotastico4.cfg", std::ios::binary).rdbuf();
    return text.str();
  }

  QTemporaryDir Folder;
  const std::filesystem::path Dir = Folder.path().toStdString();
  const std::string SettingsBytes = "25\r\n2\r\n1\r\nD:\\Drums.dls\r\n";
};

TEST_F(AudioMidiPageTest, AConfirmedPageIsStoredAndAppliedAndACancelledOneChangesNothing) {
  TKoDirectMusic engine(TEngineMode::Offline);
  std::vector<std::string> connected;
  const TAudioMidiTargets targets{engine, nullptr, [&connected](const std::string& source) {
                                    connected.push_back(source);
                                    return true;
                                  }};
  TAudioMidiChoices wanted{"null", "Keys"};
  bool confirm = true;
  const auto runner = [&](TAudioMidiChoices& choices, const TAudioMidiLists& lists) {
    EXPECT_EQ(lists.Outputs.size(), ListAudioMidi(engine, nullptr).Outputs.size());
    choices = wanted;
    return confirm;
  };
  OpenAudioMidiPage(targets, runner, nullptr);
  EXPECT_EQ(engine.DirectSound().SelectedDeviceName(), "null");
  EXPECT_EQ(connected, std::vector<std::string>{"Keys"});
  EXPECT_EQ(LoadAudioMidi(), wanted);
  EXPECT_EQ(SettingsFile(), SettingsBytes);

  // Unchanged, the MIDI input is left as it is.
  wanted.AudioOutput = "default";
  OpenAudioMidiPage(targets, runner, nullptr);
  EXPECT_EQ(engine.DirectSound().SelectedDeviceName(), "default");
  EXPECT_EQ(connected.size(), 1u);

  confirm = false;
  wanted = {"null", ""};
  OpenAudioMidiPage(targets, runner, nullptr);
  EXPECT_EQ(engine.DirectSound().SelectedDeviceName(), "default");
  EXPECT_EQ(LoadAudioMidi(), (TAudioMidiChoices{"default", "Keys"}));
  EXPECT_EQ(SettingsFile(), SettingsBytes);
}

} // namespace
} // namespace melo

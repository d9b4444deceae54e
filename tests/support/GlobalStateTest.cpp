// The reset point: what a test changes of the program's globals, in any library, is back for the
// next test.
#include "platform/GlobalState.h"
#include "app/KoPerformance.h"
#include "app/MainWindow.h"
#include "controls/GlyphBmp.h"
#include "input/KoKeyDef.h"
#include "music/KoMetronome.h"
#include "music/KoTimer.h"
#include "platform/DataFolder.h"
#include "platform/Language.h"
#include "sound/FavoriteVoices.h"
#include "sound/KoDirectMusic.h"
#include "sound/MyGetDxVer.h"
#include "sound/MyVolume.h"
#include "sound/SetupConfig.h"

#include <QCoreApplication>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace melo {
namespace {

using TValues = std::map<std::string, std::string>;

std::string Digest(const void* data, std::size_t size) {
  return std::to_string(
      std::hash<std::string_view>{}(std::string_view(static_cast<const char*>(data), size)));
}

std::string Size(const QImage& image) {
  return std::to_string(image.width()) + "x" + std::to_string(image.height());
}

// The registered globals, as far as they can be read, by name.
TValues Values() {
  std::string playable;
  for (bool key : PlayableKeys) {
    playable += key ? '1' : '0';
  }
  std::string clients;
  for (const std::string& name : Metronome.ClientNames()) {
    clients += name + ";";
  }
  return {
      {"Config", std::to_string(Config.Latency) + " " + std::to_string(Config.ReverbLevel) + " " +
                     std::to_string(Config.UseExternalDLS) + " " + Config.ExternalDLSFileName},
      {"PlayableKeys", playable},
      {"FavoriteVoices", Digest(FavoriteVoices.data(), sizeof FavoriteVoices)},
      {"InstrumentList", std::to_string(InstrumentList.Count) + " " +
                             Digest(InstrumentList.Entries.data(), sizeof InstrumentList.Entries)},
      {"MixerDeviceName", MixerDeviceName},
      {"DXVersion", std::to_string(DXVersion) + " " + std::to_string(DXPlatform)},
      {"Metronome", std::to_string(Metronome.Tempo()) + " " + std::to_string(Metronome.Running()) +
                        " " + clients},
      {"ProgramFolder", ProgramFolder().string()},
      {"Language", std::to_string(static_cast<int>(CurrentLanguage()))},
      {"UiDispatcher", std::to_string(static_cast<bool>(UiDispatcher()))},
      {"skin", Size(SkinBitmap) + " " + Size(WorkBitmap) + " " + Size(StaffMaskBitmap)},
      {"command line", std::to_string(MultiInstance) + " " + std::to_string(PortIndexArg) + " " +
                           AudioOutputArg + " " + MidiInArg + " " + SongFileArg.toStdString()},
  };
}

// Every global above to a value it does not have at start-up.
void ChangeEveryGlobal() {
  Config.Latency = 123;
  Config.ExternalDLSFileName = "changed.dls";
  PlayableKeys[7] = true;
  FavoriteVoices[3].Program = 77;
  InstrumentList.Fill({{5, "Changed"}});
  MixerDeviceName = "changed";
  DXVersion = 0x0601;
  DXPlatform = 9;
  Metronome.SetTempo(150);
  Metronome.AddClient(
      "changed", mfNewBar,
      [](TMetronome&, std::uint16_t, double, double, int, std::int32_t, std::int32_t, bool&) {});
  SetProgramFolder("/nonexistent/changed");
  static_cast<void>(SetLanguage(TLanguage::English)); // without its translation: only the choice
  SetUiDispatcher([](const TUiCall&) {});
  SkinBitmap = QImage(2, 3, QImage::Format_RGB888);
  WorkBitmap = QImage(4, 5, QImage::Format_RGB888);
  StaffMaskBitmap = QImage(6, 7, QImage::Format_RGB888);
  MultiInstance = true;
  PortIndexArg = 4;
  AudioOutputArg = "jack";
  MidiInArg = "24:0";
  SongFileArg = QStringLiteral("song.lyt");
}

// The values before the first test, with an application for the language's translation.
TValues StartUp;
class TStartUpEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    App = std::make_unique<QCoreApplication>(Argc, Argv);
    StartUp = Values();
  }
  void TearDown() override { App.reset(); }

private:
  int Argc = 1;
  char Name[17] = "test_globalstate";
  char* Argv[2] = {Name, nullptr};
  std::unique_ptr<QCoreApplication> App;
};
[[maybe_unused]] ::testing::Environment* const Environment =
    ::testing::AddGlobalTestEnvironment(new TStartUpEnvironment);

TEST(GlobalState, SavedStateComesBackWhole) {
  const TValues before = Values();
  const TGlobalRestore restore = SaveGlobalState();
  ChangeEveryGlobal();
  const TValues changed = Values();
  for (const auto& [name, value] : before) {
    EXPECT_NE(changed.at(name), value) << name << " did not change";
  }
  restore();
  EXPECT_EQ(Values(), before);
}

// In their written order: the first test leaves everything changed, the second finds it back.
TEST(GlobalState, ATestChangesEveryGlobal) {
  ChangeEveryGlobal();
}

TEST(GlobalState, TheNextTestFindsTheStartUpValues) {
  EXPECT_EQ(Values(), StartUp);
}

} // namespace
} // namespace melo

#include "sound/DlsWriter.h"
#include "sound/KoDirectMusic.h"
#include "sound/SetupConfig.h"

#include "DlsTestSets.h"
#include "SoundFontToDls.h"
#include "SynthTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace melo {
namespace {

using namespace melo::test;

std::unique_ptr<TKoDirectMusic> OfflineEngine() {
  auto engine = std::make_unique<TKoDirectMusic>(TEngineMode::Offline);
  EXPECT_TRUE(engine->SelectPort(0));
  engine->SetReverbLevel(0);
  return engine;
}

// The order the Part's sorting example gives: a kit, program 25, LSB 1 program 0.
TDlsCollection UnsortedSet() {
  TDlsCollection c;
  c.Waves.push_back(LoopedSine(440.0, 44100, 40, 69));
  c.Waves.push_back(LoopedSine(1000.0, 44100, 100, 60));
  c.Instruments.push_back(Instrument(DlsDrumFlag, 0, "Kit", {Region(1, 35, 81)}, true));
  c.Instruments.push_back(Instrument(0, 25, "Steel Guitar", {Region(0)}, true));
  c.Instruments.push_back(Instrument(0x0001, 0, "Piano LSB 1", {Region(0)}, true));
  return c;
}

TEST(DlsEngine, BuiltInSetIsSortedByPatchAndTheLastKitGoesToChannel9) {
  auto engine = OfflineEngine();
  ASSERT_TRUE(engine->LoadCollectionFromStream(WriteDls(UnsortedSet())));
  ASSERT_EQ(InstrumentList.Count, 3);
  EXPECT_EQ(InstrumentList.Entries[0].Patch, 25u);
  EXPECT_EQ(InstrumentList.Entries[0].Index, 1);
  EXPECT_EQ(InstrumentList.Entries[1].Patch, 0x100u);
  EXPECT_EQ(InstrumentList.Entries[2].Patch, 0x80000000u);
  EXPECT_EQ(InstrumentList.NameUtf8(2), "Kit");
  ASSERT_TRUE(engine->SelectDrumKit());
  EXPECT_EQ(engine->Patches(9), 0x80000000u);
  engine->NoteOn(9, 60, 100);
  auto out = RenderSeconds(*engine, 0.5);
  EXPECT_NEAR(MeasurePitch(out, Seconds(0.1), Seconds(0.3), 1000.0), 1000.0, 0.6);
  engine->AllSoundOff(9);
  engine->SetPatch(0, 0x100u); // MSB 0, LSB 1, program 0
  engine->NoteOn(0, 57, 100);
  out = RenderSeconds(*engine, 0.5);
  EXPECT_NEAR(MeasurePitch(out, Seconds(0.1), Seconds(0.3), 220.0), 220.0, 0.15);
}

TEST(DlsEngine, BuiltInSetFromTheGeneralMidiSoundFontGivesChannel9TheStandardKit) {
  TDlsCollection converted;
  std::string error;
  ASSERT_TRUE(ConvertSoundFontToDls(GmSoundFontBytes(), converted, error, {true})) << error;
  auto engine = OfflineEngine();
  ASSERT_TRUE(engine->LoadCollectionFromStream(WriteDls(converted)));
  ASSERT_EQ(std::size_t(InstrumentList.Count),
            std::min<std::size_t>(converted.Instruments.size(), 300));
  for (int i = 1; i < InstrumentList.Count; ++i)
    EXPECT_LT(InstrumentList.Entries[i - 1].Patch, InstrumentList.Entries[i].Patch);
  EXPECT_EQ(InstrumentList.Entries[InstrumentList.Count - 1].Patch, 0x80000000u);
  EXPECT_LT(InstrumentList.Entries[InstrumentList.Count - 2].Patch, 0x80000000u);
  ASSERT_TRUE(engine->SelectDrumKit());
  EXPECT_EQ(engine->Patches(9), 0x80000000u);
  engine->NoteOn(9, 38, 110); // acoustic snare
  EXPECT_GT(Rms(RenderSeconds(*engine, 0.3), 0, Seconds(0.3)), 0.005);
}

TEST(DlsEngine, ExternalSetKeepsItsOrderCutsNamesAndRefusedBytesChangeNothing) {
  TDlsCollection set = UnsortedSet();
  set.Instruments[1].Name = "A very long instrument name that goes on and on";
  const auto path = std::filesystem::temp_directory_path() / "melo-dls-engine-test.dls";
  ASSERT_TRUE(SaveDlsFile(set, path.string()));
  const TSetupConfig saved = Config;
  Config.UseExternalDLS = true;
  Config.ExternalDLSFileName = path.string();
  auto engine = OfflineEngine();
  EXPECT_TRUE(engine->LoadCollectionFromFile());
  Config = saved;
  std::filesystem::remove(path);
  ASSERT_EQ(InstrumentList.Count, 3);
  EXPECT_EQ(InstrumentList.Entries[0].Patch, 0x80000000u);
  EXPECT_EQ(InstrumentList.NameUtf8(1), set.Instruments[1].Name.substr(0, 31));
  auto damaged = WriteDls(set);
  damaged.resize(damaged.size() - 100);
  EXPECT_FALSE(engine->LoadCollectionFromStream(damaged));
  EXPECT_EQ(InstrumentList.Count, 3);
  EXPECT_EQ(InstrumentList.Entries[0].Patch, 0x80000000u);
}

} // namespace
} // namespace melo

#include "sound/DlsWriter.h"
#include "sound/KoDirectMusic.h"
#include "sound/SetupConfig.h"

#include "ChannelMessages.h"
#include "DlsTestSets.h"
#include "SoundFontToDls.h"
#include "SynthTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

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
  ASSERT_EQ(engine->SelectDrumKit(), 0x80000000u);
  NoteOn(*engine, 9, 60, 100);
  auto out = RenderSeconds(*engine, 0.5);
  EXPECT_NEAR(MeasurePitch(out, Seconds(0.1), Seconds(0.3), 1000.0), 1000.0, 0.6);
  AllSoundOff(*engine, 9);
  SetPatch(*engine, 0, 0x100u); // MSB 0, LSB 1, program 0
  NoteOn(*engine, 0, 57, 100);
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
  ASSERT_EQ(engine->SelectDrumKit(), 0x80000000u);
  NoteOn(*engine, 9, 38, 110); // acoustic snare
  EXPECT_GT(Rms(RenderSeconds(*engine, 0.3), 0, Seconds(0.3)), 0.005);
}

TEST(DlsEngine, ExternalSetKeepsItsOrderCutsNamesAndRefusedBytesChangeNothing) {
  TDlsCollection set = UnsortedSet();
  set.Instruments[1].Name = "A very long instrument name that goes on and on";
  const auto path = std::filesystem::temp_directory_path() / "melo-dls-engine-test.dls";
  ASSERT_TRUE(SaveDlsFile(set, path.string()));
  Config.UseExternalDLS = true;
  Config.ExternalDLSFileName = path.string();
  auto engine = OfflineEngine();
  EXPECT_TRUE(engine->LoadCollectionFromFile());
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

TEST(DlsEngine, WavesPlayedFromTheMappedFileSoundIdenticalToCopiedOnes) {
  TDlsCollection converted;
  std::string error;
  ASSERT_TRUE(ConvertSoundFontToDls(GmSoundFontBytes(), converted, error, {true})) << error;
  const std::vector<std::uint8_t> bytes = WriteDls(converted);
  const auto path = std::filesystem::temp_directory_path() /
                    ("melo-mapped-" + std::to_string(::getpid()) + ".dls");
  ASSERT_TRUE(SaveDlsFile(converted, path.string()));

  // Read in place, nearly every wave stays in the bytes.
  TDlsCollection inPlace;
  ASSERT_TRUE(inPlace.LoadFromMemory(bytes.data(), bytes.size(), true));
  std::size_t borrowed = 0;
  for (const TDlsWave& wave : inPlace.Waves) {
    if (!wave.Borrowed.empty()) {
      ++borrowed;
      EXPECT_GE(reinterpret_cast<const std::uint8_t*>(wave.Borrowed.data()), bytes.data());
      EXPECT_LE(reinterpret_cast<const std::uint8_t*>(wave.Borrowed.data() + wave.Borrowed.size()),
                bytes.data() + bytes.size());
    }
  }
  EXPECT_GT(borrowed, inPlace.Waves.size() * 9 / 10);

  auto copied = OfflineEngine();
  ASSERT_TRUE(copied->LoadCollectionFromStream(bytes));
  auto mapped = OfflineEngine();
  ASSERT_TRUE(mapped->LoadCollectionFromMappedFile(path));
  std::filesystem::remove(path); // the mapping keeps the file
  ASSERT_EQ(InstrumentList.Count,
            std::min<std::int32_t>(std::int32_t(converted.Instruments.size()), 300));
  copied->SelectDrumKit();
  mapped->SelectDrumKit();
  // Looped and one-shot waves, from the bottom to the top of their ranges
  // (high notes read fastest towards a wave's end), and drums.
  struct TNote {
    std::uint8_t Channel, Program, Key;
  };
  const TNote notes[] = {{0, 0, 21},   {0, 0, 108}, {1, 40, 60}, {2, 73, 96},
                         {3, 115, 80}, {9, 0, 38},  {9, 0, 42},  {9, 0, 81}};
  for (TKoDirectMusic* engine : {copied.get(), mapped.get()}) {
    for (const TNote& n : notes) {
      if (n.Channel != 9)
        SetPatch(*engine, n.Channel, n.Program);
      NoteOn(*engine, n.Channel, n.Key, 110);
    }
  }
  const auto first = RenderSeconds(*copied, 1.0);
  const auto second = RenderSeconds(*mapped, 1.0);
  for (TKoDirectMusic* engine : {copied.get(), mapped.get()}) {
    for (const TNote& n : notes)
      NoteOff(*engine, n.Channel, n.Key);
  }
  const auto firstTail = RenderSeconds(*copied, 2.0);
  const auto secondTail = RenderSeconds(*mapped, 2.0);
  EXPECT_GT(Rms(first, 0, first.size()), 0.01);
  EXPECT_TRUE(first == second);
  EXPECT_TRUE(firstTail == secondTail);
}

} // namespace
} // namespace melo

// The engine's messages, bookkeeping, lists and settings, checked through the
// capture port (exact bytes) and the offline synthesizer.
#include "sound/KoDirectMusic.h"

#include "ChannelMessages.h"
#include "FluidTsanSuppressions.h"
#include "SynthTestSupport.h"
#include "TinySoundFont.h"
#include "sound/GetDXVer.h"
#include "sound/MyGetDxVer.h"
#include "sound/SetupConfig.h"

#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

namespace melo {
namespace {

using Bytes = std::vector<std::uint8_t>;

class EngineCaptureTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(engine.SelectPort(engine.GetDefaultPortIndex())); }

  Bytes Sent() const { return engine.CapturedBytes(); }

  TKoDirectMusic engine{TEngineMode::Capture};
  test::TChannelMemory memory{engine};
};

TEST_F(EngineCaptureTest, NoteOnAndNoteOffSendTheirBytes) {
  EXPECT_TRUE(test::NoteOn(engine, 1, 60, 100));
  EXPECT_TRUE(test::NoteOff(engine, 0, 60));
  EXPECT_EQ(Sent(), (Bytes{0x91, 60, 100, 0x80, 0x3C, 0x40}));
}

TEST_F(EngineCaptureTest, SetPatchSendsBankSelectsAndProgramAndRemembersIt) {
  EXPECT_TRUE(test::SetPatch(memory, 1, PackPatch({0, 0, 24})));
  EXPECT_EQ(Sent(), (Bytes{0xB1, 0x00, 0x00, 0xB1, 0x20, 0x00, 0xC1, 0x18, 0x00}));
  EXPECT_EQ(memory.Patches(1), 24u);
  test::SetPatch(memory, 3, 0x00080119u); // MSB 8, LSB 1, program 25
  const Bytes sent = Sent();
  EXPECT_EQ(Bytes(sent.begin() + 9, sent.end()), (Bytes{0xB3, 0, 8, 0xB3, 32, 1, 0xC3, 25, 0}));
  EXPECT_EQ(memory.Patches(3), 0x00080119u);
  EXPECT_EQ(memory.Patches(0), 0u);
}

TEST_F(EngineCaptureTest, ControllerWrappersSendTheirBytes) {
  test::SetSustain(engine, 0, true);
  test::SetSustain(engine, 0, false);
  test::AllNotesOff(engine, 5);
  test::AllSoundOff(engine, 9);
  test::ControlChange(engine, 15, 7, 90);
  EXPECT_EQ(Sent(), (Bytes{0xB0, 64, 127, 0xB0, 64, 0, 0xB5, 123, 0, 0xB9, 120, 0, 0xBF, 7, 90}));
}

TEST_F(EngineCaptureTest, SendMidiMessagePassesBytesUnchanged) {
  EXPECT_TRUE(engine.SendMidiMessage(0x96, 36, 1));
  EXPECT_TRUE(engine.SendMidiMessage(0xE0, 0x00, 0x40));
  EXPECT_EQ(Sent(), (Bytes{0x96, 36, 1, 0xE0, 0x00, 0x40}));
}

TEST_F(EngineCaptureTest, LastNotesFollowEveryNoteOnPerChannel) {
  test::NoteOn(memory, 1, 64, 90);
  test::NoteOn(memory, 1, 67, 90);
  test::NoteOn(memory, 4, 40, 90);
  test::NoteOff(memory, 1, 67);
  EXPECT_EQ(memory.LastNotes(1), 67);
  EXPECT_EQ(memory.LastNotes(4), 40);
  EXPECT_EQ(memory.LastNotes(0), 0);
}

TEST_F(EngineCaptureTest, ChannelsBeyondFifteenAreRefusedWithoutSending) {
  // 0x90 + 16 would be a key-pressure message on channel 0.
  EXPECT_FALSE(test::NoteOn(engine, 16, 60, 100));
  EXPECT_FALSE(test::SetPatch(engine, 16, 5));
  EXPECT_FALSE(test::AllSoundOff(engine, 200));
  EXPECT_TRUE(Sent().empty());
}

TEST_F(EngineCaptureTest, SelectDrumKitSetsTheLastListedPatchOnChannelNine) {
  InstrumentList.Fill(
      {{0, "Piano"}, {F_INSTRUMENT_DRUMS | 0, "Standard"}, {F_INSTRUMENT_DRUMS | 25, "TR-808"}});
  EXPECT_EQ(engine.SelectDrumKit(), F_INSTRUMENT_DRUMS | 25);
  EXPECT_EQ(Sent(), (Bytes{0xB9, 0, 0, 0xB9, 32, 0, 0xC9, 25, 0}));
}

TEST_F(EngineCaptureTest, SelectDrumKitWithoutInstrumentsSendsNothing) {
  InstrumentList.Clear();
  EXPECT_EQ(engine.SelectDrumKit(), std::nullopt);
  EXPECT_TRUE(Sent().empty());
}

TEST(EngineCaptureLimitTest, SendsFailOnceTheCaptureIsFull) {
  TKoDirectMusic engine(TEngineMode::Capture, 7);
  ASSERT_TRUE(engine.SelectPort(0));
  EXPECT_TRUE(test::NoteOn(engine, 0, 1, 1));
  EXPECT_TRUE(test::NoteOn(engine, 0, 2, 2));
  EXPECT_FALSE(test::NoteOn(engine, 0, 3, 3));
  EXPECT_EQ(engine.CapturedBytes().size(), 6u);
}

TEST(EnginePortTest, WithoutAPortEverySendFails) {
  TKoDirectMusic engine(TEngineMode::Capture);
  EXPECT_EQ(engine.PortIndex(), -1);
  EXPECT_FALSE(engine.SelectPort(-1));
  EXPECT_FALSE(engine.SelectPort(engine.OutputPorts().OutputCount));
  EXPECT_EQ(engine.PortIndex(), -1);
  test::TChannelMemory memory(engine);
  EXPECT_FALSE(test::NoteOn(memory, 1, 62, 100));
  EXPECT_EQ(memory.LastNotes(1), 62); // kept whatever the send's result
  EXPECT_FALSE(engine.SendMidiMessage(0x90, 60, 100));
  EXPECT_FALSE(engine.SetVolume(0));
  EXPECT_EQ(engine.GetWriteLatency(), 0);
  EXPECT_TRUE(engine.CapturedBytes().empty());
}

TEST(EnginePortTest, FailedSelectDropsThePreviousPort) {
  TKoDirectMusic engine(TEngineMode::Offline);
  ASSERT_TRUE(engine.SelectPort(0));
  EXPECT_TRUE(test::NoteOn(engine, 0, 60, 100));
  EXPECT_FALSE(engine.SelectPort(5));
  EXPECT_TRUE(engine.SelectPort(0)); // still selectable
}

// A note the accompaniment timed, still waiting for its sample, must not
// sound after the note-off that a stop sends at once.
TEST(EnginePortTest, ANoteOffSentNowDropsTheSameNoteStillWaiting) {
  TKoDirectMusic engine(TEngineMode::Offline);
  ASSERT_TRUE(engine.SelectPort(0));
  {
    const double now = std::chrono::duration<double, std::milli>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count();
    const TIntendedTimeScope when(now + 1000, 0);
    EXPECT_TRUE(test::NoteOn(engine, 6, 60, 40));
    EXPECT_TRUE(test::NoteOn(engine, 6, 64, 40));
  }
  ASSERT_EQ(engine.WaitingMessages(), 2u);
  EXPECT_TRUE(test::NoteOff(engine, 6, 60));
  EXPECT_EQ(engine.WaitingMessages(), 1u);
}

TEST(EnginePortTest, LiveEngineListsTheSoftwareSynthesizerFirst) {
  // On a machine without sound the port cannot open; then the engine runs silent.
  TKoDirectMusic engine(TEngineMode::Live);
  ASSERT_GE(engine.OutputPorts().OutputCount, 1);
  EXPECT_EQ(engine.GetDefaultPortIndex(), 0);
  EXPECT_EQ(engine.OutputPorts().OutputPorts[0].Kind, TPortKind::SoftwareSynth);
  EXPECT_EQ(engine.DirectSound().Devices().Devices[0].Name, "default");
  if (!engine.SelectPort(0)) {
    EXPECT_FALSE(test::NoteOn(engine, 0, 60, 100));
    EXPECT_EQ(engine.PortIndex(), -1);
  }
}

TEST(EnginePortTest, ReopeningTheAudioDriverKeepsSoundSetAndChannels) {
  // The file driver plays in real time like a sound card, without one.
  const auto file =
      std::filesystem::temp_directory_path() / ("melo-driver-" + std::to_string(getpid()) + ".raw");
  TEngineOptions options;
  options.AudioDriver = "file";
  options.AudioFile = file.string();
  {
    TKoDirectMusic engine(options);
    ASSERT_TRUE(engine.SelectPort(0));
    EXPECT_TRUE(engine.PortActive());
    ASSERT_TRUE(engine.LoadCollectionFromStream(test::GmSoundFontBytes()));
    const std::int32_t count = InstrumentList.Count;
    test::SetPatch(engine, 4, 19);
    ASSERT_TRUE(engine.SetWriteLatency(40));
    ASSERT_TRUE(engine.SetWritePeriod(13));
    EXPECT_EQ(engine.GetWriteLatency(), 39);
    EXPECT_EQ(engine.GetWritePeriod(), 13);
    EXPECT_TRUE(engine.Render(std::span<float>(), std::span<float>()) ==
                false); // the driver renders
    int font = 0;
    int bank = 0;
    int program = 0;
    fluid_synth_get_program(engine.Synth(), 4, &font, &bank, &program);
    EXPECT_EQ(program, 19);
    EXPECT_EQ(InstrumentList.Count, count);
    EXPECT_EQ(fluid_synth_sfcount(engine.Synth()), 1);
    EXPECT_TRUE(test::NoteOn(engine, 4, 60, 100));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::error_code error;
    EXPECT_GT(std::filesystem::file_size(file, error), 0u); // the re-opened driver plays
    EXPECT_TRUE(engine.SetPortActive(false));
    EXPECT_FALSE(engine.PortActive());
    EXPECT_TRUE(engine.SetPortActive(true));
  }
  std::error_code error;
  std::filesystem::remove(file, error);
}

TEST(EnginePortTest, ListsHoldAtMostTwentyFourPorts) {
  TPortList list;
  for (int i = 0; i < MaxPorts; ++i) {
    EXPECT_TRUE(AddOutputPort(list, {TPortKind::Sequencer, "port " + std::to_string(i), i, 0, {}}));
  }
  EXPECT_FALSE(AddOutputPort(list, {TPortKind::Sequencer, "one too many", 99, 0, {}}));
  EXPECT_EQ(list.OutputCount, MaxPorts);
  EXPECT_EQ(list.OutputPorts[MaxPorts - 1].Description, "port 23");
  EXPECT_EQ(list.InputCount, 0);
}

TEST(EnginePortTest, DeviceListHoldsAtMostSixteenDevices) {
  TKoDS_AllDevCapsType list;
  for (int i = 0; i < 20; ++i) {
    AddDevice(list, {"hw:" + std::to_string(i), "card", "alsa"});
  }
  EXPECT_EQ(list.Count, MaxDirectSoundDevices);
  EXPECT_EQ(list.Devices[15].Name, "hw:15");
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(EnginePortTest, OutDevListHasOneNumberedLinePerPortInGbk) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("melo-outdev-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  TPortList list;
  AddOutputPort(list, {TPortKind::SoftwareSynth, "Software synthesizer", -1, -1, {}});
  AddOutputPort(list, {TPortKind::Sequencer, "合成器", 20, 0, {}});
  ASSERT_TRUE(WriteOutDevList(folder, list));
  EXPECT_EQ(ReadText(folder / "OutDevList.txt"),
            "0:  Software synthesizer\r\n1:  \xBA\xCF\xB3\xC9\xC6\xF7\r\n");
  TKoDirectMusic engine(TEngineMode::Capture);
  ASSERT_TRUE(engine.WriteOutDevList(folder));
  EXPECT_EQ(ReadText(folder / "OutDevList.txt"), "0:  MIDI capture\r\n");
  std::filesystem::remove_all(folder);
}

TEST(EngineInstrumentListTest, SortPutsMelodicByBankThenDrumKitsLast) {
  TInstrumentList list;
  list.Fill({{F_INSTRUMENT_DRUMS | 0, "Drums"},
             {PackPatch({0, 0, 25}), "Guitar"},
             {PackPatch({0, 1, 0}), "Var"}});
  list.SortByPatch();
  ASSERT_EQ(list.Count, 3);
  EXPECT_EQ(list.NameUtf8(0), "Guitar");
  EXPECT_EQ(list.NameUtf8(1), "Var");
  EXPECT_EQ(list.NameUtf8(2), "Drums");
  // Whole entries move: each keeps its original index and patch.
  EXPECT_EQ(list.Entries[0].Index, 1);
  EXPECT_EQ(list.Entries[2].Index, 0);
  EXPECT_EQ(list.Entries[2].Patch, F_INSTRUMENT_DRUMS);
}

TEST(EngineInstrumentListTest, HoldsAtMostThreeHundredAndCutsNames) {
  std::vector<TSoundSetInstrument> many(310, {7, "An instrument name longer than thirty-one"});
  InstrumentList.Fill(many);
  EXPECT_EQ(InstrumentList.Count, MaxInstruments);
  EXPECT_EQ(InstrumentList.Entries[299].Index, 299);
  EXPECT_EQ(InstrumentList.NameUtf8(0), "An instrument name longer than ");
  EXPECT_EQ(InstrumentList.Entries[0].Name[31], u'\0');
  InstrumentList.Fill({{1, "钢琴"}, {2, std::string(30, 'a') + "\xF0\x9F\x8E\xB9"}});
  EXPECT_EQ(InstrumentList.NameUtf8(0), "钢琴");
  EXPECT_EQ(InstrumentList.NameUtf8(1), std::string(30, 'a')); // a surrogate pair is not split
  EXPECT_EQ(InstrumentList.Entries[2].Patch, 0u);              // zero-filled past the count
}

TEST(EngineInstrumentListTest, FindInstrumentReturnsTheLowerIndexOfATwiceListedPatch) {
  InstrumentList.Fill({{5, "a"}, {9, "b"}, {5, "c"}});
  EXPECT_EQ(TKoDirectMusic::FindInstrument(5), 0);
  EXPECT_EQ(TKoDirectMusic::FindInstrument(9), 1);
  EXPECT_EQ(TKoDirectMusic::FindInstrument(6), -1);
}

TEST(EngineSettingsTest, ReverbLevelOverwritesMixAndTimeOnly) {
  TKoDirectMusic engine(TEngineMode::Offline);
  ASSERT_TRUE(engine.SelectPort(0));
  EXPECT_EQ(engine.ReverbLevel(), 2);
  ASSERT_TRUE(engine.SetReverbParams({-3.0f, -20.0f, 300.0f, 0.25f}));
  engine.SetReverbLevel(3);
  TWavesReverbParams params;
  ASSERT_TRUE(engine.GetReverbParams(params));
  EXPECT_EQ(engine.ReverbLevel(), 3);
  EXPECT_FLOAT_EQ(params.InGain, -3.0f);
  EXPECT_FLOAT_EQ(params.ReverbMix, -7.0f);
  EXPECT_FLOAT_EQ(params.ReverbTime, 1800.0f);
  EXPECT_FLOAT_EQ(params.HighFreqRTRatio, 0.25f);
  // The synthesizer got the mapped values.
  const TFluidReverb expected = MapReverb(params);
  double roomSize = -1.0;
  double level = -1.0;
  fluid_synth_get_reverb_group_roomsize(engine.Synth(), 0, &roomSize);
  fluid_synth_get_reverb_group_level(engine.Synth(), 0, &level);
  EXPECT_NEAR(roomSize, expected.RoomSize, 1e-6);
  EXPECT_NEAR(level, expected.Level, 1e-6);
  // Above 4 the level is stored and nothing else changes.
  engine.SetReverbLevel(7);
  TWavesReverbParams after;
  engine.GetReverbParams(after);
  EXPECT_EQ(engine.ReverbLevel(), 7);
  EXPECT_FLOAT_EQ(after.ReverbMix, -7.0f);
}

TEST(EngineSettingsTest, ReverbNeedsTheReverbCapablePlatform) {
  TKoDirectMusic engine(TEngineMode::Offline);
  ASSERT_TRUE(engine.SelectPort(0));
  DXVersion = 0x0601;
  engine.SetReverbLevel(3);
  EXPECT_FALSE(engine.SetReverbParams({}));
  TWavesReverbParams params;
  engine.GetReverbParams(params);
  EXPECT_EQ(engine.ReverbLevel(), 2);
  EXPECT_FLOAT_EQ(params.ReverbMix, -10.0f);
}

TEST(EngineSettingsTest, LatencyAndPeriodMapOntoTheDriverBuffer) {
  const TDriverBuffer buffer = DriverBufferFor(40, 13, 44100);
  EXPECT_EQ(buffer.PeriodFrames, 573);
  EXPECT_EQ(buffer.PeriodCount, 3);
  EXPECT_EQ(DriverBufferFor(1, 0, 44100).PeriodFrames, 64);
  EXPECT_EQ(DriverBufferFor(1, 0, 44100).PeriodCount, 2);
  EXPECT_EQ(DriverBufferFor(100000, 1000, 44100).PeriodFrames, 8192);
  EXPECT_EQ(DriverBufferFor(100000, 10, 44100).PeriodCount, 64);
}

// What the player hears, (periods + 1.5) x period, lands within a block of
// every setting, also where the device takes periods only in steps of 128
// frames, and grows with the setting.
TEST(EngineSettingsTest, ResponseTimeSizesTheBufferForWhatIsHeard) {
  const auto any = [](int frames) { return frames; };
  const auto steps = [](int frames) { return std::max(1, (frames + 64) / 128) * 128; };
  for (const auto& grant : {std::function<int(int)>(any), std::function<int(int)>(steps)}) {
    double before = 0;
    for (int setting = 10; setting <= 100; setting += 10) {
      const TDriverBuffer buffer = DriverBufferForResponse(setting, 44100, grant);
      const double heard = HeardLatencyMs(buffer, 44100);
      EXPECT_GE(buffer.PeriodCount, 2);
      EXPECT_NEAR(heard, setting, 64 * 1000.0 / 44100) << setting;
      EXPECT_GT(heard, before) << setting;
      EXPECT_EQ(buffer.PeriodFrames, grant(buffer.PeriodFrames)) << setting;
      before = heard;
    }
  }
  TKoDirectMusic engine(TEngineMode::Offline);
  ASSERT_TRUE(engine.SelectPort(0));
  ASSERT_TRUE(engine.SetResponseTime(90));
  const TDriverBuffer fresh = engine.DriverBuffer();
  ASSERT_TRUE(engine.SetResponseTime(80));
  ASSERT_TRUE(engine.SetResponseTime(90));
  EXPECT_EQ(engine.DriverBuffer().PeriodFrames, fresh.PeriodFrames); // whatever came before
  EXPECT_EQ(engine.DriverBuffer().PeriodCount, fresh.PeriodCount);
}

TEST(EngineSettingsTest, WriteLatencyAndPeriodReportWhatTheBufferHolds) {
  TKoDirectMusic engine(TEngineMode::Offline);
  ASSERT_TRUE(engine.SelectPort(0));
  EXPECT_EQ(engine.GetWritePeriod(), 3); // 128 frames
  EXPECT_EQ(engine.GetWriteLatency(), 6);
  ASSERT_TRUE(engine.SetWriteLatency(40));
  ASSERT_TRUE(engine.SetWritePeriod(13));
  EXPECT_EQ(engine.GetWritePeriod(), 13);
  EXPECT_EQ(engine.GetWriteLatency(), 39); // 3 periods of 573 frames
  ASSERT_TRUE(engine.SetWriteLatency(5));
  EXPECT_EQ(engine.GetWriteLatency(), 26); // never fewer than two periods
}

TEST(DXVersionTest, ReportsTheCurrentPlatformWhenTheSynthesizerIsLinked) {
  std::uint32_t version = 0;
  std::uint32_t platform = 7;
  GetDXVersion(version, platform);
  EXPECT_EQ(version, 0x0800u);
  EXPECT_EQ(DXVersion, 0x0800u);
  EXPECT_EQ(DXVersionLabel(0x0800), "[DirectX 8.0 或者更新]");
  EXPECT_EQ(DXVersionLabel(0x0700), "[DirectX 7.0]");
  EXPECT_EQ(DXVersionLabel(0x0601), "[DirectX 6.1]");
}

// ---- Sound sets ---------------------------------------------------------------

class EngineSoundSetTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(engine.SelectPort(0)); }

  TKoDirectMusic engine{TEngineMode::Offline};
};

TEST_F(EngineSoundSetTest, StreamLoadListsTheSetSortedWithDrumKitsLast) {
  ASSERT_TRUE(engine.LoadCollectionFromStream(test::GmSoundFontBytes()));
  ASSERT_GE(InstrumentList.Count, 129);
  for (int i = 1; i < InstrumentList.Count; ++i) {
    EXPECT_LE(InstrumentList.Entries[i - 1].Patch, InstrumentList.Entries[i].Patch);
  }
  EXPECT_EQ(InstrumentList.Entries[0].Patch, 0u);
  EXPECT_NE(InstrumentList.Entries[InstrumentList.Count - 1].Patch & F_INSTRUMENT_DRUMS, 0u);
  EXPECT_FALSE(InstrumentList.NameUtf8(0).empty());
  EXPECT_EQ(engine.SelectDrumKit(), InstrumentList.Entries[InstrumentList.Count - 1].Patch);
}

TEST_F(EngineSoundSetTest, EveryListedPatchSelectsItsOwnInstrument) {
  ASSERT_TRUE(engine.LoadCollectionFromStream(test::GmSoundFontBytes()));
  for (int i = 0; i < InstrumentList.Count; ++i) {
    const std::uint32_t patch = InstrumentList.Entries[i].Patch;
    const bool drums = (patch & F_INSTRUMENT_DRUMS) != 0;
    const std::uint8_t channel = drums ? DrumChannel : 3;
    test::SetPatch(engine, channel, patch);
    int font = 0;
    int bank = 0;
    int program = 0;
    fluid_synth_get_program(engine.Synth(), channel, &font, &bank, &program);
    const TPatchBytes bytes = UnpackPatch(patch);
    EXPECT_EQ(bank, drums ? 128 : bytes.MSB * 128 + bytes.LSB) << InstrumentList.NameUtf8(i);
    EXPECT_EQ(program, bytes.Program) << InstrumentList.NameUtf8(i);
  }
}

TEST_F(EngineSoundSetTest, UnreadableBytesLeaveTheLoadedSetInPlace) {
  ASSERT_TRUE(engine.LoadCollectionFromStream(test::GmSoundFontBytes()));
  const std::int32_t count = InstrumentList.Count;
  const auto& good = test::GmSoundFontBytes();
  Bytes truncated(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
  Bytes garbage(4096, 0x5A);
  Bytes header{'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0x7F, 's', 'f', 'b', 'k', 'L', 'I', 'S', 'T'};
  EXPECT_FALSE(engine.LoadCollectionFromStream(truncated));
  EXPECT_FALSE(engine.LoadCollectionFromStream(garbage));
  EXPECT_FALSE(engine.LoadCollectionFromStream(header));
  EXPECT_FALSE(engine.LoadCollectionFromStream({}));
  EXPECT_EQ(InstrumentList.Count, count);
  // Still playing from the kept set.
  test::SetPatch(engine, 0, 0);
  test::NoteOn(engine, 0, 60, 100);
  EXPECT_GT(test::Rms(test::RenderSeconds(engine, 0.3), 0, test::Seconds(0.3)), 1e-3);
}

TEST_F(EngineSoundSetTest, FileLoadFollowsTheConfiguration) {
  Config.UseExternalDLS = false;
  Config.ExternalDLSFileName = test::GmSoundFont;
  InstrumentList.Fill({{1, "x"}});
  EXPECT_FALSE(engine.LoadCollectionFromFile());
  EXPECT_EQ(InstrumentList.Count, 0);
  Config.UseExternalDLS = true;
  Config.ExternalDLSFileName = "/nonexistent/set.dls";
  EXPECT_EQ(engine.LoadCollectionFromFile(), TSoundSetResult{TSoundSetFault::Missing});
  Config.ExternalDLSFileName = test::GmSoundFont;
  ASSERT_TRUE(engine.LoadCollectionFromFile());
  EXPECT_GE(InstrumentList.Count, 129);
  for (int i = 0; i < InstrumentList.Count; ++i) {
    EXPECT_EQ(InstrumentList.Entries[i].Index, i); // the set's own order, unsorted
  }
  EXPECT_TRUE(engine.DownloadInstruments());
}

TEST_F(EngineSoundSetTest, UnreadableExternalFileLeavesNothingListedOrSounding) {
  ASSERT_TRUE(engine.LoadCollectionFromStream(test::GmSoundFontBytes()));
  const auto path =
      std::filesystem::temp_directory_path() / ("melo-bad-" + std::to_string(getpid()) + ".dls");
  std::ofstream(path, std::ios::binary).write("RIFF\x04\0\0\0DLS ", 12);
  Config.UseExternalDLS = true;
  Config.ExternalDLSFileName = path.string();
  // The window then falls back to the built-in set.
  EXPECT_EQ(engine.LoadExternalDLS(), TSoundSetResult{TSoundSetFault::Damaged});
  EXPECT_EQ(InstrumentList.Count, 0);
  test::NoteOn(engine, 0, 60, 100);
  EXPECT_LT(test::Rms(test::RenderSeconds(engine, 0.3), 0, test::Seconds(0.3)), 1e-6);
  std::filesystem::remove(path);
}

// A file the settings may name: what loading it says.
TEST_F(EngineSoundSetTest, ARefusedSetSaysWhy) {
  const std::string ogg = test::OggTone();
  ASSERT_FALSE(ogg.empty());
  test::TFont version4, damaged, unknownInfo;
  version4.Info = test::Chunk("ifil", test::U16(4) + test::U16(0));
  unknownInfo.Info = test::Chunk("XXXX", "ab") + unknownInfo.Info;
  damaged.Shdr.replace(24, 4, test::U32(147));
  const struct {
    const char* What;
    Bytes File;
    TSoundSetResult Result;
  } cases[] = {
      {"random bytes", Bytes(4096, 0x5A), {TSoundSetFault::NotASoundSet}},
      {"version 4", version4.Build(), {TSoundSetFault::Version}},
      {"sample beyond its data",
       damaged.Build(),
       {TSoundSetFault::Damaged, TSoundFontCheck::Samples}},
      {"a stream that is no Ogg Vorbis",
       test::CompressedFont(std::string(ogg.size(), 'x')).Build(),
       {TSoundSetFault::Damaged, TSoundFontCheck::Streams}},
      {"a stream cut short",
       test::CompressedFont(ogg.substr(0, 200)).Build(),
       {TSoundSetFault::Damaged, TSoundFontCheck::Streams}},
      {"an information chunk the synthesizer does not know",
       unknownInfo.Build(),
       {TSoundSetFault::Refused}},
      {"compressed", test::CompressedFont(ogg).Build(), {}},
  };
  const auto path =
      std::filesystem::temp_directory_path() / ("melo-set-" + std::to_string(getpid()) + ".sf3");
  for (const auto& [what, file, result] : cases) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    EXPECT_EQ(engine.LoadCollectionFromFile(path), result) << what;
  }
  std::filesystem::remove(path);
  EXPECT_EQ(engine.LoadCollectionFromFile(path), TSoundSetResult{TSoundSetFault::Missing});
}

// A SoundFont 3 set plays its compressed sample at the pitch of each key.
TEST_F(EngineSoundSetTest, ACompressedSetSoundsInTune) {
  const test::Bytes sf3 = test::CompressedFont(test::OggTone()).Build();
  ASSERT_TRUE(engine.LoadCollectionFromStream(sf3));
  engine.SetReverbLevel(0);
  test::SetPatch(engine, 0, 0);
  for (const auto& [note, hz] : {std::pair{69, 441.0}, std::pair{81, 882.0}}) {
    test::NoteOn(engine, 0, std::uint8_t(note), 100);
    const std::vector<float> sound = test::RenderSeconds(engine, 0.5);
    EXPECT_NEAR(test::MeasurePitch(sound, test::Seconds(0.1), test::Seconds(0.3), hz), hz,
                hz * 0.003)
        << note;
    test::NoteOff(engine, 0, std::uint8_t(note));
    test::RenderSeconds(engine, 1.0);
  }
}

TEST(EngineSoundSetSeamTest, RiffFormIsReadFromTheHeader) {
  const Bytes sf{'R', 'I', 'F', 'F', 0, 0, 0, 0, 's', 'f', 'b', 'k'};
  const Bytes dls{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'D', 'L', 'S', ' '};
  EXPECT_TRUE(IsRiffForm(sf, "sfbk"));
  EXPECT_FALSE(IsRiffForm(sf, "DLS "));
  EXPECT_TRUE(IsRiffForm(dls, "DLS "));
  EXPECT_FALSE(IsRiffForm(Bytes(sf.begin(), sf.end() - 1), "sfbk"));
}

} // namespace
} // namespace melo

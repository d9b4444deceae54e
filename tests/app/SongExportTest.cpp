#include "app/SongExport.h"

#include "SongTestFiles.h"
#include "StandInSoundSet.h"
#include "WindowTestEnvironment.h"
#include "app/MainWindow.h"
#include "app/MidiFileSong.h"
#include "app/SongExportDialog.h"
#include "music/KoMetronome.h"
#include "music/KoMidiFile.h"
#include "music/MidiFileReader.h"
#include "platform/DataFolder.h"
#include "sound/KoDirectMusic.h"
#include "sound/SetupConfig.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTimer>

#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iterator>
#include <thread>

namespace melo {
namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<std::uint8_t>;

[[maybe_unused]] ::testing::Environment* const Environment =
    ::testing::AddGlobalTestEnvironment(new test::TWindowTestEnvironment("test_songexport"));

constexpr const char* GmSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr int Rate = TKoOfflineRenderer::SampleRate;

TRenderSetup GmSetup() {
  TRenderSetup setup;
  setup.UseExternalDLS = true;
  setup.ExternalDLSFileName = GmSoundFont;
  setup.ReverbLevel = 2;
  return setup;
}

// Scan codes of the default key definition: Q, W, E on the left hand from
// middle C; Num-1, Num-2 on the right hand.
constexpr std::int32_t ScanQ = 0x10, ScanW = 0x11, ScanE = 0x12, ScanNum1 = 0x4F, ScanNum2 = 0x50;

// Two hands, a held pedal, a voice and a velocity change, a transposition,
// drum hits recorded as raw MIDI, and the end mark.
TSimpleBuffer TwoHandSong() {
  TSimpleBuffer events;
  std::uint32_t t = 5;
  for (std::int32_t scan : {ScanQ, ScanW, ScanE, ScanNum1, ScanNum2}) {
    events.Add({t, 0, sekKeyDown, scan});
    events.Add({t + 3, 0, sekRawMidi, 0x99 << 16 | 42 << 8 | 90});
    events.Add({t + 180, 0, sekKeyUp, scan});
    t += 237;
  }
  events.Add({t, 0, sekRightVoice, 24}); // nylon guitar
  events.Add({t + 1, 0, sekLeftSustain, -1});
  events.Add({t + 2, 0, sekTranspose, 2});
  events.Add({t + 3, 0, sekLeftVelocity, 120});
  for (std::int32_t scan : {ScanQ, ScanNum1, ScanE, ScanNum2}) {
    events.Add({t + 10, 0, sekKeyDown, scan});
    events.Add({t + 171, 0, sekKeyUp, scan});
    t += 199;
  }
  events.Add({t + 300, 0, sekLeftSustain, 0});
  events.Add({t + 301, 0, sekEnd, 0});
  return events;
}

std::vector<float> ReadLeft(const fs::path& fileName) {
  SF_INFO info{};
  SNDFILE* file = sf_open(fileName.c_str(), SFM_READ, &info);
  if (file == nullptr)
    return {};
  std::vector<float> frames(static_cast<std::size_t>(info.frames) * 2);
  sf_readf_float(file, frames.data(), info.frames);
  sf_close(file);
  std::vector<float> left(static_cast<std::size_t>(info.frames));
  for (std::size_t i = 0; i < left.size(); ++i)
    left[i] = frames[2 * i];
  return left;
}

double Correlation(const std::vector<float>& a, const std::vector<float>& b, std::size_t from,
                   std::size_t to, long lag = 0) {
  double ab = 0, aa = 0, bb = 0;
  for (std::size_t i = from; i < to; ++i) {
    const long j = static_cast<long>(i) + lag;
    if (j < 0 || static_cast<std::size_t>(j) >= b.size() || i >= a.size())
      continue;
    ab += double(a[i]) * b[static_cast<std::size_t>(j)];
    aa += double(a[i]) * a[i];
    bb += double(b[static_cast<std::size_t>(j)]) * b[static_cast<std::size_t>(j)];
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

struct TPlayed {
  int Tick;
  int Type;
  int Channel;
  int Key;
  int Value;
  bool operator==(const TPlayed&) const = default;
};

struct TPlayerRun {
  fluid_synth_t* Synth;
  fluid_player_t* Player;
  std::vector<TPlayed> Notes;
};

int HandleFromPlayer(void* data, fluid_midi_event_t* event) {
  auto* run = static_cast<TPlayerRun*>(data);
  const int type = fluid_midi_event_get_type(event);
  if (type == 0x90 || type == 0x80) {
    run->Notes.push_back({fluid_player_get_current_tick(run->Player), type,
                          fluid_midi_event_get_channel(event), fluid_midi_event_get_key(event),
                          fluid_midi_event_get_velocity(event)});
  }
  return fluid_synth_handle_midi_event(run->Synth, event);
}

// FluidSynth's file player hands a block's events to the synthesizer while
// that block renders, so they sound from the next one: a fixed delay of one
// block of 64 frames, whatever the file says.
constexpr std::size_t PlayerDelayFrames = 64;

// The MIDI file played by FluidSynth's own file player on a synthesizer set
// up as the export's is, for frames frames after the player's delay.
std::vector<float> PlayMidiFile(const fs::path& fileName, std::size_t frames,
                                std::vector<TPlayed>& notes) {
  TEngineOptions options;
  options.Mode = TEngineMode::Offline;
  options.OwnInstrumentList = true;
  TKoDirectMusic engine(options);
  engine.SelectPort(0);
  engine.SetReverbLevel(2);
  engine.LoadCollectionFromFile(fs::path(GmSoundFont));
  engine.DownloadInstruments();
  engine.SetVolume(0);
  // The player would reset the synthesizer's controllers, the reverb send among them.
  fluid_settings_setint(fluid_synth_get_settings(engine.Synth()), "player.reset-synth", 0);
  TPlayerRun run{engine.Synth(), new_fluid_player(engine.Synth()), {}};
  fluid_player_set_playback_callback(run.Player, HandleFromPlayer, &run);
  fluid_player_add(run.Player, fileName.c_str());
  fluid_player_play(run.Player);
  std::vector<float> left(frames + PlayerDelayFrames), right(frames + PlayerDelayFrames);
  engine.Render(left, right);
  fluid_player_stop(run.Player);
  delete_fluid_player(run.Player);
  notes = run.Notes;
  left.erase(left.begin(), left.begin() + PlayerDelayFrames);
  return left;
}

class SongExportTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  fs::path Path(const char* name) const { return fs::path(dir_.path().toStdString()) / name; }
  QTemporaryDir dir_;
};

TEST_F(SongExportTest, MidiFilePlayedByFluidSynthSoundsLikeTheAudioExport) {
  const TSongHeader header = test::FreshSongHeader();
  const TSimpleBuffer events = TwoHandSong();
  TExportTarget midi, wav;
  ASSERT_TRUE(ExportTargetOf("x.mid", midi));
  ASSERT_TRUE(ExportTargetOf("x.wav", wav));
  ASSERT_EQ(ExportSong(header, events, Path("song.mid"), midi, GmSetup()), TExportResult::Done);
  ASSERT_EQ(ExportSong(header, events, Path("song.wav"), wav, GmSetup()), TExportResult::Done);
  const std::vector<float> audio = ReadLeft(Path("song.wav"));
  ASSERT_GT(audio.size(), static_cast<std::size_t>(Rate) * 2);

  // The header's texts become the file's tags, the player its artist.
  SF_INFO info{};
  SNDFILE* tagged = sf_open(Path("song.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(tagged, nullptr);
  EXPECT_STREQ(sf_get_string(tagged, SF_STR_TITLE), "Export test");
  EXPECT_STREQ(sf_get_string(tagged, SF_STR_ARTIST), "Tester");
  EXPECT_STREQ(sf_get_string(tagged, SF_STR_COMMENT), "Two hands and drums");
  sf_close(tagged);

  // What the export plays, note by note.
  TKoOfflineRenderer forList(GmSetup());
  const TSoundSetVoices voices(forList.Instruments());
  // The file ends each drum strike (these are far apart) a sixteenth later.
  std::vector<TPlayed> expected;
  for (const TTimedMidiMessage& m : PlaySongOffline(header, events, voices)) {
    const int type = m.Status & 0xF0;
    const int channel = m.Status & 0x0F;
    if (type == 0x90 || type == 0x80)
      expected.push_back({static_cast<int>(m.Time), type, channel, m.Data1, m.Data2});
    if (type == 0x90 && channel == DrumChannel && m.Data2 != 0) {
      expected.push_back(
          {static_cast<int>(m.Time + DrumStrikeTicks), 0x80, DrumChannel, m.Data1, 0});
    }
  }
  std::stable_sort(expected.begin(), expected.end(),
                   [](const TPlayed& a, const TPlayed& b) { return a.Tick < b.Tick; });
  ASSERT_GE(expected.size(), 23u);

  // FluidSynth's reader finds the same notes, channel by channel, each handed
  // over in the block of its millisecond (its clock counts whole ms at block
  // starts, so it may read one more).
  std::vector<TPlayed> played;
  const std::vector<float> fromMidi = PlayMidiFile(Path("song.mid"), audio.size(), played);
  ASSERT_EQ(played.size(), expected.size());
  for (int channel = 0; channel < 16; ++channel) {
    std::vector<TPlayed> want, got;
    std::copy_if(expected.begin(), expected.end(), std::back_inserter(want),
                 [&](const TPlayed& p) { return p.Channel == channel; });
    std::copy_if(played.begin(), played.end(), std::back_inserter(got),
                 [&](const TPlayed& p) { return p.Channel == channel; });
    ASSERT_EQ(got.size(), want.size()) << "channel " << channel;
    for (std::size_t i = 0; i < want.size(); ++i) {
      EXPECT_GE(got[i].Tick, want[i].Tick);
      EXPECT_LE(got[i].Tick, want[i].Tick + 1);
      got[i].Tick = want[i].Tick;
      EXPECT_EQ(got[i], want[i]) << "channel " << channel << " note " << i;
    }
  }

  // Every onset within 1 ms: around each note-on the two renders line up best
  // at a lag of at most 44 frames.
  for (const TPlayed& note : expected) {
    if (note.Type != 0x90 || note.Value == 0)
      continue;
    const auto at = static_cast<std::size_t>(TKoOfflineRenderer::FrameOfTime(note.Tick));
    long best = 0;
    double bestCorrelation = -2;
    for (long lag = -220; lag <= 220; ++lag) {
      const double c = Correlation(audio, fromMidi, at, at + Rate / 50, lag);
      if (c > bestCorrelation) {
        bestCorrelation = c;
        best = lag;
      }
    }
    EXPECT_LE(std::labs(best), 44) << "note " << note.Key << " at " << note.Tick << " ms";
  }
  const double whole = Correlation(audio, fromMidi, 0, audio.size());
  EXPECT_GE(whole, 0.99);
  RecordProperty("correlation", std::to_string(whole));
}

TEST_F(SongExportTest, AnExportedMidiFileImportedAndExportedAgainHasTheSameNotes) {
  TExportTarget midi;
  ASSERT_TRUE(ExportTargetOf("x.mid", midi));
  ASSERT_EQ(ExportSong(test::FreshSongHeader(), TwoHandSong(), Path("first.mid"), midi, GmSetup()),
            TExportResult::Done);
  TSimpleRecorder imported;
  TSongInfo info{};
  std::string reason;
  ASSERT_TRUE(LoadMidiFileSong(Path("first.mid"), imported, info, reason)) << reason;
  ASSERT_EQ(ExportSong(imported.Header, imported.Events(), Path("again.mid"), midi, GmSetup()),
            TExportResult::Done);
  const auto notes = [&](const char* name) {
    TMidiFileContent content;
    EXPECT_TRUE(ReadMidiFile(Path(name), content, reason)) << reason;
    std::erase_if(content.Messages, [](const TTimedMidiMessage& m) {
      return (m.Status & 0xE0) != NoteOffStatus; // note-offs and note-ons only
    });
    return content.Messages;
  };
  const std::vector<TTimedMidiMessage> first = notes("first.mid");
  EXPECT_GE(first.size(), 23u);
  EXPECT_EQ(notes("again.mid"), first);
}

// The window playing a song in its recorder, with the capture engine: the
// note messages it sends, in order.
class WindowPlaysTest : public SongExportTest {
protected:
  void SetUp() override {
    SongExportTest::SetUp();
    ASSERT_TRUE(test::WriteStandInSoundSet(Path("msf4.s")));
    SetProgramFolder(dir_.path().toStdString());
    form_ = std::make_unique<TRoVoravForm>(TEngineMode::Capture);
    std::vector<TSoundSetInstrument> instruments = {
        {0, "Piano"}, {1, "Bright"}, {24, "Guitar"}, {F_INSTRUMENT_DRUMS, "Drums"}};
    InstrumentList.Fill(instruments);
    form_->Performance().SetRightVoice(0);
    form_->Performance().SetLeftVoice(0);
  }
  void TearDown() override { form_.reset(); }

  static TBytes Notes(const TBytes& bytes) {
    TBytes notes;
    for (std::size_t i = 0; i + 2 < bytes.size(); i += 3) {
      if ((bytes[i] & 0xE0) == 0x80) {
        notes.insert(notes.end(), bytes.begin() + static_cast<long>(i),
                     bytes.begin() + static_cast<long>(i + 3));
      }
    }
    return notes;
  }
  static TBytes Notes(const std::vector<TTimedMidiMessage>& messages) {
    TBytes notes;
    for (const TTimedMidiMessage& m : messages) {
      if ((m.Status & 0xE0) == 0x80)
        notes.insert(notes.end(), {m.Status, m.Data1, m.Data2});
    }
    return notes;
  }

  // Loads the image into the window's recorder and plays it to the end.
  TBytes WindowPlays(const std::vector<std::uint8_t>& image) {
    TSongInfo info{};
    EXPECT_TRUE(form_->Recorder().LoadFromStream(image, info));
    const std::size_t start = form_->Music()->CapturedBytes().size();
    form_->Performance().SetPlaying(true);
    QElapsedTimer timer;
    timer.start();
    while (form_->Performance().Playing() && timer.elapsed() < 20000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(form_->Performance().Playing());
    const TBytes all = form_->Music()->CapturedBytes();
    return Notes(TBytes(all.begin() + static_cast<long>(start), all.end()));
  }
  TBytes ExportPlays() {
    TInstrumentListVoices voices;
    return Notes(PlaySongOffline(form_->Recorder().Header, form_->Recorder().Events(), voices));
  }

  std::unique_ptr<TRoVoravForm> form_;
};

TEST_F(WindowPlaysTest, AVersion1SongExportsTheNotesTheWindowPlays) {
  // Transposed up 3, right octave up, soft left hand; one event skipped by
  // its flag and one F5 press, both passed over.
  const auto image = test::Version1Image(3, 90, 40, 1, 0,
                                         {{0, 0, static_cast<std::uint8_t>(ScanQ), true},
                                          {120, 0, static_cast<std::uint8_t>(ScanNum1), true},
                                          {130, 1, static_cast<std::uint8_t>(ScanW), true},
                                          {140, 0, 63, true},
                                          {250, 0, static_cast<std::uint8_t>(ScanQ), false},
                                          {260, 0, static_cast<std::uint8_t>(ScanNum1), false},
                                          {270, 0, static_cast<std::uint8_t>(ScanE), true},
                                          {400, 0, static_cast<std::uint8_t>(ScanE), false}});
  const TBytes window = WindowPlays(image);
  ASSERT_EQ(form_->Recorder().Header.Version, 1);
  const TBytes exported = ExportPlays();
  EXPECT_EQ(exported, window);
  // Q is middle C on the left hand, up 3 semitones at velocity 40.
  ASSERT_GE(exported.size(), 3u);
  EXPECT_EQ(exported[0], 0x90);
  EXPECT_EQ(exported[1], 63);
  EXPECT_EQ(exported[2], 40);
  EXPECT_EQ(exported.size(), 6u * 3); // three keys down and up; the skipped ones are silent
}

// Each drum strike sounds once in playback and export: from the key in a
// version-1 song, from the raw message in a song recorded here.
TEST_F(WindowPlaysTest, DrumKeysSoundOnceInOldAndRecordedSongs) {
  constexpr std::uint8_t apostrophe = 40, leftBracket = 26; // bass drum 36, snare 38
  auto drumOns = [](const TBytes& notes) {
    std::vector<int> ons;
    for (std::size_t i = 0; i + 2 < notes.size(); i += 3) {
      if (notes[i] == 0x99)
        ons.push_back(notes[i + 1]);
    }
    return ons;
  };
  const auto old = test::Version1Image(0, 100, 70, 0, 0,
                                       {{0, 0, apostrophe, true},
                                        {100, 0, apostrophe, false},
                                        {150, 0, static_cast<std::uint8_t>(ScanQ), true},
                                        {200, 0, leftBracket, true},
                                        {210, 0, leftBracket, false},
                                        {300, 0, static_cast<std::uint8_t>(ScanQ), false},
                                        {400, 0, apostrophe, true},
                                        {450, 0, apostrophe, false}});
  const TBytes oldPlayed = WindowPlays(old);
  EXPECT_EQ(drumOns(oldPlayed), (std::vector<int>{36, 38, 36}));
  EXPECT_EQ(ExportPlays(), oldPlayed);

  // The same strikes recorded by the window, each with an accompaniment
  // hi-hat recorded at the same moment.
  TSimpleRecorder& recorder = form_->Recorder();
  form_->Performance().SetRecording(true);
  for (const std::uint8_t scan : {apostrophe, leftBracket, apostrophe}) {
    form_->Performance().WMDIKeyDown(scan, KeyIndexOfScanCode(scan));
    recorder.RecordRawMidi(0x99, 42, 60);
    form_->Performance().WMDIKeyUp(scan, KeyIndexOfScanCode(scan));
  }
  form_->Performance().SetRecording(false);
  ASSERT_TRUE(SongHasRawDrumStrikes(recorder.Events()));
  std::vector<std::uint8_t> image = SongImage(recorder.Header, recorder.Events());
  const TBytes recordedPlayed = WindowPlays(image);
  EXPECT_EQ(drumOns(recordedPlayed), (std::vector<int>{36, 42, 38, 42, 36, 42}));
  EXPECT_EQ(ExportPlays(), recordedPlayed);
}

// The window's accompaniment recorded while the left hand holds F, then G:
// the song plays back and exports the bass, arpeggio and chord notes it was
// recorded with, in order.
TEST_F(WindowPlaysTest, ARecordedAccompanimentWithChordChangesPlaysBackAndExportsItsNotes) {
  constexpr int scanR = 0x13, scanT = 0x14; // F and G on the left hand
  const auto partNotes = [](const TBytes& notes) {
    TBytes parts;
    for (std::size_t i = 0; i + 2 < notes.size(); i += 3) {
      if ((notes[i] & 0x0F) >= 4 && (notes[i] & 0x0F) <= 6)
        parts.insert(parts.end(), {notes[i], notes[i + 1], notes[i + 2]});
    }
    return parts;
  };
  TKoPerformance& performance = form_->Performance();
  Metronome.SetTempo(300); // a sixteenth every 50 ms
  const std::size_t start = form_->Music()->CapturedBytes().size();
  performance.SetRecording(true);
  performance.SetAccompaniment(true);
  for (const int scan : {scanR, scanT}) {
    performance.KeyboardKey(scan, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(900)); // 18 sixteenths
    performance.KeyboardKey(scan, false);
  }
  performance.SetAccompaniment(false);
  performance.ToggleRecording();
  const TBytes all = form_->Music()->CapturedBytes();
  const TBytes recorded =
      partNotes(Notes(TBytes(all.begin() + static_cast<long>(start), all.end())));
  // Both chords' bass roots sounded (F 41, G 43).
  const auto bassPlayed = [&](std::uint8_t note) {
    for (std::size_t i = 0; i + 2 < recorded.size(); i += 3) {
      if (recorded[i] == 0x94 && recorded[i + 1] == note)
        return true;
    }
    return false;
  };
  EXPECT_TRUE(bassPlayed(41));
  EXPECT_TRUE(bassPlayed(43));

  TSimpleRecorder& recorder = form_->Recorder();
  const TBytes played = partNotes(WindowPlays(SongImage(recorder.Header, recorder.Events())));
  EXPECT_EQ(played, recorded);
  EXPECT_EQ(partNotes(ExportPlays()), recorded);
}

TEST_F(WindowPlaysTest, KeyDefinitionAndSmartSemitoneEventsExportTheNotesTheWindowPlays) {
  TSongHeader header = test::FreshSongHeader();
  // The key definition changes mid-song: Q a semitone up (as the quick edit does).
  TKeyDefTable raised = header.State.KeyDefs;
  const int q = KeyIndexOfScanCode(ScanQ);
  for (TKeyNote& note : raised.Keys[q].Notes) {
    if (NoteIsSet(note))
      NoteSemitoneUp(note);
  }
  TSimpleBuffer events;
  events.Add({0, 0, sekKeyDown, ScanQ});
  events.Add({100, 0, sekKeyUp, ScanQ});
  events.Add({110, 0, sekKeyDefs, 0}, &raised);
  events.Add({120, 0, sekKeyDown, ScanQ});
  events.Add({220, 0, sekKeyUp, ScanQ});
  events.Add({230, 0, sekSmartSemitone, 1});
  // With smart semitone on, the editing keys play the nearest sharps.
  for (std::int32_t scan : {0xD2, 0xC7, 0xC9, 0xD3, 0xCF, 0xD1}) {
    events.Add({240, 0, sekKeyDown, ScanE});
    events.Add({250, 0, sekKeyDown, scan});
    events.Add({300, 0, sekKeyUp, scan});
    events.Add({310, 0, sekKeyUp, ScanE});
  }
  events.Add({320, 0, sekSmartSemitone, 0});
  events.Add({330, 0, sekKeyDown, 0xD2});
  events.Add({380, 0, sekKeyUp, 0xD2});
  events.Add({390, 0, sekEnd, 0});
  const TBytes window = WindowPlays(SongImage(header, events));
  const TBytes exported = ExportPlays();
  EXPECT_EQ(exported, window);
  // Q sounds middle C, then C sharp after the change.
  ASSERT_GE(exported.size(), 12u);
  EXPECT_EQ(exported[1], 60);
  EXPECT_EQ(exported[7], 61);
}

TEST_F(WindowPlaysTest, TheWindowExportsMidiWithItsVoicesAndAudioOnAWorker) {
  const TSimpleBuffer events = TwoHandSong();
  const TSongHeader header = test::FreshSongHeader();
  ASSERT_EQ(ExportSongFromWindow(form_.get(), header, events, Path("w.mid")), TExportResult::Done);
  // The window's list has the guitar (patch 24) as voice 2: the right hand's
  // voice event becomes its program change.
  std::ifstream midi(Path("w.mid"), std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(midi), {}};
  EXPECT_EQ(bytes.substr(0, 4), "MThd");
  EXPECT_NE(bytes.find(std::string("\xC1\x18", 2)), std::string::npos);

  Config.UseExternalDLS = true;
  Config.ExternalDLSFileName = GmSoundFont;
  const TExportResult result = ExportSongFromWindow(form_.get(), header, events, Path("w.flac"));
  ASSERT_EQ(result, TExportResult::Done);
  SF_INFO info{};
  SNDFILE* file = sf_open(Path("w.flac").c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr);
  sf_close(file);
  EXPECT_GT(info.frames, Rate * 2);
  EXPECT_EQ(InstrumentList.Count, 4); // the window's list is left alone
}

TEST_F(WindowPlaysTest, TheWindowsVideoExportStopsAtItsProgressDialogsCancelLeavingNoFile) {
  Config.UseExternalDLS = true;
  Config.ExternalDLSFileName = GmSoundFont;
  bool cancelled = false;
  QTimer cancel;
  QObject::connect(&cancel, &QTimer::timeout, [&] {
    if (auto* progress = form_->findChild<QProgressDialog*>()) {
      progress->cancel();
      cancelled = true;
    }
  });
  cancel.start(0);
  EXPECT_EQ(
      ExportSongFromWindow(form_.get(), test::FreshSongHeader(), TwoHandSong(), Path("w.mp4")),
      TExportResult::Cancelled);
  EXPECT_TRUE(cancelled);
  // Only the sound set: no video, no temporary.
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("")), fs::directory_iterator()), 1);
}

TEST_F(SongExportTest, ASongReachingBeyondTwelveHoursWritesNothing) {
  TSimpleBuffer events;
  events.Add({0, 0, sekKeyDown, ScanQ});
  events.Add({0xFFFFFF00u, 0, sekKeyUp, ScanQ});
  for (const char* name : {"long.mid", "long.wav"}) {
    TExportTarget target;
    ASSERT_TRUE(ExportTargetOf(name, target));
    EXPECT_EQ(ExportSong(test::FreshSongHeader(), events, Path(name), target, GmSetup()),
              TExportResult::TooLong);
  }
  // The same time on a skipped event does not count.
  TSimpleBuffer skipped;
  skipped.Add({0, 0, sekKeyDown, ScanQ});
  skipped.Add({0xFFFFFF00u, 1, sekKeyUp, ScanQ});
  EXPECT_EQ(SongEndTime(skipped), 0u);
  EXPECT_TRUE(fs::is_empty(dir_.path().toStdString()));
}

} // namespace
} // namespace melo

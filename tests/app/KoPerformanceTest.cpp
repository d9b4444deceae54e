// The performance without a window: keys go in as scan codes, MIDI comes out
// as the short messages a collecting sink keeps, and what a view would show is
// noted by a view that only listens.

#include "app/KoPerformance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/SimpleRecorder.h"
#include "music/AutoAccomp.h"
#include "music/KoMetronome.h"
#include "sound/FavoriteVoices.h"

namespace melo {
namespace {

using TBytes = std::vector<std::uint8_t>;

// Scan codes.
enum : int {
  kEsc = 1,
  kDigit1 = 2,
  kDigit3 = 4,
  kBackspace = 14,
  kTab = 15,
  kQ = 16,
  kW = 17,
  kE = 18,
  kR = 19,
  kT = 20,
  kO = 24,
  kP = 25,
  kEnter = 28,
  kLCtrl = 29,
  kS = 31,
  kK = 37,
  kApostrophe = 40,
  kGrave = 41,
  kLShift = 42,
  kLAlt = 56,
  kNum8 = 72,
  kSpace = 57,
  kCapslock = 58,
  kF4 = 62,
  kPause = 197,
  kHome = 199,
  kUp = 200,
  kPageUp = 201,
  kEnd = 207,
  kPageDown = 209,
  kDelete = 211,
  kLWin = 219,
  kPower = 222,
  kSleep = 223,
  kWakeUp = 227,
};

class TCollectingSink final : public TMidiMessageSink {
public:
  bool SendMidiMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override {
    Bytes.insert(Bytes.end(), {status, data1, data2});
    return true;
  }
  TBytes Bytes;
};

// Pianos, two sound effects and a drum kit last.
class TTestVoices final : public TVoiceList {
public:
  int VoiceCount() const override { return static_cast<int>(Patches.size()); }
  std::uint32_t VoicePatch(int index) const override {
    return Patches[static_cast<std::size_t>(index)];
  }
  std::vector<std::uint32_t> Patches = {0, 1, 2, 126, 127, 0x80000000u};
};

// Notes what a view is told: texts by name, lit keys, hooks called.
class TListeningView final : public TPerformanceView {
public:
  void ShowTranspose(int, std::uint8_t keySignature, const std::string& text) override {
    Texts["transpose"] = text;
    KeySignature = keySignature;
  }
  void ShowOctave(int hand, int, const std::string& text) override {
    Texts[hand == 0 ? "left octave" : "right octave"] = text;
  }
  void ShowVelocity(int hand, const std::string& text) override {
    Texts[hand == 0 ? "left velocity" : "right velocity"] = text;
  }
  void ShowVoice(int hand, const std::string& text) override {
    Texts[hand == 0 ? "left voice" : "right voice"] = text;
  }
  void ShowPCKey(int keyIndex, std::uint8_t state) override { PCKeys[keyIndex] = state; }
  void ShowPianoKey(int hand, int note, std::uint8_t state) override {
    PianoKeys[hand * 1000 + note] = state;
  }
  void ShowStaff(const TKeyNote (&notes)[MaxKeyNotes], int) override {
    ++StaffDrawings;
    StaffNotes = 0;
    for (const TKeyNote& n : notes)
      StaffNotes += n.Degree != 0 ? 1 : 0;
  }
  void ClearStaff() override { Hooks.push_back("clear staff"); }
  void ShowChordName(const std::string& name) override { ChordNames.push_back(name); }
  void ReleasePianoKeys() override { Hooks.push_back("release piano"); }
  void RecordingChanged(bool on) override { Hooks.push_back(on ? "recording" : "not recording"); }
  void PlayingChanged(bool on) override { Hooks.push_back(on ? "playing" : "not playing"); }
  void CloseWindow() override { Hooks.push_back("close"); }
  void ShowAbout() override { Hooks.push_back("about"); }
  void OpenSong() override { Hooks.push_back("open"); }
  void EditSongInfo() override { Hooks.push_back("edit info"); }
  void SaveSongAs() override { Hooks.push_back("save as"); }
  void QuickSave() override { Hooks.push_back("quick save"); }
  void StepMasterVolume(int delta) override { Hooks.push_back("volume " + std::to_string(delta)); }
  void ToggleMousePedal() override { Hooks.push_back("mouse pedal"); }
  void BuildExternalVoiceLists() override { Hooks.push_back("external lists"); }
  bool StepExternalRightVoice(int step) override {
    Hooks.push_back("external right " + std::to_string(step));
    return true;
  }

  std::map<std::string, std::string> Texts;
  std::uint8_t KeySignature = 255;
  std::map<int, std::uint8_t> PCKeys;
  std::map<int, std::uint8_t> PianoKeys;
  int StaffNotes = -1;
  int StaffDrawings = 0;
  std::vector<std::string> Hooks;
  std::vector<std::string> ChordNames;
};

class KoPerformanceTest : public ::testing::Test {
protected:
  KoPerformanceTest() : Recorder([this] { return Tick; }) {
    Perf.SetView(&View);
    Perf.SetSink(&Sink);
    Perf.SetVoices(&Voices);
    Perf.SetRecorder(&Recorder);
    Perf.SetAccomp(&Accomp);
    Perf.SetTickSource([this] { return Tick; });
    Perf.SetRightVoice(0);
    Perf.SetLeftVoice(0);
    Mark();
  }
  ~KoPerformanceTest() override { Perf.ResetPerformance(); }

  void Press(int scan) { Perf.WMDIKeyDown(scan, KeyIndexOfScanCode(scan)); }
  void Release(int scan) { Perf.WMDIKeyUp(scan, KeyIndexOfScanCode(scan)); }
  void Tap(int scan) {
    Press(scan);
    Release(scan);
  }
  void With(int modifier, int scan) {
    Press(modifier);
    Tap(scan);
    Release(modifier);
  }
  void With(int m1, int m2, int scan) {
    Press(m1);
    With(m2, scan);
    Release(m1);
  }
  void Mark() { Start = Sink.Bytes.size(); }
  TBytes Sent() const {
    return TBytes(Sink.Bytes.begin() + static_cast<std::ptrdiff_t>(Start), Sink.Bytes.end());
  }
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

  std::uint32_t Tick = 100000;
  TCollectingSink Sink;
  TTestVoices Voices;
  TListeningView View;
  TSimpleRecorder Recorder;
  TAutoAccomp Accomp;
  TKoPerformance Perf;
  std::size_t Start = 0;
};

TEST_F(KoPerformanceTest, NoteKeysSoundLightAndShowTheirNotes) {
  Press(kQ);
  EXPECT_EQ(Sent(), (TBytes{0x90, 60, 70}));
  EXPECT_EQ(View.PianoKeys[60], 1);
  EXPECT_EQ(View.PCKeys[KeyIndexOfScanCode(kQ)], 1);
  EXPECT_EQ(View.StaffNotes, 1);
  EXPECT_TRUE(Perf.KeyState().IsDown(kQ));
  Release(kQ);
  EXPECT_EQ(Sent(), (TBytes{0x90, 60, 70, 0x80, 60, 64}));
  EXPECT_EQ(View.PianoKeys[60], 0);
  EXPECT_EQ(View.PCKeys[KeyIndexOfScanCode(kQ)], 0);
  EXPECT_EQ(View.StaffNotes, 0);
}

TEST_F(KoPerformanceTest, KeyboardKeysCountOncePerPressAndKeysWithoutIndexNever) {
  Perf.KeyboardKey(kQ, true);
  Perf.KeyboardKey(kQ, true);   // a repeat
  Perf.KeyboardKey(0x54, true); // SysRq: no key index
  Perf.KeyboardKey(kQ, false);
  Perf.KeyboardKey(kQ, false);
  EXPECT_EQ(Sent(), (TBytes{0x90, 60, 70, 0x80, 60, 64}));
  EXPECT_FALSE(Perf.KeyState().IsPressed(0x54));
}

TEST_F(KoPerformanceTest, ReleasingTheKeyboardReleasesEveryPressedKey) {
  Perf.KeyboardKey(kQ, true);
  Perf.KeyboardKey(kLCtrl, true);
  Perf.ReleaseKeyboard();
  EXPECT_EQ(Sent(), (TBytes{0x90, 60, 70, 0x80, 60, 64}));
  EXPECT_EQ(Perf.KeyState().ShiftState(), 0);
  Mark();
  Perf.KeyboardKey(kQ, false); // already let go
  EXPECT_TRUE(Sent().empty());
}

TEST_F(KoPerformanceTest, NotebookModeKPlaysNumOneAndRecordsScanCode79) {
  // By default K plays the left hand's middle C, Num-1 the right hand's.
  ASSERT_TRUE(NoteIsLeft(Perf.KeyDefTable().Keys[KeyIndexOfScanCode(kK)].Notes[0]));
  ASSERT_FALSE(NoteIsLeft(Perf.KeyDefTable().Keys[KeyIndexOfScanCode(79)].Notes[0]));
  Perf.SetNotebookMode(true);
  With(kLCtrl, kR);
  ASSERT_TRUE(Perf.Recording());
  Mark();
  Tap(kK);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x91, 60, 100, 0x81, 60, 64}));
  const TSimpleBuffer& events = Recorder.Events();
  ASSERT_EQ(events.Count(), 2u);
  EXPECT_EQ(events[0].Kind, sekKeyDown);
  EXPECT_EQ(std::int32_t{events[0].Data}, 79);
  EXPECT_EQ(events[1].Kind, sekKeyUp);
  EXPECT_EQ(std::int32_t{events[1].Data}, 79);
}

TEST_F(KoPerformanceTest, TransposeWrapsOctavesCycleAndTheTextsFollow) {
  for (int i = 0; i < 8; ++i)
    With(kLCtrl, kHome);
  EXPECT_EQ(Perf.Transpose(), -4);
  EXPECT_EQ(View.Texts["transpose"], "1=bA (-4)");
  EXPECT_EQ(View.KeySignature, 11);
  With(kLCtrl, kEnd);
  EXPECT_EQ(Perf.Transpose(), 7);
  Perf.SetTranspose(2);
  EXPECT_EQ(View.Texts["transpose"], "1=D (+2)");
  Perf.SetTranspose(-16);
  EXPECT_EQ(Perf.Transpose(), -4);

  std::vector<std::string> right;
  for (int i = 0; i < 3; ++i) {
    Tap(kGrave);
    right.push_back(View.Texts["right octave"]);
  }
  EXPECT_EQ(right, (std::vector<std::string>{"+1", "-1", "0"}));
  std::vector<int> left;
  for (int i = 0; i < 3; ++i) {
    With(kLShift, kGrave);
    left.push_back(Perf.LeftOctave());
  }
  EXPECT_EQ(left, (std::vector<int>{-1, 1, 0}));
  Perf.SetRightVelocity(125);
  With(kLCtrl, 210); // Insert
  EXPECT_EQ(View.Texts["right velocity"], "127");
}

TEST_F(KoPerformanceTest, QuickSecondSpaceSwitchesThePeriodPedalAndTheTimerRenewsIt) {
  Tap(kSpace);
  EXPECT_EQ(Sent(), (TBytes{0xB0, 64, 127, 0xB0, 64, 0}));
  Tick += 400;
  Mark();
  Tap(kSpace);
  EXPECT_TRUE(Perf.PeriodPedal());
  EXPECT_EQ(Sent(), (TBytes{0xB0, 64, 127, 0xB0, 64, 0}));
  Mark();
  Perf.RenewPeriodPedal();
  EXPECT_EQ(Sent(), (TBytes{0xB0, 64, 0, 0xB0, 64, 127}));
  Tick += 600;
  Mark();
  Press(kSpace);
  EXPECT_TRUE(Perf.PeriodPedal());
  EXPECT_EQ(Sent(), (TBytes{0xB0, 64, 127}));
}

TEST_F(KoPerformanceTest, SmartSemitoneKeysPlayTheNearestSharp) {
  Tap(kPause);
  ASSERT_TRUE(Perf.SmartSemitone());
  // The definition names them as sharps, for the PC-keyboard picture.
  EXPECT_EQ(Perf.KeyDefTable().Keys[KeyIndexOfScanCode(kEnd)].Notes[0].Accidental, 1);
  Mark();
  Tap(kEnd);
  Tap(kDelete);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x91, 61, 100, 0x81, 61, 64, 0x91, 63, 100, 0x81, 63, 64}));
  TKeyDefTable table = Perf.KeyDefTable();
  table.Keys[KeyIndexOfScanCode(kUp)].Notes[0] = TKeyNote{1, 0, 5, 1, 0};
  Perf.SetKeyDefs(table);
  Tap(kUp);
  Mark();
  Tap(kEnd);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x91, 73, 100, 0x81, 73, 64}));
  // After 67, 61 and 73 lie 6 away each: the tie takes the lower note.
  Perf.ExternalNote(67, 100);
  Perf.ExternalNote(67, 0);
  Mark();
  Tap(kEnd);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x91, 61, 100, 0x81, 61, 64}));
}

// A note the smart semitone or an effect voice moves off 0..127 is not sent:
// cut to a byte it would sound at a wrong pitch or not be MIDI at all.
TEST_F(KoPerformanceTest, NotesMovedOffTheMidiRangeAreNotPlayed) {
  // The smart semitone takes the sharp nearest the last right-hand note: near
  // the bottom, with the transposition down, that is below note 0.
  Perf.ExternalNote(1, 100);
  Perf.ExternalNote(1, 0);
  Perf.SetTranspose(-4);
  Tap(kPause);
  ASSERT_TRUE(Perf.SmartSemitone());
  Mark();
  Tap(kEnd);
  EXPECT_TRUE(Notes(Sent()).empty());
  EXPECT_EQ(View.PianoKeys.count(1000 - 3), 0u);
  Tap(kPause);

  // An effect voice undoes the transposition: B9 transposed down sounds as
  // 127, but as itself it is 131.
  TKeyDefTable table = Perf.KeyDefTable();
  table.Keys[KeyIndexOfScanCode(kW)].NoteCount = 1;
  table.Keys[KeyIndexOfScanCode(kW)].Notes[0] = TKeyNote{7, 0, 9, 1, 0};
  Perf.SetKeyDefs(table);
  Perf.SetRightVoice(0);
  Mark();
  Tap(kW);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x91, 127, 100, 0x81, 127, 64}));
  Perf.SetRightVoice(4); // program 127
  Mark();
  Tap(kW);
  EXPECT_TRUE(Notes(Sent()).empty());
  // The key still plays its other notes.
  table.Keys[KeyIndexOfScanCode(kW)].NoteCount = 2;
  table.Keys[KeyIndexOfScanCode(kW)].Notes[1] = TKeyNote{1, 0, 4, 1, 0};
  Perf.SetKeyDefs(table);
  Mark();
  Tap(kW);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x91, 60, 100, 0x81, 60, 64}));
}

// Silencing forgets what sounded: a key released afterwards sends nothing.
TEST_F(KoPerformanceTest, ResetForgetsTheNotesItSilenced) {
  Press(kQ);
  Press(kW);
  Perf.ResetPerformance({false, true, false, false, false, false, false, false});
  EXPECT_TRUE(Perf.KeyState().IsDown(kQ));
  Mark();
  Release(kQ);
  Release(kW);
  EXPECT_TRUE(Notes(Sent()).empty());
  // Pressed again, the key sounds and stops as usual.
  Tap(kQ);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x90, 60, 70, 0x80, 60, 64}));
}

TEST_F(KoPerformanceTest, DrumKeysPlayPercussionLiveAndOnlyFromTheRawMidiInPlayback) {
  Accomp.SetAPercussVolume(90);
  With(kLCtrl, kR);
  Mark();
  Tap(kApostrophe);
  EXPECT_EQ(Sent(), (TBytes{0x99, 36, 90, 0x89, 36, 64}));
  With(kLCtrl, kR);
  // The song holds the key and the raw MIDI; played back, the drum sounds once.
  TKoPerformance player;
  TCollectingSink sink;
  player.SetSink(&sink);
  player.SetVoices(&Voices);
  player.SetPlaying(true);
  const TSimpleBuffer& events = Recorder.Events();
  for (std::size_t i = 0; i < events.Count(); ++i)
    player.PlayEvent(events[i].Kind, events[i].Data, events.KeyDefs(i));
  EXPECT_EQ(Notes(sink.Bytes), (TBytes{0x99, 36, 90, 0x89, 36, 64}));
}

TEST_F(KoPerformanceTest, SoundEffectVoicesIgnoreTransposeButKeepTheOctave) {
  Perf.SetLeftVoice(3); // program 126
  Perf.SetTranspose(2);
  Perf.SetLeftOctave(1);
  Mark();
  Tap(kQ);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x90, 72, 70, 0x80, 72, 64}));
  Perf.SetLeftVoice(0);
  Mark();
  Tap(kQ);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x90, 74, 70, 0x80, 74, 64}));
}

TEST_F(KoPerformanceTest, ReleaseStopsTheNotesThePressStartedWhateverChangedOrIsHeld) {
  Press(kQ);
  With(kLCtrl, kHome);
  With(kLShift, kGrave);
  Release(kQ);
  Press(kW);
  Press(kLWin);
  Release(kW);
  Release(kLWin);
  Press(kQ);
  Press(kLCtrl);
  Release(kQ);
  Release(kLCtrl);
  // W and Q sound a semitone up and an octave down after the changes.
  EXPECT_EQ(Notes(Sent()), (TBytes{0x90, 60, 70, 0x80, 60, 64, 0x90, 51, 70, 0x80, 51, 64, 0x90, 49,
                                   70, 0x80, 49, 64}));
}

TEST_F(KoPerformanceTest, EscapeReleasesPedalsThenSilencesAndClearsEverything) {
  Press(kQ);
  Tap(kPause);
  Mark();
  Tap(kEsc);
  EXPECT_EQ(Sent(), (TBytes{0xB0, 64, 0, 0xB1, 64, 0, 0xB0, 123, 0, 0xB1, 123, 0, 0xB0, 120, 0,
                            0xB1, 120, 0}));
  EXPECT_FALSE(Perf.KeyState().IsDown(kQ));
  EXPECT_FALSE(Perf.SmartSemitone());
  EXPECT_EQ(View.Hooks, (std::vector<std::string>{"release piano", "clear staff"}));
  Mark();
  Release(kQ); // the panic forgot the note: nothing left to stop
  EXPECT_TRUE(Notes(Sent()).empty());
}

TEST_F(KoPerformanceTest, FunctionKeysSelectFavouriteVoicesAndAltF4Closes) {
  SetFavoriteVoicePatch(FavoriteVoices[3], 2);
  SetFavoriteVoicePatch(FavoriteVoices[12 + 3], 1);
  Tap(kF4);
  EXPECT_EQ(Perf.RightVoiceIndex(), 2);
  EXPECT_EQ(Sent(), (TBytes{0xB1, 0, 0, 0xB1, 32, 0, 0xC1, 2, 0}));
  With(kLShift, kF4);
  EXPECT_EQ(Perf.LeftVoiceIndex(), 1);
  With(kLAlt, kF4);
  EXPECT_EQ(Perf.RightVoiceIndex(), 2);
  EXPECT_EQ(View.Hooks, (std::vector<std::string>{"close"}));
  // Old bank-64 patches map onto General MIDI.
  Voices.Patches = {0, 49};
  Perf.SetRightVoiceByPatch(64u << 16 | 7);
  EXPECT_EQ(Perf.RightVoiceIndex(), 1);
}

TEST_F(KoPerformanceTest, TabStepsTheVoicesOrTheExternalListWithAnExternalSet) {
  Tap(kTab);
  EXPECT_EQ(Perf.RightVoiceIndex(), 1);
  Perf.SetRightVoice(Voices.VoiceCount() - 1);
  Tap(kTab);
  EXPECT_EQ(Perf.RightVoiceIndex(), 0);
  With(kLShift, kTab);
  EXPECT_EQ(Perf.LeftVoiceIndex(), 1);
  Perf.SetUseExternalDLS(true);
  Tap(kTab);
  With(kLShift, kTab);
  EXPECT_EQ(Perf.RightVoiceIndex(), 0);
  EXPECT_EQ(View.Hooks, (std::vector<std::string>{"external right 1", "external right -1"}));
  // A view without external lists leaves Tab stepping the instrument list.
  TPerformanceView plain;
  Perf.SetView(&plain);
  Tap(kTab);
  EXPECT_EQ(Perf.RightVoiceIndex(), 1);
  Perf.SetView(&View);
}

TEST_F(KoPerformanceTest, OneTouchSlotsStoreRecallAndCycle) {
  Perf.SetTranspose(2);
  With(kLCtrl, kLShift, kDigit1);
  Perf.SetTranspose(5);
  Perf.SetRightVelocity(30);
  With(kLCtrl, kLShift, kDigit3);
  Perf.SetTranspose(0);
  With(kLCtrl, kDigit1);
  EXPECT_EQ(Perf.Transpose(), 2);
  EXPECT_EQ(Perf.RightVelocity(), 100);
  std::vector<int> cycle;
  for (int i = 0; i < 3; ++i) {
    Tap(kCapslock);
    cycle.push_back(Perf.Transpose());
  }
  EXPECT_EQ(cycle, (std::vector<int>{2, 5, 2}));
  With(kLCtrl, kLShift, kCapslock);
  Perf.SetTranspose(1);
  Tap(kCapslock);
  EXPECT_EQ(Perf.Transpose(), 1);
  for (int i = 0; i < 10; ++i)
    With(kLCtrl, kCapslock);
  Perf.SetTranspose(3);
  With(kLCtrl, kCapslock); // all ten in use: nothing stored
  EXPECT_EQ(Perf.OneTouch(9).Transpose, 1);
}

// What the window plays when a song is played back, an offline player plays
// too: the same notes in the same order from the same start state.
TEST_F(KoPerformanceTest, ASongPlayedThroughAnotherPerformanceRepeatsTheNotes) {
  Perf.SetTranspose(3);
  Perf.SetRightVoice(2);
  With(kLCtrl, kR);
  Mark();
  Press(kQ);
  With(kLCtrl, kHome);
  Press(kW);
  Release(kQ);
  Tap(kGrave);
  Tap(kK);
  Press(kLWin);
  Tap(kW); // raises W's definition: a key-definition event
  Release(kLWin);
  Release(kW);
  Tap(kW);
  With(kLCtrl, kR);
  const TBytes live = Notes(Sent());
  ASSERT_EQ(Recorder.Events()[Recorder.Events().Count() - 1].Kind, sekEnd);

  TKoPerformance player;
  TCollectingSink sink;
  player.SetSink(&sink);
  player.SetVoices(&Voices);
  player.SetPlaying(true);
  player.ApplySongState(Recorder.Header.State);
  EXPECT_EQ(player.Transpose(), 3);
  EXPECT_EQ(player.RightVoiceIndex(), 2);
  const std::size_t start = sink.Bytes.size();
  const TSimpleBuffer& events = Recorder.Events();
  for (std::size_t i = 0; i < events.Count(); ++i)
    player.PlayEvent(events[i].Kind, events[i].Data, events.KeyDefs(i));
  EXPECT_EQ(
      Notes(TBytes(sink.Bytes.begin() + static_cast<std::ptrdiff_t>(start), sink.Bytes.end())),
      live);
}

TEST_F(KoPerformanceTest, DuringPlaybackOnlyEscapeAndPowerAreObeyed) {
  With(kLCtrl, kP);
  ASSERT_TRUE(Perf.Playing());
  Tap(kQ);
  EXPECT_TRUE(Notes(Sent()).empty());
  Tap(kEsc);
  EXPECT_FALSE(Perf.Playing());
  Mark();
  Tap(kQ);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x90, 60, 70, 0x80, 60, 64}));
  Press(kSleep);
  EXPECT_TRUE(Perf.Playing());
  EXPECT_FALSE(Perf.LoopPlay());
  Press(kPower);
  EXPECT_FALSE(Perf.Playing());
  With(kLShift, kSleep);
  EXPECT_TRUE(Perf.LoopPlay());
  EXPECT_TRUE(Perf.Playing());
}

TEST_F(KoPerformanceTest, HoldingAWindowsKeyRespellsNoteKeysInsteadOfPlaying) {
  With(kLCtrl, kR);
  Press(kLWin);
  Tap(kQ);
  EXPECT_TRUE(Notes(Sent()).empty());
  Release(kLWin);
  Tap(kQ);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x90, 61, 70, 0x80, 61, 64}));
  ASSERT_GE(Recorder.Events().Count(), 1u);
  EXPECT_EQ(Recorder.Events()[0].Kind, sekKeyDefs);
  EXPECT_EQ(Recorder.Events().KeyDefs(0)->Keys[KeyIndexOfScanCode(kQ)].Notes[0].Accidental, 1);
}

TEST_F(KoPerformanceTest, AccompanimentKeys) {
  With(kLAlt, kDigit3);
  EXPECT_EQ(Accomp.AccompStyleIndex(), 2);
  Accomp.SetAPercussVolume(125);
  With(kLCtrl, kLShift, kHome);
  EXPECT_EQ(Accomp.APercussVolume(), 127);
  const double tempo = Metronome.Tempo();
  With(kLCtrl, kLShift, kPageUp);
  EXPECT_NEAR(Metronome.Tempo(), tempo * 1.05, 0.01);
  Tap(kEnter);
  EXPECT_TRUE(Perf.AccompRunning());
  EXPECT_TRUE(Metronome.Running());
  EXPECT_GE(Metronome.IndexOfClient("NewSecondAndNewBeat"), 0);
  Tap(kEnter);
  EXPECT_FALSE(Perf.AccompRunning());
  EXPECT_LT(Metronome.IndexOfClient("NewSecondAndNewBeat"), 0);
}

// Left-hand keys (Q is C, E is E, T is G) hand their chord to the running
// accompaniment; right-hand keys and a stopped accompaniment change nothing.
TEST_F(KoPerformanceTest, TheLeftHandsChordGoesToTheAccompaniment) {
  Tap(kE);
  EXPECT_TRUE(View.ChordNames.empty());
  Tap(kEnter);
  Tap(kE);
  Tap(kNum8); // a right-hand key
  Press(kT);
  Press(kE);
  EXPECT_EQ(View.ChordNames, (std::vector<std::string>{"C", "Em", "G", "Em"}));
  Release(kT);
  Release(kE);

  View.ChordNames.clear();
  Perf.SetAccompMode(true, true);
  EXPECT_FALSE(Accomp.MelodicParts());
  Tap(kEnter);
  Tap(kEnter);
  Press(kE);
  Press(kT); // E and G name no chord: E major stays
  Press(kQ);
  EXPECT_EQ(View.ChordNames, (std::vector<std::string>{"", "C", "E", "C"}));
  Tap(kEsc);
  EXPECT_EQ(View.ChordNames.back(), "");
  EXPECT_FALSE(Perf.AccompRunning());
}

TEST_F(KoPerformanceTest, WakeUpRecordsPowerSwitchesSmartSemitone) {
  Tap(kWakeUp);
  EXPECT_TRUE(Perf.Recording());
  EXPECT_FALSE(Perf.KeyState().IsDown(kWakeUp));
  Tap(kQ);
  Tap(kWakeUp);
  EXPECT_FALSE(Perf.Recording());
  EXPECT_EQ(Recorder.Events().Count(), 3u);
  EXPECT_EQ(View.Hooks, (std::vector<std::string>{"recording", "not recording"}));
  Tap(kPower);
  EXPECT_TRUE(Perf.SmartSemitone());
}

TEST_F(KoPerformanceTest, KeysThatNeedTheWindowGoToItsHooks) {
  With(kLCtrl, kO);
  With(kLCtrl, kLShift, kO);
  With(kLCtrl, kS);
  With(kLCtrl, kLShift, kS);
  With(kLCtrl, kEsc);
  With(kLCtrl, kPageUp);
  With(kLCtrl, kPageDown);
  With(kLCtrl, kEnter);
  With(kLAlt, kBackspace);
  EXPECT_EQ(View.Hooks,
            (std::vector<std::string>{"open", "edit info", "save as", "quick save", "about",
                                      "volume 5", "volume -5", "mouse pedal", "external lists"}));
  EXPECT_FALSE(Perf.AccompRunning());
  EXPECT_TRUE(Sent().empty());
}

TEST_F(KoPerformanceTest, ExternalNotesSoundOnTheRightHandAndRecordRawMidi) {
  With(kLCtrl, kR);
  Mark();
  Perf.ExternalNote(64, 99);
  EXPECT_EQ(View.PianoKeys[1064], 1);
  Perf.ExternalNote(64, 0);
  EXPECT_EQ(View.PianoKeys[1064], 0);
  Perf.ExternalNote(128, 99); // off the MIDI range: ignored
  EXPECT_EQ(Sent(), (TBytes{0x91, 64, 99, 0x81, 64, 64}));
  ASSERT_EQ(Recorder.Events().Count(), 2u);
  EXPECT_EQ(std::int32_t{Recorder.Events()[0].Data}, 0x91 << 16 | 64 << 8 | 99);
  EXPECT_EQ(std::int32_t{Recorder.Events()[1].Data}, 0x81 << 16 | 64 << 8 | 64);
}

// A practice session reads a key's notes without pressing it and hears those it plays.
TEST_F(KoPerformanceTest, EveryKeyTellsItsListenerTheNotesKeySoundingNotesNames) {
  TKeyDefTable table = Perf.KeyDefTable();
  TKeyDef& t = table.Keys[KeyIndexOfScanCode(kT)];
  t.NoteCount = 3;
  t.Notes[0] = {1, 0, 4, LeftHand, 0};
  t.Notes[1] = {3, 0, 4, RightHand, 0};
  t.Notes[2] = {1, 0, 4, RightHand, 0};
  Perf.SetKeyDefs(table);
  Perf.SetTranspose(2);
  Perf.SetLeftOctave(-1);
  Perf.SetRightOctave(1);
  std::vector<int> heard;
  Perf.SetNoteListener([&heard](int note) { heard.push_back(note); });
  EXPECT_EQ(KeySoundingNotes(Perf.Values(), KeyIndexOfScanCode(kT)),
            (std::vector<int>{50, 74, 78}));
  for (int key = 0; key < KeyCount; ++key) {
    heard.clear();
    if (KeyDefHasNotes(Perf.KeyDefTable().Keys[key])) {
      Perf.DoNoteOn(key);
      Perf.DoNoteOff(key);
    }
    std::ranges::sort(heard);
    EXPECT_EQ(heard, KeySoundingNotes(Perf.Values(), key))
        << KeyNames[static_cast<std::size_t>(key)];
  }
  heard.clear();
  Perf.ExternalNote(64, 99);
  Perf.ExternalNote(64, 0);
  EXPECT_EQ(heard, std::vector<int>{64});
}

TEST_F(KoPerformanceTest, PlayedAlongMessagesSoundAndAreRecordedButAreNoPlayersNotes) {
  std::vector<int> heard;
  Perf.SetNoteListener([&heard](int note) { heard.push_back(note); });
  With(kLCtrl, kR);
  Mark();
  Perf.PlayAlongMessage(0x92, 40, 90);
  EXPECT_EQ(Sent(), (TBytes{0x92, 40, 90}));
  ASSERT_EQ(Recorder.Events().Count(), 1u);
  EXPECT_EQ(std::int32_t{Recorder.Events()[0].Data}, 0x92 << 16 | 40 << 8 | 90);
  EXPECT_TRUE(heard.empty());
}

TEST_F(KoPerformanceTest, ResetBeforeADialogKeepsAccompanimentAndRecordingGoing) {
  With(kLCtrl, kR);
  Tap(kEnter);
  ASSERT_TRUE(Perf.AccompRunning());
  Press(kQ);
  Mark();
  Perf.ResetPerformance(ResetForDialog);
  EXPECT_TRUE(Perf.AccompRunning());
  EXPECT_TRUE(Perf.Recording());
  EXPECT_FALSE(Perf.KeyState().IsDown(kQ));
  EXPECT_EQ(Sent(), (TBytes{0xB0, 123, 0, 0xB1, 123, 0, 0xB0, 120, 0, 0xB1, 120, 0}));
  Perf.ResetPerformance();
  EXPECT_FALSE(Perf.AccompRunning());
  EXPECT_FALSE(Perf.Recording());
  const TSimpleBuffer& events = Recorder.Events();
  EXPECT_EQ(events[events.Count() - 1].Kind, sekEnd);
  // Stopped while recording, the accompaniment leaves the window's client in.
  EXPECT_TRUE(Metronome.RemoveClient("NewSecondAndNewBeat"));
}

TEST_F(KoPerformanceTest, MousePedalAndExternalVoicesAreRecordedLikeTheirKeys) {
  With(kLCtrl, kR);
  Mark();
  Perf.MousePedal(true);
  Perf.SetExternalVoice(0, 0x00010203u);
  Perf.SetExternalVoice(1, 5);
  EXPECT_EQ(Sent(), (TBytes{0xB0, 64, 127, 0xB1, 64, 127, 0xB0, 0,  1, 0xB0, 32, 2,
                            0xC0, 3,  0,   0xB1, 0,  0,   0xB1, 32, 0, 0xC1, 5,  0}));
  EXPECT_EQ(Perf.Patch(0), 0x00010203u);
  const TSimpleBuffer& events = Recorder.Events();
  ASSERT_EQ(events.Count(), 4u);
  EXPECT_EQ(events[0].Kind, sekLeftSustain);
  EXPECT_EQ(events[1].Kind, sekRightSustain);
  EXPECT_EQ(events[2].Kind, sekLeftVoice);
  EXPECT_EQ(std::int32_t{events[2].Data}, 0x00010203);
  EXPECT_EQ(events[3].Kind, sekRightVoice);
}

// Whoever calls a setter while recording, the setter records what it set, once.
TEST_F(KoPerformanceTest, EverySetterRecordsTheValueItSet) {
  struct TCase {
    std::function<void()> Set;
    std::uint8_t Kind;
    std::int32_t Data;
  };
  const TCase cases[] = {
      {[&] { Perf.SetTranspose(9); }, sekTranspose, -3},
      {[&] { Perf.SetLeftOctave(-1); }, sekLeftOctave, -1},
      {[&] { Perf.SetRightOctave(5); }, sekRightOctave, 1},
      {[&] { Perf.SetLeftVelocity(40); }, sekLeftVelocity, 40},
      {[&] { Perf.SetRightVelocity(200); }, sekRightVelocity, 127},
      {[&] { Perf.SetLeftVoice(1); }, sekLeftVoice, 1},
      {[&] { Perf.SetRightVoice(2); }, sekRightVoice, 2},
      {[&] { Perf.SetLeftSustain(true); }, sekLeftSustain, -1},
      {[&] { Perf.SetRightSustain(false); }, sekRightSustain, 0},
      {[&] { Perf.SetPeriodPedal(true); }, sekLeftSustain, -1},
      {[&] { Perf.SetSmartSemitone(true); }, sekSmartSemitone, 1},
      {[&] { Perf.SetKeyDefs(Perf.KeyDefTable()); }, sekKeyDefs, 0},
  };
  With(kLCtrl, kR);
  const TSimpleBuffer& events = Recorder.Events();
  for (const TCase& c : cases) {
    const std::size_t before = events.Count();
    c.Set();
    ASSERT_EQ(events.Count(), before + 1) << int{c.Kind};
    EXPECT_EQ(events[before].Kind, c.Kind);
    EXPECT_EQ(std::int32_t{events[before].Data}, c.Data) << int{c.Kind};
  }
}

TEST_F(KoPerformanceTest, AOneTouchRecallRecordsItsVoicesOnly) {
  Perf.SetTranspose(2);
  Perf.SetRightVoice(1);
  With(kLCtrl, kLShift, kDigit1);
  With(kLCtrl, kR);
  With(kLCtrl, kDigit1);
  const TSimpleBuffer& events = Recorder.Events();
  ASSERT_EQ(events.Count(), 2u);
  EXPECT_EQ(events[0].Kind, sekLeftVoice);
  EXPECT_EQ(events[1].Kind, sekRightVoice);
  EXPECT_EQ(Perf.Transpose(), 2);
}

TEST_F(KoPerformanceTest, QuickEditChangesThePerformancesKeyDefinitionUntilTheWindowsKeyIsUp) {
  const int q = KeyIndexOfScanCode(kQ);
  Press(kLWin);
  Tap(kQ);
  Release(kLWin);
  EXPECT_EQ(Perf.KeyDefTable().Keys[q].Notes[0].Accidental, 1);
  EXPECT_EQ(Perf.QuickEdit(), 0);
}

TEST_F(KoPerformanceTest, MidiKeyboardPlaysTheRightHandTransposedLitAndShown) {
  Perf.SetTranspose(2);
  Mark();
  const std::uint8_t on[] = {0x93, 60, 45};
  Perf.MidiInMessage(on, 3);
  EXPECT_EQ(Sent(), (TBytes{0x91, 62, 45}));
  EXPECT_EQ(View.PianoKeys[1062], 1);
  EXPECT_EQ(View.StaffNotes, 1);
  Press(kQ); // PC keys and the MIDI keyboard share the staff
  EXPECT_EQ(View.StaffNotes, 2);
  Release(kQ);
  Perf.SetTranspose(-1); // the release still stops the note its press sounded
  Mark();
  const std::uint8_t off[] = {0x83, 60, 10};
  Perf.MidiInMessage(off, 3);
  EXPECT_EQ(Sent(), (TBytes{0x81, 62, 64}));
  EXPECT_EQ(View.PianoKeys[1062], 0);
  EXPECT_EQ(View.StaffNotes, 0);
  // Sound effects ignore the transposition, as they do for the keys.
  Perf.SetRightVoice(3);
  Mark();
  Perf.MidiInMessage(on, 3);
  EXPECT_EQ(Notes(Sent()), (TBytes{0x91, 60, 45}));
}

TEST_F(KoPerformanceTest, RawNotesOfASongWithoutKeyPressesLightTheirKeyboardAndShowOnTheStaff) {
  TSimpleBuffer keys;
  keys.Add({0, 0, sekRawMidi, 0x90 << 16 | 60 << 8 | 100});
  EXPECT_TRUE(SongHasNoKeyPresses(keys));
  keys.Add({5, 0, sekKeyDown, kQ});
  EXPECT_FALSE(SongHasNoKeyPresses(keys));

  for (const bool show : {false, true}) {
    View.PianoKeys.clear();
    View.StaffNotes = -1;
    Perf.SetShowRawNotes(show);
    Mark();
    Perf.PlayEvent(sekRawMidi, 0x90 << 16 | 60 << 8 | 100, nullptr); // the left hand's channel
    Perf.PlayEvent(sekRawMidi, 0x93 << 16 | 64 << 8 | 90, nullptr);
    Perf.PlayEvent(sekRawMidi, 0x99 << 16 | 36 << 8 | 90, nullptr); // drums: no key
    EXPECT_EQ(Sent(), (TBytes{0x90, 60, 100, 0x93, 64, 90, 0x99, 36, 90}));
    const std::map<int, std::uint8_t> lit{{60, 1}, {1064, 1}};
    EXPECT_EQ(View.PianoKeys, (show ? lit : decltype(lit){}));
    EXPECT_EQ(View.StaffNotes, show ? 2 : -1);
    Perf.PlayEvent(sekRawMidi, 0x90 << 16 | 60 << 8 | 0, nullptr); // velocity 0: off
    Perf.PlayEvent(sekRawMidi, 0x83 << 16 | 64 << 8 | 0, nullptr);
    EXPECT_EQ(View.StaffNotes, show ? 0 : -1);
    EXPECT_EQ(View.PianoKeys[60] + View.PianoKeys[1064], 0);
  }
}

TEST_F(KoPerformanceTest, MidiKeyboardIsRecordedAsRawMidiAndPlaysBackTheSameNotes) {
  With(kLCtrl, kR);
  Mark();
  const std::vector<TBytes> played = {{0x90, 64, 99}, {0xB0, 64, 127}, {0xE0, 0, 80},
                                      {0x90, 67, 50}, {0x80, 64, 0},   {0x90, 67, 0},
                                      {0xB0, 64, 0}};
  for (const TBytes& m : played)
    Perf.MidiInMessage(m.data(), static_cast<int>(m.size()));
  With(kLCtrl, kR);
  const TBytes live = Sent();
  EXPECT_EQ(Notes(live), (TBytes{0x91, 64, 99, 0x91, 67, 50, 0x81, 64, 64, 0x81, 67, 64}));
  const TSimpleBuffer& events = Recorder.Events();
  std::vector<std::uint8_t> kinds;
  for (std::size_t i = 0; i < events.Count(); ++i)
    kinds.push_back(events[i].Kind);
  EXPECT_EQ(kinds, (std::vector<std::uint8_t>{sekRawMidi, sekRightSustain, sekRawMidi, sekRawMidi,
                                              sekRawMidi, sekRawMidi, sekRightSustain, sekEnd}));

  TKoPerformance player;
  TCollectingSink sink;
  player.SetSink(&sink);
  player.SetVoices(&Voices);
  player.SetPlaying(true);
  player.ApplySongState(Recorder.Header.State);
  const std::size_t start = sink.Bytes.size();
  for (std::size_t i = 0; i < events.Count(); ++i)
    player.PlayEvent(events[i].Kind, events[i].Data, events.KeyDefs(i));
  EXPECT_EQ(TBytes(sink.Bytes.begin() + static_cast<std::ptrdiff_t>(start), sink.Bytes.end()),
            live);
}

TEST_F(KoPerformanceTest, ABurstFromTheMidiKeyboardIsDrawnOnceWhenItsNotesChanged) {
  const TMidiBytes burst[] = {
      {3, {0x90, 60, 50}}, {3, {0x90, 64, 50}}, {3, {0x80, 60, 0}}, {3, {0xE0, 0, 70}}};
  const TMidiBytes bend[] = {{3, {0xE0, 0, 64}}};
  View.StaffDrawings = 0;
  Mark();
  Perf.MidiInMessages(burst);
  EXPECT_EQ(Sent(), (TBytes{0x91, 60, 50, 0x91, 64, 50, 0x81, 60, 64, 0xE1, 0, 70}));
  EXPECT_EQ(View.StaffDrawings, 1);
  EXPECT_EQ(View.StaffNotes, 1);
  Perf.MidiInMessages(bend); // no note began or ended
  EXPECT_EQ(View.StaffDrawings, 1);
  Perf.MidiInLost();
  EXPECT_EQ(View.StaffDrawings, 2);
  EXPECT_EQ(View.StaffNotes, 0);
}

TEST_F(KoPerformanceTest, LostMidiReleasesTheKeyboardsNotesAndPedalAndEscapeForgetsThem) {
  const std::uint8_t on[] = {0x90, 60, 45};
  const std::uint8_t pedal[] = {0xB0, 64, 127};
  Perf.MidiInMessage(on, 3);
  Perf.MidiInMessage(pedal, 3);
  Mark();
  Perf.MidiInLost();
  EXPECT_EQ(Sent(), (TBytes{0x81, 60, 64, 0xB1, 64, 0}));
  Perf.MidiInMessage(on, 3);
  Tap(kEsc);
  EXPECT_TRUE(Perf.MidiIn().SoundingNotes().empty());
  Mark();
  const std::uint8_t off[] = {0x80, 60, 64};
  Perf.MidiInMessage(off, 3); // silenced already: nothing more is sent
  EXPECT_TRUE(Sent().empty());
}

TEST(KoPerformanceValuesTest, EachPerformanceKeepsValuesOfItsOwn) {
  TKoPerformance live;
  TKoPerformance own;
  live.SetTranspose(5);
  own.SetTranspose(-2);
  EXPECT_EQ(live.Values().Transpose, 5);
  EXPECT_EQ(own.Transpose(), -2);
  EXPECT_EQ(own.LeftVelocity(), 70);
  EXPECT_EQ(own.RightVelocity(), 100);
  EXPECT_TRUE(KeyDefHasNotes(own.KeyDefTable().Keys[KeyIndexOfScanCode(kQ)]));
  TKeyDefTable empty{};
  own.SetKeyDefs(empty);
  EXPECT_FALSE(KeyDefHasNotes(own.KeyDefTable().Keys[KeyIndexOfScanCode(kQ)]));
  EXPECT_TRUE(KeyDefHasNotes(live.KeyDefTable().Keys[KeyIndexOfScanCode(kQ)]));
}

TEST(KoPerformanceValuesTest, WithoutAnEngineTheValuesStillChangeAndNothingIsSent) {
  TKoPerformance perf;
  TTestVoices voices;
  TListeningView view;
  perf.SetVoices(&voices);
  perf.SetView(&view);
  perf.SetRightVoice(3);
  perf.DoKeyDown(kQ);
  EXPECT_EQ(perf.RightVoiceIndex(), 3);
  EXPECT_EQ(perf.Patch(1), 0u);
  EXPECT_EQ(view.PianoKeys[60], 1);
  perf.DoKeyUp(kQ);
  EXPECT_EQ(view.PianoKeys[60], 0);
}

// The keys of a command row as the README names them: the modifiers, then the
// key's name in the key table, or the first and last names of a run.
std::string CommandKeysText(const TKoPerformance::TCommandKey& command) {
  std::string text;
  if (command.Modifiers & ssCtrl)
    text += "Ctrl+";
  if (command.Modifiers & ssAlt)
    text += "Alt+";
  if (command.Modifiers & ssShift)
    text += "Shift+";
  text += KeyNames[static_cast<std::size_t>(command.FirstKey)];
  if (command.RunLength > 1) {
    text += "..";
    text += KeyNames[static_cast<std::size_t>(command.FirstKey + command.RunLength - 1)];
  }
  return text;
}

// The rows of the README's "| Keys | Does |" table, without the outer bars.
std::vector<std::string> ReadmeKeyRows() {
  std::ifstream readme(MELO_README);
  std::string line;
  while (std::getline(readme, line) && line != "| Keys | Does |") {
  }
  std::getline(readme, line); // |---|---|
  std::vector<std::string> rows;
  while (std::getline(readme, line) && line.size() > 4 && line.starts_with("| ") &&
         line.ends_with(" |")) {
    rows.push_back(line.substr(2, line.size() - 4));
  }
  return rows;
}

TEST(KoPerformanceCommandTable, TheReadmeListsEveryCommandKeyInTheTablesOrder) {
  std::vector<std::string> table;
  for (const TKoPerformance::TCommandKey& command : TKoPerformance::CommandKeys())
    table.push_back(CommandKeysText(command) + " | " + command.Does);
  const std::vector<std::string> readme = ReadmeKeyRows();
  ASSERT_EQ(readme.size(), table.size());
  for (std::size_t row = 0; row < table.size(); ++row)
    EXPECT_EQ(readme[row], table[row]) << "row " << row + 1;
}

} // namespace
} // namespace melo

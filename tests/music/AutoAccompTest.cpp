#include "music/AutoAccomp.h"

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace melo {
namespace {

struct TMessage {
  std::uint8_t Status, Data1, Data2;
  bool operator==(const TMessage&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TMessage& m) {
  return out << std::hex << "{" << int(m.Status) << "," << std::dec << int(m.Data1) << ","
             << int(m.Data2) << "}";
}

class TCapturingSink : public TMidiMessageSink {
public:
  bool SendMidiMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override {
    std::lock_guard lock(FLock);
    FMessages.push_back({status, data1, data2});
    return true;
  }
  std::vector<TMessage> Take() {
    std::lock_guard lock(FLock);
    return std::exchange(FMessages, {});
  }

private:
  std::mutex FLock;
  std::vector<TMessage> FMessages;
};

class TCapturingRecorder : public TRawMidiRecorder {
public:
  void RecordRawMidi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override {
    Events.push_back(status * 65536u + data1 * 256u + data2);
  }
  std::vector<std::uint32_t> Events;
};

std::vector<TMessage> OnChannel(const std::vector<TMessage>& all, std::uint8_t status) {
  std::vector<TMessage> picked;
  for (const TMessage& m : all) {
    if (m.Status == status)
      picked.push_back(m);
  }
  return picked;
}

constexpr std::uint8_t DrumOn = 0x99;

// The accompaniment on a hand-driven metronome at tempo 100: one sixteenth
// every 150 ms of the injected clock.
class AutoAccompTest : public ::testing::Test {
protected:
  AutoAccompTest() : Metro([this] { return Clock; }) {
    Metro.Timer.OnTimer = nullptr;
    Accomp = std::make_unique<TAutoAccomp>(Metro);
    Accomp->Engine = &Sink;
    Accomp->OnFillInEndEvent = [this](TAutoAccomp&) { ++FillInEvents; };
    Accomp->OnAutoChordChange = [this](TAutoAccomp&, const std::string& name) {
      ChordNames.push_back(name);
    };
  }

  // Drums only, as a drum machine; StartWithParts plays the melodic parts too.
  void StartWithStyle(int group, int index) {
    Accomp->SetMelodicParts(false);
    StartWithParts(group, index);
  }

  void StartWithParts(int group, int index) {
    Accomp->SetAccompStyleGroup(group);
    Accomp->SetAccompStyleIndex(index);
    Accomp->SetStart(true);
    Metro.SetRunning(true);
    Sink.Take();
  }

  // Plays the next sixteenth note and returns what it sent.
  std::vector<TMessage> Step() {
    Metro.Tick();
    Clock += 150;
    return Sink.Take();
  }

  std::int64_t Clock = 50'000;
  TMetronome Metro;
  TCapturingSink Sink;
  std::unique_ptr<TAutoAccomp> Accomp;
  int FillInEvents = 0;
  std::vector<std::string> ChordNames;
};

TEST_F(AutoAccompTest, FirstStepOfPresetZeroAndAQuietTrack) {
  StartWithStyle(0, 0);
  EXPECT_EQ(Step(), (std::vector<TMessage>{{DrumOn, 36, 60}, {DrumOn, 42, 60}}));
  EXPECT_EQ(Step(), std::vector<TMessage>{});
  EXPECT_EQ(Step(), (std::vector<TMessage>{{DrumOn, 42, 60}}));

  Accomp->SetAccompStyleGroup(1); // index 0 of group 1: the 2/4 metronome style
  Sink.Take();
  // Level 4 snare, section level 9, volume 60: 9 * 60 * 4 div 81.
  EXPECT_EQ(Step(), (std::vector<TMessage>{{DrumOn, 38, 26}}));
}

TEST_F(AutoAccompTest, VolumeZeroIsSilentWhileTheStepsRun) {
  StartWithStyle(0, 0);
  Accomp->SetAPercussVolume(0);
  for (int i = 0; i < 5; ++i)
    EXPECT_TRUE(Step().empty());
  EXPECT_EQ(Accomp->StepCount(), 5);
  EXPECT_EQ(Accomp->DrumStep(), 5);

  int synchEnds = 0;
  Accomp->OnSynchEndEvent = [&](TAutoAccomp&) { ++synchEnds; };
  Accomp->SetAPercussVolume(60);
  Accomp->SetSynchOn(true);
  EXPECT_EQ(Accomp->APercussVolume(), 0);
  EXPECT_EQ(Accomp->ABassVolume(), 0);
  EXPECT_TRUE(Step().empty());
  Accomp->SetSynchOn(false);
  EXPECT_EQ(synchEnds, 1);
  EXPECT_EQ(Accomp->APercussVolume(), 0); // left to the owner
}

TEST_F(AutoAccompTest, FillInOnePlaysOnceAndHandsBack) {
  StartWithStyle(0, 0);
  Step();
  Step();
  Accomp->SetFillInState(fsFillIn1);
  EXPECT_EQ(Accomp->FillInState(), fsFillIn1);
  EXPECT_EQ(FillInEvents, 1);
  EXPECT_EQ(Sink.Take(), (std::vector<TMessage>{{0xC6, 49, 0}, {0xC5, 25, 0}, {0xC4, 33, 0}}));
  EXPECT_EQ(Accomp->StepCount(), 0);
  // The fill-in's step 0 strikes its hi-hat track before its bass drum.
  EXPECT_EQ(Step(), (std::vector<TMessage>{{DrumOn, 42, 60}, {DrumOn, 36, 60}}));
  for (int i = 1; i < 15; ++i)
    Step();
  EXPECT_EQ(Accomp->FillInState(), fsFillIn1);
  const std::vector<TMessage> last = Step(); // the 16th step ends the fill-in
  EXPECT_EQ(Accomp->FillInState(), fsNoFillIn);
  EXPECT_EQ(FillInEvents, 2);
  EXPECT_EQ(OnChannel(last, 0xC6), (std::vector<TMessage>{{0xC6, 49, 0}}));
  EXPECT_EQ(Accomp->StepCount(), 0);
  EXPECT_EQ(Step(), (std::vector<TMessage>{{DrumOn, 36, 60}, {DrumOn, 42, 60}}));
}

TEST_F(AutoAccompTest, FillInTwoIsRefusedWithoutADrumPart) {
  StartWithStyle(0, 1);
  Step();
  Accomp->SetFillInState(fsFillIn2);
  EXPECT_EQ(Accomp->FillInState(), fsNoFillIn);
  EXPECT_EQ(FillInEvents, 0);
  EXPECT_TRUE(Sink.Take().empty());
  EXPECT_EQ(Accomp->StepCount(), 1);
}

TEST_F(AutoAccompTest, StartingTwiceAddsOneClient) {
  StartWithStyle(0, 0);
  Accomp->SetStart(true);
  EXPECT_EQ(Step(), (std::vector<TMessage>{{DrumOn, 36, 60}, {DrumOn, 42, 60}}));
  Accomp->SetStart(false);
  EXPECT_EQ(Metro.IndexOfClient("Accomp"), -1);
  EXPECT_TRUE(Step().empty());
  Accomp->SetStart(true);
  EXPECT_GE(Metro.IndexOfClient("Accomp"), 0);
}

TEST_F(AutoAccompTest, ChordNamesOnStartAndInFreeChordMode) {
  StartWithStyle(0, 0);
  EXPECT_EQ(ChordNames, std::vector<std::string>{"C"});
  Accomp->SetStart(false);
  Accomp->FixedChordMode = false;
  Accomp->SetStart(true);
  EXPECT_EQ(Accomp->AutoChordStyleIndex(), 0);
  Accomp->SetAutoChordStyleIndex(7);
  Accomp->SetAutoChordStyleIndex(16); // ignored
  EXPECT_EQ(Accomp->TotalChordStyle().StyleName, ChordStyles[7].StyleName);
  Accomp->SetCurrChordRoot(50);
  EXPECT_EQ(ChordNames, (std::vector<std::string>{"C", "C", "Dm7"}));
}

// A copy of preset 0 whose chord part holds a string pad at full level.
TAccompStyle PadStyle() {
  TAccompStyle style = PresetStyles[0];
  style.MainSection.ChordPart.Program = 48;
  style.MainSection.ChordLevel = 9;
  return style;
}

TEST_F(AutoAccompTest, TransposeMovesThePadButNotTheDrums) {
  ASSERT_TRUE(Accomp->SetLibraryStyle(18, PadStyle())); // group 1, index 6
  Accomp->SetTranspose(2);
  Accomp->SetAccompStyleGroup(1);
  Accomp->SetAccompStyleIndex(6);
  Sink.Take();
  Accomp->SetStart(true);
  Metro.SetRunning(true);
  const std::vector<TMessage> started = Sink.Take();
  EXPECT_EQ(OnChannel(started, 0xC6).front(), (TMessage{0xC6, 48, 0}));
  EXPECT_EQ(OnChannel(started, 0x96).front(), (TMessage{0x96, 50, 1}));
  EXPECT_EQ(OnChannel(Step(), DrumOn), (std::vector<TMessage>{{DrumOn, 36, 60}, {DrumOn, 42, 60}}));

  Accomp->SetTranspose(7);
  Accomp->SetCurrChordRoot(125); // 132 is no MIDI note: nothing is sent
  EXPECT_TRUE(OnChannel(Sink.Take(), 0x96).empty());
  Accomp->SetCurrChordRoot(60);
  EXPECT_EQ(OnChannel(Sink.Take(), 0x96), (std::vector<TMessage>{{0x96, 67, 1}}));
}

// Each pad note sounds until the next one, a style without a pad or the stop:
// a held string note would otherwise ring on for ever.
TEST_F(AutoAccompTest, ThePadNeverOutlivesItsChordOrTheStop) {
  ASSERT_TRUE(Accomp->SetLibraryStyle(18, PadStyle())); // group 1, index 6
  Accomp->SetAccompStyleGroup(1);
  Accomp->SetAccompStyleIndex(6);
  Accomp->SetTranspose(2);
  Accomp->SetStart(true);
  Metro.SetRunning(true);
  const std::vector<TMessage> started = Sink.Take();
  // Every pad note-on but the last is released; the last still sounds.
  const auto ons = OnChannel(started, 0x96), offs = OnChannel(started, 0x86);
  ASSERT_FALSE(ons.empty());
  EXPECT_EQ(offs.size(), ons.size() - 1);
  EXPECT_EQ(ons.back(), (TMessage{0x96, 50, 1}));

  Accomp->SetTranspose(0); // the sounding note keeps its own pitch for its release
  Accomp->SetCurrChordRoot(55);
  EXPECT_EQ(Sink.Take(), (std::vector<TMessage>{{0x86, 50, 64}, {0x96, 55, 1}}));
  Accomp->SetStart(false);
  EXPECT_EQ(OnChannel(Sink.Take(), 0x86), (std::vector<TMessage>{{0x86, 55, 64}}));
  Accomp->SetCurrChordRoot(60); // stopped: no pad, nothing to release
  EXPECT_TRUE(Sink.Take().empty());

  Accomp->SetStart(true);
  Sink.Take();
  Accomp->SetAccompStyleIndex(0); // group 1's first style has no pad
  EXPECT_EQ(OnChannel(Sink.Take(), 0x86), (std::vector<TMessage>{{0x86, 48, 64}}));
  Accomp->SetStart(false);
  EXPECT_TRUE(OnChannel(Sink.Take(), 0x86).empty());
}

TEST_F(AutoAccompTest, TheAllZeroStyleIsSilent) {
  Accomp->SetStart(true); // no group selected yet
  Metro.SetRunning(true);
  Sink.Take();
  for (int i = 0; i < 20; ++i)
    EXPECT_TRUE(Step().empty());
}

TEST_F(AutoAccompTest, RecorderGetsEveryMessagePacked) {
  TCapturingRecorder recorder;
  Accomp->Recorder = &recorder;
  StartWithStyle(0, 0);
  recorder.Events.clear();
  const std::vector<TMessage> sent = Step();
  ASSERT_EQ(recorder.Events.size(), sent.size());
  EXPECT_EQ(recorder.Events[0], 0x99u * 65536 + 36 * 256 + 60);
  EXPECT_EQ(recorder.Events[1], 0x99u * 65536 + 42 * 256 + 60);

  Accomp->Engine = nullptr; // without an engine the tick does nothing
  recorder.Events.clear();
  Step();
  Step();
  EXPECT_TRUE(recorder.Events.empty());
}

TEST_F(AutoAccompTest, OutOfRangeInputsAreHarmless) {
  StartWithStyle(0, 0);
  Accomp->SetAccompStyleGroup(9);
  Accomp->SetAccompStyleIndex(12);
  EXPECT_EQ(Accomp->AccompStyleGroupNum(), 0);
  EXPECT_EQ(Accomp->AccompStyleIndex(), 0);
  EXPECT_FALSE(Accomp->SetLibraryStyle(72, PadStyle()));

  Accomp->SetAPercussVolume(500); // velocities stay MIDI data bytes
  EXPECT_EQ(Step(), (std::vector<TMessage>{{DrumOn, 36, 127}, {DrumOn, 42, 127}}));

  TAccompStyle longPattern = PresetStyles[0];
  longPattern.MainSection.DrumBeats = 100; // far beyond the 32 stored steps
  longPattern.BeatsPerBar = 100;           // and a section long enough to get there
  Accomp->SetLibraryStyle(0, longPattern);
  Accomp->SetAccompStyleGroup(0);
  for (int i = 0; i < 40; ++i) {
    Step();
    EXPECT_LT(Accomp->DrumStep(), StepsPerPattern);
  }
}

constexpr std::uint8_t BassOn = 0x94, ArpeggioOn = 0x95, ChordOn = 0x96;

// The note-ons of the melodic parts in one step: status, note, velocity.
std::vector<TMessage> PartNotes(const std::vector<TMessage>& step) {
  std::vector<TMessage> notes;
  for (const TMessage& m : step) {
    if (m.Status == BassOn || m.Status == ArpeggioOn || m.Status == ChordOn)
      notes.push_back(m);
  }
  return notes;
}

// Notes on the part channels 4..6 that were struck and not yet released.
class TSoundingParts {
public:
  void Add(const std::vector<TMessage>& messages) {
    for (const TMessage& m : messages) {
      const int channel = m.Status & 0x0F;
      if (channel < 4 || channel > 6)
        continue;
      int& count = FCount[static_cast<std::size_t>(channel)][m.Data1];
      if ((m.Status & 0xF0) == 0x90) {
        ++count;
      } else if ((m.Status & 0xF0) == 0x80 && count > 0) {
        --count;
      }
    }
  }
  int Total() const {
    int total = 0;
    for (const auto& channel : FCount) {
      for (int count : channel)
        total += count;
    }
    return total;
  }

private:
  std::array<std::array<int, 128>, 16> FCount{};
};

class AutoAccompPartsTest : public AutoAccompTest {
protected:
  // A bar of a preset over the fixed chord of key: its melodic note-ons by step.
  std::vector<std::vector<TMessage>> Bar(int index, int key, int steps) {
    StartWithParts(index / 12, index % 12);
    const std::vector<int> held = {key};
    Accomp->FollowLeftHand(key, held);
    Accomp->SetAccompStyleIndex(index % 12); // from the bar's first step
    Sink.Take();
    std::vector<std::vector<TMessage>> bar;
    for (int i = 0; i < steps; ++i)
      bar.push_back(PartNotes(Step()));
    Accomp->SetStart(false);
    return bar;
  }
};

// Preset 0 by hand: bass "-7 - - - . . . . -3 ...", arpeggio "0 . 4 . 7 . 4 ."
// and ". . . . . . 9 .", chord "0 - - - ..." at levels 9, 7 and 4 over
// volume 90. C, F (Lydian) and G (Mixolydian) read codes 0, 4, 7 and 9 alike.
TEST_F(AutoAccompPartsTest, PresetZeroOverCFAndG) {
  for (const int shift : {0, 5, 7}) {
    const auto n = [shift](int note) { return static_cast<std::uint8_t>(note + shift); };
    const TMessage chord1{ChordOn, n(48), 40}, chord3{ChordOn, n(52), 40},
        chord5{ChordOn, n(55), 40};
    const std::vector<std::vector<TMessage>> expected = {
        {{BassOn, n(36), 90}, {ArpeggioOn, n(48), 70}, chord1, chord3, chord5},
        {},
        {{ArpeggioOn, n(55), 70}},
        {},
        {{ArpeggioOn, n(60), 70}},
        {},
        {{ArpeggioOn, n(55), 70}, {ArpeggioOn, n(64), 70}},
        {},
        {{BassOn, n(43), 90}, {ArpeggioOn, n(48), 70}, chord1, chord3, chord5},
        {},
        {{ArpeggioOn, n(55), 70}},
        {},
        {{ArpeggioOn, n(60), 70}},
        {},
        {{ArpeggioOn, n(55), 70}, {ArpeggioOn, n(64), 70}},
        {},
    };
    EXPECT_EQ(Bar(0, 60 + shift, 16), expected) << "shift " << shift;
  }
}

// Preset 8 (2/4 disco) by hand: a one-bar bass "-7 . 0 . -7 . 0 ." and chord
// ". . 0 . . . 0 ." loop twice in the two-bar section; its arpeggio level is 0.
TEST_F(AutoAccompPartsTest, PresetEightLoopsItsPartsAndMutesLevelZero) {
  std::vector<std::vector<TMessage>> expected;
  for (int bar = 0; bar < 2; ++bar) {
    for (int step = 0; step < 8; ++step) {
      std::vector<TMessage> notes;
      if (step % 2 == 0)
        notes.push_back({BassOn, static_cast<std::uint8_t>(step % 4 == 0 ? 43 : 55), 70});
      if (step % 4 == 2) {
        for (std::uint8_t note : {55, 59, 62})
          notes.push_back({ChordOn, note, 40});
      }
      expected.push_back(notes);
    }
  }
  EXPECT_EQ(Bar(8, 43, 16), expected);
}

// Every preset over C, F and G: each note code of a part strikes on its step
// and channel (three notes for a chord), holds and rests strike nothing, and
// codes on a chord step of the mode sound tones of the chord.
TEST_F(AutoAccompPartsTest, EveryPresetPlaysItsStepCodes) {
  for (int index = 0; index < PresetStyleCount; ++index) {
    const TAccompSection& main = PresetStyles[static_cast<std::size_t>(index)].MainSection;
    const int beats = PresetStyles[static_cast<std::size_t>(index)].BeatsPerBar;
    const int steps = beats * (main.TwoBars ? 8 : 4);
    for (const int root : {48, 53, 55}) {
      const auto bar = Bar(index, root, steps);
      for (int step = 0; step < steps; ++step) {
        struct TPart {
          std::uint8_t Status;
          const TStepCodes* Codes;
          std::int8_t Level;
          int Tones;
        };
        const std::vector<TPart> parts = {
            {BassOn, &main.BassPart.Steps, main.BassLevel, 1},
            {ArpeggioOn, &main.ArpeggioPart.Steps[0], main.ArpeggioLevel, 1},
            {ArpeggioOn, &main.ArpeggioPart.Steps[1], main.ArpeggioLevel, 1},
            {ChordOn, &main.ChordPart.Steps, main.ChordLevel, 3}};
        std::map<std::uint8_t, std::size_t> expectedCount;
        bool chordSteps = true;
        for (const TPart& part : parts) {
          const std::int8_t code = (*part.Codes)[static_cast<std::size_t>(step % (beats * 4))];
          const bool note = code != NoNoteStep && code != HoldStep && part.Level > 0;
          expectedCount[part.Status] += note ? static_cast<std::size_t>(part.Tones) : 0;
          const int modeStep = (code + 14) % 7;
          if (note && modeStep != 0 && modeStep != 2 && modeStep != 4)
            chordSteps = false;
        }
        const auto& notes = bar[static_cast<std::size_t>(step)];
        for (const auto& [status, count] : expectedCount) {
          EXPECT_EQ(OnChannel(notes, status).size(), count)
              << "preset " << index << " root " << root << " step " << step;
        }
        if (!chordSteps)
          continue;
        for (const TMessage& m : notes) {
          const int above = (m.Data1 - root + 120) % 12;
          EXPECT_TRUE(above == 0 || above == 4 || above == 7)
              << "preset " << index << " root " << root << " step " << step;
        }
      }
    }
  }
}

TEST_F(AutoAccompPartsTest, TheChordTakesOverOnTheNextSixteenth) {
  StartWithParts(0, 0);
  Step();
  const std::vector<int> held = {60, 61};
  EXPECT_EQ(Accomp->FollowLeftHand(61, held), "C7"); // the newest key alone counts
  EXPECT_EQ(Accomp->CurrChordRoot(), 48);
  EXPECT_EQ(ChordNames, std::vector<std::string>{"C"});
  // Step 1 holds the chord part's C major: the new chord ends it.
  const std::vector<TMessage> change = Step();
  EXPECT_EQ(ChordNames, (std::vector<std::string>{"C", "C7"}));
  EXPECT_EQ(Accomp->CurrChordRoot(), 49);
  EXPECT_EQ(Accomp->CurrentChord(), (TChord{0, 6}));
  EXPECT_EQ(OnChannel(change, 0x86).size(), 3U);
  EXPECT_TRUE(PartNotes(change).empty());

  Accomp->SetStart(false);
  Accomp->FixedChordMode = false;
  Accomp->SetStart(true);
  const std::vector<int> dMajor = {66, 69, 74}; // first inversion
  EXPECT_EQ(Accomp->FollowLeftHand(66, dMajor), "D");
  Step();
  EXPECT_EQ(ChordNames.back(), "D");
  EXPECT_EQ(Accomp->CurrentChord(), (TChord{2, 0}));
  const std::vector<int> cluster = {60, 61};
  EXPECT_EQ(Accomp->FollowLeftHand(61, cluster), ""); // no chord: D stays
  Step();
  EXPECT_EQ(ChordNames.back(), "D");
  const std::vector<int> eSeven = {52, 56, 59, 62};
  Accomp->FollowLeftHand(52, eSeven);
  Accomp->SetAccompStyleIndex(0); // restart the bar
  Sink.Take();
  // E7 over E Phrygian: bass E, arpeggio E, the chord E G# B D.
  EXPECT_EQ(PartNotes(Step()), (std::vector<TMessage>{{BassOn, 40, 90},
                                                      {ArpeggioOn, 52, 70},
                                                      {ChordOn, 52, 40},
                                                      {ChordOn, 56, 40},
                                                      {ChordOn, 59, 40},
                                                      {ChordOn, 62, 40}}));
  EXPECT_EQ(ChordNames.back(), "E7");
  EXPECT_EQ(Accomp->CurrentChordName(), "E7");
  EXPECT_EQ(Accomp->AutoChordStyleIndex(), 6);
}

TEST_F(AutoAccompPartsTest, NoPartNoteOutlivesItsEnd) {
  using TEnd = std::function<void(TAutoAccomp&)>;
  const std::vector<std::pair<const char*, TEnd>> ends = {
      {"stop", [](TAutoAccomp& a) { a.SetStart(false); }},
      {"style change", [](TAutoAccomp& a) { a.SetAccompStyleIndex(3); }},
      {"fill-in", [](TAutoAccomp& a) { a.SetFillInState(fsFillIn1); }},
      {"drums only", [](TAutoAccomp& a) { a.SetMelodicParts(false); }},
  };
  for (const auto& [what, end] : ends) {
    TSoundingParts sounding;
    Accomp->SetMelodicParts(true);
    StartWithParts(0, 0);
    for (int i = 0; i < 7; ++i)
      sounding.Add(Step());
    ASSERT_GT(sounding.Total(), 0) << what;
    end(*Accomp);
    sounding.Add(Sink.Take());
    EXPECT_EQ(sounding.Total(), 0) << what;
    Accomp->SetStart(false);
    Sink.Take();
  }

  // A fill-in that ends by itself: its notes end with it.
  TSoundingParts sounding;
  Accomp->SetMelodicParts(true);
  StartWithParts(0, 0);
  Accomp->SetFillInState(fsFillIn1);
  for (int i = 0; i < 15; ++i)
    sounding.Add(Step());
  sounding.Add(Step()); // the fill-in's last step, which hands back
  ASSERT_EQ(Accomp->FillInState(), fsNoFillIn);
  EXPECT_EQ(sounding.Total(), 0);
}

TEST_F(AutoAccompPartsTest, VelocityIsLevelTimesVolumeDivNine) {
  StartWithParts(0, 0);
  Accomp->SetABassVolume(0);
  Accomp->SetAArpeggioVolume(127);
  Accomp->SetAChordVolume(100);
  EXPECT_EQ(PartNotes(Step()),
            (std::vector<TMessage>{
                {ArpeggioOn, 48, 98}, {ChordOn, 48, 44}, {ChordOn, 52, 44}, {ChordOn, 55, 44}}));
  Accomp->SetABassVolume(45);
  Accomp->SetAccompStyleIndex(0);
  Sink.Take();
  EXPECT_EQ(OnChannel(Step(), BassOn), (std::vector<TMessage>{{BassOn, 36, 45}}));
}

TEST_F(AutoAccompPartsTest, TransposedPartNotesEndAtTheirOwnPitch) {
  StartWithParts(0, 0);
  Accomp->SetTranspose(2);
  EXPECT_EQ(OnChannel(Step(), BassOn), (std::vector<TMessage>{{BassOn, 38, 90}}));
  Accomp->SetTranspose(0);
  Accomp->SetStart(false);
  EXPECT_EQ(OnChannel(Sink.Take(), 0x84), (std::vector<TMessage>{{0x84, 38, 64}}));
}

TEST_F(AutoAccompPartsTest, SynchroStartWaitsForTheFirstChord) {
  StartWithParts(0, 0);
  int synchEnds = 0;
  Accomp->OnSynchEndEvent = [&](TAutoAccomp&) { ++synchEnds; };
  Accomp->SetSynchOn(true);
  Step();
  Step();
  EXPECT_TRUE(PartNotes(Step()).empty());
  const std::vector<int> g = {55};
  Accomp->FollowLeftHand(55, g);
  EXPECT_EQ(synchEnds, 1);
  EXPECT_FALSE(Accomp->SynchOn());
  EXPECT_EQ(Accomp->StepCount(), 0);
}

// Setters hammered from a second thread while the real metronome plays: meant
// for the ThreadSanitizer build, and a smoke test elsewhere.
TEST(AutoAccompThreads, SettersRaceTheTickSafely) {
  TMetronome metro;
  TCapturingSink sink;
  TCapturingRecorder recorder;
  auto accomp = std::make_unique<TAutoAccomp>(metro);
  accomp->Engine = &sink;
  accomp->Recorder = &recorder;
  std::atomic<int> fillInEvents{0};
  accomp->OnFillInEndEvent = [&](TAutoAccomp&) { ++fillInEvents; };
  accomp->SetAccompStyleGroup(0);
  metro.SetTempo(2000); // a sixteenth every 7.5 ms
  accomp->SetStart(true);
  metro.SetRunning(true);

  std::thread ui([&] {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(800);
    for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
      accomp->SetAccompStyleIndex(i % 12);
      accomp->SetFillInState(static_cast<TFillInStateType>(i % 3));
      accomp->SetAPercussVolume(40 + i % 80);
      accomp->SetTranspose(i % 5);
      accomp->SetCurrChordRoot(40 + i % 20);
      const std::array<int, 2> held = {40 + i % 12, 44 + i % 12};
      accomp->FollowLeftHand(held[1], held);
      accomp->SetMelodicParts(i % 7 != 0);
      if (i % 50 == 0)
        accomp->SetStart(i % 100 == 0);
      accomp->SetStart(true);
      metro.SetTempo(1500 + i % 1000);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  ui.join();
  metro.SetRunning(false);
  accomp.reset();
  EXPECT_FALSE(sink.Take().empty());
}

} // namespace
} // namespace melo

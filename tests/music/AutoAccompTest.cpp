#include "music/AutoAccomp.h"

#include <array>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
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

  void StartWithStyle(int group, int index) {
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
  EXPECT_EQ(Step(), (std::vector<TMessage>{{DrumOn, 36, 60}, {DrumOn, 42, 60}}));

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

// The engine through the real synthesizer, rendered offline and measured.
#include "ChannelMessages.h"
#include "FluidTsanSuppressions.h"
#include "SynthTestSupport.h"
#include "sound/KoDirectMusic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace melo {
namespace {

using namespace melo::test;

constexpr std::uint32_t AcousticGrandPiano = 0;
constexpr std::uint32_t ChurchOrgan = 19;
constexpr std::uint32_t Trumpet = 56;

class EngineRenderTest : public ::testing::Test {
protected:
  void SetUp() override {
    engine = MakeOfflineEngine();
    ASSERT_GT(InstrumentList.Count, 100);
  }

  std::unique_ptr<TKoDirectMusic> engine;
};

TEST_F(EngineRenderTest, A4SoundsAt440HzWithinOneCent) {
  SetPatch(*engine, 0, AcousticGrandPiano);
  NoteOn(*engine, 0, 69, 100);
  const auto sound = RenderSeconds(*engine, 1.0);
  ASSERT_GT(Rms(sound, Seconds(0.2), Seconds(0.4)), 1e-3);
  const double hz = MeasurePitch(sound, Seconds(0.1), Seconds(0.4), 440.0);
  const double cents = 1200.0 * std::log2(hz / 440.0);
  EXPECT_LT(std::abs(cents), 1.0) << hz << " Hz";
}

TEST_F(EngineRenderTest, NoteOffsAfterAFloodOfBendsInOnePeriodStillEndTheChord) {
  // Twelve held organ notes, then between two periods 1000 bends, a centred
  // bend and the twelve note-offs: the synthesizer takes them all.
  SetPatch(*engine, 0, ChurchOrgan);
  for (std::uint8_t note = 60; note < 72; ++note) {
    NoteOn(*engine, 0, note, 100);
  }
  const double heldLevel = Rms(RenderSeconds(*engine, 0.3), Seconds(0.1), Seconds(0.3));
  ASSERT_GT(heldLevel, 1e-3);
  for (int i = 0; i < 1000; ++i) {
    engine->SendMidiMessage(0xE0, static_cast<std::uint8_t>(i % 128),
                            static_cast<std::uint8_t>(i % 128));
  }
  engine->SendMidiMessage(0xE0, 0, 64);
  for (std::uint8_t note = 60; note < 72; ++note) {
    NoteOff(*engine, 0, note);
  }
  const auto after = RenderSeconds(*engine, 0.6);
  EXPECT_LT(Rms(after, Seconds(0.5), Seconds(0.6)), 0.001 * heldLevel);
}

TEST_F(EngineRenderTest, SynthesizerWarningsReachTheLogEachKindOnce) {
  testing::internal::CaptureStderr();
  engine->SendMidiMessage(0xB0, 0, 99); // a bank the sound set does not have
  engine->SendMidiMessage(0xC0, 5, 0);
  engine->SendMidiMessage(0xC0, 6, 0); // the same warning for another program
  const std::string said = testing::internal::GetCapturedStderr();
  const std::string warning = "Melotastico: synthesizer: Instrument not found on channel 0";
  const auto first = said.find(warning);
  EXPECT_NE(first, std::string::npos) << said;
  EXPECT_NE(said.find("prog=5"), std::string::npos) << said;
  EXPECT_EQ(said.find(warning, first + 1), std::string::npos) << said;
}

double OrganPitch(TKoDirectMusic& engine, std::uint8_t note) {
  SetPatch(engine, 0, ChurchOrgan);
  NoteOn(engine, 0, note, 100);
  const auto sound = RenderSeconds(engine, 0.8);
  AllSoundOff(engine, 0);
  RenderSeconds(engine, 0.3);
  return MeasurePitch(sound, Seconds(0.2), Seconds(0.5), 440.0 * std::pow(2.0, (note - 69) / 12.0));
}

TEST_F(EngineRenderTest, NotesAreTemperedSemitonesApart) {
  // The organ's own sample is a few cents sharp; the intervals must not be.
  const double a4 = OrganPitch(*engine, 69);
  EXPECT_NEAR(1200.0 * std::log2(a4 / OrganPitch(*engine, 57)), 1200.0, 1.0);
  EXPECT_NEAR(1200.0 * std::log2(OrganPitch(*engine, 76) / a4), 700.0, 1.0);
}

TEST_F(EngineRenderTest, NoteOffEndsTheNoteWithItsRelease) {
  SetPatch(*engine, 0, ChurchOrgan);
  NoteOn(*engine, 0, 60, 100);
  const auto held = RenderSeconds(*engine, 0.5);
  const double heldLevel = Rms(held, Seconds(0.3), Seconds(0.5));
  ASSERT_GT(heldLevel, 1e-3);
  NoteOff(*engine, 0, 60);
  const auto after = RenderSeconds(*engine, 2.0);
  // Not cut dead: the first milliseconds still carry the release...
  EXPECT_GT(Rms(after, 0, Seconds(0.005)), 0.1 * heldLevel);
  // ...and then it is gone.
  EXPECT_LT(Rms(after, Seconds(1.5), Seconds(2.0)), 0.001 * heldLevel);
}

TEST_F(EngineRenderTest, HeldNoteKeepsSoundingWithoutNoteOff) {
  SetPatch(*engine, 0, ChurchOrgan);
  NoteOn(*engine, 0, 60, 100);
  const auto sound = RenderSeconds(*engine, 2.5);
  EXPECT_GT(Rms(sound, Seconds(2.0), Seconds(2.5)), 0.5 * Rms(sound, Seconds(0.3), Seconds(0.8)));
}

TEST_F(EngineRenderTest, ChannelNinePlaysDrums) {
  // Note 42 is the closed hi-hat on the drum channel and a low G# elsewhere.
  SetPatch(*engine, 0, AcousticGrandPiano);
  NoteOn(*engine, 0, 42, 110);
  const auto piano = RenderSeconds(*engine, 0.3);
  AllSoundOff(*engine, 0);
  RenderSeconds(*engine, 0.5);
  engine->SelectDrumKit();
  NoteOn(*engine, DrumChannel, 42, 110);
  const auto drums = RenderSeconds(*engine, 0.3);
  ASSERT_GT(Rms(drums, 0, Seconds(0.05)), 1e-3);
  EXPECT_GT(ZeroCrossingRate(drums, 0, Seconds(0.05)), 0.15);
  EXPECT_LT(ZeroCrossingRate(piano, Seconds(0.05), Seconds(0.25)), 0.05);
}

// Strength of harmonics 2..5 against the fundamental of note 60, played
// through Sends (the engine, or a sink in front of it).
std::vector<double> HarmonicProfile(TKoDirectMusic& engine, TMidiMessageSink& sends,
                                    std::uint32_t patch) {
  SetPatch(sends, 0, patch);
  NoteOn(sends, 0, 60, 100);
  const auto sound = RenderSeconds(engine, 0.6);
  AllSoundOff(sends, 0);
  RenderSeconds(engine, 0.5);
  const double f0 = 440.0 * std::pow(2.0, (60 - 69) / 12.0);
  const double base = ToneAmplitude(sound, Seconds(0.2), Seconds(0.6), f0);
  std::vector<double> profile;
  for (int h = 2; h <= 5; ++h) {
    profile.push_back(ToneAmplitude(sound, Seconds(0.2), Seconds(0.6), f0 * h) / base);
  }
  return profile;
}

TEST_F(EngineRenderTest, SetPatchChangesTheTimbre) {
  TChannelMemory memory(*engine);
  const auto piano = HarmonicProfile(*engine, memory, AcousticGrandPiano);
  const auto trumpet = HarmonicProfile(*engine, memory, Trumpet);
  const auto pianoAgain = HarmonicProfile(*engine, memory, AcousticGrandPiano);
  double change = 0.0;
  double repeat = 0.0;
  for (std::size_t i = 0; i < piano.size(); ++i) {
    change += std::abs(std::log(trumpet[i] / piano[i]));
    repeat += std::abs(std::log(pianoAgain[i] / piano[i]));
  }
  EXPECT_GT(change, 2.0);
  EXPECT_LT(repeat, 0.2);
  EXPECT_EQ(memory.Patches(0), AcousticGrandPiano);
}

double LevelAtVolume(std::int32_t volume) {
  auto engine = MakeOfflineEngine();
  engine->SetVolume(volume);
  SetPatch(*engine, 0, ChurchOrgan);
  NoteOn(*engine, 0, 64, 100);
  const auto sound = RenderSeconds(*engine, 0.6);
  return Rms(sound, Seconds(0.2), Seconds(0.6));
}

TEST(EngineRenderVolumeTest, MinusSixDecibelsHalvesTheAmplitude) {
  const double full = LevelAtVolume(0);
  ASSERT_GT(full, 1e-3);
  EXPECT_NEAR(LevelAtVolume(-600) / full, 0.5, 0.025);
}

double ReverbTail(std::uint8_t level) {
  auto engine = MakeOfflineEngine();
  engine->SetReverbLevel(level);
  SetPatch(*engine, 0, AcousticGrandPiano);
  NoteOn(*engine, 0, 72, 120);
  RenderSeconds(*engine, 0.1);
  NoteOff(*engine, 0, 72);
  const auto sound = RenderSeconds(*engine, 2.0);
  return Rms(sound, Seconds(0.8), Seconds(1.6));
}

TEST(EngineRenderReverbTest, EachLevelLeavesAClearlyLongerTail) {
  double previous = ReverbTail(0);
  const double none = previous;
  for (std::uint8_t level = 1; level <= 4; ++level) {
    const double tail = ReverbTail(level);
    EXPECT_GT(tail, 1.5 * previous) << "level " << int{level};
    previous = tail;
  }
  EXPECT_GT(previous, 100.0 * none);
}

// One engine rests through each silence, the other renders it. A timed note
// after the silence starts on the same frame in both; a note sent at once
// starts no later, and at most one synthesizer block sooner.
class EngineRestTest : public ::testing::Test {
protected:
  static constexpr std::size_t Period = 1000; // not a whole number of synthesizer blocks

  void SetUp() override {
    for (bool rest : {true, false}) {
      TEngineOptions options;
      options.Mode = TEngineMode::Offline;
      options.ClockMs = [this] { return Now; };
      options.RestWhenSilent = rest;
      auto& engine = Engines[rest ? 0 : 1];
      engine = std::make_unique<TKoDirectMusic>(options);
      ASSERT_TRUE(engine->SelectPort(0));
      ASSERT_TRUE(engine->LoadCollectionFromStream(GmSoundFontBytes()));
    }
  }

  // Both engines, one period; the left channels are kept.
  void Render() {
    std::vector<float> right(Period);
    for (int i = 0; i < 2; ++i) {
      Left[i].assign(Period, 0.0f);
      Engines[i]->Render(Left[i], right);
      Heard[i].insert(Heard[i].end(), Left[i].begin(), Left[i].end());
    }
    Now += Period * 1000.0 / TKoDirectMusic::SampleRate;
  }
  static float Peak(const std::vector<float>& x) {
    float top = 0;
    for (float v : x)
      top = std::max(top, std::fabs(v));
    return top;
  }
  // A short note on both, then periods until the first engine rests and for
  // about two seconds more (a count of periods that is no whole number of blocks).
  void PlayAndRest() {
    for (auto& engine : Engines)
      NoteOn(*engine, 0, 60, 100);
    Render();
    for (auto& engine : Engines)
      NoteOff(*engine, 0, 60);
    std::size_t periods = 0;
    while (!Engines[0]->Resting() && periods < Seconds(10) / Period) {
      Render();
      ++periods;
    }
    ASSERT_TRUE(Engines[0]->Resting());
    // The reverb's tail had died away (the engine that renders on shows it).
    EXPECT_LT(Peak(Left[1]), TKoDirectMusic::RestLevel);
    EXPECT_GT(periods, Seconds(TKoDirectMusic::RestAfterMs / 1000) / Period);
    std::size_t rested = 0;
    while (rested < Seconds(2) / Period || rested % 8 == 0) { // 8 periods: whole blocks
      Render();
      ++rested;
      ASSERT_EQ(Peak(Left[0]), 0.0f);
    }
    EXPECT_FALSE(Engines[1]->Resting());
    Heard[0].clear();
    Heard[1].clear();
  }
  // The first frame of what was heard since the rest above -60 dBFS.
  long Onset(int engine) const {
    const auto& x = Heard[engine];
    return std::find_if(x.begin(), x.end(), [](float v) { return std::fabs(v) > 1e-3f; }) -
           x.begin();
  }

  double Now = 1000;
  std::unique_ptr<TKoDirectMusic> Engines[2];
  std::vector<float> Left[2];
  std::vector<float> Heard[2];
};

TEST_F(EngineRestTest, SilenceRestsAndTheNextNoteStartsWhereItWouldHave) {
  PlayAndRest();
  for (auto& engine : Engines) {
    TIntendedTimeScope due(Now + 5.0, 0);
    NoteOn(*engine, 0, 64, 100);
  }
  for (int p = 0; p < 20; ++p)
    Render();
  EXPECT_FALSE(Engines[0]->Resting());
  ASSERT_LT(Onset(1), static_cast<long>(Heard[1].size()));
  EXPECT_EQ(Onset(0), Onset(1));
  // The same sound; not sample for sample, as the effects' slow modulation
  // went on in one engine only.
  const double level = Rms(Heard[1], 0, Heard[1].size());
  EXPECT_NEAR(Rms(Heard[0], 0, Heard[0].size()), level, 0.01 * level);
  for (auto& engine : Engines)
    NoteOff(*engine, 0, 64);

  PlayAndRest();
  for (auto& engine : Engines)
    NoteOn(*engine, 0, 67, 100);
  Render();
  ASSERT_LT(Onset(1), static_cast<long>(Period));
  // Never later; a block sooner when the waking render takes it in.
  EXPECT_LE(Onset(0), Onset(1));
  EXPECT_GE(Onset(0), Onset(1) - 64);
}

} // namespace
} // namespace melo

// The accompaniment through the engine, rendered the way a sound card with
// long periods asks for audio: its drum onsets must sit on the sixteenth grid
// whatever the period, not on the period boundaries.
#include "music/AutoAccomp.h"
#include "music/KoMetronome.h"
#include "sound/KoDirectMusic.h"

#include "SynthTestSupport.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace melo {
namespace {

constexpr int Period = 4096;
constexpr std::uint8_t HiWoodBlock = 76; // short, so that every stroke stands apart

// One bar of strokes on every sixteenth note.
TAccompStyle WoodBlockSixteenths() {
  TAccompStyle style = PresetStyles[0];
  TAccompSection& main = style.MainSection;
  main.DrumBeats = 4;
  main.DrumTwoBars = 0;
  main.TwoBars = 0;
  main.PercussionLevel = 9;
  for (TDrumTrack& track : main.DrumTracks)
    track.Active = 0;
  main.DrumTracks[0].Active = 1;
  main.DrumTracks[0].Note = HiWoodBlock;
  main.DrumTracks[0].Level = 9;
  main.DrumTracks[0].OnSteps.fill(1);
  main.ChordLevel = main.ArpeggioLevel = main.BassLevel = 0; // the wood block alone
  return style;
}

// First frames above a threshold, at least 50 ms apart.
std::vector<std::size_t> Onsets(const std::vector<float>& x, float threshold) {
  std::vector<std::size_t> onsets;
  const std::size_t gap = test::Seconds(0.05);
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (std::fabs(x[i]) > threshold && (onsets.empty() || i - onsets.back() > gap))
      onsets.push_back(i);
  }
  return onsets;
}

TEST(AccompRenderTimingTest, DrumOnsetsOfABarSitOnTheGridWithLongPeriods) {
  double now = 20'000.0; // one clock for the metronome and the engine
  TEngineOptions options;
  options.Mode = TEngineMode::Offline;
  options.ClockMs = [&] { return now; };
  TKoDirectMusic engine(options);
  ASSERT_TRUE(engine.SelectPort(0));
  ASSERT_TRUE(engine.LoadCollectionFromStream(test::GmSoundFontBytes()));
  engine.SetReverbLevel(0);
  engine.SelectDrumKit();

  TMetronome metronome([&] { return static_cast<std::int64_t>(std::floor(now)); });
  metronome.Timer.OnTimer = nullptr; // ticked by hand below
  TAutoAccomp accomp(metronome);
  accomp.Engine = &engine;
  accomp.SetLibraryStyle(0, WoodBlockSixteenths());
  accomp.SetAccompStyleGroup(0);
  accomp.SetAPercussVolume(81);
  accomp.SetStart(true);
  metronome.SetRunning(true);

  // The metronome wakes every 3 ms (up to 2 ms after a sixteenth begins);
  // the sound card asks for a period every 4096 frames.
  const double start = now;
  const double periodMs = Period * 1000.0 / TKoDirectMusic::SampleRate;
  double nextPeriod = start + 1.0;
  std::vector<float> left;
  std::vector<float> l(Period), r(Period);
  auto renderDue = [&](double until) {
    while (nextPeriod <= until) {
      const double held = now;
      now = nextPeriod;
      ASSERT_TRUE(engine.Render(l, r));
      left.insert(left.end(), l.begin(), l.end());
      nextPeriod += periodMs;
      now = held;
    }
  };
  const double barMs = 4 * 60000.0 / metronome.Tempo();
  for (double t = start; t < start + barMs; t += 3.0) {
    now = t;
    renderDue(t);
    metronome.Tick();
  }
  metronome.SetRunning(false);
  accomp.SetStart(false);
  renderDue(start + barMs + 4 * periodMs);
  EXPECT_EQ(engine.WaitingMessages(), 0u);

  float peak = 0;
  for (float v : left)
    peak = std::max(peak, std::fabs(v));
  ASSERT_GT(peak, 0.01f);
  const std::vector<std::size_t> onsets = Onsets(left, peak / 4);
  ASSERT_EQ(onsets.size(), 16u);
  const double sixteenthFrames = barMs / 16 * TKoDirectMusic::SampleRate / 1000.0;
  for (std::size_t k = 1; k < onsets.size(); ++k) {
    const double error = static_cast<double>(onsets[k]) - static_cast<double>(onsets[0]) -
                         static_cast<double>(k) * sixteenthFrames;
    EXPECT_LE(std::fabs(error), 64.0) << "stroke " << k;
  }
  // Each stroke sounds one period and the metronome's slack (4 ms) after its
  // time: the first, due at the clock's start, 1 ms before frame 0.
  const double firstDue = (4.0 - 1.0) * TKoDirectMusic::SampleRate / 1000.0 + Period;
  EXPECT_GE(static_cast<double>(onsets[0]), firstDue - 32);
  EXPECT_LE(static_cast<double>(onsets[0]), firstDue + 32 + test::Seconds(0.005)); // the attack
}

} // namespace
} // namespace melo

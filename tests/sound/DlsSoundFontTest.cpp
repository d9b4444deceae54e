#include "sound/DlsSoundFont.h"
#include "sound/DlsWriter.h"

#include "DlsTestSets.h"

#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <random>
#include <thread>

namespace melo {
namespace {

using namespace melo::test;

constexpr int kRate = 44100;

// A synthesizer without audio output, reverb and chorus, rendered on request.
class TOfflineSynth {
public:
  explicit TOfflineSynth(const char* bankSelect = "gs", bool addLoader = true) {
    FSettings = new_fluid_settings();
    fluid_settings_setnum(FSettings, "synth.sample-rate", kRate);
    fluid_settings_setint(FSettings, "synth.reverb.active", 0);
    fluid_settings_setint(FSettings, "synth.chorus.active", 0);
    fluid_settings_setstr(FSettings, "synth.midi-bank-select", bankSelect);
    FSynth = new_fluid_synth(FSettings);
    if (addLoader)
      AddDlsLoader(FSynth);
  }
  ~TOfflineSynth() {
    delete_fluid_synth(FSynth);
    delete_fluid_settings(FSettings);
  }
  bool Load(const TDlsCollection& set) {
    const auto bytes = WriteDls(set);
    if (!LoadDlsBytes(FSynth, bytes, Loaded))
      return false;
    fluid_synth_program_reset(FSynth);
    return true;
  }
  // Bank select and program change the way the engine sends a patch.
  void Select(int chan, std::uint32_t patch) {
    fluid_synth_cc(FSynth, chan, 0, int(patch >> 16) & 0x7F);
    fluid_synth_cc(FSynth, chan, 32, int(patch >> 8) & 0x7F);
    fluid_synth_program_change(FSynth, chan, int(patch & 0x7F));
  }
  std::vector<float> Render(double seconds, std::vector<float>* right = nullptr) {
    const int frames = int(seconds * kRate);
    std::vector<float> left(frames), other(frames);
    fluid_synth_write_float(FSynth, frames, left.data(), 0, 1, other.data(), 0, 1);
    if (right)
      *right = other;
    return left;
  }
  fluid_synth_t* Synth() const { return FSynth; }
  TLoadedSoundSet Loaded;

private:
  fluid_settings_t* FSettings;
  fluid_synth_t* FSynth;
};

// Frequency from the rising zero crossings, interpolated between samples.
double Pitch(const std::vector<float>& x, std::size_t from, std::size_t to) {
  double first = -1, last = -1;
  int crossings = 0;
  for (std::size_t i = from + 1; i < to; ++i) {
    if (x[i - 1] < 0 && x[i] >= 0) {
      const double t = double(i - 1) + x[i - 1] / (x[i - 1] - x[i]);
      if (first < 0) {
        first = t;
      } else {
        ++crossings;
      }
      last = t;
    }
  }
  return crossings > 0 ? crossings * kRate / (last - first) : 0.0;
}

double Cents(double measured, double expected) {
  return 1200 * std::log2(measured / expected);
}

double Rms(const std::vector<float>& x, double from, double to) {
  const std::size_t a = std::size_t(from * kRate), b = std::min(x.size(), std::size_t(to * kRate));
  double sum = 0;
  for (std::size_t i = a; i < b; ++i)
    sum += double(x[i]) * x[i];
  return b > a ? std::sqrt(sum / double(b - a)) : 0.0;
}

double Db(double ratio) {
  return 20 * std::log10(ratio);
}

// Level over 2 ms windows, starting at from seconds.
std::vector<double> Envelope(const std::vector<float>& x, double from, double to) {
  std::vector<double> env;
  for (double t = from; t + 0.002 <= to; t += 0.002)
    env.push_back(Rms(x, t, t + 0.002));
  return env;
}

TDlsCollection OneInstrument(TDlsWave wave, std::vector<TDlsConnection> connections = {}) {
  TDlsCollection c;
  c.Waves.push_back(std::move(wave));
  c.Instruments.push_back(Instrument(0, 0, "Test", {Region(0)}, true));
  c.Instruments[0].Connections = std::move(connections);
  return c;
}

TEST(DlsSoundFont, ListsInstrumentsInCollectionOrder) {
  TOfflineSynth synth("gs", false); // the first load adds the loader itself
  ASSERT_TRUE(synth.Load(Level1Set()));
  ASSERT_EQ(synth.Loaded.Instruments.size(), 4u);
  EXPECT_EQ(synth.Loaded.Instruments[0].Name, "Piano");
  EXPECT_EQ(synth.Loaded.Instruments[2].Patch, 0x00080105u);
  EXPECT_EQ(synth.Loaded.Instruments[3].Patch, 0x80000000u);
  EXPECT_GE(synth.Loaded.FontId, 0);
  TLoadedSoundSet untouched;
  const std::vector<std::uint8_t> junk = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'D', 'L', 'S', ' '};
  EXPECT_FALSE(LoadDlsBytes(synth.Synth(), junk, untouched));
  EXPECT_EQ(fluid_synth_sfcount(synth.Synth()), 1);
}

TEST(DlsSoundFont, PitchFollowsUnityNoteFineTuneAndSampleRate) {
  struct TCase {
    int Note;
    std::int16_t FineTune;
    int Rate;
  };
  for (const TCase& c : {TCase{69, 0, 44100}, TCase{76, 0, 44100}, TCase{60, 0, 22050},
                         TCase{69, 37, 44100}, TCase{57, -50, 32000}}) {
    TDlsWave wave = LoopedSine(440.0, c.Rate, 40, 69);
    wave.SampleInfo.FineTune = c.FineTune;
    TOfflineSynth synth;
    ASSERT_TRUE(synth.Load(OneInstrument(wave)));
    fluid_synth_noteon(synth.Synth(), 0, c.Note, 100);
    const auto out = synth.Render(1.2);
    const double expected = 440.0 * std::pow(2.0, (c.Note - 69 + c.FineTune / 100.0) / 12);
    EXPECT_NEAR(Cents(Pitch(out, kRate / 5, out.size()), expected), 0.0, 1.0)
        << "note " << c.Note << " fine " << c.FineTune << " rate " << c.Rate;
  }
}

TEST(DlsSoundFont, AttackAndReleaseTakeTheirTimes) {
  const double attack = 0.2, release = 0.4;
  const auto tc = [](double seconds) { return std::int32_t(1200 * std::log2(seconds) * 65536); };
  TOfflineSynth synth;
  ASSERT_TRUE(synth.Load(OneInstrument(
      LoopedSine(441.0, kRate, 10, 69),
      {Conn(CONN_DST_EG1_ATTACKTIME, tc(attack)), Conn(CONN_DST_EG1_RELEASETIME, tc(release))})));
  fluid_synth_noteon(synth.Synth(), 0, 69, 127);
  auto out = synth.Render(0.6);
  fluid_synth_noteoff(synth.Synth(), 0, 69);
  const auto tail = synth.Render(0.6);
  out.insert(out.end(), tail.begin(), tail.end());

  // The attack rises linearly: half the level is reached at half the time.
  const auto rise = Envelope(out, 0.0, 0.6);
  const double full = Rms(out, 0.4, 0.6);
  std::size_t half = 0;
  while (half < rise.size() && rise[half] < full / 2)
    ++half;
  EXPECT_NEAR(2 * (half * 0.002 + 0.001), attack, attack * 0.1);

  // The release falls linearly in dB to -96 dB over its time.
  const auto fall = Envelope(out, 0.6, 1.2);
  std::size_t at20 = 0, at60 = 0;
  while (at20 < fall.size() && Db(fall[at20] / full) > -20)
    ++at20;
  while (at60 < fall.size() && Db(fall[at60] / full) > -60)
    ++at60;
  EXPECT_NEAR((at60 - at20) * 0.002 * 96 / 40, release, release * 0.1);
}

TEST(DlsSoundFont, LoopedWavePlaysOnWithoutClicksAndOneShotStops) {
  TDlsCollection set;
  set.Waves.push_back(LoopedSine(441.0, kRate, 4, 69)); // 400 frames, looped whole
  set.Waves.push_back(LoopedSine(441.0, kRate, 4, 69, false));
  set.Instruments.push_back(Instrument(0, 0, "Loop", {Region(0)}, true));
  set.Instruments.push_back(Instrument(0, 1, "Once", {Region(1)}, true));
  TOfflineSynth synth;
  ASSERT_TRUE(synth.Load(set));
  fluid_synth_noteon(synth.Synth(), 0, 69, 127);
  const auto out = synth.Render(2.0);
  const double early = Rms(out, 0.1, 0.2), late = Rms(out, 1.8, 2.0);
  EXPECT_GT(early, 0.01);
  EXPECT_NEAR(Db(late / early), 0.0, 0.5);
  // A click is a step larger than the steepest slope of the sine itself.
  float peak = 0, step = 0;
  for (std::size_t i = kRate / 10; i < out.size(); ++i) {
    peak = std::max(peak, std::abs(out[i]));
    step = std::max(step, std::abs(out[i] - out[i - 1]));
  }
  EXPECT_LT(step, 1.1 * peak * 2 * M_PI * 441.0 / kRate);

  fluid_synth_all_sounds_off(synth.Synth(), 0);
  synth.Render(0.05);
  synth.Select(1, 1);
  fluid_synth_noteon(synth.Synth(), 1, 69, 127);
  const auto once = synth.Render(0.5);
  EXPECT_LT(Rms(once, 0.1, 0.5), 1e-4);
}

TEST(DlsSoundFont, DrumKitPlaysOnChannel9AndMelodicElsewhere) {
  TDlsCollection set;
  set.Waves.push_back(LoopedSine(440.0, kRate, 40, 69));
  set.Waves.push_back(LoopedSine(1000.0, kRate, 100, 60));
  set.Instruments.push_back(Instrument(0, 0, "Sine", {Region(0)}, false));
  set.Instruments.push_back(Instrument(DlsDrumFlag, 0, "Kit", {Region(1, 42, 42)}, false));
  TOfflineSynth synth;
  ASSERT_TRUE(synth.Load(set));
  synth.Select(9, 0x80000000u);
  fluid_synth_noteon(synth.Synth(), 9, 42, 100);
  auto out = synth.Render(0.5);
  EXPECT_NEAR(Cents(Pitch(out, kRate / 10, out.size()), 1000.0 * std::pow(2.0, -18 / 12.0)), 0,
              1.0);
  fluid_synth_noteoff(synth.Synth(), 9, 42);
  fluid_synth_all_sounds_off(synth.Synth(), 9);
  synth.Render(0.1);
  fluid_synth_noteon(synth.Synth(), 9, 50, 100); // outside the kit's regions: silence
  EXPECT_LT(Rms(synth.Render(0.3), 0.05, 0.3), 1e-4);
  fluid_synth_noteon(synth.Synth(), 0, 42, 100);
  out = synth.Render(0.5);
  EXPECT_NEAR(Cents(Pitch(out, kRate / 10, out.size()), 440.0 * std::pow(2.0, -27 / 12.0)), 0, 1.0);
}

TEST(DlsSoundFont, BankSelectPicksTheVariationAndAMissingBankFallsBackToBank0) {
  TDlsCollection set;
  set.Waves.push_back(LoopedSine(220.0, kRate, 20, 69));
  set.Waves.push_back(LoopedSine(440.0, kRate, 40, 69));
  set.Instruments.push_back(Instrument(0, 5, "Plain", {Region(0)}, false));
  set.Instruments.push_back(Instrument(0x0800, 5, "Variation", {Region(1)}, false));
  for (const char* style : {"gs", "mma"}) {
    TOfflineSynth synth(style);
    ASSERT_TRUE(synth.Load(set));
    for (auto [patch, hz] : {std::pair{0x00080005u, 440.0}, std::pair{0x00030005u, 220.0},
                             std::pair{0x00000005u, 220.0}}) {
      synth.Select(0, patch);
      fluid_synth_noteon(synth.Synth(), 0, 69, 100);
      const auto out = synth.Render(0.5);
      fluid_synth_all_sounds_off(synth.Synth(), 0);
      synth.Render(0.05);
      EXPECT_NEAR(Cents(Pitch(out, kRate / 10, out.size()), hz), 0, 1.0)
          << style << " patch " << std::hex << patch;
    }
  }
}

TEST(DlsSoundFont, VelocityLayersAndStereoPlacement) {
  TOfflineSynth synth;
  TDlsCollection set = Level2Set();
  set.Waves[1] = LoopedSine(880.0, kRate, 80, 69); // the loud layer sounds higher
  set.Waves[2] = LoopedSine(660.0, kRate, 60, 69); // and so does the pair's right half
  ASSERT_TRUE(synth.Load(set));
  for (auto [velocity, hz] : {std::pair{40, 440.0}, std::pair{100, 880.0}}) {
    fluid_synth_noteon(synth.Synth(), 0, 69, velocity);
    const auto out = synth.Render(0.4);
    fluid_synth_all_sounds_off(synth.Synth(), 0);
    synth.Render(0.05);
    EXPECT_NEAR(Cents(Pitch(out, kRate / 10, out.size()), hz), 0, 1.0) << velocity;
  }
  synth.Select(1, 48);
  fluid_synth_noteon(synth.Synth(), 1, 69, 100);
  std::vector<float> right;
  const auto left = synth.Render(0.5, &right);
  EXPECT_NEAR(Cents(Pitch(left, kRate / 10, left.size()), 440.0), 0, 1.0);
  EXPECT_NEAR(Cents(Pitch(right, kRate / 10, right.size()), 660.0), 0, 1.0);
}

TEST(DlsSoundFont, VelocityConnectionReplacesTheDefaultCurve) {
  const auto levels = [](std::vector<TDlsConnection> connections) {
    TOfflineSynth synth;
    EXPECT_TRUE(synth.Load(OneInstrument(LoopedSine(441.0, kRate, 10, 69), connections)));
    std::vector<double> out;
    for (int velocity : {127, 32}) {
      fluid_synth_noteon(synth.Synth(), 0, 69, velocity);
      out.push_back(Rms(synth.Render(0.3), 0.1, 0.3));
      fluid_synth_all_sounds_off(synth.Synth(), 0);
      synth.Render(0.05);
    }
    return Db(out[1] / out[0]);
  };
  EXPECT_LT(levels({}), -6.0); // the implied velocity curve
  EXPECT_LT(levels({Conn(CONN_DST_ATTENUATION, -960 * 65536, 0x0082)}),
            -6.0); // breath is no velocity
  EXPECT_NEAR(levels({Conn(CONN_DST_ATTENUATION, 0, CONN_SRC_KEYONVELOCITY, CONN_SRC_NONE,
                           CONN_TRN_CONCAVE)}),
              0.0, 0.2);
}

// Largest deviation in cents of single periods from the mean over [from, to).
double PeriodSpreadCents(const std::vector<float>& x, double from, double to) {
  std::vector<double> crossings;
  for (std::size_t i = std::size_t(from * kRate) + 1; i < std::size_t(to * kRate); ++i) {
    if (x[i - 1] < 0 && x[i] >= 0)
      crossings.push_back(double(i - 1) + x[i - 1] / (x[i - 1] - x[i]));
  }
  const double mean = (crossings.back() - crossings.front()) / double(crossings.size() - 1);
  double spread = 0;
  for (std::size_t i = 1; i < crossings.size(); ++i)
    spread = std::max(spread, std::abs(Cents(mean, crossings[i] - crossings[i - 1])));
  return spread;
}

TEST(DlsSoundFont, ModulationWheelVibratoFollowsTheArticulation) {
  const auto spread = [](std::vector<TDlsConnection> connections) {
    TOfflineSynth synth;
    EXPECT_TRUE(synth.Load(OneInstrument(LoopedSine(441.0, kRate, 10, 69), connections)));
    fluid_synth_cc(synth.Synth(), 0, 1, 127);
    fluid_synth_noteon(synth.Synth(), 0, 69, 100);
    return PeriodSpreadCents(synth.Render(1.5), 0.3, 1.5);
  };
  EXPECT_GT(spread({}), 25.0); // the implied 50 cents on the modulation wheel
  EXPECT_LT(spread({Conn(CONN_DST_PITCH, 0, CONN_SRC_LFO, CONN_SRC_CC1)}), 1.0);
  EXPECT_GT(spread({Conn(CONN_DST_PITCH, 200 * 65536, CONN_SRC_LFO, CONN_SRC_CC1)}), 100.0);
}

TEST(DlsSoundFont, FilterCutoffDampsHighNotesAndGainAttenuates) {
  const auto level = [](std::vector<TDlsConnection> connections) {
    TOfflineSynth synth;
    EXPECT_TRUE(synth.Load(OneInstrument(LoopedSine(4410.0, kRate, 100, 69), connections)));
    fluid_synth_noteon(synth.Synth(), 0, 69, 127);
    return Rms(synth.Render(0.3), 0.1, 0.3);
  };
  const double open = level({});
  const std::int32_t cutoff1k = std::int32_t((1200 * std::log2(1000 / 440.0) + 6900) * 65536);
  EXPECT_LT(Db(level({Conn(CONN_DST_FILTER_CUTOFF, cutoff1k)}) / open), -20.0);
  EXPECT_NEAR(Db(level({Conn(CONN_DST_ATTENUATION, -120 * 65536)}) / open), -12.0, 0.5);
}

TEST(DlsSoundFont, UnloadingWhileANoteSoundsKeepsItsSamplesUntilItEnds) {
  const int before = LiveDlsFontCount();
  TOfflineSynth synth;
  ASSERT_TRUE(synth.Load(OneInstrument(LoopedSine(441.0, kRate, 10, 69),
                                       {Conn(CONN_DST_EG1_RELEASETIME, -1200 * 65536)})));
  fluid_synth_noteon(synth.Synth(), 0, 69, 100);
  synth.Render(0.1);
  fluid_synth_noteoff(synth.Synth(), 0, 69);
  fluid_synth_sfunload(synth.Synth(), synth.Loaded.FontId, 1);
  EXPECT_EQ(LiveDlsFontCount(), before + 1); // the release still reads the samples
  EXPECT_GT(Rms(synth.Render(0.1), 0.0, 0.1), 1e-3);
  // FluidSynth asks again every 100 ms on its own thread once the voice is over.
  for (int wait = 0; wait < 100 && LiveDlsFontCount() > before; ++wait) {
    synth.Render(0.1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(LiveDlsFontCount(), before);
}

} // namespace
} // namespace melo

namespace melo {
namespace {

// Damage the reader lets through (names, tuning, articulation values) must
// still give playable voices.
TEST(DlsSoundFont, AcceptedDamagedFilesPlay) {
  std::mt19937 random(11);
  const auto bytes = WriteDls(Level2Set());
  const auto chunks = Chunks(bytes);
  int played = 0;
  for (int round = 0; round < 400 && played < 60; ++round) {
    auto bad = bytes;
    for (int n = 1 + int(random() % 3); n > 0; --n) {
      const auto& c = chunks[random() % chunks.size()];
      const std::size_t span = std::min<std::size_t>(c.End - c.Header, 64);
      bad[c.Header + random() % span] = std::uint8_t(random());
    }
    TOfflineSynth synth;
    TLoadedSoundSet loaded;
    if (!LoadDlsBytes(synth.Synth(), bad, loaded))
      continue;
    ++played;
    fluid_synth_program_reset(synth.Synth());
    for (int chan : {0, 9}) {
      for (int key : {0, 42, 69, 127})
        fluid_synth_noteon(synth.Synth(), chan, key, 1 + int(random() % 127));
    }
    synth.Render(0.05);
    fluid_synth_all_notes_off(synth.Synth(), 0);
    synth.Render(0.05);
  }
  EXPECT_GT(played, 10);
}

} // namespace
} // namespace melo

// What the player hears, against baselines measured in the same run:
// - the built-in set's load time and resident memory, opened in place,
//   against FluidSynth loading the SoundFont it was made from;
// - loudness at volume 0 dB: the reference note (piano, middle C, velocity
//   80, default reverb) as RMS, and the peak of the densest case (ten-note
//   chords in both hands at velocity 127, the accompaniment at full
//   percussion volume, reverb level 4), with and without the peak limiter.
// - the reference note as a song export renders it against the live engine
//   playing it through an audio driver (FluidSynth's file driver, in real
//   time): the two must be equally loud.
// Prints figures; never fails.
//   bench_audible [msf4.s] [FluidR3_GM.sf2]
#include "ChannelMessages.h"
#include "music/AutoAccomp.h"
#include "music/KoMetronome.h"
#include "sound/KoDirectMusic.h"
#include "sound/KoOfflineRenderer.h"

#include <fluidsynth.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

using namespace melo;

namespace {

using TClock = std::chrono::steady_clock;
constexpr int Rate = TKoDirectMusic::SampleRate;

double Since(TClock::time_point from) {
  return std::chrono::duration<double>(TClock::now() - from).count();
}

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The best wall and processor time of the loads measured into it.
struct TLoadTime {
  double Wall = 1e9, Cpu = 1e9;
};

// Measures its own lifetime into a TLoadTime.
class TLoadTimer {
public:
  explicit TLoadTimer(TLoadTime& into) : FInto(into) {}
  ~TLoadTimer() {
    FInto.Wall = std::min(FInto.Wall, Since(FWall));
    FInto.Cpu = std::min(FInto.Cpu, CpuSeconds() - FCpu);
  }
  TLoadTimer(const TLoadTimer&) = delete;
  TLoadTimer& operator=(const TLoadTimer&) = delete;

private:
  TLoadTime& FInto;
  TClock::time_point FWall = TClock::now();
  double FCpu = CpuSeconds();
};

double ResidentMb() {
  malloc_trim(0);
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return double(resident) * 4096 / (1 << 20);
}

double Db(double x) {
  return x > 0 ? 20 * std::log10(x) : -999.0;
}

struct TStereo {
  std::vector<float> L, R;
  double Rms(std::size_t from, std::size_t to) const {
    double sum = 0;
    to = std::min(to, L.size());
    for (std::size_t i = from; i < to; ++i)
      sum += 0.5 * (double(L[i]) * L[i] + double(R[i]) * R[i]);
    return to > from ? std::sqrt(sum / double(to - from)) : 0;
  }
  double Peak() const {
    double peak = 0;
    for (std::size_t i = 0; i < L.size(); ++i)
      peak = std::max({peak, double(std::fabs(L[i])), double(std::fabs(R[i]))});
    return peak;
  }
};

void RenderInto(TKoDirectMusic& engine, TStereo& out, std::size_t frames) {
  std::vector<float> l(frames), r(frames);
  engine.Render(l, r);
  out.L.insert(out.L.end(), l.begin(), l.end());
  out.R.insert(out.R.end(), r.begin(), r.end());
}

// Piano, middle C, velocity 80 (mezzo-forte), the program's default reverb:
// RMS over the note's first second.
double ReferenceNoteRms(TKoDirectMusic& engine) {
  engine.SetReverbLevel(2);
  test::SetPatch(engine, 1, 0);
  test::NoteOn(engine, 1, 60, 80);
  TStereo out;
  RenderInto(engine, out, Rate);
  test::NoteOff(engine, 1, 60);
  RenderInto(engine, out, 3 * Rate);
  return out.Rms(0, Rate);
}

// RMS over the first second from the note's onset.
double OnsetRms(const TStereo& out) {
  std::size_t onset = 0;
  while (onset < out.L.size() && std::fabs(out.L[onset]) < 1e-4f)
    ++onset;
  return out.Rms(onset, onset + Rate);
}

// The reference note as an export renders it: the song's messages on the
// offline renderer with the built-in set.
double ExportedReferenceRms(const char* setPath) {
  TRenderSetup setup;
  setup.BuiltInFileName = setPath;
  setup.ReverbLevel = 2;
  TKoOfflineRenderer renderer(setup);
  TStereo out;
  if (renderer.Render({{0, 0xB1, 0, 0},
                       {0, 0xB1, 32, 0},
                       {0, 0xC1, 0, 0},
                       {0, 0x91, 60, 80},
                       {1000, 0x81, 60, 64}},
                      out.L, out.R) != TRenderResult::Done)
    return 0;
  return OnsetRms(out);
}

// The reference note played live: the window's engine on an audio driver,
// here FluidSynth's file driver, which calls the engine as a sound card would
// (16-bit, so a little quantisation noise).
double LiveReferenceRms(const char* setPath) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                     ("melo_bench_live_" + std::to_string(::getpid()) + ".wav");
  {
    TEngineOptions options;
    options.AudioDriver = "file";
    options.AudioFile = file.string();
    TKoDirectMusic engine(options);
    if (!engine.SelectPort(0) || !engine.LoadCollectionFromMappedFile(setPath))
      return 0;
    engine.SetVolume(0);
    engine.SetReverbLevel(2);
    test::SetPatch(engine, 1, 0);
    test::NoteOn(engine, 1, 60, 80);
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    test::NoteOff(engine, 1, 60);
    engine.SetPortActive(false); // the driver has written what it played
  }
  // The file driver writes raw 16-bit stereo frames.
  std::ifstream raw(file, std::ios::binary);
  TStereo out;
  std::int16_t frame[2];
  while (raw.read(reinterpret_cast<char*>(frame), sizeof frame)) {
    out.L.push_back(frame[0] / 32768.0f);
    out.R.push_back(frame[1] / 32768.0f);
  }
  std::filesystem::remove(file);
  return OnsetRms(out);
}

// Four bars at tempo 100: ten-note chords in both hands on every beat
// (velocity 127, held to the next), the accompaniment's preset 0 at full
// percussion volume, reverb level 4. The peak of the whole output.
double DensestPeak(const char* setPath, bool limit) {
  double now = 50'000.0;
  TEngineOptions options;
  options.Mode = TEngineMode::Offline;
  options.ClockMs = [&] { return now; };
  options.LimitPeaks = limit;
  TKoDirectMusic engine(options);
  engine.SelectPort(0);
  engine.LoadCollectionFromMappedFile(setPath);
  engine.SetVolume(0);
  engine.SetReverbLevel(4);
  engine.SelectDrumKit();
  test::SetPatch(engine, 0, 0);
  test::SetPatch(engine, 1, 0);

  TMetronome metronome([&] { return static_cast<std::int64_t>(std::floor(now)); });
  metronome.Timer.OnTimer = nullptr;
  TAutoAccomp accomp(metronome);
  accomp.Engine = &engine;
  accomp.SetAccompStyleGroup(0);
  accomp.SetAPercussVolume(127);
  accomp.SetStart(true);
  metronome.SetRunning(true);

  const int left[10] = {36, 40, 43, 47, 48, 50, 52, 55, 57, 59};
  const int right[10] = {60, 64, 67, 71, 72, 74, 76, 79, 81, 83};
  TStereo out;
  const int period = 512;
  const double periodMs = period * 1000.0 / Rate;
  double nextPeriod = now;
  int lastBeat = -1;
  const double start = now;
  for (; now < start + 4 * 2400.0; now += 1.0) {
    while (nextPeriod <= now) {
      RenderInto(engine, out, period);
      nextPeriod += periodMs;
    }
    metronome.Tick();
    const int beat = int((now - start) / 600.0);
    if (beat != lastBeat) {
      for (int i = 0; i < 10; ++i) {
        if (lastBeat >= 0) {
          test::NoteOff(engine, 0, std::uint8_t(left[i]));
          test::NoteOff(engine, 1, std::uint8_t(right[i]));
        }
        test::NoteOn(engine, 0, std::uint8_t(left[i]), 127);
        test::NoteOn(engine, 1, std::uint8_t(right[i]), 127);
      }
      lastBeat = beat;
    }
  }
  metronome.SetRunning(false);
  accomp.SetStart(false);
  RenderInto(engine, out, 2 * Rate);
  return out.Peak();
}

} // namespace

int main(int argc, char** argv) {
  const char* setPath = argc > 1 ? argv[1] : MELO_SOUND_SET_PATH;
  const char* sf2Path = argc > 2 ? argv[2] : "/usr/share/sounds/sf2/FluidR3_GM.sf2";

  // Load time and memory: the built-in set first, in a fresh process; then
  // two more alternating rounds, keeping the best time of each (the machine
  // may be busy with other work). Wall time counts the page faults on the
  // mapping; processor time is steadier on a shared machine.
  TKoDirectMusic engine(TEngineMode::Offline);
  engine.SelectPort(0);
  TLoadTime setLoad, sf2Load;
  double setMemory = 0, processMemory = 0, sf2Memory = 0;
  for (int round = 0; round < 3; ++round) {
    const double before = ResidentMb();
    if (round == 0) {
      TLoadTimer t(setLoad);
      if (!engine.LoadCollectionFromMappedFile(setPath)) {
        std::fprintf(stderr, "cannot load %s\n", setPath);
        return 1;
      }
    } else {
      TKoDirectMusic again(TEngineMode::Offline);
      again.SelectPort(0);
      TLoadTimer t(setLoad);
      again.LoadCollectionFromMappedFile(setPath);
    }
    if (round == 0) {
      setMemory = ResidentMb() - before;
      processMemory = ResidentMb();
    }

    fluid_settings_t* settings = new_fluid_settings();
    fluid_synth_t* synth = new_fluid_synth(settings);
    const double sf2Before = ResidentMb();
    bool loadedSf2 = false;
    {
      TLoadTimer t(sf2Load);
      loadedSf2 = fluid_synth_sfload(synth, sf2Path, 1) != FLUID_FAILED;
    }
    if (round == 0)
      sf2Memory = ResidentMb() - sf2Before;
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    if (!loadedSf2) {
      std::fprintf(stderr, "cannot load %s\n", sf2Path);
      return 1;
    }
  }

  std::printf("built-in set load (best of 3): %.3f s, FluidSynth loading the SoundFont %.3f s, "
              "ratio %.3f (goal <= 0.3); processor time %.3f s against %.3f s, ratio %.3f\n",
              setLoad.Wall, sf2Load.Wall, setLoad.Wall / sf2Load.Wall, setLoad.Cpu, sf2Load.Cpu,
              setLoad.Cpu / sf2Load.Cpu);
  std::printf("resident memory after load: built-in set +%.1f MB (process %.1f MB, goal <= 30), "
              "SoundFont +%.1f MB, ratio %.3f\n",
              setMemory, processMemory, sf2Memory, setMemory / sf2Memory);

  engine.SetVolume(0);
  const double reference = ReferenceNoteRms(engine);
  std::printf("reference note (piano C4, velocity 80, volume 0 dB): %.1f dBFS RMS (goal about "
              "-18)\n",
              Db(reference));
  const double exported = ExportedReferenceRms(setPath);
  const double live = LiveReferenceRms(setPath);
  std::printf("reference note exported: %.2f dBFS RMS, played live through an audio driver: "
              "%.2f dBFS RMS, difference %.2f dB (goal 0)\n",
              Db(exported), Db(live), Db(exported) - Db(live));
  const double unlimited = DensestPeak(setPath, false);
  const double limited = DensestPeak(setPath, true);
  std::printf("densest case peak: %.1f dBFS limited (goal below 0), %.1f dBFS without the "
              "limiter\n",
              Db(limited), Db(unlimited));
  return 0;
}

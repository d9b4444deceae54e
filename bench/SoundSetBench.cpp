// The built-in sound set "msf4.s" played through our DLS voices against the
// General MIDI SoundFont it was made from, played by FluidSynth's own loader:
// per program (three keys, velocities 50 and 110) the largest pitch difference,
// the lowest loudness envelope correlation and the mean spectral distance;
// then render speed, load time and memory of both.
//   bench_sound_set [FluidR3_GM.sf2] [msf4.s]
#include "SoundCompare.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>

using namespace melo;
using namespace melo::bench;

namespace {

using TClock = std::chrono::steady_clock;

double Seconds(TClock::time_point from) {
  return std::chrono::duration<double>(TClock::now() - from).count();
}

// Resident memory in MB, after giving freed heap back.
double ResidentMb() {
  malloc_trim(0);
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return double(resident) * 4096 / (1 << 20);
}

std::vector<std::uint8_t> ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<std::uint8_t> bytes(std::size_t(std::max<std::streamoff>(in.tellg(), 0)));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
  return bytes;
}

struct TRow {
  std::uint32_t Patch;
  double Cents = 0, Correlation = 1, Distance = 0;
};

TRow Compare(TRenderSynth& sf2, TRenderSynth& dls, std::uint32_t patch, std::vector<int> keys) {
  TRow row{patch};
  const int chan = patch & 0x80000000u ? 9 : 0;
  sf2.Select(chan, patch);
  dls.Select(chan, patch);
  double distance = 0;
  int notes = 0;
  for (int key : keys) {
    for (int velocity : {50, 110}) {
      ++notes;
      const auto a = sf2.Note(chan, key, velocity, 1.0, 1.0);
      const auto b = dls.Note(chan, key, velocity, 1.0, 1.0);
      row.Correlation = std::min(row.Correlation, Correlation(Envelope(a), Envelope(b)));
      distance += SpectralDistanceDb(a, b, 0.05, 0.95);
      if (chan != 9) {
        const double cents = Cents(PitchHz(b, kRate / 10, kRate / 2, KeyHz(key)),
                                   PitchHz(a, kRate / 10, kRate / 2, KeyHz(key)));
        row.Cents = std::max(row.Cents, std::abs(cents));
      }
    }
  }
  row.Distance = distance / notes;
  return row;
}

// Seconds to render a busy minute: a note every 50 ms on eight channels
// with eight instruments, each held 0.6 s.
double RenderSpeed(TRenderSynth& synth) {
  const std::uint32_t programs[] = {0, 24, 33, 48, 56, 73, 81, 0x80000000u};
  for (int chan = 0; chan < 8; ++chan)
    synth.Select(chan == 7 ? 9 : chan, programs[chan]);
  std::mt19937 random(1);
  const auto start = TClock::now();
  std::vector<std::pair<int, int>> held;
  for (int step = 0; step < 1200; ++step) {
    const int chan = int(random() % 8) == 7 ? 9 : int(random() % 7);
    const int key = chan == 9 ? 35 + int(random() % 12) : 48 + int(random() % 25);
    fluid_synth_noteon(synth.Synth(), chan, key, 100);
    held.emplace_back(chan, key);
    if (held.size() > 12) {
      fluid_synth_noteoff(synth.Synth(), held.front().first, held.front().second);
      held.erase(held.begin());
    }
    synth.Render(0.05);
  }
  return Seconds(start);
}

} // namespace

int main(int argc, char** argv) {
  const char* sf2Path = argc > 1 ? argv[1] : "/usr/share/sounds/sf2/FluidR3_GM.sf2";
  const char* dlsPath = argc > 2 ? argv[2] : MELO_SOUND_SET_PATH;

  const double base = ResidentMb();
  TRenderSynth sf2;
  auto start = TClock::now();
  if (!sf2.LoadSoundFontFile(sf2Path)) {
    std::fprintf(stderr, "cannot load %s\n", sf2Path);
    return 1;
  }
  const double sf2Load = Seconds(start);
  const double sf2Memory = ResidentMb() - base;

  TRenderSynth dls;
  const double before = ResidentMb();
  start = TClock::now();
  {
    const auto bytes = ReadFile(dlsPath);
    if (!dls.LoadDls(bytes)) {
      std::fprintf(stderr, "cannot load %s\n", dlsPath);
      return 1;
    }
  }
  const double dlsLoad = Seconds(start);
  const double dlsMemory = ResidentMb() - before;

  std::printf("%-10s %-9s %12s %12s %14s\n", "program", "patch", "pitch(cents)", "env.corr",
              "spectral(dB)");
  const int melodic[] = {0,  4,  6,  11, 14, 16, 19, 21, 24, 26,  29,  32,  33,  38,
                         40, 42, 46, 48, 50, 52, 56, 57, 60, 61,  65,  66,  68,  71,
                         73, 74, 79, 80, 81, 88, 89, 95, 98, 104, 105, 108, 114, 118};
  double worstCorrelation = 1, worstCents = 0, sumDistance = 0;
  int rows = 0;
  const auto print = [&](const TRow& row, const char* label) {
    std::printf("%-10s %08x %12.2f %12.4f %14.2f\n", label, row.Patch, row.Cents, row.Correlation,
                row.Distance);
    worstCorrelation = std::min(worstCorrelation, row.Correlation);
    worstCents = std::max(worstCents, row.Cents);
    sumDistance += row.Distance;
    ++rows;
  };
  for (int program : melodic) {
    char label[16];
    std::snprintf(label, sizeof label, "%d", program);
    print(Compare(sf2, dls, std::uint32_t(program), {48, 60, 72}), label);
  }
  // msf4.s keeps the standard kit only (the kit channel 9 gets).
  print(Compare(sf2, dls, 0x80000000u, {35, 36, 38, 40, 42, 44, 46, 49, 51, 57}), "kit 0");
  std::printf("\nworst pitch difference %.2f cents, lowest envelope correlation %.4f, "
              "mean spectral distance %.2f dB over %d programs\n",
              worstCents, worstCorrelation, sumDistance / rows, rows);

  // The best of three alternating runs: the machine may be busy with other work.
  double sf2Speed = 1e9, dlsSpeed = 1e9;
  for (int round = 0; round < 3; ++round) {
    sf2Speed = std::min(sf2Speed, RenderSpeed(sf2));
    dlsSpeed = std::min(dlsSpeed, RenderSpeed(dls));
  }
  std::printf("render 60 s busy: SoundFont %.3f s, DLS %.3f s, ratio DLS/SoundFont %.3f\n",
              sf2Speed, dlsSpeed, dlsSpeed / sf2Speed);
  std::printf("load: SoundFont %.3f s, DLS %.3f s, ratio %.3f\n", sf2Load, dlsLoad,
              dlsLoad / sf2Load);
  std::printf("memory after load: SoundFont %.1f MB, DLS %.1f MB, ratio %.3f\n", sf2Memory,
              dlsMemory, dlsMemory / sf2Memory);
  return 0;
}

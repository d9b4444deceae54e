// Song export speed: the time to export one minute of a two-handed song with
// drums to a MIDI file and to WAV, FLAC and Ogg audio, as a ratio of the
// song's own length (real time). Rendering a minute of silence on the same
// synthesizer, measured in the same run, is the floor audio export stands on.
// Usage: bench_export [sound set]  (default: the built msf4.s)
#include "MinuteSong.h"
#include "app/SongExport.h"
#include "music/KoMidiFile.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

using namespace melo;
using melo::bench::SongMs;

namespace {

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
  TRenderSetup setup;
  setup.BuiltInFileName = argc > 1 ? argv[1] : MELO_SOUND_SET_PATH;
  setup.ReverbLevel = 2;
  const auto dir =
      std::filesystem::temp_directory_path() / ("melo_bench_export_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);

  const TSongHeader header = bench::BenchSongHeader();
  const TSimpleBuffer events = bench::MinuteSong();
  const double songSeconds = SongMs / 1000.0;

  // Loading the sound set, which every audio export (and a MIDI export
  // without the window's voice list) starts with.
  auto start = Clock::now();
  TKoOfflineRenderer silence(setup);
  const double load = SecondsSince(start);
  if (!silence.SoundSetLoaded()) {
    std::fprintf(stderr, "cannot load %s\n", setup.BuiltInFileName.c_str());
    return 1;
  }
  // The floor: a minute of silence through the same synthesizer and tail.
  std::vector<float> left, right;
  start = Clock::now();
  silence.Render({{SongMs, 0xB0, 7, 100}}, left, right);
  const double floor = SecondsSince(start);

  // MIDI with the voice list at hand (as the window exports).
  const TSoundSetVoices voices(silence.Instruments());
  start = Clock::now();
  const std::vector<TTimedMidiMessage> messages = PlaySongOffline(header, events, voices);
  const double play = SecondsSince(start);
  start = Clock::now();
  SaveMidiFile(dir / "bench.mid", messages, {}, SongMs);
  const double midi = play + SecondsSince(start);

  std::printf("song: %.0f s, %zu events, %zu MIDI messages; sound set load %.2f s\n", songSeconds,
              events.Count(), messages.size(), load);
  std::printf("%-28s %10s %16s\n", "per minute of song", "seconds", "x real time");
  std::printf("%-28s %10.4f %16.5f\n", "playing the song offline", play, play / songSeconds);
  std::printf("%-28s %10.4f %16.5f\n", "MIDI file (window's voices)", midi, midi / songSeconds);
  std::printf("%-28s %10.3f %16.4f\n", "silence render (floor)", floor, floor / songSeconds);
  for (const char* name : {"bench.wav", "bench.flac", "bench.ogg"}) {
    TExportTarget target;
    ExportTargetOf(name, target);
    start = Clock::now();
    const TExportResult result = ExportSong(header, events, dir / name, target, setup);
    const double total = SecondsSince(start);
    const double render = total - load;
    std::printf("%-28s %10.3f %16.4f   (%.2f x the floor; with loading %.3f s)%s\n", name, render,
                render / songSeconds, render / floor, total,
                result == TExportResult::Done ? "" : "  FAILED");
  }
  std::filesystem::remove_all(dir);
  return 0;
}

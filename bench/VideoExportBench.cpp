// Video export speed: a minute of a two-handed song with drums exported as a
// video at the default size (twice the window) and 60 frames per second, as a
// multiple of real time, against the audio export (WAV) of the same song in
// the same run, which the video export renders too. Smaller and other
// containers follow for comparison.
// Usage: bench_video_export [sound set]  (default: the built msf4.s)
#include "MinuteSong.h"
#include "app/VideoExport.h"
#include "controls/GlyphBmp.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

using namespace melo;

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (!LoadGlyphLibrary(QStringLiteral(MELO_GLYPH_LIBRARY)) || !LoadSkinBitmaps()) {
    std::fprintf(stderr, "cannot load %s\n", MELO_GLYPH_LIBRARY);
    return 1;
  }
  TRenderSetup setup;
  setup.BuiltInFileName = argc > 1 ? argv[1] : MELO_SOUND_SET_PATH;
  setup.ReverbLevel = 2;
  const auto dir =
      std::filesystem::temp_directory_path() / ("melo_bench_video_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const TSongHeader header = bench::BenchSongHeader();
  const TSimpleBuffer events = bench::MinuteSong();
  const double songSeconds = bench::SongMs / 1000.0;

  TExportTarget wav;
  ExportTargetOf("bench.wav", wav);
  auto start = Clock::now();
  const bool audioDone =
      ExportSong(header, events, dir / "bench.wav", wav, setup) == TExportResult::Done;
  const double audio = SecondsSince(start);
  std::printf("song: %.0f s; a machine with %ld processors\n", songSeconds,
              ::sysconf(_SC_NPROCESSORS_ONLN));
  const auto megabytes = [&dir](const char* name) {
    std::error_code error;
    return static_cast<double>(std::filesystem::file_size(dir / name, error)) / 1e6;
  };
  std::printf("%-34s %9s %14s %16s %8s\n", "export of the minute", "seconds", "x real time",
              "x audio's time", "MB");
  std::printf("%-34s %9.2f %14.1f %16.2f %8.1f%s\n", "audio (WAV, the baseline)", audio,
              songSeconds / audio, 1.0, megabytes("bench.wav"), audioDone ? "" : "  FAILED");

  struct TRun {
    const char* Name;
    const char* Label;
    TVideoOptions Options;
  };
  const TRun runs[] = {
      {"bench.mp4", "MP4 1242x916 60 fps (default)", {}},
      {"bench-small.mp4", "MP4 622x458 30 fps", {30, 1}},
      {"bench.webm", "WebM 1242x916 60 fps", {}},
  };
  for (const TRun& run : runs) {
    start = Clock::now();
    const TExportResult result =
        ExportSongVideo(header, events, dir / run.Name, setup, run.Options, "bench.lyt");
    const double seconds = SecondsSince(start);
    std::printf("%-34s %9.2f %14.1f %16.2f %8.1f%s\n", run.Label, seconds, songSeconds / seconds,
                seconds / audio, megabytes(run.Name),
                result == TExportResult::Done ? "" : "  FAILED");
  }
  std::filesystem::remove_all(dir);
  return 0;
}

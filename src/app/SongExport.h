#pragma once
// Songs exported: played offline by a performance of their own, every event
// at its exact millisecond, into the messages the window's playback would
// send; those go into a Standard MIDI File or are rendered to audio.
#include "app/SimpleRecorder.h"
#include "music/MidiInterfaces.h"
#include "music/TimedMidi.h"
#include "sound/KoOfflineRenderer.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace melo {

class TKoPerformance;
class TPerformanceView;

// A loaded set's own instrument list as the voices a performance chooses from.
class TSoundSetVoices final : public TVoiceList {
public:
  explicit TSoundSetVoices(const TInstrumentList& list) : FList(list) {}
  int VoiceCount() const override { return FList.Count; }
  std::uint32_t VoicePatch(int index) const override {
    return FList.Entries[static_cast<std::size_t>(index)].Patch;
  }

private:
  const TInstrumentList& FList;
};

enum class TExportKind { Midi, Audio };

struct TExportTarget {
  TExportKind Kind = TExportKind::Midi;
  TAudioFileType AudioType = TAudioFileType::Wav;
};

// By the file name's extension: ".mid" or ".midi", else an audio type (any
// letter case). False when the name tells no format (videos are exported by
// VideoExport).
bool ExportTargetOf(const std::filesystem::path& fileName, TExportTarget& target);

// Videos (exported by VideoExport, which needs Qt Widgets): their names and options.
inline constexpr int MinVideoFps = 24;
inline constexpr int MaxVideoFps = 60;
inline constexpr int MinVideoScale = 1;
inline constexpr int MaxVideoScale = 3;

struct TVideoOptions {
  int FramesPerSecond = MaxVideoFps;
  int Scale = 2; // times the window's size
};

// True for the names a video is exported to (.mp4, .mkv, .webm, any letter case).
bool IsVideoFileName(const std::filesystem::path& fileName);

// Songs whose events reach beyond this are refused: no recording runs this
// long, so the time comes from a damaged file (and would make hours of audio).
inline constexpr std::uint32_t MaxExportMs = 12u * 60 * 60 * 1000;

// The time the song ends: its last played event (a later event never plays
// before an earlier one in the list). Skipped events do not count.
std::uint32_t SongEndTime(const TSimpleBuffer& events);

// A song played offline as the window plays it after a fresh start: the
// voices and drum kit it starts with, the song's start state, then event by
// event (the list order decides among events due together) and the silencing
// at the end. Voices are chosen from voices as the window chooses from its
// list; messages go to sink at their event's time, and view (if any) sees
// what the window would show.
class TOfflineSongPlay {
public:
  TOfflineSongPlay(const TSongHeader& header, const TSimpleBuffer& events, const TVoiceList& voices,
                   TTimedMidiCollector& sink, TPerformanceView* view = nullptr);
  TOfflineSongPlay(const TOfflineSongPlay&) = delete;
  TOfflineSongPlay& operator=(const TOfflineSongPlay&) = delete;

  bool Ended() const { return FEnded; }
  // The time of the next event, in milliseconds; only before the end.
  std::uint32_t NextTime() const;
  // Plays the next event; after the last one the playback ends.
  void PlayNext();

private:
  void SkipSkipped();

  const TSimpleBuffer& FEvents;
  TTimedMidiCollector& FSink;
  std::unique_ptr<TKoPerformance> FPerformance;
  std::size_t FNext = 0;
  std::uint32_t FNow = 0;
  bool FEnded = false;
};

// Every message of the song's offline play, at its time.
std::vector<TTimedMidiMessage>
PlaySongOffline(const TSongHeader& header, const TSimpleBuffer& events, const TVoiceList& voices);

enum class TExportResult {
  Done,
  Cancelled,
  TooLong,     // events beyond MaxExportMs
  NoSoundSet,  // the sound set could not be loaded
  WriteFailed, // nothing was written
};

// The export's result of a render's.
TExportResult ExportResultOf(TRenderResult result);

// A sentence for the user.
std::string ExportResultText(TExportResult result);

// Exports the song to fileName as target says, with the sound set and reverb
// of setup. The voices of the MIDI file come from voices when given (the
// window's list), else from the sound set, which is then loaded for them.
// Audio reports its progress; a cancelled or failed export leaves no file.
// Any thread, as long as voices is not changed meanwhile.
TExportResult ExportSong(const TSongHeader& header, const TSimpleBuffer& events,
                         const std::filesystem::path& fileName, const TExportTarget& target,
                         const TRenderSetup& setup, const TVoiceList* voices = nullptr,
                         const TRenderProgress& progress = {});

} // namespace melo

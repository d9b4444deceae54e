#pragma once
// Keeps every recording until it is saved: journals it while it is played
// (RecordingJournal), and when an unsaved recording would be replaced (a new
// recording, a song or MIDI file loaded) or dropped (the window closes), writes
// it into the Recordings folder of the data folder first, without asking.
// Journals left by a copy that ended without closing become songs there too.
// UI thread only; window-free.
#include "app/RecordingJournal.h"
#include "app/SimpleRecorder.h"

#include <QString>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <system_error>
#include <vector>

namespace melo {

class TRecordingKeeper {
public:
  // The journal is written out this often while recording, and at the end.
  static constexpr int FlushIntervalMs = 500;

  // folder: the data folder, where journals are written and the Recordings
  // folder is made. Takes the recorder's OnSongChange.
  TRecordingKeeper(TSimpleRecorder& recorder, std::filesystem::path folder);
  ~TRecordingKeeper();
  TRecordingKeeper(const TRecordingKeeper&) = delete;
  TRecordingKeeper& operator=(const TRecordingKeeper&) = delete;

  // What the caption adds, once there is something to say: where the last
  // unsaved recording was kept, or that its journal cannot be written (told
  // once per recording; the recording goes on in memory). Also said on the
  // terminal. OnNoteChanged fires when it changes.
  const QString& Note() const { return FNote; }
  std::function<void()> OnNoteChanged;

  // Writes the events recorded since the last write to the journal, making
  // the journal at a recording's first events. The timer and the recording's
  // end call it.
  void Flush();
  // An unsaved recording goes into the Recordings folder (the window calls
  // this when it closes).
  void KeepUnsaved();
  // Songs made from the journals that no running copy holds.
  std::vector<std::filesystem::path> RecoverJournals() const;
  std::filesystem::path RecordingsFolder() const { return FFolder / RecordingsFolderName; }

private:
  void SongChange(TSongChange change);
  void BeginRecording();
  void JournalFailed(const std::error_code& error);
  void Tell(const QString& note);

  TSimpleRecorder& FRecorder;
  std::filesystem::path FFolder;
  QTimer FFlushTimer;
  TRecordingJournal FJournal;
  // The recording not yet saved: its start state, when it began, how many of
  // its events the journal holds, and whether the journal gave up.
  bool FUnsaved = false;
  TSongHeader FHeader{};
  std::int64_t FStartTime = 0;
  std::size_t FJournaled = 0;
  bool FJournalFailed = false;
  QString FNote;
};

// The message for songs recovered from journals at start-up, naming them.
QString RecoveredText(const std::vector<std::filesystem::path>& songs);

} // namespace melo

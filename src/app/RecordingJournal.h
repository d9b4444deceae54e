#pragma once
// The recording journal: a recording's events on disk as they are played, so
// that a crash, a killed process or a power cut loses at most the last
// moments. A journal is its own small file in the data folder:
//   16 bytes  "MelotasticoJrnl" and a zero byte
//    8 bytes  the time the recording began, seconds since 1970 (little-endian)
//  8760 bytes the song header the recording began with (its event count unused)
//   then the events in their song-file form, appended as they come.
// While its copy of the program runs, a journal is locked (flock); a journal
// nobody holds was left behind and becomes a song file in the Recordings
// folder. Standard library and POSIX only.
#include "app/SimpleRecorder.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

namespace melo {

inline constexpr std::string_view JournalMagic{"MelotasticoJrnl\0", 16};
inline constexpr std::size_t JournalHeadBytes = JournalMagic.size() + 8 + SongHeaderBytes;
// The folder of the data folder that keeps recovered and unsaved recordings.
inline constexpr const char* RecordingsFolderName = "Recordings";

// The head of a journal for a recording that began at startTime with header.
std::vector<std::uint8_t> JournalHead(const TSongHeader& header, std::int64_t startTime);

// A journal read back: the song file image of its header and of every whole
// event, and when the recording began.
struct TJournalSong {
  std::int64_t StartTime = 0;
  std::size_t EventCount = 0;
  std::vector<std::uint8_t> Image;
};

// False when journal is no journal or its head is cut short. An event (or
// key-definition table) cut short at the end, as a crash leaves it, is
// dropped; every whole one before it is kept.
bool SongFromJournal(std::span<const std::uint8_t> journal, TJournalSong& song);

// Writes a song file image into folder (made when missing), named by the
// local date and time of startTime, "2026-12-08 14-03-59.lyt", or with " (2)",
// " (3)", ... when that name is taken. The file written, or empty with the
// system's reason in error.
std::filesystem::path KeepSong(const std::filesystem::path& folder, std::int64_t startTime,
                               std::span<const std::uint8_t> image, std::error_code& error);

// The journals in folder that no running copy holds: each one with events
// becomes a song file in recordings (KeepSong) and is deleted, one without
// events is deleted. A journal that is not one, or whose song cannot be
// written, stays for a later start. Returns the song files written.
std::vector<std::filesystem::path> RecoverJournals(const std::filesystem::path& folder,
                                                   const std::filesystem::path& recordings);

// One recording's journal, written from the UI thread.
class TRecordingJournal {
public:
  TRecordingJournal() = default;
  // Closes the file: it stays for recovery.
  ~TRecordingJournal();
  TRecordingJournal(const TRecordingJournal&) = delete;
  TRecordingJournal& operator=(const TRecordingJournal&) = delete;

  // Makes a journal of a name of its own in folder, locked while it is open,
  // and writes its head. False with the system's reason in error.
  bool Create(const std::filesystem::path& folder, const TSongHeader& header,
              std::int64_t startTime, std::error_code& error);
  // Appends bytes and forces them to the disk. False with the reason.
  bool Append(std::span<const std::uint8_t> bytes, std::error_code& error);
  // Closes the file and its lock; the file stays.
  void Close();
  // Closes and deletes the file.
  void Remove();
  bool IsOpen() const { return FFile >= 0; }
  const std::filesystem::path& Path() const { return FPath; }

private:
  int FFile = -1;
  std::filesystem::path FPath;
};

} // namespace melo

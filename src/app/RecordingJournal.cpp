#include "app/RecordingJournal.h"

#include "platform/FileBytes.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace melo {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t StartTimeAt = JournalMagic.size();
constexpr std::size_t HeaderAt = StartTimeAt + 8;
constexpr std::string_view JournalPrefix = "Recording-";
constexpr std::string_view JournalExtension = ".journal";
// Names tried for a kept song of one second before giving up.
constexpr int MaxSameSecondNames = 1000;

std::error_code LastError() {
  return {errno, std::generic_category()};
}

bool IsJournalName(const fs::path& file) {
  const std::string name = file.filename().string();
  return name.starts_with(JournalPrefix) && file.extension() == JournalExtension;
}

std::string TimeName(std::int64_t startTime, int sameSecond) {
  const auto seconds = static_cast<std::time_t>(startTime);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H-%M-%S", &local);
  std::string name = text;
  if (sameSecond > 1)
    name += " (" + std::to_string(sameSecond) + ")";
  return name + ".lyt";
}

// Makes a rename or link in folder durable.
void SyncFolder(const fs::path& folder) {
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0)
    return;
  ::fsync(dir);
  ::close(dir);
}

bool WriteAll(int file, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(file, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      return false;
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

// True when the open file is still the one named path (no one removed it
// between our open and our lock).
bool StillNamed(int file, const fs::path& path) {
  struct stat opened {};
  struct stat named {};
  return ::fstat(file, &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// Recovers one journal that this copy now holds. The song file, or empty.
fs::path RecoverHeld(const fs::path& journal, const fs::path& recordings) {
  std::vector<std::uint8_t> bytes;
  TJournalSong song;
  if (!ReadFileBytes(journal, bytes, MaxSongFileBytes + JournalHeadBytes) ||
      !SongFromJournal(bytes, song)) {
    return {};
  }
  std::error_code error;
  if (song.EventCount == 0) {
    fs::remove(journal, error);
    return {};
  }
  fs::path kept = KeepSong(recordings, song.StartTime, song.Image, error);
  if (!kept.empty())
    fs::remove(journal, error);
  return kept;
}

} // namespace

std::vector<std::uint8_t> JournalHead(const TSongHeader& header, std::int64_t startTime) {
  std::vector<std::uint8_t> head(JournalHeadBytes, 0);
  std::memcpy(head.data(), JournalMagic.data(), JournalMagic.size());
  for (std::size_t i = 0; i < 8; ++i) {
    head[StartTimeAt + i] =
        static_cast<std::uint8_t>(static_cast<std::uint64_t>(startTime) >> (8 * i));
  }
  SongHeaderToBytes(
      header, std::span<std::uint8_t, SongHeaderBytes>(head.data() + HeaderAt, SongHeaderBytes));
  return head;
}

bool SongFromJournal(std::span<const std::uint8_t> journal, TJournalSong& song) {
  if (journal.size() < JournalHeadBytes ||
      std::memcmp(journal.data(), JournalMagic.data(), JournalMagic.size()) != 0) {
    return false;
  }
  std::uint64_t startTime = 0;
  for (std::size_t i = 0; i < 8; ++i)
    startTime |= std::uint64_t{journal[StartTimeAt + i]} << (8 * i);
  const TSongHeader header = SongHeaderFromBytes(
      std::span<const std::uint8_t, SongHeaderBytes>(journal.data() + HeaderAt, SongHeaderBytes));
  TSimpleBuffer events;
  events.LoadFromStream(journal, JournalHeadBytes, UINT32_MAX);
  song.StartTime = static_cast<std::int64_t>(startTime);
  song.EventCount = events.Count();
  song.Image = SongImage(header, events);
  return true;
}

fs::path KeepSong(const fs::path& folder, std::int64_t startTime,
                  std::span<const std::uint8_t> image, std::error_code& error) {
  fs::create_directories(folder, error);
  if (error)
    return {};
  for (int sameSecond = 1; sameSecond <= MaxSameSecondNames; ++sameSecond) {
    const fs::path file = folder / TimeName(startTime, sameSecond);
    const bool taken = fs::exists(file, error);
    if (error)
      return {};
    if (taken)
      continue;
    return WriteFileReplacing(file, image, &error) ? file : fs::path();
  }
  error = std::make_error_code(std::errc::file_exists);
  return {};
}

std::vector<fs::path> RecoverJournals(const fs::path& folder, const fs::path& recordings) {
  std::vector<fs::path> kept;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    if (!IsJournalName(entry.path()))
      continue;
    const int file = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
      continue;
    // A running copy holds its journal: that one is not ours to recover.
    if (::flock(file, LOCK_EX | LOCK_NB) == 0 && StillNamed(file, entry.path())) {
      if (fs::path song = RecoverHeld(entry.path(), recordings); !song.empty())
        kept.push_back(std::move(song));
    }
    ::close(file);
  }
  return kept;
}

TRecordingJournal::~TRecordingJournal() {
  Close();
}

// The journal is written under a name of this process's own, locked, and only
// then linked under a journal's name: recovery never finds it unlocked.
bool TRecordingJournal::Create(const fs::path& folder, const TSongHeader& header,
                               std::int64_t startTime, std::error_code& error) {
  Close();
  FPath.clear();
  const std::string own = std::string(JournalPrefix) + std::to_string(::getpid());
  const fs::path draft = folder / (own + ".new");
  ::unlink(draft.c_str()); // left by an earlier process of this number, which has ended
  FFile = ::open(draft.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
  if (FFile < 0) {
    error = LastError();
    return false;
  }
  const std::vector<std::uint8_t> head = JournalHead(header, startTime);
  bool made = ::flock(FFile, LOCK_EX | LOCK_NB) == 0 && Append(head, error);
  for (int n = 1; made && FPath.empty(); ++n) {
    const fs::path path = folder / (own + "-" + std::to_string(n) + std::string(JournalExtension));
    if (::link(draft.c_str(), path.c_str()) == 0) {
      FPath = path;
    } else if (errno != EEXIST) {
      made = false;
    }
  }
  if (!made && !error)
    error = LastError();
  ::unlink(draft.c_str());
  if (!made) {
    Close();
    return false;
  }
  SyncFolder(folder);
  return true;
}

bool TRecordingJournal::Append(std::span<const std::uint8_t> bytes, std::error_code& error) {
  if (FFile < 0) {
    error = std::make_error_code(std::errc::bad_file_descriptor);
    return false;
  }
  if (WriteAll(FFile, bytes) && ::fdatasync(FFile) == 0)
    return true;
  error = LastError();
  return false;
}

void TRecordingJournal::Close() {
  if (FFile >= 0)
    ::close(FFile);
  FFile = -1;
}

void TRecordingJournal::Remove() {
  if (!FPath.empty())
    ::unlink(FPath.c_str());
  Close();
  FPath.clear();
}

} // namespace melo

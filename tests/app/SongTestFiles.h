#pragma once
// Song file images made by hand for the export and command-line tests.
#include "app/SimpleRecorder.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace melo::test {

// The start state of a fresh window: default keys, velocities 70 and 100.
inline TSongHeader FreshSongHeader() {
  TSongHeader header{};
  header.Info = MakeSongInfo("Export test", "Tester", "Two hands and drums");
  header.State.RightVelocity = 100;
  header.State.LeftVelocity = 70;
  header.State.Reserved[0] = 1;
  header.State.Reserved[2] = 2;
  FillDefaultKeyDefs(header.State.KeyDefs);
  return header;
}

struct TOldKeyEvent {
  std::uint32_t Time;
  std::uint8_t Skip;
  std::uint8_t ScanCode;
  bool Down;
};

// A version-1 file: the 376-byte head (texts, transpose, velocities,
// octaves) and 8-byte key events.
inline std::vector<std::uint8_t> Version1Image(std::int32_t transpose, std::int32_t rightVelocity,
                                               std::int32_t leftVelocity, std::int32_t rightOctave,
                                               std::int32_t leftOctave,
                                               const std::vector<TOldKeyEvent>& events) {
  std::vector<std::uint8_t> file(376, 0);
  std::memcpy(file.data(), SongMagic.data(), SongMagic.size());
  auto put32 = [&](std::size_t at, std::int32_t value) {
    for (int i = 0; i < 4; ++i) {
      file[at + static_cast<std::size_t>(i)] =
          static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * i));
    }
  };
  put32(16, 1);
  const TSongInfo info = MakeSongInfo("Old song", "Old player", "");
  std::memcpy(file.data() + 20, &info, sizeof info);
  put32(337, transpose);
  put32(341, rightVelocity);
  put32(345, leftVelocity);
  put32(349, rightOctave);
  put32(353, leftOctave);
  put32(372, static_cast<std::int32_t>(events.size()));
  for (const TOldKeyEvent& e : events) {
    const std::size_t at = file.size();
    file.resize(at + 8, 0);
    for (int i = 0; i < 4; ++i)
      file[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(e.Time >> (8 * i));
    file[at + 4] = e.Skip;
    file[at + 5] = e.ScanCode;
    file[at + 6] = e.Down ? 1 : 0;
  }
  return file;
}

inline void WriteBytes(const std::filesystem::path& fileName,
                       const std::vector<std::uint8_t>& bytes) {
  std::ofstream(fileName, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// The files of folder with the given extension (".lyt"); none when there is no folder.
inline std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder,
                                                  const std::string& extension) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.path().extension() == extension)
      files.push_back(entry.path());
  }
  return files;
}

} // namespace melo::test

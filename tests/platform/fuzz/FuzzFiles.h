#pragma once
// Scratch files for fuzz targets whose readers take a file name: a private
// folder on a memory file system when there is one (so that the replacing
// write's flush costs nothing), removed when the fuzzer exits.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace melo::fuzz {

inline const std::filesystem::path& ScratchFolder() {
  static const std::filesystem::path folder = [] {
    std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/melo-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
      std::abort();
    std::atexit([] { std::filesystem::remove_all(ScratchFolder()); });
    return std::filesystem::path(pattern);
  }();
  return folder;
}

// Writes the bytes to name in the scratch folder and returns its path.
inline std::filesystem::path ScratchFile(const char* name, const std::uint8_t* data,
                                         std::size_t size) {
  const std::filesystem::path path = ScratchFolder() / name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size) ||
      std::fclose(file) != 0)
    std::abort();
  return path;
}

// Writes a seed file into the corpus folder.
inline bool WriteSeed(const std::filesystem::path& folder, const std::string& name,
                      const void* data, std::size_t size) {
  std::FILE* file = std::fopen((folder / name).c_str(), "wb");
  if (file == nullptr)
    return false;
  const bool ok = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
}

// A finding: stop with a stack trace.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

} // namespace melo::fuzz

#pragma once
// Whole-file reads and crash-safe whole-file writes for the program's small
// data files (songs, settings, favourite voices).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <system_error>
#include <vector>

namespace melo {

// Reads the file into bytes. False when it cannot be opened or read, is not a
// regular file (a pipe, device or socket is refused at once, never waited
// on), or is larger than maxBytes (bytes is then left empty).
bool ReadFileBytes(const std::filesystem::path& fileName, std::vector<std::uint8_t>& bytes,
                   std::size_t maxBytes);

// Reads at most maxBytes from the start of the file; a shorter file gives
// fewer bytes. False when the file cannot be opened or read or is not a
// regular file.
bool ReadFileHead(const std::filesystem::path& fileName, std::vector<std::uint8_t>& bytes,
                  std::size_t maxBytes);

// Writes bytes to a temporary file beside fileName and renames it over
// fileName, so a failure at any step leaves the old file as it was. On
// failure, error (when given) receives the reason the system gave.
bool WriteFileReplacing(const std::filesystem::path& fileName, std::span<const std::uint8_t> bytes,
                        std::error_code* error = nullptr);

// The same for files written by someone else (an audio encoder): write gets
// the path of a fresh temporary file beside fileName and fills it; only when
// it returns true is the temporary made durable and renamed over fileName.
// Otherwise, or when a later step fails, the temporary is removed.
bool WriteFileReplacingWith(const std::filesystem::path& fileName,
                            const std::function<bool(const std::filesystem::path&)>& write);

} // namespace melo

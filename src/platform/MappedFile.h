#pragma once
// A file mapped read-only into memory: its pages are read from disk only when
// touched, and count as resident only then. The mapping is private, so a
// later change of the file on disk does not show through as changed bytes
// while the mapping is in use; a file cut shorter meanwhile can still make a
// read past its new end fail, as with any mapping.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

namespace melo {

class TMappedFile {
public:
  // Null when the file cannot be opened or mapped, is empty or is larger
  // than maxBytes.
  static std::shared_ptr<const TMappedFile> Open(const std::filesystem::path& fileName,
                                                 std::size_t maxBytes);
  ~TMappedFile();
  TMappedFile(const TMappedFile&) = delete;
  TMappedFile& operator=(const TMappedFile&) = delete;

  std::span<const std::uint8_t> Bytes() const { return {FData, FSize}; }

  // Lets go of the pages touched so far: reading a file's structure touches
  // pages all over it, and the system maps their cached neighbours in as
  // well. The bytes stay readable; a page counts as resident again once read.
  void ReleaseTouchedPages() const;

private:
  TMappedFile(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}
  const std::uint8_t* FData;
  std::size_t FSize;
};

} // namespace melo

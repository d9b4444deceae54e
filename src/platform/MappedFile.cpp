#include "platform/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace melo {

std::shared_ptr<const TMappedFile> TMappedFile::Open(const std::filesystem::path& fileName,
                                                     std::size_t maxBytes) {
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return nullptr;
  struct stat info {};
  void* data = MAP_FAILED;
  std::size_t size = 0;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
      static_cast<std::uintmax_t>(info.st_size) <= maxBytes) {
    size = static_cast<std::size_t>(info.st_size);
    data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  }
  static_cast<void>(::close(fd)); // read-only, and the mapping keeps the file
  if (data == MAP_FAILED)
    return nullptr;
  // Reads jump between the waves that are played: no read-ahead around them.
  ::madvise(data, size, MADV_RANDOM);
  return std::shared_ptr<const TMappedFile>(
      new TMappedFile(static_cast<const std::uint8_t*>(data), size));
}

void TMappedFile::ReleaseTouchedPages() const {
  // The mapping is private and never written: dropped pages come back from
  // the file unchanged.
  ::madvise(const_cast<std::uint8_t*>(FData), FSize, MADV_DONTNEED);
}

TMappedFile::~TMappedFile() {
  ::munmap(const_cast<std::uint8_t*>(FData), FSize);
}

} // namespace melo

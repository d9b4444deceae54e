#include "platform/FileBytes.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace melo {
namespace {

class FileHandle {
public:
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() {
    if (fd_ >= 0)
      static_cast<void>(::close(fd_)); // a write checks its own close()
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  // Closes now so that a failing close (lost write-back) can be reported.
  bool close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

private:
  int fd_;
};

// Reads until maxBytes or the end of the file.
bool ReadUpTo(int fd, std::vector<std::uint8_t>& bytes, std::size_t maxBytes) {
  bytes.clear();
  std::uint8_t buf[65536];
  while (bytes.size() < maxBytes) {
    std::size_t want = std::min(sizeof buf, maxBytes - bytes.size());
    ssize_t got = ::read(fd, buf, want);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      return false;
    if (got == 0)
      break;
    bytes.insert(bytes.end(), buf, buf + got);
  }
  return true;
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR)
      continue;
    if (put == 0)
      errno = ENOSPC; // a regular file that takes no more bytes is full
    if (put <= 0)
      return false;
    bytes = bytes.subspan(static_cast<std::size_t>(put));
  }
  return true;
}

std::filesystem::path TemporaryNameBeside(const std::filesystem::path& fileName) {
  static std::atomic<unsigned> counter{0};
  std::string suffix = ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  std::filesystem::path tmp = fileName;
  tmp += suffix;
  return tmp;
}

} // namespace

bool ReadFileHead(const std::filesystem::path& fileName, std::vector<std::uint8_t>& bytes,
                  std::size_t maxBytes) {
  bytes.clear();
  // Non-blocking, so that opening a named pipe without a writer returns at
  // once instead of waiting for one; it is then refused below.
  FileHandle file(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!file.ok())
    return false;
  // Pipes, devices and sockets may never end or block on every read: only
  // regular files are data files.
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
    return false;
  const int flags = ::fcntl(file.get(), F_GETFL);
  if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
    return false;
  // Room for the whole file at once: growing the buffer as it fills would
  // briefly hold up to three times the file.
  if (info.st_size > 0)
    bytes.reserve(std::min(maxBytes, static_cast<std::size_t>(info.st_size)));
  return ReadUpTo(file.get(), bytes, maxBytes);
}

bool ReadFileBytes(const std::filesystem::path& fileName, std::vector<std::uint8_t>& bytes,
                   std::size_t maxBytes) {
  // One byte more than allowed tells an oversized file from one of exactly maxBytes.
  std::size_t limit = maxBytes < SIZE_MAX ? maxBytes + 1 : maxBytes;
  if (!ReadFileHead(fileName, bytes, limit) || bytes.size() > maxBytes) {
    bytes.clear();
    return false;
  }
  return true;
}

bool WriteFileReplacing(const std::filesystem::path& fileName, std::span<const std::uint8_t> bytes,
                        std::error_code* error) {
  // The reason is taken right after the failing call, before clean-up can change errno.
  auto noteError = [error] {
    if (error)
      *error = std::error_code(errno, std::generic_category());
  };
  std::filesystem::path tmp = TemporaryNameBeside(fileName);
  FileHandle file(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!file.ok()) {
    noteError();
    return false;
  }
  bool written = WriteAll(file.get(), bytes) && ::fsync(file.get()) == 0;
  if (!written)
    noteError();
  if (!file.close() && written) {
    noteError();
    written = false;
  }
  if (written && ::rename(tmp.c_str(), fileName.c_str()) != 0) {
    noteError();
    written = false;
  }
  if (!written)
    static_cast<void>(::unlink(tmp.c_str())); // the failure is already reported
  return written;
}

bool WriteFileReplacingWith(const std::filesystem::path& fileName,
                            const std::function<bool(const std::filesystem::path&)>& write) {
  std::filesystem::path tmp = TemporaryNameBeside(fileName);
  {
    FileHandle file(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!file.ok())
      return false;
  }
  bool written = write(tmp);
  if (written) {
    FileHandle file(::open(tmp.c_str(), O_RDONLY | O_CLOEXEC));
    written = file.ok() && ::fsync(file.get()) == 0 && file.close();
  }
  if (!written || ::rename(tmp.c_str(), fileName.c_str()) != 0) {
    static_cast<void>(::unlink(tmp.c_str())); // the failure is already reported
    return false;
  }
  return true;
}

} // namespace melo

#include "platform/DataFolder.h"

#include "platform/GlobalState.h"

#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <string>
#include <system_error>
#include <unistd.h>

namespace melo {
namespace {

std::mutex folderLock;
std::filesystem::path injectedFolder;

[[maybe_unused]] const bool InjectedFolderRegistered = RegisterGlobalState([] {
  std::filesystem::path saved;
  {
    std::lock_guard lock(folderLock);
    saved = injectedFolder;
  }
  return TGlobalRestore([saved] { SetProgramFolder(saved); });
});

std::filesystem::path HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home)
    return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
    return pw->pw_dir;
  return "/tmp";
}

// Writable means a file can really be created there (permissions, read-only
// mounts and root all give the right answer this way).
bool CanWriteIn(const std::filesystem::path& folder) {
  std::filesystem::path probe = folder / (".melotastico-probe-" + std::to_string(::getpid()));
  int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0)
    return false;
  // Only the creation answers the question; the probe's clean-up may fail.
  static_cast<void>(::close(fd));
  static_cast<void>(::unlink(probe.c_str()));
  return true;
}

bool Exists(const std::filesystem::path& file) {
  std::error_code ec;
  return std::filesystem::is_regular_file(file, ec);
}

} // namespace

std::filesystem::path ExecutableFolder() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec)
    return std::filesystem::current_path(ec);
  return exe.parent_path();
}

std::filesystem::path ProgramFolder() {
  {
    std::lock_guard lock(folderLock);
    if (!injectedFolder.empty())
      return injectedFolder;
  }
  return ExecutableFolder();
}

void SetProgramFolder(const std::filesystem::path& folder) {
  std::lock_guard lock(folderLock);
  injectedFolder = folder;
}

std::filesystem::path ResourceFolder() {
  const std::filesystem::path program = ProgramFolder();
  if (program.filename() != "bin")
    return program;
  std::filesystem::path shared = program.parent_path() / "share" / "melotastico";
  std::error_code ec;
  return std::filesystem::is_directory(shared, ec) ? shared : program;
}

std::filesystem::path UserDataFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::filesystem::path base = xdg && std::filesystem::path(xdg).is_absolute()
                                   ? std::filesystem::path(xdg)
                                   : HomeFolder() / ".config";
  return base / "Melotastico";
}

std::filesystem::path DataFileForReading(std::string_view name) {
  std::filesystem::path user = UserDataFolder() / name;
  return Exists(user) ? user : ProgramFolder() / name;
}

std::filesystem::path DataFileForWriting(std::string_view name) {
  std::filesystem::path user = UserDataFolder() / name;
  if (Exists(user))
    return user;
  std::filesystem::path program = ProgramFolder();
  if (CanWriteIn(program))
    return program / name;
  std::error_code ec;
  std::filesystem::create_directories(UserDataFolder(), ec);
  return CanWriteIn(UserDataFolder()) ? user : std::filesystem::path();
}

} // namespace melo

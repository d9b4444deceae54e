#include "sound/VideoEncoder.h"

#include "platform/DataFolder.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <mutex>
#include <system_error>

namespace melo {
namespace {

using TOpenEncoder = decltype(&MeloOpenVideoEncoder);

// Beside the program (a build), the installed library folder relative to the
// program's, then the build's own folder (tests and benchmarks run elsewhere).
std::array<std::filesystem::path, 3> ModuleCandidates() {
  const std::filesystem::path folder = ExecutableFolder();
  return {folder / VideoModuleFileName,
          folder / MELO_VIDEO_MODULE_FROM_BINDIR / VideoModuleFileName,
          std::filesystem::path(MELO_VIDEO_MODULE_BUILD_DIR) / VideoModuleFileName};
}

// Loaded once and kept for the program's life: encoders it made may live on.
TOpenEncoder LoadModule(std::string& error) {
  static std::mutex lock;
  static TOpenEncoder open = nullptr;
  static std::string failure;
  const std::lock_guard guard(lock);
  if (open != nullptr || !failure.empty()) {
    error = failure;
    return open;
  }
  for (const std::filesystem::path& candidate : ModuleCandidates()) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(candidate, ec))
      continue;
    void* module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      failure = "the video module " + candidate.string() + " cannot be loaded: " + dlerror();
    } else if ((open = reinterpret_cast<TOpenEncoder>(dlsym(module, "MeloOpenVideoEncoder"))) ==
               nullptr) {
      failure = "the video module " + candidate.string() + " has no encoder";
    }
    error = failure;
    return open;
  }
  failure = "the video module " + std::string(VideoModuleFileName) + " is not installed";
  error = failure;
  return nullptr;
}

} // namespace

bool VideoContainerOf(const std::filesystem::path& fileName, TVideoContainer& container) {
  std::string extension = fileName.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".mp4") {
    container = TVideoContainer::Mp4;
  } else if (extension == ".mkv") {
    container = TVideoContainer::Matroska;
  } else if (extension == ".webm") {
    container = TVideoContainer::WebM;
  } else {
    return false;
  }
  return true;
}

std::unique_ptr<TVideoEncoder> TVideoEncoder::Open(const std::filesystem::path& fileName,
                                                   const TVideoSettings& settings,
                                                   std::string& error) {
  const TOpenEncoder open = LoadModule(error);
  return open == nullptr ? nullptr
                         : std::unique_ptr<TVideoEncoder>(open(fileName.c_str(), settings, error));
}

} // namespace melo

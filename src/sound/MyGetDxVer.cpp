#include "sound/MyGetDxVer.h"

#include "platform/GlobalState.h"
#include "sound/GetDXVer.h"

#include <QtGlobal>
#include <cstdio>

namespace melo {
namespace {

struct TProbeResult {
  std::uint32_t Version = 0;
  std::uint32_t Platform = 0;
};

TProbeResult RunProbe() {
  TProbeResult result;
  GetDXVersion(result.Version, result.Platform);
  return result;
}

const TProbeResult StartupProbe = RunProbe();

} // namespace

std::uint32_t DXVersion = StartupProbe.Version;
std::uint32_t DXPlatform = StartupProbe.Platform;

namespace {

// Put back after each test (platform/GlobalState.h).
[[maybe_unused]] const bool StateRegistered = RegisterGlobalVariables(DXVersion, DXPlatform);

} // namespace

std::string DXVersionLabel(std::uint32_t version) {
  if (version >= DXVersionCurrent) {
    return QT_TRANSLATE_NOOP("TfrmAbout", "[DirectX 8.0 或者更新]");
  }
  char text[32];
  std::snprintf(text, sizeof text, "[DirectX %u.%u]", (version >> 8) & 0xFFu, version & 0xFFu);
  return text;
}

} // namespace melo

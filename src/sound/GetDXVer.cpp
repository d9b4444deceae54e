#include "sound/GetDXVer.h"

#include <fluidsynth.h>

namespace melo {

void GetDXVersion(std::uint32_t& version, std::uint32_t& platform) {
  // The synthesizer library is linked, so it is present; a major version other
  // than 2 would mean an interface this program was not built for.
  int major = 0;
  int minor = 0;
  int micro = 0;
  fluid_version(&major, &minor, &micro);
  version = major == 2 ? DXVersionCurrent : 0;
  platform = 0;
}

} // namespace melo

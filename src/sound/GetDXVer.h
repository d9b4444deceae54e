#pragma once
// Which generation of the sound platform is available. The gates elsewhere
// (start-up refuses below 0x0800, reverb needs 0x0700) use this number.
#include <cstdint>

namespace melo {

constexpr std::uint32_t DXVersionCurrent = 0x0800; // "8.0 or later"
constexpr std::uint32_t DXVersionReverb = 0x0700;  // reverb settings need at least this

// version: 0 when no usable synthesizer library is found, else DXVersionCurrent.
// platform: 0 (not determined; there is no Windows family here).
void GetDXVersion(std::uint32_t& version, std::uint32_t& platform);

} // namespace melo

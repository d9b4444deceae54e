#pragma once
// The presence check's results, computed once when the program starts.
#include <cstdint>
#include <string>

namespace melo {

// Mutable only so that tests can stand in for an older platform.
extern std::uint32_t DXVersion;
extern std::uint32_t DXPlatform;

// The About box's label: "[DirectX 8.0 或者更新]" from 0x0800 on, else
// "[DirectX major.minor]" (UTF-8).
std::string DXVersionLabel(std::uint32_t version);

} // namespace melo

#pragma once
// Writes a TDlsCollection as a DLS file: Level 2 chunks (rgn2, lar2, art2) for
// instruments marked Level 2, Level 1 chunks otherwise. Used by the sound-set
// converter and by the tests that build collections in memory.
#include "sound/DlsCollection.h"

#include <cstdint>
#include <string>
#include <vector>

namespace melo {

std::vector<std::uint8_t> WriteDls(const TDlsCollection& collection);

// Writes a temporary file beside path and renames it over path.
bool SaveDlsFile(const TDlsCollection& collection, const std::string& path);

} // namespace melo

// libFuzzer entry for the DLS reader: any bytes must be read or refused
// without a crash, a hang or a read out of bounds (run by scripts/fuzz dls).
#include "sound/DlsCollection.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  melo::TDlsCollection collection;
  if (collection.LoadFromMemory(data, size)) {
    // Whatever is accepted must be consistent: every region names a wave.
    for (const auto& instrument : collection.Instruments)
      for (const auto& region : instrument.Regions)
        if (region.WaveIndex >= collection.Waves.size())
          __builtin_trap();
  }
  return 0;
}

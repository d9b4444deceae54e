// libFuzzer entry for the DLS reader and its instrument listing: any bytes
// must be read or refused without a crash, a hang or a read out of bounds
// (run by scripts/fuzz dls).
#include "sound/DlsCollection.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  melo::TDlsCollection collection;
  std::vector<melo::TDlsInstrument> listed;
  const bool lists = melo::ListDlsInstruments(data, size, listed);
  if (collection.LoadFromMemory(data, size)) {
    // Whatever is accepted must be consistent: every region names a wave,
    // and the listing reads the same instruments.
    for (const auto& instrument : collection.Instruments)
      for (const auto& region : instrument.Regions)
        if (region.WaveIndex >= collection.Waves.size())
          __builtin_trap();
    if (!lists || listed.size() != collection.Instruments.size())
      __builtin_trap();
    for (std::size_t i = 0; i < listed.size(); ++i)
      if (listed[i].Patch() != collection.Instruments[i].Patch() ||
          listed[i].Name != collection.Instruments[i].Name)
        __builtin_trap();
  }
  return 0;
}

// libFuzzer entry for favourite-voice files (run by scripts/fuzz favorites):
// any bytes are loaded over the defaults without a crash or undefined
// behaviour, and a loaded table saves to a file that loads back to itself.
// Built with MELO_FUZZ_SEEDS it writes the seed corpus.
#include "sound/FavoriteVoices.h"

#include "../../platform/fuzz/FuzzFiles.h"

using namespace melo;

#ifndef MELO_FUZZ_SEEDS

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TFavoriteVoiceTable table{};
  if (!LoadFavoriteVoices(fuzz::ScratchFile("in.fvc", data, size), table))
    fuzz::Fail("a readable file is refused");
  for (TFavoriteVoice& voice : table) {
    const std::uint32_t patch = FavoriteVoicePatch(voice);
    TFavoriteVoice copy = voice;
    SetFavoriteVoicePatch(copy, patch);
    if (!(copy == voice))
      fuzz::Fail("a voice does not survive its patch");
  }
  const std::filesystem::path saved = fuzz::ScratchFolder() / "out.fvc";
  TFavoriteVoiceTable again{};
  if (!SaveFavoriteVoices(saved, table) || !LoadFavoriteVoices(saved, again) || !(again == table))
    fuzz::Fail("a saved table does not load back the same");
  return 0;
}

#else

int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  const std::filesystem::path folder = argv[1];
  TFavoriteVoiceTable table{};
  SetDefaultFavoriteVoices(table);
  bool ok = SaveFavoriteVoices(folder / "default.fvc", table);
  table[0] = {0, 1, 5, 0, 100, {}};
  table[23].Program = 127;
  table[23].BankMSB = 121;
  ok = SaveFavoriteVoices(folder / "changed.fvc", table) && ok;
  // A short file: only the first slot.
  std::array<std::uint8_t, FavoriteVoiceFileSize> image;
  FavoriteVoicesToBytes(table, image);
  ok = fuzz::WriteSeed(folder, "one-slot.fvc", image.data(), 184) && ok;
  return ok ? 0 : 1;
}

#endif

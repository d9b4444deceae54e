// sf2dls [--standard-kit-only] INPUT.sf2 OUTPUT: writes the SoundFont as a
// DLS Level 2 collection (the built-in sound set "msf4.s" is made this way).
#include "SoundFontToDls.h"
#include "sound/DlsWriter.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
  melo::TConvertOptions options;
  if (argc == 4 && std::string_view(argv[1]) == "--standard-kit-only") {
    options.StandardKitOnly = true;
    ++argv;
    --argc;
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s [--standard-kit-only] INPUT.sf2 OUTPUT.dls\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary | std::ios::ate);
  std::vector<std::uint8_t> bytes(std::size_t(std::max<std::streamoff>(in.tellg(), 0)));
  in.seekg(0);
  if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()))) {
    std::fprintf(stderr, "%s: cannot read\n", argv[1]);
    return 1;
  }
  melo::TDlsCollection collection;
  std::string error;
  if (!melo::ConvertSoundFontToDls(bytes, collection, error, options)) {
    std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
    return 1;
  }
  if (!melo::SaveDlsFile(collection, argv[2])) {
    std::fprintf(stderr, "%s: cannot write\n", argv[2]);
    return 1;
  }
  std::printf("%s: %zu instruments, %zu waves\n", argv[2], collection.Instruments.size(),
              collection.Waves.size());
  return 0;
}

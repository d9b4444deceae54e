// libFuzzer entry for the configuration file (run by scripts/fuzz config): any
// bytes give a configuration or the defaults without a crash or undefined
// behaviour, and a loaded configuration saves to a file that loads back to
// itself. Built with MELO_FUZZ_SEEDS it writes the seed corpus.
#include "sound/SetupConfig.h"

#include "../../platform/fuzz/FuzzFiles.h"

#include <string>

using namespace melo;

#ifndef MELO_FUZZ_SEEDS

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TSetupConfig config = DefaultConfig;
  if (!LoadConfigFrom(fuzz::ScratchFile("in.cfg", data, size), config)) {
    if (!(config == DefaultConfig))
      fuzz::Fail("a refused file leaves other than the defaults");
    return 0;
  }
  (void)WritePeriodForLatency(config.Latency);
  const std::filesystem::path saved = fuzz::ScratchFolder() / "out.cfg";
  TSetupConfig again = DefaultConfig;
  if (!SaveConfigTo(saved, config) || !LoadConfigFrom(saved, again) || !(again == config))
    fuzz::Fail("a saved configuration does not load back the same");
  return 0;
}

#else

int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  const std::filesystem::path folder = argv[1];
  bool ok = SaveConfigTo(folder / "default.cfg", DefaultConfig);
  ok = SaveConfigTo(folder / "external.cfg", {60, 0, true, "/home/u/音色/Drum.dls"}) && ok;
  const std::string loose = "  +25\n4\r\n257\rC:\\Drum.dls";
  ok = fuzz::WriteSeed(folder, "loose.cfg", loose.data(), loose.size()) && ok;
  return ok ? 0 : 1;
}

#endif

// libFuzzer entry for the SoundFont path (run by scripts/fuzz soundfont): the
// structure checks (compressed streams opened with libsndfile) take any bytes
// without a crash or undefined behaviour, and whatever they pass is loaded by
// the synthesizer's own reader the way the engine does it, which must not
// crash either. Built with MELO_FUZZ_SEEDS it writes the seed corpus.
#include "sound/KoSoundSet.h"

#include "../TinySoundFont.h"

#include <fluidsynth.h>

#include "../../platform/fuzz/FuzzFiles.h"

using namespace melo;

#ifndef MELO_FUZZ_SEEDS

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fluid_synth_t* synth = [] {
    fluid_set_log_function(FLUID_PANIC, nullptr, nullptr);
    fluid_set_log_function(FLUID_ERR, nullptr, nullptr);
    fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 0);
    fluid_synth_t* s = new_fluid_synth(settings);
    AddMemoryLoader(s);
    return s;
  }();
  const std::span<const std::uint8_t> bytes(data, size);
  TLoadedSoundSet loaded;
  if (LoadSoundSet(synth, bytes, loaded)) {
    for (int channel = 0; channel < 2; ++channel)
      fluid_synth_noteon(synth, channel, 60, 100);
    float left[64], right[64];
    fluid_synth_write_float(synth, 64, left, 0, 1, right, 0, 1);
    fluid_synth_system_reset(synth);
    fluid_synth_sfunload(synth, loaded.FontId, 0);
  }
  return 0;
}

#else

int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  const std::filesystem::path folder = argv[1];
  const test::Bytes tiny = test::TFont().Build();
  bool ok = fuzz::WriteSeed(folder, "tiny.sf2", tiny.data(), tiny.size());
  test::TFont stereo;
  std::string right = stereo.Shdr.substr(0, 46);
  right.replace(42, 4, test::U16(0) + test::U16(2));
  stereo.Shdr.replace(42, 4, test::U16(1) + test::U16(4));
  stereo.Shdr.insert(46, right);
  stereo.Samples += test::Chunk("sm24", std::string(146, '\0'));
  const test::Bytes pair = stereo.Build();
  ok = fuzz::WriteSeed(folder, "stereo.sf2", pair.data(), pair.size()) && ok;
  const test::Bytes compressed = test::CompressedFont(test::OggTone()).Build();
  ok = fuzz::WriteSeed(folder, "compressed.sf3", compressed.data(), compressed.size()) && ok;
  return ok ? 0 : 1;
}

#endif

// libFuzzer entry for the stored audio output and MIDI input (run by scripts/fuzz audiomidi): any
// bytes give choices without a crash or undefined behaviour, and loaded choices save to a file
// that loads back to them. Built with MELO_FUZZ_SEEDS it writes the seed corpus.
#include "app/AudioMidiSettings.h"

#include "../../platform/fuzz/FuzzFiles.h"

#include <string>

using namespace melo;

#ifndef MELO_FUZZ_SEEDS

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TAudioMidiChoices choices;
  if (!LoadAudioMidiFrom(fuzz::ScratchFile("in.cfg", data, size), choices)) {
    if (!(choices == TAudioMidiChoices{}))
      fuzz::Fail("a refused file leaves a choice");
    return 0;
  }
  (void)StoredMidiSource(choices.MidiIn);
  const std::filesystem::path saved = fuzz::ScratchFolder() / "out.cfg";
  TAudioMidiChoices again;
  if (!SaveAudioMidiTo(saved, choices) || !LoadAudioMidiFrom(saved, again) || !(again == choices))
    fuzz::Fail("saved choices do not load back the same");
  return 0;
}

#else

int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  const std::filesystem::path folder = argv[1];
  bool ok = SaveAudioMidiTo(folder / "none.cfg", {});
  ok = SaveAudioMidiTo(folder / "chosen.cfg", {"sysdefault:CARD=PCH", "Keyboard: MIDI 1"}) && ok;
  const std::string loose = "midi-in=24:0\r\nother=1\raudio=pulse";
  ok = fuzz::WriteSeed(folder, "loose.cfg", loose.data(), loose.size()) && ok;
  return ok ? 0 : 1;
}

#endif

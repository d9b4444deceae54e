#pragma once
// The notes of a song file to practise: a MIDI file's messages as they are,
// a song of our own as its playback sends them.
#include "music/MidiInterfaces.h"
#include "music/TimedMidi.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace melo {

struct TPracticeSong {
  std::vector<TTimedMidiMessage> Messages; // in time order
  std::uint32_t EndTime = 0;
};

// False, with reason set to a sentence, when the file cannot be read. A
// song's voices are chosen from voices.
bool LoadPracticeSong(const std::filesystem::path& fileName, const TVoiceList& voices,
                      TPracticeSong& song, std::string& reason);

} // namespace melo

#pragma once
// Converts a General MIDI SoundFont 2 into a DLS Level 2 collection: every
// preset becomes an instrument (bank 128 a drum kit), every preset zone x
// instrument zone a region with its sample, loop, ranges, tuning, gain,
// exclusive class and articulation (envelopes, LFOs, filter, sends, pan), set
// so that our DLS voices sound as FluidSynth plays the SoundFont itself.
#include "sound/DlsCollection.h"

#include <cstdint>
#include <span>
#include <string>

namespace melo {

struct TConvertOptions {
  // Keep only the standard drum kit (bank 128, program 0). The program puts
  // the last kit of the sorted built-in set on channel 9, so a set with the
  // standard kit alone gives the accompaniment its General MIDI drums.
  bool StandardKitOnly = false;
};

// False when the bytes are no SoundFont 2 this converter can read (the
// compressed samples of SoundFont 3 among them).
bool ConvertSoundFontToDls(std::span<const std::uint8_t> sf2, TDlsCollection& out,
                           std::string& error, const TConvertOptions& options = {});

} // namespace melo

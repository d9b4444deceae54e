#pragma once
// The audio output and the MIDI input for this run: the stored choices
// (Melotastico.ini, platform/ProgramSettings) and the command line's say over
// them, and a MIDI source in the form it is stored in.
#include "platform/ProgramSettings.h"

#include <string>
#include <string_view>

namespace melo {

// The choices for this run: an option given on the command line wins over the
// stored one (for this run only).
TAudioMidiChoices ChoicesForRun(TAudioMidiChoices stored, const std::string& audioArg,
                                const std::string& midiInArg);

// A MIDI source as it is stored: an ALSA port's address ("Keyboard: MIDI 1
// [24:0]") is left off, since client numbers change from one session to the
// next; Connect finds the port by the rest of its name.
std::string StoredMidiSource(std::string_view source);

} // namespace melo

#pragma once
// The audio output and the MIDI input chosen on the Audio and MIDI page,
// stored in a file of their own in the data folder (AudioMidi.cfg), so the
// settings file Melotastico4.cfg stays as it is. UTF-8 text, a line each:
//   audio=<output name>
//   midi-in=<MIDI source>
// Unknown lines are skipped; an empty value is no choice.
#include <filesystem>
#include <string>
#include <string_view>

namespace melo {

struct TAudioMidiChoices {
  // An output's name as TKoDirectSound lists it ("default", "pulse", "jack",
  // an ALSA device); empty: the default output.
  std::string AudioOutput;
  // A MIDI source as TMidiInPorts::Connect takes it; empty: none.
  std::string MidiIn;

  bool operator==(const TAudioMidiChoices&) const = default;
};

inline constexpr std::string_view AudioMidiFileName = "AudioMidi.cfg";
// Longer names are no device's: such a value is not stored, and not read.
inline constexpr std::size_t MaxAudioMidiValueBytes = 255;

// Fills choices from the file; any bytes are safe. A value holding a control
// character or longer than MaxAudioMidiValueBytes is taken as no choice. False
// (and no choice at all) when the file cannot be read or is too large.
bool LoadAudioMidiFrom(const std::filesystem::path& fileName, TAudioMidiChoices& choices);
// The stored choices in the data folder; none without a file.
TAudioMidiChoices LoadAudioMidi();

// Whether both values come back from the file as they are.
bool AudioMidiStorable(const TAudioMidiChoices& choices);
// Writes the file (a temporary renamed over it); false when it could not be
// written or a value is not storable, the old file then stays as it was.
bool SaveAudioMidiTo(const std::filesystem::path& fileName, const TAudioMidiChoices& choices);
// The same into the data folder; the file written (or that could not be) goes
// to written, empty when no folder can be written.
bool SaveAudioMidi(const TAudioMidiChoices& choices, std::filesystem::path& written);

// The choices for this run: an option given on the command line wins over the
// stored one (for this run only).
TAudioMidiChoices ChoicesForRun(TAudioMidiChoices stored, const std::string& audioArg,
                                const std::string& midiInArg);

// A MIDI source as it is stored: an ALSA port's address ("Keyboard: MIDI 1
// [24:0]") is left off, since client numbers change from one session to the
// next; Connect finds the port by the rest of its name.
std::string StoredMidiSource(std::string_view source);

} // namespace melo

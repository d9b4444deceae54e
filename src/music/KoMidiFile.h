#pragma once
// Standard MIDI Files (type 1) of a played song: a conductor track with the
// song's texts and the tempo, then one track per channel that sends anything.
// 500 ticks per quarter note at 120 beats per minute make one tick one
// millisecond, so every message keeps its exact time. Drum strikes, which
// General MIDI plays without a note-off, get one for the notation programs that
// read the file (see BuildMidiFile).
#include "music/TimedMidi.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace melo {

inline constexpr std::uint16_t MidiFileDivision = 500;       // ticks per quarter note
inline constexpr std::uint32_t MidiFileTempo = 500000;       // microseconds per quarter note
inline constexpr std::uint32_t MaxMidiFileTime = 0x0FFFFFFF; // the largest delta a file holds
// How long a drum strike lasts in the file at most: a sixteenth note.
inline constexpr std::uint32_t DrumStrikeTicks = MidiFileDivision / 4;

// The song's texts, UTF-8.
struct TMidiFileTexts {
  std::string Title;
  std::string Player;
  std::string Remark;
};

// The name of the track that carries a channel: the hands, the accompaniment
// parts and the drums by their role, other channels by number.
std::string ChannelTrackName(int channel);

// The file image. Messages are taken in time order (equal times keep their
// order); non-channel messages are left out. Each note-on of the drum channel
// is ended by a note-off DrumStrikeTicks later, or sooner by an off the
// messages hold (a note-off or a note-on of velocity 0) or by the key's next
// strike, just before it. General MIDI drums ignore offs, so the file plays as
// the messages do; every other message keeps its channel and time. The
// conductor track ends at endTime or at the last message, whichever is later.
// False (file empty) when a time lies beyond MaxMidiFileTime.
bool BuildMidiFile(const std::vector<TTimedMidiMessage>& messages, const TMidiFileTexts& texts,
                   std::uint32_t endTime, std::vector<std::uint8_t>& file);

// Builds the image and writes it through a temporary file renamed over
// fileName; false (nothing written) when either step fails.
bool SaveMidiFile(const std::filesystem::path& fileName,
                  const std::vector<TTimedMidiMessage>& messages, const TMidiFileTexts& texts,
                  std::uint32_t endTime);

} // namespace melo

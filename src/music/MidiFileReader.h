#pragma once
// Standard MIDI Files read back: format 0 and 1, ticks per quarter note or
// SMPTE frames, the tempo map of every track applied to all of them. Every
// channel message keeps its millisecond; system-exclusive and meta events
// other than the texts below are passed over. Nothing in a file is trusted:
// each chunk, event and number is checked against the bytes left, and a file
// that breaks a rule is refused whole, with a sentence saying what is wrong.
#include "music/TimedMidi.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace melo {

// Larger files are refused: it bounds what a damaged file makes the reader
// allocate, and keeps every file's messages within what a song file holds.
inline constexpr std::size_t MaxMidiFileBytes = 4u << 20;

// Files whose music lasts longer are refused: no song lasts a day, so the
// time comes from damage (and every time stays far within what the writer takes).
inline constexpr std::uint32_t MaxMidiFileMs = 24u * 60 * 60 * 1000;

// What a song takes from a file. Texts are UTF-8 (bytes that are not UTF-8
// are read as Latin-1) and cut to MaxMidiTextBytes.
struct TMidiFileContent {
  // Every channel message in time order; messages due together keep the
  // order of their tracks and, within a track, of the file. A note-on of
  // velocity 0 becomes a note-off of velocity 0.
  std::vector<TTimedMidiMessage> Messages;
  std::vector<std::string> TrackNames; // each track's first name, empty when it has none
  std::string Copyright;               // the first copyright notice
  // The first track's text events, without karaoke tags (texts starting
  // with '@'); lyrics, which karaoke files keep in a later track, are dropped.
  std::vector<std::string> Texts;
  std::uint32_t EndTime = 0; // ms: where the longest track ends
};

inline constexpr std::size_t MaxMidiTextBytes = 255;

// Reads a file image into content. False, with content emptied and reason
// set to a sentence, when the file is not one this reader takes whole.
bool ParseMidiFile(std::span<const std::uint8_t> file, TMidiFileContent& content,
                   std::string& reason);

// The same for a file, which must be a regular file of at most MaxMidiFileBytes.
bool ReadMidiFile(const std::filesystem::path& fileName, TMidiFileContent& content,
                  std::string& reason);

// True for the names MIDI files go by: .mid, .midi and .kar in any case.
bool IsMidiFileName(const std::filesystem::path& fileName);

} // namespace melo

#pragma once
// The chord vocabulary: chord styles (chord types, fixed-key chords of C major
// and one-hand harmonies), the diatonic modes of C major, and the names of
// chords. Everything here is constant; nothing holds state.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace melo {

// Marks an unused slot of a chord-style row; the first one ends the row.
inline constexpr std::int32_t NoInterval = -127;

inline constexpr int ChordSlotCount = 6;
inline constexpr int ChordStyleCount = 32;
inline constexpr int ChordTypeCount = 15;

using TChordRow = std::array<std::int32_t, ChordSlotCount>;

struct TChordStyleNoVolumeType {
  // Display name (UTF-8 in memory; the blanks inside align a fixed-pitch list).
  std::string_view StyleName;
  // Row = pitch class of the played key (0 = C .. 11 = B); each used slot is a
  // semitone offset from the played note, unused slots hold NoInterval.
  std::array<TChordRow, 12> Intervals;
};

// 0..14 chord types, 15..17 fixed-key chords, 18..31 one-hand harmonies.
extern const std::array<TChordStyleNoVolumeType, ChordStyleCount> ChordStyles;

// The seven modes of the C major scale (Ionian .. Locrian), as semitone
// offsets of their steps from the first note.
extern const std::array<std::array<std::int32_t, 7>, 7> ModeIntervals;

extern const std::array<std::string_view, 12> RootNames;
extern const std::array<std::string_view, ChordTypeCount> ChordTypeSuffixes;
// The chord each played pitch class stands for in the fixed-key styles 15..17.
extern const std::array<std::string_view, 12> FixedChordNames;

// Degree code of an accompaniment pattern over root, read in the C major mode
// that starts on root (black-key roots use Ionian): 0 = root, 1 = next step,
// 7 = octave above, -14 = two octaves below. Returns the MIDI note, or -1 for
// NoInterval, codes below -14 and notes outside 0..127.
int DegreeToNote(int root, int degree);

// Name of the chord on root (a MIDI note). In fixed-chord mode it is the fixed
// chord of root's pitch class; otherwise the root name followed by the suffix
// of chord type styleIndex (a style index outside 0..14 adds no suffix).
std::string ChordName(int root, int styleIndex, bool fixedChordMode);

} // namespace melo

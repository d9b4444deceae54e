#pragma once
// The chord vocabulary: chord styles (chord types, fixed-key chords of C major
// and one-hand harmonies), the diatonic modes of C major, and the names of
// chords. Everything here is constant; nothing holds state.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
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

// A chord the accompaniment plays over: a root pitch class and a chord type.
struct TChord {
  int Root = 0; // pitch class, 0 = C .. 11 = B
  int Type = 0; // chord type, an index 0..14 of ChordStyles
  bool operator==(const TChord&) const = default;
};

inline constexpr int MajorChord = 0;

// The fixed chord of C major a played key stands for (FixedChordNames): the
// white keys their diatonic triads, the black keys the dominant seventh on
// the white key below.
TChord FixedChordOfKey(int note);

// The chord held notes (MIDI notes, any order, any octave) name, in any
// inversion. One pitch class is its major chord. A set that two chords share
// (C6 and Am7) is read as the one rooted on the lowest note, else as the
// first chord type in table order. Nothing for a set that is no chord type.
std::optional<TChord> RecogniseChord(std::span<const int> notes);

// Degree code over a chord: DegreeToNote over root, then fitted to the chord
// type. The white-key mode of the root knows only the chords of C major; a
// code on a chord step of the mode (0 root, 2 third, 4 fifth, 6 seventh)
// moves, within its octave, onto that tone of the chord: D major's third is
// F sharp where D Dorian has F, E7's third G sharp and its seventh D. The
// added tone of the sixth chords (6, m6) takes the mode's sixth step, and a
// seventh step of a chord with no fourth tone keeps the mode's note, like the
// passing steps 1, 3 and 5. Returns -1 where DegreeToNote does and for notes
// the fitting moves outside 0..127.
int ChordDegreeToNote(int root, int degree, int chordType);

} // namespace melo

#include "music/Chord.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <initializer_list>

namespace melo {
namespace {

using Rows = std::array<TChordRow, 12>;

constexpr TChordRow Row(std::initializer_list<std::int32_t> offsets) {
  TChordRow row{};
  row.fill(NoInterval);
  std::size_t slot = 0;
  for (std::int32_t offset : offsets)
    row[slot++] = offset;
  return row;
}

// A chord type: the same notes over every key.
constexpr TChordStyleNoVolumeType Uniform(std::string_view name,
                                          std::initializer_list<std::int32_t> offsets) {
  TChordStyleNoVolumeType style{name, {}};
  style.Intervals.fill(Row(offsets));
  return style;
}

// Appends offsets after the used slots of every row of base.
constexpr TChordStyleNoVolumeType Extended(std::string_view name, const Rows& base,
                                           std::initializer_list<std::int32_t> extra) {
  TChordStyleNoVolumeType style{name, base};
  for (TChordRow& row : style.Intervals) {
    std::size_t slot = 0;
    while (row[slot] != NoInterval)
      ++slot;
    for (std::int32_t offset : extra)
      row[slot++] = offset;
  }
  return style;
}

// Two-note harmonies: the played note and one added note per key.
constexpr Rows Second(std::initializer_list<std::int32_t> added) {
  Rows rows{};
  std::size_t key = 0;
  for (std::int32_t offset : added)
    rows[key++] = Row({0, offset});
  return rows;
}

constexpr Rows kBelowThird = Second({-3, -4, -3, -4, -4, -3, -4, -3, -4, -4, -5, -4});
constexpr Rows kBelowSixth = Second({-9, -8, -9, -8, -8, -9, -8, -9, -8, -8, -7, -8});

constexpr Rows kNaturalTriads = {Row({0, 4, 7}), Row({0, 3, 6}), Row({0, 3, 7}), Row({0, 2, 6}),
                                 Row({0, 3, 7}), Row({0, 4, 7}), Row({0, 3, 6}), Row({0, 4, 7}),
                                 Row({0, 3, 6}), Row({0, 3, 7}), Row({0, 2, 6}), Row({0, 3, 6})};

constexpr std::array<TChordStyleNoVolumeType, ChordStyleCount> BuildChordStyles() {
  return {{
      Uniform("大三和弦", {0, 4, 7}),
      Uniform("小三和弦      (m)", {0, 3, 7}),
      Uniform("减三和弦      (m-5或dim)", {0, 3, 6}),
      Uniform("增三和弦      (+5或aug)", {0, 4, 8}),
      Uniform("六和弦        (6)", {0, 4, 7, 9}),
      Uniform("小六和弦      (m6)", {0, 3, 7, 9}),
      Uniform("七和弦        (7)", {0, 4, 7, 10}),
      Uniform("小七和弦      (m7)", {0, 3, 7, 10}),
      Uniform("大七和弦      (M7)", {0, 4, 7, 11}),
      Uniform("小大七和弦    (mM7)", {0, 3, 7, 11}),
      Uniform("减七和弦      (dim7)", {0, 3, 6, 9}),
      Uniform("降五小七和弦  (m7-5)", {0, 3, 6, 10}),
      Uniform("降五七和弦    (7-5)", {0, 4, 6, 10}),
      Uniform("升三七和弦    (7Sus4)", {0, 5, 7, 10}),
      Uniform("升三大三和弦  (Sus4)", {0, 5, 7}),
      {"Sunlark方式和弦1(351)",
       {Row({4, 7, 12}), Row({3, 6, 9, 11}), Row({3, 7, 12}), Row({-1, 3, 6, 9}), Row({0, 3, 7}),
        Row({0, 4, 7}), Row({-3, -1, 3, 6}), Row({-5, 0, 4}), Row({-3, -1, 3, 6}), Row({-5, 0, 3}),
        Row({-6, -3, -1, 3}), Row({-6, 0, 3})}},
      {"Sunlark方式和弦2(513)",
       {Row({7, 12, 16}), Row({6, 9, 11, 15}), Row({7, 12, 15}), Row({3, 6, 9, 11}),
        Row({3, 7, 12}), Row({4, 7, 12}), Row({-1, 3, 6, 9}), Row({0, 4, 7}), Row({-1, 3, 6, 9}),
        Row({0, 3, 7}), Row({-3, -1, 3, 6}), Row({0, 3, 6})}},
      {"Sunlark方式和弦3(135)",
       {Row({0, 4, 7}), Row({-1, 3, 6, 9}), Row({-5, 0, 3}), Row({-3, -1, 3, 6}), Row({-5, 0, 3}),
        Row({-5, 0, 4}), Row({-6, -3, -1, 3}), Row({-8, -5, 0}), Row({-6, -3, -1, 3}),
        Row({-9, -5, 0}), Row({-9, -6, -3, -1}), Row({-12, -9, -6})}},
      Uniform("高8度双音", {0, 12}),
      Uniform("低8度双音", {0, -12}),
      {"自然上方3度双音", Second({4, 3, 3, 2, 3, 4, 3, 4, 3, 3, 2, 3})},
      {"自然下方3度双音", kBelowThird},
      {"自然下方4度双音", Second({-5, -6, -5, -6, -5, -5, -6, -5, -6, -5, -6, -6})},
      {"自然下方5度双音", Second({-7, -8, -7, -8, -7, -6, -7, -7, -8, -7, -8, -7})},
      Extended("自然下方3度和8度", kBelowThird, {-12}),
      {"自然下方6度", kBelowSixth},
      Extended("自然下方6度和8度", kBelowSixth, {-12}),
      {"自然三和弦(原位)", kNaturalTriads},
      {"自然三和弦(第一转位)",
       {Row({4, 7, 12}), Row({3, 6, 12}), Row({3, 7, 12}), Row({2, 6, 12}), Row({3, 7, 12}),
        Row({4, 7, 12}), Row({3, 6, 12}), Row({4, 7, 12}), Row({3, 6, 12}), Row({3, 7, 12}),
        Row({2, 6, 12}), Row({3, 6, 12})}},
      {"自然三和弦(第二转位)",
       {Row({-5, 0, 4}), Row({-6, 0, 3}), Row({-5, 0, 3}), Row({-6, 0, 2}), Row({-5, 0, 3}),
        Row({-5, 0, 4}), Row({-6, 0, 3}), Row({-5, 0, 4}), Row({-6, 0, 3}), Row({-5, 0, 3}),
        Row({-6, 0, 2}), Row({-6, 0, 3})}},
      Extended("自然三和弦(重复上下8度根音)", kNaturalTriads, {12, -12}),
      {"自然七和弦",
       {Row({0, 4, 7, 11}), Row({0, 3, 6, 10}), Row({0, 3, 7, 10}), Row({0, 2, 6, 9}),
        Row({0, 3, 7, 10}), Row({0, 4, 7, 11}), Row({0, 3, 6, 10}), Row({0, 4, 7, 10}),
        Row({0, 3, 6, 9}), Row({0, 3, 7, 10}), Row({0, 2, 6, 9}), Row({0, 3, 6, 10})}},
  }};
}

// Mode row for each pitch class of a root; black keys read the Ionian row.
constexpr std::array<int, 12> kModeOfPitchClass = {0, 0, 1, 0, 2, 3, 0, 4, 0, 5, 0, 6};

constexpr int LowestDegree = -14;

// Pitch class of any note number, negative ones included.
int PitchClass(long long note) {
  return static_cast<int>(((note % 12) + 12) % 12);
}

constexpr std::array<TChord, 12> kFixedChords = {{{0, 0},
                                                  {0, 6},
                                                  {2, 1},
                                                  {2, 6},
                                                  {4, 1},
                                                  {5, 0},
                                                  {5, 6},
                                                  {7, 0},
                                                  {7, 6},
                                                  {9, 1},
                                                  {9, 6},
                                                  {11, 2}}};

constexpr int SixthChord = 4;
constexpr int MinorSixthChord = 5;

// Mode steps a chord's tones stand on.
constexpr int ThirdStep = 2;
constexpr int FifthStep = 4;
constexpr int SixthStep = 5;
constexpr int SeventhStep = 6;

const TChordRow& ChordTypeRow(int chordType) {
  return ChordStyles[static_cast<std::size_t>(chordType)].Intervals[0];
}

// Bit n set: pitch class n sounds in the chord type on root.
unsigned PitchClassSet(const TChord& chord) {
  unsigned set = 0;
  for (const std::int32_t offset : ChordTypeRow(chord.Type)) {
    if (offset == NoInterval)
      break;
    set |= 1U << static_cast<unsigned>(PitchClass(chord.Root + offset));
  }
  return set;
}

std::optional<TChord> ChordOnRoot(int root, unsigned set) {
  for (int type = 0; type < ChordTypeCount; ++type) {
    const TChord chord{root, type};
    if (PitchClassSet(chord) == set)
      return chord;
  }
  return std::nullopt;
}

// The chord's interval above its root for a mode step, -1 where the step
// keeps the mode's note.
int ChordToneOfStep(int chordType, int step) {
  const TChordRow& row = ChordTypeRow(chordType);
  const bool sixthChord = chordType == SixthChord || chordType == MinorSixthChord;
  switch (step) {
  case 0:
    return 0;
  case ThirdStep:
    return row[1];
  case FifthStep:
    return row[2];
  case SixthStep:
    return sixthChord ? row[3] : -1;
  case SeventhStep:
    return sixthChord || row[3] == NoInterval ? -1 : row[3];
  default:
    return -1;
  }
}

} // namespace

constinit const std::array<TChordStyleNoVolumeType, ChordStyleCount> ChordStyles =
    BuildChordStyles();

constinit const std::array<std::array<std::int32_t, 7>, 7> ModeIntervals = {{
    {0, 2, 4, 5, 7, 9, 11}, // Ionian (C)
    {0, 2, 3, 5, 7, 9, 10}, // Dorian (D)
    {0, 1, 3, 5, 7, 8, 10}, // Phrygian (E)
    {0, 2, 4, 6, 7, 9, 11}, // Lydian (F)
    {0, 2, 4, 5, 7, 9, 10}, // Mixolydian (G)
    {0, 2, 3, 5, 7, 8, 10}, // Aeolian (A)
    {0, 1, 3, 5, 6, 8, 10}, // Locrian (B)
}};

constinit const std::array<std::string_view, 12> RootNames = {"C",  "#C", "D",  "#D", "E",  "F",
                                                              "#F", "G",  "#G", "A",  "#A", "B"};

constinit const std::array<std::string_view, ChordTypeCount> ChordTypeSuffixes = {
    "",   "m",   "dim",  "aug",  "6",   "m6",    "7",   "m7",
    "M7", "mM7", "dim7", "m7-5", "7-5", "7sus4", "sus4"};

constinit const std::array<std::string_view, 12> FixedChordNames = {
    "C", "C7", "Dm", "D7", "Em", "F", "F7", "G", "G7", "Am", "A7", "Bdim"};

int DegreeToNote(int root, int degree) {
  // Codes below the lowest one would index before the mode row.
  if (degree == NoInterval || degree < LowestDegree)
    return -1;
  // 64-bit: no overflow for any pair of ints.
  const long long d = static_cast<long long>(degree) - LowestDegree;
  const int step = static_cast<int>(d % 7);
  const long long octave = d / 7;
  const int mode = kModeOfPitchClass[static_cast<std::size_t>(PitchClass(root))];
  const long long note =
      static_cast<long long>(root) +
      ModeIntervals[static_cast<std::size_t>(mode)][static_cast<std::size_t>(step)] + octave * 12 -
      24;
  return note >= 0 && note <= 127 ? static_cast<int>(note) : -1;
}

TChord FixedChordOfKey(int note) {
  return kFixedChords[static_cast<std::size_t>(PitchClass(note))];
}

std::optional<TChord> RecogniseChord(std::span<const int> notes) {
  if (notes.empty())
    return std::nullopt;
  unsigned set = 0;
  int lowest = notes.front();
  for (const int note : notes) {
    set |= 1U << static_cast<unsigned>(PitchClass(note));
    lowest = std::min(lowest, note);
  }
  if (std::popcount(set) == 1)
    return TChord{PitchClass(lowest), MajorChord};
  if (auto onBass = ChordOnRoot(PitchClass(lowest), set))
    return onBass;
  for (int root = 0; root < 12; ++root) {
    if (auto chord = ChordOnRoot(root, set))
      return chord;
  }
  return std::nullopt;
}

int ChordDegreeToNote(int root, int degree, int chordType) {
  const int note = DegreeToNote(root, degree);
  if (note < 0 || chordType < 0 || chordType >= ChordTypeCount)
    return note;
  const int step = (degree - LowestDegree) % 7;
  const int chordTone = ChordToneOfStep(chordType, step);
  if (chordTone < 0)
    return note;
  const int mode = kModeOfPitchClass[static_cast<std::size_t>(PitchClass(root))];
  const int fitted = note -
                     ModeIntervals[static_cast<std::size_t>(mode)][static_cast<std::size_t>(step)] +
                     chordTone;
  return fitted >= 0 && fitted <= 127 ? fitted : -1;
}

std::string ChordName(int root, int styleIndex, bool fixedChordMode) {
  const auto pitchClass = static_cast<std::size_t>(PitchClass(root));
  if (fixedChordMode)
    return std::string(FixedChordNames[pitchClass]);
  std::string name(RootNames[pitchClass]);
  if (styleIndex >= 0 && styleIndex < ChordTypeCount)
    name += ChordTypeSuffixes[static_cast<std::size_t>(styleIndex)];
  return name;
}

} // namespace melo

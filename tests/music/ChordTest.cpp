#include "music/Chord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <set>
#include <vector>

namespace melo {
namespace {

const std::set<int> kWhiteKeys = {0, 2, 4, 5, 7, 9, 11};

int PitchClass(int note) {
  return ((note % 12) + 12) % 12;
}

// Used slots of a row (up to the first NoInterval).
std::vector<int> Used(const TChordRow& row) {
  auto end = std::find(row.begin(), row.end(), NoInterval);
  return {row.begin(), end};
}

// Pitch classes sounded when key pitchClass plays this style.
std::set<int> Sounded(int style, int pitchClass) {
  std::set<int> classes;
  for (int offset : Used(ChordStyles[static_cast<std::size_t>(style)].Intervals[pitchClass]))
    classes.insert(PitchClass(pitchClass + offset));
  return classes;
}

TEST(DegreeToNote, ReadsTheModeStartingOnTheRoot) {
  EXPECT_EQ(DegreeToNote(48, 0), 48);
  EXPECT_EQ(DegreeToNote(48, 1), 50);
  EXPECT_EQ(DegreeToNote(48, 7), 60);
  EXPECT_EQ(DegreeToNote(48, -7), 36);
  EXPECT_EQ(DegreeToNote(48, -14), 24);
  EXPECT_EQ(DegreeToNote(50, 2), 53); // D Dorian: D E F
  EXPECT_EQ(DegreeToNote(49, 2), 53); // black-key root: Ionian, 49 + 4
  EXPECT_EQ(DegreeToNote(59, 4), 65); // B Locrian: B C D E F
}

TEST(DegreeToNote, EveryWhiteRootStaysOnTheWhiteKeys) {
  for (int root = 60; root < 72; ++root) {
    if (!kWhiteKeys.contains(PitchClass(root)))
      continue;
    std::set<int> classes;
    for (int degree = -14; degree <= 13; ++degree) {
      int note = DegreeToNote(root, degree);
      EXPECT_TRUE(kWhiteKeys.contains(PitchClass(note))) << root << " " << degree;
      EXPECT_EQ(DegreeToNote(root, degree + 7), note + 12) << root << " " << degree;
      classes.insert(PitchClass(note));
    }
    EXPECT_EQ(classes, kWhiteKeys) << root;
  }
}

TEST(DegreeToNote, OutOfRangeAndInvalidCodesGiveMinusOne) {
  EXPECT_EQ(DegreeToNote(120, 14), -1); // 144
  EXPECT_EQ(DegreeToNote(5, -14), -1);  // -19
  EXPECT_EQ(DegreeToNote(127, 0), 127);
  EXPECT_EQ(DegreeToNote(116, 7), -1); // 128
  EXPECT_EQ(DegreeToNote(24, -14), 0);
  for (int root : {0, 48, 60, 127})
    EXPECT_EQ(DegreeToNote(root, NoInterval), -1);
  // Codes below -14 would read before the mode row.
  for (int degree : {-15, -21, -126, INT_MIN})
    EXPECT_EQ(DegreeToNote(60, degree), -1) << degree;
  EXPECT_EQ(DegreeToNote(60, INT_MAX), -1);
  EXPECT_EQ(DegreeToNote(INT_MIN, 0), -1);
  EXPECT_EQ(DegreeToNote(INT_MAX, -14), -1);
}

TEST(ChordName, FixedModeNamesTheChordOfThePitchClass) {
  EXPECT_EQ(ChordName(48, 7, true), "C");
  EXPECT_EQ(ChordName(61, 0, true), "C7");
  EXPECT_EQ(ChordName(50, 15, true), "Dm");
  EXPECT_EQ(ChordName(71, 0, true), "Bdim");
  EXPECT_EQ(ChordName(127, 0, true), "G");
}

TEST(ChordName, FreeModeJoinsRootAndSuffix) {
  EXPECT_EQ(ChordName(50, 7, false), "Dm7");
  EXPECT_EQ(ChordName(61, 0, false), "#C");
  EXPECT_EQ(ChordName(70, 13, false), "#A7sus4");
  EXPECT_EQ(ChordName(0, 10, false), "Cdim7");
  // Styles without a chord-type suffix name the root alone.
  EXPECT_EQ(ChordName(52, 15, false), "E");
  EXPECT_EQ(ChordName(52, -1, false), "E");
}

// The pitch classes of a chord type on a root.
std::set<int> ChordClasses(int root, int type) {
  std::set<int> classes;
  for (int offset : Used(ChordStyles[static_cast<std::size_t>(type)].Intervals[0]))
    classes.insert(PitchClass(root + offset));
  return classes;
}

TEST(RecogniseChord, EveryTypeOnEveryRootInEveryInversion) {
  for (int type = 0; type < ChordTypeCount; ++type) {
    for (int root = 0; root < 12; ++root) {
      std::vector<int> notes;
      for (int offset : Used(ChordStyles[static_cast<std::size_t>(type)].Intervals[0]))
        notes.push_back(48 + root + offset);
      for (std::size_t inversion = 0; inversion < notes.size(); ++inversion) {
        const auto chord = RecogniseChord(notes);
        ASSERT_TRUE(chord) << type << " on " << root << " inversion " << inversion;
        if (inversion == 0) {
          EXPECT_EQ(*chord, (TChord{root, type}));
        }
        // An inversion may read as another chord of the same notes (C6 = Am7).
        EXPECT_EQ(ChordClasses(chord->Root, chord->Type), ChordClasses(root, type))
            << type << " on " << root << " inversion " << inversion;
        std::rotate(notes.begin(), notes.begin() + 1, notes.end());
        notes.back() += 12;
      }
    }
  }
}

TEST(RecogniseChord, SharedSetsSingleNotesAndUnknownSets) {
  const std::vector<int> c6Inverted = {64, 67, 69, 72};
  EXPECT_EQ(RecogniseChord(c6Inverted), (TChord{0, 4}));
  const std::vector<int> am7 = {57, 60, 64, 67};
  EXPECT_EQ(RecogniseChord(am7), (TChord{9, 7}));
  const std::vector<int> dim7OnEb = {63, 66, 69, 72};
  EXPECT_EQ(RecogniseChord(dim7OnEb), (TChord{3, 10}));
  const std::vector<int> single = {65};
  EXPECT_EQ(RecogniseChord(single), (TChord{5, MajorChord}));
  const std::vector<int> octaves = {43, 55, 67};
  EXPECT_EQ(RecogniseChord(octaves), (TChord{7, MajorChord}));
  const std::vector<int> cluster = {60, 61, 62};
  EXPECT_FALSE(RecogniseChord(cluster));
  const std::vector<int> fifth = {60, 67};
  EXPECT_FALSE(RecogniseChord(fifth));
  EXPECT_FALSE(RecogniseChord({}));
}

TEST(FixedChordOfKey, EachKeyIsTheChordItsNameSays) {
  for (int key = 0; key < 12; ++key) {
    for (int octave : {0, 5, 10}) {
      const TChord chord = FixedChordOfKey(key + 12 * octave);
      EXPECT_EQ(ChordName(chord.Root, chord.Type, false), FixedChordNames[key]) << key;
    }
  }
}

TEST(ChordDegreeToNote, ChordStepsMoveOntoTheChordsTones) {
  struct TCase {
    int Root, Degree, Type, Note;
  };
  const std::vector<TCase> cases = {
      {48, 2, 0, 52},  // C major over Ionian: unchanged
      {48, 4, 1, 55},  // C minor's fifth is the mode's
      {48, 2, 1, 51},  // and its third moves down
      {50, 2, 0, 54},  // D major: F sharp, not D Dorian's F
      {50, 9, 0, 66},  // the same an octave up
      {50, -5, 0, 42}, // and an octave down
      {52, 2, 6, 56},  // E7: G sharp
      {52, 6, 6, 62},  // E7's seventh is Phrygian's D
      {48, 6, 6, 58},  // C7's seventh is B flat
      {48, 6, 0, 59},  // a triad keeps the mode's seventh
      {48, 6, 8, 59},  // CM7: B
      {57, 6, 10, 66}, // Adim7: G flat
      {48, 5, 4, 57},  // C6's sixth
      {48, 6, 4, 59},  // and its seventh step stays
      {48, 5, 5, 57},  // Cm6
      {59, 4, 0, 66},  // B major: F sharp over Locrian's F
      {55, 2, 14, 60}, // Gsus4: the fourth
      {55, 1, 14, 57}, // a passing step stays
      {49, 2, 1, 52},  // black roots read Ionian: C sharp minor's E
      {48, 3, 0, 53},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(ChordDegreeToNote(c.Root, c.Degree, c.Type), c.Note)
        << c.Root << " " << c.Degree << " " << c.Type;
  }
  EXPECT_EQ(ChordDegreeToNote(48, NoInterval, 0), -1);
  EXPECT_EQ(ChordDegreeToNote(120, 4, 3), -1); // the augmented fifth of 120 is beyond 127
}

TEST(ChordStyles, RowsAreWellFormed) {
  for (std::size_t s = 0; s < ChordStyles.size(); ++s) {
    EXPECT_FALSE(ChordStyles[s].StyleName.empty()) << s;
    for (const TChordRow& row : ChordStyles[s].Intervals) {
      std::size_t used = Used(row).size();
      EXPECT_GE(used, 2U) << s;
      for (std::size_t slot = used; slot < row.size(); ++slot)
        EXPECT_EQ(row[slot], NoInterval) << s << " slot " << slot;
    }
  }
}

TEST(ChordStyles, ChordTypesMatchTheirSuffixes) {
  // Semitones above the root that each suffix stands for.
  const std::vector<std::set<int>> expected = {
      {0, 4, 7},    {0, 3, 7},     {0, 3, 6},     {0, 4, 8},     {0, 4, 7, 9},
      {0, 3, 7, 9}, {0, 4, 7, 10}, {0, 3, 7, 10}, {0, 4, 7, 11}, {0, 3, 7, 11},
      {0, 3, 6, 9}, {0, 3, 6, 10}, {0, 4, 6, 10}, {0, 5, 7, 10}, {0, 5, 7}};
  for (int type = 0; type < ChordTypeCount; ++type) {
    for (int key = 0; key < 12; ++key) {
      auto row = Used(ChordStyles[static_cast<std::size_t>(type)].Intervals[key]);
      EXPECT_EQ(std::set<int>(row.begin(), row.end()), expected[static_cast<std::size_t>(type)])
          << ChordTypeSuffixes[static_cast<std::size_t>(type)] << " key " << key;
      EXPECT_EQ(row.front(), 0);
    }
  }
}

// Pitch classes of a fixed chord name ("C", "Dm", "G7", "Bdim").
std::set<int> ChordOfName(std::string_view name) {
  const int root = static_cast<int>(std::string_view("C D EF G A B").find(name[0]));
  std::string_view quality = name.substr(1);
  std::vector<int> steps = quality == "m"     ? std::vector{0, 3, 7}
                           : quality == "7"   ? std::vector{0, 4, 7, 10}
                           : quality == "dim" ? std::vector{0, 3, 6}
                                              : std::vector{0, 4, 7};
  std::set<int> classes;
  for (int step : steps)
    classes.insert(PitchClass(root + step));
  return classes;
}

TEST(ChordStyles, FixedKeyStylesVoiceTheNamedChordNearTheKey) {
  for (int style = 15; style <= 17; ++style) {
    for (int key = 0; key < 12; ++key) {
      EXPECT_EQ(Sounded(style, key), ChordOfName(FixedChordNames[static_cast<std::size_t>(key)]))
          << style << " key " << key;
      for (int offset : Used(ChordStyles[static_cast<std::size_t>(style)].Intervals[key]))
        EXPECT_LE(std::abs(offset), 16) << style << " key " << key;
    }
  }
}

TEST(ChordStyles, NaturalHarmoniesStayInCMajor) {
  // 25 and 26 ("下方6度") are left out: their C row adds #D.
  for (int style : {20, 21, 22, 23, 24, 27, 28, 29, 30, 31}) {
    for (int key : kWhiteKeys) {
      for (int pitchClass : Sounded(style, key))
        EXPECT_TRUE(kWhiteKeys.contains(pitchClass)) << style << " key " << key;
    }
  }
  // Octave doublings extend their base style by the listed slots.
  for (int key = 0; key < 12; ++key) {
    auto third = Used(ChordStyles[21].Intervals[key]);
    third.push_back(-12);
    EXPECT_EQ(Used(ChordStyles[24].Intervals[key]), third);
    auto triad = Used(ChordStyles[27].Intervals[key]);
    triad.insert(triad.end(), {12, -12});
    EXPECT_EQ(Used(ChordStyles[30].Intervals[key]), triad);
  }
}

TEST(ModeIntervals, AreRotationsOfTheMajorScale) {
  const std::array<int, 7> major = {0, 2, 4, 5, 7, 9, 11};
  for (std::size_t mode = 0; mode < 7; ++mode) {
    for (std::size_t step = 0; step < 7; ++step) {
      EXPECT_EQ(ModeIntervals[mode][step], PitchClass(major[(mode + step) % 7] - major[mode]))
          << mode << " " << step;
    }
  }
}

} // namespace
} // namespace melo

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

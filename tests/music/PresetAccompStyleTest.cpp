#include "music/PresetAccompStyle.h"

#include "platform/GbkText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace melo {
namespace {

struct Track {
  int Note;
  int Level;
  std::vector<int> On;
  bool operator==(const Track&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Track& track) {
  os << track.Note << " (" << track.Level << "):";
  for (int step : track.On)
    os << ' ' << step;
  return os;
}

// Enabled tracks in track order, as key (level): struck steps.
std::vector<Track> Enabled(const TAccompSection& section) {
  std::vector<Track> tracks;
  for (const TDrumTrack& track : section.DrumTracks) {
    if (!track.Active)
      continue;
    Track t{track.Note, track.Level, {}};
    for (int step = 0; step < StepsPerPattern; ++step) {
      if (track.OnSteps[static_cast<std::size_t>(step)])
        t.On.push_back(step);
    }
    tracks.push_back(t);
  }
  return tracks;
}

std::string NameOf(const std::array<std::uint8_t, 128>& field) {
  return GbkToUtf8(ReadShortString(field.data(), 127));
}

std::string NameOf(const std::array<std::uint8_t, 65>& field) {
  return GbkToUtf8(ReadShortString(field.data(), 64));
}

std::vector<const TAccompSection*> SectionsOf(const TAccompStyle& style) {
  return {&style.MainSection, &style.FillIn1Section, &style.FillIn2Section};
}

TEST(PresetAccompStyle, FieldsSitAtTheirAuthoredOffsets) {
  // Sizes and offsets are checked at compile time; this checks that the bytes
  // of a whole record carry the preset's values where the format puts them.
  std::array<std::uint8_t, sizeof(TAccompStyle)> bytes{};
  std::memcpy(bytes.data(), &PresetStyles[17], bytes.size());
  EXPECT_EQ(bytes.size(), 2368U);
  EXPECT_EQ(bytes[0], 26);       // name length
  EXPECT_EQ(bytes[128], 195);    // Tempo
  EXPECT_EQ(bytes[129], 3);      // BeatsPerBar
  EXPECT_EQ(bytes[130], 1);      // main TwoBars
  EXPECT_EQ(bytes[131], 16);     // main section name length
  EXPECT_EQ(bytes[130 + 66], 3); // DrumBeats
  EXPECT_EQ(bytes[130 + 67], 1); // DrumTwoBars
  EXPECT_EQ(bytes[130 + 68], 1); // first track Active
  EXPECT_EQ(bytes[130 + 69], 36);
  EXPECT_EQ(bytes[130 + 604], 7);  // PercussionLevel
  EXPECT_EQ(bytes[130 + 607], 25); // chord Program
  EXPECT_EQ(bytes[130 + 644], 25); // arpeggio Program
  EXPECT_EQ(bytes[130 + 712], 33); // bass Program
  EXPECT_EQ(bytes[130 + 745], 8);  // BassLevel
  EXPECT_EQ(bytes[876 + 66], 0);   // no fill-in 1
  EXPECT_EQ(bytes[1622 + 66], 0);  // no fill-in 2
}

TEST(PresetAccompStyle, StyleNamesRoundTripThroughGbk) {
  const std::array<std::string, PresetStyleCount> names = {"4/4 分解和弦",
                                                           "4/4 （摇滚）",
                                                           "4/4 (密集)",
                                                           "3/4 华尔兹",
                                                           "3/4 华尔兹 （分解和弦）",
                                                           "3/4 华尔兹(柔和)",
                                                           "2/4 波尔卡",
                                                           "4/4  （轻快）",
                                                           "2/4 迪斯科",
                                                           "4/4 伦巴",
                                                           "4/4 阿根廷探戈",
                                                           "4/4 吉巴特",
                                                           "2/4 节拍器",
                                                           "3/4 节拍器",
                                                           "4/4 节拍器",
                                                           "4/4 颂歌1",
                                                           "4/4 颂歌2",
                                                           "3/4 校园民谣(吉他分解和弦)"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    const TAccompStyle& style = PresetStyles[i];
    EXPECT_EQ(NameOf(style.StyleName), names[i]) << i;
    EXPECT_EQ(ReadShortString(style.StyleName.data(), 127), Utf8ToGbk(names[i])) << i;
    // Sections 0..14 carry the style's name except where the two differ.
    if (i < 15 && i != 4 && i != 7) {
      EXPECT_EQ(NameOf(style.MainSection.SectionName), names[i]) << i;
    }
  }
  EXPECT_EQ(NameOf(PresetStyles[4].MainSection.SectionName), "3/4 华尔兹");
  EXPECT_EQ(NameOf(PresetStyles[7].MainSection.SectionName), "4/4 （轻快）");
  EXPECT_EQ(NameOf(PresetStyles[16].MainSection.SectionName), "4/4 分解和弦");
  EXPECT_EQ(NameOf(PresetStyles[17].MainSection.SectionName), "3/4 吉他分解和弦");
  // The rest of a name field is zero.
  const auto& field = PresetStyles[0].StyleName;
  for (std::size_t i = 1u + field[0]; i < field.size(); ++i)
    ASSERT_EQ(field[i], 0) << i;
}

TEST(PresetAccompStyle, Preset0DrumTracks) {
  const TAccompStyle& style = PresetStyles[0];
  EXPECT_EQ(Enabled(style.MainSection),
            (std::vector<Track>{
                {36, 9, {0, 8}}, {40, 9, {4, 12}}, {42, 9, {0, 2, 4, 6, 8, 10, 12, 14, 16}}}));
  EXPECT_EQ(Enabled(style.FillIn1Section), (std::vector<Track>{{46, 9, {10}},
                                                               {42, 9, {0, 2, 4, 6, 8, 10, 12, 14}},
                                                               {41, 9, {14}},
                                                               {38, 9, {4, 12, 13}},
                                                               {36, 9, {0, 6, 8, 10}}}));
  EXPECT_EQ(Enabled(style.FillIn2Section),
            (std::vector<Track>{{35, 9, {16, 20, 24, 28}},
                                {38, 7, {0, 20, 28}},
                                {44, 9, {16, 18, 20, 22, 24, 26, 28, 30}},
                                {50, 9, {0, 1, 2, 3}},
                                {48, 9, {4, 5, 6, 7}},
                                {47, 9, {8, 9, 10, 11}},
                                {45, 9, {12, 13, 14, 15}},
                                {49, 9, {16}}}));
  // Main and fill-in 1 loop 4 beats of 4 steps; fill-in 2 lasts two bars.
  EXPECT_EQ(style.MainSection.DrumBeats, 4);
  EXPECT_EQ(style.MainSection.DrumTwoBars, 0);
  EXPECT_EQ(style.FillIn2Section.TwoBars, 1);
  EXPECT_EQ(style.FillIn2Section.DrumTwoBars, 1);
  EXPECT_EQ(style.FillIn2Section.ChordPart.Program, 49);
}

TEST(PresetAccompStyle, MetronomeStylesTickEveryBeat) {
  for (std::size_t i = 12; i <= 14; ++i) {
    const TAccompStyle& style = PresetStyles[i];
    const int beats = style.BeatsPerBar;
    EXPECT_EQ(beats, static_cast<int>(i) - 10);
    std::vector<int> laterBeats;
    for (int beat = 1; beat < beats; ++beat)
      laterBeats.push_back(beat * 4);
    const TAccompSection& main = style.MainSection;
    EXPECT_EQ(Enabled(main), (std::vector<Track>{{38, 4, {0}}, {44, 9, laterBeats}})) << i;
    EXPECT_EQ(main.DrumBeats, beats);
    EXPECT_EQ(main.DrumTwoBars, 0);
    EXPECT_EQ(main.PercussionLevel, 9);
    EXPECT_EQ(main.ChordPart.Program + main.ArpeggioPart.Program + main.BassPart.Program, 0);
    EXPECT_EQ(main.ChordLevel + main.ArpeggioLevel + main.BassLevel, 0);
    EXPECT_EQ(style.FillIn1Section.DrumBeats, 0);
    EXPECT_EQ(style.FillIn2Section.DrumBeats, 0);
  }
}

TEST(PresetAccompStyle, FillInsExistWhereAuthored) {
  const std::array<std::pair<bool, bool>, PresetStyleCount> fillIns = {{{true, true},
                                                                        {true, false},
                                                                        {false, false},
                                                                        {true, true},
                                                                        {true, false},
                                                                        {true, true},
                                                                        {true, true},
                                                                        {true, true},
                                                                        {true, true}}};
  for (std::size_t i = 0; i < PresetStyleCount; ++i) {
    EXPECT_EQ(PresetStyles[i].FillIn1Section.DrumBeats != 0, fillIns[i].first) << i;
    EXPECT_EQ(PresetStyles[i].FillIn2Section.DrumBeats != 0, fillIns[i].second) << i;
  }
}

TEST(PresetAccompStyle, EveryRecordHoldsValidValues) {
  std::vector<const TAccompStyle*> styles = {&EmptyStyle};
  for (const TAccompStyle& style : PresetStyles)
    styles.push_back(&style);
  for (const TAccompStyle* style : styles) {
    const std::string name = NameOf(style->StyleName);
    EXPECT_TRUE(style->BeatsPerBar >= 2 && style->BeatsPerBar <= 4) << name;
    for (const TAccompSection* section : SectionsOf(*style)) {
      for (int level : {section->PercussionLevel, section->ChordLevel, section->ArpeggioLevel,
                        section->BassLevel})
        EXPECT_TRUE(level >= 0 && level <= 9) << name;
      for (int program :
           {section->ChordPart.Program, section->ArpeggioPart.Program, section->BassPart.Program})
        EXPECT_LE(program, 127) << name;
      for (const TDrumTrack& track : section->DrumTracks) {
        EXPECT_TRUE(track.Level >= 0 && track.Level <= 9) << name;
        if (!track.Active) {
          EXPECT_EQ(track.OnSteps, TStepFlags{}) << name;
        }
      }
      // Melodic steps: a note over every root, a rest or a hold.
      for (const TStepCodes* codes : {&section->ChordPart.Steps, &section->ArpeggioPart.Steps[0],
                                      &section->ArpeggioPart.Steps[1], &section->BassPart.Steps}) {
        for (std::int8_t code : *codes) {
          EXPECT_TRUE(code == NoNoteStep || code == HoldStep || (code >= -14 && code <= 14))
              << name << " " << int(code);
        }
      }
    }
  }
}

TEST(PresetAccompStyle, EmptyStyle) {
  EXPECT_EQ(NameOf(EmptyStyle.StyleName), "None");
  EXPECT_EQ(EmptyStyle.Tempo, 120);
  EXPECT_EQ(EmptyStyle.BeatsPerBar, 2);

  const TAccompSection& main = EmptyStyle.MainSection;
  EXPECT_EQ(NameOf(main.SectionName), "None");
  EXPECT_EQ(main.TwoBars, 0);
  EXPECT_EQ(main.DrumBeats, 2);
  EXPECT_EQ(main.PercussionLevel, 0);
  EXPECT_TRUE(Enabled(main).empty());
  for (const TDrumTrack& track : main.DrumTracks) {
    EXPECT_EQ(track.Note, 35);
    EXPECT_EQ(track.Level, 9);
  }
  EXPECT_EQ(main.ChordPart.Program, 0);
  EXPECT_EQ(main.ArpeggioPart.Program, 25);
  EXPECT_EQ(main.BassPart.Program, 33);
  EXPECT_EQ(main.ChordLevel + main.ArpeggioLevel + main.BassLevel, 0);

  const TAccompSection& fill1 = EmptyStyle.FillIn1Section;
  EXPECT_EQ(fill1.TwoBars, 1);
  EXPECT_EQ(fill1.DrumBeats, 2);
  EXPECT_EQ(fill1.DrumTwoBars, 1);
  EXPECT_EQ(fill1.PercussionLevel, 7);
  EXPECT_EQ(Enabled(fill1), Enabled(PresetStyles[0].FillIn2Section));

  const TAccompSection& fill2 = EmptyStyle.FillIn2Section;
  EXPECT_EQ(fill2.DrumBeats, 2);
  EXPECT_EQ(fill2.PercussionLevel, 0);
  EXPECT_TRUE(Enabled(fill2).empty());
}

TEST(PresetAccompStyle, CopySectionBodyKeepsTheTwoBarsByte) {
  TAccompSection live = PresetStyles[0].MainSection;
  CopySectionBody(live, PresetStyles[0].FillIn2Section);
  EXPECT_EQ(live.TwoBars, 0);
  TAccompSection expected = PresetStyles[0].FillIn2Section;
  expected.TwoBars = 0;
  EXPECT_EQ(std::memcmp(&live, &expected, sizeof live), 0);
  EXPECT_EQ(Enabled(live), Enabled(PresetStyles[0].FillIn2Section));
}

} // namespace
} // namespace melo

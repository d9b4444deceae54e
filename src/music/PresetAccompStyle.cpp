#include "music/PresetAccompStyle.h"

#include <algorithm>
#include <initializer_list>
#include <string_view>

namespace melo {
namespace {

// Authoring form of the presets. Names are GBK bytes (the UTF-8 text is in the
// comment above or beside each one).

struct TrackSpec {
  std::uint8_t Note; // 0: the track is unused
  std::int8_t Level;
  std::uint32_t On; // bit n: strike at step n
};

struct SectionSpec {
  std::uint8_t TwoBars;
  std::int8_t DrumBeats;    // 0: no drum part; the melodic parts are the main section's
  std::int8_t StepsPerBeat; // of the drum pattern: 4, or 8 for a two-bar pattern
  std::int8_t PercussionLevel;
  std::array<std::uint8_t, 3> Programs; // chord, arpeggio, bass
  std::array<TrackSpec, DrumTrackCount> Tracks;
};

struct StyleSpec {
  std::string_view Name;
  std::uint8_t Tempo;
  std::int8_t BeatsPerBar;
  std::string_view SectionName;      // of the main section
  std::array<std::int8_t, 3> Levels; // chord, arpeggio, bass, in every section
  SectionSpec Main;
  SectionSpec FillIn1;
  SectionSpec FillIn2;
};

constexpr std::uint32_t At(std::initializer_list<int> steps) {
  std::uint32_t mask = 0;
  for (int step : steps)
    mask |= std::uint32_t{1} << step;
  return mask;
}

constexpr SectionSpec kNoFillIn{};

// Key and level of a track nobody enabled, as the authoring tool leaves it.
constexpr std::uint8_t kIdleNote = 35;
constexpr std::int8_t kIdleLevel = 9;

// Tom run of preset 0's second fill-in; the empty style reuses it.
constexpr std::array<TrackSpec, DrumTrackCount> kTomFill = {{
    {35, 9, At({16, 20, 24, 28})},
    {38, 7, At({0, 20, 28})},
    {44, 9, At({16, 18, 20, 22, 24, 26, 28, 30})},
    {50, 9, At({0, 1, 2, 3})},
    {48, 9, At({4, 5, 6, 7})},
    {47, 9, At({8, 9, 10, 11})},
    {45, 9, At({12, 13, 14, 15})},
    {49, 9, At({16})},
}};

constexpr std::array<StyleSpec, PresetStyleCount> kPresets = {{
    // 4/4 分解和弦
    {"4/4 \xB7\xD6\xBD\xE2\xBA\xCD\xCF\xD2",
     90,
     4,
     "4/4 \xB7\xD6\xBD\xE2\xBA\xCD\xCF\xD2",
     {4, 7, 9},
     {0,
      4,
      4,
      9,
      {49, 25, 33},
      {{{36, 9, At({0, 8})}, {40, 9, At({4, 12})}, {42, 9, At({0, 2, 4, 6, 8, 10, 12, 14, 16})}}}},
     {0,
      4,
      4,
      9,
      {49, 25, 33},
      {{{46, 9, At({10})},
        {42, 9, At({0, 2, 4, 6, 8, 10, 12, 14})},
        {41, 9, At({14})},
        {38, 9, At({4, 12, 13})},
        {36, 9, At({0, 6, 8, 10})}}}},
     {1, 4, 8, 9, {49, 25, 33}, kTomFill}},
    // 4/4 （摇滚）
    {"4/4 \xA3\xA8\xD2\xA1\xB9\xF6\xA3\xA9",
     120,
     4,
     "4/4 \xA3\xA8\xD2\xA1\xB9\xF6\xA3\xA9",
     {5, 4, 9},
     {0,
      4,
      4,
      9,
      {25, 48, 33},
      {{{46, 9, At({14})},
        {44, 9, At({0, 2, 4, 6, 8, 10, 12})},
        {40, 9, At({4, 12})},
        {35, 9, At({0, 6, 8})}}}},
     {0,
      4,
      4,
      9,
      {25, 48, 33},
      {{{46, 9, At({14})},
        {44, 9, At({0, 2, 4, 6, 8, 10, 12, 13})},
        {40, 9, At({4, 7, 8, 10, 12, 13})},
        {35, 9, At({0})},
        {43, 9, At({14})}}}},
     kNoFillIn},
    // 4/4 (密集)
    {"4/4 (\xC3\xDC\xBC\xAF)",
     90,
     4,
     "4/4 (\xC3\xDC\xBC\xAF)",
     {5, 7, 9},
     {0,
      4,
      4,
      9,
      {49, 25, 33},
      {{{35, 9, At({0, 6, 8})},
        {38, 9, At({4, 12})},
        {39, 9, At({4, 12})},
        {42, 6, At({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 13, 14, 15})},
        {46, 9, At({10})},
        {54, 6, At({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15})},
        {57, 9, At({0})}}}},
     kNoFillIn,
     kNoFillIn},
    // 3/4 华尔兹
    {"3/4 \xBB\xAA\xB6\xFB\xD7\xC8",
     120,
     3,
     "3/4 \xBB\xAA\xB6\xFB\xD7\xC8",
     {5, 3, 7},
     {1, 3, 4, 9, {25, 49, 33}, {{{35, 9, At({0})}, {38, 5, At({4, 8})}, {44, 7, At({4, 8})}}}},
     {0, 3, 4, 9, {25, 48, 33}, {{{35, 9, At({0})}, {38, 6, At({4, 6, 8})}}}},
     {0, 3, 4, 7, {2, 10, 33}, {{{35, 9, At({0})}, {38, 6, At({4, 6, 8})}}}}},
    // 3/4 华尔兹 （分解和弦）
    {"3/4 \xBB\xAA\xB6\xFB\xD7\xC8 \xA3\xA8\xB7\xD6\xBD\xE2\xBA\xCD\xCF\xD2\xA3\xA9",
     140,
     3,
     "3/4 \xBB\xAA\xB6\xFB\xD7\xC8",
     {5, 6, 8},
     {1, 3, 4, 9, {50, 25, 33}, {{{35, 9, At({0})}, {38, 6, At({4, 8})}, {44, 7, At({4, 8})}}}},
     {0, 3, 4, 9, {50, 25, 33}, {{{35, 9, At({0})}, {38, 6, At({4, 8})}, {44, 7, At({4, 8})}}}},
     kNoFillIn},
    // 3/4 华尔兹(柔和)
    {"3/4 \xBB\xAA\xB6\xFB\xD7\xC8(\xC8\xE1\xBA\xCD)",
     120,
     3,
     "3/4 \xBB\xAA\xB6\xFB\xD7\xC8(\xC8\xE1\xBA\xCD)",
     {6, 0, 8},
     {1, 3, 4, 7, {51, 45, 33}, {{{35, 9, At({0})}, {44, 9, At({4, 8})}}}},
     {0, 3, 4, 0, {51, 45, 33}, {{{35, 9, At({0})}, {44, 9, At({4, 8})}}}},
     {1, 3, 4, 0, {51, 45, 49}, {{{35, 9, At({0})}, {38, 7, At({0, 6, 7, 8, 10})}}}}},
    // 2/4 波尔卡
    {"2/4 \xB2\xA8\xB6\xFB\xBF\xA8",
     120,
     2,
     "2/4 \xB2\xA8\xB6\xFB\xBF\xA8",
     {6, 0, 7},
     {0, 2, 8, 9, {2, 33, 33}, {{{35, 9, At({0, 4, 8, 12})}, {38, 6, At({2, 6, 10, 14})}}}},
     {0, 2, 4, 9, {2, 33, 33}, {{{35, 9, At({0, 4})}, {38, 6, At({2, 4, 6})}}}},
     {0, 2, 4, 9, {2, 33, 33}, {{{35, 9, At({0, 4})}, {38, 6, At({2, 3, 4, 6})}}}}},
    // 4/4  （轻快）
    {"4/4  \xA3\xA8\xC7\xE1\xBF\xEC\xA3\xA9",
     100,
     4,
     "4/4 \xA3\xA8\xC7\xE1\xBF\xEC\xA3\xA9", // 4/4 （轻快）
     {4, 6, 7},
     {0,
      4,
      4,
      9,
      {25, 28, 33},
      {{{35, 9, At({0, 4, 8, 12})},
        {69, 8, At({2, 6, 10, 11, 14})},
        {75, 8, At({2, 6, 10, 11, 14})}}}},
     {0,
      4,
      4,
      9,
      {25, 28, 33},
      {{{35, 9, At({0, 4, 8, 12})},
        {69, 8, At({2, 6, 10, 11, 14})},
        {75, 8, At({2, 6, 10, 11, 14})}}}},
     {0,
      2,
      4,
      9,
      {2, 0, 33},
      {{{35, 9, At({0, 4})},
        {54, 9, At({2, 3, 4, 6})},
        {69, 9, At({2, 3, 4, 6})},
        {75, 9, At({2, 3, 4, 6})}}}}},
    // 2/4 迪斯科
    {"2/4 \xB5\xCF\xCB\xB9\xBF\xC6",
     120,
     2,
     "2/4 \xB5\xCF\xCB\xB9\xBF\xC6",
     {4, 0, 7},
     {1,
      2,
      4,
      9,
      {26, 2, 34},
      {{{35, 9, At({0, 4})}, {38, 9, At({4})}, {44, 9, At({0, 2, 3, 4, 6, 7})}}}},
     {0,
      2,
      4,
      9,
      {26, 29, 34},
      {{{35, 9, At({0, 4})}, {38, 9, At({4})}, {44, 9, At({0, 2, 3, 4, 6, 7})}}}},
     {1,
      2,
      4,
      9,
      {26, 29, 34},
      {{{35, 9, At({0, 4})}, {38, 9, At({4})}, {44, 9, At({0, 2, 3, 4, 6, 7})}}}}},
    // 4/4 伦巴
    {"4/4 \xC2\xD7\xB0\xCD",
     95,
     4,
     "4/4 \xC2\xD7\xB0\xCD",
     {6, 4, 8},
     {0,
      4,
      4,
      9,
      {2, 54, 33},
      {{{44, 9, At({0, 2, 4, 6, 8, 10, 12, 14})},
        {62, 9, At({2, 3, 4, 6, 10, 14})},
        {64, 9, At({0, 8, 12})}}}},
     kNoFillIn,
     kNoFillIn},
    // 4/4 阿根廷探戈
    {"4/4 \xB0\xA2\xB8\xF9\xCD\xA2\xCC\xBD\xB8\xEA",
     120,
     4,
     "4/4 \xB0\xA2\xB8\xF9\xCD\xA2\xCC\xBD\xB8\xEA",
     {6, 0, 7},
     {0,
      4,
      4,
      9,
      {26, 0, 33},
      {{{35, 9, At({0, 4, 8, 12})},
        {38, 9, At({0, 4, 8, 12, 14})},
        {44, 9, At({0, 2, 4, 6, 8, 10, 12, 14})},
        {74, 7, At({14})},
        {38, 7, At({14, 15})}}}},
     kNoFillIn,
     kNoFillIn},
    // 4/4 吉巴特
    {"4/4 \xBC\xAA\xB0\xCD\xCC\xD8",
     120,
     4,
     "4/4 \xBC\xAA\xB0\xCD\xCC\xD8",
     {7, 0, 9},
     {0,
      4,
      4,
      7,
      {25, 0, 33},
      {{{35, 9, At({0, 4, 8, 12})},
        {44, 9, At({0, 2, 4, 6, 8, 10, 12, 14})},
        {39, 7, At({4, 6, 12, 14})}}}},
     kNoFillIn,
     kNoFillIn},
    // 2/4 节拍器
    {"2/4 \xBD\xDA\xC5\xC4\xC6\xF7",
     120,
     2,
     "2/4 \xBD\xDA\xC5\xC4\xC6\xF7",
     {0, 0, 0},
     {0, 2, 4, 9, {0, 0, 0}, {{{38, 4, At({0})}, {44, 9, At({4})}}}},
     kNoFillIn,
     kNoFillIn},
    // 3/4 节拍器
    {"3/4 \xBD\xDA\xC5\xC4\xC6\xF7",
     120,
     3,
     "3/4 \xBD\xDA\xC5\xC4\xC6\xF7",
     {0, 0, 0},
     {0, 3, 4, 9, {0, 0, 0}, {{{38, 4, At({0})}, {44, 9, At({4, 8})}}}},
     kNoFillIn,
     kNoFillIn},
    // 4/4 节拍器
    {"4/4 \xBD\xDA\xC5\xC4\xC6\xF7",
     120,
     4,
     "4/4 \xBD\xDA\xC5\xC4\xC6\xF7",
     {0, 0, 0},
     {0, 4, 4, 9, {0, 0, 0}, {{{38, 4, At({0})}, {44, 9, At({4, 8, 12})}}}},
     kNoFillIn,
     kNoFillIn},
    // 4/4 颂歌1
    {"4/4 \xCB\xCC\xB8\xE8"
     "1",
     60,
     4,
     "4/4 \xB7\xD6\xBD\xE2\xBA\xCD\xCF\xD2", // 4/4 分解和弦
     {7, 5, 9},
     {0, 4, 4, 9, {5, 49, 33}, {{{35, 9, At({0, 7, 8, 15})}, {37, 9, At({4, 12})}}}},
     kNoFillIn,
     kNoFillIn},
    // 4/4 颂歌2
    {"4/4 \xCB\xCC\xB8\xE8"
     "2",
     70,
     4,
     "4/4 \xB7\xD6\xBD\xE2\xBA\xCD\xCF\xD2", // 4/4 分解和弦
     {8, 5, 9},
     {0, 4, 4, 9, {5, 49, 35}, {{{35, 9, At({0, 14})}, {38, 9, At({8})}}}},
     kNoFillIn,
     kNoFillIn},
    // 3/4 校园民谣(吉他分解和弦)
    {"3/4 \xD0\xA3\xD4\xB0\xC3\xF1\xD2\xA5(\xBC\xAA\xCB\xFB\xB7\xD6\xBD\xE2\xBA\xCD\xCF\xD2)",
     195,
     3,
     "3/4 \xBC\xAA\xCB\xFB\xB7\xD6\xBD\xE2\xBA\xCD\xCF\xD2", // 3/4 吉他分解和弦
     {0, 9, 8},
     {1,
      3,
      8,
      7,
      {25, 25, 33},
      {{{36, 9, At({0, 20})},
        {40, 9, At({12})},
        {42, 9, At({0, 4, 8, 12, 20})},
        {46, 9, At({16})}}}},
     kNoFillIn,
     kNoFillIn},
}};

// The melodic parts of the presets, one bar each, the same in every section:
// per step a degree code, "." a rest (NoNoteStep), "-" a hold (HoldStep).
// Codes count steps of the root's mode: 0 root, 2 third, 4 fifth, 7 octave;
// -7 is the root an octave down, -3 the fifth below the root.
struct MelodySpec {
  std::string_view Chord;
  std::string_view Arpeggio1;
  std::string_view Arpeggio2;
  std::string_view Bass;
};

constexpr std::array<MelodySpec, PresetStyleCount> kMelodies = {{
    // 4/4 分解和弦
    {"0 - - - - - - - 0 - - - - - - -", "0 . 4 . 7 . 4 . 0 . 4 . 7 . 4 .",
     ". . . . . . 9 . . . . . . . 9 .", "-7 - - - . . . . -3 - - - . . . ."},
    // 4/4 （摇滚）
    {"0 . . 0 . . 0 . 0 . . 0 . . 0 .", "7 - - - - - - - - - - - - - - -",
     "9 - - - - - - - - - - - - - - -", "-7 . -7 . -7 . -7 . -7 . -7 . -3 . -3 ."},
    // 4/4 (密集)
    {"0 - . 0 - . 0 - . 0 - . 0 - . .", "0 4 7 4 0 4 7 4 0 4 7 4 0 4 7 4", "",
     "-7 - . -7 . . -3 . -7 - . -7 . . -3 ."},
    // 3/4 华尔兹
    {". . . . 0 - . . 0 - . .", "7 - - - - - - - - - - -", "", "-7 - - - . . . . . . . ."},
    // 3/4 华尔兹 （分解和弦）
    {". . . . 0 . . . 0 . . .", "0 . 4 . 7 . 9 . 7 . 4 .", "", "-7 - - - . . . . -3 - . ."},
    // 3/4 华尔兹(柔和)
    {"0 - - - - - - - - - - -", "0 . . . 4 . . . 7 . . .", "", "-7 - - - - - - - - - - -"},
    // 2/4 波尔卡
    {". . 0 . . . 0 .", "0 . . . 4 . . .", "", "-7 - . . -3 - . ."},
    // 4/4  （轻快）
    {"0 . . . 0 . 0 . 0 . . . 0 . 0 .", "7 . 4 . 7 . 4 . 7 . 4 . 7 . 4 .", "",
     "-7 - . . -3 - . . -7 - . . -3 - . ."},
    // 2/4 迪斯科
    {". . 0 . . . 0 .", "7 . . . 7 . . .", "", "-7 . 0 . -7 . 0 ."},
    // 4/4 伦巴
    {". . . 0 . . 0 . . . 0 . . 0 . .", "7 - - - - - - - - - - - - - - -", "",
     "-7 - - -3 . . -7 - -7 - - -3 . . -3 ."},
    // 4/4 阿根廷探戈
    {"0 . . . 0 . . . 0 . . . 0 . 0 .", "", "", "-7 - . . -7 - . . -3 - . . -3 - -5 ."},
    // 4/4 吉巴特
    {". . 0 . . . 0 . . . 0 . . . 0 .", "", "", "-7 . -5 . -3 . -2 . -7 . -5 . -3 . -2 ."},
    // 2/4, 3/4 and 4/4 节拍器: no melodic parts
    {},
    {},
    {},
    // 4/4 颂歌1
    {"0 - - - 0 - - - 0 - - - 0 - - -", "4 - - - - - - - - - - - - - - -",
     "7 - - - - - - - - - - - - - - -", "-7 - - - - - - - -3 - - - - - - -"},
    // 4/4 颂歌2
    {"0 . 4 . 7 . 4 . 0 . 4 . 7 . 4 .", "7 - - - - - - - - - - - - - - -",
     "9 - - - - - - - - - - - - - - -", "-7 - - - - - - - -3 - - - -5 - - -"},
    // 3/4 校园民谣(吉他分解和弦)
    {"0 - - - - - - - - - - -", "0 . 4 . 7 . 9 . 7 . 4 .", ". . . . 11 . . . 11 . . .",
     "-7 - - - . . . . . . . ."},
}};

constexpr MelodySpec kNoMelody{};

// Steps of a melody text; throws (no constant then: a build error) on a
// token that is no code.
constexpr TStepCodes ParseSteps(std::string_view text, int& count) {
  TStepCodes steps{};
  steps.fill(NoNoteStep);
  count = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    const std::string_view token = text.substr(at, end - at);
    at = end + 1;
    std::int8_t code = 0;
    if (token == ".") {
      code = NoNoteStep;
    } else if (token == "-") {
      code = HoldStep;
    } else {
      const bool negative = token.front() == '-';
      int value = 0;
      for (const char digit : token.substr(negative ? 1 : 0)) {
        if (digit < '0' || digit > '9')
          throw "not a step code";
        value = value * 10 + (digit - '0');
      }
      code = static_cast<std::int8_t>(negative ? -value : value);
    }
    steps.at(static_cast<std::size_t>(count++)) = code;
  }
  return steps;
}

constexpr StyleSpec kEmpty = {"None",
                              120,
                              2,
                              "None",
                              {0, 0, 0},
                              {0, 2, 4, 0, {0, 25, 33}, {}},
                              {1, 2, 8, 7, {0, 25, 33}, kTomFill},
                              {0, 2, 4, 0, {0, 25, 33}, {}}};

// Length-prefixed field: length byte, the bytes, zeros.
template <std::size_t N>
constexpr void SetShortString(std::array<std::uint8_t, N>& field, std::string_view bytes) {
  field.fill(0);
  field[0] = static_cast<std::uint8_t>(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i)
    field[i + 1] = static_cast<std::uint8_t>(bytes[i]);
}

constexpr TDrumTrack MakeTrack(const TrackSpec& desc) {
  TDrumTrack track{};
  track.Active = desc.Note != 0 ? 1 : 0;
  track.Note = desc.Note != 0 ? desc.Note : kIdleNote;
  track.Level = desc.Note != 0 ? desc.Level : kIdleLevel;
  for (int step = 0; step < StepsPerPattern; ++step)
    track.OnSteps[static_cast<std::size_t>(step)] = (desc.On >> step) & 1U;
  return track;
}

// Each part lasts one bar, or holds no notes and lasts the section.
constexpr void SetMelodicParts(TAccompSection& section, std::int8_t beats, const MelodySpec& melody,
                               const std::array<std::uint8_t, 3>& programs,
                               const std::array<std::int8_t, 3>& levels) {
  const auto steps = [&](std::string_view text) {
    int count = 0;
    TStepCodes codes = ParseSteps(text, count);
    if (count != 0 && count != beats * 4)
      throw "a melodic part is one bar long";
    return codes;
  };
  const std::uint8_t twoBars = melody.Bass.empty() ? section.TwoBars : 0;
  section.ChordPart = {beats, twoBars, programs[0], 0, steps(melody.Chord)};
  section.ArpeggioPart = {
      beats, twoBars, programs[1], {steps(melody.Arpeggio1), steps(melody.Arpeggio2)}};
  section.BassPart = {beats, twoBars, programs[2], steps(melody.Bass)};
  section.ChordLevel = levels[0];
  section.ArpeggioLevel = levels[1];
  section.BassLevel = levels[2];
}

constexpr TAccompSection MakeSection(const StyleSpec& style, const MelodySpec& melody,
                                     const SectionSpec& desc, std::string_view name) {
  TAccompSection section{};
  section.TwoBars = desc.TwoBars;
  SetShortString(section.SectionName, name);
  section.DrumBeats = desc.DrumBeats;
  section.DrumTwoBars = desc.StepsPerBeat == 8 ? 1 : 0;
  for (std::size_t i = 0; i < section.DrumTracks.size(); ++i)
    section.DrumTracks[i] = MakeTrack(desc.Tracks[i]);
  section.PercussionLevel = desc.PercussionLevel;
  const auto& programs = desc.DrumBeats != 0 ? desc.Programs : style.Main.Programs;
  SetMelodicParts(section, style.BeatsPerBar, melody, programs, style.Levels);
  return section;
}

constexpr TAccompStyle MakeStyle(const StyleSpec& desc, const MelodySpec& melody) {
  TAccompStyle style{};
  SetShortString(style.StyleName, desc.Name);
  style.Tempo = desc.Tempo;
  style.BeatsPerBar = desc.BeatsPerBar;
  style.MainSection = MakeSection(desc, melody, desc.Main, desc.SectionName);
  style.FillIn1Section = MakeSection(desc, melody, desc.FillIn1, {});
  style.FillIn2Section = MakeSection(desc, melody, desc.FillIn2, {});
  return style;
}

constexpr std::array<TAccompStyle, PresetStyleCount> BuildPresets() {
  std::array<TAccompStyle, PresetStyleCount> styles{};
  for (std::size_t i = 0; i < styles.size(); ++i)
    styles[i] = MakeStyle(kPresets[i], kMelodies[i]);
  return styles;
}

} // namespace

constinit const std::array<TAccompStyle, PresetStyleCount> PresetStyles = BuildPresets();
constinit const TAccompStyle EmptyStyle = MakeStyle(kEmpty, kNoMelody);

void CopySectionBody(TAccompSection& dest, const TAccompSection& source) {
  const std::uint8_t twoBars = dest.TwoBars;
  dest = source;
  dest.TwoBars = twoBars;
}

} // namespace melo

#pragma once
// Accompaniment style records and the built-in styles. A style is a packed
// 2368-byte record (the form the styles are authored in); every field is a
// byte or an array of bytes, so the structs below have that layout exactly.
#include <array>
#include <cstddef>
#include <cstdint>

namespace melo {

enum TFillInStateType : std::uint8_t { fsNoFillIn = 0, fsFillIn1 = 1, fsFillIn2 = 2 };

inline constexpr int StepsPerPattern = 32;
inline constexpr int DrumTrackCount = 8;
// The two melodic step codes without a note: a rest, which ends the part's
// sounding notes, and a hold, which lets them ring on.
inline constexpr std::int8_t NoNoteStep = 98;
inline constexpr std::int8_t HoldStep = 99;

using TStepFlags = std::array<std::uint8_t, StepsPerPattern>;
using TStepCodes = std::array<std::int8_t, StepsPerPattern>;

struct TDrumTrack {
  std::uint8_t Active; // nonzero: the track plays
  std::uint8_t Note;   // General MIDI percussion key (channel 9)
  std::int8_t Level;   // 0..9
  TStepFlags OffSteps; // stored, produce no message
  TStepFlags OnSteps;  // nonzero: strike at this step
};

struct TChordPart {
  std::int8_t PartBeats;
  std::uint8_t PartTwoBars;
  std::uint8_t Program; // General MIDI program 0..127
  std::uint8_t PartOption;
  TStepCodes Steps; // degree codes (see DegreeToNote) or NoNoteStep
};

struct TArpeggioPart {
  std::int8_t PartBeats;
  std::uint8_t PartTwoBars;
  std::uint8_t Program;
  std::array<TStepCodes, 2> Steps; // two voices
};

struct TBassPart {
  std::int8_t PartBeats;
  std::uint8_t PartTwoBars;
  std::uint8_t Program;
  TStepCodes Steps;
};

struct TAccompSection {
  std::uint8_t TwoBars;                     // nonzero: BeatsPerBar * 8 steps, else * 4
  std::array<std::uint8_t, 65> SectionName; // length byte + up to 64 GBK bytes
  std::int8_t DrumBeats;                    // 0: no drum part (a fill-in cannot be entered)
  std::uint8_t DrumTwoBars;                 // nonzero: DrumBeats * 8 steps, else * 4
  std::array<TDrumTrack, DrumTrackCount> DrumTracks;
  std::int8_t PercussionLevel; // 0..9, 0 silences the drums
  TChordPart ChordPart;        // channel 6
  std::int8_t ChordLevel;
  TArpeggioPart ArpeggioPart; // channel 5
  std::int8_t ArpeggioLevel;
  TBassPart BassPart; // channel 4
  std::int8_t BassLevel;
};

struct TAccompStyle {
  std::array<std::uint8_t, 128> StyleName; // length byte + up to 127 GBK bytes
  std::uint8_t Tempo;                      // suggested, not played
  std::int8_t BeatsPerBar;                 // 0 makes the style silent
  TAccompSection MainSection;
  TAccompSection FillIn1Section;
  TAccompSection FillIn2Section;
};

static_assert(sizeof(TDrumTrack) == 67);
static_assert(offsetof(TDrumTrack, OffSteps) == 3 && offsetof(TDrumTrack, OnSteps) == 35);
static_assert(sizeof(TChordPart) == 36 && offsetof(TChordPart, Steps) == 4);
static_assert(sizeof(TArpeggioPart) == 67 && offsetof(TArpeggioPart, Steps) == 3);
static_assert(sizeof(TBassPart) == 35 && offsetof(TBassPart, Steps) == 3);
static_assert(sizeof(TAccompSection) == 746);
static_assert(offsetof(TAccompSection, SectionName) == 1);
static_assert(offsetof(TAccompSection, DrumBeats) == 66);
static_assert(offsetof(TAccompSection, DrumTwoBars) == 67);
static_assert(offsetof(TAccompSection, DrumTracks) == 68);
static_assert(offsetof(TAccompSection, PercussionLevel) == 604);
static_assert(offsetof(TAccompSection, ChordPart) == 605);
static_assert(offsetof(TAccompSection, ChordLevel) == 641);
static_assert(offsetof(TAccompSection, ArpeggioPart) == 642);
static_assert(offsetof(TAccompSection, ArpeggioLevel) == 709);
static_assert(offsetof(TAccompSection, BassPart) == 710);
static_assert(offsetof(TAccompSection, BassLevel) == 745);
static_assert(sizeof(TAccompStyle) == 2368);
static_assert(offsetof(TAccompStyle, Tempo) == 128);
static_assert(offsetof(TAccompStyle, BeatsPerBar) == 129);
static_assert(offsetof(TAccompStyle, MainSection) == 130);
static_assert(offsetof(TAccompStyle, FillIn1Section) == 876);
static_assert(offsetof(TAccompStyle, FillIn2Section) == 1622);

inline constexpr int PresetStyleCount = 18;

extern const std::array<TAccompStyle, PresetStyleCount> PresetStyles;
// Fills the unused slots of the style library.
extern const TAccompStyle EmptyStyle;

// Copies everything of a section except its TwoBars byte: a fill-in takes over
// the live section this way while the section length keeps its own setting.
void CopySectionBody(TAccompSection& dest, const TAccompSection& source);

} // namespace melo

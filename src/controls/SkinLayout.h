#pragma once
// Where every skinned piece lies on the window and where every glyph lies in the glyph mask.
// The controls and the skin generator both read this, so the pictures always fit the code.
#include <QPoint>
#include <QRect>
#include <array>

namespace melo {

// The window's client area; the down picture of every piece lies one client width to the right.
inline constexpr int SkinWidth = 621;
inline constexpr int SkinHeight = 436;
inline constexpr int DownOffset = SkinWidth;
inline constexpr int TotalBmpWidth = 2 * SkinWidth;

inline constexpr QRect DownRect(const QRect& r) {
  return r.translated(DownOffset, 0);
}

// ---- Piano keyboards ------------------------------------------------------------------------
inline constexpr int PianoKeyCount = 73; // positions 0..72, MIDI notes 24..96
inline constexpr int PianoBlackKeyCount = 30;
inline constexpr int PianoWhiteKeyCount = 43;
inline constexpr int PianoOctaveWidth = 98;
inline constexpr int PianoLeftX = 10;
inline constexpr int RightPianoTop = 213;
inline constexpr int LeftPianoTop = 240;

inline constexpr std::array<int, 5> BlackKeyOffsets = {9, 23, 51, 65, 79};
inline constexpr std::array<int, 7> LittleWhiteOffsets = {0, 21, 35, 42, 63, 77, 91};
inline constexpr std::array<int, 7> LittleWhiteWidths = {9, 2, 7, 9, 2, 2, 7};

inline constexpr QRect BlackKeyRect(int x, int y, int k) {
  return QRect(x + PianoOctaveWidth * (k / 5) + BlackKeyOffsets[k % 5], y, 12, 14);
}
inline constexpr QRect LittleWhiteRect(int x, int y, int w) {
  return QRect(x + PianoOctaveWidth * (w / 7) + LittleWhiteOffsets[w % 7], y,
               LittleWhiteWidths[w % 7], 14);
}
inline constexpr QRect BigWhiteRect(int x, int y, int w) {
  // The top C has no black key beside it: its big piece is the whole key.
  if (w == PianoWhiteKeyCount - 1)
    return QRect(x + 588, y, 14, 26);
  return QRect(x + 14 * w, y + 14, 14, 12);
}

// ---- Main button bar ------------------------------------------------------------------------
inline constexpr int MainButtonCount = 7;
inline constexpr std::array<const char*, MainButtonCount> MainButtonWords = {
    "Open", "Save", "Play", "Record", "Setup", "Help", "About"};
// The buttons by name, in MainButtonWords' order (their tags).
enum TMainButton : int { mbOpen, mbSave, mbPlay, mbRecord, mbSetup, mbHelp, mbAbout };
inline constexpr QRect MainButtonRect(int index) {
  return QRect(index == 6 ? 520 : 22 + 72 * index, 9, 65, 28);
}

// ---- PC keyboard picture --------------------------------------------------------------------
// Screen rectangle of a playable key; an empty rectangle for every other key index.
inline constexpr QRect PCKeyRect(int i) {
  constexpr int w = 24, h = 20, step = 27;
  if (i >= 14 && i <= 26)
    return QRect(38 + step * (i - 14), 80, w, h);
  if (i >= 29 && i <= 40)
    return QRect(53 + step * (i - 29), 102, w, h);
  if (i >= 43 && i <= 53)
    return QRect(65 + step * (i - 43), 125, w, h);
  if (i >= 55 && i <= 64)
    return QRect(77 + step * (i - 55), 147, w, h);
  if (i >= 80 && i <= 85)
    return QRect(422 + step * ((i - 80) % 3), i <= 82 ? 102 : 125, w, h);
  if (i == 86)
    return QRect(449, 147, w, h);
  if (i >= 87 && i <= 89)
    return QRect(422 + step * (i - 87), 170, w, h);
  if (i >= 90 && i <= 93)
    return QRect(507 + step * (i - 90), 80, w, h);
  if (i >= 94 && i <= 96)
    return QRect(507 + step * (i - 94), 102, w, h);
  if (i == 97)
    return QRect(588, 102, w, 43);
  if (i >= 98 && i <= 100)
    return QRect(507 + step * (i - 98), 125, w, h);
  if (i >= 101 && i <= 103)
    return QRect(507 + step * (i - 101), 147, w, h);
  if (i == 104)
    return QRect(588, 147, w, 43);
  if (i == 105)
    return QRect(507, 170, 51, h);
  if (i == 106)
    return QRect(561, 170, w, h);
  return QRect();
}

// ---- Volume slider --------------------------------------------------------------------------
inline constexpr QRect VolumeSliderRect(371, 288, 110, 19);
// The accompaniment's chord name, under the program's name on the right.
inline constexpr QRect ChordNameRect(496, 346, 118, 22);
inline constexpr QRect SliderThumbRect(1077, 288, 8, 19);

// ---- Spin edits: (top, left, height, width) as the window creates them ----------------------
struct TSpinEditPlace {
  int Top, Left, Height, Width;
};
inline constexpr int SpinEditCount = 7;
// Transpose, left/right octave, left/right velocity, left/right voice.
enum TSpinEditIndex : int {
  seTranspose,
  seLeftOctave,
  seRightOctave,
  seLeftVelocity,
  seRightVelocity,
  seLeftVoice,
  seRightVoice
};
inline constexpr std::array<TSpinEditPlace, SpinEditCount> SpinEditPlaces = {{{316, 373, 19, 96},
                                                                              {346, 373, 19, 37},
                                                                              {346, 432, 19, 37},
                                                                              {376, 373, 19, 37},
                                                                              {376, 433, 19, 37},
                                                                              {406, 373, 19, 37},
                                                                              {406, 433, 19, 37}}};
inline constexpr int SpinArrowWidth = 11;
inline constexpr int SpinUpArrowHeight = 10;

// ---- Staff displays -------------------------------------------------------------------------
inline constexpr QRect KeySigDisplayRect(51, 290, 61, 126);
inline constexpr QRect StaffDisplayRect(119, 280, 46, 151);
inline constexpr QRect NumberDisplayRect(220, 280, 46, 151);

// ---- Glyph mask (red channel: 255 transparent, 0 full colour) ------------------------------
inline constexpr int StaffMaskWidth = 1008;
inline constexpr int StaffMaskHeight = 72;

// Small numbered-notation digits of the PC keyboard, octaves 1..7.
inline constexpr std::array<int, 7> PCDigitHeights = {19, 16, 13, 10, 13, 16, 19};
inline constexpr int PCDigitWidth = 8;
inline constexpr int PCDigitTop = 48;
inline constexpr int PCAccidentalTop = 60;
inline constexpr QRect PCDigitRect(int octave, int degree) {
  return QRect(8 * (7 * (octave - 1) + (degree - 1)), PCDigitTop, PCDigitWidth,
               PCDigitHeights[octave - 1]);
}
// accidental: 1 sharp, 2 flat, 3 natural sign.
inline constexpr QRect PCAccidentalRect(int accidental) {
  return QRect(160 + 8 * accidental, PCAccidentalTop, 4, 9);
}

// Staff glyphs.
inline constexpr QRect KeySigSharpGlyph(6, 9, 8, 26);
inline constexpr QRect KeySigFlatGlyph(29, 5, 7, 24);
inline constexpr QRect NoteHeadGlyph(64, 17, 10, 10);
inline constexpr QRect SharpGlyph(83, 13, 6, 18);
inline constexpr QRect NaturalGlyph(94, 14, 5, 16);
inline constexpr QRect FlatGlyph(105, 11, 5, 15);

// Large numbered-notation digits of the staff, octaves 0..8.
inline constexpr std::array<int, 9> StaffDigitHeights = {43, 37, 31, 25, 18, 25, 31, 37, 43};
inline constexpr int StaffDigitWidth = 14;
inline constexpr QRect StaffDigitRect(int octave, int degree) {
  return QRect(112 + (octave * 7 + degree - 1) * StaffDigitWidth, 0, StaffDigitWidth,
               StaffDigitHeights[octave]);
}

// Top of the note head in the staff picture, by octave 2..6 and degree 1..7; -1 = no place.
inline constexpr std::array<std::array<int, 7>, 5> NoteHeadTops = {{
    {134, 130, 125, 121, 116, 112, 108}, // octave 2
    {103, 98, 94, 90, 85, 80, 75},       // octave 3
    {70, 65, 61, 56, 52, 47, 43},        // octave 4
    {38, 33, 28, 23, 19, 15, 9},         // octave 5
    {5, -1, -1, -1, -1, -1, -1},         // octave 6
}};
inline constexpr int NoteHeadTop(int octave, int degree) {
  if (octave < 2 || octave > 6 || degree < 1 || degree > 7)
    return -1;
  return NoteHeadTops[octave - 2][degree - 1];
}

} // namespace melo

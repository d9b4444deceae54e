#pragma once
// The staff display: the key signature of the transposition, the held notes on a grand staff
// in the transposed key, and the same notes as stacked numbered-notation digits. Three small
// pictures over the window's work picture, painted with glyphs from StaffMaskBitmap.
#include "controls/KoMultiGlyphButton.h"
#include "input/KoKeyDef.h"

#include <QImage>
#include <cstdint>

namespace melo {

inline constexpr std::uint32_t KeySignatureColour = 0xC39200;
inline constexpr std::uint32_t LeftHandNoteColour = 0x0099FF;
inline constexpr std::uint32_t RightHandNoteColour = 0x00FFFF;

// Draws one numbered-notation note (digit with octave dots, accidental 8 pixels to its left)
// at (x, y) and returns the digit's height; with measureOnly it only returns the height.
int DrawNumberGlyph(QImage& target, int x, std::uint32_t colour, bool useHandColour,
                    bool measureOnly, const TKeyNote& note, int y);

// Respells a note for the key of a transposition (-4..7).
void RespellNote(TKeyNote& note, int transpose);

class TKoStaff {
public:
  static constexpr int NoteCount = MaxKeyNotes;

  // The displays become children of form; backgrounds come from workBitmap.
  TKoStaff(QWidget* form, const QImage* workBitmap);
  TKoStaff(const TKoStaff&) = delete;
  TKoStaff& operator=(const TKoStaff&) = delete;

  // 0 none, 1..7 sharps, 8..14 flats (code - 7); anything else draws an empty signature.
  void SetKeySignature(std::uint8_t code);
  std::uint8_t KeySignature() const { return FKeySignature; }
  // Sorts and respells the notes in place.
  void ShowNotes(TKeyNote (&notes)[MaxKeyNotes], int transpose);
  void Clear();

  const QImage& KeySigBitmap() const { return FKeySigBitmap; }
  const QImage& StaffBitmap() const { return FStaffBitmap; }
  const QImage& NumberBitmap() const { return FNumberBitmap; }
  TKoMultiGlyphButton* KeySigDisplay() const { return FKeySigDisplay; }
  TKoMultiGlyphButton* StaffDisplay() const { return FStaffDisplay; }
  TKoMultiGlyphButton* NumberDisplay() const { return FNumberDisplay; }

private:
  TKoMultiGlyphButton* MakeDisplay(QWidget* form, const QImage* picture, const QRect& place);
  void DrawNumbers(const TKeyNote (&notes)[MaxKeyNotes]);
  void DrawStaffNotes(const TKeyNote (&notes)[MaxKeyNotes]);
  void DrawStaffNote(const TKeyNote& note, int x);

  const QImage* FWorkBitmap;
  QImage FKeySigBitmap;
  QImage FStaffBitmap;
  QImage FNumberBitmap;
  TKoMultiGlyphButton* FKeySigDisplay = nullptr;
  TKoMultiGlyphButton* FStaffDisplay = nullptr;
  TKoMultiGlyphButton* FNumberDisplay = nullptr;
  std::uint8_t FKeySignature = 0;
};

} // namespace melo

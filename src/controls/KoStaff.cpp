#include "controls/KoStaff.h"

#include "controls/GlyphBmp.h"
#include "controls/KoPCKeyboard.h"
#include "controls/SkinLayout.h"
#include "music/MidiInterfaces.h"

#include <array>

namespace melo {

namespace {

constexpr int NormalNoteX = 16;
constexpr int ShiftedNoteX = 27;
constexpr int AccidentalX = 2;
constexpr int NumberX = 10;
constexpr int NumberGap = 5;

// Key-signature placement: the i-th sign's top, by staff and sign.
constexpr int KeySigFirstX = 2;
constexpr int KeySigStep = 8;
constexpr int TrebleSharpBase = 5;
constexpr int BassSharpBase = 71;
constexpr int TrebleFlatBase = 21;
constexpr int BassFlatBase = 85;
constexpr std::array<int, 7> TrebleSharpOffsets = {0, 15, -5, 10, 25, 5, 20};
constexpr std::array<int, 7> BassSharpOffsets = {0, 14, -5, 10, 22, 5, 18};
constexpr std::array<int, 7> TrebleFlatOffsets = {0, -15, 4, -10, 8, -5, 13};
constexpr std::array<int, 7> BassFlatOffsets = {0, -14, 5, -9, -24, -5, -18};

// Respelling: steps the degree moves, and the key's flat and sharp degrees (bit d = degree d),
// for transpositions -4..7.
constexpr int MinTranspose = -4;
constexpr int MaxTranspose = 7;
constexpr std::array<int, 12> DegreeSteps = {-2, -2, -1, -1, 0, 1, 1, 2, 2, 3, 3, 4};
constexpr int Bit(int degree) {
  return 1 << degree;
}
constexpr int C = 1, D = 2, E = 3, F = 4, G = 5, A = 6, B = 7;
constexpr std::array<int, 12> FlatDegrees = {Bit(B) | Bit(E) | Bit(A) | Bit(D),
                                             0,
                                             Bit(B) | Bit(E),
                                             0,
                                             0,
                                             Bit(D) | Bit(E) | Bit(G) | Bit(A) | Bit(B),
                                             0,
                                             Bit(E) | Bit(A) | Bit(B),
                                             0,
                                             Bit(B),
                                             0,
                                             0};
constexpr std::array<int, 12> SharpDegrees = {0,
                                              Bit(F) | Bit(C) | Bit(G),
                                              0,
                                              Bit(F) | Bit(C) | Bit(G) | Bit(D) | Bit(A),
                                              0,
                                              0,
                                              Bit(F) | Bit(C),
                                              0,
                                              Bit(F) | Bit(C) | Bit(G) | Bit(D),
                                              0,
                                              Bit(F) | Bit(C) | Bit(G) | Bit(D) | Bit(A) | Bit(E),
                                              Bit(F)};

std::uint32_t HandColour(const TKeyNote& note) {
  return note.Keyboard == LeftHand ? LeftHandNoteColour : RightHandNoteColour;
}

QRect AccidentalGlyph(int accidental) {
  switch (accidental) {
  case 1:
    return SharpGlyph;
  case 2:
    return FlatGlyph;
  case 3:
    return NaturalGlyph;
  default:
    return QRect();
  }
}

void Tint(QImage& target, QPoint at, std::uint32_t colour, const QRect& glyph) {
  TintGlyph(target, StaffMaskBitmap, QRect(at, glyph.size()), colour, glyph);
}

} // namespace

int DrawNumberGlyph(QImage& target, int x, std::uint32_t colour, bool useHandColour,
                    bool measureOnly, const TKeyNote& note, int y) {
  if (note.Degree == 0)
    return 0;
  const int height = note.Octave <= 8 ? StaffDigitHeights[note.Octave] : 0;
  if (measureOnly)
    return height;
  if (useHandColour)
    colour = HandColour(note);
  const QRect sign = AccidentalGlyph(note.Accidental);
  if (!sign.isEmpty())
    Tint(target, QPoint(x - 8, y), colour, sign);
  if (height > 0 && note.Degree <= 7)
    Tint(target, QPoint(x, y), colour, StaffDigitRect(note.Octave, note.Degree));
  return height;
}

void RespellNote(TKeyNote& note, int transpose) {
  if (note.Degree == 0 || transpose < MinTranspose || transpose > MaxTranspose)
    return;
  const int t = transpose - MinTranspose;
  int degree = note.Degree + DegreeSteps[t];
  int octave = note.Octave;
  while (degree > 7) {
    degree -= 7;
    ++octave;
  }
  while (degree < 1) {
    degree += 7;
    --octave;
  }
  note.Degree = std::uint8_t(degree);
  note.Octave = std::uint8_t(octave);
  if (note.Accidental == 1 && (FlatDegrees[t] & Bit(degree)) != 0) {
    note.Accidental = 3;
  } else if (note.Accidental == 2 && (SharpDegrees[t] & Bit(degree)) != 0) {
    note.Accidental = 3;
  }
}

TKoStaff::TKoStaff(QWidget* form, const QImage* workBitmap)
    : FWorkBitmap(workBitmap), FKeySigBitmap(KeySigDisplayRect.size(), QImage::Format_RGB888),
      FStaffBitmap(StaffDisplayRect.size(), QImage::Format_RGB888),
      FNumberBitmap(NumberDisplayRect.size(), QImage::Format_RGB888) {
  FKeySigBitmap.fill(Qt::black);
  FStaffBitmap.fill(Qt::black);
  FNumberBitmap.fill(Qt::black);
  FKeySigDisplay = MakeDisplay(form, &FKeySigBitmap, KeySigDisplayRect);
  FStaffDisplay = MakeDisplay(form, &FStaffBitmap, StaffDisplayRect);
  FNumberDisplay = MakeDisplay(form, &FNumberBitmap, NumberDisplayRect);
  SetKeySignature(0);
  Clear();
}

TKoMultiGlyphButton* TKoStaff::MakeDisplay(QWidget* form, const QImage* picture,
                                           const QRect& place) {
  auto* display = new TKoMultiGlyphButton(form);
  display->SetGlyph(picture);
  display->setGeometry(place);
  display->SetGlyphOrigin(0, QPoint(0, 0));
  display->show();
  return display;
}

void TKoStaff::SetKeySignature(std::uint8_t code) {
  FKeySignature = code;
  CopyBitmapRect(FKeySigBitmap, QPoint(0, 0), *FWorkBitmap, KeySigDisplayRect);
  const bool sharps = code >= 1 && code <= 7;
  const bool flats = code >= 8 && code <= 14;
  const int count = sharps ? code : flats ? code - 7 : 0;
  for (int i = 0; i < count; ++i) {
    const QPoint treble(KeySigFirstX + KeySigStep * i, sharps
                                                           ? TrebleSharpBase + TrebleSharpOffsets[i]
                                                           : TrebleFlatBase + TrebleFlatOffsets[i]);
    const QPoint bass(KeySigFirstX + KeySigStep * i, sharps ? BassSharpBase + BassSharpOffsets[i]
                                                            : BassFlatBase + BassFlatOffsets[i]);
    const QRect glyph = sharps ? KeySigSharpGlyph : KeySigFlatGlyph;
    Tint(FKeySigBitmap, treble, KeySignatureColour, glyph);
    Tint(FKeySigBitmap, bass, KeySignatureColour, glyph);
  }
  FKeySigDisplay->Repaint();
}

void TKoStaff::ShowNotes(TKeyNote (&notes)[MaxKeyNotes], int transpose) {
  SortKeyNotes(notes);
  DrawNumbers(notes);
  for (TKeyNote& note : notes) {
    if (note.Degree != 0)
      RespellNote(note, transpose);
  }
  DrawStaffNotes(notes);
}

void TKoStaff::Clear() {
  TKeyNote notes[MaxKeyNotes] = {};
  ShowNotes(notes, 0);
}

void TKoStaff::DrawNumbers(const TKeyNote (&notes)[MaxKeyNotes]) {
  CopyBitmapRect(FNumberBitmap, QPoint(0, 0), *FWorkBitmap, NumberDisplayRect);
  int total = -NumberGap;
  for (const TKeyNote& note : notes) {
    if (note.Degree == 0)
      break;
    total += DrawNumberGlyph(FNumberBitmap, NumberX, 0, true, true, note, 0) + NumberGap;
  }
  int y = (FNumberBitmap.height() - total) / 2;
  // The highest note (last in sorted order) stands at the top.
  for (int i = MaxKeyNotes - 1; i >= 0; --i) {
    if (notes[i].Degree != 0)
      y += DrawNumberGlyph(FNumberBitmap, NumberX, 0, true, false, notes[i], y) + NumberGap;
  }
  FNumberDisplay->Repaint();
}

void TKoStaff::DrawStaffNotes(const TKeyNote (&notes)[MaxKeyNotes]) {
  CopyBitmapRect(FStaffBitmap, QPoint(0, 0), *FWorkBitmap, StaffDisplayRect);
  int i = 0;
  while (i < MaxKeyNotes && notes[i].Degree != 0) {
    const bool hasNext = i + 1 < MaxKeyNotes && notes[i + 1].Degree != 0;
    // A note on the same place as the next, or a second below it, pushes the next aside.
    if (hasNext &&
        (NotesSamePlace(notes[i], notes[i + 1]) || NoteIsStepBelow(notes[i], notes[i + 1]))) {
      DrawStaffNote(notes[i], NormalNoteX);
      DrawStaffNote(notes[i + 1], ShiftedNoteX);
      i += 2;
    } else {
      DrawStaffNote(notes[i], NormalNoteX);
      ++i;
    }
  }
  FStaffDisplay->Repaint();
}

void TKoStaff::DrawStaffNote(const TKeyNote& note, int x) {
  const int y = NoteHeadTop(note.Octave, note.Degree);
  if (y < 0)
    return;
  const std::uint32_t colour = HandColour(note);
  Tint(FStaffBitmap, QPoint(x, y), colour, NoteHeadGlyph);
  const QRect sign = AccidentalGlyph(note.Accidental);
  if (!sign.isEmpty())
    Tint(FStaffBitmap, QPoint(AccidentalX, y - 4), colour, sign);
}

} // namespace melo

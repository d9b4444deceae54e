#include "controls/KoStaff.h"
#include "SkinFixture.h"
#include "controls/KoPCKeyboard.h"

#include <array>

namespace melo::test {
namespace {

TKeyNote Note(int degree, int accidental, int octave, int keyboard = 0) {
  return TKeyNote{std::uint8_t(degree), std::uint8_t(accidental), std::uint8_t(octave),
                  std::uint8_t(keyboard), 0};
}

class KoStaffTest : public SkinTest {
protected:
  void SetUp() override {
    SkinTest::SetUp();
    Staff = std::make_unique<TKoStaff>(Host.get(), &WorkBitmap);
  }
  // The background under a display, with glyphs tinted on it the way the staff should.
  static QImage Expected(const QRect& display,
                         std::initializer_list<std::tuple<QPoint, std::uint32_t, QRect>> glyphs) {
    QImage image = Area(WorkBitmap, display);
    for (const auto& [at, colour, glyph] : glyphs)
      TintGlyph(image, StaffMaskBitmap, QRect(at, glyph.size()), colour, glyph);
    return image;
  }
  std::unique_ptr<TKoStaff> Staff;
};

TEST_F(KoStaffTest, ShowsTwoLeftHandNotesAsHeadsAndStackedDigits) {
  TKeyNote notes[MaxKeyNotes] = {Note(3, 0, 4), Note(1, 0, 4)};
  Staff->ShowNotes(notes, 0);
  EXPECT_EQ(notes[0].Degree, 1); // sorted in place
  EXPECT_EQ(Staff->StaffBitmap(),
            Expected(StaffDisplayRect, {{QPoint(16, 70), LeftHandNoteColour, NoteHeadGlyph},
                                        {QPoint(16, 61), LeftHandNoteColour, NoteHeadGlyph}}));
  // Two 18-pixel digits with a 5-pixel gap, centred: 3 on top at 55, 1 below at 78.
  EXPECT_EQ(
      Staff->NumberBitmap(),
      Expected(NumberDisplayRect, {{QPoint(10, 55), LeftHandNoteColour, StaffDigitRect(4, 3)},
                                   {QPoint(10, 78), LeftHandNoteColour, StaffDigitRect(4, 1)}}));
  EXPECT_EQ(Area(Screen(), StaffDisplayRect), Staff->StaffBitmap());
  EXPECT_EQ(Area(Screen(), NumberDisplayRect), Staff->NumberBitmap());
}

TEST_F(KoStaffTest, ASecondAboveIsShiftedRightAndAccidentalsStandLeft) {
  TKeyNote notes[MaxKeyNotes] = {Note(2, 1, 4, 1), Note(1, 0, 4, 1), Note(5, 2, 5, 0)};
  Staff->ShowNotes(notes, 0);
  EXPECT_EQ(Staff->StaffBitmap(),
            Expected(StaffDisplayRect, {{QPoint(16, 70), RightHandNoteColour, NoteHeadGlyph},
                                        {QPoint(27, 65), RightHandNoteColour, NoteHeadGlyph},
                                        {QPoint(2, 61), RightHandNoteColour, SharpGlyph},
                                        {QPoint(16, 19), LeftHandNoteColour, NoteHeadGlyph},
                                        {QPoint(2, 15), LeftHandNoteColour, FlatGlyph}}));
}

TEST_F(KoStaffTest, NotesWithoutAPlaceAppearOnlyAsDigits) {
  TKeyNote notes[MaxKeyNotes] = {Note(2, 0, 6), Note(4, 0, 1)};
  Staff->ShowNotes(notes, 0);
  EXPECT_EQ(Staff->StaffBitmap(), Area(WorkBitmap, StaffDisplayRect));
  EXPECT_NE(Staff->NumberBitmap(), Area(WorkBitmap, NumberDisplayRect));
  Staff->Clear();
  EXPECT_EQ(Staff->NumberBitmap(), Area(WorkBitmap, NumberDisplayRect));
}

TEST_F(KoStaffTest, RespellsForTheTransposedKey) {
  TKeyNote cSharp[MaxKeyNotes] = {Note(1, 1, 4)};
  Staff->ShowNotes(cSharp, 1); // D flat major: D is flat in the key
  EXPECT_EQ(cSharp[0].Degree, 2);
  EXPECT_EQ(cSharp[0].Accidental, 3);
  EXPECT_EQ(cSharp[0].Octave, 4);
  EXPECT_EQ(Staff->StaffBitmap(),
            Expected(StaffDisplayRect, {{QPoint(16, 65), LeftHandNoteColour, NoteHeadGlyph},
                                        {QPoint(2, 61), LeftHandNoteColour, NaturalGlyph}}));
  TKeyNote c[MaxKeyNotes] = {Note(1, 0, 4)};
  Staff->ShowNotes(c, 1);
  EXPECT_EQ(c[0].Degree, 2);
  EXPECT_EQ(c[0].Accidental, 0);

  TKeyNote cFlat = Note(1, 2, 4);
  RespellNote(cFlat, 6); // F sharp major: F is sharp in the key
  EXPECT_EQ(cFlat.Degree, 4);
  EXPECT_EQ(cFlat.Accidental, 3);

  TKeyNote c4 = Note(1, 0, 4);
  RespellNote(c4, -1);
  EXPECT_EQ(c4.Degree, 7);
  EXPECT_EQ(c4.Octave, 3);
  TKeyNote b = Note(7, 1, 4, 1);
  RespellNote(b, 7); // up four steps from B wraps to F of the next octave
  EXPECT_EQ(b.Degree, 4);
  EXPECT_EQ(b.Octave, 5);
  EXPECT_EQ(b.Accidental, 1);
  EXPECT_EQ(b.Keyboard, 1);
  TKeyNote kept = Note(3, 2, 4);
  RespellNote(kept, 0);
  RespellNote(kept, 9); // outside the range: left alone
  EXPECT_EQ(kept.Degree, 3);
  EXPECT_EQ(kept.Accidental, 2);
}

TEST_F(KoStaffTest, KeySignatureSharpsAndFlatsOnBothStaves) {
  Staff->SetKeySignature(0);
  EXPECT_EQ(Staff->KeySigBitmap(), Area(WorkBitmap, KeySigDisplayRect));
  Staff->SetKeySignature(7);
  const int trebleSharps[] = {0, 15, -5, 10, 25, 5, 20};
  const int bassSharps[] = {0, 14, -5, 10, 22, 5, 18};
  QImage expected = Area(WorkBitmap, KeySigDisplayRect);
  for (int i = 0; i < 7; ++i) {
    for (int y : {5 + trebleSharps[i], 71 + bassSharps[i]}) {
      TintGlyph(expected, StaffMaskBitmap, QRect(QPoint(2 + 8 * i, y), KeySigSharpGlyph.size()),
                KeySignatureColour, KeySigSharpGlyph);
    }
  }
  EXPECT_EQ(Staff->KeySigBitmap(), expected);

  Staff->SetKeySignature(12);
  const int trebleFlats[] = {0, -15, 4, -10, 8};
  const int bassFlats[] = {0, -14, 5, -9, -24};
  expected = Area(WorkBitmap, KeySigDisplayRect);
  for (int i = 0; i < 5; ++i) {
    for (int y : {21 + trebleFlats[i], 85 + bassFlats[i]}) {
      TintGlyph(expected, StaffMaskBitmap, QRect(QPoint(2 + 8 * i, y), KeySigFlatGlyph.size()),
                KeySignatureColour, KeySigFlatGlyph);
    }
  }
  EXPECT_EQ(Staff->KeySigBitmap(), expected);
  EXPECT_EQ(Staff->KeySignature(), 12);
  EXPECT_EQ(Area(Screen(), KeySigDisplayRect), expected);

  Staff->SetKeySignature(15);
  EXPECT_EQ(Staff->KeySigBitmap(), Area(WorkBitmap, KeySigDisplayRect));
}

TEST(KoStaffFunctions, NoteFromMidiSpellsBlackKeysAsSharps) {
  TKeyNote n = Note(5, 2, 9, 1);
  NoteFromMidi(61, 0, n);
  EXPECT_EQ(n.Degree, 1);
  EXPECT_EQ(n.Accidental, 1);
  EXPECT_EQ(n.Octave, 4);
  EXPECT_EQ(n.Keyboard, 1); // not written
  NoteFromMidi(71, 2, n);   // relative to a base: 69 is A
  EXPECT_EQ(n.Degree, 6);
  EXPECT_EQ(n.Accidental, 0);
  NoteFromMidi(128, 0, n);
  EXPECT_EQ(n.Degree, 0);
  NoteFromMidi(3, 5, n); // below the base
  EXPECT_EQ(n.Degree, 0);
}

TEST(KoStaffFunctions, NumberGlyphHeightsGrowWithTheOctaveDots) {
  QImage target(10, 10, QImage::Format_RGB888);
  const std::array<int, 10> heights = {43, 37, 31, 25, 18, 25, 31, 37, 43, 0};
  for (int octave = 0; octave <= 9; ++octave)
    EXPECT_EQ(DrawNumberGlyph(target, 0, 0, false, true, Note(1, 0, octave), 0), heights[octave]);
  EXPECT_EQ(DrawNumberGlyph(target, 0, 0, false, true, Note(0, 0, 4), 0), 0);
}

} // namespace
} // namespace melo::test

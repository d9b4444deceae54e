#include "controls/GlyphBmp.h"
#include "SkinFixture.h"

#include <QFile>
#include <QTemporaryDir>

namespace melo::test {
namespace {

TEST(GlyphBmp, RefusesAMissingOrDamagedLibrary) {
  App();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  EXPECT_FALSE(LoadGlyphLibrary(dir.filePath(GlyphLibraryFileName)));
  QFile junk(dir.filePath("junk.rcc"));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("qres\0\0\0\3 not really a resource file", 36);
  junk.close();
  EXPECT_FALSE(LoadGlyphLibrary(junk.fileName()));
  EXPECT_TRUE(QString::fromUtf8(GlyphLibraryMissingText).startsWith(GlyphLibraryFileName));
}

TEST_F(SkinTest, LibraryHoldsBothPicturesInTwentyFourBits) {
  EXPECT_EQ(SkinBitmap.size(), QSize(2 * SkinWidth, SkinHeight));
  EXPECT_EQ(StaffMaskBitmap.size(), QSize(StaffMaskWidth, StaffMaskHeight));
  for (const QImage* image : {&SkinBitmap, &WorkBitmap, &StaffMaskBitmap})
    EXPECT_EQ(image->format(), QImage::Format_RGB888);
  EXPECT_EQ(WorkBitmap, SkinBitmap);
  WorkBitmap.setPixelColor(0, 0, Qt::red); // the work picture is a copy of its own
  EXPECT_NE(SkinBitmap.pixelColor(0, 0), QColor(Qt::red));
  // The thumb lies in the down half; under it in the up half is the bare track.
  EXPECT_NE(Area(SkinBitmap, SliderThumbRect),
            Area(SkinBitmap, SliderThumbRect.translated(-621, 0)));
}

TEST_F(SkinTest, MaskHoldsEveryGlyphInsideItsRectangle) {
  const auto inked = [](const QRect& r) {
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
      for (int x = r.left(); x <= r.right(); ++x)
        n += StaffMaskBitmap.pixelColor(x, y).red() < 128;
    }
    return n;
  };
  for (int o = 1; o <= 7; ++o) {
    for (int d = 1; d <= 7; ++d)
      EXPECT_GT(inked(PCDigitRect(o, d)), 6) << o << "/" << d;
  }
  for (int o = 0; o <= 8; ++o) {
    for (int d = 1; d <= 7; ++d)
      EXPECT_GT(inked(StaffDigitRect(o, d)), 20) << o << "/" << d;
  }
  for (int a = 1; a <= 3; ++a)
    EXPECT_GT(inked(PCAccidentalRect(a)), 4);
  for (const QRect& r :
       {KeySigSharpGlyph, KeySigFlatGlyph, NoteHeadGlyph, SharpGlyph, NaturalGlyph, FlatGlyph})
    EXPECT_GT(inked(r), 10);
  // Octave dots sit above the digit for high octaves and below it for low ones.
  const QRect high = StaffDigitRect(6, 1), low = StaffDigitRect(2, 1);
  EXPECT_GT(inked(QRect(high.left(), high.top(), 14, 12)), 6);
  EXPECT_GT(inked(QRect(low.left(), low.top() + 19, 14, 12)), 6);
}

TEST(GlyphBmp, CopyBitmapRectClipsBothPictures) {
  QImage source(4, 4, QImage::Format_RGB888);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x)
      source.setPixelColor(x, y, QColor(10 * x, 10 * y, 0));
  }
  QImage dest(3, 3, QImage::Format_RGB888);
  dest.fill(Qt::white);
  CopyBitmapRect(dest, QPoint(-1, 1), source, QRect(-1, 0, 4, 4));
  // Source column -1 does not exist, destination column -1 neither: (0,1) gets source (0,0).
  EXPECT_EQ(dest.pixelColor(0, 1), QColor(0, 0, 0));
  EXPECT_EQ(dest.pixelColor(1, 2), QColor(10, 10, 0));
  EXPECT_EQ(dest.pixelColor(0, 0), QColor(Qt::white));
  EXPECT_EQ(dest.pixelColor(2, 1), QColor(20, 0, 0));
}

} // namespace
} // namespace melo::test

#include "controls/HandCursors.h"
#include "SkinFixture.h"

namespace melo::test {
namespace {

TEST(HandCursors, TwoMirroredHandsPointingWithTheirHotSpot) {
  App();
  const QCursor right = ScreenCursor(crRightHand);
  const QCursor left = ScreenCursor(crLeftHand);
  ASSERT_EQ(right.shape(), Qt::BitmapCursor);
  ASSERT_EQ(left.shape(), Qt::BitmapCursor);
  const QImage r = right.pixmap().toImage();
  const QImage l = left.pixmap().toImage();
  // The same outline mirrored (up to edge smoothing); the cuffs differ in the hands' colours.
  const QImage mirrored = l.mirrored(true, false);
  ASSERT_EQ(r.size(), mirrored.size());
  int colourDiffers = 0;
  for (int y = 0; y < r.height(); ++y) {
    for (int x = 0; x < r.width(); ++x) {
      EXPECT_LE(std::abs(qAlpha(r.pixel(x, y)) - qAlpha(mirrored.pixel(x, y))), 24)
          << x << "," << y;
      colourDiffers += r.pixel(x, y) != mirrored.pixel(x, y);
    }
  }
  EXPECT_GT(colourDiffers, 20);
  // The fingertip lies at the hot spot: opaque just below it.
  EXPECT_GT(qAlpha(r.pixel(right.hotSpot() + QPoint(0, 2))), 0);
  EXPECT_GT(qAlpha(l.pixel(left.hotSpot() + QPoint(0, 2))), 0);
  EXPECT_EQ(ScreenCursor(crHandPoint).shape(), Qt::PointingHandCursor);
  EXPECT_EQ(ScreenCursor(77).shape(), Qt::ArrowCursor);
}

} // namespace
} // namespace melo::test

#include "controls/KoMultiGlyphButton.h"
#include "SkinFixture.h"

#include <QTest>
#include <string>

namespace melo::test {
namespace {

using MultiGlyphButtonTest = SkinTest;

TEST_F(MultiGlyphButtonTest, ShowsTheSkinAtTheOriginOfItsGlyphIndex) {
  auto* button = new TKoMultiGlyphButton(Host.get());
  // Over the "Q" key, whose up and down pictures differ.
  button->setGeometry(100, 105, 11, 10);
  button->SetGlyph(&SkinBitmap);
  button->SetGlyphOrigin(0, QPoint(100, 105));
  button->SetGlyphOrigin(1, QPoint(721, 105));
  const QImage up = Area(SkinBitmap, QRect(100, 105, 11, 10));
  const QImage down = Area(SkinBitmap, QRect(721, 105, 11, 10));
  ASSERT_NE(up, down);
  WorkBitmap.fill(Qt::black); // the host's own picture must not be what shows
  EXPECT_EQ(Area(Screen(), QRect(100, 105, 11, 10)), up);
  button->SetGlyphIndex(1);
  EXPECT_EQ(Area(Screen(), QRect(100, 105, 11, 10)), down);
}

TEST_F(MultiGlyphButtonTest, WithoutAGlyphShowsOnlyTheCaptionOverTheButtonFace) {
  auto* button = new TKoMultiGlyphButton(Host.get());
  button->setGeometry(10, 10, 60, 24);
  button->SetCaption(QStringLiteral("Hi"));
  const QImage shot = Area(Screen(), QRect(10, 10, 60, 24));
  const QColor face = button->palette().button().color();
  EXPECT_EQ(shot.pixelColor(0, 0), face);
  EXPECT_EQ(shot.pixelColor(59, 23), face);
  int inked = 0;
  for (int y = 0; y < 24; ++y) {
    for (int x = 0; x < 60; ++x) {
      if (shot.pixelColor(x, y) != face) {
        ++inked;
        EXPECT_TRUE(x > 15 && x < 45) << "caption not centred at x " << x;
      }
    }
  }
  EXPECT_GT(inked, 10);
}

TEST_F(MultiGlyphButtonTest, ReportsTheDoubleClickBeforeThePressOfTheSecondClick) {
  ShowHost();
  auto* button = new TKoMultiGlyphButton(Host.get());
  button->setGeometry(10, 10, 30, 30);
  button->show();
  std::string events;
  button->OnMouseDown = [&](TKoMultiGlyphButton*, Qt::MouseButton, Qt::KeyboardModifiers, int,
                            int) { events += "D"; };
  button->OnMouseUp = [&](TKoMultiGlyphButton*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    events += "U";
  };
  button->OnDblClick = [&](TKoMultiGlyphButton*) { events += "2"; };
  DoubleClick(QPoint(20, 20));
  EXPECT_EQ(events, "DU2DU");
}

} // namespace
} // namespace melo::test

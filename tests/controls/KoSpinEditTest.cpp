#include "controls/KoSpinEdit.h"
#include "SkinFixture.h"

#include <vector>

namespace melo::test {
namespace {

// The transpose edit as the window places it.
class KoSpinEditTest : public SkinTest {
protected:
  void SetUp() override {
    SkinTest::SetUp();
    Edit = std::make_unique<TKoSpinEdit>(Host.get(), 316, 373, 19, 96, &WorkBitmap);
    Edit->SetOnClick([this](TKoMultiGlyphButton* sender) { Clicks.push_back(sender->Tag()); });
    ShowHost();
  }
  std::unique_ptr<TKoSpinEdit> Edit;
  std::vector<int> Clicks;
};

TEST_F(KoSpinEditTest, ArrowsSplitTheHeightTenAndTheRest) {
  EXPECT_EQ(Edit->UpArrow()->geometry(), QRect(469, 316, 11, 10));
  EXPECT_EQ(Edit->DownArrow()->geometry(), QRect(469, 326, 11, 9));
  EXPECT_EQ(Edit->UpArrow()->Tag(), 0);
  EXPECT_EQ(Edit->DownArrow()->Tag(), 1);
  EXPECT_EQ(Edit->Label()->geometry(), QRect(373, 316, 96, 19));
  EXPECT_EQ(Area(Screen(), QRect(469, 326, 11, 9)), Area(WorkBitmap, QRect(469, 326, 11, 9)));
}

TEST_F(KoSpinEditTest, LowerArrowShowsPressedAndClicksOnRelease) {
  Press(QPoint(474, 330));
  EXPECT_EQ(Area(Screen(), QRect(469, 326, 11, 9)),
            Area(WorkBitmap, QRect(469 + DownOffset, 326, 11, 9)));
  EXPECT_TRUE(Clicks.empty());
  Release(QPoint(474, 330));
  EXPECT_EQ(Area(Screen(), QRect(469, 326, 11, 9)), Area(WorkBitmap, QRect(469, 326, 11, 9)));
  Press(QPoint(474, 320));
  Release(QPoint(474, 320));
  EXPECT_EQ(Clicks, (std::vector<int>{1, 0}));
}

TEST_F(KoSpinEditTest, DisabledOrRightButtonFiresNothing) {
  Press(QPoint(474, 320), Qt::RightButton);
  Release(QPoint(474, 320), Qt::RightButton);
  Edit->SetButtonsEnabled(false);
  EXPECT_FALSE(Edit->ButtonsEnabled());
  Press(QPoint(474, 330));
  Release(QPoint(474, 330));
  EXPECT_TRUE(Clicks.empty());
}

TEST_F(KoSpinEditTest, ShowsTheTextInGreenOnBlack) {
  Edit->SetText(QStringLiteral("-4"));
  EXPECT_EQ(Edit->Text(), "-4");
  const QImage shot = Area(Screen(), QRect(373, 316, 96, 19));
  EXPECT_EQ(shot.pixelColor(1, 1), QColor(Qt::black));
  bool green = false;
  for (int y = 0; y < shot.height(); ++y) {
    for (int x = 0; x < shot.width(); ++x) {
      const QColor c = shot.pixelColor(x, y);
      green = green || (c.green() > 200 && c.red() < 60 && c.blue() < 60);
      EXPECT_TRUE(c.red() < 60 && c.blue() < 60) << x << "," << y;
    }
  }
  EXPECT_TRUE(green);
}

} // namespace
} // namespace melo::test

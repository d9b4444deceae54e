#include "controls/KoMainButtons.h"
#include "SkinFixture.h"

#include <vector>

namespace melo::test {
namespace {

class KoMainButtonsTest : public SkinTest {
protected:
  void SetUp() override {
    SkinTest::SetUp();
    Buttons = std::make_unique<TKoMainButtons>(Host.get(), &WorkBitmap);
    Buttons->SetOnClick([this](TKoMultiGlyphButton* sender) { Clicks.push_back(sender->Tag()); });
    ShowHost();
  }
  bool ShowsDown(int index) {
    const QRect r = MainButtonRect(index);
    return Area(Screen(), r) == Area(WorkBitmap, DownRect(r));
  }
  bool ShowsUp(int index) {
    const QRect r = MainButtonRect(index);
    return Area(Screen(), r) == Area(WorkBitmap, r);
  }
  std::unique_ptr<TKoMainButtons> Buttons;
  std::vector<int> Clicks;
};

TEST_F(KoMainButtonsTest, PlacesTheSevenButtonsWithTheirNamesAndTags) {
  EXPECT_EQ(Buttons->Button(4)->objectName(), "KoMainButton_Setup");
  EXPECT_EQ(Buttons->Button(6)->objectName(), "KoMainButton_About");
  EXPECT_EQ(Buttons->Button(5)->geometry(), QRect(382, 9, 65, 28));
  EXPECT_EQ(Buttons->Button(6)->geometry(), QRect(520, 9, 65, 28));
  for (int i = 0; i < TKoMainButtons::ButtonCount; ++i) {
    EXPECT_EQ(Buttons->Button(i)->Tag(), i);
    EXPECT_TRUE(ShowsUp(i));
    EXPECT_TRUE(Buttons->Enabled(i));
  }
}

TEST_F(KoMainButtonsTest, ShowsThePressUntilReleaseAndClicksOnRelease) {
  const QPoint setup = MainButtonRect(4).center();
  Press(setup);
  EXPECT_TRUE(ShowsDown(4));
  EXPECT_TRUE(Clicks.empty());
  Release(QPoint(10, 400)); // the pressed button keeps the mouse
  EXPECT_TRUE(ShowsUp(4));
  EXPECT_EQ(Clicks, std::vector<int>{4});
  EXPECT_EQ(Buttons->ButtonState(4), 0);
}

TEST_F(KoMainButtonsTest, IgnoresTheRightButtonAndDisabledButtons) {
  Press(MainButtonRect(4).center(), Qt::RightButton);
  EXPECT_TRUE(ShowsUp(4));
  Release(MainButtonRect(4).center(), Qt::RightButton);
  Buttons->SetEnabled(1, false);
  EXPECT_FALSE(Buttons->Enabled(1));
  Press(MainButtonRect(1).center());
  EXPECT_TRUE(ShowsUp(1));
  Release(MainButtonRect(1).center());
  EXPECT_TRUE(Clicks.empty());
  Buttons->SetEnabled(1, true);
  Press(MainButtonRect(1).center());
  Release(MainButtonRect(1).center());
  EXPECT_EQ(Clicks, std::vector<int>{1});
}

TEST_F(KoMainButtonsTest, ButtonStateShowsZeroAndOneAndStoresOthers) {
  Buttons->SetButtonState(2, 1);
  EXPECT_TRUE(ShowsDown(2));
  Buttons->SetButtonState(2, 7);
  EXPECT_EQ(Buttons->ButtonState(2), 7);
  EXPECT_TRUE(ShowsDown(2));
  Buttons->SetButtonState(2, 0);
  EXPECT_TRUE(ShowsUp(2));
  Buttons->SetButtonState(9, 1); // no such button
  EXPECT_TRUE(Clicks.empty());
}

} // namespace
} // namespace melo::test

#include "controls/KoSlider.h"
#include "SkinFixture.h"

namespace melo::test {
namespace {

// The volume slider as the window builds it: 0..127, horizontal, thumb from 0 to 100.
class KoSliderTest : public SkinTest {
protected:
  void SetUp() override {
    SkinTest::SetUp();
    Slider = new TKoSlider(Host.get());
    Slider->move(VolumeSliderRect.topLeft());
    Slider->SetTrackImage(&SkinBitmap, VolumeSliderRect);
    Slider->SetThumbImage(&SkinBitmap, SliderThumbRect);
    Slider->SetMin(0);
    Slider->SetMax(127);
    Slider->SetHorizontal(true);
    Slider->SetThumbOffset(QPoint(0, 0));
    Slider->SetTravel(VolumeSliderRect.width() - 10);
    Slider->OnChange = [this](TKoSlider*) { ++Changes; };
    Slider->OnRelease = [this](TKoSlider*) { ++Releases; };
  }
  QPoint ThumbCentre() const { return VolumeSliderRect.topLeft() + Slider->ThumbBounds().center(); }
  TKoSlider* Slider = nullptr;
  int Changes = 0;
  int Releases = 0;
};

TEST_F(KoSliderTest, PlacesTheThumbByIntegerArithmetic) {
  Slider->SetPosition(50);
  EXPECT_EQ(Slider->ThumbBounds(), QRect(39, 0, 8, 19));
  Slider->SetPosition(127);
  EXPECT_EQ(Slider->ThumbBounds(), QRect(100, 0, 8, 19));
  Slider->SetPosition(500); // limited, and already at the top: nothing new
  EXPECT_EQ(Slider->Position(), 127);
  Slider->SetPosition(-3);
  EXPECT_EQ(Slider->Position(), 0);
  EXPECT_EQ(Slider->ThumbBounds(), QRect(0, 0, 8, 19));
  EXPECT_EQ(Changes, 4);
}

TEST_F(KoSliderTest, ComposesTrackAndThumbFromTheSkin) {
  Slider->SetPosition(50);
  const QImage shot = Area(Screen(), VolumeSliderRect);
  EXPECT_EQ(shot.copy(39, 0, 8, 19), Area(SkinBitmap, SliderThumbRect));
  EXPECT_EQ(shot.copy(0, 0, 39, 19), Area(SkinBitmap, VolumeSliderRect).copy(0, 0, 39, 19));
  EXPECT_EQ(shot.copy(47, 0, 63, 19), Area(SkinBitmap, VolumeSliderRect).copy(47, 0, 63, 19));
}

TEST_F(KoSliderTest, SettingTheSamePositionFiresOnce) {
  Slider->SetPosition(50);
  Slider->SetPosition(50);
  EXPECT_EQ(Changes, 1);
}

TEST_F(KoSliderTest, VerticalSliderHasItsMinimumAtTheBottom) {
  Slider->SetHorizontal(false);
  Slider->SetThumbOffset(QPoint(3, 10));
  Slider->SetTravel(90);
  Slider->SetPosition(127);
  EXPECT_EQ(Slider->ThumbBounds().topLeft(), QPoint(3, 10));
  Slider->SetPosition(1);
  EXPECT_EQ(Slider->ThumbBounds().topLeft(), QPoint(3, 90 - 80 * 1 / 127));
}

TEST_F(KoSliderTest, WithEqualLimitsTheThumbIsNotRedrawn) {
  Slider->SetPosition(50);
  const QRect before = Slider->ThumbBounds();
  const QImage buffer = Slider->Buffer();
  Slider->SetMin(20);
  Slider->SetMax(20);
  Slider->SetPosition(7);
  EXPECT_EQ(Slider->Position(), 20);
  EXPECT_EQ(Slider->ThumbBounds(), before);
  EXPECT_EQ(Slider->Buffer(), buffer);
}

TEST_F(KoSliderTest, DraggingTheThumbMovesByTheRangeOverTheTravel) {
  ShowHost();
  Slider->SetPosition(50);
  Changes = 0;
  const QPoint start = ThumbCentre();
  Press(start);
  EXPECT_TRUE(Slider->Dragging());
  Move(start + QPoint(10, 0));
  EXPECT_EQ(Slider->Position(), 50 + 1270 / 100);
  Move(start + QPoint(-10, 3));
  EXPECT_EQ(Slider->Position(), 50 - 1270 / 100);
  Move(start + QPoint(500, 0)); // beyond the end, the pointer still belongs to the slider
  EXPECT_EQ(Slider->Position(), 127);
  Release(start + QPoint(500, 0));
  EXPECT_FALSE(Slider->Dragging());
  EXPECT_EQ(Releases, 1);
  EXPECT_EQ(Changes, 3);
}

TEST_F(KoSliderTest, PressOutsideTheThumbOrWithTheRightButtonDoesNotDrag) {
  ShowHost();
  Slider->SetPosition(50);
  Press(VolumeSliderRect.topLeft() + QPoint(90, 9));
  EXPECT_FALSE(Slider->Dragging());
  Move(VolumeSliderRect.topLeft() + QPoint(100, 9));
  Release(VolumeSliderRect.topLeft() + QPoint(100, 9));
  Press(ThumbCentre(), Qt::RightButton);
  EXPECT_FALSE(Slider->Dragging());
  Release(ThumbCentre(), Qt::RightButton);
  EXPECT_EQ(Slider->Position(), 50);
  EXPECT_EQ(Releases, 1); // only the left release counts
}

} // namespace
} // namespace melo::test

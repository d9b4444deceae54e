#include "controls/RoVoravKb.h"
#include "SkinFixture.h"

#include <vector>

namespace melo::test {
namespace {

constexpr int X = PianoLeftX;
constexpr int Y = RightPianoTop;

class RoVoravKbTest : public SkinTest {
protected:
  void SetUp() override {
    SkinTest::SetUp();
    Keyboard = std::make_unique<TRoVoravKb>(Host.get(), &SkinBitmap, X, Y);
  }
  // True when the screen shows the skin's down picture over r (else the up picture).
  bool ShowsDown(const QRect& r) {
    const QImage shot = Area(Screen(), r);
    EXPECT_NE(Area(SkinBitmap, r), Area(SkinBitmap, DownRect(r))) << "pictures do not differ";
    if (shot == Area(SkinBitmap, DownRect(r)))
      return true;
    EXPECT_EQ(shot, Area(SkinBitmap, r)) << "neither up nor down";
    return false;
  }
  std::unique_ptr<TRoVoravKb> Keyboard;
};

TEST_F(RoVoravKbTest, LightsTheLowestAndTheTopC) {
  Keyboard->SetKeyState(0, 1);
  EXPECT_TRUE(ShowsDown(QRect(X, Y + 14, 14, 12)));
  EXPECT_TRUE(ShowsDown(QRect(X, Y, 9, 14)));
  EXPECT_FALSE(ShowsDown(QRect(X + 14, Y + 14, 14, 12))); // D stays up
  Keyboard->SetKeyState(72, 1);
  EXPECT_TRUE(ShowsDown(QRect(X + 588, Y, 14, 26))); // the whole top C
  Keyboard->SetKeyState(0, 0);
  EXPECT_FALSE(ShowsDown(QRect(X, Y + 14, 14, 12)));
}

TEST_F(RoVoravKbTest, LightsBlackKeysAtTheirOctaveOffsets) {
  Keyboard->SetKeyState(1, 1);
  EXPECT_TRUE(ShowsDown(QRect(X + 9, Y, 12, 14)));
  Keyboard->SetKeyState(70, 1);
  EXPECT_TRUE(ShowsDown(QRect(X + 569, Y, 12, 14)));
  EXPECT_FALSE(ShowsDown(QRect(X + 23, Y, 12, 14)));
  EXPECT_EQ(Keyboard->BlackKey(29)->geometry(), QRect(X + 569, Y, 12, 14));
}

TEST_F(RoVoravKbTest, IgnoresPositionsOutsideTheKeyboardAndShowsOnlyStatesZeroAndOne) {
  const QImage before = Screen();
  Keyboard->SetKeyState(-1, 1);
  Keyboard->SetKeyState(73, 1);
  EXPECT_EQ(Screen(), before);
  Keyboard->SetKeyState(5, 2);
  EXPECT_EQ(Keyboard->KeyState(5), 2);
  EXPECT_EQ(Screen(), before);
  Keyboard->SetKeyState(5, 1);
  Keyboard->SetKeyState(5, 2);
  EXPECT_TRUE(ShowsDown(QRect(X + 42, Y, 9, 14))); // F stays down
  Keyboard->ReleaseAll();
  EXPECT_EQ(Screen(), before);
}

TEST_F(RoVoravKbTest, NamesTagsAndStackingFollowTheCreationOrder) {
  EXPECT_EQ(Keyboard->BlackKey(7)->objectName(), "BlackKey7");
  EXPECT_EQ(Keyboard->BlackKey(7)->Tag(), 7);
  EXPECT_EQ(Keyboard->BigWhiteKey(42)->objectName(), "BigWhiteKey42");
  EXPECT_EQ(Keyboard->LittleWhiteKey(3)->Tag(), 3);
  // The top C's big piece covers the whole key, but its little piece was created later.
  EXPECT_EQ(Host->childAt(X + 590, Y + 20), Keyboard->BigWhiteKey(42));
  EXPECT_EQ(Host->childAt(X + 589, Y + 2), Keyboard->LittleWhiteKey(42));
  for (int p = 0; p < TRoVoravKb::PianoKeyCount; ++p) {
    bool black = false;
    int index = -1, back = -1;
    TRoVoravKb::PositionToKey(p, black, index);
    TRoVoravKb::KeyToPosition(black, index, back);
    EXPECT_EQ(back, p);
    EXPECT_EQ(black, p % 12 == 1 || p % 12 == 3 || p % 12 == 6 || p % 12 == 8 || p % 12 == 10);
  }
}

TEST_F(RoVoravKbTest, MousePressAndReleaseNameTheSamePositionWhereverTheReleaseIs) {
  ShowHost();
  std::vector<std::pair<char, int>> events;
  Keyboard->SetOnKeyDown([&](TKoMultiGlyphButton*, int p) { events.push_back({'D', p}); });
  Keyboard->SetOnKeyUp([&](TKoMultiGlyphButton*, int p) { events.push_back({'U', p}); });
  Press(QPoint(X + 98 + 14, Y + 20)); // big piece of the D of the second octave
  EXPECT_TRUE(ShowsDown(QRect(X + 98 + 14, Y + 14, 14, 12)));
  EXPECT_EQ(Keyboard->KeyState(14), 1);
  Release(QPoint(300, 400)); // far away: the pressed key still gets it
  EXPECT_FALSE(ShowsDown(QRect(X + 98 + 14, Y + 14, 14, 12)));
  Press(QPoint(X + 9 + 5, Y + 5)); // black key 0
  Release(QPoint(X + 9 + 5, Y + 5));
  const std::vector<std::pair<char, int>> expected = {{'D', 14}, {'U', 14}, {'D', 1}, {'U', 1}};
  EXPECT_EQ(events, expected);
}

TEST_F(RoVoravKbTest, IgnoresTheRightButtonAndDisabledKeys) {
  ShowHost();
  int calls = 0;
  Keyboard->SetOnKeyDown([&](TKoMultiGlyphButton*, int) { ++calls; });
  Keyboard->SetOnKeyUp([&](TKoMultiGlyphButton*, int) { ++calls; });
  const QImage before = Screen();
  Press(QPoint(X + 5, Y + 20), Qt::RightButton);
  EXPECT_EQ(Screen(), before);
  Release(QPoint(X + 5, Y + 20), Qt::RightButton);
  Keyboard->SetEnabled(false);
  EXPECT_FALSE(Keyboard->Enabled());
  Press(QPoint(X + 5, Y + 20));
  Release(QPoint(X + 5, Y + 20));
  EXPECT_EQ(Screen(), before);
  EXPECT_EQ(calls, 0);
}

} // namespace
} // namespace melo::test

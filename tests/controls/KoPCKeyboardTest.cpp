#include "controls/KoPCKeyboard.h"

#include "controls/SkinFixture.h"

#include <vector>

namespace melo::test {
namespace {

// ---- TintGlyph ------------------------------------------------------------------------------

QImage Filled(int w, int h, QColor c) {
  QImage image(w, h, QImage::Format_RGB888);
  image.fill(c);
  return image;
}

TEST(TintGlyph, BlendsEachChannelRoundingTowardMinusInfinity) {
  QImage mask(3, 1, QImage::Format_RGB888);
  mask.setPixelColor(0, 0, QColor(0, 9, 9)); // only red counts
  mask.setPixelColor(1, 0, QColor(128, 0, 0));
  mask.setPixelColor(2, 0, QColor(255, 0, 0));
  QImage dest = Filled(3, 1, QColor(200, 10, 153));
  TintGlyph(dest, mask, QRect(0, 0, 3, 1), 0x997A3D,
            QRect(0, 0, 3, 1)); // red 61, green 122, blue 153
  EXPECT_EQ(dest.pixelColor(0, 0), QColor(61, 122, 153));
  // red: 61 - floor(-139*128/256) = 61 + 70; green: 122 - floor(112*128/256) = 66; blue: same
  EXPECT_EQ(dest.pixelColor(1, 0), QColor(131, 66, 153));
  EXPECT_EQ(dest.pixelColor(2, 0), QColor(200, 10, 153));
  QImage odd = Filled(1, 1, QColor(0, 255, 1));
  QImage half(1, 1, QImage::Format_RGB888);
  half.setPixelColor(0, 0, QColor(1, 0, 0));
  TintGlyph(odd, half, QRect(0, 0, 1, 1), 0x000000, QRect(0, 0, 1, 1));
  // 0 - floor((0-0)*1/256) = 0; 0 - floor(-255/256) = 1; 0 - floor(-1/256) = 1
  EXPECT_EQ(odd.pixelColor(0, 0), QColor(0, 1, 1));
}

// A mask whose glyph pixel (x, y) has red 10 x + y, so every drawn pixel tells where it came from.
QImage NumberedMask() {
  QImage mask(20, 20, QImage::Format_RGB888);
  mask.fill(Qt::white);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x)
      mask.setPixelColor(4 + x, 4 + y, QColor(10 * x + y, 0, 0));
  }
  return mask;
}

// With colour 0 over white, a tinted pixel's red is 0 - floor(-255 r / 256) = r: the mask value.
int MaskValueAt(const QImage& dest, int x, int y) {
  return dest.pixelColor(x, y).red();
}

TEST(TintGlyph, ClipsAtEveryEdgeAndCutsTheMaskAlike) {
  const QImage mask = NumberedMask();
  struct TCase {
    QPoint At;
    QPoint FirstInside; // top-left destination pixel after the cut
    int FirstMask;      // the mask value it must show
    QPoint LastInside;  // bottom-right destination pixel after the cut
    int LastMask;
  };
  const TCase cases[] = {
      {QPoint(-3, 2), QPoint(0, 2), 30, QPoint(4, 9), 77}, // left: three columns cut
      {QPoint(2, -5), QPoint(2, 0), 5, QPoint(9, 2), 77},  // top: five rows cut
      {QPoint(6, 1), QPoint(6, 1), 0, QPoint(11, 8), 57},  // right: two columns cut
      {QPoint(1, 7), QPoint(1, 7), 0, QPoint(8, 11), 74},  // bottom: three rows cut
  };
  for (const TCase& c : cases) {
    QImage dest = Filled(12, 12, Qt::white);
    TintGlyph(dest, mask, QRect(c.At, QSize(8, 8)), 0x000000, QRect(4, 4, 8, 8));
    EXPECT_EQ(MaskValueAt(dest, c.FirstInside.x(), c.FirstInside.y()), c.FirstMask)
        << c.At.x() << "," << c.At.y();
    EXPECT_EQ(MaskValueAt(dest, c.LastInside.x(), c.LastInside.y()), c.LastMask)
        << c.At.x() << "," << c.At.y();
    int drawn = 0;
    for (int y = 0; y < 12; ++y) {
      for (int x = 0; x < 12; ++x) {
        if (dest.pixelColor(x, y) != QColor(Qt::white))
          ++drawn;
      }
    }
    const QRect visible = QRect(c.At, QSize(8, 8)).intersected(dest.rect());
    EXPECT_EQ(drawn, visible.width() * visible.height());
    EXPECT_GT(drawn, 0);
  }
  QImage dest = Filled(12, 12, Qt::white);
  TintGlyph(dest, mask, QRect(20, 20, 8, 8), 0, QRect(4, 4, 8, 8)); // wholly outside
  TintGlyph(dest, mask, QRect(0, 0, 8, 8), 0, QRect(16, 16, 8, 8)); // mask rectangle runs off
  TintGlyph(dest, mask, QRect(0, 0, 8, 8), 0, QRect(-30, -30, 8, 8));
  EXPECT_EQ(dest, Filled(12, 12, Qt::white));
}

// ---- The picture ----------------------------------------------------------------------------

constexpr int KeyQ = 29;
constexpr int Key1 = 14;
constexpr int KeyEsc = 0;
constexpr int KeyInsert = 80;

class KoPCKeyboardTest : public SkinTest {
protected:
  void SetUp() override {
    SkinTest::SetUp();
    FillDefaultKeyDefs(Values.KeyDefs);
    Keyboard = std::make_unique<TKoPCKeyboard>(Host.get(), &WorkBitmap, Values);
  }
  // The skin under key i with a note label tinted centred on it, in both pictures.
  static std::pair<QImage, QImage> Labelled(int i, int degree, int accidental, int octave) {
    const QRect key = PCKeyRect(i);
    QImage up = Area(SkinBitmap, key), down = Area(SkinBitmap, DownRect(key));
    const int width = 8 + (accidental != 0 ? 4 : 0);
    const int height = PCDigitHeights[octave - 1];
    QPoint at((key.width() - width) / 2, (key.height() - height) / 2);
    for (auto [image, colour] : {std::pair{&up, PCLabelUpColour}, {&down, PCLabelDownColour}}) {
      QPoint p = at;
      if (accidental != 0) {
        TintGlyph(*image, StaffMaskBitmap, QRect(p, QSize(4, 9)), colour,
                  PCAccidentalRect(accidental));
        p.rx() += 4;
      }
      TintGlyph(*image, StaffMaskBitmap, QRect(p, QSize(8, height)), colour,
                PCDigitRect(octave, degree));
    }
    return {up, down};
  }
  static std::pair<QImage, QImage> Shown(int i) {
    const QRect key = PCKeyRect(i);
    return {Area(WorkBitmap, key), Area(WorkBitmap, DownRect(key))};
  }
  static bool BareSkin(int i) {
    const QRect key = PCKeyRect(i);
    return Shown(i) == std::pair{Area(SkinBitmap, key), Area(SkinBitmap, DownRect(key))};
  }
  TPerformanceValues Values;
  std::unique_ptr<TKoPCKeyboard> Keyboard;
};

TEST_F(KoPCKeyboardTest, OnlyPlayableKeysHaveButtons) {
  EXPECT_EQ(Keyboard->Button(KeyEsc), nullptr);
  EXPECT_EQ(Keyboard->Button(69), nullptr); // Space
  ASSERT_NE(Keyboard->Button(KeyQ), nullptr);
  EXPECT_EQ(Keyboard->Button(KeyQ)->geometry(), QRect(53, 102, 24, 20));
  EXPECT_EQ(Keyboard->Button(97)->geometry(), QRect(588, 102, 24, 43));
  EXPECT_EQ(Keyboard->Button(105)->geometry(), QRect(507, 170, 51, 20));
  EXPECT_EQ(Keyboard->Button(KeyQ)->Tag(), KeyQ);
  int buttons = 0;
  for (int i = 0; i < KeyCount; ++i)
    buttons += Keyboard->Button(i) != nullptr;
  EXPECT_EQ(buttons, 73);
  const QImage before = WorkBitmap;
  Keyboard->SetKeyState(KeyEsc, 1);
  Keyboard->DrawLabel(KeyEsc);
  EXPECT_EQ(Keyboard->KeyState(KeyEsc), 0);
  EXPECT_EQ(WorkBitmap, before);
}

TEST_F(KoPCKeyboardTest, DigitHeightFollowsTheShiftedOctave) {
  Keyboard->DrawAllLabels();
  EXPECT_EQ(Shown(KeyQ), Labelled(KeyQ, 1, 0, 4)); // 10 pixels, no dots
  EXPECT_EQ(Shown(Key1), Labelled(Key1, 1, 0, 5)); // 13 pixels
  Values.LeftOctave = 1;
  Keyboard->SetLeftOctave(1);
  EXPECT_EQ(Shown(KeyQ), Labelled(KeyQ, 1, 0, 5));
  EXPECT_EQ(Shown(Key1), Labelled(Key1, 1, 0, 6));
  Values.LeftOctave = -1;
  Keyboard->SetLeftOctave(-1);
  EXPECT_EQ(Shown(KeyQ), Labelled(KeyQ, 1, 0, 3));
}

TEST_F(KoPCKeyboardTest, OctavesOffTheGlyphsAndEmptyDegreesShowTheBareSkin) {
  Values.KeyDefs.Keys[KeyQ].Notes[0].Octave = 7;
  Values.LeftOctave = 1;
  Keyboard->DrawLabel(KeyQ);
  EXPECT_TRUE(BareSkin(KeyQ));
  Values.KeyDefs.Keys[KeyQ].Notes[0].Octave = 0;
  Values.LeftOctave = 0;
  Keyboard->DrawLabel(KeyQ);
  EXPECT_TRUE(BareSkin(KeyQ));
  Values.KeyDefs.Keys[KeyQ].NoteCount = 1;
  Values.KeyDefs.Keys[KeyQ].Notes[0] = TKeyNote{0, 0, 4, 0, 0};
  Keyboard->DrawLabel(KeyQ);
  EXPECT_TRUE(BareSkin(KeyQ));
  Values.KeyDefs.Keys[Key1].NoteCount = 0;
  Keyboard->DrawLabel(Key1);
  EXPECT_TRUE(BareSkin(Key1));
}

TEST_F(KoPCKeyboardTest, ACaptionReplacesTheNoteInBlackInBothPictures) {
  SetKeyCaption(Values.KeyDefs.Keys[KeyQ], "Do");
  Keyboard->DrawLabel(KeyQ);
  const auto [up, down] = Shown(KeyQ);
  const QImage skinUp = Area(SkinBitmap, PCKeyRect(KeyQ));
  int minX = 99, maxX = -1, changed = 0;
  for (int y = 0; y < up.height(); ++y) {
    for (int x = 0; x < up.width(); ++x) {
      if (up.pixelColor(x, y) != skinUp.pixelColor(x, y)) {
        ++changed;
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        const QColor c = up.pixelColor(x, y);
        EXPECT_LE(std::abs(c.red() - c.blue()), 40) << "not black ink at " << x << "," << y;
      }
    }
  }
  EXPECT_GT(changed, 10);
  EXPECT_LE(std::abs((minX + maxX) / 2 - 12), 2); // centred
  EXPECT_NE(down, Area(SkinBitmap, DownRect(PCKeyRect(KeyQ))));
  EXPECT_NE(Shown(KeyQ), Labelled(KeyQ, 1, 0, 4));
}

TEST_F(KoPCKeyboardTest, SmartSemitoneRelabelsTheSixEditingKeys) {
  SetSmartSemitoneNotes(Values.KeyDefs, true);
  Keyboard->SetSmartSemitone(true);
  EXPECT_EQ(Shown(KeyInsert), Labelled(KeyInsert, 6, 1, 4));
  EXPECT_EQ(Shown(KeyInsert + 1), Labelled(KeyInsert + 1, 6, 1, 4)); // Home: A sharp too
  EXPECT_EQ(Shown(KeyInsert + 4), Labelled(KeyInsert + 4, 1, 1, 4)); // End: C sharp
  SetSmartSemitoneNotes(Values.KeyDefs, false);
  Keyboard->SetSmartSemitone(false);
  EXPECT_EQ(Shown(KeyInsert), Labelled(KeyInsert, 4, 0, 6));
  EXPECT_EQ(Shown(KeyInsert + 5), Labelled(KeyInsert + 5, 3, 0, 6)); // PageDown
}

TEST_F(KoPCKeyboardTest, KeyStateShowsZeroAndOneAndStoresOthers) {
  Keyboard->DrawAllLabels();
  const QRect key = PCKeyRect(KeyQ);
  Keyboard->SetKeyState(KeyQ, 1);
  EXPECT_EQ(Area(Screen(), key), Area(WorkBitmap, DownRect(key)));
  Keyboard->SetKeyState(KeyQ, 5);
  EXPECT_EQ(Keyboard->KeyState(KeyQ), 5);
  EXPECT_EQ(Area(Screen(), key), Area(WorkBitmap, DownRect(key)));
  Keyboard->AllKeysUp();
  EXPECT_EQ(Area(Screen(), key), Area(WorkBitmap, key));
}

TEST_F(KoPCKeyboardTest, MouseReportsPressReleaseMoveAndDoubleClick) {
  ShowHost();
  std::vector<std::pair<char, int>> events;
  Keyboard->SetOnKeyDown([&](TKoMultiGlyphButton* s) { events.push_back({'D', s->Tag()}); });
  Keyboard->SetOnKeyUp([&](TKoMultiGlyphButton* s) { events.push_back({'U', s->Tag()}); });
  Keyboard->SetOnEditKey([&](TKoMultiGlyphButton* s) { events.push_back({'E', s->Tag()}); });
  Keyboard->SetOnMouseMove([&](TKoMultiGlyphButton* s, Qt::KeyboardModifiers, int, int) {
    if (events.empty() || events.back().first != 'M')
      events.push_back({'M', s->Tag()});
  });
  const QRect key = PCKeyRect(KeyQ);
  Move(key.center());
  Press(key.center());
  EXPECT_EQ(Area(Screen(), key), Area(WorkBitmap, DownRect(key)));
  EXPECT_EQ(Keyboard->KeyState(KeyQ), 0); // the mouse does not change the stored state
  Release(QPoint(5, 430));
  EXPECT_EQ(Area(Screen(), key), Area(WorkBitmap, key));
  Press(key.center(), Qt::RightButton);
  Release(key.center(), Qt::RightButton);
  DoubleClick(PCKeyRect(Key1).center());
  const std::vector<std::pair<char, int>> expected = {{'M', KeyQ}, {'D', KeyQ}, {'U', KeyQ},
                                                      {'D', Key1}, {'U', Key1}, {'E', Key1},
                                                      {'D', Key1}, {'U', Key1}};
  std::vector<std::pair<char, int>> withoutLateMoves;
  for (const auto& e : events) {
    if (e.first != 'M' || withoutLateMoves.empty())
      withoutLateMoves.push_back(e);
  }
  EXPECT_EQ(withoutLateMoves, expected);
}

TEST_F(KoPCKeyboardTest, DisabledKeysIgnoreTheMouse) {
  ShowHost();
  int calls = 0;
  Keyboard->SetOnKeyDown([&](TKoMultiGlyphButton*) { ++calls; });
  Keyboard->SetEnabled(false);
  EXPECT_FALSE(Keyboard->Enabled());
  Press(PCKeyRect(KeyQ).center());
  Release(PCKeyRect(KeyQ).center());
  EXPECT_EQ(calls, 0);
}

} // namespace
} // namespace melo::test

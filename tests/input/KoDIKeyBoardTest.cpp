#include "input/KoDIKeyBoard.h"

#include <vector>

#include <gtest/gtest.h>

namespace melo {
namespace {

TEST(ScanCodeOfNativeKeyTest, X11KeycodesAreEvdevPlusEightWithExtendedTable) {
  EXPECT_EQ(ScanCodeOfNativeKey(24), 16);    // Q
  EXPECT_EQ(ScanCodeOfNativeKey(9), 1);      // Esc
  EXPECT_EQ(ScanCodeOfNativeKey(96), 88);    // F12, last plain code
  EXPECT_EQ(ScanCodeOfNativeKey(104), 0x9C); // KP Enter
  EXPECT_EQ(ScanCodeOfNativeKey(110), 0xC7); // Home
  EXPECT_EQ(ScanCodeOfNativeKey(127), 0xC5); // Pause
  EXPECT_EQ(ScanCodeOfNativeKey(133), 0xDB); // LWin
  EXPECT_EQ(ScanCodeOfNativeKey(151), 0xE3); // WakeUp
  EXPECT_EQ(ScanCodeOfNativeKey(0), -1);
  EXPECT_EQ(ScanCodeOfNativeKey(8), -1);
  EXPECT_EQ(ScanCodeOfNativeKey(101 + 8), -1); // evdev 101 has no DirectInput code here
  EXPECT_EQ(ScanCodeOfNativeKey(0xFFFFFFFF), -1);
}

TEST(ScanCodeOfNativeKeyTest, WindowsExtendedBitBecomesHighBitAndPauseIsSwapped) {
  const auto win = TNativeKeyCodes::Windows;
  EXPECT_EQ(ScanCodeOfNativeKey(0x10, win), 0x10);
  EXPECT_EQ(ScanCodeOfNativeKey(0x147, win), 0xC7);
  EXPECT_EQ(ScanCodeOfNativeKey(0x11D, win), 0x9D);
  EXPECT_EQ(ScanCodeOfNativeKey(0x45, win), 0xC5);
  EXPECT_EQ(ScanCodeOfNativeKey(0x145, win), 0x45);
  EXPECT_EQ(ScanCodeOfNativeKey(0, win), -1);
  EXPECT_EQ(ScanCodeOfNativeKey(0x80, win), -1);
  EXPECT_EQ(ScanCodeOfNativeKey(0x1234, win), -1);
}

TEST(TDIKeyboardBufferTest, APressCountsOnceUntilItsRelease) {
  TDIKeyboardBuffer buffer;
  EXPECT_TRUE(buffer.Press(30));
  EXPECT_FALSE(buffer.Press(30));
  EXPECT_TRUE(buffer.IsPressed(30));
  EXPECT_FALSE(buffer.IsDown(30)); // pressed is not held: the key path enters that
  EXPECT_TRUE(buffer.Release(30));
  EXPECT_FALSE(buffer.Release(30));
  EXPECT_FALSE(buffer.Press(256));
  EXPECT_FALSE(buffer.Release(-1));
}

TEST(TDIKeyboardBufferTest, ClearingTheHeldKeysLeavesThemPressed) {
  TDIKeyboardBuffer buffer;
  buffer.Press(16);
  buffer.SetDown(16);
  buffer.Clear();
  EXPECT_FALSE(buffer.IsDown(16));
  EXPECT_FALSE(buffer.Press(16));
}

TEST(TDIKeyboardBufferTest, ReleasesOfPressedKeysComeModifiersFirst) {
  TDIKeyboardBuffer buffer;
  for (int s : {0xC7, 16, 157, 42})
    buffer.Press(s);
  EXPECT_EQ(ReleasePressedKeys(buffer), (std::vector<int>{42, 157, 16, 0xC7}));
  EXPECT_TRUE(ReleasePressedKeys(buffer).empty());
  EXPECT_TRUE(buffer.Press(16));
}

TEST(TDIKeyboardBufferTest, ShiftStateFromHeldModifiers) {
  TDIKeyboardBuffer buffer;
  EXPECT_EQ(buffer.ShiftState(), 0);
  buffer.SetDown(157);
  EXPECT_EQ(buffer.ShiftState(), ssCtrl);
  buffer.Clear();
  buffer.SetDown(42);
  buffer.SetDown(184);
  EXPECT_EQ(buffer.ShiftState(), ssShift | ssAlt);
  buffer.SetUp(42);
  EXPECT_EQ(buffer.ShiftState(), ssAlt);
  EXPECT_TRUE(buffer.IsDown(184));
  EXPECT_EQ(buffer.State[184], 128);
  buffer.SetDown(256);
  buffer.SetDown(-3);
  EXPECT_FALSE(buffer.IsDown(256));
}

} // namespace
} // namespace melo

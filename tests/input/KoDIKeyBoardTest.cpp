#include "input/KoDIKeyBoard.h"

#include <vector>

#include <gtest/gtest.h>

namespace melo {
namespace {

struct TPosted {
  int Message;
  int ScanCode;
  int KeyIndex;
  bool operator==(const TPosted&) const = default;
};

class KoDIKeyBoardTest : public ::testing::Test {
protected:
  std::vector<TPosted> Posted;
  TKoDIKeyBoard Reader{[this](int m, int s, int k) { Posted.push_back({m, s, k}); }};
  void SetUp() override { Reader.SetActive(true); }
};

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

TEST_F(KoDIKeyBoardTest, PressAndReleaseGiveOneMessageEachWithoutRepeats) {
  Reader.NativeKeyEvent(38, true); // A
  Reader.NativeKeyEvent(38, true);
  Reader.NativeKeyEvent(38, true);
  Reader.NativeKeyEvent(38, false);
  Reader.NativeKeyEvent(38, false);
  const std::vector<TPosted> expected = {{WM_DIKEYDOWN, 30, 43}, {WM_DIKEYUP, 30, 43}};
  EXPECT_EQ(Posted, expected);
  EXPECT_EQ(Reader.LastState()[30], 0);
}

TEST_F(KoDIKeyBoardTest, KeysOutsideTheKeyTableAreNeverReported) {
  Reader.KeyEvent(0x54, true); // SysRq: no key index
  Reader.KeyEvent(300, true);
  Reader.KeyEvent(-1, true);
  EXPECT_TRUE(Posted.empty());
  EXPECT_EQ(Reader.LastState()[0x54], 0);
}

TEST_F(KoDIKeyBoardTest, ChangesWhileInactiveAreReportedOnReactivationInScanCodeOrder) {
  Reader.KeyEvent(30, true);
  Reader.SetActive(false);
  Reader.KeyEvent(30, false);
  Reader.KeyEvent(44, true);
  Reader.KeyEvent(16, true);
  EXPECT_EQ(Posted.size(), 1u);
  Reader.SetActive(true);
  const std::vector<TPosted> expected = {
      {WM_DIKEYDOWN, 30, 43}, {WM_DIKEYDOWN, 16, 29}, {WM_DIKEYUP, 30, 43}, {WM_DIKEYDOWN, 44, 55}};
  EXPECT_EQ(Posted, expected);
}

TEST_F(KoDIKeyBoardTest, LosingTheForegroundReleasesEveryHeldKey) {
  Reader.KeyEvent(0xC7, true); // Home
  Reader.KeyEvent(16, true);   // Q
  Posted.clear();
  Reader.Unacquire();
  const std::vector<TPosted> expected = {{WM_DIKEYUP, 16, 29}, {WM_DIKEYUP, 0xC7, 81}};
  EXPECT_EQ(Posted, expected);
  Reader.Acquire();
  Reader.KeyEvent(16, true);
  Reader.KeyEvent(157, true); // RControl
  Reader.KeyEvent(42, true);  // LShift
  Posted.clear();
  Reader.Unacquire();
  const std::vector<TPosted> modifiersFirst = {
      {WM_DIKEYUP, 42, 54}, {WM_DIKEYUP, 157, 73}, {WM_DIKEYUP, 16, 29}};
  EXPECT_EQ(Posted, modifiersFirst);
  // The release the toolkit delivers late, and presses before the window is
  // active again, are not the piano's.
  Posted.clear();
  Reader.KeyEvent(16, false);
  Reader.KeyEvent(17, true);
  EXPECT_TRUE(Posted.empty());
  Reader.Acquire();
  Reader.KeyEvent(17, true);
  EXPECT_EQ(Posted, (std::vector<TPosted>{{WM_DIKEYDOWN, 17, 30}}));
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

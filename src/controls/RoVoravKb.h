#pragma once
// One six-octave piano keyboard drawn from the skin: 116 glyph buttons on the owner window that
// light the sounding keys and report left-button presses and releases by key position.
#include "controls/KoMultiGlyphButton.h"

#include <QRect>
#include <array>
#include <cstdint>
#include <functional>
#include <span>

namespace melo {

class TRoVoravKb {
public:
  static constexpr int PianoKeyCount = 73; // positions 0..72 = MIDI notes 24..96
  static constexpr int BlackCount = 30;
  static constexpr int WhiteCount = 43;

  using TKeyEvent = std::function<void(TKoMultiGlyphButton* sender, int position)>;

  // The buttons become children of owner and go with it.
  TRoVoravKb(QWidget* owner, const QImage* skin, int x, int y);

  // States 0 (up) and 1 (down) are shown; any state is stored. Positions outside 0..72 are
  // ignored.
  void SetKeyState(int position, std::uint8_t state);
  std::uint8_t KeyState(int position) const {
    return position >= 0 && position < PianoKeyCount ? FKeyStates[position] : 0;
  }
  void ReleaseAll();
  // Frames the keys at these positions (the next notes to play) and no others.
  void SetMarkedPositions(std::span<const int> positions);
  bool PositionMarked(int position) const;
  void SetOnKeyDown(TKeyEvent handler) { FOnKeyDown = std::move(handler); }
  void SetOnKeyUp(TKeyEvent handler) { FOnKeyUp = std::move(handler); }
  void SetCursor(int cursorNumber);
  void SetEnabled(bool enabled);
  bool Enabled() const { return FKeysEnabled; }

  static void PositionToKey(int position, bool& isBlack, int& index);
  static void KeyToPosition(bool isBlack, int index, int& position);

  TKoMultiGlyphButton* BlackKey(int k) const {
    return k >= 0 && k < BlackCount ? FBlackKeys[k] : nullptr;
  }
  TKoMultiGlyphButton* BigWhiteKey(int w) const {
    return w >= 0 && w < WhiteCount ? FBigWhiteKeys[w] : nullptr;
  }
  TKoMultiGlyphButton* LittleWhiteKey(int w) const {
    return w >= 0 && w < WhiteCount ? FLittleWhiteKeys[w] : nullptr;
  }

private:
  void Layout(int x, int y);
  TKoMultiGlyphButton* MakeButton(QWidget* owner, const QImage* skin, const char* format, int tag,
                                  const QRect& up, const QRect& down);
  void ShowState(int position, int state);
  void KeyMouse(TKoMultiGlyphButton* sender, Qt::MouseButton button, bool press);

  std::array<std::uint8_t, PianoKeyCount> FKeyStates{};
  std::array<TKoMultiGlyphButton*, BlackCount> FBlackKeys{};
  std::array<TKoMultiGlyphButton*, WhiteCount> FBigWhiteKeys{};
  std::array<TKoMultiGlyphButton*, WhiteCount> FLittleWhiteKeys{};
  std::array<QRect, BlackCount> FBlackRects, FBlackDownRects;
  std::array<QRect, WhiteCount> FBigWhiteRects, FBigWhiteDownRects;
  std::array<QRect, WhiteCount> FLittleWhiteRects, FLittleWhiteDownRects;
  TKeyEvent FOnKeyDown;
  TKeyEvent FOnKeyUp;
  bool FKeysEnabled = true;
};

} // namespace melo

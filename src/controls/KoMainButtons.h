#pragma once
// The row of seven picture buttons across the top of the window ("Open" .. "About"). A click is
// reported on release of the left button, wherever the pointer then is.
#include "controls/KoMultiGlyphButton.h"

#include <QRect>
#include <array>
#include <cstdint>

namespace melo {

class TKoMainButtons {
public:
  static constexpr int ButtonCount = 7;

  TKoMainButtons(QWidget* owner, const QImage* workBitmap);

  void SetEnabled(int index, bool enabled);
  bool Enabled(int index) const {
    return index >= 0 && index < ButtonCount && FButtonEnabled[index];
  }
  // 0 shows the button up, 1 down; any state is stored.
  void SetButtonState(int index, std::uint8_t state);
  std::uint8_t ButtonState(int index) const {
    return index >= 0 && index < ButtonCount ? FButtonStates[index] : 0;
  }
  void SetOnClick(TButtonNotifyEvent handler) { FOnClick = std::move(handler); }
  TKoMultiGlyphButton* Button(int index) const {
    return index >= 0 && index < ButtonCount ? FButtons[index] : nullptr;
  }

private:
  std::array<std::uint8_t, ButtonCount> FButtonStates{};
  std::array<TKoMultiGlyphButton*, ButtonCount> FButtons{};
  std::array<QRect, ButtonCount> FButtonRects, FButtonDownRects;
  std::array<bool, ButtonCount> FButtonEnabled{};
  TButtonNotifyEvent FOnClick;
};

} // namespace melo

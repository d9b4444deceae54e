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
    return index >= 0 && index < ButtonCount && ButtonEnabled[index];
  }
  // 0 shows the button up, 1 down; any state is stored.
  void SetButtonState(int index, std::uint8_t state);
  std::uint8_t ButtonState(int index) const {
    return index >= 0 && index < ButtonCount ? ButtonStates[index] : 0;
  }
  void SetOnClick(TButtonNotifyEvent handler) { OnClick = std::move(handler); }
  TKoMultiGlyphButton* Button(int index) const {
    return index >= 0 && index < ButtonCount ? Buttons[index] : nullptr;
  }

private:
  std::array<std::uint8_t, ButtonCount> ButtonStates{};
  std::array<TKoMultiGlyphButton*, ButtonCount> Buttons{};
  std::array<QRect, ButtonCount> ButtonRects, ButtonDownRects;
  std::array<bool, ButtonCount> ButtonEnabled{};
  TButtonNotifyEvent OnClick;
};

} // namespace melo

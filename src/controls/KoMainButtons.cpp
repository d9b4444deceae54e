#include "controls/KoMainButtons.h"

#include "controls/HandCursors.h"
#include "controls/SkinLayout.h"

namespace melo {

TKoMainButtons::TKoMainButtons(QWidget* owner, const QImage* workBitmap) {
  for (int i = 0; i < ButtonCount; ++i) {
    ButtonRects[i] = MainButtonRect(i);
    ButtonDownRects[i] = DownRect(ButtonRects[i]);
  }
  for (int i = 0; i < ButtonCount; ++i) {
    auto* button = new TKoMultiGlyphButton(owner);
    button->setObjectName(QStringLiteral("KoMainButton_%1").arg(MainButtonWords[i]));
    button->SetTag(i);
    button->SetGlyph(workBitmap);
    button->setGeometry(ButtonRects[i]);
    button->SetGlyphOrigin(0, ButtonRects[i].topLeft());
    button->SetGlyphOrigin(1, ButtonDownRects[i].topLeft());
    button->OnMouseDown = [this](TKoMultiGlyphButton* sender, Qt::MouseButton mouseButton,
                                 Qt::KeyboardModifiers, int,
                                 int) { ButtonMouse(sender, mouseButton, true); };
    button->OnMouseUp = [this](TKoMultiGlyphButton* sender, Qt::MouseButton mouseButton,
                               Qt::KeyboardModifiers, int,
                               int) { ButtonMouse(sender, mouseButton, false); };
    button->setCursor(ScreenCursor(crHandPoint));
    button->show();
    Buttons[i] = button;
    ButtonEnabled[i] = true;
    SetButtonState(i, 0);
  }
}

void TKoMainButtons::SetEnabled(int index, bool enabled) {
  if (index < 0 || index >= ButtonCount)
    return;
  Buttons[index]->setEnabled(enabled);
  ButtonEnabled[index] = enabled;
}

void TKoMainButtons::SetButtonState(int index, std::uint8_t state) {
  if (index < 0 || index >= ButtonCount)
    return;
  ButtonStates[index] = state;
  if (state <= 1)
    Buttons[index]->SetGlyphIndex(state);
  Buttons[index]->Repaint();
}

void TKoMainButtons::ButtonMouse(TKoMultiGlyphButton* sender, Qt::MouseButton button, bool press) {
  if (button != Qt::LeftButton)
    return;
  sender->SetGlyphIndex(press ? 1 : 0);
  sender->Repaint();
  if (!press && OnClick)
    OnClick(sender);
}

} // namespace melo

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
    MakePushButton(button, &OnClick);
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

} // namespace melo

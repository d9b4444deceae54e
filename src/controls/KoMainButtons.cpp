#include "controls/KoMainButtons.h"

#include "controls/HandCursors.h"
#include "controls/SkinLayout.h"

namespace melo {

TKoMainButtons::TKoMainButtons(QWidget* owner, const QImage* workBitmap) {
  for (int i = 0; i < ButtonCount; ++i) {
    FButtonRects[i] = MainButtonRect(i);
    FButtonDownRects[i] = DownRect(FButtonRects[i]);
  }
  for (int i = 0; i < ButtonCount; ++i) {
    auto* button = new TKoMultiGlyphButton(owner);
    button->setObjectName(QStringLiteral("KoMainButton_%1").arg(MainButtonWords[i]));
    button->SetTag(i);
    button->SetGlyph(workBitmap);
    button->setGeometry(FButtonRects[i]);
    button->SetGlyphOrigin(0, FButtonRects[i].topLeft());
    button->SetGlyphOrigin(1, FButtonDownRects[i].topLeft());
    MakePushButton(button, &FOnClick);
    button->setCursor(ScreenCursor(crHandPoint));
    button->show();
    FButtons[i] = button;
    FButtonEnabled[i] = true;
    SetButtonState(i, 0);
  }
}

void TKoMainButtons::SetEnabled(int index, bool enabled) {
  if (index < 0 || index >= ButtonCount)
    return;
  FButtons[index]->setEnabled(enabled);
  FButtonEnabled[index] = enabled;
}

void TKoMainButtons::SetButtonState(int index, std::uint8_t state) {
  if (index < 0 || index >= ButtonCount)
    return;
  FButtonStates[index] = state;
  if (state <= 1)
    FButtons[index]->SetGlyphIndex(state);
  FButtons[index]->Repaint();
}

} // namespace melo

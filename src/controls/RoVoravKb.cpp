#include "controls/RoVoravKb.h"

#include "controls/HandCursors.h"
#include "controls/SkinLayout.h"

namespace melo {

namespace {
constexpr std::array<int, 5> BlackSemitones = {1, 3, 6, 8, 10};
constexpr std::array<int, 7> WhiteSemitones = {0, 2, 4, 5, 7, 9, 11};
} // namespace

TRoVoravKb::TRoVoravKb(QWidget* owner, const QImage* skin, int x, int y) {
  Layout(x, y);
  for (int k = 0; k < BlackCount; ++k)
    BlackKeys[k] = MakeButton(owner, skin, "BlackKey%1", k, BlackRects[k], BlackDownRects[k]);
  for (int w = 0; w < WhiteCount; ++w) {
    BigWhiteKeys[w] =
        MakeButton(owner, skin, "BigWhiteKey%1", w, BigWhiteRects[w], BigWhiteDownRects[w]);
    LittleWhiteKeys[w] = MakeButton(owner, skin, "LittleWhiteKey%1", w, LittleWhiteRects[w],
                                    LittleWhiteDownRects[w]);
  }
  for (int p = 0; p < KeyCount; ++p)
    SetKeyState(p, 0);
}

void TRoVoravKb::Layout(int x, int y) {
  for (int k = 0; k < BlackCount; ++k) {
    BlackRects[k] = BlackKeyRect(x, y, k);
    BlackDownRects[k] = DownRect(BlackRects[k]);
  }
  for (int w = 0; w < WhiteCount; ++w) {
    BigWhiteRects[w] = BigWhiteRect(x, y, w);
    BigWhiteDownRects[w] = DownRect(BigWhiteRects[w]);
    LittleWhiteRects[w] = LittleWhiteRect(x, y, w);
    LittleWhiteDownRects[w] = DownRect(LittleWhiteRects[w]);
  }
}

TKoMultiGlyphButton* TRoVoravKb::MakeButton(QWidget* owner, const QImage* skin, const char* format,
                                            int tag, const QRect& up, const QRect& down) {
  auto* button = new TKoMultiGlyphButton(owner);
  button->setObjectName(QString::fromLatin1(format).arg(tag));
  button->SetTag(tag);
  button->setGeometry(up);
  button->SetGlyph(skin);
  button->SetGlyphOrigin(0, up.topLeft());
  button->SetGlyphOrigin(1, down.topLeft());
  button->OnMouseDown = [this](TKoMultiGlyphButton* sender, Qt::MouseButton mouseButton,
                               Qt::KeyboardModifiers, int,
                               int) { KeyMouse(sender, mouseButton, true); };
  button->OnMouseUp = [this](TKoMultiGlyphButton* sender, Qt::MouseButton mouseButton,
                             Qt::KeyboardModifiers, int,
                             int) { KeyMouse(sender, mouseButton, false); };
  button->show();
  return button;
}

void TRoVoravKb::SetKeyState(int position, std::uint8_t state) {
  if (position < 0 || position >= KeyCount)
    return;
  KeyStates[position] = state;
  if (state <= 1)
    ShowState(position, state);
}

void TRoVoravKb::ShowState(int position, int state) {
  bool isBlack = false;
  int index = 0;
  PositionToKey(position, isBlack, index);
  if (isBlack) {
    BlackKeys[index]->SetGlyphIndex(state);
    BlackKeys[index]->Repaint();
    return;
  }
  BigWhiteKeys[index]->SetGlyphIndex(state);
  BigWhiteKeys[index]->Repaint();
  LittleWhiteKeys[index]->SetGlyphIndex(state);
  LittleWhiteKeys[index]->Repaint();
}

void TRoVoravKb::ReleaseAll() {
  for (int p = 0; p < KeyCount; ++p)
    SetKeyState(p, 0);
}

void TRoVoravKb::SetCursor(int cursorNumber) {
  const QCursor cursor = ScreenCursor(cursorNumber);
  for (auto* button : BlackKeys)
    button->setCursor(cursor);
  for (int w = 0; w < WhiteCount; ++w) {
    BigWhiteKeys[w]->setCursor(cursor);
    LittleWhiteKeys[w]->setCursor(cursor);
  }
}

void TRoVoravKb::SetEnabled(bool enabled) {
  KeysEnabled = enabled;
  for (auto* button : BlackKeys)
    button->setEnabled(enabled);
  for (int w = 0; w < WhiteCount; ++w) {
    BigWhiteKeys[w]->setEnabled(enabled);
    LittleWhiteKeys[w]->setEnabled(enabled);
  }
}

void TRoVoravKb::PositionToKey(int position, bool& isBlack, int& index) {
  const int r = position % 12;
  const int o = position / 12;
  for (int j = 0; j < 5; ++j)
    if (BlackSemitones[j] == r) {
      isBlack = true;
      index = 5 * o + j;
      return;
    }
  for (int j = 0; j < 7; ++j)
    if (WhiteSemitones[j] == r) {
      isBlack = false;
      index = 7 * o + j;
      return;
    }
}

void TRoVoravKb::KeyToPosition(bool isBlack, int index, int& position) {
  position = isBlack ? 12 * (index / 5) + BlackSemitones[index % 5]
                     : 12 * (index / 7) + WhiteSemitones[index % 7];
}

void TRoVoravKb::KeyMouse(TKoMultiGlyphButton* sender, Qt::MouseButton button, bool press) {
  if (button != Qt::LeftButton)
    return;
  int position = 0;
  KeyToPosition(sender->objectName().contains(QLatin1String("Black")), sender->Tag(), position);
  SetKeyState(position, press ? 1 : 0);
  const TKeyEvent& handler = press ? OnKeyDown : OnKeyUp;
  if (handler)
    handler(sender, position);
}

} // namespace melo

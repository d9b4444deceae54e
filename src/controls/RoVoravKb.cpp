#include "controls/RoVoravKb.h"

#include "controls/HandCursors.h"
#include "controls/SkinLayout.h"

#include <algorithm>

namespace melo {

namespace {
constexpr std::array<int, 5> BlackSemitones = {1, 3, 6, 8, 10};
constexpr std::array<int, 7> WhiteSemitones = {0, 2, 4, 5, 7, 9, 11};
} // namespace

TRoVoravKb::TRoVoravKb(QWidget* owner, const QImage* skin, int x, int y) {
  Layout(x, y);
  for (int k = 0; k < BlackCount; ++k)
    FBlackKeys[k] = MakeButton(owner, skin, "BlackKey%1", k, FBlackRects[k], FBlackDownRects[k]);
  for (int w = 0; w < WhiteCount; ++w) {
    FBigWhiteKeys[w] =
        MakeButton(owner, skin, "BigWhiteKey%1", w, FBigWhiteRects[w], FBigWhiteDownRects[w]);
    FLittleWhiteKeys[w] = MakeButton(owner, skin, "LittleWhiteKey%1", w, FLittleWhiteRects[w],
                                     FLittleWhiteDownRects[w]);
  }
  for (int p = 0; p < PianoKeyCount; ++p)
    SetKeyState(p, 0);
}

void TRoVoravKb::Layout(int x, int y) {
  for (int k = 0; k < BlackCount; ++k) {
    FBlackRects[k] = BlackKeyRect(x, y, k);
    FBlackDownRects[k] = DownRect(FBlackRects[k]);
  }
  for (int w = 0; w < WhiteCount; ++w) {
    FBigWhiteRects[w] = BigWhiteRect(x, y, w);
    FBigWhiteDownRects[w] = DownRect(FBigWhiteRects[w]);
    FLittleWhiteRects[w] = LittleWhiteRect(x, y, w);
    FLittleWhiteDownRects[w] = DownRect(FLittleWhiteRects[w]);
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
  button->SetKeyMouse([this](TKoMultiGlyphButton* sender, Qt::MouseButton mouseButton,
                             bool pressed) { KeyMouse(sender, mouseButton, pressed); });
  button->show();
  return button;
}

void TRoVoravKb::SetKeyState(int position, std::uint8_t state) {
  if (position < 0 || position >= PianoKeyCount)
    return;
  FKeyStates[position] = state;
  if (state <= 1)
    ShowState(position, state);
}

void TRoVoravKb::ShowState(int position, int state) {
  bool isBlack = false;
  int index = 0;
  PositionToKey(position, isBlack, index);
  if (isBlack) {
    FBlackKeys[index]->SetGlyphIndex(state);
    FBlackKeys[index]->Repaint();
    return;
  }
  FBigWhiteKeys[index]->SetGlyphIndex(state);
  FBigWhiteKeys[index]->Repaint();
  FLittleWhiteKeys[index]->SetGlyphIndex(state);
  FLittleWhiteKeys[index]->Repaint();
}

void TRoVoravKb::SetMarkedPositions(std::span<const int> positions) {
  for (int p = 0; p < PianoKeyCount; ++p) {
    const bool marked = std::ranges::find(positions, p) != positions.end();
    if (PositionMarked(p) == marked)
      continue;
    bool isBlack = false;
    int index = 0;
    PositionToKey(p, isBlack, index);
    const QColor colour = marked ? QColor::fromRgb(NextKeyColour) : QColor();
    const std::array<TKoMultiGlyphButton*, 2> buttons{isBlack ? FBlackKeys[index]
                                                              : FBigWhiteKeys[index],
                                                      isBlack ? nullptr : FLittleWhiteKeys[index]};
    for (TKoMultiGlyphButton* button : buttons) {
      if (button == nullptr)
        continue;
      button->SetMarkColour(colour);
      button->Repaint();
    }
  }
}

bool TRoVoravKb::PositionMarked(int position) const {
  if (position < 0 || position >= PianoKeyCount)
    return false;
  bool isBlack = false;
  int index = 0;
  PositionToKey(position, isBlack, index);
  return (isBlack ? FBlackKeys[index] : FBigWhiteKeys[index])->MarkColour().isValid();
}

void TRoVoravKb::ReleaseAll() {
  for (int p = 0; p < PianoKeyCount; ++p)
    SetKeyState(p, 0);
}

void TRoVoravKb::SetCursor(int cursorNumber) {
  const QCursor cursor = ScreenCursor(cursorNumber);
  for (auto* button : FBlackKeys)
    button->setCursor(cursor);
  for (int w = 0; w < WhiteCount; ++w) {
    FBigWhiteKeys[w]->setCursor(cursor);
    FLittleWhiteKeys[w]->setCursor(cursor);
  }
}

void TRoVoravKb::SetEnabled(bool enabled) {
  FKeysEnabled = enabled;
  for (auto* button : FBlackKeys)
    button->setEnabled(enabled);
  for (int w = 0; w < WhiteCount; ++w) {
    FBigWhiteKeys[w]->setEnabled(enabled);
    FLittleWhiteKeys[w]->setEnabled(enabled);
  }
}

void TRoVoravKb::PositionToKey(int position, bool& isBlack, int& index) {
  const int r = position % 12;
  const int o = position / 12;
  for (int j = 0; j < 5; ++j) {
    if (BlackSemitones[j] == r) {
      isBlack = true;
      index = 5 * o + j;
      return;
    }
  }
  for (int j = 0; j < 7; ++j) {
    if (WhiteSemitones[j] == r) {
      isBlack = false;
      index = 7 * o + j;
      return;
    }
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
  const TKeyEvent& handler = press ? FOnKeyDown : FOnKeyUp;
  if (handler)
    handler(sender, position);
}

} // namespace melo

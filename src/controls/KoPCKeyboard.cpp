#include "controls/KoPCKeyboard.h"

#include "controls/GlyphBmp.h"
#include "controls/SkinLayout.h"
#include "music/MidiInterfaces.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

namespace melo {

namespace {

// Division rounding toward minus infinity.
int FloorDiv256(int n) {
  return n >= 0 ? n / 256 : -((-n + 255) / 256);
}

bool Is24Bit(const QImage& image) {
  return image.format() == QImage::Format_RGB888;
}

constexpr int CaptionFontPixels = 11;

} // namespace

void TintGlyph(QImage& dest, const QImage& mask, QRect destRect, std::uint32_t colour,
               QRect maskRect) {
  if (!Is24Bit(dest) || !Is24Bit(mask))
    return;
  // Cut the destination to the picture and the mask rectangle by the same amounts.
  const QRect clipped = destRect.intersected(dest.rect());
  if (clipped.isEmpty())
    return;
  maskRect.adjust(clipped.left() - destRect.left(), clipped.top() - destRect.top(),
                  clipped.right() - destRect.right(), clipped.bottom() - destRect.bottom());
  destRect = clipped;
  // Never read outside the mask: cut both the other way round too.
  const QRect maskClipped = maskRect.intersected(mask.rect());
  if (maskClipped.isEmpty())
    return;
  destRect.adjust(maskClipped.left() - maskRect.left(), maskClipped.top() - maskRect.top(),
                  maskClipped.right() - maskRect.right(), maskClipped.bottom() - maskRect.bottom());
  maskRect = maskClipped;
  const int width = std::min(destRect.width(), maskRect.width());
  const int height = std::min(destRect.height(), maskRect.height());
  const int c[3] = {int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF)};
  for (int row = 0; row < height; ++row) {
    const uchar* m = mask.constScanLine(maskRect.top() + row) + 3 * maskRect.left();
    uchar* d = dest.scanLine(destRect.top() + row) + 3 * destRect.left();
    for (int col = 0; col < width; ++col, m += 3, d += 3) {
      const int r = m[0]; // red channel
      if (r == 255)
        continue;
      for (int ch = 0; ch < 3; ++ch)
        d[ch] = uchar(c[ch] - FloorDiv256((c[ch] - d[ch]) * r));
    }
  }
}

TKoPCKeyboard::TKoPCKeyboard(QWidget* owner, QImage* workBitmap, const TPerformanceValues& values)
    : FValues(values), FWorkBitmap(workBitmap) {
  InstallFontFallbacks();
  BuildPlayableKeys();
  for (int i = 0; i < KeyCount; ++i) {
    FKeyRects[i] = PlayableKeys[i] ? PCKeyRect(i) : QRect();
    FKeyDownRects[i] = PlayableKeys[i] ? DownRect(FKeyRects[i]) : QRect();
  }
  for (int i = 0; i < KeyCount; ++i) {
    if (PlayableKeys[i] && !FKeyRects[i].isEmpty()) {
      MakeButton(owner, i);
      SetKeyState(i, 0);
    }
  }
}

void TKoPCKeyboard::MakeButton(QWidget* owner, int keyIndex) {
  auto* button = new TKoMultiGlyphButton(owner);
  button->SetGlyph(FWorkBitmap);
  button->SetTag(keyIndex);
  button->setGeometry(FKeyRects[keyIndex]);
  button->SetGlyphOrigin(0, FKeyRects[keyIndex].topLeft());
  button->SetGlyphOrigin(1, FKeyDownRects[keyIndex].topLeft());
  button->setMouseTracking(true);
  button->SetKeyMouse([this](TKoMultiGlyphButton* sender, Qt::MouseButton mouseButton,
                             bool pressed) { KeyMouse(sender, mouseButton, pressed); });
  button->OnMouseMove = [this](TKoMultiGlyphButton* sender, Qt::KeyboardModifiers shift, int x,
                               int y) {
    if (FOnMouseMove)
      FOnMouseMove(sender, shift, x, y);
  };
  button->OnDblClick = [this](TKoMultiGlyphButton* sender) {
    if (FOnEditKey)
      FOnEditKey(sender);
  };
  button->show();
  FButtons[keyIndex] = button;
}

TKoMultiGlyphButton* TKoPCKeyboard::Button(int keyIndex) const {
  return keyIndex >= 0 && keyIndex < KeyCount ? FButtons[keyIndex] : nullptr;
}

QRect TKoPCKeyboard::KeyRect(int keyIndex) const {
  return keyIndex >= 0 && keyIndex < KeyCount ? FKeyRects[keyIndex] : QRect();
}

void TKoPCKeyboard::SetKeyState(int keyIndex, std::uint8_t state) {
  TKoMultiGlyphButton* button = Button(keyIndex);
  if (button == nullptr)
    return;
  FKeyStates[keyIndex] = state;
  if (state <= 1)
    button->SetGlyphIndex(state);
  button->Repaint();
}

std::uint8_t TKoPCKeyboard::KeyState(int keyIndex) const {
  return keyIndex >= 0 && keyIndex < KeyCount ? FKeyStates[keyIndex] : 0;
}

void TKoPCKeyboard::AllKeysUp() {
  for (int i = 0; i < KeyCount; ++i)
    SetKeyState(i, 0);
}

void TKoPCKeyboard::SetMarkedKeys(std::span<const int> keyIndices) {
  for (int i = 0; i < KeyCount; ++i) {
    TKoMultiGlyphButton* button = Button(i);
    const bool marked = std::ranges::find(keyIndices, i) != keyIndices.end();
    if (button == nullptr || KeyMarked(i) == marked)
      continue;
    button->SetMarkColour(marked ? QColor::fromRgb(NextKeyColour) : QColor());
    button->Repaint();
  }
}

bool TKoPCKeyboard::KeyMarked(int keyIndex) const {
  const TKoMultiGlyphButton* button = Button(keyIndex);
  return button != nullptr && button->MarkColour().isValid();
}

void TKoPCKeyboard::SetEnabled(bool enabled) {
  FKeysEnabled = enabled;
  for (auto* button : FButtons) {
    if (button != nullptr)
      button->setEnabled(enabled);
  }
}

QSize TKoPCKeyboard::MeasureNote(const TKeyNote& note) const {
  if (note.Degree == 0)
    return QSize(0, 0);
  const int width = PCDigitWidth + (note.Accidental != 0 ? 4 : 0);
  const int height = note.Octave >= 1 && note.Octave <= 7 ? PCDigitHeights[note.Octave - 1] : 0;
  return QSize(width, height);
}

void TKoPCKeyboard::DrawNote(const TKeyNote& note, QPoint at, std::uint32_t colour) {
  const QSize size = MeasureNote(note);
  if (size.height() == 0)
    return;
  if (note.Accidental >= 1 && note.Accidental <= 3) {
    const QRect sign = PCAccidentalRect(note.Accidental);
    TintGlyph(*FWorkBitmap, StaffMaskBitmap, QRect(at, sign.size()), colour, sign);
    at.rx() += 4;
  }
  if (note.Degree > 7)
    return; // no glyph for it
  const QRect digit = PCDigitRect(note.Octave, note.Degree);
  TintGlyph(*FWorkBitmap, StaffMaskBitmap, QRect(at, digit.size()), colour, digit);
}

void TKoPCKeyboard::DrawCaption(const QString& caption, QPoint upAt, QPoint downAt) {
  QPainter painter(FWorkBitmap);
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(CaptionFontPixels);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::black);
  const int ascent = QFontMetrics(font).ascent();
  painter.drawText(upAt + QPoint(0, ascent), caption);
  painter.drawText(downAt + QPoint(0, ascent), caption);
}

void TKoPCKeyboard::DrawLabel(int keyIndex) {
  if (Button(keyIndex) == nullptr)
    return;
  const QRect up = FKeyRects[keyIndex];
  const QRect down = FKeyDownRects[keyIndex];
  CopyBitmapRect(*FWorkBitmap, up.topLeft(), SkinBitmap, up);
  CopyBitmapRect(*FWorkBitmap, down.topLeft(), SkinBitmap, down);
  const TKeyDef& def = FValues.KeyDefs.Keys[keyIndex];
  if (def.NoteCount <= 0)
    return;
  const QString caption = QString::fromStdString(KeyCaption(def));
  TKeyNote note = def.Notes[0];
  const std::int32_t shift = note.Keyboard == LeftHand ? FValues.LeftOctave : FValues.RightOctave;
  note.Octave = std::uint8_t(note.Octave + std::uint8_t(shift & 0xFF));
  QSize size;
  if (!caption.isEmpty()) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(CaptionFontPixels);
    font.setBold(true);
    const QFontMetrics metrics(font);
    size = QSize(metrics.horizontalAdvance(caption), metrics.height());
  } else {
    size = MeasureNote(note);
  }
  const QPoint offset((up.width() - size.width()) / 2, (up.height() - size.height()) / 2);
  if (!caption.isEmpty()) {
    DrawCaption(caption, up.topLeft() + offset, down.topLeft() + offset);
    return;
  }
  DrawNote(note, up.topLeft() + offset, PCLabelUpColour);
  DrawNote(note, down.topLeft() + offset, PCLabelDownColour);
}

void TKoPCKeyboard::DrawAllLabels() {
  for (int i = 0; i < KeyCount; ++i)
    DrawLabel(i);
}

void TKoPCKeyboard::SetLeftOctave(int) {
  DrawAllLabels();
  AllKeysUp();
}

void TKoPCKeyboard::SetRightOctave(int) {
  DrawAllLabels();
  AllKeysUp();
}

void TKoPCKeyboard::SetSmartSemitone(bool) {
  for (int i = FirstEditingKey; i <= LastEditingKey; ++i) {
    DrawLabel(i);
    SetKeyState(i, 0);
  }
}

void TKoPCKeyboard::KeyMouse(TKoMultiGlyphButton* sender, Qt::MouseButton button, bool press) {
  if (button != Qt::LeftButton)
    return;
  sender->SetGlyphIndex(press ? 1 : 0);
  sender->Repaint();
  const TButtonNotifyEvent& handler = press ? FOnKeyDown : FOnKeyUp;
  if (handler)
    handler(sender);
}

} // namespace melo

#include "controls/KoSpinEdit.h"

#include "controls/GlyphBmp.h"
#include "controls/HandCursors.h"
#include "controls/SkinLayout.h"

namespace melo {

namespace {
constexpr std::uint32_t ValueColour = 0x00FF00; // green
constexpr int ValueFontPixels = 16;
} // namespace

TKoSpinEdit::TKoSpinEdit(QWidget* form, int top, int left, int height, int width,
                         const QImage* skin) {
  InstallFontFallbacks();
  ValueLabel = new QLabel(form);
  ValueLabel->setGeometry(left, top, width, height);
  QFont font(QStringLiteral("Courier New"));
  font.setPixelSize(ValueFontPixels);
  ValueLabel->setFont(font);
  ValueLabel->setAutoFillBackground(true);
  QPalette palette = ValueLabel->palette();
  palette.setColor(QPalette::Window, Qt::black);
  palette.setColor(QPalette::WindowText, BgrToQColor(ValueColour));
  ValueLabel->setPalette(palette);
  ValueLabel->setAlignment(Qt::AlignCenter);
  ValueLabel->show();
  UpButton = MakeArrow(form, 0, QRect(left + width, top, SpinArrowWidth, SpinUpArrowHeight), skin);
  DownButton = MakeArrow(
      form, 1,
      QRect(left + width, top + SpinUpArrowHeight, SpinArrowWidth, height - SpinUpArrowHeight),
      skin);
}

TKoMultiGlyphButton* TKoSpinEdit::MakeArrow(QWidget* form, int tag, const QRect& place,
                                            const QImage* skin) {
  auto* button = new TKoMultiGlyphButton(form);
  button->SetTag(tag);
  button->setGeometry(place);
  button->SetGlyph(skin);
  button->SetGlyphOrigin(0, place.topLeft());
  button->SetGlyphOrigin(1, DownRect(place).topLeft());
  button->setCursor(ScreenCursor(crHandPoint));
  MakePushButton(button, &OnClick);
  button->show();
  return button;
}

void TKoSpinEdit::SetButtonsEnabled(bool enabled) {
  FButtonsEnabled = enabled;
  UpButton->setEnabled(enabled);
  DownButton->setEnabled(enabled);
}

} // namespace melo

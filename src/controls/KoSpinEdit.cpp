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
  FValueLabel = new QLabel(form);
  FValueLabel->setGeometry(left, top, width, height);
  QFont font(QStringLiteral("Courier New"));
  font.setPixelSize(ValueFontPixels);
  FValueLabel->setFont(font);
  FValueLabel->setAutoFillBackground(true);
  QPalette palette = FValueLabel->palette();
  palette.setColor(QPalette::Window, Qt::black);
  palette.setColor(QPalette::WindowText, BgrToQColor(ValueColour));
  FValueLabel->setPalette(palette);
  FValueLabel->setAlignment(Qt::AlignCenter);
  FValueLabel->show();
  FUpButton = MakeArrow(form, 0, QRect(left + width, top, SpinArrowWidth, SpinUpArrowHeight), skin);
  FDownButton = MakeArrow(
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
  MakePushButton(button, &FOnClick);
  button->show();
  return button;
}

void TKoSpinEdit::SetButtonsEnabled(bool enabled) {
  FButtonsEnabled = enabled;
  FUpButton->setEnabled(enabled);
  FDownButton->setEnabled(enabled);
}

} // namespace melo

#include "controls/KoMultiGlyphButton.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPen>

namespace melo {

TKoMultiGlyphButton::TKoMultiGlyphButton(QWidget* parent) : QWidget(parent) {
  setGeometry(0, 0, 22, 23);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
}

void TKoMultiGlyphButton::SetKeyMouse(const TKeyMouseEvent& handler) {
  OnMouseDown = [handler](TKoMultiGlyphButton* sender, Qt::MouseButton button,
                          Qt::KeyboardModifiers, int, int) { handler(sender, button, true); };
  OnMouseUp = [handler](TKoMultiGlyphButton* sender, Qt::MouseButton button, Qt::KeyboardModifiers,
                        int, int) { handler(sender, button, false); };
}

void TKoMultiGlyphButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (FGlyph != nullptr) {
    const QPoint origin = GlyphOrigin(FGlyphIndex);
    painter.drawImage(QPoint(0, 0), *FGlyph, QRect(origin, size()));
  } else {
    painter.fillRect(rect(), palette().button());
  }
  if (FMarkColour.isValid()) {
    constexpr int frame = 3;
    painter.setPen(QPen(FMarkColour, frame));
    painter.drawRect(rect().adjusted(1, 1, -2, -2));
  }
  if (!FCaption.isEmpty()) {
    painter.setFont(font());
    painter.setPen(palette().buttonText().color());
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, FCaption);
  }
}

void TKoMultiGlyphButton::mousePressEvent(QMouseEvent* event) {
  if (OnMouseDown) {
    OnMouseDown(this, event->button(), event->modifiers(), event->position().toPoint().x(),
                event->position().toPoint().y());
  }
}

void TKoMultiGlyphButton::mouseReleaseEvent(QMouseEvent* event) {
  if (OnMouseUp) {
    OnMouseUp(this, event->button(), event->modifiers(), event->position().toPoint().x(),
              event->position().toPoint().y());
  }
}

void TKoMultiGlyphButton::mouseMoveEvent(QMouseEvent* event) {
  if (OnMouseMove) {
    OnMouseMove(this, event->modifiers(), event->position().toPoint().x(),
                event->position().toPoint().y());
  }
}

// The double-click is reported before the press of the second click.
void TKoMultiGlyphButton::mouseDoubleClickEvent(QMouseEvent* event) {
  if (OnDblClick)
    OnDblClick(this);
  mousePressEvent(event);
}

void MakePushButton(TKoMultiGlyphButton* button, const TButtonNotifyEvent* onClick) {
  auto mouse = [onClick](TKoMultiGlyphButton* sender, Qt::MouseButton mouseButton, bool press) {
    if (mouseButton != Qt::LeftButton)
      return;
    sender->SetGlyphIndex(press ? 1 : 0);
    sender->Repaint();
    if (!press && *onClick)
      (*onClick)(sender);
  };
  button->OnMouseDown = [mouse](TKoMultiGlyphButton* sender, Qt::MouseButton mouseButton,
                                Qt::KeyboardModifiers, int,
                                int) { mouse(sender, mouseButton, true); };
  button->OnMouseUp = [mouse](TKoMultiGlyphButton* sender, Qt::MouseButton mouseButton,
                              Qt::KeyboardModifiers, int,
                              int) { mouse(sender, mouseButton, false); };
}

} // namespace melo

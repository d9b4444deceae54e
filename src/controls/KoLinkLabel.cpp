#include "controls/KoLinkLabel.h"

#include "controls/HandCursors.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QMouseEvent>

namespace melo {

TKoLinkLabel::TKoLinkLabel(QWidget* parent)
    : QLabel(parent), UrlOpener([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {}

void TKoLinkLabel::SetAddressType(TAddressType type) {
  if (type != FAddressType)
    FAddressType = type;
}

void TKoLinkLabel::SetFontColor(const QColor& colour) {
  QPalette p = palette();
  p.setColor(QPalette::WindowText, colour);
  setPalette(p);
}

QColor TKoLinkLabel::FontColor() const {
  return palette().color(QPalette::WindowText);
}

QUrl TKoLinkLabel::ClickUrl() const {
  if (FAddressType == atWWW && !FAddress.isEmpty())
    return QUrl(FAddress);
  return QUrl(QStringLiteral("mailto:") + FAddress);
}

void TKoLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint()))
    return;
  QGuiApplication::setOverrideCursor(Qt::BusyCursor);
  if (UrlOpener)
    UrlOpener(ClickUrl());
  QGuiApplication::restoreOverrideCursor();
  setCursor(ScreenCursor(crHandPoint));
  if (OnClick)
    OnClick(this);
}

void TKoLinkLabel::enterEvent(QEnterEvent*) {
  FSavedColor = FontColor();
  setCursor(ScreenCursor(crHandPoint));
  SetFontColor(FActiveColor);
  if (OnMouseEnter)
    OnMouseEnter(this);
}

void TKoLinkLabel::leaveEvent(QEvent*) {
  unsetCursor();
  SetFontColor(FSavedColor);
  if (OnMouseExit)
    OnMouseExit(this);
}

} // namespace melo

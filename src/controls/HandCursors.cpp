#include "controls/HandCursors.h"

#include "controls/GlyphBmp.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace melo {

namespace {

constexpr std::uint32_t RightHandColour = 0x00FFFF; // the right hand's note colour
constexpr std::uint32_t LeftHandColour = 0x0099FF;  // the left hand's note colour

// A pointing hand with the index finger up; its tip is the hot spot.
QPainterPath HandOutline() {
  QPainterPath hand;
  hand.addRoundedRect(QRectF(10.5, 1.5, 5, 17), 2.5, 2.5); // index finger
  hand.addRoundedRect(QRectF(15, 9.5, 4.5, 9), 2.2, 2.2);  // middle finger
  hand.addRoundedRect(QRectF(19, 10.5, 4.5, 8), 2.2, 2.2); // ring finger
  hand.addRoundedRect(QRectF(23, 12, 4, 7), 2, 2);         // little finger
  hand.addRoundedRect(QRectF(7.5, 14, 20, 15), 5, 5);      // palm
  QPainterPath thumb;
  thumb.moveTo(10, 26);
  thumb.lineTo(3, 18);
  thumb.quadTo(2, 14.5, 5.5, 15.5);
  thumb.lineTo(11, 20);
  hand.addPath(thumb);
  return hand.simplified();
}

QCursor HandCursor(std::uint32_t colour, bool mirrored) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  if (mirrored)
    painter.setTransform(QTransform(-1, 0, 0, 1, 32, 0));
  painter.setPen(QPen(Qt::black, 1.2));
  painter.setBrush(Qt::white);
  painter.drawPath(HandOutline());
  painter.setPen(Qt::NoPen);
  painter.setBrush(BgrToQColor(colour));
  painter.drawRoundedRect(QRectF(11, 21, 13, 5), 2, 2); // cuff band in the hand's colour
  painter.end();
  return QCursor(pixmap, mirrored ? 19 : 13, 1);
}

} // namespace

QCursor ScreenCursor(int number) {
  switch (number) {
  case crRightHand: {
    static const QCursor right = HandCursor(RightHandColour, false);
    return right;
  }
  case crLeftHand: {
    static const QCursor left = HandCursor(LeftHandColour, true);
    return left;
  }
  case crHandPoint:
    return QCursor(Qt::PointingHandCursor);
  default:
    return QCursor(Qt::ArrowCursor);
  }
}

} // namespace melo

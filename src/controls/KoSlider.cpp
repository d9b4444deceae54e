#include "controls/KoSlider.h"

#include "controls/GlyphBmp.h"
#include "controls/HandCursors.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace melo {

TKoSlider::TKoSlider(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
  setCursor(ScreenCursor(crHandPoint));
}

void TKoSlider::SetTrackImage(const QImage* bitmap, const QRect& rect) {
  FTrackBitmap = bitmap;
  FTrackRect = rect;
  resize(rect.size());
  FBuffer = QImage(rect.size(), QImage::Format_RGB888);
  FBuffer.fill(Qt::black);
  if (FTrackBitmap != nullptr)
    CopyBitmapRect(FBuffer, QPoint(0, 0), *FTrackBitmap, FTrackRect);
}

void TKoSlider::SetThumbImage(const QImage* bitmap, const QRect& rect) {
  FThumbBitmap = bitmap;
  FThumbRect = rect;
}

void TKoSlider::SetPosition(int value) {
  if (value == FPosition)
    return;
  FPosition = std::clamp(value, FMin, std::max(FMin, FMax));
  UpdateThumb();
  if (OnChange)
    OnChange(this);
}

void TKoSlider::SetRange(int min, int max) {
  FMin = min;
  FMax = max;
  FPosition = std::clamp(FPosition, FMin, std::max(FMin, FMax));
  UpdateThumb();
}

void TKoSlider::UpdateThumb() {
  if (FMax == FMin)
    return;
  const long long f = FPosition - FMin;
  const long long r = FMax - FMin;
  int left = 0;
  int top = 0;
  if (FHorizontal) {
    left = int((FTravel - FThumbOffset.x()) * f / r + FThumbOffset.x());
    top = FThumbOffset.y();
  } else {
    left = FThumbOffset.x();
    top = int(FTravel - (FTravel - FThumbOffset.y()) * f / r);
  }
  FThumbBounds = QRect(QPoint(left, top), FThumbRect.size());
  ComposeBuffer();
  update();
}

void TKoSlider::ComposeBuffer() {
  if (FBuffer.isNull())
    return;
  if (FTrackBitmap != nullptr)
    CopyBitmapRect(FBuffer, QPoint(0, 0), *FTrackBitmap, FTrackRect);
  if (FThumbBitmap != nullptr)
    CopyBitmapRect(FBuffer, FThumbBounds.topLeft(), *FThumbBitmap, FThumbRect);
}

void TKoSlider::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (FBuffer.isNull()) {
    painter.fillRect(rect(), Qt::black);
  } else {
    painter.drawImage(QPoint(0, 0), FBuffer);
  }
}

void TKoSlider::mousePressEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (event->button() != Qt::LeftButton || !FThumbBounds.contains(at))
    return;
  FDragging = true;
  FDragStart = at;
  FDragStartPosition = FPosition;
}

void TKoSlider::mouseMoveEvent(QMouseEvent* event) {
  if (!FDragging)
    return;
  const QPoint at = event->position().toPoint();
  const long long range = static_cast<long long>(FMax) - FMin;
  const int span = FHorizontal ? FTravel - FThumbOffset.x() : FTravel - FThumbOffset.y();
  if (span == 0)
    return;
  // Integer division truncating toward zero, as the thumb placement uses.
  const long long delta = FHorizontal ? range * (at.x() - FDragStart.x()) / span
                                      : (FDragStart.y() - at.y()) * range / span;
  SetPosition(int(std::clamp<long long>(delta + FDragStartPosition, INT32_MIN, INT32_MAX)));
}

void TKoSlider::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton)
    return;
  FDragging = false;
  if (OnRelease)
    OnRelease(this);
}

void TKoSlider::mouseDoubleClickEvent(QMouseEvent* event) {
  if (OnDblClick)
    OnDblClick(this);
  mousePressEvent(event);
}

} // namespace melo

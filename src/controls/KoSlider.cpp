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
  TrackBitmap = bitmap;
  TrackRect = rect;
  resize(rect.size());
  FBuffer = QImage(rect.size(), QImage::Format_RGB888);
  FBuffer.fill(Qt::black);
  if (TrackBitmap != nullptr)
    CopyBitmapRect(FBuffer, QPoint(0, 0), *TrackBitmap, TrackRect);
}

void TKoSlider::SetThumbImage(const QImage* bitmap, const QRect& rect) {
  ThumbBitmap = bitmap;
  ThumbRect = rect;
}

void TKoSlider::SetPosition(int value) {
  if (value == FPosition)
    return;
  FPosition = std::clamp(value, Min, std::max(Min, Max));
  UpdateThumb();
  if (OnChange)
    OnChange(this);
}

void TKoSlider::SetRange(int min, int max) {
  Min = min;
  Max = max;
  FPosition = std::clamp(FPosition, Min, std::max(Min, Max));
  UpdateThumb();
}

void TKoSlider::UpdateThumb() {
  if (Max == Min)
    return;
  const long long f = FPosition - Min;
  const long long r = Max - Min;
  int left = 0;
  int top = 0;
  if (Horizontal) {
    left = int((Travel - ThumbOffset.x()) * f / r + ThumbOffset.x());
    top = ThumbOffset.y();
  } else {
    left = ThumbOffset.x();
    top = int(Travel - (Travel - ThumbOffset.y()) * f / r);
  }
  FThumbBounds = QRect(QPoint(left, top), ThumbRect.size());
  ComposeBuffer();
  update();
}

void TKoSlider::ComposeBuffer() {
  if (FBuffer.isNull())
    return;
  if (TrackBitmap != nullptr)
    CopyBitmapRect(FBuffer, QPoint(0, 0), *TrackBitmap, TrackRect);
  if (ThumbBitmap != nullptr)
    CopyBitmapRect(FBuffer, FThumbBounds.topLeft(), *ThumbBitmap, ThumbRect);
}

void TKoSlider::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (FBuffer.isNull())
    painter.fillRect(rect(), Qt::black);
  else
    painter.drawImage(QPoint(0, 0), FBuffer);
}

void TKoSlider::mousePressEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (event->button() != Qt::LeftButton || !FThumbBounds.contains(at))
    return;
  FDragging = true;
  DragStart = at;
  DragStartPosition = FPosition;
}

void TKoSlider::mouseMoveEvent(QMouseEvent* event) {
  if (!FDragging)
    return;
  const QPoint at = event->position().toPoint();
  const long long range = static_cast<long long>(Max) - Min;
  const int span = Horizontal ? Travel - ThumbOffset.x() : Travel - ThumbOffset.y();
  if (span == 0)
    return;
  // Integer division truncating toward zero, as the thumb placement uses.
  const long long delta = Horizontal ? range * (at.x() - DragStart.x()) / span
                                     : (DragStart.y() - at.y()) * range / span;
  SetPosition(int(std::clamp<long long>(delta + DragStartPosition, INT32_MIN, INT32_MAX)));
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

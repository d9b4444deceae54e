#pragma once
// A slider cut from pictures: a track and a thumb, moved by dragging the thumb with the left
// mouse button. The window's volume slider is one.
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <functional>

namespace melo {

class TKoSlider : public QWidget {
  Q_OBJECT
public:
  using TNotifyEvent = std::function<void(TKoSlider* sender)>;

  explicit TKoSlider(QWidget* parent);

  void SetTrackImage(const QImage* bitmap, const QRect& rect);
  void SetThumbImage(const QImage* bitmap, const QRect& rect);
  void SetThumbOffset(QPoint offset) { FThumbOffset = offset; }
  void SetTravel(int travel) { FTravel = travel; }
  void SetHorizontal(bool horizontal) { FHorizontal = horizontal; }
  void SetMin(int value) { FMin = value; }
  void SetMax(int value) { FMax = value; }
  // A new range: the position is kept inside it and the thumb redrawn, without OnChange.
  void SetRange(int min, int max);
  void SetPosition(int value);
  int Position() const { return FPosition; }
  int MinValue() const { return FMin; }
  int MaxValue() const { return FMax; }
  QRect ThumbBounds() const { return FThumbBounds; }
  bool Dragging() const { return FDragging; }
  const QImage& Buffer() const { return FBuffer; }

  TNotifyEvent OnChange;
  TNotifyEvent OnRelease;
  TNotifyEvent OnDblClick;

protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
  void UpdateThumb();
  void ComposeBuffer();

  QImage FBuffer;
  const QImage* FTrackBitmap = nullptr;
  QRect FTrackRect;
  const QImage* FThumbBitmap = nullptr;
  QRect FThumbRect;
  QRect FThumbBounds;
  QPoint FThumbOffset;
  int FTravel = 0;
  bool FHorizontal = true;
  int FMin = 0;
  int FMax = 0;
  int FPosition = 0;
  bool FDragging = false;
  QPoint FDragStart;
  int FDragStartPosition = 0;
};

} // namespace melo

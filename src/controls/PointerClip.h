#pragma once
// Keeps the mouse pointer at one point of a window, so that every click lands there (the mouse
// pedal). On X11 the pointer is grabbed with XGrabPointer and confined to a 1 x 1 input-only child
// window at the point; the X server drops the grab by itself when the program ends, however it
// ends. Elsewhere the window grabs the mouse through Qt and puts the pointer back on every move,
// except on Wayland, where no program may move the pointer or grab it for a plain window.
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QWidget>

namespace melo {

class TPointerClip : public QObject {
public:
  enum class TMethod { None, X11Grab, QtGrab };

  explicit TPointerClip(QWidget* window);
  ~TPointerClip() override;
  TPointerClip(const TPointerClip&) = delete;
  TPointerClip& operator=(const TPointerClip&) = delete;

  // Moves the pointer to the window's client point and keeps it there. Returns how: None where
  // the pointer cannot be held.
  TMethod Confine(QPoint clientPoint);
  // False on Wayland: there clicks reach the window only while the pointer is over it.
  static bool CanHoldPointer();
  void Release();
  TMethod Method() const { return FMethod; }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  bool ConfineX11(QPoint clientPoint);
  void ReleaseX11();

  QPointer<QWidget> FWindow;
  TMethod FMethod = TMethod::None;
  QPoint FScreenPoint;
  unsigned long FConfineWindow = 0;
};

} // namespace melo

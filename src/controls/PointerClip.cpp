#include "controls/PointerClip.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>

namespace melo {

TPointerClip::TPointerClip(QWidget* window) : QObject(window), FWindow(window) {}

TPointerClip::~TPointerClip() {
  Release();
}

TPointerClip::TMethod TPointerClip::Confine(QPoint clientPoint) {
  Release();
  if (!FWindow || !FWindow->isVisible() || !CanHoldPointer())
    return FMethod;
  FScreenPoint = FWindow->mapToGlobal(clientPoint);
  if (ConfineX11(clientPoint)) {
    FMethod = TMethod::X11Grab;
    return FMethod;
  }
  QCursor::setPos(FScreenPoint);
  FWindow->grabMouse();
  FWindow->installEventFilter(this);
  FMethod = TMethod::QtGrab;
  return FMethod;
}

bool TPointerClip::CanHoldPointer() {
  return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void TPointerClip::Release() {
  switch (FMethod) {
  case TMethod::X11Grab:
    ReleaseX11();
    break;
  case TMethod::QtGrab:
    if (FWindow) {
      FWindow->removeEventFilter(this);
      FWindow->releaseMouse();
    }
    break;
  case TMethod::None:
    break;
  }
  FMethod = TMethod::None;
}

bool TPointerClip::eventFilter(QObject* watched, QEvent* event) {
  // Without a confining grab the pointer is put back at once.
  if (FMethod == TMethod::QtGrab && watched == FWindow && event->type() == QEvent::MouseMove &&
      QCursor::pos() != FScreenPoint)
    QCursor::setPos(FScreenPoint);
  return QObject::eventFilter(watched, event);
}

} // namespace melo

// Last: Xlib's macros (None, Bool) would clash with the names above.
#ifdef MELO_HAVE_X11
#include <X11/Xlib.h>
#endif

namespace melo {

bool TPointerClip::ConfineX11(QPoint clientPoint) {
#ifdef MELO_HAVE_X11
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  Display* display = x11 ? x11->display() : nullptr;
  if (!display)
    return false;
  const auto window = static_cast<Window>(FWindow->winId());
  XSetWindowAttributes attributes{};
  const Window confine = XCreateWindow(display, window, clientPoint.x(), clientPoint.y(), 1, 1, 0,
                                       0, InputOnly, CopyFromParent, 0, &attributes);
  XMapWindow(display, confine);
  XWarpPointer(display, 0L, confine, 0, 0, 0, 0, 0, 0);
  // Events keep going to the window under the pointer, which is the window itself.
  const int result =
      XGrabPointer(display, window, True, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                   GrabModeAsync, GrabModeAsync, confine, 0L, CurrentTime);
  if (result != GrabSuccess) {
    XDestroyWindow(display, confine);
    XFlush(display);
    return false;
  }
  XFlush(display);
  FConfineWindow = confine;
  return true;
#else
  (void)clientPoint;
  return false;
#endif
}

void TPointerClip::ReleaseX11() {
#ifdef MELO_HAVE_X11
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  Display* display = x11 ? x11->display() : nullptr;
  if (!display)
    return;
  XUngrabPointer(display, CurrentTime);
  if (FConfineWindow != 0)
    XDestroyWindow(display, FConfineWindow);
  FConfineWindow = 0;
  XFlush(display);
#endif
}

} // namespace melo

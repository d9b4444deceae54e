#include "input/KeyEventFeed.h"

#include <QGuiApplication>
#include <QKeyEvent>

namespace melo {

TNativeKeyCodes NativeKeyCodesOfPlatform() {
#ifdef Q_OS_WIN
  return TNativeKeyCodes::Windows;
#else
  return TNativeKeyCodes::X11;
#endif
}

bool FeedKeyEvent(TKoDIKeyBoard& reader, const QKeyEvent& event) {
  const bool down = event.type() == QEvent::KeyPress;
  if (!down && event.type() != QEvent::KeyRelease)
    return false;
  // Qt's own repeat detection is not reliable on X11; the reader drops a press of
  // a key already down anyway, this only saves the lookup.
  if (!event.isAutoRepeat())
    reader.NativeKeyEvent(event.nativeScanCode(), down, NativeKeyCodesOfPlatform());
  return true;
}

} // namespace melo

// Last: Xlib's macros (KeyPress, Bool, None) would clash with Qt's names above.
#ifdef MELO_HAVE_X11
#include <X11/XKBlib.h>
#endif

namespace melo {

bool EnableDetectableAutoRepeat() {
#ifdef MELO_HAVE_X11
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 == nullptr || x11->display() == nullptr)
    return false;
  Bool supported = False;
  return XkbSetDetectableAutoRepeat(x11->display(), True, &supported) && supported;
#else
  return false;
#endif
}

} // namespace melo

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

std::optional<TKeyChange> KeyChangeOf(const QKeyEvent& event) {
  const bool down = event.type() == QEvent::KeyPress;
  // Qt's own repeat detection is not reliable on X11; the key path drops a press
  // of a key already down anyway, this only saves the lookup.
  if ((!down && event.type() != QEvent::KeyRelease) || event.isAutoRepeat())
    return std::nullopt;
  return TKeyChange{ScanCodeOfNativeKey(event.nativeScanCode(), NativeKeyCodesOfPlatform()), down};
}

bool TakeKeyEvent(QEvent& event, const std::function<void(const TKeyChange&)>& play) {
  switch (event.type()) {
  case QEvent::ShortcutOverride:
    event.accept();
    return true;
  case QEvent::KeyPress:
  case QEvent::KeyRelease:
    if (const auto change = KeyChangeOf(static_cast<const QKeyEvent&>(event)))
      play(*change);
    return true;
  default:
    return false;
  }
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

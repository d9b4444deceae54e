#pragma once

// Reads the window's own key events as PC keys: the native scan code decides
// the key (never the character, so every layout plays the same physical keys)
// and the toolkit's repeats are dropped.

#include <functional>
#include <optional>

#include "input/KoDIKeyBoard.h"

class QEvent;
class QKeyEvent;

namespace melo {

// The native scan-code numbering of the platform the program runs on.
TNativeKeyCodes NativeKeyCodesOfPlatform();

// Asks the X server to send no releases for held keys (auto-repeat then shows
// only as repeated presses, which the key path drops). False where there is no
// X11 display (offscreen, Wayland) or the server refuses.
bool EnableDetectableAutoRepeat();

// A key going down or up on the PC keyboard; ScanCode is -1 for a key that
// has no DirectInput number.
struct TKeyChange {
  int ScanCode;
  bool Down;
};

// The key change of a press or release; nothing for the toolkit's repeats and
// for other events.
std::optional<TKeyChange> KeyChangeOf(const QKeyEvent& event);

// A window's key events belong to the piano, none to shortcuts or menus: the
// shortcut check is taken, and each press or release goes to play. True when
// the event was one of those and is done with.
bool TakeKeyEvent(QEvent& event, const std::function<void(const TKeyChange&)>& play);

} // namespace melo

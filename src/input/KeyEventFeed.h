#pragma once

// Feeds the window's own key events to the keyboard reader: the native scan
// code decides the key (never the character, so every layout plays the same
// physical keys) and the toolkit's repeats are dropped.

#include "input/KoDIKeyBoard.h"

class QKeyEvent;

namespace melo {

// The native scan-code numbering of the platform the program runs on.
TNativeKeyCodes NativeKeyCodesOfPlatform();

// Asks the X server to send no releases for held keys (auto-repeat then shows
// only as repeated presses, which the reader drops). False where there is no
// X11 display (offscreen, Wayland) or the server refuses.
bool EnableDetectableAutoRepeat();

// Hands one key press or release to the reader; true when the event was a key event.
bool FeedKeyEvent(TKoDIKeyBoard& reader, const QKeyEvent& event);

} // namespace melo

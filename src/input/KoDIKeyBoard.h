#pragma once

// The keyboard reader: turns the window's raw key events into one key-down and
// one key-up message per physical key, numbered by DirectInput scan codes.
// Held keys never repeat, and every key still down when the window loses the
// foreground is reported released, so no note is left sounding.

#include <array>
#include <cstdint>
#include <functional>

#include <QEvent>

namespace melo {

// Message numbers posted to the main window (the system's first user message
// is 1024). Both also serve as the Qt event types of TDIKeyEvent.
constexpr int WM_USER = 1024;
constexpr int WM_DIKEYDOWN = WM_USER + 333;
constexpr int WM_DIKEYUP = WM_USER + 334;

// Modifier bits of TDIKeyboardBuffer::ShiftState.
constexpr std::uint8_t ssShift = 1;
constexpr std::uint8_t ssAlt = 2;
constexpr std::uint8_t ssCtrl = 4;

// Whose native scan codes a table maps.
enum class TNativeKeyCodes { X11, Windows };

// DirectInput scan code (0..255) of a toolkit native scan code, -1 when the key
// has none. X11 (and Wayland) report the evdev code + 8; Windows the set-1 code
// with 0x100 for the extended (E0-prefixed) keys.
int ScanCodeOfNativeKey(std::uint32_t nativeScanCode,
                        TNativeKeyCodes platform = TNativeKeyCodes::X11);

// Which keys the window treats as held, by scan code.
class TDIKeyboardBuffer {
public:
  TDIKeyboardBuffer() { Clear(); }
  void Clear() { State.fill(0); }
  void SetDown(int scanCode);
  void SetUp(int scanCode);
  bool IsDown(int scanCode) const;
  // Shift = 1, Alt = 2, Ctrl = 4, added.
  std::uint8_t ShiftState() const;

  std::array<std::uint8_t, 256> State{};
};

// A posted key message: type WM_DIKEYDOWN or WM_DIKEYUP.
class TDIKeyEvent : public QEvent {
public:
  TDIKeyEvent(int message, int scanCode, int keyIndex)
      : QEvent(static_cast<QEvent::Type>(message)), ScanCode(scanCode), KeyIndex(keyIndex) {}
  const int ScanCode;
  const int KeyIndex;
};

class TKoDIKeyBoard {
public:
  // Delivers one message (WM_DIKEYDOWN / WM_DIKEYUP, scan code, key index); the
  // window's poster queues it so the reader never waits for the window.
  using TPostMessage = std::function<void(int message, int scanCode, int keyIndex)>;

  explicit TKoDIKeyBoard(TPostMessage post);

  // Raw events from the window. Repeats (a press of a key already down, a
  // release of one already up) change nothing and post nothing.
  void KeyEvent(int scanCode, bool down);
  void NativeKeyEvent(std::uint32_t nativeScanCode, bool down,
                      TNativeKeyCodes platform = TNativeKeyCodes::X11);

  // While inactive nothing is posted; changes made meanwhile are reported on
  // reactivation, one message per key that differs from LastState.
  void SetActive(bool active);
  bool Active() const { return FActive; }

  // The window gained the foreground.
  void Acquire();
  // The window lost the foreground: the toolkit delivers no releases for keys
  // let go meanwhile, so every key still down is reported released, the
  // modifiers first.
  void Unacquire();
  bool Acquired() const { return FAcquired; }

  // The device's current state of all keys (bit 7 = down); 0 on success.
  int GetState(std::array<std::uint8_t, 256>& buffer) const;

  // The last state reported to the window, by scan code (bit 7 = down).
  const std::array<std::uint8_t, 256>& LastState() const { return FLastState; }

private:
  void Poll();

  TPostMessage FPost;
  std::array<std::uint8_t, 256> FDeviceState{};
  std::array<std::uint8_t, 256> FLastState{};
  bool FActive = false;
  bool FAcquired = true;
};

} // namespace melo

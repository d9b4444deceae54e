#pragma once

// The PC keyboard as the key path sees it: the window's native scan codes
// mapped to DirectInput numbers, and the one table of which keys are down.
// Held keys never repeat, and every key still pressed when the window loses
// the keyboard is released, so no note is left sounding.

#include <array>
#include <cstdint>
#include <vector>

namespace melo {

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

// Which keys are down, by scan code, in one table with two marks per key:
// held (bit 7, 128), as the key path enters and clears a key (ShiftState and
// the staff read it), and pressed (bit 0), from the keyboard's press to its
// release, which tells a repeat from a new press and which keys are owed a
// release when the window loses the keyboard.
class TDIKeyboardBuffer {
public:
  // No key held; keys pressed stay pressed.
  void Clear();
  void SetDown(int scanCode);
  void SetUp(int scanCode);
  bool IsDown(int scanCode) const;
  // Shift = 1, Alt = 2, Ctrl = 4, added.
  std::uint8_t ShiftState() const;

  // A press on the keyboard; false when the key was pressed already (a repeat).
  bool Press(int scanCode);
  // A release on the keyboard; false when the key was not pressed.
  bool Release(int scanCode);
  bool IsPressed(int scanCode) const;

  std::array<std::uint8_t, 256> State{};
};

// Releases every pressed key and returns their scan codes in the order they
// are to be handled: the modifiers first, since a note key released while a
// modifier still counts as held takes the command path and keeps sounding,
// then the others, each in rising scan-code order.
std::vector<int> ReleasePressedKeys(TDIKeyboardBuffer& buffer);

} // namespace melo

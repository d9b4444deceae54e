#include "input/KoDIKeyBoard.h"

#include "input/KoKeyDef.h"

namespace melo {

namespace {

constexpr std::uint8_t HeldBit = 0x80;
constexpr std::uint8_t PressedBit = 0x01;

// Linux evdev codes (X keycode - 8) of the extended keys, with their DirectInput
// scan codes; evdev 1..88 equal the set-1 codes and need no table.
struct TExtendedKey {
  std::uint32_t Evdev;
  int ScanCode;
};
constexpr TExtendedKey X11ExtendedKeys[] = {
    {96, scNumEnter}, {97, scRControl}, {98, scNumSlash},  {99, scPrintScreen}, {100, scRAlt},
    {102, scHome},    {103, scUp},      {104, scPageUp},   {105, scLeft},       {106, scRight},
    {107, scEnd},     {108, scDown},    {109, scPageDown}, {110, scInsert},     {111, scDelete},
    {116, scPower},   {119, scPause},   {125, scLWin},     {126, scRWin},       {127, scMenu},
    {142, scSleep},   {143, scWakeUp},
};

constexpr std::uint32_t X11KeycodeOffset = 8;
constexpr std::uint32_t LastPlainEvdev = 88;

int ScanCodeOfX11Key(std::uint32_t keycode) {
  if (keycode <= X11KeycodeOffset)
    return -1;
  const std::uint32_t evdev = keycode - X11KeycodeOffset;
  if (evdev <= LastPlainEvdev)
    return static_cast<int>(evdev);
  for (const TExtendedKey& key : X11ExtendedKeys) {
    if (key.Evdev == evdev)
      return key.ScanCode;
  }
  return -1;
}

// Windows gives the set-1 code with 0x100 for an E0 prefix, which is exactly
// DirectInput's 0x80 bit, except that Pause and NumLock come swapped.
int ScanCodeOfWindowsKey(std::uint32_t code) {
  constexpr std::uint32_t extended = 0x100;
  constexpr std::uint32_t numLockOrPause = 0x45;
  if (code == numLockOrPause)
    return scPause;
  if (code == (numLockOrPause | extended))
    return scNumLock;
  if ((code & ~(extended | 0x7F)) != 0 || (code & 0x7F) == 0)
    return -1;
  return static_cast<int>((code & 0x7F) | ((code & extended) != 0 ? 0x80 : 0));
}

// In rising order.
constexpr std::array<int, 6> ModifierScanCodes = {scLControl, scLShift,   scRShift,
                                                  scLAlt,     scRControl, scRAlt};

bool ValidScanCode(int scanCode) {
  return scanCode >= 0 && scanCode <= 255;
}

} // namespace

int ScanCodeOfNativeKey(std::uint32_t nativeScanCode, TNativeKeyCodes platform) {
  switch (platform) {
  case TNativeKeyCodes::X11:
    return ScanCodeOfX11Key(nativeScanCode);
  case TNativeKeyCodes::Windows:
    return ScanCodeOfWindowsKey(nativeScanCode);
  }
  return -1;
}

void TDIKeyboardBuffer::Clear() {
  for (std::uint8_t& key : State)
    key &= static_cast<std::uint8_t>(~HeldBit);
}

void TDIKeyboardBuffer::SetDown(int scanCode) {
  if (ValidScanCode(scanCode))
    State[static_cast<std::size_t>(scanCode)] |= HeldBit;
}

void TDIKeyboardBuffer::SetUp(int scanCode) {
  if (ValidScanCode(scanCode))
    State[static_cast<std::size_t>(scanCode)] &= static_cast<std::uint8_t>(~HeldBit);
}

bool TDIKeyboardBuffer::IsDown(int scanCode) const {
  return ValidScanCode(scanCode) && (State[static_cast<std::size_t>(scanCode)] & HeldBit) != 0;
}

std::uint8_t TDIKeyboardBuffer::ShiftState() const {
  std::uint8_t result = 0;
  if (IsDown(scLShift) || IsDown(scRShift))
    result |= ssShift;
  if (IsDown(scLAlt) || IsDown(scRAlt))
    result |= ssAlt;
  if (IsDown(scLControl) || IsDown(scRControl))
    result |= ssCtrl;
  return result;
}

bool TDIKeyboardBuffer::Press(int scanCode) {
  if (!ValidScanCode(scanCode) || IsPressed(scanCode))
    return false;
  State[static_cast<std::size_t>(scanCode)] |= PressedBit;
  return true;
}

bool TDIKeyboardBuffer::Release(int scanCode) {
  if (!IsPressed(scanCode))
    return false;
  State[static_cast<std::size_t>(scanCode)] &= static_cast<std::uint8_t>(~PressedBit);
  return true;
}

bool TDIKeyboardBuffer::IsPressed(int scanCode) const {
  return ValidScanCode(scanCode) && (State[static_cast<std::size_t>(scanCode)] & PressedBit) != 0;
}

std::vector<int> ReleasePressedKeys(TDIKeyboardBuffer& buffer) {
  std::vector<int> releases;
  for (int s : ModifierScanCodes) {
    if (buffer.Release(s))
      releases.push_back(s);
  }
  for (int s = 0; s < 256; ++s) {
    if (buffer.Release(s))
      releases.push_back(s);
  }
  return releases;
}

} // namespace melo

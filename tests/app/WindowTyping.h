#pragma once
// Typing into the main window as the X server delivers keys: by keycode, whatever the layout.

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <cstdint>

namespace melo::test {

// X11 keycodes (evdev + 8).
enum TXKey : std::uint32_t {
  xEsc = 9,
  xBackspace = 22,
  xTab = 23,
  xQ = 24,
  xW = 25,
  xR = 27,
  xO = 32,
  xP = 33,
  xEnter = 36,
  xLCtrl = 37,
  xS = 39,
  xApostrophe = 48,
  xGrave = 49,
  xLShift = 50,
  xLAlt = 64,
  xF4 = 70,
  xHome = 110,
  xPageUp = 112,
  xPageDown = 117,
  xPower = 124,
  xLWin = 133,
  xSleep = 150,
  xWakeUp = 151,
};

// A fixture types into the window TypingTarget returns.
class TWindowTyping {
protected:
  virtual ~TWindowTyping() = default;
  virtual QWidget* TypingTarget() = 0;

  void Key(std::uint32_t xKey, bool down) {
    QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, 0, Qt::NoModifier, xKey, 0, 0);
    QApplication::sendEvent(TypingTarget(), &event);
  }
  void Press(std::uint32_t xKey) { Key(xKey, true); }
  void Release(std::uint32_t xKey) { Key(xKey, false); }
  void Tap(std::uint32_t xKey) {
    Press(xKey);
    Release(xKey);
  }
  void With(std::uint32_t modifier, std::uint32_t xKey) {
    Press(modifier);
    Tap(xKey);
    Release(modifier);
  }
  void With(std::uint32_t m1, std::uint32_t m2, std::uint32_t xKey) {
    Press(m1);
    With(m2, xKey);
    Release(m1);
  }
};

} // namespace melo::test

#pragma once
// The program's cursors by number, as the window and the controls ask for them.
#include <QCursor>

namespace melo {

inline constexpr int crDefault = 0;
inline constexpr int crRightHand = 1; // "RightHandCursor"
inline constexpr int crLeftHand = 2;  // "LeftHandCursor"
inline constexpr int crHandPoint = -21;

// The cursor of a number; unknown numbers give the arrow.
QCursor ScreenCursor(int number);

} // namespace melo

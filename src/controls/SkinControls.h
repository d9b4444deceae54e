#pragma once
// The window's skinned controls, built in one place from SkinLayout: the
// program and the offscreen renderer get the same controls at the same places.
#include "controls/GlyphBmp.h"
#include "controls/SkinLayout.h"

#include <array>
#include <memory>

class QLabel;
class QWidget;

namespace melo {

class TKoMainButtons;
class TKoPCKeyboard;
class TKoSlider;
class TKoSpinEdit;
class TKoStaff;
struct TPerformanceValues;
class TRoVoravKb;

struct TSkinControls {
  std::unique_ptr<TKoPCKeyboard> PCKeyboard;
  std::unique_ptr<TRoVoravKb> RightKeyboard;
  std::unique_ptr<TRoVoravKb> LeftKeyboard;
  std::unique_ptr<TKoMainButtons> MainButtons;
  TKoSlider* VolumeSlider = nullptr; // owned by the parent widget
  QLabel* ChordName = nullptr;       // owned by the parent widget; empty at first
  std::unique_ptr<TKoStaff> Staff;
  std::array<std::unique_ptr<TKoSpinEdit>, SpinEditCount> SpinEdits;

  TSkinControls();
  TSkinControls(TSkinControls&&) noexcept;
  ~TSkinControls();
};

// Every control on parent as a fresh start shows it: each hand's cursor on its
// keyboard, Save and Play disabled, the volume slider over 0..127 at 0 (the
// start's position is the caller's, since setting it is a change), and no
// control taking the keyboard focus: keys go to the window. The PC keyboard
// labels its keys from values. The controls draw into workBitmap, the picture
// parent shows (the window's WorkBitmap, or a copy of the skin of one's own).
TSkinControls BuildSkinControls(QWidget* parent, const TPerformanceValues& values,
                                QImage* workBitmap = &WorkBitmap);

} // namespace melo

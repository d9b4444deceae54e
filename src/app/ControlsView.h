#pragma once
// What the performance shows on the window's skinned controls: lit keys, the
// staff, the spin edits, the chord name. The window and the video export's
// offscreen picture show a performance through this one piece of code.
// UI thread only.
#include "app/KoPerformance.h"
#include "controls/SkinLayout.h"

#include <array>

class QLabel;

namespace melo {

class TKoMainButtons;
class TKoPCKeyboard;
class TKoSpinEdit;
class TKoStaff;
class TRoVoravKb;

// The controls a view draws on, owned elsewhere.
struct TShownControls {
  TKoPCKeyboard* PCKeyboard = nullptr;
  TRoVoravKb* LeftKeyboard = nullptr;
  TRoVoravKb* RightKeyboard = nullptr;
  TKoMainButtons* MainButtons = nullptr;
  TKoStaff* Staff = nullptr;
  QLabel* ChordName = nullptr;
  std::array<TKoSpinEdit*, SpinEditCount> SpinEdits{};
};

class TControlsView : public TPerformanceView {
public:
  // Before the performance shows anything.
  void SetControls(const TShownControls& controls) { C = controls; }

  void ShowTranspose(int, std::uint8_t keySignature, const std::string& text) override;
  void ShowOctave(int hand, int octave, const std::string& text) override;
  void ShowVelocity(int hand, const std::string& text) override;
  void ShowVoice(int hand, const std::string& text) override;
  void ShowSmartSemitone(bool on) override;
  void ShowChordName(const std::string& name) override;
  void ShowKeyDefs() override;
  void ShowPCKey(int keyIndex, std::uint8_t state) override;
  void ShowPianoKey(int hand, int note, std::uint8_t state) override;
  void ShowStaff(const TKeyNote (&notes)[MaxKeyNotes], int transpose) override;
  void ClearStaff() override;
  void ReleasePianoKeys() override;
  void ReleasePCKeys() override;

  // The keyboards and the spin edits' buttons take clicks (not during playback;
  // the voices stay choosable).
  void SetEditsEnabled(bool enabled);
  // The Play button down or up.
  void ShowPlayButton(bool on);
  // The main buttons a window in this state offers: while recording or
  // playing only the button that stops it; otherwise all, Save while the song
  // awaits saving, Play when there is a song.
  void ShowButtons(bool playing, bool recording, bool canSave, bool hasSong);

protected:
  TShownControls C;
};

} // namespace melo

#pragma once
// What the performance shows, on the main window's controls, and the window
// commands its keys start (Alt+F4, Ctrl+O, ...). UI thread only.
#include "app/ControlsView.h"
#include "app/MainWindow.h"

#include <vector>

namespace melo {

class TRoVoravForm::TView final : public TControlsView {
public:
  explicit TView(TRoVoravForm& form) : F(form) {}

  void RecordingChanged(bool on) override;
  void PlayingChanged(bool on) override;
  void CloseWindow() override;
  void ShowAbout() override;
  void QuickSave() override;
  void StepMasterVolume(int delta) override;
  void ToggleMousePedal() override;
  void BuildExternalVoiceLists() override;
  bool StepExternalRightVoice(int step) override;
  void OpenSong() override;
  void EditSongInfo() override;
  void PractiseSong() override;
  void SaveSongAs() override;

  // Frames the keys to press next on the PC keyboard and their notes on each
  // hand's piano keyboard; none for an empty list.
  void MarkNextKeys(const std::vector<int>& keyIndices);

private:
  TRoVoravForm& F;
};

} // namespace melo

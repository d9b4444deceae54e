#pragma once
// What the performance shows, on the main window's controls, and the window
// commands its keys start (Alt+F4, Ctrl+O, ...). UI thread only.
#include "app/MainWindow.h"

#include <vector>

namespace melo {

class TRoVoravForm::TView final : public TPerformanceView {
public:
  explicit TView(TRoVoravForm& form) : F(form) {}

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

#include "app/MainWindowView.h"

#include <algorithm>
#include <iterator>

#include <QLabel>

#include "app/About.h"
#include "app/SongCommands.h"
#include "controls/KoMainButtons.h"
#include "controls/KoPCKeyboard.h"
#include "controls/KoSlider.h"
#include "controls/KoSpinEdit.h"
#include "controls/KoStaff.h"
#include "controls/RoVoravKb.h"

namespace melo {

void TRoVoravForm::TView::RecordingChanged(bool on) {
  F.FMainButtons->SetButtonState(mbRecord, on ? 1 : 0);
  if (on) {
    F.FSongFileName = QString::fromLatin1(NewSongFileName);
    F.UpdateCaption();
  }
  F.UpdateButtons();
}

void TRoVoravForm::TView::PlayingChanged(bool on) {
  ShowPlayButton(on);
  SetEditsEnabled(!on);
  if (!on)
    F.FVolumeSlider->setEnabled(true);
  F.UpdateButtons();
}

void TRoVoravForm::TView::CloseWindow() {
  F.close();
}

void TRoVoravForm::TView::ShowAbout() {
  melo::ShowAbout(&F);
}

void TRoVoravForm::TView::QuickSave() {
  static_cast<void>(F.FSongCommands->QuickSave()); // a failure shows its own message
}

void TRoVoravForm::TView::StepMasterVolume(int delta) {
  F.FVolume->SetMasterVolume(F.FVolume->GetMasterVolume() + delta);
}

void TRoVoravForm::TView::ToggleMousePedal() {
  F.SetMousePedal(!F.FMousePedal);
}

void TRoVoravForm::TView::BuildExternalVoiceLists() {
  F.FExternalVoices.Build();
}

bool TRoVoravForm::TView::StepExternalRightVoice(int step) {
  return F.FExternalVoices.StepRight(step);
}

void TRoVoravForm::TView::OpenSong() {
  F.FSongCommands->OpenSong();
}

void TRoVoravForm::TView::EditSongInfo() {
  F.FSongCommands->EditSongInfo();
}

void TRoVoravForm::TView::SaveSongAs() {
  F.FSongCommands->SaveSongAs();
}

} // namespace melo

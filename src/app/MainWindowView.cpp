#include "app/MainWindowView.h"

#include <algorithm>
#include <array>
#include <iterator>

#include <QFileInfo>
#include <QLabel>

#include "app/About.h"
#include "app/SimpleRecorder.h"
#include "app/SongCommands.h"
#include "app/SongExport.h"
#include "controls/KoMainButtons.h"
#include "controls/KoPCKeyboard.h"
#include "controls/KoSlider.h"
#include "controls/KoSpinEdit.h"
#include "controls/KoStaff.h"
#include "controls/RoVoravKb.h"

namespace melo {

void TRoVoravForm::TView::MarkNextKeys(const std::vector<int>& keyIndices) {
  F.FPCKeyboard->SetMarkedKeys(keyIndices);
  const TPerformanceValues& values = F.FPerformance.Values();
  std::array<std::vector<int>, HandCount> positions;
  for (const int key : keyIndices) {
    const TKeyDef& def = values.KeyDefs.Keys[key];
    for (int i = 0; i < SoundingNoteCount(def); ++i) {
      const int note =
          NoteToMidi(def.Notes[i], values.LeftOctave, values.RightOctave, values.Transpose);
      if (note >= 0)
        positions[NoteIsLeft(def.Notes[i]) ? LeftHand : RightHand].push_back(note - 24);
    }
  }
  F.FLeftKeyboard->SetMarkedPositions(positions[LeftHand]);
  F.FRightKeyboard->SetMarkedPositions(positions[RightHand]);
}

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

void TRoVoravForm::TView::PractiseSong() {
  const TSimpleRecorder& song = *F.FRecorder;
  if (F.FPerformance.Recording() || F.FPerformance.Playing() || song.Events().Count() == 0)
    return;
  TPracticeSong practised;
  practised.Messages = PlaySongOffline(song.Header, song.Events(), F.FVoices);
  practised.EndTime = LastMessageTime(practised.Messages);
  F.ShowPractice(std::move(practised), F.FSongFileName.isEmpty()
                                           ? QStringLiteral("NewFile")
                                           : QFileInfo(F.FSongFileName).fileName());
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

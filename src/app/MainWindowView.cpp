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

void TRoVoravForm::TView::ShowTranspose(int, std::uint8_t keySignature, const std::string& text) {
  F.FStaff->SetKeySignature(keySignature);
  F.SpinEdit(seTranspose).SetText(QString::fromStdString(text));
}

void TRoVoravForm::TView::ShowOctave(int hand, int octave, const std::string& text) {
  F.SpinEdit(seLeftOctave + hand).SetText(QString::fromStdString(text));
  if (hand == LeftHand) {
    F.FPCKeyboard->SetLeftOctave(octave);
  } else {
    F.FPCKeyboard->SetRightOctave(octave);
  }
}

void TRoVoravForm::TView::ShowVelocity(int hand, const std::string& text) {
  F.SpinEdit(seLeftVelocity + hand).SetText(QString::fromStdString(text));
}

void TRoVoravForm::TView::ShowVoice(int hand, const std::string& text) {
  F.SpinEdit(seLeftVoice + hand).SetText(QString::fromStdString(text));
}

void TRoVoravForm::TView::ShowSmartSemitone(bool on) {
  F.FPCKeyboard->SetSmartSemitone(on);
}

void TRoVoravForm::TView::ShowChordName(const std::string& name) {
  F.FChordName->setText(QString::fromStdString(name));
}

void TRoVoravForm::TView::ShowKeyDefs() {
  F.FPCKeyboard->DrawAllLabels();
  F.FPCKeyboard->AllKeysUp();
}

void TRoVoravForm::TView::ShowPCKey(int keyIndex, std::uint8_t state) {
  F.FPCKeyboard->SetKeyState(keyIndex, state);
}

void TRoVoravForm::TView::ShowPianoKey(int hand, int note, std::uint8_t state) {
  (hand == LeftHand ? F.FLeftKeyboard : F.FRightKeyboard)->SetKeyState(note - 24, state);
}

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

void TRoVoravForm::TView::ShowStaff(const TKeyNote (&notes)[MaxKeyNotes], int transpose) {
  TKeyNote shown[MaxKeyNotes];
  std::copy(std::begin(notes), std::end(notes), std::begin(shown));
  F.FStaff->ShowNotes(shown, transpose);
}

void TRoVoravForm::TView::ClearStaff() {
  F.FStaff->Clear();
}

void TRoVoravForm::TView::ReleasePianoKeys() {
  F.FLeftKeyboard->ReleaseAll();
  F.FRightKeyboard->ReleaseAll();
}

void TRoVoravForm::TView::ReleasePCKeys() {
  F.FPCKeyboard->AllKeysUp();
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
  F.FMainButtons->SetButtonState(mbPlay, on ? 1 : 0);
  F.SetEditsEnabled(!on);
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

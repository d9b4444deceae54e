#include "app/ControlsView.h"

#include "controls/KoMainButtons.h"
#include "controls/KoPCKeyboard.h"
#include "controls/KoSpinEdit.h"
#include "controls/KoStaff.h"
#include "controls/RoVoravKb.h"

#include <QLabel>

#include <algorithm>
#include <iterator>

namespace melo {
namespace {

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

} // namespace

void TControlsView::ShowTranspose(int, std::uint8_t keySignature, const std::string& text) {
  C.Staff->SetKeySignature(keySignature);
  C.SpinEdits[seTranspose]->SetText(Text(text));
}

void TControlsView::ShowOctave(int hand, int octave, const std::string& text) {
  C.SpinEdits[static_cast<std::size_t>(seLeftOctave + hand)]->SetText(Text(text));
  if (hand == LeftHand) {
    C.PCKeyboard->SetLeftOctave(octave);
  } else {
    C.PCKeyboard->SetRightOctave(octave);
  }
}

void TControlsView::ShowVelocity(int hand, const std::string& text) {
  C.SpinEdits[static_cast<std::size_t>(seLeftVelocity + hand)]->SetText(Text(text));
}

void TControlsView::ShowVoice(int hand, const std::string& text) {
  C.SpinEdits[static_cast<std::size_t>(seLeftVoice + hand)]->SetText(Text(text));
}

void TControlsView::ShowSmartSemitone(bool on) {
  C.PCKeyboard->SetSmartSemitone(on);
}

void TControlsView::ShowChordName(const std::string& name) {
  C.ChordName->setText(Text(name));
}

void TControlsView::ShowKeyDefs() {
  C.PCKeyboard->DrawAllLabels();
  C.PCKeyboard->AllKeysUp();
}

void TControlsView::ShowPCKey(int keyIndex, std::uint8_t state) {
  C.PCKeyboard->SetKeyState(keyIndex, state);
}

void TControlsView::ShowPianoKey(int hand, int note, std::uint8_t state) {
  (hand == LeftHand ? C.LeftKeyboard : C.RightKeyboard)->SetKeyState(note - 24, state);
}

void TControlsView::ShowStaff(const TKeyNote (&notes)[MaxKeyNotes], int transpose) {
  TKeyNote shown[MaxKeyNotes];
  std::copy(std::begin(notes), std::end(notes), std::begin(shown));
  C.Staff->ShowNotes(shown, transpose);
}

void TControlsView::ClearStaff() {
  C.Staff->Clear();
}

void TControlsView::ReleasePianoKeys() {
  C.LeftKeyboard->ReleaseAll();
  C.RightKeyboard->ReleaseAll();
}

void TControlsView::ReleasePCKeys() {
  C.PCKeyboard->AllKeysUp();
}

void TControlsView::SetEditsEnabled(bool enabled) {
  C.PCKeyboard->SetEnabled(enabled);
  C.LeftKeyboard->SetEnabled(enabled);
  C.RightKeyboard->SetEnabled(enabled);
  for (int edit = seTranspose; edit < seLeftVoice; ++edit)
    C.SpinEdits[static_cast<std::size_t>(edit)]->SetButtonsEnabled(enabled);
}

void TControlsView::ShowPlayButton(bool on) {
  C.MainButtons->SetButtonState(mbPlay, on ? 1 : 0);
}

void TControlsView::ShowButtons(bool playing, bool recording, bool canSave, bool hasSong) {
  TKoMainButtons& b = *C.MainButtons;
  if (recording || playing) {
    b.SetEnabled(mbPlay, playing);
    b.SetEnabled(mbRecord, recording);
    for (int i : {mbOpen, mbSave, mbSetup, mbHelp, mbAbout})
      b.SetEnabled(i, false);
    return;
  }
  b.SetEnabled(mbSave, canSave);
  b.SetEnabled(mbPlay, hasSong);
  for (int i : {mbRecord, mbOpen, mbSetup, mbHelp, mbAbout})
    b.SetEnabled(i, true);
}

} // namespace melo

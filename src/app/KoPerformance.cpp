#include "app/KoPerformance.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

#include "app/SimpleRecorder.h"
#include "music/AutoAccomp.h"
#include "music/KoMetronome.h"
#include "music/MidiInterfaces.h"
#include "sound/FavoriteVoices.h"

namespace melo {

namespace {

constexpr std::uint8_t ssNone = 0;
constexpr std::uint8_t ssCtrlShift = ssCtrl | ssShift;

// Notebook mode: the right half of the main block stands in for the keypad.
constexpr std::array<std::pair<int, int>, 13> NotebookKeys = {{{sc8, scNum7},
                                                               {sc9, scNum8},
                                                               {sc0, scNum9},
                                                               {scMinus, scNumPlus},
                                                               {scI, scNum4},
                                                               {scO, scNum5},
                                                               {scP, scNum6},
                                                               {scK, scNum1},
                                                               {scL, scNum2},
                                                               {scSemicolon, scNum3},
                                                               {scComma, scNum0},
                                                               {scPeriod, scNumPeriod},
                                                               {scSlash, scNumEnter}}};

// Replaces a key of the right half by the keypad key it stands for.
void ReplaceNotebookKey(int& scanCode, int& keyIndex) {
  for (const auto& [from, to] : NotebookKeys) {
    if (from == scanCode) {
      scanCode = to;
      keyIndex = KeyIndexOfScanCode(to);
      return;
    }
  }
}

// Keys that always play percussion, by key index, with their drum notes.
constexpr std::array<std::pair<int, int>, 4> DrumKeys = {{{KeyIndexOfScanCode(scApostrophe), 36},
                                                          {KeyIndexOfScanCode(scLeftBracket), 38},
                                                          {KeyIndexOfScanCode(scRightBracket), 40},
                                                          {KeyIndexOfScanCode(scBackslash), 42}}};

int DrumNote(int keyIndex) {
  for (const auto& [key, note] : DrumKeys) {
    if (key == keyIndex)
      return note;
  }
  return -1;
}

// The smart-semitone base notes of the editing keys, "Insert" .. "PageDown".
constexpr std::array<int, LastEditingKey - FirstEditingKey + 1> SmartSemitoneBases = {69, 69, 65,
                                                                                      62, 60, 67};
static_assert(KeyScanCodes[FirstEditingKey] == scInsert &&
              KeyScanCodes[LastEditingKey] == scPageDown);

// "1=" names and staff key-signature codes by Transpose + 4.
constexpr std::array<const char*, 12> TransposeNames = {"bA", "A",  "bB", "B", "C",  "bD",
                                                        "D",  "bE", "E",  "F", "#F", "G"};
constexpr std::array<std::uint8_t, 12> KeySignatureCodes = {11, 3, 9, 5, 0, 12, 2, 10, 4, 8, 6, 1};

constexpr int DoubleTapMs = 500;
constexpr int NoteOffVelocity = 64;
// The accompaniment's start value, for a performance without one.
constexpr int DefaultPercussVolume = 60;
constexpr std::uint8_t NoteOnDrums = ChannelStatus(NoteOnStatus, DrumChannel);
constexpr std::uint8_t NoteOffDrums = ChannelStatus(NoteOffStatus, DrumChannel);
constexpr std::uint8_t NoteOnRight = ChannelStatus(NoteOnStatus, HandChannel(RightHand));
constexpr std::uint8_t NoteOffRight = ChannelStatus(NoteOffStatus, HandChannel(RightHand));
// The window's own metronome client while the accompaniment runs.
constexpr const char* AccompClientName = "NewSecondAndNewBeat";

std::string SignedText(int value) {
  return value > 0 ? "+" + std::to_string(value) : std::to_string(value);
}

std::uint32_t SteadyMilliseconds() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The patch of a favourite-voice slot.
std::uint32_t FavoritePatch(int slot) {
  return FavoriteVoicePatch(FavoriteVoices[static_cast<std::size_t>(slot)]);
}

// Whether every row names keys of the key table and no key pressed with any
// modifiers finds more than one row.
constexpr bool CommandTableIsSound(std::span<const TKoPerformance::TCommandKey> table) {
  for (const auto& command : table) {
    if (command.FirstKey < 0 || command.FirstKey + command.RunLength > KeyCount)
      return false;
  }
  for (int key = 0; key < KeyCount; ++key) {
    for (int modifiers = 0; modifiers <= (ssShift | ssAlt | ssCtrl); ++modifiers) {
      const auto matches = std::count_if(table.begin(), table.end(), [&](const auto& command) {
        return command.Matches(key, static_cast<std::uint8_t>(modifiers));
      });
      if (matches > 1)
        return false;
    }
  }
  return true;
}

} // namespace

bool SongHasRawDrumStrikes(const TSimpleBuffer& events) {
  // The raw note-on is recorded just before its key press, in the same
  // millisecond or the next; the accompaniment's messages, recorded from its
  // own thread, may fall in between.
  constexpr std::size_t near = 8;
  constexpr std::uint32_t sameMomentMs = 2;
  const std::size_t count = events.Count();
  for (std::size_t i = 0; i < count; ++i) {
    const TSongEvent& key = events[i];
    const int drum = key.Kind == sekKeyDown ? DrumNote(KeyIndexOfScanCode(key.Data)) : -1;
    if (key.Skip != 0 || drum < 0)
      continue;
    const std::uint32_t time = key.Time;
    bool paired = false;
    for (std::size_t j = i > near ? i - near : 0; j < std::min(count, i + near + 1) && !paired;
         ++j) {
      const TSongEvent& raw = events[j];
      const std::uint32_t rawTime = raw.Time;
      const std::int32_t data = raw.Data;
      paired = raw.Kind == sekRawMidi && (data >> 16 & 0xFF) == NoteOnDrums &&
               (data >> 8 & 0xFF) == drum &&
               (rawTime > time ? rawTime - time : time - rawTime) <= sameMomentMs;
    }
    if (!paired)
      return false;
  }
  return true;
}

bool SongHasNoKeyPresses(const TSimpleBuffer& events) {
  for (std::size_t i = 0; i < events.Count(); ++i) {
    if (events[i].Kind == sekKeyDown)
      return false;
  }
  return true;
}

std::uint32_t MapLegacyPatch(std::uint32_t patch) {
  const std::uint32_t msb = (patch >> 16) & 0xFF;
  const std::uint32_t lsb = (patch >> 8) & 0xFF;
  const std::uint32_t program = patch & 0xFF;
  if (lsb != 0)
    return patch;
  if (msb == 65)
    return patch & ~0xFF0000u;
  if (msb != 64)
    return patch;
  switch (program) {
  case 0:
  case 4:
  case 12:
  case 13:
  case 14:
  case 15:
  case 16:
  case 127:
    return 0;
  case 1:
    return 2;
  case 2:
    return 18;
  case 3:
    return 8;
  case 5:
    return 24;
  case 6:
    return 28;
  case 7:
    return 49;
  case 9:
    return 9;
  default:
    return patch;
  }
}

TKoPerformance::TKoPerformance() : FTickCount(SteadyMilliseconds) {
  ConnectMidiIn();
  FillDefaultKeyDefs(FValues.KeyDefs);
}

// ---------------------------------------------------------------------------
// Messages to the engine

void TKoPerformance::NoteOn(int channel, int note, int velocity) {
  FLastNotes[static_cast<std::size_t>(channel)] = static_cast<std::uint8_t>(note);
  FSink->SendMidiMessage(ChannelStatus(NoteOnStatus, channel), static_cast<std::uint8_t>(note),
                         static_cast<std::uint8_t>(velocity));
}

void TKoPerformance::NoteOff(int channel, int note) {
  FSink->SendMidiMessage(ChannelStatus(NoteOffStatus, channel), static_cast<std::uint8_t>(note),
                         NoteOffVelocity);
}

void TKoPerformance::ControlChange(int channel, int controller, int value) {
  FSink->SendMidiMessage(ChannelStatus(ControlChangeStatus, channel),
                         static_cast<std::uint8_t>(controller), static_cast<std::uint8_t>(value));
}

void TKoPerformance::SendPatch(int channel, std::uint32_t patch) {
  ControlChange(channel, 0, static_cast<int>((patch >> 16) & 0xFF));
  ControlChange(channel, 32, static_cast<int>((patch >> 8) & 0xFF));
  FSink->SendMidiMessage(ChannelStatus(ProgramChangeStatus, channel),
                         static_cast<std::uint8_t>(patch & 0xFF), 0);
  FPatches[static_cast<std::size_t>(channel)] = patch;
}

std::uint32_t TKoPerformance::Patch(int channel) const {
  return channel >= 0 && channel < 16 ? FPatches[static_cast<std::size_t>(channel)] : 0;
}

int TKoPerformance::LastNote(int channel) const {
  return channel >= 0 && channel < 16 ? FLastNotes[static_cast<std::size_t>(channel)] : 0;
}

int TKoPerformance::VoiceCount() const {
  return FVoices ? FVoices->VoiceCount() : 0;
}

int TKoPerformance::FindVoice(std::uint32_t patch) const {
  return FVoices ? FVoices->FindVoice(patch) : -1;
}

template <typename... TParams, typename... TArgs>
void TKoPerformance::Record(void (TSimpleRecorder::*append)(TParams...), TArgs&&... args) const {
  if (FRecording && FRecorder)
    (FRecorder->*append)(std::forward<TArgs>(args)...);
}

// ---------------------------------------------------------------------------
// The key path

void TKoPerformance::KeyboardKey(int scanCode, bool down) {
  const int keyIndex = KeyIndexOfScanCode(scanCode);
  if (keyIndex < 0)
    return;
  if (down && FKeyState.Press(scanCode)) {
    WMDIKeyDown(scanCode, keyIndex);
  } else if (!down && FKeyState.Release(scanCode)) {
    WMDIKeyUp(scanCode, keyIndex);
  }
}

void TKoPerformance::ReleaseKeyboard() {
  for (const int scanCode : ReleasePressedKeys(FKeyState))
    WMDIKeyUp(scanCode, KeyIndexOfScanCode(scanCode));
}

void TKoPerformance::WMDIKeyDown(int scanCode, int keyIndex) {
  if (keyIndex < 0)
    return;
  if (FNotebookMode)
    ReplaceNotebookKey(scanCode, keyIndex);
  if (!FPlaying) {
    DoKeyDown(scanCode, keyIndex);
    return;
  }
  if (scanCode == scEsc || scanCode == scPower)
    SetPlaying(false);
}

void TKoPerformance::WMDIKeyUp(int scanCode, int keyIndex) {
  if (keyIndex < 0 || FPlaying)
    return;
  if (FNotebookMode)
    ReplaceNotebookKey(scanCode, keyIndex);
  DoKeyUp(scanCode, keyIndex);
}

void TKoPerformance::DoKeyDown(int scanCode, int keyIndex) {
  const std::uint8_t shift = FKeyState.ShiftState();
  if (keyIndex < 0)
    return;
  if (shift == ssNone && KeyDefHasNotes(FValues.KeyDefs.Keys[keyIndex])) {
    NoteKeyDown(scanCode, keyIndex);
    return;
  }
  KeyCommand(keyIndex, shift);
  if (scanCode != scWakeUp)
    FKeyState.SetDown(scanCode);
}

void TKoPerformance::NoteKeyDown(int scanCode, int keyIndex) {
  if (FValues.QuickEditMode == 0) {
    DoNoteOn(keyIndex);
    FView->ShowPCKey(keyIndex, 1);
    FKeyState.SetDown(scanCode);
    ShowHeldNotes();
    Record(&TSimpleRecorder::RecordKeyDown, static_cast<std::uint8_t>(scanCode));
    return;
  }
  TKeyDef& def = FValues.KeyDefs.Keys[keyIndex];
  if (FValues.QuickEditMode == 1) {
    KeySemitoneUp(def);
  } else {
    KeySemitoneDown(def);
  }
  SetKeyDefs(FValues.KeyDefs);
}

// The command table. A command fires only for the exact modifier combination
// of its row; a key with no row for the modifiers held does nothing.
std::span<const TKoPerformance::TCommandKey> TKoPerformance::CommandKeys() {
  using P = TKoPerformance;
  // clang-format off
  static constexpr std::array<TCommandKey, 54> table = {{
      {scSpace, ssNone, "sustain pedal (twice quickly: period pedal on/off)",
       [](P& p, int) { p.SpaceDown(); }},
      {scEsc, ssNone, "all notes and pedals off", [](P& p, int) { p.Panic(); }},
      {scHome, ssCtrl, "transpose up", [](P& p, int) { p.StepTranspose(1); }},
      {scEnd, ssCtrl, "transpose down", [](P& p, int) { p.StepTranspose(-1); }},
      {scGrave, ssNone, "right-hand octave: 0, +1, -1", [](P& p, int) { p.CycleRightOctave(); }},
      {scGrave, ssShift, "left-hand octave: 0, -1, +1", [](P& p, int) { p.CycleLeftOctave(); }},
      {scInsert, ssCtrl, "right-hand velocity +5", [](P& p, int) { p.StepRightVelocity(5); }},
      {scDelete, ssCtrl, "right-hand velocity -5", [](P& p, int) { p.StepRightVelocity(-5); }},
      {scInsert, ssCtrlShift, "left-hand velocity +5", [](P& p, int) { p.StepLeftVelocity(5); }},
      {scDelete, ssCtrlShift, "left-hand velocity -5", [](P& p, int) { p.StepLeftVelocity(-5); }},
      {scTab, ssNone, "next right-hand voice", [](P& p, int) { p.NextVoice(true, 1); }},
      {scTab, ssShift, "next left-hand voice", [](P& p, int) { p.NextVoice(false, -1); }},
      {scF1, ssNone, "right-hand favourite voice 1..12",
       [](P& p, int n) { p.SetRightVoiceByPatch(FavoritePatch(n)); }, 12},
      {scF1, ssShift, "left-hand favourite voice 13..24",
       [](P& p, int n) { p.SetLeftVoiceByPatch(FavoritePatch(12 + n)); }, 12},
      {sc1, ssCtrlShift, "store one-touch settings 1..10",
       [](P& p, int n) { p.StoreOneTouch(n); }, 10},
      {sc1, ssCtrl, "recall one-touch settings 1..10",
       [](P& p, int n) { p.RecallOneTouch(n); }, 10},
      {scBackspace, ssCtrl, "store one-touch settings 1", [](P& p, int) { p.StoreOneTouch(0); }},
      {scBackspace, ssNone, "recall one-touch settings 1", [](P& p, int) { p.RecallOneTouch(0); }},
      {scPrintScreen, ssCtrl, "store one-touch settings 2", [](P& p, int) { p.StoreOneTouch(1); }},
      {scPrintScreen, ssNone, "recall one-touch settings 2",
       [](P& p, int) { p.RecallOneTouch(1); }},
      {scScrollLock, ssCtrl, "store one-touch settings 3", [](P& p, int) { p.StoreOneTouch(2); }},
      {scScrollLock, ssNone, "recall one-touch settings 3", [](P& p, int) { p.RecallOneTouch(2); }},
      {scCapslock, ssNone, "recall the next stored one-touch settings",
       [](P& p, int) { p.NextOneTouch(); }},
      {scCapslock, ssAlt, "the next Capslock starts from the first one-touch settings",
       [](P& p, int) { p.FOneTouchCursor = -1; }},
      {scCapslock, ssCtrl, "store one-touch settings in the first free place",
       [](P& p, int) { p.StoreOneTouchFree(); }},
      {scCapslock, ssCtrlShift, "clear all one-touch settings",
       [](P& p, int) { p.ClearOneTouch(); }},
      {scEnter, ssNone, "accompaniment on/off",
       [](P& p, int) { p.SetAccompaniment(!p.FAccompRunning); }},
      {sc1, ssAlt, "accompaniment style 1..10", [](P& p, int n) { p.SelectAccompStyle(n); }, 10},
      {scHome, ssCtrlShift, "percussion louder", [](P& p, int) { p.AddPercussVolume(5); }},
      {scEnd, ssCtrlShift, "percussion softer", [](P& p, int) { p.AddPercussVolume(-5); }},
      {scPageUp, ssCtrlShift, "tempo 5 % faster",
       [](P&, int) { Metronome.SetTempo(Metronome.Tempo() * 1.05); }},
      {scPageDown, ssCtrlShift, "tempo 5 % slower",
       [](P&, int) { Metronome.SetTempo(Metronome.Tempo() * 0.95); }},
      {scR, ssCtrl, "record / stop recording", [](P& p, int) { p.ToggleRecording(); }},
      {scWakeUp, ssNone, "record / stop recording", [](P& p, int) { p.ToggleRecording(); }},
      {scP, ssCtrl, "play / stop", [](P& p, int) { p.SetPlaying(!p.FPlaying); }},
      {scSleep, ssNone, "play once / stop",
       [](P& p, int) { p.SetLoopPlay(false); p.SetPlaying(!p.FPlaying); }},
      {scP, ssCtrlShift, "play in a loop", [](P& p, int) { p.PlayLoop(); }},
      {scSleep, ssShift, "play in a loop", [](P& p, int) { p.PlayLoop(); }},
      {scO, ssCtrl, "open a song", [](P& p, int) { p.FView->OpenSong(); }},
      {scS, ssCtrl, "save a fresh recording", [](P& p, int) { p.FView->SaveSongAs(); }},
      {scS, ssCtrlShift, "quick save", [](P& p, int) { p.FView->QuickSave(); }},
      {scO, ssCtrlShift, "change a song file's title, player and remark",
       [](P& p, int) { p.FView->EditSongInfo(); }},
      {scL, ssCtrl, "practise the song in memory", [](P& p, int) { p.FView->PractiseSong(); }},
      {scPause, ssNone, "smart semitone on/off (the editing keys play the nearest sharp)",
       [](P& p, int) { p.ToggleSmartSemitone(); }},
      {scPause, ssShift, "smart semitone on/off", [](P& p, int) { p.ToggleSmartSemitone(); }},
      {scPower, ssNone, "smart semitone on/off", [](P& p, int) { p.ToggleSmartSemitone(); }},
      {scLWin, ssNone, "held: a note key pressed meanwhile is respelled a semitone up",
       [](P& p, int) { p.FValues.QuickEditMode = 1; }},
      {scRWin, ssNone, "held: a note key pressed meanwhile is respelled a semitone down",
       [](P& p, int) { p.FValues.QuickEditMode = 2; }},
      {scPageUp, ssCtrl, "master volume up", [](P& p, int) { p.FView->StepMasterVolume(5); }},
      {scPageDown, ssCtrl, "master volume down", [](P& p, int) { p.FView->StepMasterVolume(-5); }},
      {scEnter, ssCtrl, "mouse pedal on/off", [](P& p, int) { p.FView->ToggleMousePedal(); }},
      {scBackspace, ssAlt, "build the external voice lists again",
       [](P& p, int) { p.FView->BuildExternalVoiceLists(); }},
      {scEsc, ssCtrl, "about the program", [](P& p, int) { p.FView->ShowAbout(); }},
      {scF4, ssAlt, "close the window", [](P& p, int) { p.FView->CloseWindow(); }},
  }};
  // clang-format on
  static_assert(CommandTableIsSound(table));
  return table;
}

void TKoPerformance::KeyCommand(int keyIndex, std::uint8_t shift) {
  for (const TCommandKey& command : CommandKeys()) {
    if (command.Matches(keyIndex, shift)) {
      command.Run(*this, keyIndex - command.FirstKey);
      return;
    }
  }
}

void TKoPerformance::StepTranspose(int step) {
  SetTranspose(FValues.Transpose + step);
}

void TKoPerformance::StepRightVelocity(int step) {
  SetRightVelocity(FValues.RightVelocity + step);
}

void TKoPerformance::StepLeftVelocity(int step) {
  SetLeftVelocity(FValues.LeftVelocity + step);
}

void TKoPerformance::CycleRightOctave() {
  SetRightOctave(FValues.RightOctave == 0 ? 1 : FValues.RightOctave == 1 ? -1 : 0);
}

void TKoPerformance::CycleLeftOctave() {
  SetLeftOctave(FValues.LeftOctave == 0 ? -1 : FValues.LeftOctave == -1 ? 1 : 0);
}

void TKoPerformance::ToggleSmartSemitone() {
  SetSmartSemitone(!FSmartSemitone);
}

void TKoPerformance::PlayLoop() {
  FLoopPlay = true;
  if (!FPlaying)
    SetPlaying(true);
}

void TKoPerformance::SelectAccompStyle(int index) {
  if (FAccomp)
    FAccomp->SetAccompStyleIndex(index);
}

void TKoPerformance::SpaceDown() {
  const std::uint32_t now = FTickCount();
  if (now - FLastSpaceTick < static_cast<std::uint32_t>(DoubleTapMs)) {
    SetPeriodPedal(!FPeriodPedal);
  } else {
    SetLeftSustain(true);
  }
  FLastSpaceTick = now;
}

// Tab steps the right voice on, Shift+Tab the left one; with an external
// sound set both move the right hand's external list, down or up.
void TKoPerformance::NextVoice(bool right, int step) {
  if (FUseExternalDLS && FView->StepExternalRightVoice(step))
    return;
  const int count = VoiceCount();
  if (count <= 0)
    return;
  if (right) {
    SetRightVoice((FRightVoiceIndex + 1) % count);
  } else {
    SetLeftVoice((FLeftVoiceIndex + 1) % count);
  }
}

void TKoPerformance::Panic() {
  FPeriodPedal = false;
  SetLeftSustain(false);
  SetRightSustain(false);
  SetSmartSemitone(false);
  FSoundingKeys.fill(TSoundingKey{});
  FOneTouchCursor = -1;
  ResetPerformance();
}

void TKoPerformance::ToggleRecording() {
  if (FRecording) {
    if (FRecorder)
      FRecorder->RecordEnd();
    SetRecording(false);
  } else {
    SetRecording(true);
  }
}

void TKoPerformance::AddPercussVolume(int delta) {
  if (!FAccomp)
    return;
  FAccomp->SetAPercussVolume(std::clamp(FAccomp->APercussVolume() + delta, 0, 127));
}

void TKoPerformance::DoKeyUp(int scanCode, int keyIndex) {
  FKeyState.SetUp(scanCode);
  const std::uint8_t shift = FKeyState.ShiftState();
  if (keyIndex < 0)
    return;
  // A key that sounds is always released as a note, also while a modifier or
  // a Windows key is held meanwhile: otherwise its notes would never stop.
  const bool sounding = FSoundingKeys[static_cast<std::size_t>(keyIndex)].Count > 0;
  if (!sounding && (shift != ssNone || !KeyDefHasNotes(FValues.KeyDefs.Keys[keyIndex]))) {
    if (scanCode == scSpace) {
      SetLeftSustain(false);
    } else if (scanCode == scLWin || scanCode == scRWin) {
      FValues.QuickEditMode = 0;
    }
    return;
  }
  if (!sounding && FValues.QuickEditMode != 0)
    return;
  DoNoteOff(keyIndex);
  FView->ShowPCKey(keyIndex, 0);
  ShowHeldNotes();
  Record(&TSimpleRecorder::RecordKeyUp, static_cast<std::uint8_t>(scanCode));
}

bool TKoPerformance::IsSmartKey(int keyIndex) const {
  return FSmartSemitone && keyIndex >= FirstEditingKey && keyIndex <= LastEditingKey;
}

int TKoPerformance::SmartSemitoneNote(int keyIndex) const {
  const int base = SmartSemitoneBases[static_cast<std::size_t>(keyIndex - FirstEditingKey)];
  int reference = FSink ? FLastNotes[1] : 0;
  if (reference < 1)
    reference = 60;
  // Without a qualifying candidate (a reference above all of them) the
  // highest candidate is taken.
  const int transpose = FValues.Transpose;
  int upper = transpose + base + 1 + 12 * 5;
  for (int i = -5; i <= 5; ++i) {
    const int p = transpose + base + 1 + 12 * i;
    if (p - reference >= 0 && p - reference < 12) {
      upper = p;
      break;
    }
  }
  const int lower = upper - 12;
  return upper - reference < reference - lower ? upper : lower;
}

int TKoPerformance::UntransposedNote(int channel, int note) const {
  // Sound-effect voices (programs 126, 127) ignore the transposition.
  if ((FPatches[static_cast<std::size_t>(channel)] & 0xFF) > 125)
    return note - FValues.Transpose;
  return note;
}

void TKoPerformance::DoNoteOn(int keyIndex) {
  const int drum = DrumNote(keyIndex);
  if (drum >= 0) {
    const int drumVelocity = FAccomp ? FAccomp->APercussVolume() : DefaultPercussVolume;
    // A song recorded here holds the drum's raw MIDI besides the key: its
    // playback sounds the drum from there only, so it is not struck twice.
    if (FSink && (!FPlaying || !FSongRawDrums))
      NoteOn(DrumChannel, drum, drumVelocity);
    Record(&TSimpleRecorder::RecordRawMidi, NoteOnDrums, static_cast<std::uint8_t>(drum),
           static_cast<std::uint8_t>(drumVelocity));
    return;
  }
  // A key struck again while it sounds (mouse and keyboard together) restarts.
  StopKeyNotes(keyIndex);
  TSoundingKey& sounding = FSoundingKeys[static_cast<std::size_t>(keyIndex)];
  const bool smart = IsSmartKey(keyIndex);
  const TKeyDef& def = FValues.KeyDefs.Keys[keyIndex];
  int playedLeft = -1; // the key's first left-hand note
  for (int i = 0; i < SoundingNoteCount(def); ++i) {
    const TKeyNote& note = def.Notes[i];
    int n = NoteToMidi(note, FValues.LeftOctave, FValues.RightOctave, FValues.Transpose);
    if (n < 0)
      continue;
    const int hand = NoteIsLeft(note) ? LeftHand : RightHand;
    int velocity = note.Velocity;
    if (velocity == 0)
      velocity = hand == LeftHand ? FValues.LeftVelocity : FValues.RightVelocity;
    if (hand == RightHand && smart)
      n = SmartSemitoneNote(keyIndex);
    if (FSink)
      n = UntransposedNote(HandChannel(hand), n);
    // The smart semitone and the effect voices' undoing of the transposition
    // can leave the MIDI range: such a note is not played rather than cut to
    // a byte, which would sound at a wrong pitch.
    if (n < 0 || n > 127)
      continue;
    if (FSink)
      NoteOn(HandChannel(hand), n, velocity);
    FView->ShowPianoKey(hand, n, 1);
    if (FNoteListener)
      FNoteListener(n);
    sounding.Notes[static_cast<std::size_t>(sounding.Count++)] = {hand, n};
    if (hand == LeftHand && playedLeft < 0)
      playedLeft = n;
  }
  if (playedLeft >= 0)
    HandChordOver(playedLeft);
}

std::vector<int> KeySoundingNotes(const TPerformanceValues& values, int keyIndex) {
  std::vector<int> notes;
  if (keyIndex < 0 || keyIndex >= KeyCount || DrumNote(keyIndex) >= 0)
    return notes;
  const TKeyDef& def = values.KeyDefs.Keys[keyIndex];
  for (int i = 0; i < SoundingNoteCount(def); ++i) {
    const int n = NoteToMidi(def.Notes[i], values.LeftOctave, values.RightOctave, values.Transpose);
    if (n >= 0)
      notes.push_back(n);
  }
  std::sort(notes.begin(), notes.end());
  notes.erase(std::unique(notes.begin(), notes.end()), notes.end());
  return notes;
}

void TKoPerformance::HandChordOver(int playedNote) {
  if (!FAccomp || !FAccompRunning)
    return;
  std::vector<int> held;
  for (const TSoundingKey& key : FSoundingKeys) {
    for (int i = 0; i < key.Count; ++i) {
      const TSoundingKey::TNote& note = key.Notes[static_cast<std::size_t>(i)];
      if (note.Hand == LeftHand)
        held.push_back(note.Note);
    }
  }
  const std::string name = FAccomp->FollowLeftHand(playedNote, held);
  if (!name.empty())
    FView->ShowChordName(name);
}

void TKoPerformance::DoNoteOff(int keyIndex) {
  const int drum = DrumNote(keyIndex);
  if (drum >= 0) {
    if (FSink && (!FPlaying || !FSongRawDrums))
      NoteOff(DrumChannel, drum);
    Record(&TSimpleRecorder::RecordRawMidi, NoteOffDrums, static_cast<std::uint8_t>(drum),
           NoteOffVelocity);
    return;
  }
  StopKeyNotes(keyIndex);
}

void TKoPerformance::StopKeyNotes(int keyIndex) {
  TSoundingKey& sounding = FSoundingKeys[static_cast<std::size_t>(keyIndex)];
  for (int i = 0; i < sounding.Count; ++i) {
    const TSoundingKey::TNote& note = sounding.Notes[static_cast<std::size_t>(i)];
    if (FSink)
      NoteOff(HandChannel(note.Hand), note.Note);
    FView->ShowPianoKey(note.Hand, note.Note, 0);
  }
  sounding.Count = 0;
}

void TKoPerformance::CollectHeldNotes(TKeyNote (&notes)[MaxKeyNotes]) const {
  for (TKeyNote& note : notes)
    note = TKeyNote{0, 0, 4, 0, 0};
  int count = 0;
  for (int s = 0; s < 256 && count < MaxKeyNotes; ++s) {
    if (!FKeyState.IsDown(s))
      continue;
    const int key = KeyIndexOfScanCode(s);
    if (key < 0)
      continue;
    const TKeyDef& def = FValues.KeyDefs.Keys[key];
    for (int i = 0; i < SoundingNoteCount(def) && count < MaxKeyNotes; ++i)
      notes[count++] = def.Notes[i];
  }
  // Then the MIDI keyboard's, as right-hand notes named in the key played.
  for (const int sounding : FMidiIn.SoundingNotes()) {
    if (count >= MaxKeyNotes)
      break;
    TKeyNote& note = notes[count];
    NoteFromMidi(sounding, FValues.Transpose, note);
    note.Keyboard = RightHand;
    if (note.Degree != 0)
      ++count;
  }
  for (const auto& [hand, sounding] : FRawNotes) {
    if (count >= MaxKeyNotes)
      break;
    TKeyNote& note = notes[count];
    NoteFromMidi(sounding, FValues.Transpose, note);
    note.Keyboard = static_cast<std::uint8_t>(hand);
    if (note.Degree != 0)
      ++count;
  }
}

void TKoPerformance::ShowHeldNotes() {
  TKeyNote notes[MaxKeyNotes];
  CollectHeldNotes(notes);
  FView->ShowStaff(notes, FValues.Transpose);
}

void TKoPerformance::ExternalNote(int note, int velocity) {
  if (note < 0 || note > 127)
    return;
  velocity = std::clamp(velocity, 0, 127);
  if (velocity > 0) {
    if (FSink)
      NoteOn(HandChannel(RightHand), note, velocity);
    FView->ShowPianoKey(RightHand, note, 1);
    if (FNoteListener)
      FNoteListener(note);
    Record(&TSimpleRecorder::RecordRawMidi, NoteOnRight, static_cast<std::uint8_t>(note),
           static_cast<std::uint8_t>(velocity));
    return;
  }
  if (FSink)
    NoteOff(HandChannel(RightHand), note);
  FView->ShowPianoKey(RightHand, note, 0);
  Record(&TSimpleRecorder::RecordRawMidi, NoteOffRight, static_cast<std::uint8_t>(note),
         NoteOffVelocity);
}

void TKoPerformance::PlayRawMidi(std::int32_t data) {
  const auto status = static_cast<std::uint8_t>(data >> 16);
  const auto key = static_cast<std::uint8_t>(data >> 8);
  const auto velocity = static_cast<std::uint8_t>(data);
  if (FSink)
    FSink->SendMidiMessage(status, key, velocity);
  const int kind = status & 0xF0;
  const int channel = status & 0x0F;
  if (!FShowRawNotes || (kind != NoteOnStatus && kind != NoteOffStatus) || key > 127 ||
      channel == DrumChannel)
    return;
  const int hand = channel == HandChannel(LeftHand) ? LeftHand : RightHand;
  const std::pair<int, int> shown{hand, key};
  std::erase(FRawNotes, shown);
  const bool on = kind == NoteOnStatus && velocity != 0;
  if (on)
    FRawNotes.push_back(shown);
  FView->ShowPianoKey(hand, key, on ? 1 : 0);
  ShowHeldNotes();
}

void TKoPerformance::PlayAlongMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
  PlayRawMidi(status << 16 | data1 << 8 | data2);
  Record(&TSimpleRecorder::RecordRawMidi, status, data1, data2);
}

void TKoPerformance::ConnectMidiIn() {
  FMidiIn.OnNoteOn = [this](int note, int velocity) {
    ExternalNote(note, velocity);
    FMidiInNotesChanged = true;
  };
  FMidiIn.OnNoteOff = [this](int note, int) {
    ExternalNote(note, 0);
    FMidiInNotesChanged = true;
  };
  FMidiIn.OnSustain = [this](bool down) { SetRightSustain(down); };
  FMidiIn.OnPass = [this](std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
    if (FSink)
      FSink->SendMidiMessage(status, data1, data2);
    Record(&TSimpleRecorder::RecordRawMidi, status, data1, data2);
  };
}

void TKoPerformance::MidiInMessage(const std::uint8_t* bytes, int length) {
  PlayMidiIn(bytes, length);
  ShowMidiInNotes();
}

void TKoPerformance::MidiInMessages(std::span<const TMidiBytes> messages) {
  for (const TMidiBytes& message : messages) {
    PlayMidiIn(message.Bytes, message.Length);
  }
  ShowMidiInNotes();
}

void TKoPerformance::PlayMidiIn(const std::uint8_t* bytes, int length) {
  // As for the keys: sound-effect voices ignore the transposition. The
  // octave shifts stay with the PC keys; a MIDI keyboard has its own.
  const bool effect = (FPatches[TMidiInRouter::Channel] & 0xFF) > 125;
  FMidiIn.Play(bytes, length, effect ? 0 : FValues.Transpose);
}

void TKoPerformance::ShowMidiInNotes() {
  if (FMidiInNotesChanged) {
    FMidiInNotesChanged = false;
    ShowHeldNotes();
  }
}

void TKoPerformance::MidiInLost() {
  FMidiIn.ReleaseAll();
  ShowMidiInNotes();
}

void TKoPerformance::SoundNote(int hand, int note, int velocity) {
  if (FSink && (hand == LeftHand || hand == RightHand) && note >= 0 && note <= 127)
    NoteOn(HandChannel(hand), note, std::clamp(velocity, 0, 127));
}

void TKoPerformance::SilenceNote(int hand, int note) {
  if (FSink && (hand == LeftHand || hand == RightHand) && note >= 0 && note <= 127)
    NoteOff(HandChannel(hand), note);
}

void TKoPerformance::MousePedal(bool down) {
  SetLeftSustain(down);
  SetRightSustain(down);
}

void TKoPerformance::RenewPeriodPedal() {
  if (!FPeriodPedal)
    return;
  SetLeftSustain(false);
  SetLeftSustain(true);
}

// ---------------------------------------------------------------------------
// Performance values

void TKoPerformance::SetTranspose(int value) {
  ApplyTranspose(value);
  Record(&TSimpleRecorder::RecordTranspose, FValues.Transpose);
}

void TKoPerformance::ApplyTranspose(int value) {
  value %= 12;
  if (value > MaxTranspose)
    value -= 12;
  if (value < MinTranspose)
    value += 12;
  FValues.Transpose = value;
  const auto i = static_cast<std::size_t>(value - MinTranspose);
  char text[32];
  std::snprintf(text, sizeof text, value > 0 ? "1=%s (+%d)" : "1=%s (%d)", TransposeNames[i],
                value);
  FView->ShowTranspose(value, KeySignatureCodes[i], text);
}

void TKoPerformance::SetLeftOctave(int value) {
  ApplyOctave(LeftHand, value);
  Record(&TSimpleRecorder::RecordLeftOctave, FValues.LeftOctave);
}

void TKoPerformance::SetRightOctave(int value) {
  ApplyOctave(RightHand, value);
  Record(&TSimpleRecorder::RecordRightOctave, FValues.RightOctave);
}

void TKoPerformance::ApplyOctave(int hand, int value) {
  std::int32_t& octave = hand == LeftHand ? FValues.LeftOctave : FValues.RightOctave;
  octave = std::clamp(value, MinOctave, MaxOctave);
  FView->ShowOctave(hand, octave, SignedText(octave));
}

void TKoPerformance::SetLeftVelocity(int value) {
  ApplyVelocity(LeftHand, value);
  Record(&TSimpleRecorder::RecordLeftVelocity, FValues.LeftVelocity);
}

void TKoPerformance::SetRightVelocity(int value) {
  ApplyVelocity(RightHand, value);
  Record(&TSimpleRecorder::RecordRightVelocity, FValues.RightVelocity);
}

void TKoPerformance::ApplyVelocity(int hand, int value) {
  std::int32_t& velocity = hand == LeftHand ? FValues.LeftVelocity : FValues.RightVelocity;
  velocity = std::clamp(value, 0, 127);
  FView->ShowVelocity(hand, std::to_string(velocity));
}

void TKoPerformance::SetRightVoice(int index) {
  if (index < 0 || index >= VoiceCount())
    return;
  FRightVoiceIndex = index;
  const std::uint32_t patch = FVoices->VoicePatch(index);
  if (FSink)
    SendPatch(HandChannel(RightHand), patch);
  Record(&TSimpleRecorder::RecordRightVoice, static_cast<std::int32_t>(patch));
  FView->ShowVoice(RightHand, std::to_string(index));
}

void TKoPerformance::SetLeftVoice(int index) {
  if (index < 0 || index >= VoiceCount())
    return;
  FLeftVoiceIndex = index;
  const std::uint32_t patch = FVoices->VoicePatch(index);
  if (FSink)
    SendPatch(HandChannel(LeftHand), patch);
  Record(&TSimpleRecorder::RecordLeftVoice, static_cast<std::int32_t>(patch));
  FView->ShowVoice(LeftHand, std::to_string(index));
}

void TKoPerformance::SetRightVoiceByPatch(std::uint32_t patch) {
  SetRightVoice(FindVoice(MapLegacyPatch(patch)));
}

void TKoPerformance::SetLeftVoiceByPatch(std::uint32_t patch) {
  SetLeftVoice(FindVoice(MapLegacyPatch(patch)));
}

void TKoPerformance::SetExternalVoice(int hand, std::uint32_t patch) {
  if (hand != LeftHand && hand != RightHand)
    return;
  if (FSink)
    SendPatch(HandChannel(hand), patch);
  Record(hand == RightHand ? &TSimpleRecorder::RecordRightVoice : &TSimpleRecorder::RecordLeftVoice,
         static_cast<std::int32_t>(patch));
}

void TKoPerformance::SetLeftSustain(bool down) {
  if (FSink)
    ControlChange(HandChannel(LeftHand), 64, down ? 127 : 0);
  Record(&TSimpleRecorder::RecordLeftSustain, down);
}

void TKoPerformance::SetRightSustain(bool down) {
  if (FSink)
    ControlChange(HandChannel(RightHand), 64, down ? 127 : 0);
  Record(&TSimpleRecorder::RecordRightSustain, down);
}

void TKoPerformance::SetPeriodPedal(bool on) {
  FPeriodPedal = on;
  SetLeftSustain(on);
}

void TKoPerformance::SetSmartSemitone(bool on) {
  FSmartSemitone = on;
  SetSmartSemitoneNotes(FValues.KeyDefs, on);
  FView->ShowSmartSemitone(on);
  Record(&TSimpleRecorder::RecordSmartSemitone, on);
}

void TKoPerformance::SetAccompaniment(bool on) {
  if (on == FAccompRunning || !FAccomp)
    return;
  if (on) {
    Metronome.SetRunning(false);
    Metronome.AddClient(
        AccompClientName, mfNewSecond | mfNewBeat,
        [](TMetronome&, std::uint16_t, double, double, int, std::int32_t, std::int32_t, bool&) {});
    FAccomp->SetStart(true);
    FAccompRunning = true;
    Metronome.SetRunning(true);
    FView->ShowChordName(FAccomp->CurrentChordName());
    return;
  }
  FAccomp->SetStart(false);
  if (!FRecording)
    Metronome.RemoveClient(AccompClientName);
  FAccompRunning = false;
  FView->ShowChordName({});
}

void TKoPerformance::SetAccomp(TAutoAccomp* accomp) {
  FAccomp = accomp;
  SetAccompMode(FAccompDrumsOnly, FFingeredChords);
}

void TKoPerformance::SetAccompMode(bool drumsOnly, bool fingered) {
  FAccompDrumsOnly = drumsOnly;
  FFingeredChords = fingered;
  if (!FAccomp)
    return;
  FAccomp->SetMelodicParts(!drumsOnly);
  FAccomp->FixedChordMode = !fingered;
}

void TKoPerformance::SetKeyDefs(const TKeyDefTable& table) {
  if (&table != &FValues.KeyDefs)
    FValues.KeyDefs = table;
  FView->ShowKeyDefs();
  Record(&TSimpleRecorder::RecordKeyDefs, FValues.KeyDefs);
}

void TKoPerformance::SilenceAll() {
  if (!FSink)
    return;
  for (const int hand : {LeftHand, RightHand})
    ControlChange(HandChannel(hand), 123, 0);
  for (const int hand : {LeftHand, RightHand})
    ControlChange(HandChannel(hand), 120, 0);
}

void TKoPerformance::ResetPerformance(const TResetParts& parts) {
  if (parts.StopAccomp)
    SetAccompaniment(false);
  if (parts.StopRecording && FRecording) {
    if (FRecorder)
      FRecorder->RecordEnd();
    SetRecording(false);
  }
  if (parts.StopPlaying && FPlaying)
    SetPlaying(false);
  if (parts.Silence) {
    SilenceAll();
    // What was silenced is forgotten, so that a later release of its key
    // sends no stray note-off.
    FSoundingKeys.fill(TSoundingKey{});
    // The MIDI keyboard's notes are silenced too; their releases find nothing.
    FMidiIn.Forget();
    FRawNotes.clear();
  }
  if (parts.ResetPianoKeyboards)
    FView->ReleasePianoKeys();
  if (parts.ResetPCKeyboard)
    FView->ReleasePCKeys();
  if (parts.ClearStaff)
    FView->ClearStaff();
  if (parts.ClearKeyState)
    FKeyState.Clear();
}

// ---------------------------------------------------------------------------
// One-touch slots

void TKoPerformance::StoreOneTouch(int slot) {
  if (slot < 0 || slot > 9)
    return;
  FOneTouch[static_cast<std::size_t>(slot)] = {true,
                                               FLeftVoiceIndex,
                                               FRightVoiceIndex,
                                               FValues.LeftVelocity,
                                               FValues.RightVelocity,
                                               FValues.LeftOctave,
                                               FValues.RightOctave,
                                               FValues.Transpose};
}

void TKoPerformance::StoreOneTouchFree() {
  for (int slot = 0; slot < 10; ++slot) {
    if (!FOneTouch[static_cast<std::size_t>(slot)].Used) {
      StoreOneTouch(slot);
      return;
    }
  }
}

void TKoPerformance::ClearOneTouch() {
  FOneTouch.fill(
      {false, 0, 0, FValues.LeftVelocity, FValues.RightVelocity, 0, 0, FValues.Transpose});
  FOneTouchCursor = -1;
}

void TKoPerformance::RecallOneTouch(int slot) {
  if (slot < 0 || slot > 9 || !FOneTouch[static_cast<std::size_t>(slot)].Used)
    return;
  const TOneTouchSlot s = FOneTouch[static_cast<std::size_t>(slot)];
  SetLeftVoice(s.LeftVoiceIndex);
  SetRightVoice(s.RightVoiceIndex);
  ApplyVelocity(LeftHand, s.LeftVelocity);
  ApplyVelocity(RightHand, s.RightVelocity);
  ApplyOctave(LeftHand, s.LeftOctave);
  ApplyOctave(RightHand, s.RightOctave);
  ApplyTranspose(s.Transpose);
}

void TKoPerformance::NextOneTouch() {
  const bool any = std::any_of(FOneTouch.begin(), FOneTouch.end(),
                               [](const TOneTouchSlot& s) { return s.Used; });
  if (!any)
    return;
  int slot = 0;
  for (int step = 1; step <= 9; ++step) {
    slot = (FOneTouchCursor + step + 10) % 10;
    if (FOneTouch[static_cast<std::size_t>(slot)].Used) {
      RecallOneTouch(slot);
      FOneTouchCursor = slot;
      return;
    }
  }
  FOneTouchCursor = slot;
}

// ---------------------------------------------------------------------------
// Recording and playback

void TKoPerformance::SetRecording(bool on) {
  if (FPlaying || on == FRecording)
    return;
  FRecording = on;
  if (on) {
    if (FRecorder) {
      TSongHeader& header = FRecorder->Header;
      header.Info = MakeSongInfo("SongTitle", "Tavrin", "SongRemark");
      TSongState& state = header.State;
      state.Transpose = FValues.Transpose;
      state.RightVelocity = FValues.RightVelocity;
      state.LeftVelocity = FValues.LeftVelocity;
      state.RightOctave = FValues.RightOctave;
      state.LeftOctave = FValues.LeftOctave;
      state.RightPatch = FSink ? static_cast<std::int32_t>(FPatches[1]) : 0;
      state.LeftPatch = FSink ? static_cast<std::int32_t>(FPatches[0]) : 0;
      state.Reserved[0] = 1;
      state.Reserved[1] = 0;
      state.Reserved[2] = 2;
      state.SmartSemitone = FSmartSemitone ? -1 : 0;
      state.KeyDefs = FValues.KeyDefs;
      FRecorder->StartRecord();
    }
  } else if (FRecorder) {
    FRecorder->StopRecord();
  }
  FView->RecordingChanged(on);
}

void TKoPerformance::SetPlaying(bool on) {
  if (FRecording || on == FPlaying)
    return;
  if (on) {
    SetAccompaniment(false);
    FPlaying = true;
    FView->PlayingChanged(true);
    if (FRecorder)
      FRecorder->StartPlay();
  } else {
    FPlaying = false;
    if (FRecorder)
      FRecorder->StopPlay();
    ResetPerformance({true, true, false, false, true, true, true, true});
    FView->PlayingChanged(false);
  }
  FKeyState.Clear();
}

void TKoPerformance::ApplySongState(const TSongState& songState) {
  const TSongState state = songState; // the song may change under the setters
  SetSmartSemitone(state.SmartSemitone != 0);
  SetKeyDefs(state.KeyDefs);
  SetRightOctave(state.RightOctave);
  SetLeftOctave(state.LeftOctave);
  SetTranspose(state.Transpose);
  SetRightVelocity(state.RightVelocity);
  SetLeftVelocity(state.LeftVelocity);
  SetRightVoiceByPatch(static_cast<std::uint32_t>(state.RightPatch));
  SetLeftVoiceByPatch(static_cast<std::uint32_t>(state.LeftPatch));
}

void TKoPerformance::PlayEvent(std::uint8_t kind, std::int32_t data, const TKeyDefTable* keyDefs) {
  switch (kind) {
  case sekKeyDown:
    DoKeyDown(data);
    break;
  case sekKeyUp:
    DoKeyUp(data);
    break;
  case sekRightOctave:
    SetRightOctave(data);
    break;
  case sekLeftOctave:
    SetLeftOctave(data);
    break;
  case sekTranspose:
    SetTranspose(data);
    break;
  case sekRightVoice:
    SetRightVoiceByPatch(static_cast<std::uint32_t>(data));
    break;
  case sekLeftVoice:
    SetLeftVoiceByPatch(static_cast<std::uint32_t>(data));
    break;
  case sekRightVelocity:
    SetRightVelocity(data);
    break;
  case sekLeftVelocity:
    SetLeftVelocity(data);
    break;
  case sekRightSustain:
    SetRightSustain(data != 0);
    break;
  case sekLeftSustain:
    SetLeftSustain(data != 0);
    break;
  case sekKeyDefs:
    if (keyDefs != nullptr)
      SetKeyDefs(*keyDefs);
    break;
  case sekSmartSemitone:
    SetSmartSemitone(data != 0);
    break;
  case sekRawMidi:
    PlayRawMidi(data);
    break;
  default:
    break;
  }
}

} // namespace melo

#pragma once

// The performance: everything the piano does with a key, without a window.
// It keeps the performance values, the key definition in use, the held keys
// and the notes they sound, the one-touch slots, and runs the key path and the
// command keys. Notes, patches and pedals go out as short MIDI messages; what
// a view should show is told to a TPerformanceView. The main window is one
// such view; song export runs a performance with no view at all.

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "input/KoDIKeyBoard.h"
#include "input/KoKeyDef.h"
#include "input/MidiInRouter.h"
#include "music/MidiInterfaces.h"
#include "sound/MidiByteParser.h"

namespace melo {

class TSimpleRecorder;
class TSimpleBuffer;
class TAutoAccomp;
struct TSongState;

struct TOneTouchSlot {
  bool Used = false;
  int LeftVoiceIndex = 0;
  int RightVoiceIndex = 0;
  int LeftVelocity = 0;
  int RightVelocity = 0;
  int LeftOctave = 0;
  int RightOctave = 0;
  int Transpose = 0;
};

// The notes a held key started. Its release stops exactly these, whatever
// changed meanwhile (transpose, octaves, voices, the key definition, smart
// semitone), so no note is ever left sounding.
struct TSoundingKey {
  struct TNote {
    int Hand = 0;
    int Note = 0;
  };
  int Count = 0;
  std::array<TNote, MaxKeyNotes> Notes{};
};

// Which parts ResetPerformance stops or clears.
struct TResetParts {
  bool StopAccomp = true;
  bool Silence = true;
  bool StopRecording = true;
  bool StopPlaying = true;
  bool ClearKeyState = true;
  bool ClearStaff = true;
  bool ResetPCKeyboard = true;
  bool ResetPianoKeyboards = true;
};
// The form used before opening files and dialogs: keeps accompaniment,
// recording and playback going.
inline constexpr TResetParts ResetForDialog{
    .StopAccomp = false, .StopRecording = false, .StopPlaying = false};

// Bank-64/65 patches of old songs and voice files, mapped onto General MIDI.
std::uint32_t MapLegacyPatch(std::uint32_t patch);

// Whether every drum-key press of the song comes with its raw drum note-on,
// as songs recorded here do. Such a song sounds its drums from the raw
// messages alone; version-1 songs and others holding only the key presses
// sound them from the keys. Either way each strike sounds once.
bool SongHasRawDrumStrikes(const TSimpleBuffer& events);

// Whether the song has no key presses, as a MIDI file's song: its notes are
// raw messages, which then show as they play.
bool SongHasNoKeyPresses(const TSimpleBuffer& events);

// The ranges of the transposition and of each hand's octave.
inline constexpr int MinTranspose = -4;
inline constexpr int MaxTranspose = 7;
inline constexpr int MinOctave = -1;
inline constexpr int MaxOctave = 1;

// The MIDI notes a key sounds with these values, as the key path plays it
// (smart semitone aside): sorted, without repeats; none for a drum key or a
// key without notes.
std::vector<int> KeySoundingNotes(const TPerformanceValues& values, int keyIndex);

// What a performance tells the one who shows it. Hands: 0 left, 1 right.
// Every call has a do-nothing default, so a view implements what it has.
class TPerformanceView {
public:
  virtual ~TPerformanceView() = default;

  // Displays. Texts are UTF-8, ready for the spin edits.
  virtual void ShowTranspose(int /*transpose*/, std::uint8_t /*keySignature*/,
                             const std::string& /*text*/) {}
  virtual void ShowOctave(int /*hand*/, int /*octave*/, const std::string& /*text*/) {}
  virtual void ShowVelocity(int /*hand*/, const std::string& /*text*/) {}
  virtual void ShowVoice(int /*hand*/, const std::string& /*text*/) {}
  virtual void ShowSmartSemitone(bool /*on*/) {}
  // The accompaniment's chord, UTF-8 ("C7", "#Fm"); empty once it stops.
  virtual void ShowChordName(const std::string& /*name*/) {}
  // The key definition changed: redraw the key labels, every key up.
  virtual void ShowKeyDefs() {}
  virtual void ShowPCKey(int /*keyIndex*/, std::uint8_t /*state*/) {}
  // A MIDI note lit (1) or released (0) on the hand's piano keyboard.
  virtual void ShowPianoKey(int /*hand*/, int /*note*/, std::uint8_t /*state*/) {}
  virtual void ShowStaff(const TKeyNote (&/*notes*/)[MaxKeyNotes], int /*transpose*/) {}
  virtual void ClearStaff() {}
  virtual void ReleasePianoKeys() {}
  virtual void ReleasePCKeys() {}
  // After recording or playback started or stopped (buttons, caption, edits).
  virtual void RecordingChanged(bool /*on*/) {}
  virtual void PlayingChanged(bool /*on*/) {}

  // Command keys whose work needs a window, a dialog or a device.
  virtual void CloseWindow() {}                   // Alt+F4
  virtual void ShowAbout() {}                     // Ctrl+Esc
  virtual void OpenSong() {}                      // Ctrl+O
  virtual void EditSongInfo() {}                  // Ctrl+Shift+O
  virtual void PractiseSong() {}                  // Ctrl+L
  virtual void SaveSongAs() {}                    // Ctrl+S
  virtual void QuickSave() {}                     // Ctrl+Shift+S
  virtual void StepMasterVolume(int /*delta*/) {} // Ctrl+PageUp +5, Ctrl+PageDown -5
  virtual void ToggleMousePedal() {}              // Ctrl+Enter
  virtual void BuildExternalVoiceLists() {}       // Alt+Backspace
  // Tab (+1) and Shift+Tab (-1) while an external sound set is in use: move
  // the right hand's external voice list and apply it (SetExternalVoice).
  // False when the view has no such list: the keys then step the voices of
  // the instrument list as without an external set.
  virtual bool StepExternalRightVoice(int /*step*/) { return false; }
};

class TKoPerformance {
public:
  // Milliseconds of a monotonic clock (double-tapped Space); wrapping is harmless.
  using TTickSource = std::function<std::uint32_t()>;

  // One row of the command table: a key, or a run of neighbouring keys of the
  // key table (the function keys, the digits), pressed with exactly the given
  // modifiers (ssShift, ssAlt, ssCtrl added; 0 for none). Run gets the place
  // of the pressed key in the run, 0 for a single key.
  struct TCommandKey {
    using TRun = void (*)(TKoPerformance& performance, int place);
    constexpr TCommandKey(int scanCode, std::uint8_t modifiers, const char* does, TRun run,
                          int runLength = 1)
        : FirstKey(KeyIndexOfScanCode(scanCode)), RunLength(runLength), Modifiers(modifiers),
          Does(does), Run(run) {}
    constexpr bool Matches(int key, std::uint8_t modifiers) const {
      return modifiers == Modifiers && key >= FirstKey && key < FirstKey + RunLength;
    }
    int FirstKey; // key index
    int RunLength;
    std::uint8_t Modifiers;
    // What the key does, in the words of the README's key list.
    const char* Does;
    TRun Run;
  };
  // The command keys, in the order the README lists them.
  static std::span<const TCommandKey> CommandKeys();

  // The values start with the default key definition, no shifts and
  // velocities 70 (left) and 100 (right).
  TKoPerformance();
  TKoPerformance(const TKoPerformance&) = delete;
  TKoPerformance& operator=(const TKoPerformance&) = delete;

  // Connections; each may be null (no view, no engine: values still change,
  // nothing sounds; no recorder; no accompaniment). The recorder's events are
  // not bound here: its owner forwards OnPlayStart to ApplySongState and
  // OnPlayEvent to PlayEvent.
  void SetView(TPerformanceView* view) { FView = view ? view : &FNoView; }
  void SetSink(TMidiMessageSink* sink) { FSink = sink; }
  void SetVoices(const TVoiceList* voices) { FVoices = voices; }
  void SetRecorder(TSimpleRecorder* recorder) { FRecorder = recorder; }
  // Takes on the accompaniment mode of this performance (SetAccompMode).
  void SetAccomp(TAutoAccomp* accomp);
  void SetTickSource(TTickSource source) { FTickCount = std::move(source); }
  // Told every note a key or the MIDI keyboard starts, as it sounds (a
  // practice session follows the player with it); null for none.
  using TNoteListener = std::function<void(int note)>;
  void SetNoteListener(TNoteListener listener) { FNoteListener = std::move(listener); }

  // A key of the PC keyboard pressed (down) or released, by scan code. Keys
  // without a key index, a press of a key already pressed and a release of
  // one not pressed change nothing; the rest go on to WMDIKeyDown/WMDIKeyUp.
  void KeyboardKey(int scanCode, bool down);
  // The window lost the keyboard: the toolkit delivers no releases for keys
  // let go meanwhile, so every key still pressed is released now
  // (ReleasePressedKeys).
  void ReleaseKeyboard();
  // Key presses and releases, from the keyboard or the PC-keyboard picture:
  // notebook replacement, and during playback only Esc and Power, which
  // stop it.
  void WMDIKeyDown(int scanCode, int keyIndex);
  void WMDIKeyUp(int scanCode, int keyIndex);
  // keyIndex is that of scanCode; playback's recorded keys give the scan
  // code alone.
  void DoKeyDown(int scanCode, int keyIndex);
  void DoKeyUp(int scanCode, int keyIndex);
  void DoKeyDown(int scanCode) { DoKeyDown(scanCode, KeyIndexOfScanCode(scanCode)); }
  void DoKeyUp(int scanCode) { DoKeyUp(scanCode, KeyIndexOfScanCode(scanCode)); }
  void DoNoteOn(int keyIndex);
  void DoNoteOff(int keyIndex);

  // A note from outside the key path (a MIDI keyboard) on the right hand:
  // velocity 0 releases it. Sounds, lights the key and records raw MIDI.
  void ExternalNote(int note, int velocity);
  // A MIDI keyboard's channel message, as received (any channel): notes on
  // the right hand with the player's velocity and the transposition, shown
  // and recorded as raw MIDI; controller 64 as the right sustain pedal;
  // every other message to channel 1, recorded as raw MIDI.
  void MidiInMessage(const std::uint8_t* bytes, int length);
  // Messages as above, in order; the staff is drawn once, after the last, so
  // a burst costs one drawing.
  void MidiInMessages(std::span<const TMidiBytes> messages);
  // Messages of the MIDI keyboard were lost: its notes end, its pedal lifts.
  void MidiInLost();
  const TMidiInRouter& MidiIn() const { return FMidiIn; }
  // A note sounded or stopped directly (the piano keyboards' mouse clicks):
  // not shown, not recorded.
  void SoundNote(int hand, int note, int velocity);
  void SilenceNote(int hand, int note);
  // Both sustain pedals down or up, recorded (the mouse pedal).
  void MousePedal(bool down);
  // The period pedal's renewal every 3 s: up and down again while it is on.
  void RenewPeriodPedal();

  // Performance values. While recording, every setter appends the event of
  // the value it set (the voice's patch, the pedal's position, the whole key
  // definition); callers never record a value themselves. The key path
  // records the keys pressed and released and the drum strikes, the MIDI
  // keyboard its raw messages.
  void SetTranspose(int value);
  void SetLeftOctave(int value);
  void SetRightOctave(int value);
  void SetLeftVelocity(int value);
  void SetRightVelocity(int value);
  void SetLeftVoice(int index);
  void SetRightVoice(int index);
  void SetLeftVoiceByPatch(std::uint32_t patch);
  void SetRightVoiceByPatch(std::uint32_t patch);
  // A voice of an external list chosen on a hand: its patch is set and
  // recorded as that hand's voice event.
  void SetExternalVoice(int hand, std::uint32_t patch);
  void SetLeftSustain(bool down);
  void SetRightSustain(bool down);
  void SetPeriodPedal(bool on);
  void SetSmartSemitone(bool on);
  // While the accompaniment runs, each left-hand key pressed hands the left
  // hand's chord over to it (TAutoAccomp::FollowLeftHand) and the view shows
  // the chord's name.
  void SetAccompaniment(bool on);
  // Drums only: the accompaniment plays no melodic parts. Fingered: the held
  // left-hand notes name the chord, else each key picks a fixed chord.
  void SetAccompMode(bool drumsOnly, bool fingered);
  void SetKeyDefs(const TKeyDefTable& table);
  void ResetPerformance(const TResetParts& parts = TResetParts{});
  void SilenceAll();

  // One-touch slots.
  void StoreOneTouch(int slot);
  void StoreOneTouchFree();
  void ClearOneTouch();
  void RecallOneTouch(int slot);
  void NextOneTouch();

  // Recording and playback. Without a recorder the flags still change (an
  // offline player sets Playing so that drum keys sound from the song's raw
  // MIDI only, then feeds ApplySongState and PlayEvent itself).
  void SetRecording(bool on);
  void SetPlaying(bool on);
  void ToggleRecording();
  void ApplySongState(const TSongState& state);
  // Set at each playback start (SongHasRawDrumStrikes): whether the drum keys
  // stay silent in playback because the song's raw messages strike them.
  void SetSongRawDrums(bool raw) { FSongRawDrums = raw; }
  bool SongRawDrums() const { return FSongRawDrums; }
  // Set at each playback start (SongHasNoKeyPresses): whether the raw note
  // messages played light the piano keys (left hand's channel on the left
  // keyboard, other channels but the drums' on the right) and the staff.
  void SetShowRawNotes(bool show) { FShowRawNotes = show; }
  void PlayEvent(std::uint8_t kind, std::int32_t data, const TKeyDefTable* keyDefs);
  // A message of a song played along with the keys (a practice session's
  // other part and accompaniment): sent as playback sends raw MIDI and, while
  // recording, recorded as raw MIDI, so it is heard and kept like the keys.
  void PlayAlongMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);

  // Switches.
  void SetNotebookMode(bool on) { FNotebookMode = on; }
  void SetLoopPlay(bool on) { FLoopPlay = on; }
  void SetUseExternalDLS(bool on) { FUseExternalDLS = on; }

  // Read access. The values change only through the setters above.
  const TPerformanceValues& Values() const { return FValues; }
  const TKeyDefTable& KeyDefTable() const { return FValues.KeyDefs; }
  int Transpose() const { return FValues.Transpose; }
  int LeftOctave() const { return FValues.LeftOctave; }
  int RightOctave() const { return FValues.RightOctave; }
  int LeftVelocity() const { return FValues.LeftVelocity; }
  int RightVelocity() const { return FValues.RightVelocity; }
  std::uint8_t QuickEdit() const { return FValues.QuickEditMode; }
  int LeftVoiceIndex() const { return FLeftVoiceIndex; }
  int RightVoiceIndex() const { return FRightVoiceIndex; }
  // The patch last set on a channel and the last note started on it, as far
  // as this performance sent them.
  std::uint32_t Patch(int channel) const;
  int LastNote(int channel) const;
  const TDIKeyboardBuffer& KeyState() const { return FKeyState; }
  bool Recording() const { return FRecording; }
  bool Playing() const { return FPlaying; }
  bool LoopPlay() const { return FLoopPlay; }
  bool NotebookMode() const { return FNotebookMode; }
  bool PeriodPedal() const { return FPeriodPedal; }
  bool SmartSemitone() const { return FSmartSemitone; }
  bool AccompRunning() const { return FAccompRunning; }
  bool AccompDrumsOnly() const { return FAccompDrumsOnly; }
  bool FingeredChords() const { return FFingeredChords; }
  bool UseExternalDLS() const { return FUseExternalDLS; }
  int OneTouchCursor() const { return FOneTouchCursor; }
  const TOneTouchSlot& OneTouch(int slot) const {
    return FOneTouch.at(static_cast<std::size_t>(slot));
  }
  // The notes of the held keys, as the staff shows them.
  void CollectHeldNotes(TKeyNote (&notes)[MaxKeyNotes]) const;

private:
  void ConnectMidiIn();
  void PlayMidiIn(const std::uint8_t* bytes, int length);
  // Draws the staff when a MIDI-in note began or ended since it was drawn.
  void ShowMidiInNotes();
  void KeyCommand(int keyIndex, std::uint8_t shift);
  void NoteKeyDown(int scanCode, int keyIndex);
  // The actions of the command keys.
  void SpaceDown();
  void NextVoice(bool right, int step);
  void Panic();
  void AddPercussVolume(int delta);
  void StepTranspose(int step);
  void StepRightVelocity(int step);
  void StepLeftVelocity(int step);
  void CycleRightOctave();
  void CycleLeftOctave();
  void ToggleSmartSemitone();
  void PlayLoop();
  void SelectAccompStyle(int index);
  void HandChordOver(int playedNote);
  void ShowHeldNotes();
  void PlayRawMidi(std::int32_t data);
  int SmartSemitoneNote(int keyIndex) const;
  bool IsSmartKey(int keyIndex) const;
  int UntransposedNote(int channel, int note) const;
  void StopKeyNotes(int keyIndex);
  int VoiceCount() const;
  int FindVoice(std::uint32_t patch) const;
  // Appends an event through the recorder's function while recording.
  template <typename... TParams, typename... TArgs>
  void Record(void (TSimpleRecorder::*append)(TParams...), TArgs&&... args) const;
  // The setters' work without the recording: a one-touch recall restores
  // these values unrecorded, as songs have always held it (its voices are
  // recorded).
  void ApplyTranspose(int value);
  void ApplyOctave(int hand, int value);
  void ApplyVelocity(int hand, int value);
  // The engine's message forms, with the channel state the key path reads.
  void NoteOn(int channel, int note, int velocity);
  void NoteOff(int channel, int note);
  void ControlChange(int channel, int controller, int value);
  void SendPatch(int channel, std::uint32_t patch);

  TPerformanceValues FValues;

  TPerformanceView FNoView;
  TPerformanceView* FView = &FNoView;
  TMidiMessageSink* FSink = nullptr;
  const TVoiceList* FVoices = nullptr;
  TSimpleRecorder* FRecorder = nullptr;
  TAutoAccomp* FAccomp = nullptr;
  TTickSource FTickCount;
  TNoteListener FNoteListener;

  TDIKeyboardBuffer FKeyState;
  TMidiInRouter FMidiIn;
  bool FMidiInNotesChanged = false;
  std::array<TSoundingKey, KeyCount> FSoundingKeys{};
  std::array<std::uint32_t, 16> FPatches{};
  std::array<std::uint8_t, 16> FLastNotes{};
  std::array<TOneTouchSlot, 10> FOneTouch{};
  int FOneTouchCursor = -1;
  int FLeftVoiceIndex = 0;
  int FRightVoiceIndex = 0;
  std::uint32_t FLastSpaceTick = 0;
  bool FRecording = false;
  bool FPlaying = false;
  bool FSongRawDrums = true;
  bool FShowRawNotes = false;
  // The raw notes shown while a song plays, in the order struck: hand, note.
  std::vector<std::pair<int, int>> FRawNotes;
  bool FLoopPlay = false;
  bool FNotebookMode = false;
  bool FPeriodPedal = false;
  bool FSmartSemitone = false;
  bool FAccompRunning = false;
  bool FAccompDrumsOnly = false;
  bool FFingeredChords = false;
  bool FUseExternalDLS = false;
};

} // namespace melo

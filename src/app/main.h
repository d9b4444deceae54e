#pragma once

// The main window: owns every control and long-lived object, turns key events
// into notes and commands, and keeps the performance values.

#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "input/KoDIKeyBoard.h"
#include "input/KoKeyDef.h"
#include "sound/KoDirectMusic.h"

namespace melo {

class TKoPCKeyboard;
class TRoVoravKb;
class TKoMainButtons;
class TKoSlider;
class TKoStaff;
class TKoSpinEdit;
class TSimpleRecorder;
class TAutoAccomp;
class TKoMultiGlyphButton;
class TfrmAbout;
struct TSetupOptions;

inline constexpr int ClientWidth = 621;
inline constexpr int ClientHeight = 436;

// Unit-level state of the program entry and the window.
extern bool MultiInstance;
extern int PortIndexArg;
extern std::uint8_t QuickEditMode; // 0 play, 1 raise the pressed key, 2 lower it
extern TKoDIKeyBoard* DIKeyboard;
// The About box shown while the window is created; gone once it shows.
extern TfrmAbout* Splash;

// Timers in message mode deliver their ticks through the UI thread's event loop.
void InstallUiDispatcher();

// Walks the arguments after the program name: "MULTIINSTANCE" in any case sets
// MultiInstance, a decimal number selects the output port (the last one wins).
void ParseCommandLine(const QStringList& arguments);

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
inline constexpr TResetParts ResetForDialog{false, true, false, false, true, true, true, true};

class TRoVoravForm : public QWidget {
public:
  // Milliseconds of a monotonic clock; tests replace it.
  using TTickSource = std::function<std::uint32_t()>;

  // Tests pass an engine mode that records the bytes instead of sounding them.
  explicit TRoVoravForm(TEngineMode engineMode = TEngineMode::Live, QWidget* parent = nullptr);
  ~TRoVoravForm() override;

  // The key path.
  void WMDIKeyDown(int scanCode, int keyIndex);
  void WMDIKeyUp(int scanCode, int keyIndex);
  void DoKeyDown(int scanCode);
  void DoKeyUp(int scanCode);
  void DoNoteOn(int keyIndex);
  void DoNoteOff(int keyIndex);

  // Performance values.
  void SetTranspose(int value);
  void SetLeftOctave(int value);
  void SetRightOctave(int value);
  void SetLeftVelocity(int value);
  void SetRightVelocity(int value);
  void SetLeftVoice(int index);
  void SetRightVoice(int index);
  void SetLeftVoiceByPatch(std::uint32_t patch);
  void SetRightVoiceByPatch(std::uint32_t patch);
  void SetLeftSustain(bool down);
  void SetRightSustain(bool down);
  void SetPeriodPedal(bool on);
  void SetSmartSemitone(bool on);
  void SetAccompaniment(bool on);
  void SetKeyDefs(const TKeyDefTable& table);
  void ResetPerformance(const TResetParts& parts = TResetParts{});

  // One-touch slots.
  void StoreOneTouch(int slot);
  void StoreOneTouchFree();
  void ClearOneTouch();
  void RecallOneTouch(int slot);
  void NextOneTouch();

  // Recording and playback.
  void SetRecording(bool on);
  void SetPlaying(bool on);
  void QuickSave();
  void UpdateButtons();
  void UpdateCaption();
  void ApplySongState();
  void SongEnded();
  void PlayEvent(std::uint8_t kind, std::int32_t data, const TKeyDefTable* keyDefs);

  void ApplySettings(const TSetupOptions& options);

  // Read access for the owner and the tests.
  TKoDirectMusic* Music() const { return FMusic.get(); }
  TSimpleRecorder& Recorder() const { return *FRecorder; }
  TAutoAccomp& AutoAccomp() const { return *FAutoAccomp; }
  TKoPCKeyboard& PCKeyboard() const { return *FPCKeyboard; }
  TRoVoravKb& LeftKeyboard() const { return *FLeftKeyboard; }
  TRoVoravKb& RightKeyboard() const { return *FRightKeyboard; }
  TKoMainButtons& MainButtons() const { return *FMainButtons; }
  const TDIKeyboardBuffer& KeyState() const { return FKeyState; }
  int LeftVoiceIndex() const { return FLeftVoiceIndex; }
  int RightVoiceIndex() const { return FRightVoiceIndex; }
  bool Recording() const { return FRecording; }
  bool Playing() const { return FPlaying; }
  bool LoopPlay() const { return FLoopPlay; }
  bool PeriodPedal() const { return FPeriodPedal; }
  bool SmartSemitone() const { return FSmartSemitone; }
  bool AccompRunning() const { return FAccompRunning; }
  int OneTouchCursor() const { return FOneTouchCursor; }
  const TOneTouchSlot& OneTouch(int slot) const {
    return FOneTouch.at(static_cast<std::size_t>(slot));
  }
  // 0 transpose, 1/2 left/right octave, 3/4 left/right velocity, 5/6 left/right voice.
  TKoSpinEdit& SpinEdit(int edit) const;
  void SetNotebookMode(bool on) { FNotebookMode = on; }
  void SetTickSource(TTickSource source) { FTickCount = std::move(source); }
  void Timer1Timer();

protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool focusNextPrevChild(bool next) override;

private:
  void CreateControls();
  void CreateSpinEdits();
  void StartSoundEngine();
  void SilenceAll();
  void LoadBuiltInSoundSet();
  void FormDestroy();
  void KeyCommand(int scanCode, std::uint8_t shift);
  void NoteKeyDown(int scanCode, int keyIndex);
  void SpaceDown();
  void NextVoice(bool right);
  void Panic();
  void ToggleRecording();
  void AddPercussVolume(int delta);
  void ChangeTempo(double factor);
  void CollectHeldNotes(TKeyNote (&notes)[MaxKeyNotes]) const;
  void ShowHeldNotes();
  int SmartSemitoneNote(int keyIndex) const;
  bool IsSmartKey(int keyIndex) const;
  int UntransposedNote(int channel, int note) const;
  void ShowNoteKey(int hand, int note, std::uint8_t state);
  void StopKeyNotes(int keyIndex);
  TSimpleRecorder* Rec() const;
  void SpinClicked(const TKoSpinEdit* edit, int tag);
  void PianoKeyDown(bool right, int position);
  void PianoKeyUp(bool right, int position);
  void PCKeyMouseMove(TKoMultiGlyphButton* sender);
  void MainButtonClick(int index);
  void OpenHelp();
  void SetEditsEnabled(bool enabled);
  std::uint32_t Now() const;

  std::unique_ptr<TKoPCKeyboard> FPCKeyboard;
  std::unique_ptr<TRoVoravKb> FRightKeyboard;
  std::unique_ptr<TRoVoravKb> FLeftKeyboard;
  std::unique_ptr<TKoMainButtons> FMainButtons;
  TKoSlider* FVolumeSlider = nullptr;
  std::unique_ptr<TKoStaff> FStaff;
  std::unique_ptr<TKoSpinEdit> FTransposeEdit;
  std::unique_ptr<TKoSpinEdit> FLeftOctaveEdit;
  std::unique_ptr<TKoSpinEdit> FRightOctaveEdit;
  std::unique_ptr<TKoSpinEdit> FLeftVelocityEdit;
  std::unique_ptr<TKoSpinEdit> FRightVelocityEdit;
  std::unique_ptr<TKoSpinEdit> FLeftVoiceEdit;
  std::unique_ptr<TKoSpinEdit> FRightVoiceEdit;
  std::unique_ptr<TKoDIKeyBoard> FDIKeyboard;
  TDIKeyboardBuffer FKeyState;
  std::unique_ptr<TKoDirectMusic> FMusic;
  std::unique_ptr<TSimpleRecorder> FRecorder;
  std::unique_ptr<TAutoAccomp> FAutoAccomp;
  QString FSongFileName;
  bool FRecording = false;
  bool FPlaying = false;
  bool FLoopPlay = false;
  bool FNotebookMode = false;
  bool FPeriodPedal = false;
  bool FSmartSemitone = false;
  bool FMousePedal = false;
  bool FAccompRunning = false;
  bool FUseExternalDLS = false;
  int FSynthVolume = 0;
  int FLatency = 0;
  int FWritePeriod = 0;
  int FLeftVoiceIndex = 0;
  int FRightVoiceIndex = 0;
  std::array<TOneTouchSlot, 10> FOneTouch{};
  int FOneTouchCursor = -1;
  std::array<TSoundingKey, KeyCount> FSoundingKeys{};
  bool FEditClickGuard = false;
  std::uint32_t FLastSpaceTick = 0;
  QTimer Timer1;
  TTickSource FTickCount;
  const TEngineMode FEngineMode;
};

} // namespace melo

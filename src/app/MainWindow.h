#pragma once

// The main window: owns every control and long-lived object and shows the
// performance (KoPerformance), which turns key events into notes and commands
// and keeps the performance values. The Parts' method names stay here as
// calls into it.

#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/AudioMidiDialog.h"
#include "app/AudioMidiSettings.h"
#include "app/CommandLine.h"
#include "app/ExternalVoiceLists.h"
#include "app/KoPerformance.h"
#include "app/MidiKeyboardInput.h"
#include "app/PracticeSong.h"
#include "app/VolumeControl.h"
#include "controls/SkinLayout.h"
#include "input/KoDIKeyBoard.h"
#include "input/KoKeyDef.h"
#include "sound/KoDirectMusic.h"

class QComboBox;
class QLabel;

namespace melo {

class TKoPCKeyboard;
class TRoVoravKb;
class TKoMainButtons;
class TKoSlider;
class TKoStaff;
class TKoSpinEdit;
class TSimpleRecorder;
class TRecordingKeeper;
class TAutoAccomp;
class TKoMultiGlyphButton;
class TfrmAbout;
class TPointerClip;
class TPracticeWindow;
struct TSetupConfig;
class TSongCommands;
class TSongDialogs;
struct TSetupOptions;
struct TSongInfo;

inline constexpr int ClientWidth = 621;
inline constexpr int ClientHeight = 436;

// Unit-level state of the window: the About box shown while the window is
// created; gone once it shows.
extern TfrmAbout* Splash;

// Timers in message mode deliver their ticks through the UI thread's event loop.
void InstallUiDispatcher();

class TRoVoravForm : public QWidget {
public:
  // Tests pass an engine mode that records the bytes instead of sounding them.
  explicit TRoVoravForm(TEngineMode engineMode = TEngineMode::Live, QWidget* parent = nullptr);
  ~TRoVoravForm() override;

  // Recording and playback.
  // Opens a chosen song file as OpenSong does after its dialog; true when it loaded.
  bool OpenSongFile(const QString& fileName);
  // The save dialog's export: the song in memory with info's texts to a MIDI,
  // audio or video file named by fileName's extension; false for any other name.
  bool ExportSong(const QString& fileName, const TSongInfo& info);
  // Open, Save As, quick save and the song information; tests answer their dialogs.
  TSongCommands& SongCommands() const { return *FSongCommands; }

  // Opens the practice window on a song file (MIDI or our own): while it
  // practises, the PC-keyboard picture marks the keys to press next. False,
  // with a message, when the file cannot be read.
  bool OpenPractice(const QString& fileName);
  TPracticeWindow* Practice() const { return FPractice; }

  void ApplySettings(const TSetupOptions& options);

  // The mouse buttons as both sustain pedals, the pointer kept on the window's background.
  void SetMousePedal(bool on);
  // Dialogs. Opening one first releases every held key, as losing the foreground does.
  void OpenSettings();
  void EditKeyDefinition(int keyIndex);
  // The Audio and MIDI page, opened from the settings dialog.
  void OpenAudioMidi();
  // Tests stand in for the dialogs: (config, options), (table, key index) and (choices, lists),
  // in and out.
  using TSetupRunner = std::function<bool(TSetupConfig&, TSetupOptions&)>;
  using TKeyDefRunner = std::function<bool(TKeyDefTable&, int)>;
  void SetDialogRunners(TSetupRunner setup, TKeyDefRunner keyDef,
                        TAudioMidiRunner audioMidi = nullptr) {
    FSetupRunner = std::move(setup);
    FKeyDefRunner = std::move(keyDef);
    FAudioMidiRunner = std::move(audioMidi);
  }

  // Read access for the owner and the tests.
  TKoDirectMusic* Music() const { return FMusic.get(); }
  TSimpleRecorder& Recorder() const { return *FRecorder; }
  TAutoAccomp& AutoAccomp() const { return *FAutoAccomp; }
  TKoPCKeyboard& PCKeyboard() const { return *FPCKeyboard; }
  TRoVoravKb& LeftKeyboard() const { return *FLeftKeyboard; }
  TRoVoravKb& RightKeyboard() const { return *FRightKeyboard; }
  TKoMainButtons& MainButtons() const { return *FMainButtons; }
  TKoSlider& VolumeSlider() const { return *FVolumeSlider; }
  // The master volume and the slider's two modes.
  TVolumeControl& Volume() const { return *FVolume; }
  bool MousePedal() const { return FMousePedal; }
  TPointerClip& PointerClip() const { return *FPointerClip; }
  // Drop-down lists of the external sound set's voices for each hand.
  const TExternalVoiceLists& ExternalVoices() const { return FExternalVoices; }
  TKoPerformance& Performance() { return FPerformance; }
  const TKoPerformance& Performance() const { return FPerformance; }
  // 0 transpose, 1/2 left/right octave, 3/4 left/right velocity, 5/6 left/right voice.
  TKoSpinEdit& SpinEdit(int edit) const;
  // The watch of the sound output (every OutputWatchMs): says once, on
  // stderr and in the caption, that the output was lost, and that it is back.
  void CheckSoundOutput();

protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool focusNextPrevChild(bool next) override;

private:
  class TView;

  void CreateControls();
  void ConnectControls();
  void StartSoundEngine();
  // Opens the MIDI input anew (the old one closes) and connects source, if any; false when it
  // could not.
  void LoadBuiltInSoundSet();
  void UseBuiltInSetInstead(const TSoundSetResult& why);
  void FormDestroy();
  void SpinClicked(int edit, int tag);
  void PianoKeyDown(bool right, int position);
  void PianoKeyUp(bool right, int position);
  void PCKeyMouseMove(TKoMultiGlyphButton* sender);
  void MainButtonClick(int index);
  void OpenHelp();
  void FormActivate();
  void ReleaseHeldKeys();
  void UpdateButtons();
  void UpdateCaption();
  // A message beside the window that does not hold it up.
  void ShowNotice(const QString& text);
  void ApplySongState();
  void SongEnded();
  // Opens the practice window on the song, in place of any before.
  void ShowPractice(TPracticeSong song, const QString& songName);
  // Names the songs recovered from journals at start-up in a message.
  void TellRecovered(const std::vector<std::filesystem::path>& songs);

  std::unique_ptr<TKoPCKeyboard> FPCKeyboard;
  std::unique_ptr<TRoVoravKb> FRightKeyboard;
  std::unique_ptr<TRoVoravKb> FLeftKeyboard;
  std::unique_ptr<TKoMainButtons> FMainButtons;
  TKoSlider* FVolumeSlider = nullptr;
  QLabel* FChordName = nullptr; // the accompaniment's chord
  std::unique_ptr<TKoStaff> FStaff;
  std::array<std::unique_ptr<TKoSpinEdit>, SpinEditCount> FSpinEdits;
  std::unique_ptr<TKoDirectMusic> FMusic;
  std::unique_ptr<TSimpleRecorder> FRecorder;
  std::unique_ptr<TRecordingKeeper> FKeeper; // keeps what FRecorder records until it is saved
  std::unique_ptr<TAutoAccomp> FAutoAccomp;
  TInstrumentListVoices FVoices;
  std::unique_ptr<TView> FView;
  std::unique_ptr<TSongDialogs> FSongDialogs;
  std::unique_ptr<TSongCommands> FSongCommands;
  TKoPerformance FPerformance;
  TExternalVoiceLists FExternalVoices{*this, FPerformance};
  TMidiKeyboardInput FMidiIn{*this, FPerformance}; // started with the live engine only
  QString FSongFileName;
  std::unique_ptr<TVolumeControl> FVolume;
  TPointerClip* FPointerClip = nullptr;
  TPracticeWindow* FPractice = nullptr; // a window of its own, deleted before the performance
  int FActivations = 0;
  bool FMousePedal = false;
  bool FPointerNotHeldSaid = false;
  int FLatency = 0;
  int FWritePeriod = 0;
  bool FEditClickGuard = false;
  TSetupRunner FSetupRunner;
  TKeyDefRunner FKeyDefRunner;
  TAudioMidiRunner FAudioMidiRunner;
  // The audio output and MIDI input this run starts with.
  const TAudioMidiChoices FStartChoices = ChoicesForRun(LoadAudioMidi(), AudioOutputArg, MidiInArg);
  // Renews the period pedal every PeriodPedalMs while it is on.
  QTimer FPeriodPedalTimer;
  QTimer FOutputWatch;
  const TEngineMode FEngineMode;
};

} // namespace melo

#include "app/MainWindow.h"
#include "app/SoundSetMessages.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QMessageBox>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "app/About.h"
#include "app/SimpleRecorder.h"
#include "app/SongCommands.h"
#include "app/SongExportDialog.h"
#include "app/SongInfo.h"
#include "controls/GlyphBmp.h"
#include "controls/HandCursors.h"
#include "controls/KoMainButtons.h"
#include "controls/KoPCKeyboard.h"
#include "controls/KoSlider.h"
#include "controls/KoSpinEdit.h"
#include "controls/KoStaff.h"
#include "controls/PointerClip.h"
#include "controls/RoVoravKb.h"
#include "controls/SkinControls.h"
#include "controls/SkinLayout.h"
#include "input/KeyEventFeed.h"
#include "input/SetKeyDef.h"
#include "music/AutoAccomp.h"
#include "music/KoMetronome.h"
#include "music/KoTimer.h"
#include "platform/DataFolder.h"
#include "platform/GlobalState.h"
#include "platform/Language.h"
#include "sound/Audio.h"
#include "sound/FavoriteVoices.h"
#include "sound/KoDirectMusic.h"
#include "sound/MidiInPorts.h"
#include "sound/MyVolume.h"
#include "sound/Setup.h"
#include "sound/SetupConfig.h"

namespace melo {

TfrmAbout* Splash = nullptr;

namespace {

// Put back after each test (platform/GlobalState.h).
[[maybe_unused]] const bool StateRegistered = RegisterGlobalVariables(Splash);

constexpr int PeriodPedalMs = 3000;
// Loop playback rests this long between passes. The rest blocks the window's
// thread on purpose: the window does not respond meanwhile, as the loop has
// always behaved; it is the only sleep allowed on that thread.
constexpr int LoopPauseMs = 500;
constexpr int OutputWatchMs = 500;
constexpr const char* MainCaption = QT_TRANSLATE_NOOP("TRoVoravForm", "Melotastico模拟钢琴");
constexpr const char* OutputLostCaption = QT_TRANSLATE_NOOP("TRoVoravForm", "（声音输出已中断）");

// Where the mouse pedal keeps the pointer: window background.
constexpr QPoint MousePedalPoint(400, 120);
// The external-voice lists.
constexpr int ExternalListTop = 240;
constexpr int ExternalListWidth = 201;
constexpr int ExternalListLeft[HandCount] = {32, 272};
constexpr int KeyOneIndex = 14; // where the settings dialog opens the key-definition editor

} // namespace

// What the performance shows, on the window's controls.
class TRoVoravForm::TView final : public TPerformanceView {
public:
  explicit TView(TRoVoravForm& form) : F(form) {}

  void ShowTranspose(int, std::uint8_t keySignature, const std::string& text) override {
    F.FStaff->SetKeySignature(keySignature);
    F.FTransposeEdit->SetText(QString::fromStdString(text));
  }
  void ShowOctave(int hand, int octave, const std::string& text) override {
    if (hand == LeftHand) {
      F.FLeftOctaveEdit->SetText(QString::fromStdString(text));
      F.FPCKeyboard->SetLeftOctave(octave);
    } else {
      F.FRightOctaveEdit->SetText(QString::fromStdString(text));
      F.FPCKeyboard->SetRightOctave(octave);
    }
  }
  void ShowVelocity(int hand, const std::string& text) override {
    (hand == LeftHand ? F.FLeftVelocityEdit : F.FRightVelocityEdit)
        ->SetText(QString::fromStdString(text));
  }
  void ShowVoice(int hand, const std::string& text) override {
    (hand == LeftHand ? F.FLeftVoiceEdit : F.FRightVoiceEdit)
        ->SetText(QString::fromStdString(text));
  }
  void ShowSmartSemitone(bool on) override { F.FPCKeyboard->SetSmartSemitone(on); }
  void ShowKeyDefs() override {
    F.FPCKeyboard->DrawAllLabels();
    F.FPCKeyboard->AllKeysUp();
  }
  void ShowPCKey(int keyIndex, std::uint8_t state) override {
    F.FPCKeyboard->SetKeyState(keyIndex, state);
  }
  void ShowPianoKey(int hand, int note, std::uint8_t state) override {
    (hand == LeftHand ? F.FLeftKeyboard : F.FRightKeyboard)->SetKeyState(note - 24, state);
  }
  void ShowStaff(const TKeyNote (&notes)[MaxKeyNotes], int transpose) override {
    TKeyNote shown[MaxKeyNotes];
    std::copy(std::begin(notes), std::end(notes), std::begin(shown));
    F.FStaff->ShowNotes(shown, transpose);
  }
  void ClearStaff() override { F.FStaff->Clear(); }
  void ReleasePianoKeys() override {
    F.FLeftKeyboard->ReleaseAll();
    F.FRightKeyboard->ReleaseAll();
  }
  void ReleasePCKeys() override { F.FPCKeyboard->AllKeysUp(); }
  void RecordingChanged(bool on) override {
    F.FMainButtons->SetButtonState(mbRecord, on ? 1 : 0);
    if (on) {
      F.FSongFileName = QString::fromLatin1(NewSongFileName);
      F.UpdateCaption();
    }
    F.UpdateButtons();
  }
  void PlayingChanged(bool on) override {
    F.FMainButtons->SetButtonState(mbPlay, on ? 1 : 0);
    F.SetEditsEnabled(!on);
    if (!on)
      F.FVolumeSlider->setEnabled(true);
    F.UpdateButtons();
  }
  void CloseWindow() override { F.close(); }
  void ShowAbout() override { melo::ShowAbout(&F); }
  void QuickSave() override { F.QuickSave(); }
  void StepMasterVolume(int delta) override {
    F.FVolume->SetMasterVolume(F.FVolume->GetMasterVolume() + delta);
  }
  void ToggleMousePedal() override { F.SetMousePedal(!F.FMousePedal); }
  void BuildExternalVoiceLists() override { F.BuildExternalVoiceLists(); }
  bool StepExternalRightVoice(int step) override { return F.StepExternalRightVoice(step); }
  void OpenSong() override { F.OpenSong(); }
  void EditSongInfo() override { F.EditSongInfo(); }
  void SaveSongAs() override { F.SaveSongAs(); }

private:
  TRoVoravForm& F;
};

void InstallUiDispatcher() {
  SetUiDispatcher(
      [](TUiCall call) { QMetaObject::invokeMethod(qApp, std::move(call), Qt::QueuedConnection); });
}

// ---------------------------------------------------------------------------
// Creation and shut-down

TRoVoravForm::TRoVoravForm(TEngineMode engineMode, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      FView(std::make_unique<TView>(*this)), FEngineMode(engineMode) {
  FPerformance.SetView(FView.get());
  FPerformance.SetVoices(&FVoices);
  setWindowTitle(QCoreApplication::translate("TRoVoravForm", MainCaption));
  // The paint covers the whole client area: never erase first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::StrongFocus);
  QFont font(QStringLiteral("宋体"));
  font.setPixelSize(12);
  setFont(font);
  LoadSkinBitmaps();
  setFixedSize(ClientWidth, ClientHeight);
  SetMixerMessageHandler([this](const std::string& text) {
    QMessageBox::information(this, windowTitle(), QString::fromStdString(text));
  });
  FPointerClip = new TPointerClip(this);
  CreateControls();

  StartSoundEngine();
  FVolume->SetEngine(FMusic.get());
  FVolume->Connect();
  FPerformance.SetTranspose(0);
  FPerformance.SetLeftOctave(0);
  FPerformance.SetRightOctave(0);
  FPerformance.SetLeftVelocity(StartLeftVelocity);
  FPerformance.SetRightVelocity(StartRightVelocity);

  FRecorder = std::make_unique<TSimpleRecorder>();
  FPerformance.SetRecorder(FRecorder.get());
  FRecorder->OnPlayStart = [this](TSimpleRecorder&) { ApplySongState(); };
  FRecorder->OnPlayEnd = [this](TSimpleRecorder&) { SongEnded(); };
  FRecorder->OnPlayEvent = [this](TSimpleRecorder&, std::uint8_t kind, std::int32_t eventData,
                                  const TKeyDefTable* keyDefs) {
    FPerformance.PlayEvent(kind, eventData, keyDefs);
  };
  FSongDialogs = std::make_unique<TSongDialogsOnScreen>(this);
  FSongCommands = std::make_unique<TSongCommands>(
      *FRecorder, FSongFileName,
      TSongWindowHooks{[this] { return Recording() || Playing(); },
                       [this] { FPerformance.ResetPerformance(ResetForDialog); },
                       [this] { UpdateCaption(); }, [this] { UpdateButtons(); },
                       [this](const QString& fileName, const TSongInfo& info) {
                         return ExportSong(fileName, info);
                       },
                       // Also on standard error, for a song named on the command line.
                       [](const QString& fileName) {
                         std::fprintf(stderr, "melotastico: %s: cannot be read as a song\n",
                                      QFile::encodeName(fileName).constData());
                       }},
      *FSongDialogs);

  FVolume->ResetSynthVolume();
  FPerformance.SetRightVoice(0);
  FPerformance.SetLeftVoice(0);
  LoadDefaultFavoriteVoices();
  FPerformance.SetRightVoice(0);
  FPerformance.SetLeftVoice(0);
  if (FMusic)
    FMusic->SelectDrumKit();

  FAutoAccomp = std::make_unique<TAutoAccomp>();
  FAutoAccomp->Engine = FMusic.get();
  FAutoAccomp->SetAccompStyleGroup(0);
  FAutoAccomp->OnAutoChordChange = [](TAutoAccomp&, const std::string&) {};
  FAutoAccomp->Recorder = FRecorder.get();
  FPerformance.SetAccomp(FAutoAccomp.get());
  FPerformance.ClearOneTouch();

  connect(&FPeriodPedalTimer, &QTimer::timeout, this, [this] { FPerformance.RenewPeriodPedal(); });
  FPeriodPedalTimer.start(PeriodPedalMs);
  connect(&FOutputWatch, &QTimer::timeout, this, [this] { CheckSoundOutput(); });
  FOutputWatch.start(OutputWatchMs);
  if (FEngineMode == TEngineMode::Live)
    StartMidiIn();
}

void TRoVoravForm::StartMidiIn() {
  // The reader thread never waits for the window: it queues what comes and
  // wakes this thread once until it takes; a flood cannot pile up here.
  FMidiInBatch = std::make_unique<TMidiInQueue::TBatch>();
  FMidiIn = std::make_unique<TMidiInPorts>([this] {
    QMetaObject::invokeMethod(
        this, [this] { PlayMidiIn(); }, Qt::QueuedConnection);
  });
  if (!MidiInArg.empty() && !FMidiIn->Connect(MidiInArg))
    std::fprintf(stderr, "Melotastico: no MIDI port \"%s\" to play from\n", MidiInArg.c_str());
}

void TRoVoravForm::PlayMidiIn() {
  if (!FMidiIn)
    return; // closing: what was still queued is dropped
  FMidiIn->Take(*FMidiInBatch);
  if (FMidiInBatch->Lost) {
    FPerformance.MidiInLost();
    if (!FMidiInLossSaid) {
      std::fprintf(stderr, "Melotastico: MIDI input came faster than it could be played; some "
                           "messages were dropped and the MIDI keyboard's notes released\n");
    }
    FMidiInLossSaid = true;
  }
  FPerformance.MidiInMessages(std::span(FMidiInBatch->Messages.data(), FMidiInBatch->Count));
}

TRoVoravForm::~TRoVoravForm() {
  FormDestroy();
}

void TRoVoravForm::FormDestroy() {
  FPeriodPedalTimer.stop();
  FOutputWatch.stop();
  // Its reader thread ends here; messages it queued are dropped with the window.
  FMidiIn.reset();
  FPerformance.ResetPerformance();
  SetMousePedal(false);
  SetMixerMessageHandler({});
  FVolume->Disconnect();
  if (FAutoAccomp)
    FAutoAccomp->Engine = nullptr;
}

void TRoVoravForm::CreateControls() {
  TSkinControls c = BuildSkinControls(this, FPerformance.Values());
  FPCKeyboard = std::move(c.PCKeyboard);
  FRightKeyboard = std::move(c.RightKeyboard);
  FLeftKeyboard = std::move(c.LeftKeyboard);
  FMainButtons = std::move(c.MainButtons);
  FVolumeSlider = c.VolumeSlider;
  FVolume = std::make_unique<TVolumeControl>(*FVolumeSlider);
  FStaff = std::move(c.Staff);
  FTransposeEdit = std::move(c.SpinEdits[seTranspose]);
  FLeftOctaveEdit = std::move(c.SpinEdits[seLeftOctave]);
  FRightOctaveEdit = std::move(c.SpinEdits[seRightOctave]);
  FLeftVelocityEdit = std::move(c.SpinEdits[seLeftVelocity]);
  FRightVelocityEdit = std::move(c.SpinEdits[seRightVelocity]);
  FLeftVoiceEdit = std::move(c.SpinEdits[seLeftVoice]);
  FRightVoiceEdit = std::move(c.SpinEdits[seRightVoice]);
  ConnectControls();
  // Fires the change: every start sets the master volume to 50.
  FVolumeSlider->SetPosition(50);
}

void TRoVoravForm::ConnectControls() {
  FPCKeyboard->SetOnKeyDown([this](TKoMultiGlyphButton* sender) {
    const int key = sender->Tag();
    if (FEditClickGuard) {
      FPCKeyboard->SetKeyState(key, 0);
      FEditClickGuard = false;
      return;
    }
    FPerformance.WMDIKeyDown(KeyScanCodes[static_cast<std::size_t>(key)], key);
  });
  FPCKeyboard->SetOnKeyUp([this](TKoMultiGlyphButton* sender) {
    const int key = sender->Tag();
    FPerformance.WMDIKeyUp(KeyScanCodes[static_cast<std::size_t>(key)], key);
  });
  FPCKeyboard->SetOnMouseMove([this](TKoMultiGlyphButton* sender, Qt::KeyboardModifiers, int, int) {
    PCKeyMouseMove(sender);
  });
  // The press of the double-click's second click follows once the editor has closed: it only
  // shows the key up. Opened from the settings, nothing follows, so no click is swallowed.
  FPCKeyboard->SetOnEditKey([this](TKoMultiGlyphButton* sender) {
    FEditClickGuard = true;
    EditKeyDefinition(sender->Tag());
  });

  FRightKeyboard->SetOnKeyDown([this](TKoMultiGlyphButton*, int p) { PianoKeyDown(true, p); });
  FRightKeyboard->SetOnKeyUp([this](TKoMultiGlyphButton*, int p) { PianoKeyUp(true, p); });
  FLeftKeyboard->SetOnKeyDown([this](TKoMultiGlyphButton*, int p) { PianoKeyDown(false, p); });
  FLeftKeyboard->SetOnKeyUp([this](TKoMultiGlyphButton*, int p) { PianoKeyUp(false, p); });
  FMainButtons->SetOnClick([this](TKoMultiGlyphButton* sender) { MainButtonClick(sender->Tag()); });
  for (TKoSpinEdit* edit : {FTransposeEdit.get(), FLeftOctaveEdit.get(), FRightOctaveEdit.get(),
                            FLeftVelocityEdit.get(), FRightVelocityEdit.get(), FLeftVoiceEdit.get(),
                            FRightVoiceEdit.get()}) {
    edit->SetOnClick(
        [this, edit](TKoMultiGlyphButton* sender) { SpinClicked(edit, sender->Tag()); });
  }
}

TKoSpinEdit& TRoVoravForm::SpinEdit(int edit) const {
  const std::array<TKoSpinEdit*, 7> edits = {FTransposeEdit.get(),     FLeftOctaveEdit.get(),
                                             FRightOctaveEdit.get(),   FLeftVelocityEdit.get(),
                                             FRightVelocityEdit.get(), FLeftVoiceEdit.get(),
                                             FRightVoiceEdit.get()};
  return *edits.at(static_cast<std::size_t>(edit));
}

void TRoVoravForm::SpinClicked(const TKoSpinEdit* edit, int tag) {
  const int step = tag == 0 ? 1 : -1;
  const int count = InstrumentList.Count;
  const TPerformanceValues& values = FPerformance.Values();
  if (edit == FTransposeEdit.get()) {
    FPerformance.SetTranspose(values.Transpose + step);
  } else if (edit == FLeftOctaveEdit.get()) {
    FPerformance.SetLeftOctave(values.LeftOctave + step);
  } else if (edit == FRightOctaveEdit.get()) {
    FPerformance.SetRightOctave(values.RightOctave + step);
  } else if (edit == FLeftVelocityEdit.get()) {
    FPerformance.SetLeftVelocity(values.LeftVelocity + step);
  } else if (edit == FRightVelocityEdit.get()) {
    FPerformance.SetRightVelocity(values.RightVelocity + step);
  } else if (count > 0 && edit == FLeftVoiceEdit.get()) {
    FPerformance.SetLeftVoice((LeftVoiceIndex() + step + count) % count);
  } else if (count > 0 && edit == FRightVoiceEdit.get()) {
    FPerformance.SetRightVoice((RightVoiceIndex() + step + count) % count);
  }
}

void TRoVoravForm::PCKeyMouseMove(TKoMultiGlyphButton* sender) {
  const TKeyDef& def = FPerformance.Values().KeyDefs.Keys[sender->Tag()];
  if (def.NoteCount > 0)
    sender->setCursor(ScreenCursor(def.Notes[0].Keyboard == LeftHand ? crLeftHand : crRightHand));
}

void TRoVoravForm::PianoKeyDown(bool right, int position) {
  const int note = position + 24;
  const int hand = right ? RightHand : LeftHand;
  const TPerformanceValues& values = FPerformance.Values();
  const int velocity = right ? values.RightVelocity : values.LeftVelocity;
  TKeyNote notes[MaxKeyNotes];
  for (TKeyNote& n : notes)
    n = TKeyNote{0, 0, 4, 0, 0};
  NoteFromMidi(note, values.Transpose, notes[0]);
  notes[0].Keyboard = static_cast<std::uint8_t>(hand);
  notes[0].Velocity = velocity;
  FStaff->ShowNotes(notes, values.Transpose);
  FPerformance.SoundNote(hand, note, velocity);
}

void TRoVoravForm::PianoKeyUp(bool right, int position) {
  FStaff->Clear();
  FPerformance.SilenceNote(right ? 1 : 0, position + 24);
}

void TRoVoravForm::MainButtonClick(int index) {
  switch (index) {
  case mbOpen:
    OpenSong();
    break;
  case mbSave:
    SaveSongAs();
    break;
  case mbPlay:
    if (KeyState().ShiftState() == ssShift)
      FPerformance.SetLoopPlay(true);
    FPerformance.SetPlaying(!Playing());
    break;
  case mbRecord:
    FPerformance.SetRecording(!Recording());
    break;
  case mbSetup:
    OpenSettings();
    break;
  case mbHelp:
    OpenHelp();
    break;
  case mbAbout:
    FPerformance.ResetPerformance();
    ShowAbout(this);
    break;
  default:
    break;
  }
}

void TRoVoravForm::OpenHelp() {
  // Our own page among the program's files; a missing page shows nothing.
  const std::filesystem::path page = HelpPageFile(CurrentLanguage());
  std::error_code error;
  if (std::filesystem::is_regular_file(page, error))
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(page.c_str())));
}

void TRoVoravForm::StartSoundEngine() {
  FMusic = std::make_unique<TKoDirectMusic>(FEngineMode);
  FPerformance.SetSink(FMusic.get());
  if (!AudioOutputArg.empty() && !FMusic->SelectAudioOutput(AudioOutputArg)) {
    std::fprintf(stderr, "Melotastico: no audio output \"%s\"; the default one plays\n",
                 AudioOutputArg.c_str());
  }
  if (PortIndexArg >= 0) {
    // The list has no dialog to tell of a failed write: the terminal is told.
    const std::filesystem::path list = DataFileForWriting("OutDevList.txt");
    if (list.empty() || !FMusic->WriteOutDevList(list.parent_path())) {
      std::fprintf(stderr, "Melotastico: the port list could not be written to %s\n",
                   list.empty() ? "the data folder" : list.string().c_str());
    }
  }
  const int port = PortIndexArg >= 0 ? PortIndexArg : FMusic->GetDefaultPortIndex();
  if (!FMusic->SelectPort(port))
    return;
  FLatency = FMusic->GetWriteLatency();
  FWritePeriod = FMusic->GetWritePeriod();
  ApplySettings(TSetupOptions{});
  FPerformance.SetUseExternalDLS(Config.UseExternalDLS);
  if (!Config.UseExternalDLS) {
    LoadBuiltInSoundSet();
  } else if (const TSoundSetResult result = FMusic->LoadExternalDLS()) {
    BuildExternalVoiceLists();
  } else {
    UseBuiltInSetInstead(result);
  }
}

void TRoVoravForm::LoadBuiltInSoundSet() {
  LoadBuiltInSoundSetTelling(*FMusic, SoundSetFile(), this);
}

// An external set that does not load would leave the piano silent: the player
// is told why, and the built-in set plays until the settings name one that
// loads.
void TRoVoravForm::UseBuiltInSetInstead(const TSoundSetResult& why) {
  TellExternalSetRefused(Config.ExternalDLSFileName, why, this);
  delete FExternalVoicesLeft;
  delete FExternalVoicesRight;
  FExternalVoicesLeft = FExternalVoicesRight = nullptr;
  FPerformance.SetUseExternalDLS(false);
  LoadBuiltInSoundSet();
  FPerformance.SetLeftVoice(FPerformance.LeftVoiceIndex());
  FPerformance.SetRightVoice(FPerformance.RightVoiceIndex());
}

void TRoVoravForm::ApplySettings(const TSetupOptions& options) {
  const int latency = Config.Latency;
  FLatency = latency;
  FWritePeriod = WritePeriodForLatency(latency);
  if (FMusic) {
    // The setting is the latency the player hears: the output is sized for
    // it in one step, its period as the device grants it. False only without
    // a synthesizer port: the value waits in the settings.
    static_cast<void>(FMusic->SetResponseTime(FLatency));
    FWritePeriod = FMusic->GetWritePeriod();
    FMusic->SetReverbLevel(Config.ReverbLevel);
  }
  FPerformance.SetNotebookMode(options.NotebookMode);
  FPerformance.SetLoopPlay(options.LoopPlay);
  FPerformance.SetSmartSemitone(options.SmartSemitone);
  FPerformance.SetPeriodPedal(options.PeriodPedal);
}

// ---------------------------------------------------------------------------
// Dialogs

void TRoVoravForm::SetDialogRunners(TSetupRunner setup, TKeyDefRunner keyDef) {
  FSetupRunner = std::move(setup);
  FKeyDefRunner = std::move(keyDef);
}

void TRoVoravForm::ReleaseHeldKeys() {
  // The dialog takes the keyboard: every key still down is released now, so no note sounds
  // on behind it and no key counts as held after it.
  FPerformance.ReleaseKeyboard();
  FPerformance.ResetPerformance(ResetForDialog);
}

void TRoVoravForm::OpenSettings() {
  ReleaseHeldKeys();
  const TSetupConfig old = Config;
  TSetupOptions options{FPerformance.NotebookMode(), LoopPlay(), PeriodPedal(), SmartSemitone()};
  const bool ok = FSetupRunner
                      ? FSetupRunner(Config, options)
                      : ExecuteSetup(
                            Config, options, [this] { EditKeyDefinition(KeyOneIndex); }, this);
  if (!ok)
    return;
  ApplySettings(options);
  std::error_code error;
  FPerformance.SetUseExternalDLS(
      Config.UseExternalDLS && std::filesystem::is_regular_file(Config.ExternalDLSFileName, error));
  // Switching between the built-in and the external set waits for the next start; another
  // file for the external set in use loads at once.
  if (old.UseExternalDLS && Config.UseExternalDLS &&
      old.ExternalDLSFileName != Config.ExternalDLSFileName && FMusic) {
    if (const TSoundSetResult result = FMusic->LoadExternalDLS(); !result) {
      UseBuiltInSetInstead(result);
      return;
    }
    BuildExternalVoiceLists();
    cbbExternalDLSVoices_LeftChange();
    cbbExternalDLSVoices_RightChange();
  }
}

void TRoVoravForm::EditKeyDefinition(int keyIndex) {
  ReleaseHeldKeys();
  TKeyDefTable table = FPerformance.Values().KeyDefs;
  QWidget* parent = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : this;
  const bool ok = FKeyDefRunner ? FKeyDefRunner(table, keyIndex)
                                : TfrmSetKeyDef::Execute(table, keyIndex, parent);
  if (!ok)
    return;
  // Recorded while recording, so the song plays back with the keys as they were played.
  FPerformance.SetKeyDefs(table);
}

// ---------------------------------------------------------------------------
// Window events

bool TRoVoravForm::event(QEvent* e) {
  switch (static_cast<int>(e->type())) {
  case QEvent::ShortcutOverride:
    // Every key belongs to the piano, none to shortcuts or menus.
    e->accept();
    return true;
  case QEvent::KeyPress:
  case QEvent::KeyRelease:
    if (const auto change = KeyChangeOf(*static_cast<QKeyEvent*>(e)))
      FPerformance.KeyboardKey(change->ScanCode, change->Down);
    return true;
  case QEvent::WindowActivate:
    FormActivate();
    break;
  case QEvent::WindowDeactivate:
    // A pointer kept on a window that is not in front would lock the user out of the others.
    SetMousePedal(false);
    FPerformance.ReleaseKeyboard();
    break;
  case QEvent::FocusOut:
    FPerformance.ReleaseKeyboard();
    break;
  default:
    break;
  }
  return QWidget::event(e);
}

bool TRoVoravForm::focusNextPrevChild(bool) {
  return false;
}

void TRoVoravForm::showEvent(QShowEvent* e) {
  delete Splash;
  Splash = nullptr;
  QWidget::showEvent(e);
}

void TRoVoravForm::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(QPoint(0, 0), WorkBitmap, QRect(0, 0, ClientWidth, ClientHeight));
}

void TRoVoravForm::mousePressEvent(QMouseEvent*) {
  if (FMousePedal)
    FPerformance.MousePedal(true);
}

void TRoVoravForm::mouseReleaseEvent(QMouseEvent*) {
  if (FMousePedal)
    FPerformance.MousePedal(false);
}

void TRoVoravForm::closeEvent(QCloseEvent* e) {
  FPerformance.ResetPerformance();
  SetMousePedal(false);
  e->accept();
}

void TRoVoravForm::CheckSoundOutput() {
  if (!FMusic)
    return;
  switch (FMusic->CheckOutput()) {
  case TOutputCheck::Lost:
    std::fprintf(stderr, "Melotastico: the sound output was lost; it is opened again as soon as "
                         "it is back\n");
    UpdateCaption();
    break;
  case TOutputCheck::Restored:
    std::fprintf(stderr, "Melotastico: the sound output is back\n");
    // The mixer's connection ended with the old server.
    FVolume->Connect();
    UpdateCaption();
    break;
  case TOutputCheck::Unchanged:
    break;
  }
}

// ---------------------------------------------------------------------------
// The key path and the performance values live in the performance.

// ---------------------------------------------------------------------------
// Recording and playback

void TRoVoravForm::SetEditsEnabled(bool enabled) {
  FPCKeyboard->SetEnabled(enabled);
  FLeftKeyboard->SetEnabled(enabled);
  FRightKeyboard->SetEnabled(enabled);
  for (TKoSpinEdit* edit : {FTransposeEdit.get(), FLeftOctaveEdit.get(), FRightOctaveEdit.get(),
                            FLeftVelocityEdit.get(), FRightVelocityEdit.get()})
    edit->SetButtonsEnabled(enabled);
}

void TRoVoravForm::QuickSave() {
  static_cast<void>(FSongCommands->QuickSave()); // a failure shows its own message
}

void TRoVoravForm::OpenSong() {
  FSongCommands->OpenSong();
}

void TRoVoravForm::SaveSongAs() {
  FSongCommands->SaveSongAs();
}

void TRoVoravForm::EditSongInfo() {
  FSongCommands->EditSongInfo();
}

bool TRoVoravForm::ExportSong(const QString& fileName, const TSongInfo& info) {
  const std::filesystem::path path(QFile::encodeName(fileName).toStdString());
  TExportTarget target;
  if (!ExportTargetOf(path, target))
    return false;
  TSongHeader header = FRecorder->Header;
  header.Info = info;
  ExportSongFromWindow(this, header, FRecorder->Events(), path, FVolume->SynthVolume());
  return true;
}

bool TRoVoravForm::OpenSongFile(const QString& fileName) {
  if (Recording() || Playing())
    return false;
  FPerformance.ResetPerformance(ResetForDialog);
  return FSongCommands->OpenSongFile(fileName);
}

void TRoVoravForm::SetSongDialogs(TSongDialogs& dialogs) {
  FSongCommands->SetDialogs(dialogs);
}

void TRoVoravForm::UpdateButtons() {
  TKoMainButtons& b = *FMainButtons;
  if (Recording() || Playing()) {
    b.SetEnabled(mbPlay, Playing());
    b.SetEnabled(mbRecord, Recording());
    for (int i : {mbOpen, mbSave, mbSetup, mbHelp, mbAbout})
      b.SetEnabled(i, false);
    return;
  }
  b.SetEnabled(mbRecord, true);
  b.SetEnabled(mbOpen, true);
  b.SetEnabled(mbSave, FSongFileName.isEmpty() || TSongCommands::AwaitsSave(FSongFileName));
  b.SetEnabled(mbPlay, !FRecorder->IsEmpty());
  for (int i : {mbSetup, mbHelp, mbAbout})
    b.SetEnabled(i, true);
}

void TRoVoravForm::UpdateCaption() {
  QString caption = FSongFileName.isEmpty()
                        ? QCoreApplication::translate("TRoVoravForm", MainCaption)
                        : QStringLiteral("Melotastico - %1").arg(FSongFileName);
  if (FMusic && FMusic->OutputLost())
    caption += QCoreApplication::translate("TRoVoravForm", OutputLostCaption);
  setWindowTitle(caption);
}

void TRoVoravForm::ApplySongState() {
  FPerformance.SetSongRawDrums(SongHasRawDrumStrikes(FRecorder->Events()));
  FPerformance.SetShowRawNotes(SongHasNoKeyPresses(FRecorder->Events()));
  FPerformance.ApplySongState(FRecorder->Header.State);
}

void TRoVoravForm::SongEnded() {
  FPerformance.SetPlaying(false);
  if (!LoopPlay())
    return;
  QThread::msleep(LoopPauseMs);
  FPerformance.SetPlaying(true);
}

// eventData: QWidget has a member named data.

// ---------------------------------------------------------------------------
// Activation, master volume, mouse pedal and the external-voice lists

void TRoVoravForm::FormActivate() {
  ++FActivations;
  // The external set's voices reach both channels once the window is first in front.
  if (FActivations == 1 && FPerformance.UseExternalDLS()) {
    cbbExternalDLSVoices_LeftChange();
    cbbExternalDLSVoices_RightChange();
  }
  // The sound server and the ALSA mixer each set the master volume; only
  // without either is there something to say.
  if (FActivations == 2 && !FVolume->CanSetMasterVolume()) {
    // Not modal: the message must not hold up the activation that shows it.
    auto* box = new QMessageBox(
        QMessageBox::Information, windowTitle(),
        QCoreApplication::translate("TRoVoravForm",
                                    "由于某种原因，Melotastico在您的机器上无法调整总音量。"),
        QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  }
}

void TRoVoravForm::SetMousePedal(bool on) {
  FMousePedal = on;
  if (on) {
    FPointerClip->Confine(MousePedalPoint);
  } else {
    FPointerClip->Release();
  }
}

void TRoVoravForm::BuildExternalVoiceLists() {
  delete FExternalVoicesLeft;
  delete FExternalVoicesRight;
  QComboBox* lists[HandCount] = {};
  for (int hand = 0; hand < HandCount; ++hand) {
    auto* list = new QComboBox(this);
    list->setEditable(false);
    list->setFocusPolicy(Qt::NoFocus); // keys stay with the piano
    for (int i = 0; i < InstrumentList.Count; ++i) {
      list->addItem(
          QStringLiteral("%1: %2").arg(i).arg(QString::fromStdString(InstrumentList.NameUtf8(i))));
    }
    list->setCurrentIndex(0);
    list->setGeometry(ExternalListLeft[hand], ExternalListTop, ExternalListWidth,
                      list->sizeHint().height());
    // Only a choice of the user's fires: selecting in code does not.
    connect(list, &QComboBox::activated, this, [this, hand] {
      hand == LeftHand ? cbbExternalDLSVoices_LeftChange() : cbbExternalDLSVoices_RightChange();
    });
    list->show();
    lists[hand] = list;
  }
  FExternalVoicesLeft = lists[LeftHand];
  FExternalVoicesRight = lists[RightHand];
}

namespace {

int SelectedInstrument(const QComboBox* list) {
  const int index = list ? list->currentIndex() : -1;
  return index >= 0 && index < InstrumentList.Count ? index : -1;
}

} // namespace

void TRoVoravForm::cbbExternalDLSVoices_LeftChange() {
  if (const int index = SelectedInstrument(FExternalVoicesLeft); index >= 0) {
    FPerformance.SetExternalVoice(LeftHand,
                                  InstrumentList.Entries[static_cast<std::size_t>(index)].Patch);
  }
}

void TRoVoravForm::cbbExternalDLSVoices_RightChange() {
  if (const int index = SelectedInstrument(FExternalVoicesRight); index >= 0) {
    FPerformance.SetExternalVoice(RightHand,
                                  InstrumentList.Entries[static_cast<std::size_t>(index)].Patch);
  }
}

bool TRoVoravForm::StepExternalRightVoice(int step) {
  if (!FExternalVoicesRight || FExternalVoicesRight->count() == 0)
    return false;
  // Past either end the selection stays on the end item.
  FExternalVoicesRight->setCurrentIndex(std::clamp(FExternalVoicesRight->currentIndex() + step, 0,
                                                   FExternalVoicesRight->count() - 1));
  cbbExternalDLSVoices_RightChange();
  return true;
}

} // namespace melo

#include "app/MainWindowView.h"
#include "app/SoundSetMessages.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QThread>
#include <QUrl>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "app/About.h"
#include "app/PracticeSong.h"
#include "app/PracticeWindow.h"
#include "app/RecordingKeeper.h"
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
constexpr int KeyOneIndex = 14; // where the settings dialog opens the key-definition editor

} // namespace

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
  FKeeper = std::make_unique<TRecordingKeeper>(
      *FRecorder, QFile::encodeName(TSongCommands::SongFolder()).toStdString());
  FKeeper->OnNoteChanged = [this] { UpdateCaption(); };
  TellRecovered(FKeeper->RecoverJournals());
  FSongDialogs = std::make_unique<TSongDialogsOnScreen>(this);
  FSongCommands = std::make_unique<TSongCommands>(
      *FRecorder, FSongFileName,
      TSongWindowHooks{[this] { return FPerformance.Recording() || FPerformance.Playing(); },
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
    FMidiIn.Start(FStartChoices.MidiIn);
}

TRoVoravForm::~TRoVoravForm() {
  FormDestroy();
}

void TRoVoravForm::FormDestroy() {
  delete FPractice;
  FPractice = nullptr;
  FPeriodPedalTimer.stop();
  FOutputWatch.stop();
  // Its reader thread ends here; messages it queued are dropped with the window.
  FMidiIn.Stop();
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
  FChordName = c.ChordName;
  FVolume = std::make_unique<TVolumeControl>(*FVolumeSlider);
  FStaff = std::move(c.Staff);
  FSpinEdits = std::move(c.SpinEdits);
  TShownControls shown{FPCKeyboard.get(),
                       FLeftKeyboard.get(),
                       FRightKeyboard.get(),
                       FMainButtons.get(),
                       FStaff.get(),
                       FChordName,
                       {}};
  for (std::size_t i = 0; i < shown.SpinEdits.size(); ++i)
    shown.SpinEdits[i] = FSpinEdits[i].get();
  FView->SetControls(shown);
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
  for (int edit = 0; edit < SpinEditCount; ++edit) {
    SpinEdit(edit).SetOnClick(
        [this, edit](TKoMultiGlyphButton* sender) { SpinClicked(edit, sender->Tag()); });
  }
}

TKoSpinEdit& TRoVoravForm::SpinEdit(int edit) const {
  return *FSpinEdits.at(static_cast<std::size_t>(edit));
}

void TRoVoravForm::SpinClicked(int edit, int tag) {
  const int step = tag == 0 ? 1 : -1;
  const int count = InstrumentList.Count;
  const TPerformanceValues& values = FPerformance.Values();
  TKoPerformance& p = FPerformance;
  switch (edit) {
  case seTranspose:
    p.SetTranspose(values.Transpose + step);
    break;
  case seLeftOctave:
    p.SetLeftOctave(values.LeftOctave + step);
    break;
  case seRightOctave:
    p.SetRightOctave(values.RightOctave + step);
    break;
  case seLeftVelocity:
    p.SetLeftVelocity(values.LeftVelocity + step);
    break;
  case seRightVelocity:
    p.SetRightVelocity(values.RightVelocity + step);
    break;
  case seLeftVoice:
    if (count > 0)
      p.SetLeftVoice((p.LeftVoiceIndex() + step + count) % count);
    break;
  case seRightVoice:
    if (count > 0)
      p.SetRightVoice((p.RightVoiceIndex() + step + count) % count);
    break;
  default:
    break;
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
    FSongCommands->OpenSong();
    break;
  case mbSave:
    FSongCommands->SaveSongAs();
    break;
  case mbPlay:
    if (FPerformance.KeyState().ShiftState() == ssShift)
      FPerformance.SetLoopPlay(true);
    FPerformance.SetPlaying(!FPerformance.Playing());
    break;
  case mbRecord:
    FPerformance.SetRecording(!FPerformance.Recording());
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
  const std::string& output = FStartChoices.AudioOutput;
  if (!output.empty() && !FMusic->SelectAudioOutput(output)) {
    std::fprintf(stderr, "Melotastico: no audio output \"%s\"; the default one plays\n",
                 output.c_str());
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
  TSetupOptions options;
  LoadProgramSettings(options.Program);
  ApplySettings(options);
  FPerformance.SetUseExternalDLS(Config.UseExternalDLS);
  if (!Config.UseExternalDLS) {
    LoadBuiltInSoundSet();
  } else if (const TSoundSetResult result = FMusic->LoadExternalDLS()) {
    FExternalVoices.Build();
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
  FExternalVoices.Remove();
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
  FPerformance.SetAccompMode(options.Program.AccompDrumsOnly, options.Program.FingeredChords);
}

// ---------------------------------------------------------------------------
// Dialogs

void TRoVoravForm::ReleaseHeldKeys() {
  // The dialog takes the keyboard: every key still down is released now, so no note sounds
  // on behind it and no key counts as held after it.
  FPerformance.ReleaseKeyboard();
  FPerformance.ResetPerformance(ResetForDialog);
}

void TRoVoravForm::OpenSettings() {
  ReleaseHeldKeys();
  const TSetupConfig old = Config;
  const TKoPerformance& p = FPerformance;
  // The settings the dialog does not show (best scores) are saved back as they are.
  TProgramSettings program;
  LoadProgramSettings(program);
  program.AccompDrumsOnly = p.AccompDrumsOnly();
  program.FingeredChords = p.FingeredChords();
  TSetupOptions options{p.NotebookMode(), p.LoopPlay(), p.PeriodPedal(), p.SmartSemitone(),
                        std::move(program)};
  const bool ok = FSetupRunner ? FSetupRunner(Config, options)
                               : ExecuteSetup(
                                     Config, options, [this] { EditKeyDefinition(KeyOneIndex); },
                                     this, [this] { OpenAudioMidi(); });
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
    FExternalVoices.Build();
    FExternalVoices.Apply(LeftHand);
    FExternalVoices.Apply(RightHand);
  }
}

void TRoVoravForm::OpenAudioMidi() {
  ReleaseHeldKeys();
  const auto useMidiIn = [this](const std::string& source) {
    return FEngineMode == TEngineMode::Live && FMidiIn.Start(source);
  };
  OpenAudioMidiPage({*FMusic, FMidiIn.Ports(), useMidiIn}, FAudioMidiRunner, this);
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
  if (TakeKeyEvent(*e, [this](const TKeyChange& change) {
        FPerformance.KeyboardKey(change.ScanCode, change.Down);
      }))
    return true;
  switch (static_cast<int>(e->type())) {
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
  FKeeper->KeepUnsaved();
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
// Recording and playback

bool TRoVoravForm::ExportSong(const QString& fileName, const TSongInfo& info) {
  const std::filesystem::path path(QFile::encodeName(fileName).toStdString());
  TExportTarget target;
  if (!ExportTargetOf(path, target) && !IsVideoFileName(path))
    return false;
  TSongHeader header = FRecorder->Header;
  header.Info = info;
  // The video's caption names the song as the window's does.
  const QString songName = QFileInfo(FSongFileName).fileName();
  ExportSongFromWindow(this, header, FRecorder->Events(), path, FVolume->SynthVolume(), songName);
  return true;
}

bool TRoVoravForm::OpenSongFile(const QString& fileName) {
  if (FPerformance.Recording() || FPerformance.Playing())
    return false;
  FPerformance.ResetPerformance(ResetForDialog);
  return FSongCommands->OpenSongFile(fileName);
}

bool TRoVoravForm::OpenPractice(const QString& fileName) {
  TPracticeSong song;
  std::string reason;
  if (!LoadPracticeSong(fileName.toStdString(), FVoices, song, reason)) {
    ShowNotice(QCoreApplication::translate("TfrmPractice", "不能练习 %1：%2")
                   .arg(fileName, QString::fromStdString(reason)));
    return false;
  }
  ShowPractice(std::move(song), QFileInfo(fileName).fileName());
  return true;
}

void TRoVoravForm::ShowPractice(TPracticeSong song, const QString& songName) {
  delete FPractice;
  FPractice =
      new TPracticeWindow(FPerformance, std::move(song.Messages), song.EndTime, songName, this);
  FPractice->SetOnNextKeys([this](const std::vector<int>& keys) { FView->MarkNextKeys(keys); });
  FPractice->show();
  FPractice->StartPractice();
}

void TRoVoravForm::UpdateButtons() {
  FView->ShowButtons(FPerformance.Playing(), FPerformance.Recording(),
                     FSongFileName.isEmpty() || TSongCommands::AwaitsSave(FSongFileName),
                     !FRecorder->IsEmpty());
}

void TRoVoravForm::UpdateCaption() {
  QString caption = FSongFileName.isEmpty()
                        ? QCoreApplication::translate("TRoVoravForm", MainCaption)
                        : QStringLiteral("Melotastico - %1").arg(FSongFileName);
  if (FMusic && FMusic->OutputLost())
    caption += QCoreApplication::translate("TRoVoravForm", OutputLostCaption);
  caption += FKeeper->Note();
  setWindowTitle(caption);
}

void TRoVoravForm::ApplySongState() {
  FPerformance.SetSongRawDrums(SongHasRawDrumStrikes(FRecorder->Events()));
  FPerformance.SetShowRawNotes(SongHasNoKeyPresses(FRecorder->Events()));
  FPerformance.ApplySongState(FRecorder->Header.State);
}

void TRoVoravForm::SongEnded() {
  FPerformance.SetPlaying(false);
  if (!FPerformance.LoopPlay())
    return;
  QThread::msleep(LoopPauseMs);
  FPerformance.SetPlaying(true);
}

// ---------------------------------------------------------------------------
// Activation and the mouse pedal

void TRoVoravForm::FormActivate() {
  ++FActivations;
  // The external set's voices reach both channels once the window is first in front.
  if (FActivations == 1 && FPerformance.UseExternalDLS()) {
    FExternalVoices.Apply(LeftHand);
    FExternalVoices.Apply(RightHand);
  }
  // The sound server and the ALSA mixer each set the master volume; only
  // without either is there something to say.
  if (FActivations == 2 && !FVolume->CanSetMasterVolume()) {
    ShowNotice(QCoreApplication::translate(
        "TRoVoravForm", "由于某种原因，Melotastico在您的机器上无法调整总音量。"));
  }
}

// Not modal, and once the window shows: the player may go on playing at once.
void TRoVoravForm::TellRecovered(const std::vector<std::filesystem::path>& songs) {
  if (songs.empty())
    return;
  QMetaObject::invokeMethod(
      this, [this, text = RecoveredText(songs)] { ShowNotice(text); }, Qt::QueuedConnection);
}

void TRoVoravForm::ShowNotice(const QString& text) {
  // Not modal: the message must not hold up the activation that shows it.
  auto* box = new QMessageBox(QMessageBox::Information, windowTitle(), text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void TRoVoravForm::SetMousePedal(bool on) {
  if (on && !TPointerClip::CanHoldPointer() && !FPointerNotHeldSaid) {
    // Said instead of the first switching on: the message takes the foreground, which would end
    // the pedal at once.
    FPointerNotHeldSaid = true;
    ShowNotice(QCoreApplication::translate(
        "TRoVoravForm", "在Wayland下，Melotastico无法固定鼠标指针：鼠标踏板只在指针位于本窗口上时"
                        "起作用。再按Ctrl+Enter即可打开鼠标踏板。"));
    return;
  }
  FMousePedal = on;
  if (on) {
    FPointerClip->Confine(MousePedalPoint);
  } else {
    FPointerClip->Release();
  }
}

} // namespace melo

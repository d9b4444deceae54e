#include "app/main.h"

#include <QCloseEvent>
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
#include <filesystem>

#include "app/About.h"
#include "app/SimpleRecorder.h"
#include "controls/GlyphBmp.h"
#include "controls/HandCursors.h"
#include "controls/KoMainButtons.h"
#include "controls/KoSlider.h"
#include "controls/KoSpinEdit.h"
#include "controls/KoStaff.h"
#include "controls/RoVoravKb.h"
#include "controls/SkinLayout.h"
#include "input/KeyEventFeed.h"
#include "input/KoPCKeyboard.h"
#include "music/AutoAccomp.h"
#include "music/KoMetronome.h"
#include "music/KoTimer.h"
#include "platform/DataFolder.h"
#include "sound/FavoriteVoices.h"
#include "sound/KoDirectMusic.h"
#include "sound/SetupConfig.h"

namespace melo {

bool MultiInstance = false;
int PortIndexArg = -1;
std::uint8_t QuickEditMode = 0;
TKoDIKeyBoard* DIKeyboard = nullptr;
TfrmAbout* Splash = nullptr;

namespace {

// Scan codes of the keys the key path names.
enum TScan : int {
  scEsc = 1,
  scBackspace = 14,
  scTab = 15,
  scR = 19,
  scO = 24,
  scP = 25,
  scLeftBracket = 26,
  scRightBracket = 27,
  scEnter = 28,
  scS = 31,
  scApostrophe = 40,
  scGrave = 41,
  scBackslash = 43,
  scSpace = 57,
  scCapslock = 58,
  scF1 = 59,
  scF4 = 62,
  scF10 = 68,
  scScrollLock = 70,
  scF11 = 87,
  scF12 = 88,
  scPrintScreen = 183,
  scPause = 197,
  scHome = 199,
  scPageUp = 201,
  scEnd = 207,
  scPageDown = 209,
  scInsert = 210,
  scDelete = 211,
  scLWin = 219,
  scRWin = 220,
  scPower = 222,
  scSleep = 223,
  scWakeUp = 227,
};

constexpr std::uint8_t ssNone = 0;
constexpr std::uint8_t ssCtrlShift = ssCtrl | ssShift;

// Notebook mode: the right half of the main block stands in for the keypad.
constexpr std::array<std::pair<int, int>, 13> NotebookKeys = {{{9, 71},
                                                               {10, 72},
                                                               {11, 73},
                                                               {12, 78},
                                                               {23, 75},
                                                               {24, 76},
                                                               {25, 77},
                                                               {37, 79},
                                                               {38, 80},
                                                               {39, 81},
                                                               {51, 82},
                                                               {52, 83},
                                                               {53, 156}}};

int NotebookScanCode(int scanCode) {
  for (const auto& [from, to] : NotebookKeys)
    if (from == scanCode)
      return to;
  return scanCode;
}

// Keys that always play percussion, with their drum notes.
int DrumNote(int scanCode) {
  switch (scanCode) {
  case scApostrophe:
    return 36;
  case scLeftBracket:
    return 38;
  case scRightBracket:
    return 40;
  case scBackslash:
    return 42;
  default:
    return -1;
  }
}

// "1=" names and staff key-signature codes by Transpose + 4.
constexpr std::array<const char*, 12> TransposeNames = {"bA", "A",  "bB", "B", "C",  "bD",
                                                        "D",  "bE", "E",  "F", "#F", "G"};
constexpr std::array<std::uint8_t, 12> KeySignatureCodes = {11, 3, 9, 5, 0, 12, 2, 10, 4, 8, 6, 1};

constexpr int MinTranspose = -4;
constexpr int MaxTranspose = 7;
constexpr int DoubleTapMs = 500;
constexpr int PeriodPedalMs = 3000;
constexpr int LoopPauseMs = 500;
constexpr int DrumVelocityOff = 64;
constexpr std::uint8_t NoteOnDrums = 0x99;
constexpr std::uint8_t NoteOffDrums = 0x89;
// The window's own metronome client while the accompaniment runs.
constexpr const char* AccompClientName = "NewSecondAndNewBeat";

QString SignedText(int value) {
  return value > 0 ? QStringLiteral("+%1").arg(value) : QString::number(value);
}

std::uint32_t SteadyMilliseconds() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

void InstallUiDispatcher() {
  SetUiDispatcher(
      [](TUiCall call) { QMetaObject::invokeMethod(qApp, std::move(call), Qt::QueuedConnection); });
}

void ParseCommandLine(const QStringList& arguments) {
  MultiInstance = false;
  PortIndexArg = -1;
  for (const QString& argument : arguments) {
    if (argument.toUpper() == QLatin1String("MULTIINSTANCE")) {
      MultiInstance = true;
      continue;
    }
    bool ok = false;
    const int port = argument.toInt(&ok);
    if (ok)
      PortIndexArg = port;
  }
}

// ---------------------------------------------------------------------------
// Creation and shut-down

TRoVoravForm::TRoVoravForm(TEngineMode engineMode, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      FTickCount(SteadyMilliseconds), FEngineMode(engineMode) {
  setWindowTitle(QStringLiteral("Melotastico模拟钢琴"));
  // The paint covers the whole client area: never erase first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::StrongFocus);
  QFont font(QStringLiteral("宋体"));
  font.setPixelSize(12);
  setFont(font);
  LoadSkinBitmaps();
  setFixedSize(ClientWidth, ClientHeight);
  CreateControls();

  FDIKeyboard = std::make_unique<TKoDIKeyBoard>([this](int message, int scanCode, int keyIndex) {
    QCoreApplication::postEvent(this, new TDIKeyEvent(message, scanCode, keyIndex));
  });
  DIKeyboard = FDIKeyboard.get();
  FDIKeyboard->SetActive(true);
  InitKeyDefs();
  StartSoundEngine();
  SetTranspose(0);
  SetLeftOctave(0);
  SetRightOctave(0);
  SetLeftVelocity(70);
  SetRightVelocity(100);

  FRecorder = std::make_unique<TSimpleRecorder>();
  FRecorder->OnPlayStart = [this](TSimpleRecorder&) { ApplySongState(); };
  FRecorder->OnPlayEnd = [this](TSimpleRecorder&) { SongEnded(); };
  FRecorder->OnPlayEvent = [this](TSimpleRecorder&, std::uint8_t kind, std::int32_t data,
                                  const TKeyDefTable* keyDefs) { PlayEvent(kind, data, keyDefs); };

  FSynthVolume = 0;
  if (FMusic)
    FMusic->SetVolume(0);
  SetRightVoice(0);
  SetLeftVoice(0);
  LoadDefaultFavoriteVoices();
  SetRightVoice(0);
  SetLeftVoice(0);
  if (FMusic)
    FMusic->SelectDrumKit();

  FAutoAccomp = std::make_unique<TAutoAccomp>();
  FAutoAccomp->Engine = FMusic.get();
  FAutoAccomp->SetAccompStyleGroup(0);
  FAutoAccomp->OnAutoChordChange = [](TAutoAccomp&, const std::string&) {};
  FAutoAccomp->Recorder = FRecorder.get();
  ClearOneTouch();

  connect(&Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer1.start(PeriodPedalMs);
}

TRoVoravForm::~TRoVoravForm() {
  FormDestroy();
}

void TRoVoravForm::FormDestroy() {
  Timer1.stop();
  ResetPerformance();
  if (FAutoAccomp)
    FAutoAccomp->Engine = nullptr;
  if (DIKeyboard == FDIKeyboard.get())
    DIKeyboard = nullptr;
}

void TRoVoravForm::CreateControls() {
  FPCKeyboard = std::make_unique<TKoPCKeyboard>(this, &WorkBitmap);
  FPCKeyboard->SetOnKeyDown([this](TKoMultiGlyphButton* sender) {
    const int key = sender->Tag();
    if (FEditClickGuard) {
      FPCKeyboard->SetKeyState(key, 0);
      FEditClickGuard = false;
      return;
    }
    WMDIKeyDown(KeyScanCodes[static_cast<std::size_t>(key)], key);
  });
  FPCKeyboard->SetOnKeyUp([this](TKoMultiGlyphButton* sender) {
    const int key = sender->Tag();
    WMDIKeyUp(KeyScanCodes[static_cast<std::size_t>(key)], key);
  });
  FPCKeyboard->SetOnMouseMove([this](TKoMultiGlyphButton* sender, Qt::KeyboardModifiers, int, int) {
    PCKeyMouseMove(sender);
  });

  FRightKeyboard = std::make_unique<TRoVoravKb>(this, &WorkBitmap, PianoLeftX, RightPianoTop);
  FRightKeyboard->SetCursor(crRightHand);
  FRightKeyboard->SetOnKeyDown([this](TKoMultiGlyphButton*, int p) { PianoKeyDown(true, p); });
  FRightKeyboard->SetOnKeyUp([this](TKoMultiGlyphButton*, int p) { PianoKeyUp(true, p); });
  FLeftKeyboard = std::make_unique<TRoVoravKb>(this, &WorkBitmap, PianoLeftX, LeftPianoTop);
  FLeftKeyboard->SetCursor(crLeftHand);
  FLeftKeyboard->SetOnKeyDown([this](TKoMultiGlyphButton*, int p) { PianoKeyDown(false, p); });
  FLeftKeyboard->SetOnKeyUp([this](TKoMultiGlyphButton*, int p) { PianoKeyUp(false, p); });

  FMainButtons = std::make_unique<TKoMainButtons>(this, &WorkBitmap);
  FMainButtons->SetOnClick([this](TKoMultiGlyphButton* sender) { MainButtonClick(sender->Tag()); });
  for (int i = 0; i < TKoMainButtons::ButtonCount; ++i)
    FMainButtons->SetEnabled(i, i != 1 && i != 2);

  FVolumeSlider = new TKoSlider(this);
  FVolumeSlider->move(371, 288);
  FVolumeSlider->SetTrackImage(&SkinBitmap, QRect(371, 288, 110, 19));
  FVolumeSlider->SetThumbImage(&SkinBitmap, QRect(1077, 288, 8, 19));
  FVolumeSlider->SetMin(0);
  FVolumeSlider->SetMax(127);
  FVolumeSlider->SetHorizontal(true);
  FVolumeSlider->SetThumbOffset(QPoint(0, 0));
  FVolumeSlider->SetTravel(FVolumeSlider->width() - 10);
  FVolumeSlider->SetPosition(50);

  FStaff = std::make_unique<TKoStaff>(this, &WorkBitmap);
  CreateSpinEdits();
  // Keys go to the window, never to a control.
  for (QWidget* child : findChildren<QWidget*>())
    child->setFocusPolicy(Qt::NoFocus);
}

void TRoVoravForm::CreateSpinEdits() {
  const auto make = [this](int top, int left, int width) {
    auto edit = std::make_unique<TKoSpinEdit>(this, top, left, 19, width, &SkinBitmap);
    edit->SetOnClick(
        [this, e = edit.get()](TKoMultiGlyphButton* sender) { SpinClicked(e, sender->Tag()); });
    return edit;
  };
  FTransposeEdit = make(316, 373, 96);
  FLeftOctaveEdit = make(346, 373, 37);
  FRightOctaveEdit = make(346, 432, 37);
  FLeftVelocityEdit = make(376, 373, 37);
  FRightVelocityEdit = make(376, 433, 37);
  FLeftVoiceEdit = make(406, 373, 37);
  FRightVoiceEdit = make(406, 433, 37);
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
  if (edit == FTransposeEdit.get())
    SetTranspose(Transpose + step);
  else if (edit == FLeftOctaveEdit.get())
    SetLeftOctave(LeftOctave + step);
  else if (edit == FRightOctaveEdit.get())
    SetRightOctave(RightOctave + step);
  else if (edit == FLeftVelocityEdit.get())
    SetLeftVelocity(LeftVelocity + step);
  else if (edit == FRightVelocityEdit.get())
    SetRightVelocity(RightVelocity + step);
  else if (count > 0 && edit == FLeftVoiceEdit.get())
    SetLeftVoice((FLeftVoiceIndex + step + count) % count);
  else if (count > 0 && edit == FRightVoiceEdit.get())
    SetRightVoice((FRightVoiceIndex + step + count) % count);
}

void TRoVoravForm::PCKeyMouseMove(TKoMultiGlyphButton* sender) {
  const TKeyDef& def = KeyDefs.Keys[sender->Tag()];
  if (def.NoteCount > 0)
    sender->setCursor(ScreenCursor(def.Notes[0].Keyboard == 0 ? crLeftHand : crRightHand));
}

void TRoVoravForm::PianoKeyDown(bool right, int position) {
  const int note = position + 24;
  const int hand = right ? 1 : 0;
  const int velocity = right ? RightVelocity : LeftVelocity;
  TKeyNote notes[MaxKeyNotes];
  for (TKeyNote& n : notes)
    n = TKeyNote{0, 0, 4, 0, 0};
  NoteFromMidi(note, Transpose, notes[0]);
  notes[0].Keyboard = static_cast<std::uint8_t>(hand);
  notes[0].Velocity = velocity;
  FStaff->ShowNotes(notes, Transpose);
  if (FMusic)
    FMusic->NoteOn(static_cast<std::uint8_t>(hand), static_cast<std::uint8_t>(note),
                   static_cast<std::uint8_t>(velocity));
}

void TRoVoravForm::PianoKeyUp(bool right, int position) {
  FStaff->Clear();
  if (FMusic)
    FMusic->NoteOff(right ? 1 : 0, static_cast<std::uint8_t>(position + 24));
}

void TRoVoravForm::MainButtonClick(int index) {
  switch (index) {
  case 2:
    if (FKeyState.ShiftState() == ssShift)
      FLoopPlay = true;
    SetPlaying(!FPlaying);
    break;
  case 3:
    SetRecording(!FRecording);
    break;
  case 5:
    OpenHelp();
    break;
  case 6:
    ResetPerformance();
    ShowAbout(this);
    break;
  default:
    // Open, Save and Setup open their dialogs.
    break;
  }
}

void TRoVoravForm::OpenHelp() {
  for (const char* name : {"Melotastico3.chm", "Melotastico4.0简要说明.htm"})
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(QString::fromStdString((ProgramFolder() / name).string())));
}

void TRoVoravForm::StartSoundEngine() {
  FMusic = std::make_unique<TKoDirectMusic>(FEngineMode);
  if (PortIndexArg >= 0) {
    const std::filesystem::path list = DataFileForWriting("OutDevList.txt");
    if (!list.empty())
      FMusic->WriteOutDevList(list.parent_path());
  }
  const int port = PortIndexArg >= 0 ? PortIndexArg : FMusic->GetDefaultPortIndex();
  if (!FMusic->SelectPort(port))
    return;
  FLatency = FMusic->GetWriteLatency();
  FWritePeriod = FMusic->GetWritePeriod();
  ApplySettings(TSetupOptions{});
  std::error_code error;
  FUseExternalDLS =
      Config.UseExternalDLS && std::filesystem::is_regular_file(Config.ExternalDLSFileName, error);
  if (FUseExternalDLS) {
    FMusic->LoadExternalDLS();
    return;
  }
  LoadBuiltInSoundSet();
}

void TRoVoravForm::LoadBuiltInSoundSet() {
  QFile file(QString::fromStdString((ProgramFolder() / "msf4.s").string()));
  if (!file.open(QIODevice::ReadOnly)) {
    QMessageBox::information(this, windowTitle(), QStringLiteral("msf4.s not found."));
    return;
  }
  const QByteArray bytes = file.readAll();
  FMusic->LoadCollectionFromStream(
      std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), bytes.size()));
}

void TRoVoravForm::ApplySettings(const TSetupOptions& options) {
  const int latency = Config.Latency;
  FLatency = latency;
  FWritePeriod = WritePeriodForLatency(latency);
  if (FMusic) {
    FMusic->SetWriteLatency(FLatency);
    FMusic->SetWritePeriod(FWritePeriod);
    FMusic->SetReverbLevel(Config.ReverbLevel);
  }
  FNotebookMode = options.NotebookMode;
  FLoopPlay = options.LoopPlay;
  SetSmartSemitone(options.SmartSemitone);
  SetPeriodPedal(options.PeriodPedal);
}

std::uint32_t TRoVoravForm::Now() const {
  return FTickCount();
}

// ---------------------------------------------------------------------------
// Window events

bool TRoVoravForm::event(QEvent* e) {
  switch (static_cast<int>(e->type())) {
  case WM_DIKEYDOWN: {
    const auto* key = static_cast<TDIKeyEvent*>(e);
    WMDIKeyDown(key->ScanCode, key->KeyIndex);
    return true;
  }
  case WM_DIKEYUP: {
    const auto* key = static_cast<TDIKeyEvent*>(e);
    WMDIKeyUp(key->ScanCode, key->KeyIndex);
    return true;
  }
  case QEvent::ShortcutOverride:
    // Every key belongs to the piano, none to shortcuts or menus.
    e->accept();
    return true;
  case QEvent::KeyPress:
  case QEvent::KeyRelease:
    if (FDIKeyboard)
      FeedKeyEvent(*FDIKeyboard, *static_cast<QKeyEvent*>(e));
    return true;
  case QEvent::WindowActivate:
    if (FDIKeyboard)
      FDIKeyboard->Acquire();
    break;
  case QEvent::WindowDeactivate:
  case QEvent::FocusOut:
    if (FDIKeyboard)
      FDIKeyboard->Unacquire();
    break;
  case QEvent::FocusIn:
    if (FDIKeyboard)
      FDIKeyboard->Acquire();
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
  if (!FMousePedal)
    return;
  SetLeftSustain(true);
  SetRightSustain(true);
  if (auto* r = Rec())
    r->RecordLeftSustain(true);
  if (auto* r = Rec())
    r->RecordRightSustain(true);
}

void TRoVoravForm::mouseReleaseEvent(QMouseEvent*) {
  if (!FMousePedal)
    return;
  SetLeftSustain(false);
  SetRightSustain(false);
  if (auto* r = Rec())
    r->RecordLeftSustain(false);
  if (auto* r = Rec())
    r->RecordRightSustain(false);
}

void TRoVoravForm::closeEvent(QCloseEvent* e) {
  ResetPerformance();
  e->accept();
}

void TRoVoravForm::Timer1Timer() {
  if (!FPeriodPedal)
    return;
  SetLeftSustain(false);
  SetLeftSustain(true);
  if (auto* r = Rec())
    r->RecordLeftSustain(false);
  if (auto* r = Rec())
    r->RecordLeftSustain(true);
}

// ---------------------------------------------------------------------------
// The key path

void TRoVoravForm::WMDIKeyDown(int scanCode, int keyIndex) {
  if (keyIndex < 0)
    return;
  if (FNotebookMode)
    scanCode = NotebookScanCode(scanCode);
  if (!FPlaying) {
    DoKeyDown(scanCode);
    return;
  }
  if (scanCode == scEsc || scanCode == scPower)
    SetPlaying(false);
}

void TRoVoravForm::WMDIKeyUp(int scanCode, int keyIndex) {
  if (keyIndex < 0 || FPlaying)
    return;
  if (FNotebookMode)
    scanCode = NotebookScanCode(scanCode);
  DoKeyUp(scanCode);
}

void TRoVoravForm::DoKeyDown(int scanCode) {
  const std::uint8_t shift = FKeyState.ShiftState();
  const int key = KeyIndexOfScanCode(scanCode);
  if (key < 0)
    return;
  if (shift == ssNone && KeyHasNotes(key)) {
    NoteKeyDown(scanCode, key);
    return;
  }
  KeyCommand(scanCode, shift);
  if (scanCode != scWakeUp)
    FKeyState.SetDown(scanCode);
}

void TRoVoravForm::NoteKeyDown(int scanCode, int keyIndex) {
  if (QuickEditMode == 0) {
    DoNoteOn(keyIndex);
    FPCKeyboard->SetKeyState(keyIndex, 1);
    FKeyState.SetDown(scanCode);
    ShowHeldNotes();
    if (auto* r = Rec())
      r->RecordKeyDown(static_cast<std::uint8_t>(scanCode));
    return;
  }
  if (QuickEditMode == 1)
    KeySemitoneUp(keyIndex);
  else
    KeySemitoneDown(keyIndex);
  SetKeyDefs(KeyDefs);
  if (auto* r = Rec())
    r->RecordKeyDefs(KeyDefs);
}

void TRoVoravForm::KeyCommand(int scanCode, std::uint8_t shift) {
  const bool none = shift == ssNone;
  const bool ctrl = shift == ssCtrl;
  const bool alt = shift == ssAlt;
  const bool shiftOnly = shift == ssShift;
  const bool ctrlShift = shift == ssCtrlShift;
  if (scanCode >= 2 && scanCode <= 11) {
    const int digit = scanCode - 2;
    if (alt)
      FAutoAccomp->SetAccompStyleIndex(digit);
    else if (ctrl)
      RecallOneTouch(digit);
    else if (ctrlShift)
      StoreOneTouch(digit);
    return;
  }
  if ((scanCode >= scF1 && scanCode <= scF10) || scanCode == scF11 || scanCode == scF12) {
    const int n = scanCode <= scF10 ? scanCode - scF1 + 1 : scanCode - scF11 + 11;
    if (none)
      SetRightVoiceByPatch(FavoriteVoicePatch(FavoriteVoices[static_cast<std::size_t>(n - 1)]));
    else if (shiftOnly)
      SetLeftVoiceByPatch(FavoriteVoicePatch(FavoriteVoices[static_cast<std::size_t>(12 + n - 1)]));
    if (scanCode == scF4 && alt)
      close();
    return;
  }
  switch (scanCode) {
  case scBackspace:
    if (none)
      RecallOneTouch(0);
    else if (ctrl)
      StoreOneTouch(0);
    break;
  case scHome:
  case scEnd: {
    const int step = scanCode == scHome ? 1 : -1;
    if (ctrl) {
      SetTranspose(Transpose + step);
      if (auto* r = Rec())
        r->RecordTranspose(Transpose);
    } else if (ctrlShift) {
      AddPercussVolume(5 * step);
    }
    break;
  }
  case scInsert:
  case scDelete: {
    const int step = scanCode == scInsert ? 5 : -5;
    if (ctrl) {
      SetRightVelocity(RightVelocity + step);
      if (auto* r = Rec())
        r->RecordRightVelocity(RightVelocity);
    } else if (ctrlShift) {
      SetLeftVelocity(LeftVelocity + step);
      if (auto* r = Rec())
        r->RecordLeftVelocity(LeftVelocity);
    }
    break;
  }
  case scPageUp:
  case scPageDown:
    if (ctrlShift)
      ChangeTempo(scanCode == scPageUp ? 1.05 : 0.95);
    break;
  case scGrave:
    if (none) {
      SetRightOctave(RightOctave == 0 ? 1 : RightOctave == 1 ? -1 : 0);
      if (auto* r = Rec())
        r->RecordRightOctave(RightOctave);
    } else if (shiftOnly) {
      SetLeftOctave(LeftOctave == 0 ? -1 : LeftOctave == -1 ? 1 : 0);
      if (auto* r = Rec())
        r->RecordLeftOctave(LeftOctave);
    }
    break;
  case scSpace:
    if (none)
      SpaceDown();
    break;
  case scWakeUp:
    if (none)
      ToggleRecording();
    break;
  case scPower:
    if (none)
      SetSmartSemitone(!FSmartSemitone);
    break;
  case scPrintScreen:
  case scScrollLock: {
    const int slot = scanCode == scPrintScreen ? 1 : 2;
    if (none)
      RecallOneTouch(slot);
    else if (ctrl)
      StoreOneTouch(slot);
    break;
  }
  case scPause:
    if (none || shiftOnly)
      SetSmartSemitone(!FSmartSemitone);
    break;
  case scSleep:
    if (none) {
      FLoopPlay = false;
      SetPlaying(!FPlaying);
    } else if (shiftOnly) {
      FLoopPlay = true;
      if (!FPlaying)
        SetPlaying(true);
    }
    break;
  case scP:
    if (ctrl) {
      SetPlaying(!FPlaying);
    } else if (ctrlShift) {
      FLoopPlay = true;
      if (!FPlaying)
        SetPlaying(true);
    }
    break;
  case scR:
    if (ctrl)
      ToggleRecording();
    break;
  case scS:
    if (ctrlShift)
      QuickSave();
    break;
  case scEsc:
    if (none)
      Panic();
    else if (ctrl)
      ShowAbout(this);
    break;
  case scEnter:
    if (none)
      SetAccompaniment(!FAccompRunning);
    break;
  case scTab:
    if (none)
      NextVoice(true);
    else if (shiftOnly)
      NextVoice(false);
    break;
  case scCapslock:
    if (none)
      NextOneTouch();
    else if (alt)
      FOneTouchCursor = -1;
    else if (ctrl)
      StoreOneTouchFree();
    else if (ctrlShift)
      ClearOneTouch();
    break;
  case scLWin:
  case scRWin:
    // Holding a Windows key edits the definition of the note keys pressed
    // meanwhile: the left one raises by a semitone, the right one lowers.
    if (none)
      QuickEditMode = scanCode == scLWin ? 1 : 2;
    break;
  default:
    break;
  }
}

void TRoVoravForm::SpaceDown() {
  const std::uint32_t now = Now();
  if (now - FLastSpaceTick < static_cast<std::uint32_t>(DoubleTapMs)) {
    SetPeriodPedal(!FPeriodPedal);
  } else {
    SetLeftSustain(true);
    if (auto* r = Rec())
      r->RecordLeftSustain(true);
  }
  FLastSpaceTick = now;
}

void TRoVoravForm::NextVoice(bool right) {
  const int count = InstrumentList.Count;
  if (count <= 0)
    return;
  if (right)
    SetRightVoice((FRightVoiceIndex + 1) % count);
  else
    SetLeftVoice((FLeftVoiceIndex + 1) % count);
}

void TRoVoravForm::Panic() {
  FPeriodPedal = false;
  SetLeftSustain(false);
  SetRightSustain(false);
  if (auto* r = Rec())
    r->RecordLeftSustain(false);
  if (auto* r = Rec())
    r->RecordRightSustain(false);
  SetSmartSemitone(false);
  FSoundingKeys.fill(TSoundingKey{});
  FOneTouchCursor = -1;
  ResetPerformance();
}

void TRoVoravForm::ToggleRecording() {
  if (FRecording) {
    FRecorder->RecordEnd();
    SetRecording(false);
  } else {
    SetRecording(true);
  }
}

void TRoVoravForm::AddPercussVolume(int delta) {
  const int volume = std::clamp(FAutoAccomp->APercussVolume() + delta, 0, 127);
  FAutoAccomp->SetAPercussVolume(volume);
}

void TRoVoravForm::ChangeTempo(double factor) {
  Metronome.SetTempo(Metronome.Tempo() * factor);
}

void TRoVoravForm::DoKeyUp(int scanCode) {
  FKeyState.SetUp(scanCode);
  const std::uint8_t shift = FKeyState.ShiftState();
  const int key = KeyIndexOfScanCode(scanCode);
  if (key < 0)
    return;
  // A key that sounds is always released as a note, also while a modifier or
  // a Windows key is held meanwhile: otherwise its notes would never stop.
  const bool sounding = FSoundingKeys[static_cast<std::size_t>(key)].Count > 0;
  if (!sounding && (shift != ssNone || !KeyHasNotes(key))) {
    if (scanCode == scSpace) {
      SetLeftSustain(false);
      if (auto* r = Rec())
        r->RecordLeftSustain(false);
    } else if (scanCode == scLWin || scanCode == scRWin) {
      QuickEditMode = 0;
    }
    return;
  }
  if (!sounding && QuickEditMode != 0)
    return;
  DoNoteOff(key);
  FPCKeyboard->SetKeyState(key, 0);
  ShowHeldNotes();
  if (auto* r = Rec())
    r->RecordKeyUp(static_cast<std::uint8_t>(scanCode));
}

bool TRoVoravForm::IsSmartKey(int keyIndex) const {
  constexpr int FirstEditingKey = 80; // "Insert"
  constexpr int LastEditingKey = 85;  // "PageDown"
  return FSmartSemitone && keyIndex >= FirstEditingKey && keyIndex <= LastEditingKey;
}

int TRoVoravForm::SmartSemitoneNote(int keyIndex) const {
  int base = 0;
  switch (KeyScanCodes[static_cast<std::size_t>(keyIndex)]) {
  case scDelete:
    base = 62;
    break;
  case scEnd:
    base = 60;
    break;
  case scPageDown:
    base = 67;
    break;
  case scInsert:
  case scHome:
    base = 69;
    break;
  default: // PageUp
    base = 65;
    break;
  }
  int reference = FMusic ? FMusic->LastNotes(1) : 0;
  if (reference < 1)
    reference = 60;
  // Without a qualifying candidate (a reference above all of them) the
  // highest candidate is taken.
  int upper = Transpose + base + 1 + 12 * 5;
  for (int i = -5; i <= 5; ++i) {
    const int p = Transpose + base + 1 + 12 * i;
    if (p - reference >= 0 && p - reference < 12) {
      upper = p;
      break;
    }
  }
  const int lower = upper - 12;
  return upper - reference < reference - lower ? upper : lower;
}

int TRoVoravForm::UntransposedNote(int channel, int note) const {
  // Sound-effect voices (programs 126, 127) ignore the transposition.
  if ((FMusic->Patches(channel) & 0xFF) > 125)
    return note - Transpose;
  return note;
}

void TRoVoravForm::ShowNoteKey(int hand, int note, std::uint8_t state) {
  TRoVoravKb& keyboard = hand == 0 ? *FLeftKeyboard : *FRightKeyboard;
  keyboard.SetKeyState(note - 24, state);
}

void TRoVoravForm::DoNoteOn(int keyIndex) {
  const int scanCode = KeyScanCodes[static_cast<std::size_t>(keyIndex)];
  const int drum = DrumNote(scanCode);
  const int drumVelocity = FAutoAccomp->APercussVolume();
  if (drum >= 0) {
    // A recording holds the drum's raw MIDI besides the key: playback sounds it
    // from there only, so the drum is not struck twice.
    if (FMusic && !FPlaying)
      FMusic->NoteOn(DrumChannel, static_cast<std::uint8_t>(drum),
                     static_cast<std::uint8_t>(drumVelocity));
    if (auto* r = Rec())
      r->RecordRawMidi(NoteOnDrums, static_cast<std::uint8_t>(drum),
                       static_cast<std::uint8_t>(drumVelocity));
    return;
  }
  // A key struck again while it sounds (mouse and keyboard together) restarts.
  StopKeyNotes(keyIndex);
  TSoundingKey& sounding = FSoundingKeys[static_cast<std::size_t>(keyIndex)];
  const bool smart = IsSmartKey(keyIndex);
  const TKeyDef& def = KeyDefs.Keys[keyIndex];
  for (int i = 0; i < SoundingNoteCount(def); ++i) {
    const TKeyNote& note = def.Notes[i];
    int n = NoteToMidi(note, true);
    if (n < 0)
      continue;
    const int hand = NoteIsLeft(note) ? 0 : 1;
    int velocity = note.Velocity;
    if (velocity == 0)
      velocity = hand == 0 ? LeftVelocity : RightVelocity;
    if (hand == 1 && smart)
      n = SmartSemitoneNote(keyIndex);
    if (FMusic) {
      n = UntransposedNote(hand, n);
      FMusic->NoteOn(hand, n, velocity);
    }
    ShowNoteKey(hand, n, 1);
    sounding.Notes[static_cast<std::size_t>(sounding.Count++)] = {hand, n};
  }
}

void TRoVoravForm::DoNoteOff(int keyIndex) {
  const int drum = DrumNote(KeyScanCodes[static_cast<std::size_t>(keyIndex)]);
  if (drum >= 0) {
    if (FMusic && !FPlaying)
      FMusic->NoteOff(DrumChannel, static_cast<std::uint8_t>(drum));
    if (auto* r = Rec())
      r->RecordRawMidi(NoteOffDrums, static_cast<std::uint8_t>(drum), DrumVelocityOff);
    return;
  }
  StopKeyNotes(keyIndex);
}

void TRoVoravForm::StopKeyNotes(int keyIndex) {
  TSoundingKey& sounding = FSoundingKeys[static_cast<std::size_t>(keyIndex)];
  for (int i = 0; i < sounding.Count; ++i) {
    const TSoundingKey::TNote& note = sounding.Notes[static_cast<std::size_t>(i)];
    if (FMusic)
      FMusic->NoteOff(note.Hand, note.Note);
    ShowNoteKey(note.Hand, note.Note, 0);
  }
  sounding.Count = 0;
}

void TRoVoravForm::CollectHeldNotes(TKeyNote (&notes)[MaxKeyNotes]) const {
  for (TKeyNote& note : notes)
    note = TKeyNote{0, 0, 4, 0, 0};
  int count = 0;
  for (int s = 0; s < 256 && count < MaxKeyNotes; ++s) {
    if (!FKeyState.IsDown(s))
      continue;
    const int key = KeyIndexOfScanCode(s);
    if (key < 0)
      continue;
    const TKeyDef& def = KeyDefs.Keys[key];
    for (int i = 0; i < SoundingNoteCount(def) && count < MaxKeyNotes; ++i)
      notes[count++] = def.Notes[i];
  }
}

void TRoVoravForm::ShowHeldNotes() {
  TKeyNote notes[MaxKeyNotes];
  CollectHeldNotes(notes);
  FStaff->ShowNotes(notes, Transpose);
}

TSimpleRecorder* TRoVoravForm::Rec() const {
  return FRecording ? FRecorder.get() : nullptr;
}

// ---------------------------------------------------------------------------
// Performance values

void TRoVoravForm::SetTranspose(int value) {
  value %= 12;
  if (value > MaxTranspose)
    value -= 12;
  if (value < MinTranspose)
    value += 12;
  Transpose = value;
  const auto i = static_cast<std::size_t>(value - MinTranspose);
  FStaff->SetKeySignature(KeySignatureCodes[i]);
  const QString shown = value > 0 ? QStringLiteral("1=%1 (+%2)") : QStringLiteral("1=%1 (%2)");
  FTransposeEdit->SetText(shown.arg(QLatin1String(TransposeNames[i])).arg(value));
}

void TRoVoravForm::SetLeftOctave(int value) {
  LeftOctave = std::clamp(value, -1, 1);
  FLeftOctaveEdit->SetText(SignedText(LeftOctave));
  FPCKeyboard->SetLeftOctave(LeftOctave);
}

void TRoVoravForm::SetRightOctave(int value) {
  RightOctave = std::clamp(value, -1, 1);
  FRightOctaveEdit->SetText(SignedText(RightOctave));
  FPCKeyboard->SetRightOctave(RightOctave);
}

void TRoVoravForm::SetLeftVelocity(int value) {
  LeftVelocity = std::clamp(value, 0, 127);
  FLeftVelocityEdit->SetText(QString::number(LeftVelocity));
}

void TRoVoravForm::SetRightVelocity(int value) {
  RightVelocity = std::clamp(value, 0, 127);
  FRightVelocityEdit->SetText(QString::number(RightVelocity));
}

void TRoVoravForm::SetRightVoice(int index) {
  if (index < 0 || index >= InstrumentList.Count)
    return;
  FRightVoiceIndex = index;
  const std::uint32_t patch = InstrumentList.Entries[static_cast<std::size_t>(index)].Patch;
  if (FMusic)
    FMusic->SetPatch(1, patch);
  if (auto* r = Rec())
    r->RecordRightVoice(static_cast<std::int32_t>(patch));
  FRightVoiceEdit->SetText(QString::number(index));
}

void TRoVoravForm::SetLeftVoice(int index) {
  if (index < 0 || index >= InstrumentList.Count)
    return;
  FLeftVoiceIndex = index;
  const std::uint32_t patch = InstrumentList.Entries[static_cast<std::size_t>(index)].Patch;
  if (FMusic)
    FMusic->SetPatch(0, patch);
  if (auto* r = Rec())
    r->RecordLeftVoice(static_cast<std::int32_t>(patch));
  FLeftVoiceEdit->SetText(QString::number(index));
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

void TRoVoravForm::SetRightVoiceByPatch(std::uint32_t patch) {
  SetRightVoice(TKoDirectMusic::FindInstrument(MapLegacyPatch(patch)));
}

void TRoVoravForm::SetLeftVoiceByPatch(std::uint32_t patch) {
  SetLeftVoice(TKoDirectMusic::FindInstrument(MapLegacyPatch(patch)));
}

void TRoVoravForm::SetLeftSustain(bool down) {
  if (FMusic)
    FMusic->SetSustain(0, down);
}

void TRoVoravForm::SetRightSustain(bool down) {
  if (FMusic)
    FMusic->SetSustain(1, down);
}

void TRoVoravForm::SetPeriodPedal(bool on) {
  FPeriodPedal = on;
  SetLeftSustain(on);
  if (auto* r = Rec())
    r->RecordLeftSustain(on);
}

void TRoVoravForm::SetSmartSemitone(bool on) {
  FSmartSemitone = on;
  FPCKeyboard->SetSmartSemitone(on);
  if (auto* r = Rec())
    r->RecordSmartSemitone(on);
}

void TRoVoravForm::SetAccompaniment(bool on) {
  if (on == FAccompRunning)
    return;
  if (on) {
    Metronome.SetRunning(false);
    Metronome.AddClient(
        AccompClientName, mfNewSecond | mfNewBeat,
        [](TMetronome&, std::uint16_t, double, double, int, std::int32_t, std::int32_t, bool&) {});
    FAutoAccomp->SetStart(true);
    FAccompRunning = true;
    Metronome.SetRunning(true);
    return;
  }
  FAutoAccomp->SetStart(false);
  if (!FRecording)
    Metronome.RemoveClient(AccompClientName);
  FAccompRunning = false;
}

void TRoVoravForm::SetKeyDefs(const TKeyDefTable& table) {
  if (&table != &KeyDefs)
    KeyDefs = table;
  FPCKeyboard->DrawAllLabels();
  FPCKeyboard->AllKeysUp();
}

void TRoVoravForm::SilenceAll() {
  if (!FMusic)
    return;
  FMusic->AllNotesOff(0);
  FMusic->AllNotesOff(1);
  FMusic->AllSoundOff(0);
  FMusic->AllSoundOff(1);
}

void TRoVoravForm::ResetPerformance(const TResetParts& parts) {
  if (parts.StopAccomp)
    SetAccompaniment(false);
  if (parts.StopRecording && FRecording) {
    FRecorder->RecordEnd();
    SetRecording(false);
  }
  if (parts.StopPlaying && FPlaying)
    SetPlaying(false);
  if (parts.Silence)
    SilenceAll();
  if (parts.ResetPianoKeyboards) {
    FLeftKeyboard->ReleaseAll();
    FRightKeyboard->ReleaseAll();
  }
  if (parts.ResetPCKeyboard)
    FPCKeyboard->AllKeysUp();
  if (parts.ClearStaff)
    FStaff->Clear();
  if (parts.ClearKeyState)
    FKeyState.Clear();
}

// ---------------------------------------------------------------------------
// One-touch slots

void TRoVoravForm::StoreOneTouch(int slot) {
  if (slot < 0 || slot > 9)
    return;
  FOneTouch[static_cast<std::size_t>(slot)] = {true,         FLeftVoiceIndex, FRightVoiceIndex,
                                               LeftVelocity, RightVelocity,   LeftOctave,
                                               RightOctave,  Transpose};
}

void TRoVoravForm::StoreOneTouchFree() {
  for (int slot = 0; slot < 10; ++slot)
    if (!FOneTouch[static_cast<std::size_t>(slot)].Used) {
      StoreOneTouch(slot);
      return;
    }
}

void TRoVoravForm::ClearOneTouch() {
  FOneTouch.fill({false, 0, 0, LeftVelocity, RightVelocity, 0, 0, Transpose});
  FOneTouchCursor = -1;
}

void TRoVoravForm::RecallOneTouch(int slot) {
  if (slot < 0 || slot > 9 || !FOneTouch[static_cast<std::size_t>(slot)].Used)
    return;
  const TOneTouchSlot s = FOneTouch[static_cast<std::size_t>(slot)];
  SetLeftVoice(s.LeftVoiceIndex);
  SetRightVoice(s.RightVoiceIndex);
  SetLeftVelocity(s.LeftVelocity);
  SetRightVelocity(s.RightVelocity);
  SetLeftOctave(s.LeftOctave);
  SetRightOctave(s.RightOctave);
  SetTranspose(s.Transpose);
}

void TRoVoravForm::NextOneTouch() {
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

void TRoVoravForm::SetRecording(bool on) {
  if (FPlaying || on == FRecording)
    return;
  if (on) {
    FRecording = true;
    FMainButtons->SetButtonState(3, 1);
    TSongHeader& header = FRecorder->Header;
    header.Info = MakeSongInfo("SongTitle", "Tavrin", "SongRemark");
    TSongState& state = header.State;
    state.Transpose = Transpose;
    state.RightVelocity = RightVelocity;
    state.LeftVelocity = LeftVelocity;
    state.RightOctave = RightOctave;
    state.LeftOctave = LeftOctave;
    state.RightPatch = FMusic ? static_cast<std::int32_t>(FMusic->Patches(1)) : 0;
    state.LeftPatch = FMusic ? static_cast<std::int32_t>(FMusic->Patches(0)) : 0;
    state.Reserved[0] = 1;
    state.Reserved[1] = 0;
    state.Reserved[2] = 2;
    state.SmartSemitone = FSmartSemitone ? -1 : 0;
    state.KeyDefs = KeyDefs;
    FSongFileName = QStringLiteral("NewFile");
    UpdateCaption();
    FRecorder->StartRecord();
  } else {
    FRecording = false;
    FRecorder->StopRecord();
    FMainButtons->SetButtonState(3, 0);
  }
  UpdateButtons();
}

void TRoVoravForm::SetEditsEnabled(bool enabled) {
  FPCKeyboard->SetEnabled(enabled);
  FLeftKeyboard->SetEnabled(enabled);
  FRightKeyboard->SetEnabled(enabled);
  for (TKoSpinEdit* edit : {FTransposeEdit.get(), FLeftOctaveEdit.get(), FRightOctaveEdit.get(),
                            FLeftVelocityEdit.get(), FRightVelocityEdit.get()})
    edit->SetButtonsEnabled(enabled);
}

void TRoVoravForm::SetPlaying(bool on) {
  if (FRecording || on == FPlaying)
    return;
  if (on) {
    FMainButtons->SetButtonState(2, 1);
    SetAccompaniment(false);
    SetEditsEnabled(false);
    FPlaying = true;
    FRecorder->StartPlay();
  } else {
    FMainButtons->SetButtonState(2, 0);
    FPlaying = false;
    FRecorder->StopPlay();
    ResetPerformance({true, true, false, false, true, true, true, true});
    SetEditsEnabled(true);
    FVolumeSlider->setEnabled(true);
  }
  FKeyState.Clear();
  UpdateButtons();
}

void TRoVoravForm::QuickSave() {
  if (FRecording || FPlaying || FRecorder->IsEmpty())
    return;
  ResetPerformance(ResetForDialog);
  // A fresh recording is "NewFile": it goes to the data folder, not to
  // wherever the program happened to be started from.
  std::filesystem::path name = FSongFileName.toStdString();
  if (name.is_relative())
    name = DataFileForWriting(name.string());
  if (!name.empty())
    FRecorder->SaveToFile(name, FRecorder->Header.Info);
}

void TRoVoravForm::UpdateButtons() {
  TKoMainButtons& b = *FMainButtons;
  if (FRecording || FPlaying) {
    b.SetEnabled(2, FPlaying);
    b.SetEnabled(3, FRecording);
    for (int i : {0, 1, 4, 5, 6})
      b.SetEnabled(i, false);
    return;
  }
  b.SetEnabled(3, true);
  b.SetEnabled(0, true);
  b.SetEnabled(1, FSongFileName.isEmpty() || FSongFileName == QLatin1String("NewFile"));
  b.SetEnabled(2, !FRecorder->IsEmpty());
  for (int i : {4, 5, 6})
    b.SetEnabled(i, true);
}

void TRoVoravForm::UpdateCaption() {
  setWindowTitle(QStringLiteral("Melotastico - %1").arg(FSongFileName));
}

void TRoVoravForm::ApplySongState() {
  const TSongState state = FRecorder->Header.State;
  SetSmartSemitone(state.SmartSemitone != 0);
  SetKeyDefs(state.KeyDefs);
  SetRightOctave(state.RightOctave);
  SetLeftOctave(state.LeftOctave);
  SetTranspose(state.Transpose);
  SetRightVelocity(state.RightVelocity);
  SetLeftVelocity(state.LeftVelocity);
  SetRightVoiceByPatch(state.RightPatch);
  SetLeftVoiceByPatch(state.LeftPatch);
}

void TRoVoravForm::SongEnded() {
  SetPlaying(false);
  if (!FLoopPlay)
    return;
  QThread::msleep(LoopPauseMs);
  SetPlaying(true);
}

void TRoVoravForm::PlayEvent(std::uint8_t kind, std::int32_t data, const TKeyDefTable* keyDefs) {
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
    if (FMusic)
      FMusic->SendMidiMessage(static_cast<std::uint8_t>(data >> 16),
                              static_cast<std::uint8_t>(data >> 8),
                              static_cast<std::uint8_t>(data));
    break;
  default:
    break;
  }
}

} // namespace melo

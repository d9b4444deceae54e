#include "app/PracticeWindow.h"

#include "app/KoPerformance.h"
#include "controls/KoMultiGlyphButton.h"
#include "input/KeyEventFeed.h"
#include "platform/ProgramSettings.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

namespace melo {
namespace {

constexpr int TickMs = 15;
// Real time from the top of the falling-notes area to the now-line.
constexpr int LookAheadMs = 3000;
constexpr int ShortestNoteMs = 80;
constexpr std::array<bool, 12> BlackKeys = {false, true,  false, true,  false, false,
                                            true,  false, true,  false, true,  false};

bool IsBlack(int note) {
  return BlackKeys[static_cast<std::size_t>(note % 12)];
}

int WhiteKeysBelow(int note) {
  static constexpr std::array<int, 12> whites = {0, 1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6};
  return note / 12 * 7 + whites[static_cast<std::size_t>(note % 12)];
}

QString KeyName(int keyIndex) {
  if (keyIndex < 0 || keyIndex >= KeyCount)
    return QStringLiteral("?");
  const std::string_view name = KeyNames[static_cast<std::size_t>(keyIndex)];
  return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

QString Signed(int value) {
  return value > 0 ? QStringLiteral("+%1").arg(value) : QString::number(value);
}

QString ShiftText(const TPracticeShift& shift) {
  const std::array<std::pair<int, QString>, 3> moves = {
      std::pair{shift.Transpose, QCoreApplication::translate("TfrmPractice", "移调 %1")},
      std::pair{shift.LeftOctave, QCoreApplication::translate("TfrmPractice", "左手八度 %1")},
      std::pair{shift.RightOctave, QCoreApplication::translate("TfrmPractice", "右手八度 %1")}};
  QStringList parts;
  for (const auto& [by, text] : moves) {
    if (by != 0)
      parts << text.arg(Signed(by));
  }
  return parts.join(QStringLiteral(", "));
}

} // namespace

// The falling notes over a piano keyboard, drawn from the window's notes.
class TPracticeWindow::TNotesArea final : public QWidget {
public:
  explicit TNotesArea(TPracticeWindow& window) : QWidget(&window), FWindow(window) {
    setMinimumSize(320, 200);
  }
  int KeyboardHeight() const { return std::clamp(height() / 5, 40, 110); }
  int NowY() const { return height() - KeyboardHeight(); }
  double WhiteWidth() const {
    const int whites = WhiteKeysBelow(FWindow.FHighNote) - WhiteKeysBelow(FWindow.FLowNote) + 1;
    return static_cast<double>(width()) / whites;
  }
  QRectF KeyColumn(int note) const {
    const double w = WhiteWidth();
    const double x = (WhiteKeysBelow(note) - WhiteKeysBelow(FWindow.FLowNote)) * w;
    return IsBlack(note) ? QRectF(x - w * 0.3, 0, w * 0.6, 1) : QRectF(x, 0, w, 1);
  }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(32, 32, 40));
    for (const TFallingNote& note : FWindow.FallingNotes()) {
      painter.fillRect(note.Rect, note.Practised ? QColor(70, 180, 110) : QColor(90, 90, 100));
      if (note.Label.isEmpty())
        continue;
      painter.setPen(Qt::white);
      painter.drawText(note.Rect.adjusted(-12, 0, 12, 0), Qt::AlignHCenter | Qt::AlignBottom,
                       note.Label);
    }
    painter.setPen(QPen(QColor(230, 60, 60), 2));
    painter.drawLine(0, NowY(), width(), NowY());
    DrawKeyboard(painter);
  }

private:
  void DrawKeyboard(QPainter& painter) const {
    std::vector<int> next;
    const int chord = FWindow.FSession.NextChord();
    if (chord >= 0 && FWindow.FSession.Running())
      next = FWindow.FSession.Chords()[static_cast<std::size_t>(chord)].Notes;
    const auto marked = [&](int note) { return std::ranges::find(next, note) != next.end(); };
    const QColor mark = QColor::fromRgb(NextKeyColour);
    const int top = NowY() + 1;
    for (const bool black : {false, true}) {
      for (int note = FWindow.FLowNote; note <= FWindow.FHighNote; ++note) {
        if (IsBlack(note) != black)
          continue;
        const QRectF column = KeyColumn(note);
        const double h = black ? KeyboardHeight() * 0.6 : KeyboardHeight() - 1;
        const QRectF key(column.x(), top, column.width(), h);
        painter.fillRect(key, marked(note) ? mark : black ? Qt::black : Qt::white);
        painter.setPen(Qt::gray);
        painter.drawRect(key);
      }
    }
  }

  TPracticeWindow& FWindow;
};

TPracticeWindow::TPracticeWindow(TKoPerformance& performance,
                                 std::vector<TTimedMidiMessage> messages, std::uint32_t endTime,
                                 const QString& songName, QWidget* parent)
    : QWidget(parent, Qt::Window), FPerformance(performance),
      FSession(std::move(messages), endTime), FSongName(songName) {
  setFocusPolicy(Qt::StrongFocus);
  FElapsed.start();
  CreateControls();
  TProgramSettings settings;
  LoadProgramSettings(settings);
  ShowChoices(settings.Practice);
  const auto best = settings.BestScores.find(songName.toStdString());
  if (best != settings.BestScores.end())
    FBestPercent = best->second;
  ApplyChoices();
  FSession.SetSend([this](const TTimedMidiMessage& m) {
    FPerformance.PlayAlongMessage(m.Status, m.Data1, m.Data2);
  });
  FPerformance.SetNoteListener([this](int note) {
    FSession.NotePlayed(note, Now());
    Tick();
  });
  FTimer.setInterval(TickMs);
  QObject::connect(&FTimer, &QTimer::timeout, this, [this] { Tick(); });
  resize(760, 560);
  ShowState();
}

TPracticeWindow::~TPracticeWindow() {
  FPerformance.SetNoteListener(nullptr);
  FSession.Stop();
}

void TPracticeWindow::CreateControls() {
  FPart = new QComboBox(this);
  FPart->addItems({QCoreApplication::translate("TfrmPractice", "右手"),
                   QCoreApplication::translate("TfrmPractice", "左手"),
                   QCoreApplication::translate("TfrmPractice", "双手")});
  FChannel = new QComboBox(this);
  FChannel->addItem(QCoreApplication::translate("TfrmPractice", "所有声道"));
  for (int channel = 1; channel <= 16; ++channel)
    FChannel->addItem(QCoreApplication::translate("TfrmPractice", "声道 %1").arg(channel));
  FSplit = new QSpinBox(this);
  FSplit->setRange(0, 127);
  FSplit->setValue(TPracticePart{}.SplitNote);
  FSplit->setToolTip(
      QCoreApplication::translate("TfrmPractice", "左手弹这个MIDI音符以下的音，右手弹其余的"));
  FMode = new QComboBox(this);
  FMode->addItems({QCoreApplication::translate("TfrmPractice", "等待"),
                   QCoreApplication::translate("TfrmPractice", "跟奏")});
  FTempo = new QSpinBox(this);
  FTempo->setRange(MinTempoPercent, MaxTempoPercent);
  FTempo->setValue(100);
  FTempo->setSuffix(QStringLiteral(" %"));
  FLoopFrom = new QDoubleSpinBox(this);
  FLoopTo = new QDoubleSpinBox(this);
  for (QDoubleSpinBox* box : {FLoopFrom, FLoopTo}) {
    box->setRange(0, FSession.EndTime() / 1000.0);
    box->setDecimals(1);
    box->setSuffix(QCoreApplication::translate("TfrmPractice", " 秒"));
  }
  FStartStop = new QPushButton(QCoreApplication::translate("TfrmPractice", "开始"), this);
  for (QWidget* control : std::initializer_list<QWidget*>{FPart, FChannel, FMode, FStartStop})
    control->setFocusPolicy(Qt::NoFocus);
  for (QWidget* control : std::initializer_list<QWidget*>{FSplit, FTempo, FLoopFrom, FLoopTo})
    control->setFocusPolicy(Qt::ClickFocus);
  QObject::connect(FStartStop, &QPushButton::clicked, this,
                   [this] { FSession.Running() ? StopPractice() : StartPractice(); });
  QObject::connect(FTempo, &QSpinBox::valueChanged, this,
                   [this](int tempo) { FSession.SetTempo(tempo, Now()); });

  auto* controls = new QHBoxLayout;
  controls->addWidget(new QLabel(QCoreApplication::translate("TfrmPractice", "声部"), this));
  controls->addWidget(FPart);
  controls->addWidget(FChannel);
  controls->addWidget(new QLabel(QCoreApplication::translate("TfrmPractice", "分手"), this));
  controls->addWidget(FSplit);
  controls->addWidget(new QLabel(QCoreApplication::translate("TfrmPractice", "方式"), this));
  controls->addWidget(FMode);
  controls->addWidget(new QLabel(QCoreApplication::translate("TfrmPractice", "速度"), this));
  controls->addWidget(FTempo);
  controls->addWidget(new QLabel(QCoreApplication::translate("TfrmPractice", "循环"), this));
  controls->addWidget(FLoopFrom);
  controls->addWidget(new QLabel(QStringLiteral("–"), this));
  controls->addWidget(FLoopTo);
  controls->addStretch();
  controls->addWidget(FStartStop);
  FStatus = new QLabel(this);
  FStatus->setWordWrap(true);
  FArea = new TNotesArea(*this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(controls);
  layout->addWidget(FStatus);
  layout->addWidget(FArea, 1);
}

void TPracticeWindow::ApplyChoices() {
  static constexpr std::array<TPracticeHands, 3> hands = {
      TPracticeHands::Right, TPracticeHands::Left, TPracticeHands::Both};
  TPracticePart part{.Hands = hands[static_cast<std::size_t>(FPart->currentIndex())],
                     .SplitNote = FSplit->value()};
  if (FChannel->currentIndex() > 0)
    part.Channels = static_cast<std::uint16_t>(1u << (FChannel->currentIndex() - 1));
  FSession.SetPart(part, FPerformance.Values());
  FSession.SetMode(FMode->currentIndex() == 0 ? TPracticeMode::Wait : TPracticeMode::PlayAlong);
  FSession.SetTempo(FTempo->value(), Now());
  FSession.SetLoop(static_cast<std::uint32_t>(FLoopFrom->value() * 1000),
                   static_cast<std::uint32_t>(FLoopTo->value() * 1000));
  BuildLabels();
}

// Each practised note's label: the key that plays it in its chord.
void TPracticeWindow::BuildLabels() {
  const std::vector<TSongNote>& notes = FSession.Notes();
  const std::vector<TPracticeChord>& chords = FSession.Chords();
  FLabels.assign(notes.size(), QString());
  FLowNote = 127;
  FHighNote = 0;
  std::size_t chord = 0;
  for (std::size_t i = 0; i < notes.size(); ++i) {
    FLowNote = std::min<int>(FLowNote, notes[i].Note);
    FHighNote = std::max<int>(FHighNote, notes[i].Note);
    if (!notes[i].Practised)
      continue;
    while (chord + 1 < chords.size() && chords[chord + 1].Time <= notes[i].Time)
      ++chord;
    const TPracticeChord& c = chords[chord];
    const auto at = std::ranges::find(c.Notes, int{notes[i].Note});
    if (at != c.Notes.end())
      FLabels[i] = KeyName(c.Keys.NoteKeys[static_cast<std::size_t>(at - c.Notes.begin())]);
  }
  // Whole octaves from C, two at least.
  FLowNote = FLowNote > FHighNote ? 48 : FLowNote / 12 * 12;
  FHighNote = std::max(FHighNote / 12 * 12 + 11, FLowNote + 23);
}

std::uint32_t TPracticeWindow::Now() const {
  return FClock ? FClock() : static_cast<std::uint32_t>(FElapsed.elapsed());
}

void TPracticeWindow::ShowChoices(const TPracticeChoices& choices) {
  FPart->setCurrentIndex(choices.Part);
  FChannel->setCurrentIndex(choices.Channel);
  FSplit->setValue(choices.Split);
  FMode->setCurrentIndex(choices.Mode);
  FTempo->setValue(choices.Tempo);
}

void TPracticeWindow::KeepChoices() const {
  TProgramSettings settings;
  LoadProgramSettings(settings);
  settings.Practice = {FPart->currentIndex(), FChannel->currentIndex(), FSplit->value(),
                       FMode->currentIndex(), FTempo->value()};
  SaveProgramSettings(settings);
}

void TPracticeWindow::StartPractice() {
  ApplyChoices();
  KeepChoices();
  FSession.Start(Now());
  FStartStop->setText(QCoreApplication::translate("TfrmPractice", "停止"));
  FTimer.start();
  setFocus();
  Tick();
}

void TPracticeWindow::StopPractice() {
  FSession.Stop();
  FTimer.stop();
  FStartStop->setText(QCoreApplication::translate("TfrmPractice", "开始"));
  ShowState();
}

void TPracticeWindow::Tick() {
  const bool wasRunning = FSession.Running();
  // A shift the player made to reach a note shows in the labels at once.
  if (FSession.FollowShifts(FPerformance.Values()))
    BuildLabels();
  FSession.Advance(Now());
  if (wasRunning && FSession.Finished())
    Finished();
  ShowState();
}

void TPracticeWindow::ShowState() {
  ShowNextKeys();
  FStatus->setText(StatusText());
  const QString progress = ProgressText();
  setWindowTitle(QCoreApplication::translate("TfrmPractice", "练习：%1").arg(FSongName) +
                 (progress.isEmpty() ? QString() : QStringLiteral(" — ") + progress));
  FArea->update();
}

QString TPracticeWindow::ProgressText() const {
  if (FSession.Finished())
    return QCoreApplication::translate("TfrmPractice", "得分 %1%").arg(FSession.Score().Percent());
  const int next = FSession.NextChord();
  if (!FSession.Running() || next < 0)
    return QString();
  QStringList keys;
  for (const int key : FSession.Chords()[static_cast<std::size_t>(next)].Keys.Keys)
    keys << KeyName(key);
  return QStringLiteral("%1/%2: %3")
      .arg(next + 1)
      .arg(FSession.Chords().size())
      .arg(keys.join(QStringLiteral(" + ")));
}

void TPracticeWindow::Finished() {
  FTimer.stop();
  FStartStop->setText(QCoreApplication::translate("TfrmPractice", "开始"));
  const int percent = FSession.Score().Percent();
  if (percent <= FBestPercent)
    return;
  FBestPercent = percent;
  TProgramSettings settings;
  LoadProgramSettings(settings);
  settings.BestScores[FSongName.toStdString()] = percent;
  SaveProgramSettings(settings);
}

void TPracticeWindow::ShowNextKeys() {
  std::vector<int> keys;
  const int next = FSession.NextChord();
  if (FSession.Running() && next >= 0)
    keys = FSession.Chords()[static_cast<std::size_t>(next)].Keys.Keys;
  if (keys == FShownKeys)
    return;
  FShownKeys = keys;
  if (FOnNextKeys)
    FOnNextKeys(keys);
}

QString TPracticeWindow::StatusText() const {
  const TPracticeScore& score = FSession.Score();
  const std::vector<TPracticeChord>& chords = FSession.Chords();
  QString text;
  if (FSession.Finished()) {
    text = QCoreApplication::translate("TfrmPractice", "得分 %1%：对 %2，错 %3，漏 %4")
               .arg(score.Percent())
               .arg(score.Right)
               .arg(score.Wrong)
               .arg(score.Missed);
    if (!score.TimingErrors.empty()) {
      text +=
          QCoreApplication::translate("TfrmPractice", "；时间误差中位 %1 毫秒，90% 在 %2 毫秒内")
              .arg(score.MedianErrorMs())
              .arg(score.Percentile90ErrorMs());
    }
  } else {
    const int next = FSession.NextChord();
    QStringList keys;
    if (next >= 0) {
      for (const int key : chords[static_cast<std::size_t>(next)].Keys.Keys)
        keys << KeyName(key);
    }
    text =
        QCoreApplication::translate("TfrmPractice", "第 %1/%2 个和弦，按 %3；对 %4，错 %5，漏 %6")
            .arg(next < 0 ? static_cast<int>(chords.size()) : next + 1)
            .arg(chords.size())
            .arg(keys.isEmpty() ? QStringLiteral("—") : keys.join(QStringLiteral(" + ")))
            .arg(score.Right)
            .arg(score.Wrong)
            .arg(score.Missed);
  }
  if (FBestPercent >= 0)
    text += QCoreApplication::translate("TfrmPractice", "；最佳 %1%").arg(FBestPercent);
  for (const TPracticeChord& chord : chords) {
    if (chord.Keys.OutOfReach.empty())
      continue;
    const TOutOfReach& far = chord.Keys.OutOfReach.front();
    text += far.Fixable
                ? QCoreApplication::translate("TfrmPractice", "\n有的音没有键能弹到；%1 可以弹到")
                      .arg(ShiftText(far.Fix))
                : QCoreApplication::translate("TfrmPractice", "\n有的音没有键能弹到");
    break;
  }
  return text;
}

std::vector<TPracticeWindow::TFallingNote> TPracticeWindow::FallingNotes() const {
  std::vector<TFallingNote> shown;
  const double nowY = FArea->NowY();
  const double pxPerMs = nowY * 100.0 / (LookAheadMs * FSession.Tempo());
  const double songTime = FSession.SongTime();
  const std::vector<TSongNote>& notes = FSession.Notes();
  for (std::size_t i = 0; i < notes.size(); ++i) {
    const TSongNote& note = notes[i];
    const double bottom = nowY - (note.Time - songTime) * pxPerMs;
    const double top = bottom - std::max<std::uint32_t>(note.Length, ShortestNoteMs) * pxPerMs;
    if (bottom < 0 || top > nowY)
      continue;
    const QRectF column = FArea->KeyColumn(note.Note);
    shown.push_back({QRectF(column.x() + 1, top, column.width() - 2, bottom - top), FLabels[i],
                     note.Practised});
  }
  return shown;
}

void TPracticeWindow::hideEvent(QHideEvent* e) {
  StopPractice();
  QWidget::hideEvent(e);
}

bool TPracticeWindow::event(QEvent* e) {
  if (TakeKeyEvent(*e, [this](const TKeyChange& change) {
        FPerformance.KeyboardKey(change.ScanCode, change.Down);
      }))
    return true;
  switch (e->type()) {
  case QEvent::WindowDeactivate:
  case QEvent::FocusOut:
    FPerformance.ReleaseKeyboard();
    break;
  default:
    break;
  }
  return QWidget::event(e);
}

} // namespace melo

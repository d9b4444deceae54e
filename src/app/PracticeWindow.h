#pragma once
// The practice window: a thin view over a practice session (PracticeSession).
// Falling notes over a piano keyboard, each of the practised part labelled
// with the PC key that plays it and the rest of the song dimmed, a now-line,
// the controls (part, mode, tempo, loop, start/stop) and the score. Keys
// pressed here go to the performance like the main window's; the session
// hears the notes they sound and sends the rest of the song through the
// performance's playback of raw MIDI.
#include "app/PracticeSession.h"
#include "music/TimedMidi.h"
#include "platform/ProgramSettings.h"

#include <QElapsedTimer>
#include <QRectF>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace melo {

class TKoPerformance;

class TPracticeWindow : public QWidget {
public:
  using TClock = std::function<std::uint32_t()>;
  using TKeysShown = std::function<void(const std::vector<int>& keyIndices)>;

  // songName names the song in the caption and its best score.
  TPracticeWindow(TKoPerformance& performance, std::vector<TTimedMidiMessage> messages,
                  std::uint32_t endTime, const QString& songName, QWidget* parent = nullptr);
  ~TPracticeWindow() override;
  TPracticeWindow(const TPracticeWindow&) = delete;
  TPracticeWindow& operator=(const TPracticeWindow&) = delete;

  // Tests set the time; the window's own clock runs from its creation.
  void SetClock(TClock clock) { FClock = std::move(clock); }
  // Told the keys to press next whenever they change (none once stopped).
  void SetOnNextKeys(TKeysShown shown) { FOnNextKeys = std::move(shown); }

  void StartPractice();
  void StopPractice();
  // Moves the session to the clock's time and shows it.
  void Tick();

  const TPracticeSession& Session() const { return FSession; }

  // A note as drawn on the falling-notes area now.
  struct TFallingNote {
    QRectF Rect;
    QString Label; // the PC key, for the practised part
    bool Practised = false;
  };
  std::vector<TFallingNote> FallingNotes() const;
  QString StatusText() const;
  // The caption's tail: the chord awaited and its keys ("2/5: Num-1 + Num-3"),
  // or the score once the song is through.
  QString ProgressText() const;

protected:
  bool event(QEvent* e) override;
  void hideEvent(QHideEvent* e) override;

private:
  class TNotesArea;

  void CreateControls();
  void ApplyChoices();
  // The choices last started with, from and to Melotastico.ini.
  void ShowChoices(const TPracticeChoices& choices);
  void KeepChoices() const;
  void BuildLabels();
  void ShowNextKeys();
  void ShowState();
  void Finished();
  std::uint32_t Now() const;

  TKoPerformance& FPerformance;
  TPracticeSession FSession;
  QString FSongName;
  std::vector<QString> FLabels; // by the session's notes
  int FLowNote = 48;
  int FHighNote = 84;
  std::vector<int> FShownKeys;
  int FBestPercent = -1;
  TClock FClock;
  TKeysShown FOnNextKeys;
  QElapsedTimer FElapsed;
  QTimer FTimer;
  QComboBox* FPart = nullptr;
  QComboBox* FChannel = nullptr;
  QSpinBox* FSplit = nullptr;
  QComboBox* FMode = nullptr;
  QSpinBox* FTempo = nullptr;
  QDoubleSpinBox* FLoopFrom = nullptr;
  QDoubleSpinBox* FLoopTo = nullptr;
  QPushButton* FStartStop = nullptr;
  QLabel* FStatus = nullptr;
  TNotesArea* FArea = nullptr;
};

} // namespace melo

// Key path: one PC key pressed and released through the main window (native key
// event, the performance's key down and up, note path with its displays,
// engine) against a note-on and note-off sent straight to the engine, measured
// in the same run.

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTemporaryDir>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "ChannelMessages.h"
#include "app/KoPerformance.h"
#include "app/MainWindow.h"
#include "platform/DataFolder.h"

namespace {

constexpr int Rounds = 5000;
constexpr std::uint32_t XKeycodeQ = 24;

void SendKey(QWidget& window, bool down) {
  QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, 0, Qt::NoModifier, XKeycodeQ, 0, 0);
  QApplication::sendEvent(&window, &event);
}

double MicrosecondsPerRound(const std::function<void()>& round) {
  QElapsedTimer timer;
  timer.start();
  for (int i = 0; i < Rounds; ++i)
    round();
  return static_cast<double>(timer.nsecsElapsed()) / 1000.0 / Rounds;
}

} // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir folder;
  std::ofstream(std::filesystem::path(folder.path().toStdString()) / "msf4.s") << "none";
  melo::SetProgramFolder(folder.path().toStdString());
  melo::TRoVoravForm window(melo::TEngineMode::Capture, nullptr);
  melo::TKoDirectMusic& engine = *window.Music();

  const double baseline = MicrosecondsPerRound([&] {
    melo::test::NoteOn(engine, 0, 60, 70);
    melo::test::NoteOff(engine, 0, 60);
  });
  const double keyPath = MicrosecondsPerRound([&] {
    SendKey(window, true);
    SendKey(window, false);
  });
  // The same key through a performance alone: what the key path costs
  // without the window's event delivery and displays.
  melo::TKoPerformance performance;
  performance.SetSink(&engine);
  const double unit = MicrosecondsPerRound([&] {
    performance.DoKeyDown(melo::scQ);
    performance.DoKeyUp(melo::scQ);
  });
  std::printf("engine note-on + note-off:      %8.2f us\n", baseline);
  std::printf("key press + release via window: %8.2f us (%.1f x the engine's own cost)\n", keyPath,
              keyPath / baseline);
  std::printf("key press + release, no window: %8.2f us (%.1f x the engine's own cost)\n", unit,
              unit / baseline);
  return 0;
}

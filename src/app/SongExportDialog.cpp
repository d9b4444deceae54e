#include "app/SongExportDialog.h"

#include "app/VideoExport.h"
#include "sound/KoDirectMusic.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>

namespace melo {
namespace {

constexpr int ProgressSteps = 1000;
constexpr int PollMs = 50;
// Exports quicker than this show no progress dialog at all.
constexpr int ShowProgressAfterMs = 500;

QString FailureText(TExportResult result) {
  switch (result) {
  case TExportResult::NoSoundSet:
    return QCoreApplication::translate("SongExportDialog", "无法载入音色库，未能导出。");
  case TExportResult::TooLong:
    return QCoreApplication::translate("SongExportDialog", "歌曲文件已损坏，未能导出。");
  case TExportResult::WriteFailed:
    return QCoreApplication::translate("SongExportDialog", "写入文件失败!");
  case TExportResult::Done:
  case TExportResult::Cancelled:
    break;
  }
  return {};
}

std::unique_ptr<QProgressDialog> ProgressDialog(QWidget* parent) {
  auto progress = std::make_unique<QProgressDialog>(
      QCoreApplication::translate("SongExportDialog", "正在导出歌曲…"),
      QCoreApplication::translate("SongExportDialog", "取消"), 0, ProgressSteps, parent);
  progress->setWindowTitle(QCoreApplication::translate("SongExportDialog", "导出"));
  progress->setWindowModality(Qt::WindowModal);
  progress->setMinimumDuration(ShowProgressAfterMs);
  progress->setAutoReset(false);
  progress->setAutoClose(false);
  return progress;
}

std::unique_ptr<TSimpleBuffer> CopyEvents(const TSimpleBuffer& events) {
  auto copy = std::make_unique<TSimpleBuffer>();
  for (std::size_t i = 0; i < events.Count(); ++i)
    copy->Add(events[i], events.KeyDefs(i));
  return copy;
}

} // namespace

TExportResult ExportSongFromWindow(QWidget* parent, const TSongHeader& header,
                                   const TSimpleBuffer& events,
                                   const std::filesystem::path& fileName, std::int32_t synthVolume,
                                   const QString& songName) {
  TRenderSetup setup = TRenderSetup::FromConfig();
  setup.Volume = synthVolume;
  TExportTarget target;
  TExportResult result = TExportResult::WriteFailed;
  if (IsVideoFileName(fileName)) {
    // The picture is drawn by widgets, so on this thread; the progress dialog
    // turns the event loop as it moves (it is modal).
    const auto progress = ProgressDialog(parent);
    result = ExportSongVideo(header, events, fileName, setup, TVideoOptions{}, songName,
                             [&progress](double done) {
                               progress->setValue(static_cast<int>(done * ProgressSteps));
                               return !progress->wasCanceled();
                             });
    progress->close();
  } else if (!ExportTargetOf(fileName, target)) {
    // Not a name the export knows: nothing is written.
  } else if (target.Kind == TExportKind::Midi) {
    // A MIDI file takes milliseconds and uses the window's own voices.
    const TSoundSetVoices voices(InstrumentList);
    result = ExportSong(header, events, fileName, target, setup, &voices);
  } else {
    // Audio renders on a worker; the UI thread keeps its event loop turning.
    struct TShared {
      std::atomic<int> Done{0};
      std::atomic<bool> Cancel{false};
      std::atomic<bool> Finished{false};
      TExportResult Result = TExportResult::WriteFailed;
    };
    auto shared = std::make_shared<TShared>();
    std::thread worker([shared, header, song = CopyEvents(events), fileName, target, setup] {
      shared->Result =
          ExportSong(header, *song, fileName, target, setup, nullptr, [&shared](double done) {
            shared->Done = static_cast<int>(done * ProgressSteps);
            return !shared->Cancel.load();
          });
      shared->Finished = true;
    });
    const auto progress = ProgressDialog(parent);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (progress->wasCanceled())
        shared->Cancel = true;
      if (shared->Finished) {
        loop.quit();
        return;
      }
      progress->setValue(shared->Done.load());
    });
    poll.start(PollMs);
    loop.exec();
    worker.join();
    progress->close();
    result = shared->Result;
  }
  const QString failure = FailureText(result);
  if (!failure.isEmpty()) {
    QMessageBox::information(parent, QCoreApplication::translate("SongExportDialog", "导出"),
                             failure);
  }
  return result;
}

} // namespace melo

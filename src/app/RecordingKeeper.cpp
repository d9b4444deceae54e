#include "app/RecordingKeeper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <ctime>
#include <utility>

#include "app/SongCommands.h"

namespace melo {
namespace {

QString Translated(const char* text) {
  return QCoreApplication::translate("TRecordingKeeper", text);
}

QString Shown(const std::filesystem::path& path) {
  return QDir::toNativeSeparators(QFile::decodeName(path.c_str()));
}

} // namespace

TRecordingKeeper::TRecordingKeeper(TSimpleRecorder& recorder, std::filesystem::path folder)
    : FRecorder(recorder), FFolder(std::move(folder)) {
  FFlushTimer.setInterval(FlushIntervalMs);
  QObject::connect(&FFlushTimer, &QTimer::timeout, &FFlushTimer, [this] { Flush(); });
  FRecorder.OnSongChange = [this](TSimpleRecorder&, TSongChange change) { SongChange(change); };
}

TRecordingKeeper::~TRecordingKeeper() {
  FRecorder.OnSongChange = {};
}

void TRecordingKeeper::SongChange(TSongChange change) {
  switch (change) {
  case TSongChange::RecordStart:
    KeepUnsaved();
    BeginRecording();
    break;
  case TSongChange::RecordStop:
    FFlushTimer.stop();
    Flush();
    break;
  case TSongChange::Load:
    KeepUnsaved();
    break;
  case TSongChange::Saved:
    FJournal.Remove();
    FUnsaved = false;
    break;
  }
}

// The recorder's header already holds the new recording's start state.
void TRecordingKeeper::BeginRecording() {
  FUnsaved = true;
  FHeader = FRecorder.Header;
  FStartTime = std::time(nullptr);
  FJournaled = 0;
  FJournalFailed = false;
  FFlushTimer.start();
}

void TRecordingKeeper::Flush() {
  if (!FUnsaved || FJournalFailed)
    return;
  std::vector<std::uint8_t> events;
  FJournaled = FRecorder.EventImageFrom(FJournaled, events);
  if (events.empty())
    return;
  std::error_code error;
  if (!FJournal.IsOpen() && !FJournal.Create(FFolder, FHeader, FStartTime, error)) {
    JournalFailed(error);
    return;
  }
  if (!FJournal.Append(events, error))
    JournalFailed(error);
}

// What the journal holds so far stays for recovery; the rest lives in memory.
void TRecordingKeeper::JournalFailed(const std::error_code& error) {
  FJournalFailed = true;
  FJournal.Close();
  Tell(Translated(QT_TRANSLATE_NOOP("TRecordingKeeper", "（录音无法写入磁盘：%1；录音仍在内存中）"))
           .arg(WriteFailureReason(error)));
}

void TRecordingKeeper::KeepUnsaved() {
  if (!FUnsaved)
    return;
  FUnsaved = false;
  std::error_code error;
  const std::filesystem::path kept =
      KeepSong(RecordingsFolder(), FStartTime, SongImage(FHeader, FRecorder.Events()), error);
  if (kept.empty()) {
    // Its journal, when there is one, is found at the next start.
    FJournal.Close();
    Tell(Translated(QT_TRANSLATE_NOOP("TRecordingKeeper", "（未保存的录音无法保存：%1）"))
             .arg(WriteFailureReason(error)));
    return;
  }
  FJournal.Remove();
  Tell(Translated(QT_TRANSLATE_NOOP("TRecordingKeeper", "（未保存的录音已存为 %1）"))
           .arg(Shown(kept)));
}

std::vector<std::filesystem::path> TRecordingKeeper::RecoverJournals() const {
  std::vector<std::filesystem::path> songs = melo::RecoverJournals(FFolder, RecordingsFolder());
  if (!songs.empty())
    std::fprintf(stderr, "Melotastico: %s\n", RecoveredText(songs).toLocal8Bit().constData());
  return songs;
}

void TRecordingKeeper::Tell(const QString& note) {
  FNote = note;
  std::fprintf(stderr, "Melotastico: %s\n", note.toLocal8Bit().constData());
  if (OnNoteChanged)
    OnNoteChanged();
}

QString RecoveredText(const std::vector<std::filesystem::path>& songs) {
  QStringList names;
  for (const std::filesystem::path& song : songs)
    names << Shown(song);
  return Translated(QT_TRANSLATE_NOOP("TRecordingKeeper", "上次未保存的录音已恢复，存为：\n%1"))
      .arg(names.join(QLatin1Char('\n')));
}

} // namespace melo

#include "app/SongCommands.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <filesystem>

#include "app/MidiFileSong.h"
#include "app/SimpleRecorder.h"
#include "music/MidiFileReader.h"
#include "platform/DataFolder.h"

namespace melo {
namespace {

std::filesystem::path ToPath(const QString& fileName) {
  return std::filesystem::path(QFile::encodeName(fileName).toStdString());
}

QString FromPath(const std::filesystem::path& path) {
  return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

// The typed title as a file name: no folder separators, no surrounding blanks.
QString ProposedName(const TSongInfo& info) {
  QString name = QString::fromStdString(SongTitle(info)).trimmed();
  name.replace(QLatin1Char('/'), QLatin1Char('_'));
  name.remove(QChar(0));
  return name;
}

// A name typed without an extension gets the song extension.
QString WithSongSuffix(const QString& fileName) {
  if (QFileInfo(fileName).suffix().isEmpty())
    return fileName + QStringLiteral(".lyt");
  return fileName;
}

} // namespace

TSongCommands::TSongCommands(TSimpleRecorder& recorder, QString& songFileName,
                             TSongWindowHooks hooks, TSongDialogs& dialogs)
    : FRecorder(recorder), FSongFileName(songFileName), FHooks(std::move(hooks)),
      FDialogs(&dialogs) {}

QString TSongCommands::SongFolder() {
  std::filesystem::path folder = DataFileForWriting(NewSongFileName).parent_path();
  if (folder.empty())
    folder = ProgramFolder();
  return FromPath(folder);
}

QString TSongCommands::SavePath(const QString& songFileName) {
  if (!QFileInfo(songFileName).isRelative())
    return songFileName;
  const std::filesystem::path path =
      DataFileForWriting(QFile::encodeName(songFileName).toStdString());
  return path.empty() ? QString() : FromPath(path);
}

void TSongCommands::OpenSong() {
  if (FHooks.Busy())
    return;
  FHooks.ResetForDialog();
  const QString fileName = FDialogs->OpenFileName(SongFolder());
  if (!fileName.isEmpty())
    OpenSongFile(fileName);
}

bool TSongCommands::AwaitsSave(const QString& songFileName) {
  return songFileName == QLatin1String(NewSongFileName) || IsMidiFileName(ToPath(songFileName));
}

bool TSongCommands::Load(const QString& fileName, TSongInfo& info) {
  if (!IsMidiFileName(ToPath(fileName))) {
    if (FRecorder.LoadFromFile(ToPath(fileName), info))
      return true;
    ReadFailed(fileName, SongText(SongReadFailedText));
    return false;
  }
  std::string reason;
  if (LoadMidiFileSong(ToPath(fileName), FRecorder, info, reason))
    return true;
  ReadFailed(fileName, SongText(MidiReadFailedText).arg(QString::fromStdString(reason)));
  return false;
}

bool TSongCommands::OpenSongFile(const QString& fileName) {
  TSongInfo info{};
  if (!Load(fileName, info))
    return false;
  WarnIfDamaged();
  if (FRecorder.Header.Version < SongVersion)
    FDialogs->Message(SongText(OldSongVersionText));
  FSongFileName = fileName;
  FHooks.UpdateCaption();
  FHooks.UpdateButtons();
  TSongInfo shown{};
  FDialogs->SongInfo(SongText(SongInfoCaption), info, shown, true);
  return true;
}

void TSongCommands::SaveSongAs() {
  if (FHooks.Busy() || FRecorder.IsEmpty() || !AwaitsSave(FSongFileName))
    return;
  FHooks.ResetForDialog();
  // A fresh recording starts with empty texts, a MIDI file's song with its own.
  const TSongInfo start = FSongFileName == QLatin1String(NewSongFileName) ? MakeSongInfo("", "", "")
                                                                          : FRecorder.Header.Info;
  TSongInfo info = start;
  // A cancelled dialog saves with the texts it started with.
  FDialogs->SongInfo(SongText(EnterSongInfoCaption), start, info, false);
  QString fileName = FDialogs->SaveFileName(SongFolder(), ProposedName(info));
  if (fileName.isEmpty())
    return;
  fileName = WithSongSuffix(fileName);
  // An export is a copy elsewhere: the recording keeps its name, stays
  // unsaved and can still be saved as a song.
  if (FHooks.Export && FHooks.Export(fileName, info))
    return;
  if (!Save(fileName, info))
    return;
  FSongFileName = fileName;
  FHooks.UpdateCaption();
  // Save is offered only for a fresh recording, which this no longer is.
  FHooks.UpdateButtons();
}

void TSongCommands::EditSongInfo() {
  if (FHooks.Busy())
    return;
  FHooks.ResetForDialog();
  const QString fileName = FDialogs->OpenFileName(SongFolder());
  if (fileName.isEmpty())
    return;
  TSongInfo info{};
  if (!FRecorder.LoadFromFile(ToPath(fileName), info)) {
    ReadFailed(fileName, SongText(SongReadFailedText));
    return;
  }
  // Saving the texts writes the song as loaded, without what was passed
  // over: never without the warning.
  WarnIfDamaged();
  FSongFileName = fileName;
  FHooks.UpdateCaption();
  FHooks.UpdateButtons();
  TSongInfo edited = info;
  if (FDialogs->SongInfo(SongText(EditSongInfoCaption), info, edited, false))
    static_cast<void>(Save(FSongFileName, edited)); // a failure shows its own message
}

bool TSongCommands::QuickSave() {
  if (FHooks.Busy() || FRecorder.IsEmpty())
    return false;
  if (IsMidiFileName(ToPath(FSongFileName))) {
    SaveSongAs();
    return !IsMidiFileName(ToPath(FSongFileName));
  }
  FHooks.ResetForDialog();
  const TSongInfo info = FRecorder.Header.Info;
  return Save(FSongFileName, info);
}

void TSongCommands::ReadFailed(const QString& fileName, const QString& text) {
  if (FHooks.ReadFailed)
    FHooks.ReadFailed(fileName);
  FDialogs->Message(text);
}

void TSongCommands::WarnIfDamaged() {
  if (FRecorder.IgnoredBytes() != 0)
    FDialogs->Message(DamagedSongText(FRecorder.IgnoredBytes()));
}

bool TSongCommands::Save(const QString& fileName, const TSongInfo& info) {
  const QString path = SavePath(fileName);
  std::error_code error;
  if (!path.isEmpty() && FRecorder.SaveToFile(ToPath(path), info, &error))
    return true;
  FDialogs->Message(SaveFailedText(path.isEmpty() ? fileName : path, error));
  return false;
}

QString SongText(const char* text) {
  return QCoreApplication::translate("TSongCommands", text);
}

QString DamagedSongText(std::size_t ignoredBytes) {
  return QCoreApplication::translate("TSongCommands", "歌曲文件可能已损坏，部分内容可能丢失。\n"
                                                      "文件末尾有 %1 个字节未能读取。")
      .arg(static_cast<qulonglong>(ignoredBytes));
}

QString WriteFailureReason(const std::error_code& error) {
  switch (error.value()) {
  case EACCES:
  case EPERM:
    return QCoreApplication::translate("TSongCommands", "没有写入权限");
  case ENOENT:
  case ENOTDIR:
    return QCoreApplication::translate("TSongCommands", "文件夹不存在");
  case ENOSPC:
  case EDQUOT:
    return QCoreApplication::translate("TSongCommands", "磁盘空间不足");
  case EROFS:
    return QCoreApplication::translate("TSongCommands", "磁盘是只读的");
  case EISDIR:
    return QCoreApplication::translate("TSongCommands", "已有同名的文件夹");
  case ENAMETOOLONG:
    return QCoreApplication::translate("TSongCommands", "文件名太长");
  case 0:
    return QCoreApplication::translate("TSongCommands", "找不到可以写入的文件夹");
  default:
    return QString::fromStdString(error.message());
  }
}

QString SaveFailedText(const QString& fileName, const std::error_code& error) {
  return QCoreApplication::translate("TSongCommands",
                                     "保存文件失败!\n%1\n原因：%2\n歌曲仍在内存中，没有丢失。")
      .arg(QDir::toNativeSeparators(fileName), WriteFailureReason(error));
}

QString SongArgument(const QStringList& arguments) {
  QString song;
  for (const QString& argument : arguments) {
    bool number = false;
    argument.toInt(&number);
    if (number || argument.toUpper() == QLatin1String("MULTIINSTANCE"))
      continue;
    // Anything there but a folder: a pipe or device is named too, so that
    // opening it is refused with a message rather than passed over.
    const QFileInfo file(argument);
    if (argument.endsWith(QLatin1String(".lyt"), Qt::CaseInsensitive) ||
        IsMidiFileName(ToPath(argument)) || (file.exists() && !file.isDir()))
      song = QFileInfo(argument).absoluteFilePath();
  }
  return song;
}

} // namespace melo

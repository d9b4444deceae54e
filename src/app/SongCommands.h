#pragma once
// The window's song commands (open a song, save it under a new name, save it
// quickly, change a song file's information) without the window: the checks,
// the dialogs, the recorder's file operations, the messages and the caption
// and button updates, in the order the window runs them. The window supplies
// the dialogs (tests answer in their place) and its own updates.
#include <QString>
#include <QStringList>

#include <cstddef>
#include <functional>
#include <system_error>

namespace melo {

class TSimpleRecorder;
struct TSongInfo;

// The name a fresh recording goes by until it is saved under a name of its own.
inline constexpr const char* NewSongFileName = "NewFile";

// Texts in Chinese as written; SongText gives them in the current language.
inline constexpr const char* OldSongVersionText =
    QT_TRANSLATE_NOOP("TSongCommands", "旧版文件，可能无法正确播放。");
inline constexpr const char* SongReadFailedText =
    QT_TRANSLATE_NOOP("TSongCommands", "读取文件失败!");
inline constexpr const char* SongInfoCaption = QT_TRANSLATE_NOOP("TSongCommands", "歌曲信息");
inline constexpr const char* EnterSongInfoCaption =
    QT_TRANSLATE_NOOP("TSongCommands", "请输入歌曲信息");
inline constexpr const char* MidiReadFailedText =
    QT_TRANSLATE_NOOP("TSongCommands", "读取 MIDI 文件失败!\n%1");
inline constexpr const char* EditSongInfoCaption =
    QT_TRANSLATE_NOOP("TSongCommands", "修改歌曲信息");

QString SongText(const char* text);

// What the commands ask of the person at the window.
class TSongDialogs {
public:
  virtual ~TSongDialogs() = default;
  // The open dialog, starting in folder, for an existing song file: its
  // path, or empty when cancelled.
  virtual QString OpenFileName(const QString& folder) = 0;
  // The save dialog, starting in folder with proposedName typed in (empty:
  // nothing typed); asks before overwriting. The chosen path, or empty.
  virtual QString SaveFileName(const QString& folder, const QString& proposedName) = 0;
  // The song-information dialog: shows info's texts (read-only or editable);
  // on OK stores what was typed in result and returns true.
  virtual bool SongInfo(const QString& caption, const TSongInfo& info, TSongInfo& result,
                        bool readOnly) = 0;
  // A message box with an OK button.
  virtual void Message(const QString& text) = 0;
};

// What the commands need of the window.
struct TSongWindowHooks {
  std::function<bool()> Busy; // recording or playing: the commands do nothing
  std::function<void()> ResetForDialog;
  std::function<void()> UpdateCaption;
  std::function<void()> UpdateButtons;
  // Exports the song in memory, with info as its texts, when fileName names
  // an export format (MIDI, audio); false for any other name, which is then
  // saved as a song. Empty: every name is saved as a song.
  std::function<bool(const QString& fileName, const TSongInfo& info)> Export;
  // Told (before the message box) when a song file could not be read.
  std::function<void(const QString& fileName)> ReadFailed;
};

class TSongCommands {
public:
  // songFileName is the window's song file name, which the commands change.
  TSongCommands(TSimpleRecorder& recorder, QString& songFileName, TSongWindowHooks hooks,
                TSongDialogs& dialogs);

  void SetDialogs(TSongDialogs& dialogs) { FDialogs = &dialogs; }

  // Ctrl+O and the Open button.
  void OpenSong();
  // What OpenSong does with the chosen file (also a song named on the command
  // line): load it, warn about an old version, take its name, show its
  // information read-only. A MIDI file (by its name) becomes the song in
  // memory and is refused with the reason when it cannot be read. A file with bytes after its
  // counted events loads, with a warning that it looks damaged. A file that does not load leaves
  // the song in memory and its name as they were. True when it loaded.
  bool OpenSongFile(const QString& fileName);
  // Ctrl+S and the Save button: a song that AwaitsSave only, with its
  // information to confirm. A name of an export format exports the song
  // instead and leaves its name as it was.
  void SaveSongAs();
  // Ctrl+Shift+O: rewrites a song file's texts, never a file that did not
  // load, and a damaged one only after the damage warning.
  void EditSongInfo();
  // Ctrl+Shift+S: saves under the current name, a fresh recording into the
  // data folder; a song read from a MIDI file goes through SaveSongAs, never
  // over the MIDI file. True when written.
  bool QuickSave();

  // True when the song named so has no song file of its own: a fresh
  // recording, or a song read from a MIDI file. Save is offered for it.
  static bool AwaitsSave(const QString& songFileName);

  // The folder the file dialogs start in: where quick save puts a fresh recording.
  static QString SongFolder();
  // Where a song name is written: a fresh recording's into the data folder
  // (empty when no folder can be written), any other as it is.
  static QString SavePath(const QString& songFileName);

private:
  // A failed read: the hook, then the message.
  void ReadFailed(const QString& fileName, const QString& text);
  // Reads a song file, or a MIDI file by its name; on failure says why.
  bool Load(const QString& fileName, TSongInfo& info);
  // The warning for a song loaded with bytes after its counted events.
  void WarnIfDamaged();
  // Saves the song in memory with info; a failure is reported by a message
  // naming the file and the reason. True when written.
  bool Save(const QString& fileName, const TSongInfo& info);

  TSimpleRecorder& FRecorder;
  QString& FSongFileName;
  TSongWindowHooks FHooks;
  TSongDialogs* FDialogs;
};

// The song named among the program's arguments (the last one when several
// are): an argument ending in ".lyt" or a MIDI file's suffix, or naming anything there but a folder
// (a pipe too, which opening then refuses at once), other than
// "MULTIINSTANCE" and port numbers, which keep their meaning. Empty when none.
QString SongArgument(const QStringList& arguments);

// The warning for a song file with ignoredBytes after its counted events:
// the file looks damaged and part of the song may be missing.
QString DamagedSongText(std::size_t ignoredBytes);

// Why a file could not be written, in words for the player (the system's own
// text for a reason without words of ours).
QString WriteFailureReason(const std::error_code& error);

// The message for a song that could not be written to fileName.
QString SaveFailedText(const QString& fileName, const std::error_code& error);

} // namespace melo

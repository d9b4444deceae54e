#pragma once

// The song-information dialog (title, player, remark), and the song
// commands' dialogs as the window shows them.

#include <QDialog>

#include "app/SongCommands.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace melo {

struct TSongInfo;

class TfrmSongInfo : public QDialog {
public:
  explicit TfrmSongInfo(QWidget* parent = nullptr);

  // Shows info's texts; read-only fields cannot be edited and OK comes first
  // in the tab order.
  void SetInfo(const TSongInfo& info, bool readOnly);
  // The texts as typed, cut to the fields' byte counts.
  TSongInfo Info() const;

  QLabel* lblTitle = nullptr;
  QLineEdit* edTitle = nullptr;
  QLabel* lblPlayer = nullptr;
  QLineEdit* edPlayer = nullptr;
  QLabel* lblRemark = nullptr;
  QPlainTextEdit* memRemark = nullptr;
  QPushButton* btnOK = nullptr;
};

// Shows the dialog modally with caption and info's texts. On OK, result gets
// the texts read back and the answer is true; otherwise result is untouched.
bool ExecuteSongInfo(const QString& caption, const TSongInfo& info, TSongInfo& result,
                     bool readOnly, QWidget* parent = nullptr);

// The real dialogs: file dialogs for songs, the information dialog, message boxes.
class TSongDialogsOnScreen final : public TSongDialogs {
public:
  explicit TSongDialogsOnScreen(QWidget* parent) : FParent(parent) {}
  QString OpenFileName(const QString& folder) override;
  QString SaveFileName(const QString& folder, const QString& proposedName) override;
  bool SongInfo(const QString& caption, const TSongInfo& info, TSongInfo& result,
                bool readOnly) override;
  void Message(const QString& text) override;

private:
  QWidget* FParent;
};

} // namespace melo

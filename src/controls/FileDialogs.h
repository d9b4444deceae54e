#pragma once
// What the program's dialogs share: the toolkit's own open and save dialogs, started in the
// folder the program keeps its files in, and the message shown when a file cannot be written.
#include <QFileDialog>
#include <QString>
#include <functional>

class QWidget;

namespace melo {

enum class TFileDialogKind { Open, Save };

struct TFileDialogRequest {
  TFileDialogKind Kind = TFileDialogKind::Open;
  QString Folder; // where the dialog starts
  QString Filter; // e.g. "Melotastico Keydef File(*.kdf)"; several apart by ";;", the first chosen
  QString DefaultSuffix; // added to a typed name without one, e.g. "kdf"
};

// Runs a modal file dialog. Opening requires an existing file; saving asks before replacing
// one. Returns the chosen full path, empty when the user cancelled.
QString RunFileDialog(QWidget* parent, const TFileDialogRequest& request);

// The folder the program writes its own files to (and reads them from), so a file saved from
// a dialog is found where the program looks: beside the executable, or the user's folder
// when that cannot be written.
QString DataFolderPath();

// The message after a write that failed; the old file, if any, is still there.
void ShowWriteFailed(QWidget* parent, const QString& fileName);

// The title of the program's own message boxes.
QString MessageTitle();

} // namespace melo

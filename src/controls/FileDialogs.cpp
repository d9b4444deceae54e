#include "controls/FileDialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>

#include "platform/DataFolder.h"
#include "sound/SetupConfig.h"

namespace melo {

QString RunFileDialog(QWidget* parent, const TFileDialogRequest& request) {
  QFileDialog dialog(parent, QString(), request.Folder, request.Filter);
  // The same dialog on every desktop, with the default suffix and the overwrite question
  // handled the same way everywhere.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  const bool save = request.Kind == TFileDialogKind::Save;
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(request.DefaultSuffix);
  dialog.selectNameFilter(request.Filter.section(QStringLiteral(";;"), 0, 0));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
    return {};
  return dialog.selectedFiles().constFirst();
}

QString DataFolderPath() {
  // The settings file is the anchor: where it is written is where the program's files live.
  const std::filesystem::path file = DataFileForWriting(ConfigFileName);
  const std::filesystem::path folder = file.empty() ? ProgramFolder() : file.parent_path();
  return QString::fromStdString(folder.string());
}

void ShowWriteFailed(QWidget* parent, const QString& fileName) {
  QMessageBox::warning(parent, MessageTitle(),
                       QCoreApplication::translate("FileDialogs", "无法写入文件：\n%1")
                           .arg(QDir::toNativeSeparators(fileName)));
}

QString MessageTitle() {
  return QCoreApplication::translate("FileDialogs", "Melotastico模拟钢琴");
}

} // namespace melo

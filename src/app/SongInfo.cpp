#include "app/SongInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

#include "app/SimpleRecorder.h"

namespace melo {

namespace {

constexpr int FormWidth = 201;
constexpr int FormHeight = 262;
constexpr const char* SongFilter = "Melotastico Song File(*.lyt)";
// A fresh recording's quick save is called "NewFile", without the extension:
// the open dialogs list it beside the songs so that it can be found again.
// MIDI files, which open as songs too, are the second type.
constexpr const char* OpenSongFilter =
    "Melotastico Song File(*.lyt NewFile);;MIDI files (*.mid *.midi *.kar)";

// What the save dialog offers: the song first (the default), then the export
// formats, each with the suffix a name typed without one gets.
struct TSaveType {
  const char* Filter;
  const char* Suffix;
};
constexpr TSaveType SaveTypes[] = {
    {SongFilter, "lyt"},
    {"MIDI file (*.mid)", "mid"},
    {"Wave audio (*.wav)", "wav"},
    {"FLAC audio (*.flac)", "flac"},
    {"Ogg Vorbis audio (*.ogg)", "ogg"},
    {"Video (*.mp4)", "mp4"},
};

QLabel* Label(QWidget* parent, const char* text, int top) {
  auto* label = new QLabel(QCoreApplication::translate("TfrmSongInfo", text), parent);
  label->move(8, top);
  label->adjustSize();
  return label;
}

QLineEdit* LineEdit(QWidget* parent, int top) {
  auto* edit = new QLineEdit(parent);
  edit->setGeometry(8, top, 185, 20);
  return edit;
}

} // namespace

TfrmSongInfo::TfrmSongInfo(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  QFont font(QStringLiteral("宋体"));
  font.setPixelSize(12);
  setFont(font);
  setFixedSize(FormWidth, FormHeight);
  setWindowTitle(SongText(SongInfoCaption));

  lblTitle = Label(this, QT_TRANSLATE_NOOP("TfrmSongInfo", "标题："), 8);
  edTitle = LineEdit(this, 24);
  lblPlayer = Label(this, QT_TRANSLATE_NOOP("TfrmSongInfo", "演奏者："), 56);
  edPlayer = LineEdit(this, 72);
  lblRemark = Label(this, QT_TRANSLATE_NOOP("TfrmSongInfo", "注释："), 104);
  memRemark = new QPlainTextEdit(this);
  memRemark->setGeometry(8, 120, 185, 105);
  memRemark->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memRemark->setTabChangesFocus(true);
  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setGeometry(66, 232, 75, 25);
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  lblTitle->setBuddy(edTitle);
  lblPlayer->setBuddy(edPlayer);
  lblRemark->setBuddy(memRemark);

  // Centred on the screen, not on the window.
  if (const QScreen* screen = this->screen())
    move(screen->availableGeometry().center() - rect().center());
}

void TfrmSongInfo::SetInfo(const TSongInfo& info, bool readOnly) {
  edTitle->setText(QString::fromStdString(SongTitle(info)));
  edPlayer->setText(QString::fromStdString(SongPlayer(info)));
  // Remarks keep the CR LF line ends of the files' home system.
  memRemark->setPlainText(QString::fromStdString(SongRemark(info))
                              .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  edTitle->setReadOnly(readOnly);
  edPlayer->setReadOnly(readOnly);
  memRemark->setReadOnly(readOnly);
  if (readOnly) {
    setTabOrder(btnOK, edTitle);
    setTabOrder(edTitle, edPlayer);
    setTabOrder(edPlayer, memRemark);
    btnOK->setFocus();
  } else {
    setTabOrder(edTitle, edPlayer);
    setTabOrder(edPlayer, memRemark);
    setTabOrder(memRemark, btnOK);
    edTitle->setFocus();
  }
}

TSongInfo TfrmSongInfo::Info() const {
  return MakeSongInfo(
      edTitle->text().toStdString(), edPlayer->text().toStdString(),
      memRemark->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\r\n")).toStdString());
}

bool ExecuteSongInfo(const QString& caption, const TSongInfo& info, TSongInfo& result,
                     bool readOnly, QWidget* parent) {
  TfrmSongInfo form(parent);
  form.setWindowTitle(caption);
  form.SetInfo(info, readOnly);
  if (form.exec() != QDialog::Accepted)
    return false;
  result = form.Info();
  return true;
}

QString TSongDialogsOnScreen::OpenFileName(const QString& folder) {
  QFileDialog dialog(FParent, QString(), folder, QString::fromUtf8(OpenSongFilter));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(QStringLiteral("lyt"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
    return {};
  return dialog.selectedFiles().constFirst();
}

QString TSongDialogsOnScreen::SaveFileName(const QString& folder, const QString& proposedName) {
  QFileDialog dialog(FParent, QString(), folder);
  QStringList filters;
  for (const TSaveType& type : SaveTypes)
    filters << QString::fromUtf8(type.Filter);
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters.constFirst());
  // The toolkit's own dialog on every desktop, so the suffix follows the type.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QString::fromLatin1(SaveTypes[0].Suffix));
  // A name typed without a suffix takes the chosen type's, so choosing "MIDI
  // file" and typing "song" exports song.mid.
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                   [&dialog](const QString& filter) {
                     for (const TSaveType& type : SaveTypes) {
                       if (filter == QString::fromUtf8(type.Filter))
                         dialog.setDefaultSuffix(QString::fromLatin1(type.Suffix));
                     }
                   });
  if (!proposedName.isEmpty())
    dialog.selectFile(QDir(folder).filePath(proposedName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
    return {};
  return dialog.selectedFiles().constFirst();
}

bool TSongDialogsOnScreen::SongInfo(const QString& caption, const TSongInfo& info,
                                    TSongInfo& result, bool readOnly) {
  return ExecuteSongInfo(caption, info, result, readOnly, FParent);
}

void TSongDialogsOnScreen::Message(const QString& text) {
  QMessageBox::information(FParent, QStringLiteral("Melotastico"), text);
}

} // namespace melo

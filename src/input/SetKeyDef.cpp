#include "input/SetKeyDef.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

#include "controls/FileDialogs.h"
#include "controls/KoStaff.h"

namespace melo {

namespace {

constexpr int FormWidth = 536;
constexpr int FormHeight = 372;
constexpr int ControlHeight = 20;
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;
constexpr int PreviewWidth = 49;
constexpr int PreviewHeight = 97;
constexpr int GlyphWidth = 14;
// Note-row columns: the toolkit's lists need a little more room for "None" than 49 pixels.
constexpr int DegreeLeft = 88;
constexpr int AccidentalLeft = 154;
constexpr int OctaveLeft = 220;
constexpr int VelocityLeft = 276;
constexpr int KeyboardLeft = 332;
constexpr int ListWidth = 60;
constexpr int SpinWidth = 48;
constexpr int OctaveOffset = 4; // octave 4 is shown as 0
constexpr const char* KdfFilter = "Melotastico Keydef File(*.kdf)";
constexpr const char* KdfSuffix = "kdf";
constexpr const char* HelpText =
    QT_TRANSLATE_NOOP("TfrmSetKeyDef", "自4.0版起，允许每个键定义成和弦(多个音同时发音)。"
                                       "但此功能目前尚不完善，建议慎用。");

QLabel* MakeLabel(QWidget* parent, const QString& text, int left, int top) {
  auto* label = new QLabel(text, parent);
  label->adjustSize();
  label->move(left, top);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const QString& text, int left, int top,
                        int width = ButtonWidth) {
  auto* button = new QPushButton(text, parent);
  button->setGeometry(left, top, width, ButtonHeight);
  return button;
}

QComboBox* MakeList(QWidget* parent, const QStringList& items, int left, int top, int width) {
  auto* box = new QComboBox(parent);
  box->addItems(items);
  box->setGeometry(left, top, width, ControlHeight);
  return box;
}

// The memo shows remarks with plain line breaks; the files keep CR LF.
QString RemarksForMemo(const std::string& remarks) {
  return QString::fromStdString(remarks).replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

std::string RemarksFromMemo(const QString& text) {
  QString stored = text;
  return stored.replace(QLatin1Char('\n'), QLatin1String("\r\n")).toStdString();
}

} // namespace

TfrmSetKeyDef::TfrmSetKeyDef(QWidget* parent) : QDialog(parent) {
  BuildPlayableKeys();
  std::fill(std::begin(WorkDefs.Keys), std::end(WorkDefs.Keys), EmptyKeyDef);
  SetTableRemarks(WorkDefs, "Default Key definition");

  setWindowTitle(QCoreApplication::translate("TfrmSetKeyDef", "修改键定义"));
  QFont font(QStringLiteral("宋体"));
  font.setPixelSize(12);
  setFont(font);
  setFixedSize(FormWidth, FormHeight);

  GroupBox2 = new QGroupBox(this);
  GroupBox2->setGeometry(8, 0, 521, 209);
  MakeLabel(GroupBox2, QCoreApplication::translate("TfrmSetKeyDef", "键："), 16, 27);
  QStringList names;
  for (int key = 0; key < KeyCount; ++key) {
    if (PlayableKeys[static_cast<std::size_t>(key)]) {
      names << QString::fromLatin1(
          KeyNames[static_cast<std::size_t>(key)].data(),
          static_cast<qsizetype>(KeyNames[static_cast<std::size_t>(key)].size()));
    }
  }
  cbbKeysName = MakeList(GroupBox2, names, 40, 23, 137);
  cbbKeysName->setMaxVisibleItems(16);
  connect(cbbKeysName, &QComboBox::currentIndexChanged, this, [this] { cbbKeysNameChange(); });

  gbNotes = new QGroupBox(QCoreApplication::translate("TfrmSetKeyDef", " 音符 "), GroupBox2);
  gbNotes->setGeometry(8, 56, 505, 145);
  MakeLabel(gbNotes, QCoreApplication::translate("TfrmSetKeyDef", "唱名："), DegreeLeft + 6, 20);
  MakeLabel(gbNotes, QCoreApplication::translate("TfrmSetKeyDef", "升降号："), AccidentalLeft + 2,
            20);
  MakeLabel(gbNotes, QCoreApplication::translate("TfrmSetKeyDef", "8度："), OctaveLeft + 3, 20);
  MakeLabel(gbNotes, QCoreApplication::translate("TfrmSetKeyDef", "力度："), VelocityLeft + 5, 20)
      ->setEnabled(false);
  MakeLabel(gbNotes, QCoreApplication::translate("TfrmSetKeyDef", "通道："), KeyboardLeft + 5, 20)
      ->setEnabled(false);
  QFont rowFont = font;
  rowFont.setBold(true);
  rowFont.setPixelSize(15);
  for (int row = 0; row < RowCount; ++row) {
    MakeLabel(gbNotes, QCoreApplication::translate("TfrmSetKeyDef", "%1#音符：").arg(row + 1), 16,
              43 + 24 * row)
        ->setFont(rowFont);
  }
  MakeLabel(gbNotes, QCoreApplication::translate("TfrmSetKeyDef", "预览："), 446, 21);
  imgPreviewNotes = new QLabel(gbNotes);
  imgPreviewNotes->setGeometry(440, 40, PreviewWidth, PreviewHeight);
  FPreview = QImage(PreviewWidth, PreviewHeight, QImage::Format_RGB888);
  FPreview.fill(Qt::white);

  GroupBox1 = new QGroupBox(GroupBox2);
  GroupBox1->setGeometry(200, 12, 313, 40);
  GroupBox1->setEnabled(false);
  MakeLabel(GroupBox1, QCoreApplication::translate("TfrmSetKeyDef", "标注："), 8, 17);
  edKeyCaption = new QLineEdit(GroupBox1);
  edKeyCaption->setGeometry(48, 13, 89, ControlHeight);
  connect(edKeyCaption, &QLineEdit::textChanged, this, [this] { ControlChanged(); });
  cbNoTranspose = new QCheckBox(QCoreApplication::translate("TfrmSetKeyDef", "不移调"), GroupBox1);
  cbNoTranspose->adjustSize();
  cbNoTranspose->move(224, 16);
  connect(cbNoTranspose, &QCheckBox::toggled, this, [this] { ControlChanged(); });

  btnOK = MakeButton(this, QCoreApplication::translate("TfrmSetKeyDef", "确定"), 72, 336);
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  Button1 = MakeButton(this, QCoreApplication::translate("TfrmSetKeyDef", "取消"), 192, 336);
  connect(Button1, &QPushButton::clicked, this, &QDialog::reject);

  GroupBox3 = new QGroupBox(this);
  GroupBox3->setGeometry(8, 210, 521, 113);
  memRemarks = new QPlainTextEdit(GroupBox3);
  memRemarks->setGeometry(8, 16, 369, 89);
  memRemarks->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memRemarks->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  btnSaveKeysDef = MakeButton(
      GroupBox3, QCoreApplication::translate("TfrmSetKeyDef", "保存键定义到文件"), 392, 24, 113);
  connect(btnSaveKeysDef, &QPushButton::clicked, this, [this] { btnSaveKeysDefClick(); });
  btnLoadKeysDef = MakeButton(
      GroupBox3, QCoreApplication::translate("TfrmSetKeyDef", "从文件加载键定义"), 392, 64, 113);
  connect(btnLoadKeysDef, &QPushButton::clicked, this, [this] { btnLoadKeysDefClick(); });
  btnHelp = MakeButton(this, QCoreApplication::translate("TfrmSetKeyDef", "帮助"), 400, 336);
  connect(btnHelp, &QPushButton::clicked, this, [this] { btnHelpClick(); });

  CreateRows();

  // Key, notes row by row, caption; then OK, Cancel, the remarks and their files, Help.
  QList<QWidget*> order{cbbKeysName};
  for (int row = 0; row < RowCount; ++row) {
    order << DegreeBoxes[row] << AccidentalBoxes[row] << OctaveEdits[row] << VelocityEdits[row]
          << KeyboardBoxes[row];
  }
  order << edKeyCaption << cbNoTranspose << btnOK << Button1 << memRemarks << btnSaveKeysDef
        << btnLoadKeysDef << btnHelp;
  for (qsizetype i = 1; i < order.size(); ++i)
    setTabOrder(order[i - 1], order[i]);
}

void TfrmSetKeyDef::CreateRows() {
  const QStringList degrees{QStringLiteral("None"), QStringLiteral("1"), QStringLiteral("2"),
                            QStringLiteral("3"),    QStringLiteral("4"), QStringLiteral("5"),
                            QStringLiteral("6"),    QStringLiteral("7")};
  const QStringList accidentals{QStringLiteral("None"), QStringLiteral("#"), QStringLiteral("b")};
  const QStringList keyboards{QCoreApplication::translate("TfrmSetKeyDef", "左键盘"),
                              QCoreApplication::translate("TfrmSetKeyDef", "右键盘")};
  for (int row = 0; row < RowCount; ++row) {
    const int top = 40 + 24 * row;
    DegreeBoxes[row] = MakeList(gbNotes, degrees, DegreeLeft, top, ListWidth);
    connect(DegreeBoxes[row], &QComboBox::currentIndexChanged, this, [this] { DegreeChanged(); });
    AccidentalBoxes[row] = MakeList(gbNotes, accidentals, AccidentalLeft, top, ListWidth);
    connect(AccidentalBoxes[row], &QComboBox::currentIndexChanged, this,
            [this] { ControlChanged(); });
    OctaveEdits[row] = new QSpinBox(gbNotes);
    OctaveEdits[row]->setRange(-3, 3);
    OctaveEdits[row]->setGeometry(OctaveLeft, top, SpinWidth, ControlHeight);
    connect(OctaveEdits[row], &QSpinBox::valueChanged, this, [this] { ControlChanged(); });
    VelocityEdits[row] = new QSpinBox(gbNotes);
    VelocityEdits[row]->setRange(0, 127);
    VelocityEdits[row]->setValue(0);
    VelocityEdits[row]->setGeometry(VelocityLeft, top, SpinWidth, ControlHeight);
    VelocityEdits[row]->setEnabled(false);
    connect(VelocityEdits[row], &QSpinBox::valueChanged, this, [this] { ControlChanged(); });
    KeyboardBoxes[row] = MakeList(gbNotes, keyboards, KeyboardLeft, top, 76);
    KeyboardBoxes[row]->setEnabled(false);
    connect(KeyboardBoxes[row], &QComboBox::currentIndexChanged, this,
            [this] { ControlChanged(); });
  }
}

int TfrmSetKeyDef::KeyListPosition(int keyIndex) {
  BuildPlayableKeys();
  if (keyIndex < 0 || keyIndex >= KeyCount || !PlayableKeys[static_cast<std::size_t>(keyIndex)])
    return -1;
  int position = 0;
  for (int key = 0; key < keyIndex; ++key) {
    if (PlayableKeys[static_cast<std::size_t>(key)])
      ++position;
  }
  return position;
}

int TfrmSetKeyDef::KeyOfListPosition(int position) {
  BuildPlayableKeys();
  if (position < 0)
    return -1;
  for (int key = 0; key < KeyCount; ++key) {
    if (PlayableKeys[static_cast<std::size_t>(key)] && position-- == 0)
      return key;
  }
  return -1;
}

int TfrmSetKeyDef::SelectedKey() const {
  return KeyOfListPosition(cbbKeysName->currentIndex());
}

void TfrmSetKeyDef::cbbKeysNameChange() {
  const int key = SelectedKey();
  if (key < 0)
    return;
  const TKeyDef& def = WorkDefs.Keys[key];
  {
    const QSignalBlocker caption(edKeyCaption);
    const QSignalBlocker noTranspose(cbNoTranspose);
    edKeyCaption->setText(QString::fromStdString(KeyCaption(def)));
    cbNoTranspose->setChecked(def.NoTranspose != 0);
  }
  for (int row = 0; row < RowCount; ++row) {
    const TKeyNote& note = def.Notes[row];
    const QSignalBlocker b1(DegreeBoxes[row]);
    const QSignalBlocker b2(AccidentalBoxes[row]);
    const QSignalBlocker b3(OctaveEdits[row]);
    const QSignalBlocker b4(VelocityEdits[row]);
    const QSignalBlocker b5(KeyboardBoxes[row]);
    // A value the list does not hold leaves it without a selection.
    DegreeBoxes[row]->setCurrentIndex(note.Degree <= 7 ? note.Degree : -1);
    AccidentalBoxes[row]->setCurrentIndex(
        note.Accidental == 1 || note.Accidental == 2 ? note.Accidental : 0);
    OctaveEdits[row]->setValue(note.Octave >= 1 && note.Octave <= 7 ? note.Octave - OctaveOffset
                                                                    : 0);
    VelocityEdits[row]->setValue(note.Velocity);
    KeyboardBoxes[row]->setCurrentIndex(note.Keyboard <= 1 ? note.Keyboard : -1);
    const bool hasNote = note.Degree != 0;
    AccidentalBoxes[row]->setEnabled(hasNote);
    OctaveEdits[row]->setEnabled(hasNote);
  }
  DrawPreview();
}

void TfrmSetKeyDef::StoreCurrentKey() {
  const int key = SelectedKey();
  if (key < 0)
    return;
  TKeyDef def = EmptyKeyDef;
  SetKeyCaption(def, edKeyCaption->text().toStdString());
  def.NoTranspose = cbNoTranspose->isChecked() ? 1 : 0;
  for (int row = 0; row < RowCount; ++row) {
    TKeyNote& note = def.Notes[row];
    note.Degree = static_cast<std::uint8_t>(DegreeBoxes[row]->currentIndex());
    const int accidental = AccidentalBoxes[row]->currentIndex();
    note.Accidental =
        static_cast<std::uint8_t>(accidental == 1 || accidental == 2 ? accidental : 0);
    const int octave = OctaveEdits[row]->value();
    note.Octave = static_cast<std::uint8_t>(octave >= -3 && octave <= 3 ? OctaveOffset + octave
                                                                        : OctaveOffset);
    note.Velocity = VelocityEdits[row]->value();
    note.Keyboard = static_cast<std::uint8_t>(KeyboardBoxes[row]->currentIndex());
  }
  // Notes after a "None" row are kept but do not sound.
  int count = 0;
  while (count < RowCount && def.Notes[count].Degree != 0)
    ++count;
  def.NoteCount = count;
  WorkDefs.Keys[key] = def;
}

void TfrmSetKeyDef::ControlChanged() {
  StoreCurrentKey();
  DrawPreview();
}

void TfrmSetKeyDef::DegreeChanged() {
  ControlChanged();
  // Reloading enables the row's accidental and octave with its degree.
  SelectKey(SelectedKey());
}

void TfrmSetKeyDef::SelectKey(int keyIndex) {
  {
    const QSignalBlocker blocker(cbbKeysName);
    cbbKeysName->setCurrentIndex(KeyListPosition(keyIndex));
  }
  cbbKeysNameChange();
  ShowRemarks();
}

void TfrmSetKeyDef::ShowRemarks() {
  memRemarks->setPlainText(RemarksForMemo(TableRemarks(WorkDefs)));
}

void TfrmSetKeyDef::StoreAll() {
  // Every control change has stored its key already; storing it again here would only drop
  // what the rows cannot show (notes 5 to 8) from a key nobody touched.
  const QString memo = memRemarks->toPlainText();
  if (memo != RemarksForMemo(TableRemarks(WorkDefs)))
    SetTableRemarks(WorkDefs, RemarksFromMemo(memo));
}

void TfrmSetKeyDef::DrawPreview() {
  FPreview.fill(Qt::white);
  const int key = SelectedKey();
  if (key >= 0) {
    const TKeyDef& def = WorkDefs.Keys[key];
    const TKeyNote& first = def.Notes[0];
    if (def.NoteCount > 0 && first.Degree != 0) {
      const int height = DrawNumberGlyph(FPreview, 0, 0, false, true, first, 0);
      DrawNumberGlyph(FPreview, (FPreview.width() - GlyphWidth) / 2, 0x000000, false, false, first,
                      (FPreview.height() - height) / 2);
    }
  }
  imgPreviewNotes->setPixmap(QPixmap::fromImage(FPreview));
}

void TfrmSetKeyDef::btnSaveKeysDefClick() {
  StoreAll();
  const QString name =
      RunFileDialog(this, {TFileDialogKind::Save, DataFolderPath(), QString::fromLatin1(KdfFilter),
                           QString::fromLatin1(KdfSuffix)});
  if (name.isEmpty())
    return;
  if (!SaveKeyDefFile(WorkDefs, name.toStdString()))
    ShowWriteFailed(this, name);
}

void TfrmSetKeyDef::btnLoadKeysDefClick() {
  const QString name =
      RunFileDialog(this, {TFileDialogKind::Open, DataFolderPath(), QString::fromLatin1(KdfFilter),
                           QString::fromLatin1(KdfSuffix)});
  // A refused file (damaged, foreign, unreadable) leaves the working copy as it was.
  if (name.isEmpty() || !LoadKeyDefFile(name.toStdString(), WorkDefs))
    return;
  SelectKey(SelectedKey());
}

void TfrmSetKeyDef::btnHelpClick() {
  QMessageBox::information(this, MessageTitle(),
                           QCoreApplication::translate("TfrmSetKeyDef", HelpText));
}

bool TfrmSetKeyDef::Execute(TKeyDefTable& table, int keyIndex, QWidget* parent) {
  TfrmSetKeyDef form(parent);
  form.WorkDefs = table;
  form.SelectKey(keyIndex);
  const bool ok = form.exec() == QDialog::Accepted;
  if (ok) {
    form.StoreAll();
    table = form.WorkDefs;
  }
  return ok;
}

} // namespace melo

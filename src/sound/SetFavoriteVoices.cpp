#include "sound/SetFavoriteVoices.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "controls/FileDialogs.h"
#include "sound/KoDirectMusic.h"

namespace melo {

namespace {

constexpr int FormWidth = 680;
constexpr int FormHeight = 334;
constexpr int RowsPerGroup = 12;
constexpr int GroupWidth = 276;
constexpr int GroupHeight = 312;
constexpr int ButtonLeft = 584;
constexpr int ButtonWidth = 88;
constexpr int ButtonHeight = 25;
constexpr const char* FvcFilter = "Melotastico FavoriteVoices File(*.fvc)";
constexpr const char* FvcSuffix = "fvc";

// Each exactly 12 characters, right-aligned with blanks.
constexpr std::array<const char*, FavoriteVoiceCount> SlotLabels = {
    "         F1:", "         F2:", "         F3:", "         F4:", "         F5:", "         F6:",
    "         F7:", "         F8:", "         F9:", "        F10:", "        F11:", "        F12:",
    " Shift + F1:", " Shift + F2:", " Shift + F3:", " Shift + F4:", " Shift + F5:", " Shift + F6:",
    " Shift + F7:", " Shift + F8:", " Shift + F9:", "Shift + F10:", "Shift + F11:", "Shift + F12:"};

QStringList InstrumentItems() {
  QStringList items;
  for (int j = 0; j < InstrumentList.Count; ++j) {
    const TPatchBytes patch =
        UnpackPatch(InstrumentList.Entries[static_cast<std::size_t>(j)].Patch);
    items << QStringLiteral("%1:<%2:%3:%4> %5")
                 .arg(j)
                 .arg(patch.MSB)
                 .arg(patch.LSB)
                 .arg(patch.Program)
                 .arg(QString::fromStdString(InstrumentList.NameUtf8(j)));
  }
  return items;
}

QPushButton* MakeButton(QWidget* parent, const QString& text, int top) {
  auto* button = new QPushButton(text, parent);
  button->setGeometry(ButtonLeft, top, ButtonWidth, ButtonHeight);
  return button;
}

} // namespace

TfrmSetFavoriteVoices::TfrmSetFavoriteVoices(const TFavoriteVoiceTable& table, QWidget* parent)
    : QDialog(parent), FBase(table) {
  setWindowTitle(QCoreApplication::translate("TfrmSetFavoriteVoices", "编辑快捷音色"));
  QFont font(QStringLiteral("宋体"));
  font.setPixelSize(12);
  setFont(font);
  setFixedSize(FormWidth, FormHeight);

  gbSlave = new QGroupBox(QCoreApplication::translate("TfrmSetFavoriteVoices", " 副音色 "), this);
  gbSlave->setGeometry(8, 8, GroupWidth, GroupHeight);
  gbMaster = new QGroupBox(QCoreApplication::translate("TfrmSetFavoriteVoices", " 主音色 "), this);
  gbMaster->setGeometry(16 + GroupWidth, 8, GroupWidth, GroupHeight);

  const QStringList items = InstrumentItems();
  for (std::size_t slot = 0; slot < FavoriteVoiceCount; ++slot) {
    QGroupBox* group = slot < RowsPerGroup ? gbMaster : gbSlave;
    const int row = static_cast<int>(slot % RowsPerGroup);
    auto* label = new QLabel(QString::fromLatin1(SlotLabels[slot]), group);
    label->setGeometry(8, 18 + 24 * row, 76, 14);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* box = new QComboBox(group);
    box->setGeometry(88, 14 + 24 * row, 180, 20);
    box->setMaxVisibleItems(16);
    box->addItems(items);
    VoiceBoxes[slot] = box;
  }

  btnLoad = MakeButton(this, QCoreApplication::translate("TfrmSetFavoriteVoices", "加载…"), 14);
  connect(btnLoad, &QPushButton::clicked, this, [this] { btnLoadClick(); });
  btnSave = MakeButton(this, QCoreApplication::translate("TfrmSetFavoriteVoices", "保存…"), 46);
  connect(btnSave, &QPushButton::clicked, this, [this] { btnSaveClick(); });
  btnRestoreToDefult =
      MakeButton(this, QCoreApplication::translate("TfrmSetFavoriteVoices", "恢复到缺省"), 78);
  connect(btnRestoreToDefult, &QPushButton::clicked, this, [this] { btnRestoreToDefultClick(); });
  btnOK = MakeButton(this, QCoreApplication::translate("TfrmSetFavoriteVoices", "确定"),
                     FormHeight - 66);
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  btnCancel = MakeButton(this, QCoreApplication::translate("TfrmSetFavoriteVoices", "取消"),
                         FormHeight - 34);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  // Left group, right group, then the buttons down the right edge.
  QList<QWidget*> order;
  for (std::size_t slot = RowsPerGroup; slot < FavoriteVoiceCount; ++slot)
    order << VoiceBoxes[slot];
  for (std::size_t slot = 0; slot < RowsPerGroup; ++slot)
    order << VoiceBoxes[slot];
  order << btnLoad << btnSave << btnRestoreToDefult << btnOK << btnCancel;
  for (qsizetype i = 1; i < order.size(); ++i)
    setTabOrder(order[i - 1], order[i]);
}

void TfrmSetFavoriteVoices::ShowVoices(const TFavoriteVoiceTable& table) {
  for (std::size_t slot = 0; slot < FavoriteVoiceCount; ++slot) {
    const int index = TKoDirectMusic::FindInstrument(FavoriteVoicePatch(table[slot]));
    VoiceBoxes[slot]->setCurrentIndex(index >= 0 ? index : 0);
  }
}

TFavoriteVoiceTable TfrmSetFavoriteVoices::ReadVoices() const {
  TFavoriteVoiceTable table = FBase;
  for (std::size_t slot = 0; slot < FavoriteVoiceCount; ++slot) {
    const int index = std::max(VoiceBoxes[slot]->currentIndex(), 0);
    const std::uint32_t patch = index < InstrumentList.Count
                                    ? InstrumentList.Entries[static_cast<std::size_t>(index)].Patch
                                    : 0;
    SetFavoriteVoicePatch(table[slot], patch);
  }
  return table;
}

void TfrmSetFavoriteVoices::btnLoadClick() {
  const QString name =
      RunFileDialog(this, {TFileDialogKind::Open, DataFolderPath(), QString::fromLatin1(FvcFilter),
                           QString::fromLatin1(FvcSuffix)});
  if (name.isEmpty())
    return;
  // An unreadable file leaves the lists as they are; a short or empty one
  // shows the defaults where it holds no voices.
  TFavoriteVoiceTable scratch = FBase;
  if (LoadFavoriteVoices(name.toStdString(), scratch))
    ShowVoices(scratch);
}

void TfrmSetFavoriteVoices::btnSaveClick() {
  const QString name =
      RunFileDialog(this, {TFileDialogKind::Save, DataFolderPath(), QString::fromLatin1(FvcFilter),
                           QString::fromLatin1(FvcSuffix)});
  if (!name.isEmpty() && !SaveFavoriteVoices(name.toStdString(), ReadVoices()))
    ShowWriteFailed(this, name);
}

void TfrmSetFavoriteVoices::btnRestoreToDefultClick() {
  TFavoriteVoiceTable scratch = FBase;
  SetDefaultFavoriteVoices(scratch);
  ShowVoices(scratch);
}

bool EditFavoriteVoices(TFavoriteVoiceTable& table, QWidget* parent) {
  TfrmSetFavoriteVoices form(table, parent);
  form.ShowVoices(table);
  if (form.exec() != QDialog::Accepted)
    return false;
  table = form.ReadVoices();
  return true;
}

} // namespace melo

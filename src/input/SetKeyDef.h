#pragma once
// The key-definition editor: pick a playable key, give it up to four notes, see the first note
// in numbered notation, write a remark about the whole definition, save it to or load it from
// a *.kdf file. It edits a private copy and hands it back only on OK.
#include <QDialog>
#include <QImage>
#include <array>

#include "input/KoKeyDef.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace melo {

class TfrmSetKeyDef : public QDialog {
public:
  static constexpr int RowCount = 4;

  explicit TfrmSetKeyDef(QWidget* parent = nullptr);

  // Edits a copy of table starting at keyIndex (a playable key); on OK the copy, with the
  // remarks stored, replaces table. True when closed with OK. The parent only keeps the
  // dialog above the window that opened it.
  static bool Execute(TKeyDefTable& table, int keyIndex, QWidget* parent = nullptr);

  // List position in cbbKeysName of a key index and back; -1 when there is none.
  static int KeyListPosition(int keyIndex);
  static int KeyOfListPosition(int position);

  void SelectKey(int keyIndex);
  void StoreAll();
  int SelectedKey() const;
  const TKeyDefTable& Working() const { return WorkDefs; }
  void SetWorking(const TKeyDefTable& table) { WorkDefs = table; }
  const QImage& PreviewImage() const { return FPreview; }

  void btnSaveKeysDefClick();
  void btnLoadKeysDefClick();
  void btnHelpClick();

  QGroupBox* GroupBox2 = nullptr;
  QComboBox* cbbKeysName = nullptr;
  QGroupBox* gbNotes = nullptr;
  QLabel* imgPreviewNotes = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QLineEdit* edKeyCaption = nullptr;
  QCheckBox* cbNoTranspose = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* Button1 = nullptr;
  QGroupBox* GroupBox3 = nullptr;
  QPlainTextEdit* memRemarks = nullptr;
  QPushButton* btnSaveKeysDef = nullptr;
  QPushButton* btnLoadKeysDef = nullptr;
  QPushButton* btnHelp = nullptr;

  std::array<QComboBox*, RowCount> DegreeBoxes{};
  std::array<QComboBox*, RowCount> AccidentalBoxes{};
  std::array<QComboBox*, RowCount> KeyboardBoxes{};
  std::array<QSpinBox*, RowCount> OctaveEdits{};
  std::array<QSpinBox*, RowCount> VelocityEdits{};

private:
  void CreateRows();
  void cbbKeysNameChange();
  void StoreCurrentKey();
  void ControlChanged();
  void DegreeChanged();
  void DrawPreview();
  void ShowRemarks();

  TKeyDefTable WorkDefs{};
  QImage FPreview;
};

} // namespace melo

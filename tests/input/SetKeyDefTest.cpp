// The key-definition editor driven through its real widgets, with files in a scratch folder.
#include "input/SetKeyDef.h"

#include "controls/ModalDriver.h"
#include "controls/SkinFixture.h"
#include "platform/DataFolder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace melo::test {
namespace {

constexpr int KeyOne = 14; // the "1" key

std::vector<std::uint8_t> Bytes(const TKeyDefTable& table) {
  std::vector<std::uint8_t> bytes(KeyDefTableBytes);
  KeyDefTableToBytes(table, std::span<std::uint8_t, KeyDefTableBytes>(bytes.data(), bytes.size()));
  return bytes;
}

int BlackPixels(const QImage& image) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x)
      count += image.pixelColor(x, y) == QColor(Qt::black) ? 1 : 0;
  }
  return count;
}

bool AllWhite(const QImage& image) {
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixelColor(x, y) != QColor(Qt::white))
        return false;
    }
  }
  return true;
}

class SetKeyDefTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    App();
    ASSERT_TRUE(LoadGlyphLibrary(QStringLiteral(MELO_GLYPH_LIBRARY)));
    ASSERT_TRUE(LoadSkinBitmaps());
  }
  void SetUp() override {
    ASSERT_TRUE(Folder.isValid());
    Dir = Folder.path().toStdString();
    ::setenv("XDG_CONFIG_HOME", (Dir / "xdg").c_str(), 1);
    SetProgramFolder(Dir);
    FillDefaultKeyDefs(Table);
  }

  QString PathOf(const char* name) const { return QString::fromStdString((Dir / name).string()); }

  // A form on Table at the "1" key, as Execute prepares it.
  std::unique_ptr<TfrmSetKeyDef> OpenForm(int key = KeyOne) {
    auto form = std::make_unique<TfrmSetKeyDef>();
    form->SetWorking(Table);
    form->SelectKey(key);
    return form;
  }

  QTemporaryDir Folder;
  std::filesystem::path Dir;
  TKeyDefTable Table{};
};

TEST_F(SetKeyDefTest, OpensAtTheOneKeyWithItsDefaultNote) {
  bool shown = false;
  WhenShown<TfrmSetKeyDef>([&](TfrmSetKeyDef* form) {
    shown = true;
    EXPECT_EQ(form->windowTitle(), QStringLiteral("修改键定义"));
    EXPECT_EQ(form->size(), QSize(536, 372));
    EXPECT_EQ(form->cbbKeysName->count(), 73);
    EXPECT_EQ(form->cbbKeysName->currentText(), QStringLiteral("1"));
    EXPECT_EQ(form->DegreeBoxes[0]->currentText(), QStringLiteral("1"));
    EXPECT_EQ(form->AccidentalBoxes[0]->currentText(), QStringLiteral("None"));
    EXPECT_EQ(form->OctaveEdits[0]->value(), 1); // octave 5 stored
    EXPECT_EQ(form->KeyboardBoxes[0]->currentText(), QStringLiteral("左键盘"));
    EXPECT_TRUE(form->AccidentalBoxes[0]->isEnabled());
    EXPECT_TRUE(form->OctaveEdits[0]->isEnabled());
    for (int row = 0; row < TfrmSetKeyDef::RowCount; ++row) {
      EXPECT_FALSE(form->VelocityEdits[row]->isEnabled());
      EXPECT_FALSE(form->KeyboardBoxes[row]->isEnabled());
    }
    for (int row = 1; row < TfrmSetKeyDef::RowCount; ++row) {
      EXPECT_EQ(form->DegreeBoxes[row]->currentText(), QStringLiteral("None"));
      EXPECT_FALSE(form->AccidentalBoxes[row]->isEnabled());
      EXPECT_FALSE(form->OctaveEdits[row]->isEnabled());
    }
    EXPECT_FALSE(form->edKeyCaption->isEnabledTo(form)); // shown, not editable
    EXPECT_EQ(form->memRemarks->toPlainText().toStdString(), TableRemarks(Table));
    // The first note is previewed in black, centred.
    EXPECT_GT(BlackPixels(form->PreviewImage()), 20);
    form->Button1->click();
  });
  const TKeyDefTable before = Table;
  EXPECT_FALSE(TfrmSetKeyDef::Execute(Table, KeyOne));
  EXPECT_TRUE(shown);
  EXPECT_EQ(Bytes(Table), Bytes(before));
}

TEST_F(SetKeyDefTest, ListPositionsCountOnlyPlayableKeys) {
  EXPECT_EQ(TfrmSetKeyDef::KeyListPosition(14), 0);
  EXPECT_EQ(TfrmSetKeyDef::KeyListPosition(29), 13); // after the 13 keys 14..26
  EXPECT_EQ(TfrmSetKeyDef::KeyListPosition(27), -1); // Backspace plays nothing
  EXPECT_EQ(TfrmSetKeyDef::KeyListPosition(106), 72);
  EXPECT_EQ(TfrmSetKeyDef::KeyOfListPosition(72), 106);
  EXPECT_EQ(TfrmSetKeyDef::KeyOfListPosition(73), -1);
  EXPECT_EQ(TfrmSetKeyDef::KeyOfListPosition(-1), -1);
  for (int p = 0; p < 73; ++p)
    EXPECT_EQ(TfrmSetKeyDef::KeyListPosition(TfrmSetKeyDef::KeyOfListPosition(p)), p);
}

TEST_F(SetKeyDefTest, NoneInTheFirstRowSilencesTheKeyButKeepsTheNextRow) {
  auto form = OpenForm();
  form->DegreeBoxes[1]->setCurrentIndex(3);
  form->OctaveEdits[1]->setValue(-2);
  form->AccidentalBoxes[1]->setCurrentIndex(2);
  const TKeyDef& key = form->Working().Keys[KeyOne];
  EXPECT_EQ(key.NoteCount, 2);
  EXPECT_EQ(key.Notes[1].Degree, 3);
  EXPECT_EQ(key.Notes[1].Octave, 2);
  EXPECT_EQ(key.Notes[1].Accidental, 2);
  EXPECT_TRUE(form->AccidentalBoxes[1]->isEnabled()); // follows its new degree

  form->DegreeBoxes[0]->setCurrentIndex(0);
  EXPECT_EQ(key.NoteCount, 0);
  EXPECT_EQ(key.Notes[0].Degree, 0);
  EXPECT_EQ(key.Notes[1].Degree, 3);
  EXPECT_FALSE(form->AccidentalBoxes[0]->isEnabled());
  EXPECT_FALSE(form->OctaveEdits[0]->isEnabled());
  EXPECT_TRUE(AllWhite(form->PreviewImage())); // nothing sounds, nothing previewed
}

TEST_F(SetKeyDefTest, EightNotesStayUntilAControlOfTheirKeyChanges) {
  TKeyDef& eight = Table.Keys[20];
  eight.NoteCount = 8;
  for (int i = 0; i < 8; ++i)
    eight.Notes[i] = {static_cast<std::uint8_t>(1 + i % 7), 0, 5, 1, 0};
  auto form = OpenForm(20);
  form->cbbKeysName->setCurrentIndex(TfrmSetKeyDef::KeyListPosition(KeyOne));
  form->cbbKeysName->setCurrentIndex(TfrmSetKeyDef::KeyListPosition(20));
  EXPECT_EQ(Bytes(form->Working()), Bytes(Table));

  form->OctaveEdits[2]->setValue(2);
  const TKeyDef& key = form->Working().Keys[20];
  EXPECT_EQ(key.NoteCount, 4);
  EXPECT_EQ(key.Notes[2].Octave, 6);
  for (int i = 4; i < 8; ++i) {
    EXPECT_EQ(key.Notes[i].Degree, 0);
    EXPECT_EQ(key.Notes[i].Octave, 4);
  }
}

TEST_F(SetKeyDefTest, OkOnAnUntouchedKeyKeepsNotesTheRowsCannotShow) {
  TKeyDef& eight = Table.Keys[KeyOne];
  eight.NoteCount = 8;
  for (int i = 0; i < 8; ++i)
    eight.Notes[i] = {static_cast<std::uint8_t>(1 + i % 7), 1, 4, 0, 90};
  const TKeyDefTable before = Table;
  WhenShown<TfrmSetKeyDef>([](TfrmSetKeyDef* form) { form->btnOK->click(); });
  EXPECT_TRUE(TfrmSetKeyDef::Execute(Table, KeyOne));
  EXPECT_EQ(Bytes(Table), Bytes(before));
}

TEST_F(SetKeyDefTest, ADegreeChangeBringsBackTheStoredRemarks) {
  auto form = OpenForm();
  const QString stored = form->memRemarks->toPlainText();
  form->memRemarks->setPlainText(QStringLiteral("typed, not stored"));
  form->AccidentalBoxes[0]->setCurrentIndex(1); // other controls leave the memo alone
  EXPECT_EQ(form->memRemarks->toPlainText(), QStringLiteral("typed, not stored"));
  form->DegreeBoxes[0]->setCurrentIndex(5);
  EXPECT_EQ(form->memRemarks->toPlainText(), stored);
  EXPECT_EQ(form->Working().Keys[KeyOne].Notes[0].Accidental, 1);
}

TEST_F(SetKeyDefTest, RemarksAreCutTo240BytesAndKeepCrLf) {
  struct TCase {
    QString Typed;
    std::string Stored;
  };
  const std::string chinese = "键"; // two bytes in GBK
  std::string cutChinese;
  for (int i = 0; i < 120; ++i)
    cutChinese += chinese;
  const std::vector<TCase> cases = {
      {QString(300, QLatin1Char('a')), std::string(240, 'a')},
      {QString(130, QChar(0x952E)), cutChinese},
      {QStringLiteral("line 1\nline 2"), "line 1\r\nline 2"},
  };
  for (const TCase& c : cases) {
    TKeyDefTable table = Table;
    WhenShown<TfrmSetKeyDef>([&c](TfrmSetKeyDef* form) {
      form->memRemarks->setPlainText(c.Typed);
      form->btnOK->click();
    });
    ASSERT_TRUE(TfrmSetKeyDef::Execute(table, KeyOne));
    EXPECT_EQ(TableRemarks(table), c.Stored);
    EXPECT_LE(table.Remarks[0], 240);
  }
}

TEST_F(SetKeyDefTest, OkAfterLoadingReturnsTheLoadedTable) {
  TKeyDefTable loaded = Table;
  loaded.Keys[KeyOne].Notes[0] = {5, 1, 3, 1, 0};
  loaded.Keys[30].NoteCount = 0;
  SetTableRemarks(loaded, "loaded remarks");
  ASSERT_TRUE(SaveKeyDefFile(loaded, std::string(PathOf("song keys.kdf").toStdString())));

  WhenShown<TfrmSetKeyDef>([&](TfrmSetKeyDef* form) {
    form->DegreeBoxes[0]->setCurrentIndex(7); // an edit the loading replaces
    ChooseFile(PathOf("song keys.kdf"));
    form->btnLoadKeysDef->click();
    EXPECT_EQ(form->DegreeBoxes[0]->currentText(), QStringLiteral("5"));
    EXPECT_EQ(form->AccidentalBoxes[0]->currentText(), QStringLiteral("#"));
    EXPECT_EQ(form->OctaveEdits[0]->value(), -1);
    EXPECT_EQ(form->memRemarks->toPlainText(), QStringLiteral("loaded remarks"));
    form->btnOK->click();
  });
  ASSERT_TRUE(TfrmSetKeyDef::Execute(Table, KeyOne));
  EXPECT_EQ(Bytes(Table), Bytes(loaded));
}

TEST_F(SetKeyDefTest, ARefusedFileLeavesTheWorkingCopyAsItWas) {
  std::ofstream(Dir / "junk.kdf", std::ios::binary) << std::string(8412, 'x');
  std::ofstream(Dir / "short.kdf", std::ios::binary) << "\x11MelotasticoKeyDef";
  ASSERT_TRUE(SaveKeyDefFile(Table, (Dir / "fine.kdf").string()));
  std::filesystem::copy_file(Dir / "fine.kdf", Dir / "fine.txt");
  for (const char* name : {"junk.kdf", "short.kdf", "fine.txt"}) {
    auto form = OpenForm();
    form->DegreeBoxes[0]->setCurrentIndex(6);
    form->memRemarks->setPlainText(QStringLiteral("unsaved words"));
    const std::vector<std::uint8_t> before = Bytes(form->Working());
    ChooseFile(PathOf(name));
    form->btnLoadKeysDefClick();
    EXPECT_EQ(Bytes(form->Working()), before) << name;
    EXPECT_EQ(form->DegreeBoxes[0]->currentIndex(), 6) << name;
    EXPECT_EQ(form->memRemarks->toPlainText(), QStringLiteral("unsaved words")) << name;
  }
}

TEST_F(SetKeyDefTest, CancelLeavesTheCallersTableWhateverWasEditedOrLoaded) {
  TKeyDefTable other = Table;
  other.Keys[KeyOne].NoteCount = 0;
  ASSERT_TRUE(SaveKeyDefFile(other, (Dir / "other.kdf").string()));
  const TKeyDefTable before = Table;
  WhenShown<TfrmSetKeyDef>([&](TfrmSetKeyDef* form) {
    form->DegreeBoxes[1]->setCurrentIndex(2);
    ChooseFile(PathOf("other.kdf"));
    form->btnLoadKeysDef->click();
    form->memRemarks->setPlainText(QStringLiteral("changed"));
    form->Button1->click();
  });
  EXPECT_FALSE(TfrmSetKeyDef::Execute(Table, KeyOne));
  EXPECT_EQ(Bytes(Table), Bytes(before));
}

TEST_F(SetKeyDefTest, SavesTheWorkingCopyAndSaysWhenItCannot) {
  auto form = OpenForm();
  InspectFileDialog([&](QFileDialog* dialog) {
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("kdf"));
    EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("Melotastico Keydef File(*.kdf)")});
    EXPECT_EQ(std::filesystem::path(dialog->directory().absolutePath().toStdString()),
              std::filesystem::canonical(Dir));
  });
  form->btnSaveKeysDefClick();
  for (const auto& entry : std::filesystem::directory_iterator(Dir))
    EXPECT_NE(entry.path().extension(), ".kdf"); // cancelled: nothing written

  form->DegreeBoxes[0]->setCurrentIndex(4);
  form->memRemarks->setPlainText(QStringLiteral("mine"));
  ChooseFile(PathOf("mine")); // the default suffix is added
  form->btnSaveKeysDefClick();
  TKeyDefTable saved{};
  ASSERT_TRUE(LoadKeyDefFile(Dir / "mine.kdf", saved));
  EXPECT_EQ(Bytes(saved), Bytes(form->Working()));
  EXPECT_EQ(saved.Keys[KeyOne].Notes[0].Degree, 4);
  EXPECT_EQ(TableRemarks(saved), "mine");

  // A name the key-definition files cannot have is refused, and the user is told.
  QString message;
  ChooseFile(PathOf("mine.txt"));
  CloseMessage(&message);
  form->btnSaveKeysDefClick();
  EXPECT_FALSE(std::filesystem::exists(Dir / "mine.txt"));
  EXPECT_TRUE(message.contains(QStringLiteral("mine.txt"))) << message.toStdString();
}

TEST_F(SetKeyDefTest, LoadDialogWantsAnExistingKdfFileFromTheDataFolder) {
  auto form = OpenForm();
  InspectFileDialog([&](QFileDialog* dialog) {
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("kdf"));
    EXPECT_EQ(std::filesystem::path(dialog->directory().absolutePath().toStdString()),
              std::filesystem::canonical(Dir));
  });
  form->btnLoadKeysDefClick();
  EXPECT_EQ(Bytes(form->Working()), Bytes(Table));
}

TEST_F(SetKeyDefTest, HelpExplainsChords) {
  auto form = OpenForm();
  QString message;
  CloseMessage(&message);
  form->btnHelp->click();
  EXPECT_EQ(message, QStringLiteral("自4.0版起，允许每个键定义成和弦(多个音同时发音)。"
                                    "但此功能目前尚不完善，建议慎用。"));
}

} // namespace
} // namespace melo::test

// The favourite-voice dialog driven through its real widgets, with a small instrument list
// and files in a scratch data folder.
#include "sound/SetFavoriteVoices.h"

#include "controls/ModalDriver.h"
#include "controls/SkinFixture.h"
#include "platform/DataFolder.h"
#include "sound/KoDirectMusic.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace melo::test {
namespace {

std::string FileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Program 0 and 3 in bank 0/0, one voice in bank 1/2, and a drum kit.
void FillInstruments() {
  InstrumentList.Fill(
      {{0, "Piano"}, {3, "Honky-tonk"}, {0x010205, "Bank voice"}, {F_INSTRUMENT_DRUMS, "Drums"}});
}

class SetFavoriteVoicesTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { App(); }
  void SetUp() override {
    ASSERT_TRUE(Folder.isValid());
    Dir = Folder.path().toStdString();
    ::setenv("XDG_CONFIG_HOME", (Dir / "xdg").c_str(), 1);
    SetProgramFolder(Dir);
    FillInstruments();
    Table = TFavoriteVoiceTable{};
    SetDefaultFavoriteVoices(Table);
  }

  QString PathOf(const char* name) const { return QString::fromStdString((Dir / name).string()); }

  QTemporaryDir Folder;
  std::filesystem::path Dir;
  TFavoriteVoiceTable Table{};
};

TEST_F(SetFavoriteVoicesTest, ListsTheInstrumentsBesideEveryFunctionKey) {
  TfrmSetFavoriteVoices form(Table);
  EXPECT_EQ(form.windowTitle(), QStringLiteral("编辑快捷音色"));
  EXPECT_EQ(form.size(), QSize(680, 334));
  EXPECT_EQ(form.gbMaster->title(), QStringLiteral(" 主音色 "));
  EXPECT_EQ(form.gbSlave->title(), QStringLiteral(" 副音色 "));
  const QStringList items{QStringLiteral("0:<0:0:0> Piano"), QStringLiteral("1:<0:0:3> Honky-tonk"),
                          QStringLiteral("2:<1:2:5> Bank voice"),
                          QStringLiteral("3:<0:0:0> Drums")};
  for (std::size_t slot = 0; slot < FavoriteVoiceCount; ++slot) {
    QComboBox* box = form.VoiceBoxes[slot];
    EXPECT_EQ(box->parentWidget(), slot < 12 ? form.gbMaster : form.gbSlave);
    ASSERT_EQ(box->count(), items.size());
    for (int i = 0; i < box->count(); ++i)
      EXPECT_EQ(box->itemText(i), items[i]);
  }
  QStringList labels;
  for (QLabel* label : form.gbMaster->findChildren<QLabel*>())
    labels << label->text();
  for (QLabel* label : form.gbSlave->findChildren<QLabel*>())
    labels << label->text();
  EXPECT_TRUE(labels.contains(QStringLiteral("         F1:")));
  EXPECT_TRUE(labels.contains(QStringLiteral("        F12:")));
  EXPECT_TRUE(labels.contains(QStringLiteral(" Shift + F1:")));
  EXPECT_TRUE(labels.contains(QStringLiteral("Shift + F12:")));
  for (const QString& label : labels)
    EXPECT_EQ(label.size(), 12);
}

TEST_F(SetFavoriteVoicesTest, SavingRightAfterOpeningOnTheDefaultsWritesTheWholeTable) {
  ChooseFile(PathOf("mine")); // the default suffix is added
  WhenShown<TfrmSetFavoriteVoices>([](TfrmSetFavoriteVoices* form) {
    form->btnSave->click();
    form->btnCancel->click();
  });
  EXPECT_FALSE(EditFavoriteVoices(Table));
  const std::string bytes = FileBytes(Dir / "mine.fvc");
  ASSERT_EQ(bytes.size(), 4416u);
  EXPECT_EQ(bytes.substr(0, 8), std::string("\0\0\0\0\x64\0\0\0", 8));
  // F2's program 3 is in the list; F3's program 18 is not and is saved as item 0's voice.
  EXPECT_EQ(bytes[184 + 2], 3);
  EXPECT_EQ(bytes[2 * 184 + 2], 0);
}

TEST_F(SetFavoriteVoicesTest, OkStoresTheChosenVoicesAndKeepsTheRestOfEachSlot) {
  Table[4].Reserved[7] = 0x5A;
  Table[4].Extra = -3;
  WhenShown<TfrmSetFavoriteVoices>([](TfrmSetFavoriteVoices* form) {
    EXPECT_EQ(form->VoiceBoxes[1]->currentIndex(), 1); // F2: program 3
    form->VoiceBoxes[4]->setCurrentIndex(2);
    form->VoiceBoxes[13]->setCurrentIndex(1);
    form->btnOK->click();
  });
  ASSERT_TRUE(EditFavoriteVoices(Table));
  EXPECT_EQ(FavoriteVoicePatch(Table[4]), 0x010205u);
  EXPECT_EQ(Table[4].Extra, -3);
  EXPECT_EQ(Table[4].Reserved[7], 0x5A);
  EXPECT_EQ(Table[13].Program, 3);
}

TEST_F(SetFavoriteVoicesTest, AnUnknownVoiceShowsTheFirstItem) {
  SetFavoriteVoicePatch(Table[5], 0x7F7F7F);
  WhenShown<TfrmSetFavoriteVoices>([](TfrmSetFavoriteVoices* form) {
    EXPECT_EQ(form->VoiceBoxes[5]->currentIndex(), 0);
    form->btnOK->click();
  });
  ASSERT_TRUE(EditFavoriteVoices(Table));
  EXPECT_EQ(FavoriteVoicePatch(Table[5]), 0u);
}

TEST_F(SetFavoriteVoicesTest, AnEmptyInstrumentListStoresBankZeroProgramZeroEverywhere) {
  InstrumentList.Clear();
  WhenShown<TfrmSetFavoriteVoices>([](TfrmSetFavoriteVoices* form) {
    for (QComboBox* box : form->VoiceBoxes)
      EXPECT_EQ(box->count(), 0);
    form->btnOK->click();
  });
  ASSERT_TRUE(EditFavoriteVoices(Table));
  for (const TFavoriteVoice& voice : Table) {
    EXPECT_EQ(FavoriteVoicePatch(voice), 0u);
    EXPECT_EQ(voice.Extra, 100);
  }
}

TEST_F(SetFavoriteVoicesTest, LoadingShowsTheFileButOnlyOkChangesTheTable) {
  TFavoriteVoiceTable file = Table;
  SetFavoriteVoicePatch(file[0], 0x010205);
  file[0].Extra = 7;
  ASSERT_TRUE(SaveFavoriteVoices(Dir / "song.fvc", file));
  const TFavoriteVoiceTable before = Table;
  for (bool ok : {false, true}) {
    Table = before;
    WhenShown<TfrmSetFavoriteVoices>([&](TfrmSetFavoriteVoices* form) {
      ChooseFile(PathOf("song.fvc"));
      form->btnLoad->click();
      EXPECT_EQ(form->VoiceBoxes[0]->currentIndex(), 2);
      (ok ? form->btnOK : form->btnCancel)->click();
    });
    EXPECT_EQ(EditFavoriteVoices(Table), ok);
    if (!ok) {
      EXPECT_EQ(Table, before);
      continue;
    }
    EXPECT_EQ(FavoriteVoicePatch(Table[0]), 0x010205u);
    EXPECT_EQ(Table[0].Extra, 100); // only the voices come from the file
  }
}

TEST_F(SetFavoriteVoicesTest, AShortFileChangesItsSlotsAndAnEmptyOneShowsTheDefaults) {
  TFavoriteVoiceTable file = Table;
  SetFavoriteVoicePatch(file[0], 0x010205);
  std::array<std::uint8_t, FavoriteVoiceFileSize> image{};
  FavoriteVoicesToBytes(file, image);
  std::ofstream(Dir / "one.fvc", std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), 184);
  std::ofstream(Dir / "empty.fvc", std::ios::binary).flush();

  TfrmSetFavoriteVoices form(Table);
  form.ShowVoices(Table);
  form.VoiceBoxes[1]->setCurrentIndex(3);
  ChooseFile(PathOf("one.fvc"));
  form.btnLoadClick();
  EXPECT_EQ(form.VoiceBoxes[0]->currentIndex(), 2);
  EXPECT_EQ(form.VoiceBoxes[1]->currentIndex(), 1); // the rest from the defaults

  form.VoiceBoxes[1]->setCurrentIndex(3);
  ChooseFile(PathOf("empty.fvc"));
  form.btnLoadClick();
  EXPECT_EQ(form.VoiceBoxes[0]->currentIndex(), 0);
  EXPECT_EQ(form.VoiceBoxes[1]->currentIndex(), 1);
}

TEST_F(SetFavoriteVoicesTest, RestoreShowsTheDefaults) {
  TfrmSetFavoriteVoices form(Table);
  form.ShowVoices(Table);
  for (QComboBox* box : form.VoiceBoxes)
    box->setCurrentIndex(2);
  form.btnRestoreToDefultClick();
  EXPECT_EQ(form.VoiceBoxes[0]->currentIndex(), 0);
  EXPECT_EQ(form.VoiceBoxes[1]->currentIndex(), 1);
  EXPECT_EQ(form.VoiceBoxes[13]->currentIndex(), 1);
}

TEST_F(SetFavoriteVoicesTest, FileDialogsUseTheFvcFilterInTheDataFolder) {
  TfrmSetFavoriteVoices form(Table);
  for (QPushButton* button : {form.btnLoad, form.btnSave}) {
    InspectFileDialog([&](QFileDialog* dialog) {
      EXPECT_EQ(dialog->acceptMode(),
                button == form.btnSave ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
      EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("fvc"));
      EXPECT_EQ(dialog->nameFilters(),
                QStringList{QStringLiteral("Melotastico FavoriteVoices File(*.fvc)")});
      EXPECT_EQ(std::filesystem::path(dialog->directory().absolutePath().toStdString()),
                std::filesystem::canonical(Dir));
    });
    button->click();
  }
}

TEST_F(SetFavoriteVoicesTest, AFailedSaveIsReported) {
  TfrmSetFavoriteVoices form(Table);
  form.ShowVoices(Table);
  QString message;
  // A folder that is not there (gone since the dialog listed it): nothing can be written.
  ChooseFile(PathOf("gone/x.fvc"));
  CloseMessage(&message);
  form.btnSaveClick();
  EXPECT_TRUE(message.contains(QStringLiteral("x.fvc"))) << message.toStdString();
  EXPECT_FALSE(std::filesystem::exists(Dir / "gone"));
}

} // namespace
} // namespace melo::test

// The settings dialog driven through its real widgets, writing into a scratch data folder.
#include "sound/Setup.h"

#include "controls/ModalDriver.h"
#include "controls/SkinFixture.h"
#include "platform/DataFolder.h"
#include "sound/SetFavoriteVoices.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace melo::test {
namespace {

std::string FileText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class SetupTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { App(); }
  void SetUp() override {
    ASSERT_TRUE(Folder.isValid());
    Dir = Folder.path().toStdString();
    ::setenv("XDG_CONFIG_HOME", (Dir / "xdg").c_str(), 1);
    SetProgramFolder(Dir);
    CfgFile = Dir / "Melotastico4.cfg";
  }

  void WriteCfg(const std::string& text) { std::ofstream(CfgFile, std::ios::binary) << text; }

  QTemporaryDir Folder;
  std::filesystem::path Dir;
  std::filesystem::path CfgFile;
};

TEST_F(SetupTest, ShowsTheSettingsOnFivePages) {
  TfrmSetup form;
  EXPECT_EQ(form.windowTitle(), QStringLiteral("设置"));
  EXPECT_EQ(form.size(), QSize(390, 278));
  ASSERT_EQ(form.PageControl1->count(), 5);
  const QStringList pages{QStringLiteral("设备"), QStringLiteral("键定义"), QStringLiteral("录音"),
                          QStringLiteral("高级"), QStringLiteral("其他")};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(form.PageControl1->tabText(i), pages[i]);
  EXPECT_EQ(form.PageControl1->currentIndex(), 0);
  EXPECT_EQ(form.trkLatency->minimum(), 10);
  EXPECT_EQ(form.trkLatency->maximum(), 100);
  EXPECT_EQ(form.trkLatency->pageStep(), 10);
  EXPECT_EQ(form.trkReverbLevel->maximum(), 4);
  // The labels follow their track bars.
  form.trkLatency->setValue(55);
  EXPECT_EQ(form.lblLatency->text(), QStringLiteral("55"));
  form.trkReverbLevel->setValue(2);
  EXPECT_EQ(form.lblReverbLevel->text(), QStringLiteral("2级"));
  EXPECT_TRUE(form.btnOK->isDefault());
}

TEST_F(SetupTest, CancelAfterChangingEverythingChangesAndWritesNothing) {
  const std::string stored = "60\r\n0\r\n1\r\nC:\\Drum.dls\r\n";
  WriteCfg(stored);
  TSetupConfig config;
  ASSERT_TRUE(LoadConfig(config));
  const TSetupConfig before = config;
  TSetupOptions options{true, false, true, false};
  const TSetupOptions optionsBefore = options;
  for (bool escape : {false, true}) {
    WhenShown<TfrmSetup>([escape](TfrmSetup* form) {
      EXPECT_EQ(form->trkLatency->value(), 60);
      EXPECT_EQ(form->lblLatency->text(), QStringLiteral("60"));
      EXPECT_EQ(form->lblReverbLevel->text(), QStringLiteral("0级"));
      EXPECT_TRUE(form->cbUseExternalDLS->isChecked());
      EXPECT_EQ(form->lblExternalDLSFileName->text(), QStringLiteral("C:\\Drum.dls"));
      EXPECT_TRUE(form->cbNotebookMode->isChecked());
      EXPECT_FALSE(form->cbLoopPlay->isChecked());
      EXPECT_TRUE(form->cbPeriodPedal->isChecked());
      EXPECT_FALSE(form->cbSmartSemitone->isChecked());
      form->trkLatency->setValue(90);
      form->trkReverbLevel->setValue(4);
      form->cbUseExternalDLS->setChecked(false);
      form->lblExternalDLSFileName->setText(QStringLiteral("/other.dls"));
      for (QCheckBox* box : {form->cbNotebookMode, form->cbLoopPlay, form->cbSmartSemitone,
                             form->cbPeriodPedal, form->cbAccompDrumsOnly, form->cbFingeredChords})
        box->toggle();
      if (escape) {
        QTest::keyClick(form, Qt::Key_Escape);
      } else {
        form->btnCancel->click();
      }
    });
    EXPECT_FALSE(ExecuteSetup(config, options, {}));
    EXPECT_EQ(config, before);
    EXPECT_EQ(options, optionsBefore);
    EXPECT_EQ(FileText(CfgFile), stored);
    EXPECT_FALSE(std::filesystem::exists(Dir / "Melotastico.ini"));
  }
}

TEST_F(SetupTest, OkWritesTheFourLinesAndHandsBackTheOptions) {
  std::filesystem::create_directory(Dir / "sets");
  std::ofstream(Dir / "sets" / "Drums.dls") << "RIFF";
  const std::string chosen = (Dir / "sets" / "Drums.dls").string();
  TSetupConfig config = DefaultConfig;
  TSetupOptions options;
  WhenShown<TfrmSetup>([&](TfrmSetup* form) {
    EXPECT_EQ(form->trkLatency->value(), 40);
    EXPECT_EQ(form->lblReverbLevel->text(), QStringLiteral("3级"));
    form->trkLatency->setValue(70);
    form->trkReverbLevel->setValue(2);
    form->cbUseExternalDLS->setChecked(true);
    ChooseFile(QString::fromStdString(chosen));
    form->btnOpenExternalDLSFile->click();
    EXPECT_EQ(form->lblExternalDLSFileName->text().toStdString(), chosen);
    form->cbLoopPlay->setChecked(true);
    form->cbSmartSemitone->setChecked(true);
    form->cbFingeredChords->setChecked(true);
    QTest::keyClick(form, Qt::Key_Return); // OK is the default button
  });
  ASSERT_TRUE(ExecuteSetup(config, options, {}));
  EXPECT_EQ(FileText(CfgFile), "70\r\n2\r\n1\r\n" + chosen + "\r\n");
  EXPECT_EQ(config, (TSetupConfig{70, 2, true, chosen}));
  EXPECT_EQ(options, (TSetupOptions{false, true, false, true, {false, true}}));
  TProgramSettings stored;
  ASSERT_TRUE(LoadProgramSettingsFrom(Dir / "Melotastico.ini", stored));
  EXPECT_EQ(stored, options.Program);
}

TEST_F(SetupTest, ValuesBeyondTheTrackBarsAreShownAndSavedClamped) {
  WriteCfg("5\r\n9\r\n0\r\n\r\n");
  TSetupConfig config;
  ASSERT_TRUE(LoadConfig(config));
  ASSERT_EQ(config.Latency, 5); // taken as it stands at start-up
  TSetupOptions options;
  WhenShown<TfrmSetup>([](TfrmSetup* form) {
    EXPECT_EQ(form->trkLatency->value(), 10);
    EXPECT_EQ(form->lblLatency->text(), QStringLiteral("10"));
    EXPECT_EQ(form->trkReverbLevel->value(), 4);
    form->btnOK->click();
  });
  ASSERT_TRUE(ExecuteSetup(config, options, {}));
  EXPECT_EQ(config.Latency, 10);
  EXPECT_EQ(config.ReverbLevel, 4);
  EXPECT_EQ(FileText(CfgFile), "10\r\n4\r\n0\r\n\r\n");
}

TEST_F(SetupTest, SoundSetDialogStartsBesideTheStoredSet) {
  std::filesystem::create_directory(Dir / "sets");
  struct TCase {
    std::string Stored;
    std::filesystem::path Folder;
  };
  for (const TCase& c :
       {TCase{(Dir / "sets" / "old.dls").string(), Dir / "sets"}, TCase{"", Dir}}) {
    TfrmSetup form;
    form.Show(TSetupConfig{40, 3, true, c.Stored}, {});
    InspectFileDialog([&](QFileDialog* dialog) {
      EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
      EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("dls"));
      EXPECT_EQ(
          dialog->nameFilters(),
          (QStringList{"Sound sets (*.dls *.sf2 *.sf3)", "DLS files (*.dls)",
                       "SoundFont 2 files (*.sf2)", "SoundFont 3 files (*.sf3)", "All files (*)"}));
      EXPECT_EQ(dialog->selectedNameFilter(), QStringLiteral("Sound sets (*.dls *.sf2 *.sf3)"));
      EXPECT_EQ(std::filesystem::path(dialog->directory().absolutePath().toStdString()),
                std::filesystem::canonical(c.Folder));
    });
    form.btnOpenExternalDLSFileClick();
    // Cancelled: the name on show stays.
    EXPECT_EQ(form.lblExternalDLSFileName->text().toStdString(), c.Stored);
  }
}

TEST_F(SetupTest, ALongSoundSetNameIsCutTo250Bytes) {
  TfrmSetup form;
  form.Show(DefaultConfig, {});
  form.lblExternalDLSFileName->setText(QString(300, QLatin1Char('d')));
  TSetupConfig config = DefaultConfig;
  TSetupOptions options;
  form.Apply(config, options);
  EXPECT_EQ(config.ExternalDLSFileName, std::string(250, 'd'));
  const QString chinese = QStringLiteral("/音色/") + QString(200, QChar(0x97F3)) + ".dls";
  form.lblExternalDLSFileName->setText(chinese);
  form.Apply(config, options);
  // 6 bytes of "/音色/", then 122 two-byte characters: the cut never splits one.
  EXPECT_EQ(QString::fromStdString(config.ExternalDLSFileName), chinese.left(126));
}

TEST_F(SetupTest, AFailedWriteIsReportedAndKeepsWhatWasThere) {
  // A folder where the file should be: the replacing rename cannot succeed.
  std::filesystem::create_directories(CfgFile / "keep");
  TSetupConfig config = DefaultConfig;
  TSetupOptions options;
  QString message;
  WhenShown<TfrmSetup>([&](TfrmSetup* form) {
    form->trkLatency->setValue(80);
    CloseMessage(&message);
    form->btnOK->click();
  });
  // The settings still apply to this run.
  EXPECT_TRUE(ExecuteSetup(config, options, {}));
  EXPECT_EQ(config.Latency, 80);
  EXPECT_TRUE(message.contains(QStringLiteral("Melotastico4.cfg"))) << message.toStdString();
  EXPECT_TRUE(std::filesystem::is_directory(CfgFile / "keep"));
}

TEST_F(SetupTest, ASoundSetNameThatCannotBeStoredIsToldAndKeepsTheOldFile) {
  WriteCfg("40\r\n3\r\n0\r\n\r\n");
  std::string tooLong = "/sets/"; // stored as a file URI of 259 bytes
  for (int i = 0; i < 41; ++i)
    tooLong += "ä";
  for (const std::string& name :
       {std::string("/sets/two\nlines.dls"), std::string("/sets/carriage\rreturn.dls"), tooLong}) {
    TSetupConfig config = DefaultConfig;
    TSetupOptions options;
    QString message;
    WhenShown<TfrmSetup>([&](TfrmSetup* form) {
      form->cbUseExternalDLS->setChecked(true);
      form->lblExternalDLSFileName->setText(QString::fromStdString(name));
      CloseMessage(&message);
      form->btnOK->click();
    });
    EXPECT_TRUE(ExecuteSetup(config, options, {}));
    EXPECT_EQ(config.ExternalDLSFileName, name); // this run still uses it
    EXPECT_TRUE(message.startsWith(
        QStringLiteral("外部音色库的文件名中含有换行符，或名称过长，无法保存设置。")))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QString::fromStdString(name))) << message.toStdString();
    EXPECT_EQ(FileText(CfgFile), "40\r\n3\r\n0\r\n\r\n");
  }
}

TEST_F(SetupTest, KeyDefinitionFavouriteAndAudioMidiButtonsOpenTheirDialogs) {
  int keyEditor = 0;
  int audioMidi = 0;
  bool favourites = false;
  TSetupConfig config = DefaultConfig;
  TSetupOptions options;
  WhenShown<TfrmSetup>([&](TfrmSetup* form) {
    form->btnEditKeydef->click();
    WhenShown<TfrmSetFavoriteVoices>([&](TfrmSetFavoriteVoices* voices) {
      favourites = true;
      voices->btnCancel->click();
    });
    form->btnEditFavoriteVoices->click();
    // Beside OK and Cancel, below the pages.
    EXPECT_GE(form->btnAudioMidi->y(), form->PageControl1->geometry().bottom());
    form->btnAudioMidi->click();
    form->btnCancel->click();
  });
  EXPECT_FALSE(ExecuteSetup(
      config, options, [&] { ++keyEditor; }, nullptr, [&] { ++audioMidi; }));
  EXPECT_EQ(keyEditor, 1);
  EXPECT_EQ(audioMidi, 1);
  EXPECT_TRUE(favourites);
  EXPECT_FALSE(std::filesystem::exists(CfgFile));
}

} // namespace
} // namespace melo::test

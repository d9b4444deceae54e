// The window, a dialog and the messages in each language, with the translation built beside the
// program.
#include "StandInSoundSet.h"
#include "app/MainWindow.h"
#include "app/SongCommands.h"
#include "app/SongInfo.h"
#include "platform/DataFolder.h"
#include "platform/Language.h"
#include "sound/MyVolume.h"
#include "sound/Setup.h"

#include <QApplication>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <gtest/gtest.h>

namespace melo {
namespace {

struct TExpected {
  TLanguage Language;
  const char* WindowTitle;
  const char* SetupCaption;
  const char* FirstSetupTab;
  const char* SongInfoCaption;
  const char* ReadFailed;
  const char* SaveFailedStart;
};

TEST(LanguageWindowTest, WindowDialogsAndMessagesSpeakTheChosenLanguage) {
  ::setenv("PULSE_SERVER", "unix:/nonexistent/melo-test/native", 1);
  MixerDeviceName = "melo-no-mixer";
  int argc = 1;
  char name[] = "test_language_window";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  InstallUiDispatcher();

  // The program's files: the built translation, and a stand-in sound set.
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const std::filesystem::path programFolder = folder.path().toStdString();
  std::filesystem::copy_file(std::filesystem::path(MELO_BUILT_PROGRAM_DIR) / "melotastico_en.qm",
                             programFolder / "melotastico_en.qm");
  ASSERT_TRUE(test::WriteStandInSoundSet(programFolder / "msf4.s"));
  SetProgramFolder(programFolder);

  const TExpected chinese{TLanguage::Chinese, "Melotastico模拟钢琴", "设置",           "设备",
                          "歌曲信息",         "读取文件失败!",       "保存文件失败!\n"};
  const TExpected english{TLanguage::English,
                          "Melotastico Virtual Piano",
                          "Settings",
                          "Device",
                          "Song Information",
                          "Failed to read the file!",
                          "Failed to save the file!\n"};
  // Chinese again last: going back must drop the English texts.
  for (const TExpected& expected : {chinese, english, chinese}) {
    const char* language = expected.Language == TLanguage::English ? "English" : "Chinese";
    ASSERT_TRUE(SetLanguage(expected.Language)) << language;
    TRoVoravForm window(TEngineMode::Capture);
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8(expected.WindowTitle)) << language;
    TfrmSetup setup;
    EXPECT_EQ(setup.windowTitle(), QString::fromUtf8(expected.SetupCaption)) << language;
    const auto* tabs = setup.findChild<QTabWidget*>();
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->tabText(0), QString::fromUtf8(expected.FirstSetupTab)) << language;
    TfrmSongInfo songInfo;
    EXPECT_EQ(songInfo.windowTitle(), QString::fromUtf8(expected.SongInfoCaption)) << language;
    EXPECT_EQ(SongText(SongReadFailedText), QString::fromUtf8(expected.ReadFailed)) << language;
    const QString saveFailed = SaveFailedText(QStringLiteral("/x/song.lyt"),
                                              std::make_error_code(std::errc::no_space_on_device));
    EXPECT_TRUE(saveFailed.startsWith(QString::fromUtf8(expected.SaveFailedStart)))
        << language << ": " << saveFailed.toStdString();
  }
  // Without its translation file English cannot be had: the texts stay Chinese.
  std::filesystem::remove(programFolder / "melotastico_en.qm");
  EXPECT_FALSE(SetLanguage(TLanguage::English));
  EXPECT_EQ(SongText(SongReadFailedText), QString::fromUtf8("读取文件失败!"));
}

} // namespace
} // namespace melo

// The program entry: environment checks, command line, configuration, the
// main window and the message loop.

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <iostream>
#include <string>
#include <vector>

#include "app/About.h"
#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/VideoExport.h"
#include "controls/GlyphBmp.h"
#include "input/KeyEventFeed.h"
#include "platform/Language.h"
#include "platform/TerminationSignals.h"
#include "sound/GetDXVer.h"
#include "sound/MyGetDxVer.h"
#include "sound/SetupConfig.h"

namespace {

void ShowError(const char* text, const char* caption) {
  QMessageBox::critical(nullptr, QCoreApplication::translate("Melotastico", caption),
                        QCoreApplication::translate("Melotastico", text));
}

// The window's picture is drawn offscreen: no display is needed, nor used when there is one.
int RunVideoExport(int argc, char** argv, const melo::TCommandLine& command) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const melo::TLanguage language =
      command.Language.value_or(melo::LanguageOfLocale(melo::MessagesLocale()));
  static_cast<void>(melo::SetLanguage(language)); // the skin follows the language
  melo::InstallFontFallbacks();
  if (!melo::LoadGlyphLibrary()) {
    std::cerr << "melotastico: " << melo::GlyphLibraryMissingText << "\n";
    return melo::ExitFailure;
  }
  return melo::RunVideoExportCommand(command, std::cerr);
}

} // namespace

int main(int argc, char** argv) {
  // Export, song information, help and version need no display: they are
  // decided before anything opens one.
  const melo::TCommandLine command =
      melo::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (melo::IsVideoExport(command))
    return RunVideoExport(argc, argv, command);
  if (command.Action != melo::TCommandAction::Window)
    return melo::RunCommandLineAction(command, std::cout, std::cerr);

  QApplication app(argc, argv);
  const melo::TLanguage language =
      command.Language.value_or(melo::LanguageOfLocale(melo::MessagesLocale()));
  if (!melo::SetLanguage(language)) {
    std::cerr << "melotastico: " << melo::TranslationFile(language).string()
              << " cannot be loaded; the texts stay Chinese\n";
  }
  melo::InstallFontFallbacks();
  melo::InstallUiDispatcher();
  if (melo::DXVersion < melo::DXVersionCurrent) {
    ShowError(
        QT_TRANSLATE_NOOP("Melotastico", "DirectX的版本太低。请安装DirectX 8.0及以上的版本。"),
        QT_TRANSLATE_NOOP("Melotastico", "Melotastico错误！"));
    return 1;
  }
  if (!melo::LoadGlyphLibrary()) {
    ShowError(melo::GlyphLibraryMissingText, melo::GlyphLibraryMissingCaption);
    return 1;
  }
  melo::UseCommandLine(command);
  melo::LoadConfig(melo::Config);
  melo::Splash = new melo::TfrmAbout;
  melo::Splash->ShowAsSplash();
  melo::EnableDetectableAutoRepeat();

  melo::TRoVoravForm form;
  form.move(form.screen()->availableGeometry().center() - form.rect().center());
  form.show();
  melo::StopOnTerminationSignals(&form, [] { QApplication::closeAllWindows(); });
  if (!melo::SongFileArg.isEmpty())
    QTimer::singleShot(0, &form, [&form] { form.OpenSongFile(melo::SongFileArg); });
  if (!melo::PracticeFileArg.isEmpty())
    QTimer::singleShot(0, &form, [&form] { form.OpenPractice(melo::PracticeFileArg); });
  return app.exec();
}

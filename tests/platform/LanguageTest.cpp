#include "platform/Language.h"
#include "platform/DataFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace melo {
namespace {

namespace fs = std::filesystem;

TEST(LanguageTest, LocaleChoosesChineseForChineseAndPlainLocalesOnly) {
  for (const char* chinese :
       {"zh_CN.UTF-8", "zh_TW.Big5", "zh", "zh_HK@stroke", "C", "C.UTF-8", "POSIX", ""})
    EXPECT_EQ(LanguageOfLocale(QString::fromLatin1(chinese)), TLanguage::Chinese) << chinese;
  for (const char* other : {"en_US.UTF-8", "en_GB", "de_DE@euro", "ja_JP.UTF-8", "Cy_GB"})
    EXPECT_EQ(LanguageOfLocale(QString::fromLatin1(other)), TLanguage::English) << other;
}

// Where --lang is found on the command line: CommandLineTest.
TEST(LanguageTest, LangCodesAreZhAndEnOnly) {
  EXPECT_EQ(LanguageOfCode("zh"), TLanguage::Chinese);
  EXPECT_EQ(LanguageOfCode("en"), TLanguage::English);
  EXPECT_FALSE(LanguageOfCode("fr"));
  EXPECT_FALSE(LanguageOfCode("EN"));
}

TEST(LanguageTest, MessagesLocaleFollowsLcAllThenLcMessagesThenLang) {
  const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::string saved[3];
  bool had[3];
  for (int i = 0; i < 3; ++i) {
    const char* value = std::getenv(names[i]);
    had[i] = value != nullptr;
    saved[i] = value ? value : "";
  }
  ::unsetenv("LC_ALL");
  ::unsetenv("LC_MESSAGES");
  ::unsetenv("LANG");
  EXPECT_EQ(MessagesLocale(), "C");
  ::setenv("LANG", "de_DE.UTF-8", 1);
  EXPECT_EQ(MessagesLocale(), "de_DE.UTF-8");
  ::setenv("LC_MESSAGES", "zh_CN.UTF-8", 1);
  EXPECT_EQ(MessagesLocale(), "zh_CN.UTF-8");
  ::setenv("LC_ALL", "", 1); // set but empty: not counted
  EXPECT_EQ(MessagesLocale(), "zh_CN.UTF-8");
  ::setenv("LC_ALL", "en_GB", 1);
  EXPECT_EQ(MessagesLocale(), "en_GB");
  for (int i = 0; i < 3; ++i)
    had[i] ? ::setenv(names[i], saved[i].c_str(), 1) : ::unsetenv(names[i]);
}

// An installed copy reads its files from <prefix>/share/melotastico; a build folder, or a bin
// folder without that share folder, from beside the executable.
TEST(LanguageTest, ProgramFilesAreFoundInTheInstalledLayoutAndBesideABuiltProgram) {
  const fs::path root = fs::temp_directory_path() / ("melo-language-" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "prefix/bin");
  fs::create_directories(root / "build/src/app");

  SetProgramFolder(root / "prefix/bin");
  EXPECT_EQ(ResourceFolder(), root / "prefix/bin");
  fs::create_directories(root / "prefix/share/melotastico");
  const fs::path shared = root / "prefix/share/melotastico";
  EXPECT_EQ(ResourceFolder(), shared);
  EXPECT_EQ(SoundSetFile(), shared / "msf4.s");
  EXPECT_EQ(GlyphLibraryFile(TLanguage::Chinese), shared / "MelotasticoGlyphs.rcc");
  EXPECT_EQ(GlyphLibraryFile(TLanguage::English), shared / "MelotasticoGlyphs_en.rcc");
  EXPECT_EQ(HelpPageFile(TLanguage::Chinese), shared / "MelotasticoHelp.html");
  EXPECT_EQ(HelpPageFile(TLanguage::English), shared / "MelotasticoHelp_en.html");
  EXPECT_EQ(TranslationFile(TLanguage::English), shared / "melotastico_en.qm");
  EXPECT_TRUE(TranslationFile(TLanguage::Chinese).empty());

  bool allFound = true;
  std::string report = ProgramFilesReport(allFound);
  EXPECT_FALSE(allFound);
  EXPECT_NE(report.find("sound set: " + (shared / "msf4.s").string() + " (missing)\n"),
            std::string::npos)
      << report;
  for (const char* name : {"msf4.s", "MelotasticoGlyphs.rcc", "MelotasticoGlyphs_en.rcc",
                           "MelotasticoHelp.html", "MelotasticoHelp_en.html", "melotastico_en.qm"})
    std::ofstream(shared / name) << "x";
  report = ProgramFilesReport(allFound);
  EXPECT_TRUE(allFound) << report;
  EXPECT_EQ(report.find("missing"), std::string::npos) << report;

  SetProgramFolder(root / "build/src/app");
  EXPECT_EQ(ResourceFolder(), root / "build/src/app");
  fs::remove_all(root);
}

} // namespace
} // namespace melo

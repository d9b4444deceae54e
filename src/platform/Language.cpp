#include "platform/Language.h"

#include "platform/DataFolder.h"
#include "platform/GlobalState.h"

#include <QCoreApplication>
#include <QTranslator>
#include <cstdlib>
#include <system_error>

namespace melo {
namespace {

TLanguage Current = TLanguage::Chinese;

QTranslator& Translator() {
  static QTranslator translator;
  return translator;
}

// Without an application there is no translation to install or remove, only the choice.
[[maybe_unused]] const bool LanguageRegistered = RegisterGlobalState([] {
  return TGlobalRestore([saved = Current] {
    if (Current == saved) {
      return;
    }
    if (QCoreApplication::instance() != nullptr) {
      static_cast<void>(SetLanguage(saved)); // a missing translation leaves Chinese texts
    } else {
      Current = saved;
    }
  });
});

const char* Suffix(TLanguage language) {
  return language == TLanguage::English ? "_en" : "";
}

std::filesystem::path Resource(const std::string& name) {
  return ResourceFolder() / name;
}

} // namespace

QString MessagesLocale() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const char* value = std::getenv(variable); value && *value)
      return QString::fromLocal8Bit(value);
  }
  return QStringLiteral("C");
}

TLanguage LanguageOfLocale(const QString& localeName) {
  // "C.UTF-8", "POSIX" and "zh_TW.Big5" name their language before any '.' or '@'.
  const QString name = localeName.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
  if (name.isEmpty() || name == QLatin1String("C") || name == QLatin1String("POSIX") ||
      name.startsWith(QLatin1String("zh")))
    return TLanguage::Chinese;
  return TLanguage::English;
}

std::optional<TLanguage> LanguageOfCode(std::string_view code) {
  if (code == "zh")
    return TLanguage::Chinese;
  if (code == "en")
    return TLanguage::English;
  return std::nullopt;
}

TLanguage CurrentLanguage() {
  return Current;
}

bool SetLanguage(TLanguage language) {
  Current = language;
  QCoreApplication::removeTranslator(&Translator());
  if (language == TLanguage::Chinese)
    return true;
  const std::filesystem::path file = TranslationFile(language);
  if (!Translator().load(QString::fromStdString(file.string())))
    return false;
  return QCoreApplication::installTranslator(&Translator());
}

std::filesystem::path TranslationFile(TLanguage language) {
  if (language == TLanguage::Chinese)
    return {};
  return Resource(std::string("melotastico") + Suffix(language) + ".qm");
}

std::filesystem::path HelpPageFile(TLanguage language) {
  return Resource(std::string("MelotasticoHelp") + Suffix(language) + ".html");
}

std::filesystem::path GlyphLibraryFile(TLanguage language) {
  return Resource(std::string("MelotasticoGlyphs") + Suffix(language) + ".rcc");
}

std::filesystem::path SoundSetFile() {
  return Resource("msf4.s");
}

std::string ProgramFilesReport(bool& allFound) {
  const std::pair<const char*, std::filesystem::path> files[] = {
      {"sound set", SoundSetFile()},
      {"glyph library", GlyphLibraryFile(TLanguage::Chinese)},
      {"glyph library (English)", GlyphLibraryFile(TLanguage::English)},
      {"help page", HelpPageFile(TLanguage::Chinese)},
      {"help page (English)", HelpPageFile(TLanguage::English)},
      {"translation (English)", TranslationFile(TLanguage::English)},
  };
  allFound = true;
  std::string report;
  for (const auto& [what, file] : files) {
    std::error_code error;
    const bool found = std::filesystem::is_regular_file(file, error);
    allFound = allFound && found;
    report += std::string(what) + ": " + file.string() + (found ? "\n" : " (missing)\n");
  }
  return report;
}

} // namespace melo

#pragma once
// The language of the user interface, and the files that differ per language.
// Chinese is the language the texts are written in; English comes from the
// translation file melotastico_en.qm, the English help page and the English
// skin. Chosen once at start-up.
#include <QString>
#include <QStringList>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace melo {

enum class TLanguage { Chinese, English };

// The locale that decides message texts: LC_ALL, else LC_MESSAGES, else LANG
// (the first that is set and not empty), else "C".
QString MessagesLocale();

// Chinese locales (zh*), and C/POSIX, get Chinese; every other locale English.
TLanguage LanguageOfLocale(const QString& localeName);

// "zh" or "en", as given to --lang; nothing for anything else.
std::optional<TLanguage> LanguageOfCode(std::string_view code);

// Chinese until SetLanguage.
TLanguage CurrentLanguage();

// Makes language the current one and installs its translation into the
// application (a QCoreApplication must exist). False when the English
// translation cannot be loaded: the texts then stay Chinese, the language is
// still set (help page and skin follow it as far as their files exist).
bool SetLanguage(TLanguage language);

// Files among the program's files (ResourceFolder). No translation file for
// Chinese: its texts are those of the source.
std::filesystem::path TranslationFile(TLanguage language);
std::filesystem::path HelpPageFile(TLanguage language);
std::filesystem::path GlyphLibraryFile(TLanguage language);
std::filesystem::path SoundSetFile();

// One line per file the program reads from its own files ("sound set: PATH"),
// with " (missing)" after each that is not there; allFound tells whether every
// one is.
std::string ProgramFilesReport(bool& allFound);

} // namespace melo

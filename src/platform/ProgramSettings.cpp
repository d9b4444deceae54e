#include "platform/ProgramSettings.h"

#include "platform/DataFolder.h"

#include <QSettings>
#include <QString>

namespace melo {
namespace {

const QString DrumsOnlyKey = QStringLiteral("Accompaniment/DrumsOnly");
const QString FingeredChordsKey = QStringLiteral("Accompaniment/FingeredChords");
const QString BestScoresGroup = QStringLiteral("BestScores");

struct TChoiceKey {
  const char* Key;
  int TPracticeChoices::*Field;
  int Lowest;
  int Highest;
};
constexpr TChoiceKey PracticeKeys[] = {{"Practice/Part", &TPracticeChoices::Part, 0, 2},
                                       {"Practice/Channel", &TPracticeChoices::Channel, 0, 16},
                                       {"Practice/Split", &TPracticeChoices::Split, 0, 127},
                                       {"Practice/Mode", &TPracticeChoices::Mode, 0, 1},
                                       {"Practice/Tempo", &TPracticeChoices::Tempo, 25, 150}};

QString IniPath(const std::filesystem::path& fileName) {
  return QString::fromStdString(fileName.string());
}

} // namespace

bool LoadProgramSettingsFrom(const std::filesystem::path& fileName, TProgramSettings& settings) {
  settings = TProgramSettings{};
  std::error_code error;
  if (!std::filesystem::is_regular_file(fileName, error))
    return false;
  QSettings ini(IniPath(fileName), QSettings::IniFormat);
  if (ini.status() != QSettings::NoError)
    return false;
  settings.AccompDrumsOnly = ini.value(DrumsOnlyKey, settings.AccompDrumsOnly).toBool();
  settings.FingeredChords = ini.value(FingeredChordsKey, settings.FingeredChords).toBool();
  for (const TChoiceKey& choice : PracticeKeys) {
    bool ok = false;
    const int value = ini.value(QLatin1String(choice.Key)).toInt(&ok);
    if (ok && value >= choice.Lowest && value <= choice.Highest)
      settings.Practice.*choice.Field = value;
  }
  ini.beginGroup(BestScoresGroup);
  for (const QString& song : ini.childKeys()) {
    bool ok = false;
    const int percent = ini.value(song).toInt(&ok);
    if (ok && percent >= 0 && percent <= 100)
      settings.BestScores[song.toStdString()] = percent;
  }
  return true;
}

bool LoadProgramSettings(TProgramSettings& settings) {
  return LoadProgramSettingsFrom(DataFileForReading(ProgramSettingsFileName), settings);
}

bool SaveProgramSettingsTo(const std::filesystem::path& fileName,
                           const TProgramSettings& settings) {
  QSettings ini(IniPath(fileName), QSettings::IniFormat);
  ini.setValue(DrumsOnlyKey, settings.AccompDrumsOnly);
  ini.setValue(FingeredChordsKey, settings.FingeredChords);
  for (const TChoiceKey& choice : PracticeKeys)
    ini.setValue(QLatin1String(choice.Key), settings.Practice.*choice.Field);
  ini.remove(BestScoresGroup);
  ini.beginGroup(BestScoresGroup);
  for (const auto& [song, percent] : settings.BestScores)
    ini.setValue(QString::fromStdString(song), percent);
  ini.endGroup();
  ini.sync();
  return ini.status() == QSettings::NoError;
}

bool SaveProgramSettings(const TProgramSettings& settings) {
  const std::filesystem::path fileName = DataFileForWriting(ProgramSettingsFileName);
  return !fileName.empty() && SaveProgramSettingsTo(fileName, settings);
}

} // namespace melo

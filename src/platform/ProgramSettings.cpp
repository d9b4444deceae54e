#include "platform/ProgramSettings.h"

#include "platform/DataFolder.h"

#include <QSettings>
#include <QString>

#include <memory>

namespace melo {
namespace {

const QString DrumsOnlyKey = QStringLiteral("Accompaniment/DrumsOnly");
const QString FingeredChordsKey = QStringLiteral("Accompaniment/FingeredChords");
const QString AudioOutputKey = QStringLiteral("AudioMidi/Output");
const QString MidiInKey = QStringLiteral("AudioMidi/MidiIn");
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

// The file's settings, or none when it is not there or cannot be read.
std::unique_ptr<QSettings> OpenForReading(const std::filesystem::path& fileName) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(fileName, error))
    return nullptr;
  auto ini = std::make_unique<QSettings>(IniPath(fileName), QSettings::IniFormat);
  return ini->status() == QSettings::NoError ? std::move(ini) : nullptr;
}

std::string StringValue(const QSettings& ini, const QString& key) {
  return ini.value(key).toString().toStdString();
}

} // namespace

bool LoadProgramSettingsFrom(const std::filesystem::path& fileName, TProgramSettings& settings) {
  settings = TProgramSettings{};
  const std::unique_ptr<QSettings> opened = OpenForReading(fileName);
  if (!opened)
    return false;
  QSettings& ini = *opened;
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

bool LoadAudioMidiFrom(const std::filesystem::path& fileName, TAudioMidiChoices& choices) {
  choices = TAudioMidiChoices{};
  const std::unique_ptr<QSettings> ini = OpenForReading(fileName);
  if (!ini)
    return false;
  choices.AudioOutput = StringValue(*ini, AudioOutputKey);
  choices.MidiIn = StringValue(*ini, MidiInKey);
  return true;
}

TAudioMidiChoices LoadAudioMidi() {
  TAudioMidiChoices choices;
  static_cast<void>(LoadAudioMidiFrom(DataFileForReading(ProgramSettingsFileName), choices));
  return choices;
}

bool SaveAudioMidiTo(const std::filesystem::path& fileName, const TAudioMidiChoices& choices) {
  QSettings ini(IniPath(fileName), QSettings::IniFormat);
  ini.setValue(AudioOutputKey, QString::fromStdString(choices.AudioOutput));
  ini.setValue(MidiInKey, QString::fromStdString(choices.MidiIn));
  ini.sync();
  return ini.status() == QSettings::NoError;
}

bool SaveAudioMidi(const TAudioMidiChoices& choices, std::filesystem::path& written) {
  written = DataFileForWriting(ProgramSettingsFileName);
  return !written.empty() && SaveAudioMidiTo(written, choices);
}

} // namespace melo

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
  const QSettings& ini = *opened;
  settings.AccompDrumsOnly = ini.value(DrumsOnlyKey, settings.AccompDrumsOnly).toBool();
  settings.FingeredChords = ini.value(FingeredChordsKey, settings.FingeredChords).toBool();
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

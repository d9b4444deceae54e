#include "app/CommandLine.h"

#include "app/MidiFileSong.h"
#include "app/SimpleRecorder.h"
#include "app/SongCommands.h"
#include "app/SongExport.h"
#include "app/SongJson.h"
#include "platform/GlobalState.h"
#include "platform/Language.h"
#include "sound/SetupConfig.h"

#include <QStringList>

#include <unistd.h>

#include <algorithm>

#include <filesystem>
#include <ostream>
#include <system_error>

namespace melo {

bool MultiInstance = false;
int PortIndexArg = -1;
std::string AudioOutputArg;
std::string MidiInArg;
QString SongFileArg;
QString PracticeFileArg;

namespace {

// Put back after each test (platform/GlobalState.h).
[[maybe_unused]] const bool StateRegistered = RegisterGlobalVariables(
    MultiInstance, PortIndexArg, AudioOutputArg, MidiInArg, SongFileArg, PracticeFileArg);

} // namespace
namespace {

constexpr int ProgressBarWidth = 40;

bool IsOption(const std::string& argument) {
  return argument.rfind("--", 0) == 0 || argument == "-h";
}

TCommandLine Action(TCommandAction action, std::string song = {}, std::string output = {}) {
  TCommandLine command;
  command.Action = action;
  command.Song = std::move(song);
  command.Output = std::move(output);
  return command;
}

TCommandLine Usage(std::string error) {
  TCommandLine command;
  command.Action = TCommandAction::Usage;
  command.Error = std::move(error);
  return command;
}

struct TNumberOption {
  std::string Name;
  int* Target;
  int Low;
  int High;
};

// --fps and --video-scale among the operands of --export, taken out; an error when one is wrong.
std::string TakeVideoOptions(std::vector<std::string>& operands, TCommandLine& command) {
  const TNumberOption options[] = {
      {"--fps", &command.FramesPerSecond, MinVideoFps, MaxVideoFps},
      {"--video-scale", &command.VideoScale, MinVideoScale, MaxVideoScale}};
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < operands.size(); ++i) {
    const std::string& argument = operands[i];
    const auto* option = std::find_if(std::begin(options), std::end(options), [&](const auto& o) {
      return argument == o.Name || argument.rfind(o.Name + "=", 0) == 0;
    });
    if (option == std::end(options)) {
      rest.push_back(argument);
      continue;
    }
    if (argument == option->Name && i + 1 == operands.size())
      return option->Name + " needs a value";
    const std::string text =
        argument == option->Name ? operands[++i] : argument.substr(option->Name.size() + 1);
    bool ok = false;
    *option->Target = QString::fromStdString(text).toInt(&ok);
    if (!ok || *option->Target < option->Low || *option->Target > option->High) {
      return option->Name + " takes a number from " + std::to_string(option->Low) + " to " +
             std::to_string(option->High);
    }
  }
  const bool video = rest.size() == 2 && IsVideoFileName(rest[1]);
  if (!video && rest.size() != operands.size())
    return "--fps and --video-scale are for a video (.mp4, .mkv, .webm)";
  operands = std::move(rest);
  return {};
}

} // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& allArguments) {
  // The window's own options (--audio OUTPUT, --midi-in PORT, --lang CODE) are no actions: they
  // are taken out with their values first.
  TCommandLine window;
  std::vector<std::string> arguments;
  for (std::size_t i = 0; i < allArguments.size(); ++i) {
    const std::string& argument = allArguments[i];
    std::string* value = nullptr;
    std::string text;
    for (auto [name, target] : {std::pair{std::string("--audio"), &window.AudioOutput},
                                std::pair{std::string("--midi-in"), &window.MidiIn},
                                std::pair{std::string("--practice"), &window.Practice},
                                std::pair{std::string("--lang"), &text}}) {
      if (argument == name && i + 1 == allArguments.size())
        return Usage(name + " needs a value");
      if (argument == name) {
        value = target;
        *value = allArguments[++i];
      } else if (argument.rfind(name + "=", 0) == 0) {
        value = target;
        *value = argument.substr(name.size() + 1);
      }
    }
    if (value == nullptr) {
      arguments.push_back(argument);
      continue;
    }
    if (value == &window.Practice) {
      std::error_code error;
      const std::filesystem::path absolute = std::filesystem::absolute(*value, error);
      if (!error)
        *value = absolute.string();
    }
    if (value == &text) {
      window.Language = LanguageOfCode(text);
      if (!window.Language)
        return Usage("--lang takes zh or en");
    }
  }
  std::size_t first = 0;
  while (first < arguments.size() && !IsOption(arguments[first]))
    ++first;
  if (first == arguments.size()) {
    QStringList windowArguments;
    for (const std::string& argument : arguments) {
      const QString text = QString::fromStdString(argument);
      windowArguments.append(text);
      if (text.toUpper() == QLatin1String("MULTIINSTANCE")) {
        window.MultiInstance = true;
        continue;
      }
      bool ok = false;
      const int port = text.toInt(&ok);
      if (ok)
        window.PortIndex = port;
    }
    window.Song = SongArgument(windowArguments).toStdString();
    return window;
  }
  for (const std::string& argument : arguments) {
    if (argument == "--help" || argument == "-h")
      return Action(TCommandAction::Help);
  }
  if (first != 0)
    return Usage("'" + arguments[0] + "' cannot come before " + arguments[first]);
  const std::string& option = arguments[0];
  const std::size_t operands = arguments.size() - 1;
  if (option == "--version") {
    if (operands != 0)
      return Usage("--version takes no file");
    return Action(TCommandAction::Version);
  }
  if (option == "--paths") {
    if (operands != 0)
      return Usage("--paths takes no file");
    return Action(TCommandAction::Paths);
  }
  if (option == "--info") {
    if (operands != 1)
      return Usage("--info takes one song file");
    return Action(TCommandAction::Info, arguments[1]);
  }
  if (option == "--export") {
    TCommandLine command = Action(TCommandAction::Export);
    std::vector<std::string> files(arguments.begin() + 1, arguments.end());
    if (const std::string error = TakeVideoOptions(files, command); !error.empty())
      return Usage(error);
    if (files.size() != 2)
      return Usage("--export takes a song file and an output file");
    TExportTarget target;
    if (!ExportTargetOf(files[1], target) && !IsVideoFileName(files[1])) {
      return Usage("cannot tell the format of '" + files[1] +
                   "': name it .mid, .wav, .flac, .ogg, .mp4, .mkv or .webm");
    }
    command.Song = files[0];
    command.Output = files[1];
    return command;
  }
  if (option == "--import") {
    if (operands != 2 || !arguments[2].ends_with(".lyt"))
      return Usage("--import takes a MIDI file and a song file (.lyt)");
    return Action(TCommandAction::Import, arguments[1], arguments[2]);
  }
  return Usage("unknown option " + option);
}

bool LoadSongArgument(const std::string& fileName, TSimpleRecorder& song, std::ostream& err) {
  std::error_code error;
  if (!std::filesystem::exists(fileName, error)) {
    err << "melotastico: " << fileName << ": no such file\n";
    return false;
  }
  // A pipe or device would be waited on, perhaps for ever: refused at once.
  if (!std::filesystem::is_regular_file(fileName, error)) {
    err << "melotastico: " << fileName << ": not a regular file (a pipe, device or folder)\n";
    return false;
  }
  TSongInfo info{};
  std::string reason;
  if (IsMidiFileName(fileName) && !LoadMidiFileSong(fileName, song, info, reason)) {
    err << "melotastico: " << fileName << ": not read as a MIDI file: " << reason << "\n";
    return false;
  }
  if (!IsMidiFileName(fileName) && !song.LoadFromFile(fileName, info)) {
    err << "melotastico: " << fileName << ": not a Melotastico song, or damaged (cannot be read)\n";
    return false;
  }
  if (song.IgnoredBytes() != 0) {
    err << "melotastico: " << fileName << ": warning: " << song.IgnoredBytes()
        << " bytes after the last event were ignored; the file looks damaged and part of the "
           "song may be missing\n";
  }
  return true;
}

std::string UsageText() {
  return "Usage: melotastico [MULTIINSTANCE] [PORT] [--audio OUTPUT] [--midi-in PORT]\n"
         "                  [--lang zh|en] [--practice SONG.lyt|MIDI.mid] [SONG.lyt|MIDI.mid]\n"
         "       melotastico --export SONG.lyt|IN.mid OUT.mid|OUT.wav|OUT.flac|OUT.ogg\n"
         "       melotastico --export SONG.lyt|IN.mid OUT.mp4|OUT.mkv|OUT.webm\n"
         "                   [--fps 24..60] [--video-scale 1..3]\n"
         "       melotastico --info SONG.lyt|IN.mid\n"
         "       melotastico --import IN.mid OUT.lyt\n"
         "       melotastico --help | --version | --paths\n"
         "\n"
         "Without options the piano window starts; a number selects the output\n"
         "port by index and writes the port list to OutDevList.txt.\n"
         "\n"
         "  --audio OUTPUT     play to default, pulse, pipewire, jack or an ALSA device\n"
         "  --midi-in PORT     play from a MIDI port: part of its name or ALSA client:port\n"
         "  --lang zh|en       Chinese or English texts (default: from the locale;\n"
         "                     Chinese for zh* and C/POSIX, else English)\n"
         "  --practice SONG    open the practice window on the song (.lyt or MIDI)\n"
         "  --export SONG OUT  play the song offline into a Standard MIDI File (.mid)\n"
         "                     or audio (.wav, .flac, .ogg) with the sound set and\n"
         "                     reverb of the settings; an external set (DLS, SF2 or\n"
         "                     SF3) that is missing or cannot be read is named in a\n"
         "                     warning and the built-in set plays instead; or into\n"
         "                     a video of the window playing it: H.264 and AAC in\n"
         "                     .mp4, VP9 and Opus in .mkv or .webm\n"
         "  --fps N            video frames per second, 24 to 60 (default 60)\n"
         "  --video-scale N    video size in times the window's, 1 to 3 (default 2)\n"
         "  --info SONG        print the song as JSON: version, texts, start state\n"
         "                     and events\n"
         "  --import MIDI SONG read a Standard MIDI File (.mid, .midi, .kar) and save\n"
         "                     it as a song; --info and --export take MIDI files too\n"
         "  --help             print this help\n"
         "  --version          print the version\n"
         "  --paths            list the files the program reads from its own folder\n"
         "                     (exit status 1 when one is missing)\n"
         "\n"
         "Exit status: 0 success, 1 the song cannot be read or the file not written\n"
         "(nothing is left behind), 2 wrong usage.\n";
}

std::string VersionText() {
  return std::string("melotastico ") + MELO_VERSION + "\n";
}

bool IsVideoExport(const TCommandLine& command) {
  return command.Action == TCommandAction::Export && IsVideoFileName(command.Output);
}

TRenderSetup ExportSetupFromSettings(std::ostream& err) {
  LoadConfig(Config);
  TRenderSetup setup = TRenderSetup::FromConfig();
  setup.OnBuiltInInstead = [&err, name = setup.ExternalDLSFileName](const TSoundSetResult& result) {
    err << "melotastico: warning: sound set " << name.string() << ": " << SoundSetFaultText(result)
        << "; the built-in set plays instead\n";
  };
  return setup;
}

TRenderProgress TerminalProgress(std::ostream& err) {
  if (isatty(STDERR_FILENO) == 0)
    return {};
  return [&err, shown = -1](double done) mutable {
    const int percent = static_cast<int>(done * 100);
    if (percent == shown)
      return true;
    shown = percent;
    const int filled = percent * ProgressBarWidth / 100;
    err << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
        << std::string(static_cast<std::size_t>(ProgressBarWidth - filled), ' ') << "] " << percent
        << "%" << (percent == 100 ? "\n" : "") << std::flush;
    return true;
  };
}

int ExportExitCode(TExportResult result, const std::string& output, std::ostream& err) {
  if (result == TExportResult::Done)
    return ExitSuccess;
  err << "melotastico: " << output << ": " << ExportResultText(result) << "\n";
  return ExitFailure;
}

void UseCommandLine(const TCommandLine& command) {
  MultiInstance = command.MultiInstance;
  PortIndexArg = command.PortIndex;
  AudioOutputArg = command.AudioOutput;
  MidiInArg = command.MidiIn;
  SongFileArg = QString::fromStdString(command.Song);
  PracticeFileArg = QString::fromStdString(command.Practice);
}

int RunCommandLineAction(const TCommandLine& command, std::ostream& out, std::ostream& err) {
  switch (command.Action) {
  case TCommandAction::Window:
    return ExitUsage;
  case TCommandAction::Help:
    out << UsageText();
    return ExitSuccess;
  case TCommandAction::Version:
    out << VersionText();
    return ExitSuccess;
  case TCommandAction::Paths: {
    bool allFound = false;
    out << ProgramFilesReport(allFound);
    return allFound ? ExitSuccess : ExitFailure;
  }
  case TCommandAction::Usage:
    err << "melotastico: " << command.Error << "\nTry 'melotastico --help'.\n";
    return ExitUsage;
  case TCommandAction::Info: {
    TSimpleRecorder song;
    if (!LoadSongArgument(command.Song, song, err))
      return ExitFailure;
    const QByteArray json = SongToJson(song.Header, song.Events(), song.IgnoredBytes());
    out.write(json.constData(), json.size());
    return out.good() ? ExitSuccess : ExitFailure;
  }
  case TCommandAction::Export: {
    TExportTarget target;
    if (!ExportTargetOf(command.Output, target)) {
      return RunCommandLineAction(Usage("cannot tell the format of '" + command.Output + "'"), out,
                                  err);
    }
    TSimpleRecorder song;
    if (!LoadSongArgument(command.Song, song, err))
      return ExitFailure;
    return ExportExitCode(ExportSong(song.Header, song.Events(), command.Output, target,
                                     ExportSetupFromSettings(err), nullptr, TerminalProgress(err)),
                          command.Output, err);
  }
  case TCommandAction::Import: {
    TSimpleRecorder song;
    if (!LoadSongArgument(command.Song, song, err))
      return ExitFailure;
    std::error_code error;
    if (!song.SaveToFile(command.Output, song.Header.Info, &error)) {
      err << "melotastico: " << command.Output << ": not written: " << error.message() << "\n";
      return ExitFailure;
    }
    return ExitSuccess;
  }
  }
  return ExitFailure;
}

} // namespace melo

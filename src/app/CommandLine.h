#pragma once
// The program's command line, parsed once: the actions, which need no display
// (help, version, a song's content as JSON, song export), and the window's
// options. Any command line without an action (none, "MULTIINSTANCE", a port
// number, a song) starts the window as before.
#include "app/SongExport.h"
#include "platform/Language.h"

#include <QString>
#include <iosfwd>

#include <optional>
#include <string>
#include <vector>

namespace melo {

class TSimpleRecorder;

// Exit codes: success, failure (unreadable song, nothing written), misuse.
inline constexpr int ExitSuccess = 0;
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;

enum class TCommandAction { Window, Help, Version, Paths, Info, Export, Import, Usage };

struct TCommandLine {
  TCommandAction Action = TCommandAction::Window;
  // --info, --export, --import: the song (or MIDI file) as given. Window: the song to open once the
  // window shows, as an absolute path; empty when none.
  std::string Song;
  std::string Output;       // --export, --import
  int FramesPerSecond = 60; // --export to a video: --fps 24..60
  int VideoScale = 2;       // --video-scale 1..3
  std::string Error;        // Usage: what is wrong
  // The window's options, also given before an action (and then unused).
  bool MultiInstance = false;        // "MULTIINSTANCE" in any case
  int PortIndex = -1;                // a decimal number: the output port (the last one wins)
  std::string AudioOutput;           // "--audio OUTPUT" or "--audio=OUTPUT"
  std::string MidiIn;                // "--midi-in PORT" or "--midi-in=PORT"
  std::optional<TLanguage> Language; // "--lang zh|en" or "--lang=zh|en" (the last one wins)
  std::string Practice;              // "--practice FILE": the song to practise, as an absolute path
};

// Arguments without the program's name. The window's options --audio,
// --midi-in, --lang and --practice take their value (a bad language is a Usage). Any
// other argument starting with "--" (or "-h") makes the command line an
// action; such a command line is checked whole, and anything it does not
// expect makes it a Usage. Without an action the other arguments are the
// window's: MULTIINSTANCE, a port number, a song file (a .lyt path or an
// existing file that is no folder; the last one wins).
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

std::string UsageText();
std::string VersionText();

// Whether the action is an export to a video, which needs Qt Widgets: the
// program's main runs it (RunVideoExportCommand) instead of RunCommandLineAction.
bool IsVideoExport(const TCommandLine& command);

// Pieces of --export the video export shares: the song loaded (false, told on
// err, when it cannot be); the settings' sound set and reverb, a missing
// external set named on err; a progress bar on err when standard error is a
// terminal (else nothing); the outcome told on err as an exit code.
bool LoadSongArgument(const std::string& fileName, TSimpleRecorder& song, std::ostream& err);
TRenderSetup ExportSetupFromSettings(std::ostream& err);
TRenderProgress TerminalProgress(std::ostream& err);
int ExportExitCode(TExportResult result, const std::string& output, std::ostream& err);

// Runs an action other than Window and returns the exit code; results go to
// out, messages to err. Reads the settings for an export's sound set.
int RunCommandLineAction(const TCommandLine& command, std::ostream& out, std::ostream& err);

// The window's options of the command line the program was started with.
// A song to practise once the window shows; empty when none.
extern QString PracticeFileArg;
extern bool MultiInstance;
extern int PortIndexArg;
// "--audio OUTPUT" and "--midi-in PORT"; empty when not given.
extern std::string AudioOutputArg;
extern std::string MidiInArg;
// A song named on the command line, opened once the window shows; empty when none.
extern QString SongFileArg;

// Takes the window's options of a parsed command line (ParseCommandLine):
// MultiInstance, the output port, the audio output, the MIDI input connected
// at start-up and the song to open.
void UseCommandLine(const TCommandLine& command);

} // namespace melo

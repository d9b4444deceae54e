#pragma once
// The program's command-line actions, which need no display: help, version,
// a song's content as JSON and song export. Any other command line (none,
// "MULTIINSTANCE", a port number) starts the window as before.
#include <iosfwd>
#include <string>
#include <vector>

namespace melo {

// Exit codes: success, failure (unreadable song, nothing written), misuse.
inline constexpr int ExitSuccess = 0;
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;

enum class TCommandAction { Window, Help, Version, Paths, Info, Export, Usage };

struct TCommandLine {
  TCommandAction Action = TCommandAction::Window;
  std::string Song;   // --info, --export
  std::string Output; // --export
  std::string Error;  // Usage: what is wrong
};

// Arguments without the program's name. An argument starting with "--" (or
// "-h") makes the command line an action; such a command line is checked
// whole, and anything it does not expect makes it a Usage.
TCommandLine ParseCommandLineAction(const std::vector<std::string>& arguments);

std::string UsageText();
std::string VersionText();

// Runs an action other than Window and returns the exit code; results go to
// out, messages to err. Reads the settings for an export's sound set.
int RunCommandLineAction(const TCommandLine& command, std::ostream& out, std::ostream& err);

} // namespace melo

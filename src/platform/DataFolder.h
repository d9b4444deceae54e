#pragma once
// Where the program's own files live (settings, favourite voices, output
// lists): beside the executable, or, for an installed copy whose folder cannot
// be written, in the user's configuration folder. Every data file is located
// through these functions.
#include <filesystem>
#include <string_view>

namespace melo {

// The folder of the running executable. Tests (and nothing else) replace it
// with SetProgramFolder; an empty path returns to the real one.
std::filesystem::path ProgramFolder();
void SetProgramFolder(const std::filesystem::path& folder);
// The folder of the running executable, whatever a test set.
std::filesystem::path ExecutableFolder();

// The folder of the files that come with the program and are only read (sound
// set, glyph library, help pages, translations): <prefix>/share/melotastico for
// an installed copy in <prefix>/bin, else the program folder (the build folder
// keeps them beside the executable).
std::filesystem::path ResourceFolder();

// $XDG_CONFIG_HOME/Melotastico, or ~/.config/Melotastico when that variable is
// unset or not absolute. Not created here.
std::filesystem::path UserDataFolder();

// The file to read: the user's copy when one exists, else the one beside the
// executable (which need not exist).
std::filesystem::path DataFileForReading(std::string_view name);

// The file to write: where it would be read from when the user has a copy,
// else beside the executable when that folder can be written, else in the
// user's folder (created on demand). Empty when no folder can be written.
std::filesystem::path DataFileForWriting(std::string_view name);

} // namespace melo

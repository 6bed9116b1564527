// Well-known folders.
#pragma once

#include <filesystem>

namespace platform {

// The user's application-data folder: $XDG_DATA_HOME when it is an absolute path, else
// <home>/.local/share, where home is $HOME (when absolute) or the user database's home folder. Empty when
// no home folder can be found. Not created. Any thread; reads the environment at the call.
std::filesystem::path AppDataDir();

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute path, else <home>/.config, as
// for AppDataDir. Empty when no home folder can be found. Not created.
std::filesystem::path ConfigDir();

// The folder that holds the running program's executable; empty when it cannot be found.
std::filesystem::path ProgramDir();

// Full path of the running program's executable; empty when it cannot be found.
std::filesystem::path ProgramPath();

// The folder that holds the files a program loads at run time (resource module, skins, pictures, help
// page): "<prefix>/share/<name>" for a program installed as "<prefix>/bin/<name>" when that folder exists,
// else the program's own folder (a build tree, or a portable copy with everything beside the program).
// Always found relative to the program, so an installed tree works wherever it is moved. Empty for an
// empty path.
std::filesystem::path ProgramDataDirFor(const std::filesystem::path& program);
// The same for the running program.
std::filesystem::path ProgramDataDir();

// The folder for temporary files: $TMPDIR when it is an absolute path, else /tmp. Not created.
std::filesystem::path TempDir();

} // namespace platform

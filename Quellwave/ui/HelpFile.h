// The program's help: a page named after the program with ".html" added (quellwave -> quellwave.html),
// kept with the program's other files (beside it, or in <prefix>/share/quellwave when installed) and opened
// with the desktop's viewer.
#pragma once

#include <filesystem>

// The help page of a program file: its path with ".html" appended; a program named with ".exe" has that
// replaced. Empty for an empty path.
std::filesystem::path HelpFilePath(const std::filesystem::path& program);

// Opens the running program's help page (HelpFilePath of the program's name in its data folder) with the
// desktop's viewer (through Qt, which runs xdg-open on a desktop). A missing page is the viewer's to report.
// Returns at once; UI thread only.
void ShowHelpFile();

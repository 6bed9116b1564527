// The program's help: a page named after the program with ".html" added (quellwave -> quellwave.html),
// kept with the program's other files (beside it, or in <prefix>/share/quellwave when installed) and opened
// with the desktop's viewer, or in the program's own help window where the desktop has none.
#pragma once

#include <filesystem>

// The help page of a program file: its path with ".html" appended; a program named with ".exe" has that
// replaced. Empty for an empty path.
std::filesystem::path HelpFilePath(const std::filesystem::path& program);

// Opens `page` through the desktop's launcher (xdg-open); where there is no launcher, or it reports that it
// could not open the page (no viewer for it, no such page), shows the page in the program's own help
// window (HelpViewer), which names a missing page. Returns at once; UI thread only.
void OpenHelpPage(const std::filesystem::path& page);

// Opens the running program's help page: OpenHelpPage of HelpFilePath of the program's name in its data
// folder. Returns at once; UI thread only.
void ShowHelpFile();

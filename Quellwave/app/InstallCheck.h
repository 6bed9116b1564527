// "quellwave --check-install": loads what the program loads at start-up from where it finds it (the
// resource module, the skin, the dial's images, the help page and Version.txt), without opening a window,
// so that an installed or moved tree can be checked by running the real program.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace app {

struct InstallItem {
    std::string what;           // "resource module", "skin", "dial image", "help page", "version"
    std::filesystem::path path; // the file or folder it was looked for in
    bool found = false;         // loaded (the modules and images) or present and not empty
};

// Each item the program needs, looked for under `dataFolder` as the program does; the help page is the one
// of the program named `programName`. Uses a resource chain of its own; UI thread (a QGuiApplication must
// exist for the images). Stores nothing.
std::vector<InstallItem> CheckInstall(const std::filesystem::path& dataFolder,
                                      const std::string& programName);

// Prints one line per item ("ok" or "MISSING", what, path) to standard output; returns 0 when every item
// was found, else 1.
int ReportInstall(const std::vector<InstallItem>& items);

} // namespace app

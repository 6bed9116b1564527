#include "CommandLine.h"

#include "shell/PlaylistFile.h"
#include "shell/Settings.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace app {

CommandLine ParseCommandLine(const std::vector<std::string>& argv) {
    CommandLine line;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string& arg = argv[i];
        if (arg == "--driver" && i + 1 < argv.size()) {
            line.driverName = argv[++i];
        } else if (arg == "--play") {
            line.play = true;
        } else if (arg == "--check-install") {
            line.checkInstall = true;
        } else if (arg.rfind("--driver=", 0) == 0) {
            line.driverName = arg.substr(9);
        } else {
            line.args.push_back(arg);
        }
    }
    return line;
}

std::optional<char> CdPlayLetter(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& arg : args) {
        if (!line.empty())
            line += ' ';
        line += arg;
    }
    const std::size_t cdplay = line.find("/cdplay");
    if (cdplay == std::string::npos)
        return std::nullopt;
    const std::size_t dash = line.find('-', cdplay);
    if (dash == std::string::npos || dash + 1 >= line.size())
        return std::nullopt;
    const char letter = line[dash + 1];
    if (!std::isalpha(static_cast<unsigned char>(letter)))
        return std::nullopt;
    return letter;
}

bool ApplyCdPlay(const std::vector<std::string>& args) {
    const std::optional<char> letter = CdPlayLetter(args);
    if (!letter)
        return false;
    WriteDrive(static_cast<DWORD>(static_cast<unsigned char>(*letter)));
    WriteMode(0);
    return true;
}

TrackList CommandLineFiles(const std::vector<std::string>& args, bool rfMode,
                           const std::filesystem::path& startFolder) {
    TrackList files;
    for (const std::string& arg : args) {
        if (!IsListedFileName(arg, rfMode))
            continue;
        std::filesystem::path path(arg);
        if (path.is_relative())
            path = startFolder / path;
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error))
            continue;
        files.push_back(path.lexically_normal().string());
    }
    return files;
}

bool TakeOverFiles(const std::vector<std::string>& args, bool rfMode,
                   const std::filesystem::path& startFolder) {
    const TrackList files = CommandLineFiles(args, rfMode, startFolder);
    if (files.empty())
        return false;
    WritePlaylist(files);
    WriteMode(1);
    return true;
}

InstanceRequest ParseInstanceRequest(std::string_view line) noexcept {
    if (line == "raise\n")
        return InstanceRequest::Raise;
    if (line == "reload\n")
        return InstanceRequest::Reload;
    return InstanceRequest::None;
}

} // namespace app

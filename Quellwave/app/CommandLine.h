// What the player takes from its command line: the audio files to play (every argument that ends in
// ".wav" or another PCM file's extension (IsListedFileName), or also ".dsf"/".dff" when DSD files play, and
// names an existing file; made absolute against the
// folder the program was started in, the case of the path kept) and "/cdplay -X", which makes drive X the
// playback drive in disc mode. The options of this port (--driver NAME, --play, --check-install) are read
// here too.
#pragma once

#include "shell/TrackList.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

struct CommandLine {
    std::vector<std::string> args;         // without the program's own name
    std::optional<std::string> driverName; // --driver NAME
    bool play = false;                     // --play: start playing once the window is up
    bool checkInstall = false;             // --check-install: check the program's files, open no window
};

// Splits off this port's own options; everything else stays in args, in order.
CommandLine ParseCommandLine(const std::vector<std::string>& argv);

// The letter of "/cdplay": the character right after the first "-" that follows "/cdplay", in its own case;
// nothing when "/cdplay" is not there or no letter follows the "-".
std::optional<char> CdPlayLetter(const std::vector<std::string>& args);
// Stores the letter as DefaultDrive and disc mode as DefaultMode when "/cdplay" names one; returns whether.
bool ApplyCdPlay(const std::vector<std::string>& args);

// The files the arguments name, in order, absolute (relative ones taken from startFolder).
TrackList CommandLineFiles(const std::vector<std::string>& args, bool rfMode,
                           const std::filesystem::path& startFolder);
// When the arguments name files: writes them to PlayList.txt and stores file mode as DefaultMode. Returns
// whether there were any (nothing is written otherwise).
bool TakeOverFiles(const std::vector<std::string>& args, bool rfMode,
                   const std::filesystem::path& startFolder);

// What a second copy asks of the running one, one request a line: "raise\n" (come to the front) or
// "reload\n" (come to the front and reload PlayList.txt). Anything else is no request.
enum class InstanceRequest { None, Raise, Reload };
inline constexpr std::size_t kMaxRequestLine = 64;
InstanceRequest ParseInstanceRequest(std::string_view line) noexcept;

} // namespace app

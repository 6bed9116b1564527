#include "CdCommands.h"

#include "CDiscPilot.h"
#include "Platform/DriveTable.h"

#include <cstdio>
#include <string>

namespace cli {

namespace {

int RunTray(const std::vector<std::string>& args, bool eject) {
    unsigned char letter = 0;
    if (args.size() != 1 || !ParseDriveLetter(args[0], letter)) {
        std::fprintf(stderr, "usage: quellwave-cli %s LETTER\n", eject ? "eject" : "load");
        return 2;
    }
    CDiscPilot pilot;
    const int opened = eject ? pilot.EjectVolume(letter) : pilot.InsertVolume(letter);
    if (opened == 0) {
        std::string error;
        if (platform::OpenVolumeDevice(static_cast<char>(letter), error))
            std::fprintf(stderr,
                         "quellwave-cli: %c: the drive refused to %s its tray (another program may "
                         "have it open)\n",
                         letter, eject ? "open" : "close");
        else
            std::fprintf(stderr, "quellwave-cli: %c: not a CD drive, or its volume cannot be opened\n",
                         letter);
        return 1;
    }
    return 0;
}

} // namespace

int RunEject(const std::vector<std::string>& args) {
    return RunTray(args, true);
}

int RunLoad(const std::vector<std::string>& args) {
    return RunTray(args, false);
}

} // namespace cli

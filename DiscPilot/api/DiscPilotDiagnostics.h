// What DiscPilot makes of a drive letter, for diagnostics (quellwave-cli drives). Exported from
// libDiscPilot.so beside the controller class, so that no program links DiscPilot's internals itself and
// a process holds one drive table and one pass-through bus: the library's.
#pragma once

#include "DiscPilotExport.h"

#include <cstdint>

namespace discpilot {

struct DriveProbe {
    bool passThrough = false; // the transport "Cdrom_Mode" chose: pass-through, else the raw device controls
    int hostAdapter = 0;
    int target = 0;
    char vendor[9] = {}; // as the drive reports them, padded with spaces
    char product[17] = {};
    char revision[5] = {};
    std::uint32_t readMode = 0; // the audio read command the vendor table gives the drive
    int unitReady = 0;          // TEST UNIT READY through that transport: 0 or its result
};

// Opens the drive of a letter (either case) as the controller does, identifies it, asks whether it is
// ready and closes it. 0, or the open result (502 when it is not identified) with probe left as it was.
// Blocks on the registry and the drive; any thread.
DISCPILOT_API int ProbeDrive(char letter, DriveProbe& probe) noexcept;

} // namespace discpilot

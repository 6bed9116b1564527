// What DiscPilot makes of a drive letter, for diagnostics (quellwave-cli drives). Exported from
// libDiscPilot.so beside the controller class, so that no program links DiscPilot's internals itself and
// a process holds one drive table and one pass-through bus: the library's.
#pragma once

#include "DiscPilotExport.h"

#include <cstdint>

class CDiscPilot;

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

// The table of contents of a controller's open drive, as the reader holds it.
struct DiscTrack {
    int number = 0;
    std::uint32_t start = 0;  // LBA
    std::uint32_t length = 0; // sectors
    bool data = false;        // control bit 2
    bool preEmphasis = false; // control bit 0
};
struct DiscToc {
    int count = 0;                     // tracks in the table
    DiscTrack tracks[99];              // the first `count` are filled
    std::uint32_t lastReadableLba = 0; // the lead-out is one past it
};
// false when the controller has no drive open. Any thread that the controller's own rules allow.
DISCPILOT_API bool GetDiscToc(const CDiscPilot& controller, DiscToc& toc) noexcept;

// How the controller's current read is going.
struct ReadCounts {
    int status = 0;                  // the reader's status (0 ok, 4 read failed after retries, ...)
    int jitterCorrections = 0;       // overlaps found half a frame off and taken there
    int realignments = 0;            // slot boundaries where the overlap was found away from where expected
    int retries = 0;                 // reads repeated after a failure
    int fetches = 0;                 // slots produced
    std::uint64_t lastDelivered = 0; // bytes the last GetData copied
    std::uint32_t readMode = 0;      // the audio read command in use
};
// false when the controller has no drive open.
DISCPILOT_API bool GetReadCounts(const CDiscPilot& controller, ReadCounts& counts) noexcept;

// What the controller's last drive check found, for a report to the user (quellwave-cli check).
struct CheckSummary {
    int done = 0;        // the check ran to its end (not stopped)
    int success = 0;     // a read condition was found and stored
    int status = 0;      // the check's own outcome (0, 12 comparison errors, 21 probe failed, ...)
    int readerStatus = 0;
    int grade = 0;       // 1 (both passes identical) .. 10; 0 without success
    double speedMultiple = 0; // the first pass's speed as a multiple of 1x
    int speed = 0;       // the condition's speed, multiples of 176 kB/s
    int overlap = 0;     // the condition's overlap in sectors
    int accurate = 0;    // read first without overlap correction
    int noJitter = 0;
    int isrc = 0;        // every audio track's ISRC valid and distinct
    std::uint32_t bufferSize = 0; // bytes per transfer
    int bytesCompared = 0, highDiffer = 0, largeDiffer = 0, lowDiffer = 0, realignments = 0;
};
// false when no drive is open or no check has finished on it. Any thread.
DISCPILOT_API bool GetCheckSummary(const CDiscPilot& controller, CheckSummary& summary) noexcept;

} // namespace discpilot

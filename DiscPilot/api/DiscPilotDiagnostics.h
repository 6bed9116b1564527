// What DiscPilot makes of a drive letter and of an open drive, for diagnostic tools (quellwave-cli drives,
// toc, rip, check). A nested class of the controller, exported with it from libDiscPilot.so, so that no
// program links DiscPilot's internals itself and a process holds one drive table and one pass-through
// bus: the library's.
#pragma once

#include "CDiscPilot.h"
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

// The CD-Text items GetCdText copies (the pack types of the lead-in's text).
inline constexpr int kCdTextTitle = 0x80;
inline constexpr int kCdTextPerformer = 0x81;
inline constexpr int kCdTextSongwriter = 0x82;
inline constexpr int kCdTextComposer = 0x83;

// How the controller's current read is going.
struct ReadCounts {
    int status = 0;                  // the reader's status (0 ok, 4 read failed after retries, ...)
    int jitterCorrections = 0;       // overlaps found half a frame off and taken there
    int realignments = 0;            // slot boundaries where the overlap was found away from where expected
    int retries = 0;                 // reads repeated after a failure
    int fetches = 0;                 // slots produced
    std::uint64_t lastDelivered = 0; // bytes the last GetData copied
    std::uint32_t readMode = 0;      // the audio read command in use
    int unreadable = 0;              // sectors that could not be read and were delivered as silence
    bool plain = false;              // the range is read without overlap correction
    std::uint32_t endedAt = 0;       // the sector where a read that ended early stopped
    int unsettled = 0;               // sectors delivered where no reads settled where they belong
};

// The read condition in force for a controller's open drive.
struct ConditionSummary {
    int stored = 0; // found for this drive model (the drive check's result), else the defaults
    int speed = 0;  // multiples of 176 kB/s
    int overlap = 0;
    int accurate = 0;
    int noJitter = 0;
    std::uint32_t bufferSize = 0;
};

// A run of sectors of the current range that could not be read (delivered as silence).
struct UnreadableSpan {
    std::uint32_t lba = 0;
    std::uint32_t count = 0;
};

// What the controller's last drive check found, for a report to the user (quellwave-cli check).
struct CheckSummary {
    int done = 0;      // the check ran to its end (not stopped)
    int success = 0;   // a read condition was found and stored
    int status = 0;    // the check's own outcome (0, 12 comparison errors, 21 probe failed, ...)
    int notStored = 0; // the check found a condition but could not write it to the user's settings
    int readerStatus = 0;
    int grade = 0;            // 1 (both passes identical) .. 10; 0 without success
    double speedMultiple = 0; // the first pass's speed as a multiple of 1x
    int speed = 0;            // the condition's speed, multiples of 176 kB/s
    int overlap = 0;          // the condition's overlap in sectors
    int accurate = 0;         // read first without overlap correction
    int noJitter = 0;
    int isrc = 0;                 // every audio track's ISRC valid and distinct
    std::uint32_t bufferSize = 0; // bytes per transfer
    int bytesCompared = 0, highDiffer = 0, largeDiffer = 0, lowDiffer = 0, realignments = 0;
};

} // namespace discpilot

class DISCPILOT_API CDiscPilot::Diagnostics {
public:
    // Opens the drive of a letter (either case) as the controller does, identifies it, asks whether it is
    // ready and closes it. 0, or the open result (502 when it is not identified) with probe left as it was.
    // Blocks on the registry and the drive; any thread.
    static int ProbeDrive(char letter, discpilot::DriveProbe& probe) noexcept;
    // false when the controller has no drive open. Any thread that the controller's own rules allow.
    static bool GetDiscToc(const CDiscPilot& controller, discpilot::DiscToc& toc) noexcept;
    // The disc's CD-Text, read when the drive was opened: the item (kCdTextTitle, ...) of the disc (track
    // 0: the album) or of a track (its number), as UTF-8 without control characters. Copies at most
    // capacity - 1 bytes, cut at a character's boundary, and a NUL (nothing for capacity 0). Returns the
    // text's whole length in bytes: 0 when the disc has no such text, no drive is open, or the drive
    // could not tell (the transport cannot ask, or the drive refused). Any thread.
    static int GetCdText(const CDiscPilot& controller, int track, int item, char* utf8,
                         int capacity) noexcept;
    // false when the controller has no drive open.
    static bool GetReadCounts(const CDiscPilot& controller, discpilot::ReadCounts& counts) noexcept;
    // Secure reading for the controller's open drive (a rip): overlap correction, a verified start of every
    // range and cache defeat, whatever the stored read condition says. Takes effect at the next
    // SetPosition. false when no drive is open. Only while no range is being read.
    static bool SetSecureReading(CDiscPilot& controller, bool secure) noexcept;
    // Copies up to capacity runs of unreadable sectors of the current range (in disc order) and returns
    // how many it copied; 0 without an open drive. Any thread.
    static int GetUnreadableSpans(const CDiscPilot& controller, discpilot::UnreadableSpan* spans,
                                  int capacity) noexcept;
    // The same for the runs of sectors whose place no reads settled (delivered, but perhaps misplaced).
    static int GetUnsettledSpans(const CDiscPilot& controller, discpilot::UnreadableSpan* spans,
                                 int capacity) noexcept;
    // false when no drive is open. From the thread that set the drive.
    static bool GetReadCondition(const CDiscPilot& controller,
                                 discpilot::ConditionSummary& condition) noexcept;
    // Starts reading `count` sectors from disc sector `lba` (a rip's read: across track boundaries, and
    // before the first track where its pregap holds audio), delivered by GetData as recorded (no
    // de-emphasis). Stops the current range first. false when no drive is open or the range is refused:
    // not all audio, or outside the disc (GetReadCounts' status says which). Only from the thread that
    // set the drive.
    static bool SetSectorRange(CDiscPilot& controller, std::uint32_t lba, std::uint32_t count) noexcept;
    // Copies where each track's pregap (index 0) begins, in track order, up to capacity of them: the
    // track's start where it has none or the drive does not tell. Returns how many it copied; 0 without
    // an open drive. Stops the current range; blocks on the drive. Only from the thread that set the
    // drive.
    static int GetPregapStarts(CDiscPilot& controller, std::uint32_t* starts, int capacity) noexcept;
    // The read offset in samples stored for the open drive's model (a rip leaves this many samples out at
    // its start: positive when the drive reads early). false when none is stored or no drive is open.
    // Blocks on the registry.
    static bool GetReadOffset(const CDiscPilot& controller, long& samples) noexcept;
    // Stores a read offset for the open drive's model beside its read condition. false when no drive is
    // open, the offset is beyond ten sectors either way, or the settings could not be written.
    static bool StoreReadOffset(const CDiscPilot& controller, long samples) noexcept;
    // false when no drive is open or no check has finished on it. Any thread.
    static bool GetCheckSummary(const CDiscPilot& controller, discpilot::CheckSummary& summary) noexcept;
};

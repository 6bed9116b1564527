// The virtual drive: an emulated MMC CD drive that holds a CUE/BIN image. It answers SCSI command blocks
// as a real drive does (data layouts, status, fixed sense) and the CD device controls, so the whole CD
// path can run without a disc, and a user can play an image through the same reader as a disc.
//
// Identity, capabilities and faults come from a VirtualDriveProfile, read from the machine registry key
// "Software\Orva Corporation\Drives\<letter>" by LoadVirtualDriveProfile (value names below).
//
// Commands answered: TEST UNIT READY, REQUEST SENSE, INQUIRY, MODE SENSE(6)/(10) (page 0x2A, 0x3F; block
// descriptor), MODE SELECT(6)/(10) (density code and block length), START STOP UNIT, PREVENT ALLOW MEDIUM
// REMOVAL, READ CAPACITY, READ(10) (in the selected block length), SEEK(6)/(10), READ SUB-CHANNEL formats
// 1..3, READ TOC/PMA/ATIP formats 0..5 (format in byte 2, or in byte 9 bits 6..7 for the older form; format
// 5, CD-Text, from the sheet's TITLE and PERFORMER lines, refused with 5/24/00 without any), SET
// CD SPEED, READ CD, and the vendor CD-DA reads 0xD4 (10 bytes) and 0xD8 (12 bytes). Anything else is
// refused with sense 5/20/00.
#pragma once

#include "Platform/CdDevice.h"
#include "Platform/CueSheet.h"
#include "Platform/ScsiPassThrough.h"
#include "Platform/Types.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

struct VirtualDriveProfile {
    // Registry "Vendor", "Product", "Revision" (strings). Padded with spaces (or cut) to 8, 16 and 4
    // characters as a drive reports them.
    std::string vendor = "QUELLWAV";
    std::string product = "VIRTUAL CD-ROM";
    std::string revision = "1.00";
    DWORD maxSpeed = 24;         // "MaxSpeed": multiples of 176 kB/s
    DWORD bufferKB = 2048;       // "BufferKB": the buffer the capabilities page reports
    DWORD maxTransfer = 1048576; // "MaxTransfer": bytes per command; 0 = no limit
    // Capability bits of page 0x2A byte 5: "CddaCommands" (bit 0), "CddaAccurate" (bit 1), "Isrc" (bit 5),
    // "Upc" (bit 6); DWORD 0 or 1.
    bool cddaCommands = true;
    bool cddaAccurate = true;
    bool isrc = true;
    bool upc = true;
    // Where the drive sits on the pass-through bus: "HostAdapter" and "Target" (DWORD, 0..15). Without
    // them the drive sits at adapter 0, target = letter − 'A'.
    static constexpr DWORD kTargetByLetter = 0xFFFFFFFF;
    DWORD hostAdapter = 0;
    DWORD target = kTargetByLetter;
    // "DriveType" (DWORD): 5, a CD drive (the default), or 2, a drive of removable media that holds the
    // image: its volume can be opened, locked and ejected, but it is no CD drive to read from.
    DWORD driveType = 5;

    // Faults.
    bool refuseReadCd = false;    // "RefuseReadCd": READ CD answers 5/20/00
    bool bigEndianRead10 = false; // "BigEndianRead": READ(10) delivers 16-bit samples big-endian
    DWORD notReadyCommands = 0;   // "NotReadyCommands": the first N commands answer 2/04/01
    DWORD staleCacheSectors = 0;  // "StaleCache": the last N sectors of a read are cached (see below)
    DWORD busyLocks = 0;          // "BusyLocks": the first N volume locks fail as busy (files open on it)
    // "HeldOpen": another program has the drive open (an ordinary open, which does not stop a volume
    // lock). While it does, the tray lock cannot be released and the tray cannot be opened: the kernel
    // refuses both while another handle is open.
    bool heldOpen = false;
    // "Noise": in every sector read from the disc, N of each 1000 samples get a random high byte, drawn
    // anew for every read (a drive that never reads the same audio twice alike). 0..1000.
    DWORD noisePerMille = 0;

    // "Jitter" (string): "LBA:SHIFT[:READS]" entries separated by commas or spaces. A read command whose
    // sectors include LBA returns all its data SHIFT bytes later in the stream (earlier when negative),
    // for the first READS such commands (every one when READS is 0 or absent).
    struct Jitter {
        LONG lba = 0;
        int shiftBytes = 0;
        DWORD reads = 0;
        DWORD used = 0;
    };
    std::vector<Jitter> jitter;

    // "ReadErrors" (string): "LBA:KEY/ASC/ASCQ[:TRIES]" entries, numbers in hex for the sense. A read
    // command whose sectors include LBA delivers the sectors before it and fails with that sense (VALID
    // set, information = LBA), for the first TRIES such commands (every one when TRIES is 0 or absent).
    struct ReadError {
        LONG lba = 0;
        BYTE key = 3, asc = 0x11, ascq = 0;
        DWORD tries = 0;
        DWORD used = 0;
    };
    std::vector<ReadError> readErrors;

    // "SpinUpMs": after the drive is created and after every tray close, for this long every command but
    // INQUIRY and REQUEST SENSE answers 2/04/01 ("becoming ready"), the device controls' drive status is
    // "not ready" and their reads fail with EIO.
    DWORD spinUpMs = 0;
    // "SeekJitter": the first read after a seek (a read that does not start where the last one ended)
    // returns its data shifted by a random even number of bytes, 2 .. this bound, earlier or later;
    // "SeekJitterPercent" of such reads are shifted (default 50). 0: no seek jitter.
    DWORD seekJitterBytes = 0;
    DWORD seekJitterPercent = 50;
    // "ReadOffset" (DWORD, taken as a signed number): the drive's read offset in samples, given as a drive
    // model's offset correction is: every read of audio sectors returns the audio this many samples early
    // (late when negative), so that a rip must leave out that many samples at its start to be exact.
    // Samples before the disc's first one or after its last one read as silence. At most 10 sectors
    // (5880 samples) either way.
    LONG readOffset = 0;
    static constexpr LONG kLargestReadOffset = 5880;

    // "HangReads" (string): "LBA[:TIMES]" entries. A read whose sectors include LBA hangs until its time-out
    // (the command's own through pass-through, "HangMs" through the device controls) and fails with
    // ETIMEDOUT, for the first TIMES such reads (every one when TIMES is 0 or absent).
    struct Hang {
        LONG lba = 0;
        DWORD times = 0;
        DWORD used = 0;
    };
    std::vector<Hang> hangReads;
    DWORD hangMs = 1000;

    // "CommandLog" (string): a file to which every command is appended as one line: "READ LBA COUNT" for
    // audio reads (both interfaces), "SEEK LBA", or "CMD XX" with the operation code in hex.
    std::string commandLog;
};

// Reads the profile of a letter from the machine registry; missing values keep their defaults. Returns
// false with a message naming the value for a value of the wrong type or a list that does not parse.
bool LoadVirtualDriveProfile(char letter, VirtualDriveProfile& profile, std::string& error);

// Parses the list values (exposed for tests and error messages); false with a message on bad syntax.
bool ParseJitterList(std::string_view text, std::vector<VirtualDriveProfile::Jitter>& out,
                     std::string& error);
bool ParseReadErrorList(std::string_view text, std::vector<VirtualDriveProfile::ReadError>& out,
                        std::string& error);
bool ParseHangList(std::string_view text, std::vector<VirtualDriveProfile::Hang>& out, std::string& error);

class VirtualDrive {
public:
    // Opens the image's files. Returns null with a message when a file cannot be opened.
    static std::shared_ptr<VirtualDrive> Create(DiscLayout disc, VirtualDriveProfile profile,
                                                std::string& error);

    // The process-wide drive of a letter mapped to an image, created on first use from the image and the
    // letter's profile; later calls return the same drive (tray state, faults and caches persist) while the
    // mapping and image path stay the same. Null with a message on failure.
    static std::shared_ptr<VirtualDrive> ForLetter(char letter, const std::filesystem::path& cuePath,
                                                   std::string& error);

    ~VirtualDrive();
    VirtualDrive(const VirtualDrive&) = delete;
    VirtualDrive& operator=(const VirtualDrive&) = delete;

    // Answers one command block as an MMC drive. Thread-safe; does not block on anything but the image
    // files. Requests longer than the profile's maxTransfer fail with EINVAL as the kernel would.
    int Execute(const ScsiCommand& cmd, ScsiAnswer& answer);

    // The CD device controls (CdDevice.h), answered from the same state.
    int GetDiskType(DWORD& type);
    int DriveStatus(CdDriveStatus& status);
    int ReadToc(CdToc& toc);
    int GetLastSession(CdSessionInfo& info);
    int ReadAudio(LONG lba, DWORD count, BYTE* buffer);
    int ReadPosition(CdQPosition& position);
    int ReadCatalogue(CdQText& catalogue);
    int ReadIsrc(BYTE track, CdQText& isrc);
    // Locking the volume: EBUSY for the profile's first busyLocks attempts, then 0.
    int Lock();
    int PreventRemoval(bool prevent);
    int Eject();
    int Load();
    bool TrayOpen() const;

    // Test hook: the next `commands` commands (INQUIRY and REQUEST SENSE excepted) answer 2/04/01 and CD
    // device reads fail with EIO, as with the profile's NotReadyCommands, counted from now. Thread-safe.
    void ArmNotReady(DWORD commands);
    // Test hook: another program opens the drive (true) or closes it again, as the profile's HeldOpen.
    void SetHeldOpen(bool held);
    // Test hook: adds a read error, as one entry of the profile's ReadErrors, from now on. Thread-safe.
    void ArmReadError(const VirtualDriveProfile::ReadError& error);

    const DiscLayout& Disc() const noexcept { return disc_; }
    const VirtualDriveProfile& Profile() const noexcept { return profile_; }
    DWORD MaxTransferLength() const noexcept { return profile_.maxTransfer; }

private:
    VirtualDrive(DiscLayout disc, VirtualDriveProfile profile);

    struct Reply;
    // Reads count sectors of 2352 bytes from the image, with the profile's read faults, into out. Returns
    // the number of sectors delivered before a failure; on failure fills sense.
    DWORD ReadRawSectors(LONG lba, DWORD count, std::vector<BYTE>& out, std::array<BYTE, kSenseBytes>& sense,
                         bool& failed);
    bool ReadImage(LONG lba, DWORD count, int shiftBytes, BYTE* out);
    // The noise fault on one sector just read from the image.
    void AddNoise(BYTE* sector);
    const DiscTrack* TrackAt(LONG lba) const;
    // True when sectors lba .. lba + count - 1 all lie on the disc.
    bool OnDisc(LONG lba, DWORD count) const noexcept;
    // OnDisc, else the reply fails with 5/21/00 naming the first sector that is not on the disc.
    bool CheckRange(LONG lba, DWORD count, Reply& reply) const;
    bool MediaCheck(Reply& reply);
    // Counts a command against the profile's not-ready period; true while the drive is becoming ready.
    bool BecomingReady();
    // True while the drive spins up after its creation or a tray close (the profile's spinUpMs).
    bool SpinningUp() const;
    // The seek jitter fault's shift for a read from lba: 0 unless the read follows a seek.
    int SeekShift(LONG lba);
    // True (and counted) when a read of these sectors is to hang.
    bool HangsAt(LONG lba, DWORD count);
    // Appends one line to the profile's command log, when it names one.
    void Log(const char* format, long a = 0, long b = 0);

    // The command handlers, one per command (or pair of six- and ten-byte forms).
    void Dispatch(const ScsiCommand& cmd, Reply& reply);
    // The commands a drive answers with or without a disc, and the refusals that come before the disc is
    // looked at: true when the command was answered.
    bool AnswerWithoutDisc(const ScsiCommand& cmd, Reply& reply);
    // The commands that need a disc in the drive.
    void AnswerFromDisc(const ScsiCommand& cmd, Reply& reply);
    void RequestSense(const ScsiCommand& cmd, Reply& reply);
    void Inquiry(const ScsiCommand& cmd, Reply& reply);
    void ModeSense(const ScsiCommand& cmd, Reply& reply, bool tenByte);
    void ModeSelect(const ScsiCommand& cmd, Reply& reply, bool tenByte);
    void StartStopUnit(const ScsiCommand& cmd, Reply& reply);
    void ReadCapacity(Reply& reply);
    void Seek(const ScsiCommand& cmd, Reply& reply);
    void SetCdSpeed(const ScsiCommand& cmd);
    void ReadToc(const ScsiCommand& cmd, Reply& reply);
    void ReadSubChannel(const ScsiCommand& cmd, Reply& reply);
    void ReadCd(const ScsiCommand& cmd, Reply& reply);
    void ReadTen(const ScsiCommand& cmd, Reply& reply);
    void VendorRead(LONG lba, DWORD count, Reply& reply);
    void ReadAudioSectors(LONG lba, DWORD count, bool swapSamples, bool audioOnly, Reply& reply);

    mutable std::mutex mutex_;
    DiscLayout disc_;
    VirtualDriveProfile profile_;
    std::vector<int> fds_;
    DWORD commandsSeen_ = 0;
    DWORD locksSeen_ = 0;
    bool trayOpen_ = false;
    bool preventRemoval_ = false;
    BYTE density_ = 0;
    DWORD blockLength_ = 2048;
    DWORD currentSpeedKBs_ = 0;
    LONG position_ = 0;
    std::array<BYTE, kSenseBytes> lastSense_{};
    std::map<LONG, std::vector<BYTE>> cache_;
    std::uint32_t noiseState_ = 0x2545F491u;          // the noise fault's generator (xorshift)
    std::uint32_t seekState_ = 0x9E3779B9u;           // the seek jitter fault's generator (xorshift)
    std::chrono::steady_clock::time_point readyAt_{}; // spinning up until then
    bool afterSeek_ = true;                           // the next read follows a seek
};

// CdDevice and ScsiPassThrough views of a virtual drive (VirtualCdDevice.cpp, VirtualScsiPassThrough.cpp).
// The views share the drive; the address is what Address() reports.
std::unique_ptr<CdDevice> MakeVirtualCdDevice(std::shared_ptr<VirtualDrive> drive);
std::unique_ptr<ScsiPassThrough> MakeVirtualScsiPassThrough(std::shared_ptr<VirtualDrive> drive,
                                                            ScsiAddress address);

} // namespace platform

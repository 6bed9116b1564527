// The per-drive reading engine behind the controller: opens one drive through a transport, reads its
// table of contents and capabilities, sets up a read range over consecutive audio tracks, and runs a
// reader thread that fills a ring of transfer-sized slots with overlap-corrected 2352-byte sectors, which
// Deliver hands out as 16-bit PCM (byte-swapped for drives that deliver big-endian samples, de-emphasised
// for tracks flagged with pre-emphasis).
//
// Threads: Open, SetupRange, Release, SetSpeed and destruction are called from one controlling thread;
// Deliver from one consuming thread (which may be another); the reader thread is the reader's own. The
// status and the counters may be read from any thread.
#pragma once

#include "reader/ReadPlanning.h"
#include "reader/cddaCRingBuffer.h"
#include "store/DriveSettings.h"
#include "transport/CdText.h"
#include "transport/cddaCDevice.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace discpilot {

// The reader's last outcome.
enum ReaderStatus : int {
    kStatusOk = 0,
    kStatusNoDrive = 1,      // drive not identified or transport not opened
    kStatusBridge = 2,       // the old system's bridge is not started
    kStatusNoToc = 3,        // TOC or session info unreadable
    kStatusReadFailed = 4,   // read failed after retries and speed fall-back
    kStatusOutOfBounds = 8,  // track index or range out of bounds
    kStatusDataTrack = 9,    // data track in range, or no audio track for the check
    kStatusNoCondition = 11, // no stored read condition (or buffer size) for this drive model
    kStatusCheckErrors = 12, // check: comparison errors above 3 %
    kStatusNotReady = 13,    // not ready or no medium
    kStatusPlaying = 14,     // audio play in progress
    kStatusNoMatch = 15,     // no overlap match after 20 attempts
    kStatusUnaligned = 16,   // check: the two passes could not be aligned
    kStatusIsrcUnread = 17,  // check: ISRC unreadable
    kStatusIsrcInvalid = 18, // check: ISRC not valid
    kStatusNotStored = 19,   // check: the result could not be written to the settings
    kStatusNoMemory = 20,    // memory exhausted
    kStatusProbeFailed = 21, // check: buffer probe failed
    kStatusTempFile = 22,    // check: temporary file write or read failed
    kStatusBadOffset = 23,   // start offset outside the range
    kStatusTimedOut = 24,    // the drive stopped answering: a command timed out twice
};

// A run of sectors that could not be read and were delivered as silence.
struct UnreadableRange {
    DWORD lba = 0;
    DWORD count = 0;
};

struct TrackEntry {
    DWORD start = 0;  // LBA
    DWORD length = 0; // sectors
    WORD number = 0;
    WORD adrControl = 0; // bit 2: data track; bit 0: pre-emphasis

    bool IsData() const noexcept { return (adrControl & 0x04) != 0; }
    bool PreEmphasis() const noexcept { return (adrControl & 0x01) != 0; }
};

class cddaCDriveCheck;

class cddaCReader : public cddaCDevice {
public:
    // kind: the pass-through kind (the controller passes 1). Reads "Cdrom_Mode".
    explicit cddaCReader(int kind);
    // Releases the reading state, sets the drive back to its maximum speed, restores the density the
    // reader changed, and closes the transport.
    ~cddaCReader() override;

    // Identifies and opens the drive, reads the TOC, the capabilities, the disc's CD-Text (where the
    // transport can ask for it; a drive that refuses it leaves the text empty) and the stored read condition.
    // 1 on success (status 0, or 11 when nothing is stored for this drive model); 0 with status 1 or 3.
    // forceOverlap clears the accurate flag (every read overlap-corrected). Blocks on the drive.
    int Open(char letter, bool forceOverlap);

    // The entry of a track by index (0 .. count − 1); false with status 8 otherwise.
    bool GetTrackEntry(int index, TrackEntry& entry);
    // The whole track table (empty before a successful open).
    const std::vector<TrackEntry>& Tracks() const noexcept { return tracks_; }

    // Sets up a read range from track `first` to track `last` (numbers), beginning `offset` sectors into
    // the first, and starts the reader thread. 1, or 0 with status 8 (bounds), 9 (data track in range), 23
    // (offset outside the range) or 20 (no memory). Stops any running range first (blocking until its
    // thread ended).
    int SetupRange(int first, int last, long offset);
    // Sets up a read range of `length` sectors from disc sector `start` and starts the reader thread, as
    // SetupRange does. The sectors may cross track boundaries and lie before the first track (its
    // pregap); all must be audio. They are delivered as recorded: no de-emphasis (a rip keeps the
    // samples and flags the track). 1, or 0 with status 8 (outside the disc's audio), 9 (a data sector
    // in range) or 20.
    int SetupSectorRange(DWORD start, DWORD length);

    // Copies up to `bytes` bytes of the range's PCM into buffer, blocking until that much was read, the
    // range ended or failed, or it was released. Returns the bytes copied (0 with no range set up). One
    // consuming thread at a time.
    std::size_t Deliver(BYTE* buffer, std::size_t bytes);

    // Stops the reader thread (blocking until it ended) and frees the ring and the reference block.
    void Release();

    // Caps the multiple at the maximum speed (non-positive: the maximum), sends SET CD SPEED (0xFFFF for
    // the maximum) and returns the speed in force, or −1 when the drive refused it.
    int SetReadSpeed(int multiple);

    // Where each track's index 0 (its pregap) begins, from the Q sub-channel, in track order: the track's
    // own start where it has none or the drive does not tell. For the first track, the sectors from the
    // disc's start count. Stops any running range first; blocks on the drive (a few dozen commands per
    // track with a pregap). From the controlling thread.
    std::vector<DWORD> FindPregapStarts();

    // The disc's CD-Text as read at the open (empty without one). Not changed until the next open.
    const CdText& DiscText() const noexcept { return cdText_; }

    // The ISRC of a track (index); false when it cannot be read. valid reports the drive's valid bit.
    bool GetIsrc(int index, bool& valid, std::string& isrc);

    int Status() const noexcept { return status_.load(); }
    void SetStatus(int status) noexcept { status_.store(status); }
    int TrackCount() const noexcept { return trackCount_; }
    DWORD LastReadableLba() const noexcept { return lastReadableLba_; }
    int FirstTrack() const noexcept { return firstTrack_; }
    int LastTrack() const noexcept { return lastTrack_; }
    int FirstSession() const noexcept { return firstSession_; }
    int LastSession() const noexcept { return lastSession_; }
    bool FullToc() const noexcept { return fullToc_; }
    int TransferSizeBytes() const noexcept { return transferSize_; }
    int SlotCountInRing() const noexcept { return slotCount_; }
    int JitterCount() const noexcept { return jitterCount_.load(); }
    int FetchCount() const noexcept { return fetchCount_.load(); }
    int RetryCount() const noexcept { return retryCount_.load(); }
    // Sectors of the current range that could not be read and were delivered as silence, and the runs
    // they form (at most `capacity` of them are kept; the count goes on).
    int UnreadableCount() const noexcept { return unreadableCount_.load(); }
    // The sector at which the current range's reading ended early (valid when the status says so).
    DWORD EndedAt() const noexcept { return endedAt_.load(); }
    std::size_t UnreadableRanges(UnreadableRange* out, std::size_t capacity) const;
    // Sectors of the current range delivered although no reads settled where they belong: reads of them
    // never agreed, or reads of their neighbourhood disagreed on where they lie and nothing decided it.
    // Their data may be misplaced. Any thread.
    int UnsettledCount() const noexcept { return unsettledCount_.load(); }
    std::size_t UnsettledRanges(UnreadableRange* out, std::size_t capacity) const;
    // Secure reading: every range is read with overlap correction, a verified start and cache defeat,
    // whatever the stored condition says (a rip). Takes effect at the next range set-up.
    void SetSecure(bool secure) noexcept { secure_ = secure; }
    bool Secure() const noexcept { return secure_; }
    // The current range is read without overlap correction.
    bool Plain() const noexcept { return plain_.load(); }
    // Slot boundaries where the last delivered sector was found away from where it was expected.
    int RealignCount() const noexcept { return realignCount_.load(); }
    bool NoJitter() const noexcept { return noJitter_.load(); }
    DWORD ReadModeInUse() const noexcept { return readMode_.load(); }
    int MaxSpeed() const noexcept { return maxSpeed_; }
    int SpeedInForce() const noexcept { return speedInForce_; }
    DWORD DriveBufferKB() const noexcept { return driveBufferKB_; }
    bool CddaAccurate() const noexcept { return cddaAccurate_; }
    bool CddaCommands() const noexcept { return cddaCommands_; }
    bool IsrcCapable() const noexcept { return isrcCapable_; }
    bool UpcCapable() const noexcept { return upcCapable_; }
    // The drive check's record and buffer size were found for this drive model at the open.
    bool ConditionStored() const noexcept { return conditionStored_; }
    ReadCondition& Condition() noexcept { return condition_; }
    const ReadCondition& Condition() const noexcept { return condition_; }
    // While the drive check runs, a range reads only its last `limit` sectors (0: the whole range).
    void SetCheckRangeLimit(WORD limit) noexcept { checkRangeLimit_ = limit; }
    std::atomic<int>& Running() noexcept { return running_; }
    // The drive check's progress record: progress runs from 0 to the step count.
    std::atomic<double>& Progress() noexcept { return progress_; }
    std::atomic<int>& StepCount() noexcept { return stepCount_; }
    // The drive check's stage: 0 preparing, 1 ISRC test, 2 buffer probe, 3 read test.
    std::atomic<int>& Stage() noexcept { return stage_; }

protected:
    // The two halves of Open after the transport opened (a harness that answers for the drive calls them
    // directly): the track table and last readable sector, 0 or −1; the capabilities page.
    int ReadTableOfContents();
    void ReadCapabilities();
    // The CD-Text of the disc: the reply's header first, for its length, then the whole reply. Leaves the
    // text empty when the transport cannot send the command, the drive refuses it or the packs are bad.
    void ReadDiscText();

private:
    // The drive check runs on the reader's own state: its condition, read mode and range.
    friend class cddaCDriveCheck;

    // The track and index the Q sub-channel gives at a sector; false when the drive names another sector
    // or does not answer.
    bool QPositionAt(DWORD lba, int& track, int& index);
    // The rest of a range's set-up once its sectors are chosen: buffers, counters, speed, thread.
    int BeginRange();
    void ReaderThread();
    // Fills one slot with up to `wanted` bytes; the bytes produced, 0 at the end, −1 on failure.
    long FetchSlot(std::size_t wanted);
    // What one read has been through so far: the retry budget of a fetch.
    struct Attempt {
        int failures = 0;
        int seekErrors = 0;
        int timeouts = 0;
        bool waited = false; // waited once for a drive becoming ready
    };
    // One read at lba for count sectors with the fall-backs of a fetch; 0, −1 with the status set when
    // the range must end, or −2 when the sectors could not be read after the retries and the speed
    // fall-back (status untouched: the caller decides). defeatCache first reads one sector elsewhere,
    // so that the drive cannot answer from its cache.
    int ReadWithRecovery(DWORD lba, DWORD count, BYTE* buffer, Attempt& attempt, bool defeatCache);
    // Reads count sectors one by one after a read of them failed: a sector that stays unreadable becomes
    // silence and is counted. 0, or −1 with the status set (the range ends: a fatal failure, or a burst
    // of unreadable sectors longer than the reader bridges).
    // good: on failure, the sectors before the run of unreadable ones that ended the range.
    int ReadSectorBySector(DWORD lba, DWORD count, BYTE* buffer, DWORD& good);
    void NoteUnreadable(DWORD lba);
    void NoteUnsettled(DWORD lba, DWORD count);
    // Confirms a read (in buffer) by reading the same sectors again from the disc, not the drive's cache,
    // until a read agrees with the first one or with the read before it; buffer then holds the agreed
    // data. 1 when two reads agreed, 0 when none did (buffer holds the first read), −1 with the status set.
    int ConfirmRead(DWORD lba, DWORD count, BYTE* buffer);
    // Settles where a confirmed read (buffer, count sectors from lba) lies on the disc. A drive that lands
    // off at one place does so for every read that covers it, so reads of the same extent always agree;
    // reads of parts of it that leave that place out do not. The extent is read again in three pieces,
    // each confirmed, and each is looked for in buffer: where most pieces are found away from their own
    // place, buffer is moved there. head and tail: bytes at either end of buffer that the move left
    // without data (zero). 1 settled, 0 when the pieces do not decide it, −1 with the status set.
    int SettleByPieces(DWORD lba, DWORD count, BYTE* buffer, std::size_t& head, std::size_t& tail);
    // After a read made sector by sector: each run of readable sectors is read again as one read and
    // settled by pieces, so that a sector read alone that landed off is not delivered as read; what
    // cannot be settled is counted. count sectors from lba in buffer; bad marks the unreadable ones.
    // 0, or −1 with the status set.
    int SettleRuns(DWORD lba, DWORD count, BYTE* buffer);
    // A failed read before anything of the range was read: whether the drive reads at all. Reads one
    // sector at a few places away from [lba, lba + count) four times a second, for as long as a drive
    // takes to spin up, until one reads; false when none did (or the range was released). Made once a
    // range, and not again after a wait in which nothing read until a read succeeds.
    bool WaitUntilReads(const cddaCRingBuffer* ring, DWORD lba, DWORD count);
    // Audio sectors right before the range start, up to the lead a secure range's first read begins with.
    DWORD LeadSectors() const;
    bool SwitchReadMode();
    // Polls TEST UNIT READY a few times a second while the drive reports that it is becoming ready, for
    // up to 30 s or until the range is released; returns the last answer.
    int WaitUntilReady(const cddaCRingBuffer* ring);
    void ApplyRawSessionLimit();

    std::thread thread_;
    std::mutex lock_; // serialises releasing the reading state

    int trackCount_ = 0;
    DWORD lastReadableLba_ = 0;
    std::vector<TrackEntry> tracks_;
    std::atomic<int> status_{0};
    // What one read range shares between the reader thread and the consumer: the ring, and the state of
    // delivery (which stays with the consumer). Held by shared pointer so that a consumer still inside
    // Deliver keeps it alive while a new range replaces it.
    struct Range {
        Range(std::size_t slotSize, int slotCount) : ring(slotSize, slotCount) {}
        cddaCRingBuffer ring;
        DeemphasisState deemphasis;
        std::size_t delivered = 0; // bytes since the range began: which channel a block starts on
    };
    std::shared_ptr<Range> CurrentRange();

    std::mutex rangeMutex_; // guards range_ (the pointer only)
    std::shared_ptr<Range> range_;
    int currentTrack_ = 0;
    DWORD rangeStart_ = 0;
    DWORD nextLba_ = 0;
    DWORD rangeLength_ = 0;
    std::unique_ptr<BYTE[]> reference_;
    std::unique_ptr<BYTE[]> cacheDefeat_; // one sector for the read that flushes the drive's cache
    std::unique_ptr<BYTE[]> verify_;      // one slot for the reads that confirm a read
    std::unique_ptr<BYTE[]> previous_;    // one slot: the confirming read before the last one
    std::unique_ptr<BYTE[]> piece_;       // one slot: a piece of a read being settled
    std::unique_ptr<BYTE[]> run_;         // one slot: a run of readable sectors read again as one
    std::vector<BYTE> sectorBad_;         // per sector of a slot read sector by sector: unreadable
    bool readInRange_ = false;            // a read of the current range succeeded
    bool waitedForReads_ = false;         // the current range waited once for the drive to read
    bool readless_ = false;               // that wait ended with nothing read; until a read succeeds
    bool secure_ = false;
    bool asRecorded_ = false;        // the range is delivered without de-emphasis
    bool conditionStored_ = false;   // found for this drive model at the open
    std::atomic<bool> plain_{false}; // this range is read without overlap correction (an accurate drive)
    DWORD badRun_ = 0;               // unreadable sectors in a row
    bool ending_ = false;            // the range ends at the next fetch (a run of unreadable sectors began)
    std::atomic<int> unreadableCount_{0};
    std::atomic<DWORD> endedAt_{0};
    mutable std::mutex unreadableMutex_; // guards unreadable_
    std::vector<UnreadableRange> unreadable_;
    std::atomic<int> unsettledCount_{0};
    std::vector<UnreadableRange> unsettled_; // guarded by unreadableMutex_
    std::size_t referenceLength_ = 0;
    bool lastChunk_ = false;
    CdText cdText_;
    bool fullToc_ = false;
    bool olderTocForm_ = false;
    int firstSession_ = 0, lastSession_ = 0;
    int firstTrack_ = 0, lastTrack_ = 0;
    int transferSize_ = 0;
    int slotCount_ = 0;
    ReadCondition condition_;
    std::atomic<int> jitterCount_{0};
    std::atomic<int> fetchCount_{0};
    std::atomic<int> retryCount_{0};
    std::atomic<bool> noJitter_{true};
    bool firstFetch_ = true;
    DWORD driveBufferKB_ = 0;
    int maxSpeed_ = 1;
    int currentSpeed_ = 1;
    int speedInForce_ = -1;
    bool cddaAccurate_ = false, isrcCapable_ = false, cddaCommands_ = false, upcCapable_ = false;
    std::atomic<int> running_{0};
    WORD checkRangeLimit_ = 0;
    std::atomic<double> progress_{0.0};
    std::atomic<int> stepCount_{0};
    std::atomic<int> stage_{0};
    std::atomic<DWORD> readMode_{kReadModeReadCd10};
    bool densityChanged_ = false;
    BYTE savedDensity_ = 0;
    WORD savedBlockLength_ = 2048;
    std::atomic<int> realignCount_{0};
};

} // namespace discpilot

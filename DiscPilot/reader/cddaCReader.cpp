#include "reader/cddaCReader.h"

#include "drives/VendorTable.h"

#include "Platform/ByteOrder.h"
#include "Platform/CdAddress.h"
#include "Platform/CdDevice.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

namespace discpilot {

namespace {

// Sectors between a read and the one that flushes the drive's cache before it.
constexpr DWORD kCacheDefeatDistance = 1000;

// How long the reader waits for a drive that is still becoming ready (spinning up after a disc was
// inserted): four polls a second for 30 s.
constexpr int kReadyPolls = 120;
constexpr auto kReadyPollInterval = std::chrono::milliseconds(250);

// Reads of a range's start that may be made before two in a row agree.
constexpr int kVerifyReads = 8;

// The longest run of unreadable sectors that is bridged with silence: three seconds of audio. A longer
// one ends the range (the disc, or the drive, has given up there).
constexpr DWORD kLongestUnreadableRun = 3 * 75;

// Runs of unreadable sectors kept for the caller's report per range (the count goes on beyond).
constexpr std::size_t kUnreadableRangesKept = 256;

// Whether two reads of the same sectors carry the same audio: the low bytes equal but for a few, and the
// high bytes too, allowing for a drive whose reads differ in a few high bytes. A read that landed off by
// even one sample differs in nearly every byte.
// Compared sector by sector, so that a few sectors answered from a stale cache cannot hide in a long read.
bool ReadsAgree(const BYTE* a, const BYTE* b, std::size_t size) noexcept {
    for (std::size_t at = 0; at < size; at += kSectorBytes) {
        const std::size_t n = std::min<std::size_t>(kSectorBytes, size - at);
        const ByteDifferences d = CountDifferences(a + at, b + at, n);
        const std::size_t samples = n / 2;
        if (d.lowDiffer * 100 >= samples || d.highDiffer * 10 >= samples) {
            return false;
        }
    }
    return true;
}

DWORD MsfFrames(const BYTE* msf) noexcept {
    return static_cast<DWORD>(platform::MsfToFrames(msf[0], msf[1], msf[2]));
}

bool IsNotReady(int result) noexcept {
    return result >= kTransportNotReady && result <= kTransportMediumError;
}

} // namespace

cddaCReader::cddaCReader(int kind) : cddaCDevice(kind) {}

cddaCReader::~cddaCReader() {
    Release();
    tracks_.clear();
    if (ActiveTransport() != kActiveNone) {
        cddaCDevice::SetSpeed(0); // back to the drive's maximum
        if (densityChanged_) {
            ModeSelect(savedDensity_, savedBlockLength_, false);
        }
    }
    CloseTransport();
}

int cddaCReader::WaitUntilReady(const cddaCRingBuffer* ring) {
    // A drive spinning up answers "becoming ready" to everything; reading then would fail and the disc
    // would look unreadable. Give it the time a drive takes to spin up.
    int result = TestUnitReady();
    for (int poll = 0; poll < kReadyPolls && result == kTransportNotReady; ++poll) {
        if (ring != nullptr && ring->Stopped()) {
            break;
        }
        std::this_thread::sleep_for(kReadyPollInterval);
        result = TestUnitReady();
    }
    return result;
}

std::size_t cddaCReader::UnreadableRanges(UnreadableRange* out, std::size_t capacity) const {
    const std::lock_guard lock(unreadableMutex_);
    const std::size_t n = std::min(capacity, unreadable_.size());
    std::copy_n(unreadable_.begin(), n, out);
    return n;
}

void cddaCReader::NoteUnreadable(DWORD lba) {
    ++unreadableCount_;
    const std::lock_guard lock(unreadableMutex_);
    if (!unreadable_.empty() && unreadable_.back().lba + unreadable_.back().count == lba) {
        ++unreadable_.back().count;
    } else if (unreadable_.size() < unreadable_.capacity()) {
        unreadable_.push_back({lba, 1}); // within the room reserved at set-up: no allocation here
    }
}

int cddaCReader::Open(char letter, bool forceOverlap) {
    status_ = kStatusOk;
    if (OpenTransport(letter) != kTransportOk) {
        status_ = kStatusNoDrive;
        return 0;
    }
    Release();
    tracks_.clear();
    trackCount_ = 0;
    densityChanged_ = false;
    WaitUntilReady(nullptr);
    if (ReadTableOfContents() != 0) {
        status_ = kStatusNoToc;
        return 0;
    }
    ReadCapabilities();

    condition_ = ReadCondition{};
    condition_.valid = 1;
    // Until the drive check has measured the drive, it is read plainly (accurate), unless it says itself
    // that its stream is not accurate: then overlap correction keeps its jitter from becoming clicks. The
    // device controls cannot tell either way, so there the plain default holds.
    condition_.accurate = (ActiveTransport() == kActiveRaw || cddaAccurate_) ? 1 : 0;
    condition_.cddaCommands = 1;
    condition_.speed = static_cast<WORD>(maxSpeed_);
    condition_.overlap = 5;
    condition_.isrc = isrcCapable_ ? 1 : 0;
    const int found = LookUp(Identity(), false, condition_);
    ReadCondition size;
    const int sizeFound = LookUp(Identity(), true, size);
    if (sizeFound != 0) {
        condition_.bufferSize = size.bufferSize;
    }
    if (found == 0 || sizeFound == 0) {
        status_ = kStatusNoCondition;
    }
    if (forceOverlap) {
        condition_.accurate = 0;
    }
    return 1;
}

int cddaCReader::ReadTableOfContents() {
    std::array<BYTE, kTocReplyBytes> reply{};
    olderTocForm_ = false;
    fullToc_ = false;
    FullTocAnswer full;
    if (ReadToc(2, 1, false, reply) == kTransportOk) {
        full = ParseFullToc(reply.data(), reply.size());
        fullToc_ = full.complete;
    } else {
        // Drives of the SCSI-2 era take the format in byte 9; the answer to this probe is not used.
        reply.fill(0);
        ReadToc(2, 1, true, reply);
        olderTocForm_ = true;
    }

    reply.fill(0);
    if (ReadToc(1, 0, olderTocForm_, reply) != kTransportOk) {
        return -1;
    }
    const TocAnswer session = ParseToc(reply.data());
    firstSession_ = fullToc_ ? full.firstSession : session.first;
    lastSession_ = fullToc_ ? full.lastSession : session.last;

    reply.fill(0);
    if (ReadToc(0, 0, olderTocForm_, reply) != kTransportOk) {
        return -1;
    }
    const TocAnswer first = ParseToc(reply.data());
    firstTrack_ = fullToc_ ? full.firstTrack : first.first;
    lastTrack_ = fullToc_ ? full.lastTrack : first.last;
    trackCount_ = lastTrack_;
    if (trackCount_ <= 0) {
        return -1;
    }
    tracks_.assign(static_cast<std::size_t>(trackCount_), TrackEntry{});
    tracks_[0].number = reply[6];
    tracks_[0].start = first.lba;
    tracks_[0].adrControl = first.adrControl;

    for (int i = 1; i <= trackCount_; ++i) {
        const DWORD track =
            i == trackCount_ ? DWORD{platform::kCdLeadOutTrack} : static_cast<DWORD>(firstTrack_ + i);
        reply.fill(0);
        if (ReadToc(0, static_cast<int>(track), olderTocForm_, reply) != kTransportOk) {
            return -1;
        }
        const TocAnswer entry = ParseToc(reply.data());
        if (i < trackCount_) {
            tracks_[i].number = reply[6];
            tracks_[i].start = entry.lba;
            tracks_[i].adrControl = entry.adrControl;
            tracks_[i - 1].length = entry.lba - tracks_[i - 1].start;
            continue;
        }
        if (fullToc_) {
            // The lead-out of session 1 from the full TOC, relative to track 1 as the drive numbers it.
            lastReadableLba_ = MsfFrames(full.leadOut) - MsfFrames(full.track1) + tracks_[0].start - 1;
        } else {
            lastReadableLba_ = entry.lba - 1;
        }
        tracks_[i - 1].length = lastReadableLba_ - tracks_[i - 1].start + 1;
    }
    if (ActiveTransport() == kActiveRaw) {
        ApplyRawSessionLimit();
    }
    return 0;
}

void cddaCReader::ApplyRawSessionLimit() {
    // The device controls give the whole disc; on a multi-session disc whose audio is followed by data,
    // reading ends with the audio session.
    cddaCRawDevice* raw = Raw();
    const bool anyAudio =
        std::any_of(tracks_.begin(), tracks_.end(), [](const TrackEntry& t) { return !t.IsData(); });
    if (!anyAudio) {
        std::fputs("Not Auido Track\n", stdout);
        std::fflush(stdout);
        return;
    }
    if (raw == nullptr || lastSession_ <= 1) {
        return;
    }
    const LONG last = raw->LastReadableLba();
    if (last < 0 || static_cast<DWORD>(last) >= lastReadableLba_) {
        return;
    }
    int lastAudio = trackCount_ - 1;
    while (lastAudio > 0 && tracks_[lastAudio].IsData()) {
        --lastAudio;
    }
    trackCount_ = lastAudio + 1;
    lastTrack_ = tracks_[lastAudio].number;
    tracks_.resize(static_cast<std::size_t>(trackCount_));
    lastReadableLba_ = static_cast<DWORD>(last);
    TrackEntry& tail = tracks_.back();
    tail.length = lastReadableLba_ >= tail.start ? lastReadableLba_ - tail.start + 1 : 0;
}

void cddaCReader::ReadCapabilities() {
    std::array<BYTE, kModeBufferBytes> reply{};
    bool tenByte = true;
    int result = ModeSense(0x2A, true, reply);
    if (result != kTransportOk) {
        reply.fill(0);
        tenByte = false;
        result = ModeSense(0x2A, false, reply);
    }
    const std::size_t at = result == kTransportOk ? ModePageOffset(reply.data(), tenByte) : 0;
    if (result != kTransportOk || at + 16 > reply.size()) {
        driveBufferKB_ = 0;
        maxSpeed_ = 1;
        currentSpeed_ = 1;
        cddaAccurate_ = true;
        isrcCapable_ = true;
        cddaCommands_ = false;
        upcCapable_ = false;
        readMode_ = kReadModeReadCd4F8;
        return;
    }
    const BYTE* page = reply.data() + at;
    // A drive reporting less than 1× still reads at some speed; below 1 the speed fall-back has no room.
    maxSpeed_ = std::max(1, static_cast<int>(platform::ReadBe16(page + 8)) / 176);
    currentSpeed_ = std::max(1, static_cast<int>(platform::ReadBe16(page + 14)) / 176);
    isrcCapable_ = (page[5] & 0x20) != 0;
    cddaCommands_ = (page[5] & 0x01) != 0;
    cddaAccurate_ = (page[5] & 0x02) != 0;
    upcCapable_ = (page[5] & 0x40) != 0;
    driveBufferKB_ = platform::ReadBe16(page + 12);
    readMode_ = kReadModeReadCd10;
}

bool cddaCReader::GetTrackEntry(int index, TrackEntry& entry) {
    if (index < 0 || index >= static_cast<int>(tracks_.size())) {
        status_ = kStatusOutOfBounds;
        return false;
    }
    entry = tracks_[static_cast<std::size_t>(index)];
    return true;
}

bool cddaCReader::GetIsrc(int index, bool& valid, std::string& isrc) {
    valid = false;
    isrc.clear();
    TrackEntry entry;
    if (!GetTrackEntry(index, entry)) {
        return false;
    }
    std::array<BYTE, kSubChannelReplyBytes> reply{};
    if (ReadSubChannel(3, entry.number, reply) != kTransportOk) {
        return false;
    }
    valid = (reply[8] & 0x80) != 0;
    isrc.assign(reinterpret_cast<const char*>(reply.data() + 9), 12);
    return true;
}

int cddaCReader::SetReadSpeed(int multiple) {
    if (multiple <= 0 || multiple > maxSpeed_) {
        multiple = maxSpeed_;
    }
    // The maximum is asked for as "as fast as you can" (0xFFFF), which every drive takes.
    const int result = cddaCDevice::SetSpeed(multiple == maxSpeed_ ? 0 : multiple);
    return result == kTransportOk ? multiple : -1;
}

std::shared_ptr<cddaCReader::Range> cddaCReader::CurrentRange() {
    const std::lock_guard lock(rangeMutex_);
    return range_;
}

void cddaCReader::Release() {
    const std::lock_guard lock(lock_);
    std::shared_ptr<Range> range;
    {
        const std::lock_guard pointer(rangeMutex_);
        range = std::move(range_);
        range_.reset();
    }
    if (range) {
        range->ring.Stop();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    reference_.reset();
}

int cddaCReader::SetupRange(int first, int last, long offset) {
    Release();
    status_ = kStatusOk;
    if (first < firstTrack_ || last > lastTrack_ || last < first || first < 1 ||
        last > static_cast<int>(tracks_.size())) {
        status_ = kStatusOutOfBounds;
        return 0;
    }
    long long sum = 0;
    for (int t = first; t <= last; ++t) {
        const TrackEntry& entry = tracks_[static_cast<std::size_t>(t - 1)];
        if (entry.IsData()) {
            status_ = kStatusDataTrack;
            return 0;
        }
        sum += entry.length;
    }
    if (offset < 0 || offset >= sum) {
        status_ = kStatusBadOffset;
        return 0;
    }
    rangeStart_ = tracks_[static_cast<std::size_t>(first - 1)].start + static_cast<DWORD>(offset);
    rangeLength_ = static_cast<DWORD>(sum - offset);
    currentTrack_ = first;
    if (running_.load() != 0 && checkRangeLimit_ != 0 && rangeLength_ >= checkRangeLimit_) {
        rangeStart_ += rangeLength_ - checkRangeLimit_;
        rangeLength_ = checkRangeLimit_;
    }

    transferSize_ = TransferSize(condition_.bufferSize, MaxTransferLength(), driveBufferKB_);
    // A stored size below one sector (a damaged record) could never carry a read.
    transferSize_ = std::max(transferSize_, static_cast<int>(kSectorBytes));
    slotCount_ = SlotCount(transferSize_);
    std::shared_ptr<Range> range;
    try {
        range = std::make_shared<Range>(static_cast<std::size_t>(transferSize_), slotCount_);
        reference_ = std::make_unique<BYTE[]>(kSectorBytes);
        cacheDefeat_ = std::make_unique<BYTE[]>(kSectorBytes);
        verify_ = std::make_unique<BYTE[]>(static_cast<std::size_t>(transferSize_));
        const std::lock_guard lock(unreadableMutex_);
        unreadable_.clear();
        unreadable_.reserve(kUnreadableRangesKept);
    } catch (const std::bad_alloc&) {
        status_ = kStatusNoMemory;
        reference_.reset();
        verify_.reset();
        return 0;
    }
    plain_ = condition_.accurate != 0 && !secure_;
    ending_ = false;
    unreadableCount_ = 0;
    badRun_ = 0;

    speedInForce_ = SetReadSpeed(condition_.speed);
    currentSpeed_ = speedInForce_;
    referenceLength_ = kSectorBytes;
    noJitter_ = true;
    lastChunk_ = false;
    firstFetch_ = true;
    jitterCount_ = 0;
    fetchCount_ = 0;
    retryCount_ = 0;
    realignCount_ = 0;
    {
        const std::lock_guard pointer(rangeMutex_);
        range_ = range;
    }
    try {
        thread_ = std::thread([this] { ReaderThread(); });
    } catch (const std::system_error&) {
        status_ = kStatusNoMemory;
        Release();
        return 0;
    }
    return 1;
}

void cddaCReader::ReaderThread() {
    const std::shared_ptr<Range> range = CurrentRange();
    if (!range) {
        return;
    }
    nextLba_ = rangeStart_;
    // A drive spinning up after a disc went in fails every read until it turns: wait for it first.
    if (const int ready = WaitUntilReady(&range->ring); IsNotReady(ready)) {
        status_ = kStatusNotReady;
        range->ring.End();
        return;
    }
    std::size_t remaining = std::size_t{rangeLength_} * kSectorBytes;
    while (remaining > 0) {
        const long produced = FetchSlot(remaining);
        if (produced <= 0) {
            endedAt_ = nextLba_;
            break;
        }
        remaining -= std::min(remaining, static_cast<std::size_t>(produced));
    }
    range->ring.End();
}

int cddaCReader::ReadWithRecovery(DWORD lba, DWORD count, BYTE* buffer, Attempt& attempt, bool defeatCache) {
    const std::shared_ptr<Range> range = CurrentRange();
    for (;;) {
        if (!range || range->ring.Stopped()) {
            return -1; // released: nobody waits for this read any more
        }
        if (defeatCache) {
            // The overlap must come from the disc, not from the drive's cache of the previous read: a
            // cached answer repeats that read's jitter, and the data after it would not join up. One
            // sector read far away makes the drive drop what it kept.
            // A read that fails may leave the cache as it was: then another sector far away is read.
            const DWORD far = lba > rangeStart_ + 2 * kCacheDefeatDistance ? rangeStart_ : lastReadableLba_;
            const DWORD elsewhere = far > kCacheDefeatDistance / 4 ? far - kCacheDefeatDistance / 4 : far + 1;
            for (const DWORD at : {far, elsewhere, lastReadableLba_ / 2}) {
                if (ReadAudio(readMode_, at, 1, cacheDefeat_.get()) == kTransportOk) {
                    break;
                }
            }
        }
        const int result = ReadAudio(readMode_, lba, count, buffer);
        if (result == kTransportOk) {
            return 0;
        }
        if (result == kTransportNotReady && !attempt.waited) {
            // Becoming ready again (a disc just went in): wait, then read again.
            attempt.waited = true;
            if (WaitUntilReady(&range->ring) == kTransportOk) {
                continue;
            }
        }
        if (IsNotReady(result)) {
            status_ = kStatusNotReady;
            return -1;
        }
        if (result == kTransportPlayInProgress) {
            status_ = kStatusPlaying;
            return -1;
        }
        if (result == kTransportTimedOut) {
            // A drive that stopped answering is asked once more; a second time-out ends the range, so
            // that no caller waits much longer than twice the time-out.
            if (++attempt.timeouts >= 2) {
                status_ = kStatusTimedOut;
                return -1;
            }
            ++retryCount_;
            continue;
        }
        if (result == kTransportSeekError) {
            if (++attempt.seekErrors >= 3) {
                return -2;
            }
            int seek = Seek10(lba);
            if (seek == kTransportInvalidCommand) {
                seek = Seek6(lba);
            }
            if (IsNotReady(seek)) {
                status_ = kStatusNotReady;
                return -1;
            }
            if (seek == kTransportTimedOut) {
                status_ = kStatusTimedOut;
                return -1;
            }
            if (seek != kTransportOk) {
                return -1;
            }
            ++retryCount_;
            continue;
        }
        if (result == kTransportInvalidCommand) {
            if (!IsReadCdMode(readMode_) || !SwitchReadMode()) {
                return -1;
            }
            continue;
        }
        if (!attempt.waited && TestUnitReady() == kTransportNotReady) {
            // The device controls report a drive that is spinning up only as a failed read.
            attempt.waited = true;
            if (WaitUntilReady(&range->ring) == kTransportOk) {
                continue;
            }
            status_ = kStatusNotReady;
            return -1;
        }
        ++retryCount_;
        if (++attempt.failures >= 4) {
            // From the fourth failure on, every retry is made one speed lower.
            if (currentSpeed_ <= 1) {
                return -2;
            }
            const int speed = SetReadSpeed(currentSpeed_ - 1);
            currentSpeed_ = speed < 0 ? 1 : speed;
        }
    }
}

int cddaCReader::ReadSectorBySector(DWORD lba, DWORD count, BYTE* buffer, DWORD& good) {
    good = 0;
    for (DWORD i = 0; i < count; ++i) {
        good = i;
        BYTE* sector = buffer + std::size_t{i} * kSectorBytes;
        Attempt attempt;
        const int result = ReadWithRecovery(lba + i, 1, sector, attempt, false);
        if (result == -1) {
            return -1;
        }
        if (result == 0) {
            badRun_ = 0;
            continue;
        }
        // A scratch: this sector is silence, and reading goes on with the next one. A sector of the
        // overlap (before the next one to deliver) was delivered already: it is not counted again.
        std::memset(sector, 0, kSectorBytes);
        if (lba + i < nextLba_) {
            continue;
        }
        NoteUnreadable(lba + i);
        if (++badRun_ > kLongestUnreadableRun) {
            // What came before the run is still delivered; the range ends at the run.
            good = i + 1 - std::min<DWORD>(badRun_, i + 1);
            status_ = kStatusReadFailed;
            return -1;
        }
    }
    // The speed fall-back was for the sectors that failed; the rest of the disc is read as before.
    const int speed = SetReadSpeed(condition_.speed);
    currentSpeed_ = speed < 0 ? currentSpeed_ : speed;
    return 0;
}

int cddaCReader::VerifyStart(DWORD lba, DWORD count, BYTE* buffer) {
    // The first read of a range follows a seek, where drives land off most; it has no earlier read to be
    // matched against. It is read again (from the disc, not the drive's cache) until two reads in a row
    // agree, so that a start off by a few bytes or a whole sector is caught before anything is delivered.
    const std::size_t bytes = std::size_t{count} * kSectorBytes;
    for (int read = 1; read < kVerifyReads; ++read) {
        Attempt attempt;
        const int result = ReadWithRecovery(lba, count, verify_.get(), attempt, true);
        if (result == -1) {
            return -1;
        }
        if (result == -2) {
            return 0; // the first read stands; the second could not be made
        }
        if (ReadsAgree(buffer, verify_.get(), bytes)) {
            return 0;
        }
        ++realignCount_;
        std::memcpy(buffer, verify_.get(), bytes);
    }
    return 0;
}

bool cddaCReader::SwitchReadMode() {
    const DWORD mode = VendorReadMode(Identity());
    if ((mode >> 28) != 0) {
        if (!densityChanged_) {
            // Remember the block descriptor the drive had, so that destruction can put it back.
            std::array<BYTE, kModeBufferBytes> reply{};
            if (ModeSense(0x3F, false, reply) == kTransportOk && reply[3] >= 8) {
                savedDensity_ = reply[4];
                savedBlockLength_ = static_cast<WORD>(platform::ReadBe16(reply.data() + 10));
            }
            densityChanged_ = true;
        }
        ModeSelect(static_cast<BYTE>(mode & 0xFF), static_cast<WORD>(kSectorBytes), false);
    }
    readMode_ = mode;
    return true;
}

long cddaCReader::FetchSlot(std::size_t wanted) {
    const std::shared_ptr<Range> range = CurrentRange();
    if (!range) {
        return 0;
    }
    bool preEmphasis = false;
    for (const TrackEntry& t : tracks_) {
        if (nextLba_ >= t.start && nextLba_ - t.start < t.length) {
            preEmphasis = t.PreEmphasis();
            break;
        }
    }
    cddaCRingBuffer::Slot* slot = range->ring.AcquireFree();
    if (slot == nullptr || status_ == kStatusNotReady) {
        return 0;
    }
    if (ending_) {
        return -1; // the slot before delivered what came before a run of unreadable sectors
    }
    BYTE* buffer = slot->data.get();
    const std::size_t slotSize = range->ring.SlotSize();

    const DWORD wantedSectors = static_cast<DWORD>((wanted + kSectorBytes - 1) / kSectorBytes);
    const DWORD slotSectors = static_cast<DWORD>(slotSize / kSectorBytes);
    if (nextLba_ > lastReadableLba_) {
        // Past the end of what the disc holds: silence, so that the range still ends.
        const std::size_t n = std::min(wanted, slotSize);
        std::memset(buffer, 0, n);
        range->ring.Commit(0, n, preEmphasis);
        return static_cast<long>(n);
    }
    const DWORD available = lastReadableLba_ + 1 - nextLba_;
    DWORD c = std::min({slotSectors, wantedSectors, available});
    lastChunk_ = c >= wantedSectors;

    Attempt recovery;
    std::size_t offset = 0;
    std::size_t readBytes = std::size_t{c} * kSectorBytes;
    bool done = false;
    if (plain_) {
        // An accurate drive's plain read needs no matching; it is retried where it is, so that playback
        // reads nowhere but at the playing position.
        const int result = ReadWithRecovery(nextLba_, c, buffer, recovery, false);
        if (result == -1) {
            return -1;
        }
        DWORD good = c;
        if (result == -2 && ReadSectorBySector(nextLba_, c, buffer, good) != 0) {
            if (status_ != kStatusReadFailed || good == 0) {
                return -1;
            }
            ending_ = true;
            readBytes = std::size_t{good} * kSectorBytes;
        }
        done = true;
    }
    for (int attempt = 0; !done; ++attempt) {
        if (attempt >= kOverlapAttempts) {
            status_ = kStatusNoMatch;
            return -1;
        }
        const int h = condition_.overlap;
        const int overlap = OverlapSectors(static_cast<int>(slotSectors), h, attempt, nextLba_);
        DWORD readLba = nextLba_;
        if (nextLba_ < rangeStart_ + static_cast<DWORD>(h) ||
            nextLba_ < rangeStart_ + static_cast<DWORD>(overlap)) {
            readLba = rangeStart_; // never read before the range
        } else {
            readLba = nextLba_ - static_cast<DWORD>(overlap);
        }
        const DWORD actualOverlap = nextLba_ - readLba;
        // The overlap comes on top of the sectors still wanted, so that even the range's last sectors are
        // read behind a stretch the reference can be found in.
        c = std::min({slotSectors, actualOverlap + wantedSectors, actualOverlap + available});
        lastChunk_ = c >= actualOverlap + wantedSectors;
        readBytes = std::size_t{c} * kSectorBytes;
        const int result = ReadWithRecovery(readLba, c, buffer, recovery, !firstFetch_);
        if (result == -1) {
            return -1;
        }
        if (result == -2) {
            // Unreadable sectors: read one by one, the unreadable ones as silence. The data is taken as
            // read, without matching (the reference may lie in what could not be read).
            DWORD good = c;
            if (ReadSectorBySector(readLba, c, buffer, good) != 0) {
                if (status_ != kStatusReadFailed || good <= actualOverlap) {
                    return -1;
                }
                ending_ = true;
                readBytes = std::size_t{good} * kSectorBytes;
            }
            offset = std::size_t{actualOverlap} * kSectorBytes;
            done = true;
            break;
        }
        if (firstFetch_) {
            if (VerifyStart(readLba, c, buffer) != 0) {
                return -1;
            }
            done = true;
            break;
        }
        if (lastChunk_ && readLba + c > lastReadableLba_ && VerifyStart(readLba, c, buffer) != 0) {
            // The disc's last sectors have nothing after them to be matched against: the read that
            // reaches them is confirmed by a second one, as a range's first read is.
            return -1;
        }
        const ReferenceMatch match = FindReference(reference_.get(), referenceLength_, buffer, readBytes,
                                                   static_cast<int>(actualOverlap));
        if (!match.found || match.position + referenceLength_ >= readBytes) {
            continue; // not found, or nothing new after it: another overlap
        }
        offset = match.position + referenceLength_;
        const long long expected = std::clamp<long long>(
            (static_cast<long long>(actualOverlap) - 1) * static_cast<long long>(kSectorBytes), 0,
            static_cast<long long>(readBytes - referenceLength_));
        if (static_cast<long long>(match.position) != expected) {
            ++realignCount_;
        }
        if (match.unaligned && !lastChunk_) {
            ++jitterCount_;
            noJitter_ = false;
        }
        done = true;
    }

    const std::size_t produced = std::min(readBytes - offset, wanted);
    if (produced < wanted) {
        // The reference is the last sector delivered: the tail of the earlier one and this slot's data
        // when this slot produced less than a sector.
        if (produced >= kSectorBytes) {
            std::memcpy(reference_.get(), buffer + offset + produced - kSectorBytes, kSectorBytes);
        } else {
            std::memmove(reference_.get(), reference_.get() + produced, kSectorBytes - produced);
            std::memcpy(reference_.get() + kSectorBytes - produced, buffer + offset, produced);
        }
    }
    // The mode in force when the slot was read decides the byte order: the mode may switch mid-range.
    range->ring.Commit(offset, produced, preEmphasis, ((readMode_.load() >> 24) & 0x0F) != 0);
    firstFetch_ = false;
    const std::size_t left = wanted - produced;
    // The sector holding the first byte still wanted: a slot that ended a few bytes short of a sector
    // (its read landed late) is completed by reading that sector again, not by silence.
    nextLba_ = rangeStart_ + rangeLength_ - static_cast<DWORD>((left + kSectorBytes - 1) / kSectorBytes);
    ++fetchCount_;
    return static_cast<long>(produced);
}

std::size_t cddaCReader::Deliver(BYTE* buffer, std::size_t bytes) {
    const std::shared_ptr<Range> range = CurrentRange();
    if (!range || buffer == nullptr) {
        return 0;
    }
    std::size_t done = 0;
    while (done < bytes) {
        cddaCRingBuffer::Slot* slot = range->ring.AcquireFilled();
        if (slot == nullptr) {
            break;
        }
        const std::size_t n = std::min(slot->length, bytes - done);
        BYTE* out = buffer + done;
        std::memcpy(out, slot->data.get() + slot->offset, n);
        const bool preEmphasis = slot->preEmphasis;
        const bool swap = slot->swapped;
        range->ring.Consume(n);
        if (swap) {
            SwapSampleBytes(out, n);
        }
        if (preEmphasis) {
            Deemphasize(out, n, static_cast<int>(range->delivered / 2 % 2), range->deemphasis);
        } else {
            range->deemphasis = {};
        }
        range->delivered += n;
        done += n;
    }
    return done;
}

} // namespace discpilot

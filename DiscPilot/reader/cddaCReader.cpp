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

// Reads of the same sectors that may be made before two agree.
constexpr int kVerifyReads = 12;

// A secure range's first read begins this many sectors before the range (where the disc has audio
// there), so that a read which lands late still covers the range's first bytes.
constexpr DWORD kLeadSectors = 2;

// The pieces a read is settled by: a place where the drive always lands off lies in one of them, so the
// others outvote it.
constexpr DWORD kPieces = 3;

// How far from its own place a piece is looked for: three sectors either way.
constexpr long kLargestShiftBytes = 3 * static_cast<long>(kSectorBytes);

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

// Where the piece (pieceBytes) lies in whole, as a distance in bytes from `nominal` (the piece's own place
// in whole): the nearest even distance at which at least a sector of them agrees, 0 first.
bool LocatePiece(const BYTE* piece, std::size_t pieceBytes, const BYTE* whole, std::size_t wholeBytes,
                 std::size_t nominal, long& distance) noexcept {
    const auto total = static_cast<long>(wholeBytes);
    for (long away = 0; away <= kLargestShiftBytes; away += 2) {
        for (const long d : {-away, away}) {
            if (away == 0 && d > 0) {
                break;
            }
            const long at = static_cast<long>(nominal) + d;
            const long from = std::max(0L, at);
            const long to = std::min(total, at + static_cast<long>(pieceBytes));
            if (to - from < static_cast<long>(kSectorBytes)) {
                continue;
            }
            const BYTE* p = piece + (from - at);
            const BYTE* w = whole + from;
            // Most distances fail at once: a few low bytes decide it before a whole sector is compared.
            int differ = 0;
            for (std::size_t i = 0; i < 64; i += 2) {
                differ += p[i] != w[i] ? 1 : 0;
            }
            if (differ > 4 || !ReadsAgree(p, w, kSectorBytes) ||
                !ReadsAgree(p, w, static_cast<std::size_t>(to - from))) {
                continue;
            }
            distance = d;
            return true;
        }
    }
    return false;
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

DWORD cddaCReader::LeadSectors() const {
    DWORD lead = 0;
    while (lead < kLeadSectors && rangeStart_ > lead) {
        const DWORD lba = rangeStart_ - lead - 1;
        const auto track = std::find_if(tracks_.begin(), tracks_.end(), [lba](const TrackEntry& t) {
            return lba >= t.start && lba - t.start < t.length;
        });
        if (track == tracks_.end() || track->IsData()) {
            break;
        }
        ++lead;
    }
    return lead;
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

std::size_t cddaCReader::UnsettledRanges(UnreadableRange* out, std::size_t capacity) const {
    const std::lock_guard lock(unreadableMutex_);
    const std::size_t n = std::min(capacity, unsettled_.size());
    std::copy_n(unsettled_.begin(), n, out);
    return n;
}

void cddaCReader::NoteUnsettled(DWORD lba, DWORD count) {
    if (count == 0) {
        return;
    }
    unsettledCount_ += static_cast<int>(count);
    const std::lock_guard lock(unreadableMutex_);
    if (!unsettled_.empty() && unsettled_.back().lba + unsettled_.back().count == lba) {
        unsettled_.back().count += count;
    } else if (unsettled_.size() < unsettled_.capacity()) {
        unsettled_.push_back({lba, count}); // within the room reserved at set-up
    }
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
    cdText_ = CdText{};
    densityChanged_ = false;
    readless_ = false;
    WaitUntilReady(nullptr);
    if (ReadTableOfContents() != 0) {
        status_ = kStatusNoToc;
        return 0;
    }
    ReadCapabilities();
    ReadDiscText();

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
    conditionStored_ = found != 0 && sizeFound != 0;
    if (!conditionStored_) {
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

void cddaCReader::ReadDiscText() {
    cdText_ = CdText{};
    // Drives that take the TOC format in byte 9 predate CD-Text.
    if (olderTocForm_) {
        return;
    }
    std::array<BYTE, 4> header{};
    if (ReadCdText(header) != kTransportOk) {
        return;
    }
    std::size_t length = std::size_t{platform::ReadBe16(header.data())} + 2;
    if (length <= header.size()) {
        return;
    }
    length = std::min(length, kCdTextReplyBytes);
    if (const DWORD most = MaxTransferLength(); most != 0) {
        length = std::min<std::size_t>(length, most);
    }
    std::vector<BYTE> reply(length, 0);
    if (ReadCdText(reply) != kTransportOk) {
        return;
    }
    CdTextCounts counts;
    if (const CdTextOutcome outcome = ParseCdText(reply.data(), reply.size(), cdText_, counts);
        outcome != kCdTextRead && outcome != kCdTextTruncated) {
        cdText_ = CdText{};
    }
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

bool cddaCReader::QPositionAt(DWORD lba, int& track, int& index) {
    // The Q sub-channel tells the sector under the head: read the sector before (which leaves the head
    // here on a drive that does not seek) and seek to it, then believe the answer only when it names
    // this very sector.
    if (lba > 0) {
        BYTE sector[kSectorBytes];
        ReadAudio(readMode_, lba - 1, 1, sector);
    }
    Seek10(lba);
    std::array<BYTE, kSubChannelReplyBytes> reply{};
    if (ReadSubChannel(1, 0, reply) != kTransportOk || platform::ReadBe32(reply.data() + 8) != lba) {
        return false;
    }
    track = reply[6];
    index = reply[7];
    return true;
}

std::vector<DWORD> cddaCReader::FindPregapStarts() {
    Release();
    std::vector<DWORD> starts;
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
        const TrackEntry& t = tracks_[i];
        DWORD found = t.start;
        const DWORD low = i == 0 ? 0 : tracks_[i - 1].start + 1;
        int number = 0;
        int index = 0;
        // Index 0 of a track runs up to its start: the first sector of it is searched for between the
        // previous track's start and this one's.
        if (!t.IsData() && t.start > low && QPositionAt(t.start - 1, number, index) && number == t.number &&
            index == 0) {
            // The first track's index 0 is all of the disc before it; the others are searched for.
            if (i == 0) {
                starts.push_back(0);
                continue;
            }
            DWORD lo = low;
            DWORD hi = t.start - 1; // known to be in the pregap
            while (lo < hi) {
                const DWORD mid = lo + (hi - lo) / 2;
                if (QPositionAt(mid, number, index) && number == t.number && index == 0) {
                    hi = mid;
                } else {
                    lo = mid + 1;
                }
            }
            found = hi;
        }
        starts.push_back(found);
    }
    return starts;
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
    asRecorded_ = false;
    return BeginRange();
}

int cddaCReader::SetupSectorRange(DWORD start, DWORD length) {
    Release();
    status_ = kStatusOk;
    if (tracks_.empty() || length == 0 || start > lastReadableLba_ || lastReadableLba_ - start < length - 1) {
        status_ = kStatusOutOfBounds;
        return 0;
    }
    // Every sector must be audio: that of a track, or before the first track when that one is audio (a
    // first track's pregap, which may hold a hidden track).
    for (DWORD lba = start; lba - start < length;) {
        const auto track = std::find_if(tracks_.begin(), tracks_.end(), [lba](const TrackEntry& t) {
            return lba >= t.start && lba - t.start < t.length;
        });
        if (track == tracks_.end()) {
            if (lba >= tracks_.front().start || tracks_.front().IsData()) {
                status_ = kStatusOutOfBounds;
                return 0;
            }
            lba = tracks_.front().start;
            continue;
        }
        if (track->IsData()) {
            status_ = kStatusDataTrack;
            return 0;
        }
        lba = track->start + track->length;
    }
    rangeStart_ = start;
    rangeLength_ = length;
    currentTrack_ = 0;
    asRecorded_ = true;
    return BeginRange();
}

int cddaCReader::BeginRange() {
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
        previous_ = std::make_unique<BYTE[]>(static_cast<std::size_t>(transferSize_));
        piece_ = std::make_unique<BYTE[]>(static_cast<std::size_t>(transferSize_));
        run_ = std::make_unique<BYTE[]>(static_cast<std::size_t>(transferSize_));
        sectorBad_.assign(static_cast<std::size_t>(transferSize_) / kSectorBytes + 1, 0);
        const std::lock_guard lock(unreadableMutex_);
        unreadable_.clear();
        unreadable_.reserve(kUnreadableRangesKept);
        unsettled_.clear();
        unsettled_.reserve(kUnreadableRangesKept);
    } catch (const std::bad_alloc&) {
        status_ = kStatusNoMemory;
        reference_.reset();
        verify_.reset();
        previous_.reset();
        piece_.reset();
        run_.reset();
        return 0;
    }
    plain_ = condition_.accurate != 0 && !secure_;
    ending_ = false;
    unreadableCount_ = 0;
    unsettledCount_ = 0;
    badRun_ = 0;
    readInRange_ = false;
    waitedForReads_ = false;

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
            // Never a sector of the read itself: the drive would keep that one, as it was read then.
            for (const DWORD at : {far, elsewhere, lastReadableLba_ / 2, DWORD{0}}) {
                if (at >= lba && at - lba < count) {
                    continue;
                }
                if (ReadAudio(readMode_, at, 1, cacheDefeat_.get()) == kTransportOk) {
                    break;
                }
            }
        }
        const int result = ReadAudio(readMode_, lba, count, buffer);
        if (result == kTransportOk) {
            readInRange_ = true;
            readless_ = false;
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
        if (!attempt.waited && !readInRange_ && !waitedForReads_ && !readless_) {
            // Nothing of the range has been read yet, and the device controls may not say that the drive
            // is still becoming ready (they only fail its reads): see whether it reads anywhere else, and
            // wait for it as for a drive spinning up before these sectors are counted unreadable. Once: a
            // disc that reads nowhere is then read as any disc with unreadable sectors.
            attempt.waited = true;
            waitedForReads_ = true;
            if (WaitUntilReads(range.get() != nullptr ? &range->ring : nullptr, lba, count)) {
                continue;
            }
            readless_ = true;
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
    std::fill_n(sectorBad_.begin(), std::min<std::size_t>(count, sectorBad_.size()), BYTE{0});
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
        if (i < sectorBad_.size()) {
            sectorBad_[i] = 1;
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

bool cddaCReader::WaitUntilReads(const cddaCRingBuffer* ring, DWORD lba, DWORD count) {
    // Places of the range far from the failing read, then the middle of the disc: a scratch there does not
    // stop the others from reading.
    const DWORD places[] = {rangeStart_ + rangeLength_ / 2, rangeStart_ + rangeLength_ - 1, rangeStart_,
                            lastReadableLba_ / 2};
    for (int poll = 0; poll <= kReadyPolls; ++poll) {
        if (ring != nullptr && ring->Stopped()) {
            return false;
        }
        for (const DWORD at : places) {
            if (at >= lba && at < lba + count) {
                continue;
            }
            if (ReadAudio(readMode_, at, 1, cacheDefeat_.get()) == kTransportOk) {
                return true;
            }
        }
        std::this_thread::sleep_for(kReadyPollInterval);
    }
    return false;
}

int cddaCReader::ConfirmRead(DWORD lba, DWORD count, BYTE* buffer) {
    // A read that follows a seek is where drives land off most, and nothing before it may be there to match
    // it against (a range's first read). Reads of the same sectors from the disc that agree with each other
    // show where the sectors are; a read that landed off differs from them in nearly every byte.
    const std::size_t bytes = std::size_t{count} * kSectorBytes;
    bool havePrevious = false;
    for (int read = 1; read < kVerifyReads; ++read) {
        Attempt attempt;
        const int result = ReadWithRecovery(lba, count, verify_.get(), attempt, true);
        if (result == -1) {
            return -1;
        }
        if (result == -2) {
            return 0; // the first read stands, unconfirmed: the sectors could not be read again
        }
        if (ReadsAgree(buffer, verify_.get(), bytes)) {
            return 1;
        }
        ++realignCount_;
        if (havePrevious && ReadsAgree(previous_.get(), verify_.get(), bytes)) {
            std::memcpy(buffer, verify_.get(), bytes);
            return 1;
        }
        std::swap(previous_, verify_);
        havePrevious = true;
    }
    return 0;
}

int cddaCReader::SettleByPieces(DWORD lba, DWORD count, BYTE* buffer, std::size_t& head, std::size_t& tail) {
    head = 0;
    tail = 0;
    if (count < kPieces) {
        return 1; // too short to be split: the confirmation is all there is
    }
    const std::size_t bytes = std::size_t{count} * kSectorBytes;
    const DWORD per = count / kPieces;
    long distances[kPieces] = {};
    bool found[kPieces] = {};
    for (DWORD i = 0; i < kPieces; ++i) {
        const DWORD from = i * per;
        const DWORD n = i + 1 == kPieces ? count - from : per;
        Attempt attempt;
        const int result = ReadWithRecovery(lba + from, n, piece_.get(), attempt, true);
        if (result == -1) {
            return -1;
        }
        if (result == -2) {
            continue;
        }
        const int confirmed = ConfirmRead(lba + from, n, piece_.get());
        if (confirmed < 0) {
            return -1;
        }
        found[i] = confirmed == 1 && LocatePiece(piece_.get(), std::size_t{n} * kSectorBytes, buffer, bytes,
                                                 std::size_t{from} * kSectorBytes, distances[i]);
    }
    // The distance most pieces agree on; without a majority nothing is settled.
    long distance = 0;
    DWORD votes = 0;
    for (DWORD i = 0; i < kPieces; ++i) {
        DWORD same = 0;
        for (DWORD j = 0; j < kPieces; ++j) {
            same += found[i] && found[j] && distances[i] == distances[j] ? 1 : 0;
        }
        if (same > votes) {
            votes = same;
            distance = distances[i];
        }
    }
    if (votes * 2 <= kPieces) {
        return 0;
    }
    if (distance == 0) {
        return 1;
    }
    // The whole read landed off by the distance (every read that covers the place does); the pieces that
    // leave the place out show where its bytes belong.
    ++realignCount_;
    const auto d = static_cast<std::size_t>(std::abs(distance));
    if (distance > 0) {
        std::memmove(buffer, buffer + d, bytes - d);
        std::memset(buffer + bytes - d, 0, d);
        tail = d;
    } else {
        std::memmove(buffer + d, buffer, bytes - d);
        std::memset(buffer, 0, d);
        head = d;
    }
    // An end left without data is taken from the piece there when that piece was found where the others
    // were: it did not cover the place.
    for (const DWORD i : {DWORD{0}, kPieces - 1}) {
        std::size_t& gap = i == 0 ? head : tail;
        if (gap == 0 || !found[i] || distances[i] != distance) {
            continue;
        }
        const DWORD from = i * per;
        const DWORD n = i + 1 == kPieces ? count - from : per;
        const std::size_t pieceBytes = std::size_t{n} * kSectorBytes;
        Attempt attempt;
        const int result = ReadWithRecovery(lba + from, n, piece_.get(), attempt, true);
        if (result == -1) {
            return -1;
        }
        if (result != 0 || pieceBytes <= gap) {
            continue;
        }
        const int confirmed = ConfirmRead(lba + from, n, piece_.get());
        if (confirmed < 0) {
            return -1;
        }
        BYTE* at = buffer + std::size_t{from} * kSectorBytes;
        // The piece must agree with the moved read where both have data before it fills the gap.
        const bool agrees = i == 0 ? ReadsAgree(piece_.get() + gap, at + gap, pieceBytes - gap)
                                   : ReadsAgree(piece_.get(), at, pieceBytes - gap);
        if (confirmed == 1 && agrees) {
            if (i == 0) {
                std::memcpy(at, piece_.get(), gap);
            } else {
                std::memcpy(at + pieceBytes - gap, piece_.get() + pieceBytes - gap, gap);
            }
            gap = 0;
        }
    }
    // Else the shortest read that reaches into the moved data from that end: it may leave the place out
    // where the edge piece held it.
    for (const bool atHead : {true, false}) {
        std::size_t& gap = atHead ? head : tail;
        const auto n = static_cast<DWORD>(gap / kSectorBytes + 1);
        if (gap == 0 || n >= count) {
            continue;
        }
        const std::size_t shortBytes = std::size_t{n} * kSectorBytes;
        const DWORD from = atHead ? lba : lba + count - n;
        Attempt attempt;
        const int result = ReadWithRecovery(from, n, piece_.get(), attempt, true);
        if (result == -1) {
            return -1;
        }
        if (result != 0) {
            continue;
        }
        const int confirmed = ConfirmRead(from, n, piece_.get());
        if (confirmed < 0) {
            return -1;
        }
        BYTE* at = buffer + (atHead ? 0 : bytes - shortBytes);
        const bool agrees = atHead ? ReadsAgree(piece_.get() + gap, at + gap, shortBytes - gap)
                                   : ReadsAgree(piece_.get(), at, shortBytes - gap);
        if (confirmed == 1 && agrees) {
            if (atHead) {
                std::memcpy(at, piece_.get(), gap);
            } else {
                std::memcpy(at + shortBytes - gap, piece_.get() + shortBytes - gap, gap);
            }
            gap = 0;
        }
    }
    return 1;
}

int cddaCReader::SettleRuns(DWORD lba, DWORD count, BYTE* buffer) {
    for (DWORD a = 0; a < count;) {
        if (sectorBad_[a] != 0) {
            ++a;
            continue;
        }
        DWORD b = a;
        while (b < count && sectorBad_[b] == 0) {
            ++b;
        }
        const DWORD n = b - a;
        const std::size_t bytes = std::size_t{n} * kSectorBytes;
        BYTE* at = buffer + std::size_t{a} * kSectorBytes;
        // Only what is still to be delivered counts: the overlap before the next sector was delivered.
        const auto unsettled = [&](DWORD from, DWORD sectors) {
            const DWORD first = std::max(lba + from, nextLba_);
            const DWORD end = lba + from + sectors;
            if (first < end) {
                NoteUnsettled(first, end - first);
            }
        };
        Attempt attempt;
        const int result = ReadWithRecovery(lba + a, n, run_.get(), attempt, true);
        if (result == -1) {
            return -1;
        }
        int settled = 0;
        std::size_t head = 0, tail = 0;
        if (result == 0) {
            settled = ConfirmRead(lba + a, n, run_.get());
            if (settled == 1) {
                settled = SettleByPieces(lba + a, n, run_.get(), head, tail);
            }
            if (settled < 0) {
                return -1;
            }
        }
        if (settled == 1) {
            // The ends the settled read could not fill keep the sectors as they were read alone.
            std::memcpy(at + head, run_.get() + head, bytes - head - tail);
            const auto headSectors = static_cast<DWORD>((head + kSectorBytes - 1) / kSectorBytes);
            const auto tailSectors = static_cast<DWORD>((tail + kSectorBytes - 1) / kSectorBytes);
            unsettled(a, std::min(n, headSectors));
            if (tailSectors > 0 && tailSectors <= n) {
                unsettled(b - tailSectors, tailSectors);
            }
        } else {
            unsettled(a, n);
        }
        a = b;
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
            preEmphasis = t.PreEmphasis() && !asRecorded_;
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
    const int unsettledBefore = unsettledCount_.load();
    // The disc byte the next delivered byte is: a slot that was realigned may have ended inside a sector.
    const std::uint64_t wantedFrom =
        (std::uint64_t{rangeStart_} + rangeLength_) * kSectorBytes - static_cast<std::uint64_t>(wanted);
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
    const DWORD perCommand = ActiveTransport() == kActiveRaw ? kRawReadSectors : MaxSectorsPerRead(readMode_);
    const DWORD readSectors = std::max<DWORD>(1, std::min(slotSectors, perCommand));
    for (int attempt = 0; !done; ++attempt) {
        if (attempt >= kOverlapAttempts) {
            status_ = kStatusNoMatch;
            return -1;
        }
        const int h = condition_.overlap;
        const int overlap = OverlapSectors(static_cast<int>(readSectors), h, attempt, nextLba_);
        DWORD readLba = nextLba_;
        if (nextLba_ < rangeStart_ + static_cast<DWORD>(h) ||
            nextLba_ < rangeStart_ + static_cast<DWORD>(overlap)) {
            readLba = rangeStart_; // never read before the range, but for a secure range's lead
            if (firstFetch_ && secure_) {
                readLba -= LeadSectors();
            }
        } else {
            readLba = nextLba_ - static_cast<DWORD>(overlap);
        }
        const DWORD actualOverlap = nextLba_ - readLba;
        // The overlap comes on top of the sectors still wanted, so that even the range's last sectors are
        // read behind a stretch the reference can be found in. A read is no longer than one command of
        // the drive carries: each command lands on its own, and one that landed off inside a longer read
        // would follow a matched start unseen.
        c = std::min({readSectors, actualOverlap + wantedSectors, actualOverlap + available});
        // Where the data read from readLba joins what was delivered, when no matching places it.
        const auto joinAt = static_cast<std::size_t>(wantedFrom - std::uint64_t{readLba} * kSectorBytes);
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
            // A sector read alone has nothing around it to be matched against: a secure read settles
            // the readable runs again before they are delivered.
            if (secure_ && SettleRuns(readLba, static_cast<DWORD>(readBytes / kSectorBytes), buffer) != 0) {
                return -1;
            }
            offset = joinAt;
            done = true;
            break;
        }
        if (firstFetch_) {
            offset = joinAt;
            const int confirmed = ConfirmRead(readLba, c, buffer);
            if (confirmed < 0) {
                return -1;
            }
            std::size_t head = 0, tail = 0;
            int settled = confirmed;
            while (settled == 1 && secure_) {
                // Reads of one extent agree even where the drive always lands off: a rip's start is
                // settled by reads of its pieces too.
                settled = SettleByPieces(readLba, c, buffer, head, tail);
                if (settled < 0) {
                    return -1;
                }
                // Two places that land off differently in one read leave the pieces without a majority:
                // a shorter read holds fewer of them.
                const DWORD shorter = c / 2;
                if (settled == 1 || shorter < actualOverlap + kPieces) {
                    break;
                }
                c = shorter;
                readBytes = std::size_t{c} * kSectorBytes;
                lastChunk_ = c >= actualOverlap + wantedSectors;
                Attempt again;
                const int reread = ReadWithRecovery(readLba, c, buffer, again, true);
                if (reread == -1) {
                    return -1;
                }
                settled = reread == 0 ? ConfirmRead(readLba, c, buffer) : 0;
                if (settled < 0) {
                    return -1;
                }
            }
            if (settled == 1 && tail > 0 && readBytes - tail >= offset + kSectorBytes) {
                // What the moved read left empty at its end is read again by the next fetch.
                readBytes = (readBytes - tail) / kSectorBytes * kSectorBytes;
                tail = 0;
            }
            const DWORD sectors = static_cast<DWORD>(std::min(readBytes - offset, wanted) / kSectorBytes);
            if (settled != 1) {
                NoteUnsettled(nextLba_, sectors);
            } else if (head > offset) {
                NoteUnsettled(
                    nextLba_,
                    std::min(sectors, static_cast<DWORD>((head - offset + kSectorBytes - 1) / kSectorBytes)));
            } else if (tail > 0 && readBytes - tail < offset + std::size_t{sectors} * kSectorBytes) {
                const auto first = static_cast<DWORD>((readBytes - tail - offset) / kSectorBytes);
                NoteUnsettled(nextLba_ + first, sectors - first);
            }
            done = true;
            break;
        }
        if (lastChunk_ && readLba + c > lastReadableLba_ && ConfirmRead(readLba, c, buffer) < 0) {
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
    // After sectors whose place nothing settled, the last one delivered is no reference to join the next
    // read to: the next fetch finds its own footing, as a range's first one does.
    firstFetch_ = unsettledCount_.load() != unsettledBefore;
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

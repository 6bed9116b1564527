#include "DiscPilotDiagnostics.h"

#include "api/cddaCReaderHolder.h"

#include "drives/VendorTable.h"
#include "store/DriveSettings.h"
#include "transport/cddaCAspiDevice.h"
#include "transport/cddaCDevice.h"

#include <algorithm>
#include <cstring>
#include <iterator>

using namespace discpilot;

int CDiscPilot::Diagnostics::ProbeDrive(char letter, DriveProbe& probe) noexcept {
    try {
        cddaCDevice device(kKindAspi);
        if (const int result = device.OpenTransport(letter); result != kTransportOk) {
            return result;
        }
        const DriveIdentity& identity = device.Identity();
        DriveProbe found;
        found.passThrough = device.ActiveTransport() == kActiveAspi;
        found.hostAdapter = identity.hostAdapter;
        found.target = identity.target;
        static_assert(sizeof found.vendor == sizeof identity.vendor);
        static_assert(sizeof found.product == sizeof identity.product);
        static_assert(sizeof found.revision == sizeof identity.revision);
        std::memcpy(found.vendor, identity.vendor, sizeof found.vendor);
        std::memcpy(found.product, identity.product, sizeof found.product);
        std::memcpy(found.revision, identity.revision, sizeof found.revision);
        found.readMode = VendorReadMode(identity);
        found.unitReady = device.TestUnitReady();
        probe = found;
        return kTransportOk;
    } catch (...) {
        return kTransportNoDevice; // out of memory or threads: nothing throws across the library's boundary
    }
}

bool CDiscPilot::Diagnostics::GetDiscToc(const CDiscPilot& controller, DiscToc& toc) noexcept {
    const cddaCReaderHolder* holder = controller.reader_;
    if (holder == nullptr) {
        return false;
    }
    const cddaCReader& reader = holder->reader;
    toc = DiscToc{};
    for (const TrackEntry& entry : reader.Tracks()) {
        if (toc.count == static_cast<int>(std::size(toc.tracks))) {
            break;
        }
        toc.tracks[toc.count++] = {entry.number, entry.start, entry.length, entry.IsData(),
                                   entry.PreEmphasis()};
    }
    toc.lastReadableLba = reader.LastReadableLba();
    return true;
}

int CDiscPilot::Diagnostics::GetCdText(const CDiscPilot& controller, int track, int item, char* utf8,
                                       int capacity) noexcept {
    if (utf8 != nullptr && capacity > 0) {
        utf8[0] = '\0';
    }
    const cddaCReaderHolder* holder = controller.reader_;
    if (holder == nullptr) {
        return 0;
    }
    const std::string& text = holder->reader.DiscText().Get(item, track);
    if (utf8 != nullptr && capacity > 0) {
        std::size_t n = std::min(text.size(), static_cast<std::size_t>(capacity) - 1);
        // Never half a character: back up over continuation bytes to a character's start.
        while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
            --n;
        }
        std::memcpy(utf8, text.data(), n);
        utf8[n] = '\0';
    }
    return static_cast<int>(text.size());
}

bool CDiscPilot::Diagnostics::GetReadCounts(const CDiscPilot& controller, ReadCounts& counts) noexcept {
    const cddaCReaderHolder* holder = controller.reader_;
    if (holder == nullptr) {
        return false;
    }
    counts.status = holder->reader.Status();
    counts.jitterCorrections = holder->reader.JitterCount();
    counts.realignments = holder->reader.RealignCount();
    counts.retries = holder->reader.RetryCount();
    counts.fetches = holder->reader.FetchCount();
    counts.lastDelivered = holder->lastDelivered.load();
    counts.readMode = holder->reader.ReadModeInUse();
    counts.unreadable = holder->reader.UnreadableCount();
    counts.plain = holder->reader.Plain();
    counts.endedAt = holder->reader.EndedAt();
    counts.unsettled = holder->reader.UnsettledCount();
    return true;
}

bool CDiscPilot::Diagnostics::SetSecureReading(CDiscPilot& controller, bool secure) noexcept {
    cddaCReaderHolder* holder = controller.reader_;
    if (holder == nullptr) {
        return false;
    }
    holder->reader.SetSecure(secure);
    return true;
}

int CDiscPilot::Diagnostics::GetUnreadableSpans(const CDiscPilot& controller, UnreadableSpan* spans,
                                                int capacity) noexcept {
    const cddaCReaderHolder* holder = controller.reader_;
    if (holder == nullptr || spans == nullptr || capacity <= 0) {
        return 0;
    }
    UnreadableRange ranges[64];
    const std::size_t n = holder->reader.UnreadableRanges(
        ranges, std::min<std::size_t>(std::size(ranges), static_cast<std::size_t>(capacity)));
    for (std::size_t i = 0; i < n; ++i) {
        spans[i] = {ranges[i].lba, ranges[i].count};
    }
    return static_cast<int>(n);
}

int CDiscPilot::Diagnostics::GetUnsettledSpans(const CDiscPilot& controller, UnreadableSpan* spans,
                                               int capacity) noexcept {
    const cddaCReaderHolder* holder = controller.reader_;
    if (holder == nullptr || spans == nullptr || capacity <= 0) {
        return 0;
    }
    UnreadableRange ranges[64];
    const std::size_t n = holder->reader.UnsettledRanges(
        ranges, std::min<std::size_t>(std::size(ranges), static_cast<std::size_t>(capacity)));
    for (std::size_t i = 0; i < n; ++i) {
        spans[i] = {ranges[i].lba, ranges[i].count};
    }
    return static_cast<int>(n);
}

bool CDiscPilot::Diagnostics::GetReadCondition(const CDiscPilot& controller,
                                               ConditionSummary& condition) noexcept {
    const cddaCReaderHolder* holder = controller.reader_;
    if (holder == nullptr) {
        return false;
    }
    const ReadCondition& c = holder->reader.Condition();
    condition.stored = holder->reader.ConditionStored() ? 1 : 0;
    condition.speed = c.speed;
    condition.overlap = c.overlap;
    condition.accurate = static_cast<int>(c.accurate);
    condition.noJitter = static_cast<int>(c.noJitter);
    condition.bufferSize = c.bufferSize;
    return true;
}

bool CDiscPilot::Diagnostics::SetSectorRange(CDiscPilot& controller, std::uint32_t lba,
                                             std::uint32_t count) noexcept {
    cddaCReaderHolder* holder = controller.reader_;
    if (holder == nullptr) {
        return false;
    }
    holder->lastDelivered = 0;
    return holder->reader.SetupSectorRange(lba, count) != 0;
}

int CDiscPilot::Diagnostics::GetPregapStarts(CDiscPilot& controller, std::uint32_t* starts,
                                             int capacity) noexcept {
    cddaCReaderHolder* holder = controller.reader_;
    if (holder == nullptr || starts == nullptr || capacity <= 0) {
        return 0;
    }
    try {
        const std::vector<DWORD> found = holder->reader.FindPregapStarts();
        const std::size_t n = std::min(found.size(), static_cast<std::size_t>(capacity));
        std::copy_n(found.begin(), n, starts);
        return static_cast<int>(n);
    } catch (...) {
        return 0; // out of memory: nothing throws across the library's boundary
    }
}

bool CDiscPilot::Diagnostics::GetReadOffset(const CDiscPilot& controller, long& samples) noexcept {
    const cddaCReaderHolder* holder = controller.reader_;
    LONG stored = 0;
    if (holder == nullptr || discpilot::LookUpReadOffset(holder->reader.Identity(), stored) == 0) {
        return false;
    }
    samples = stored;
    return true;
}

bool CDiscPilot::Diagnostics::StoreReadOffset(const CDiscPilot& controller, long samples) noexcept {
    const cddaCReaderHolder* holder = controller.reader_;
    if (holder == nullptr || samples < -kLargestReadOffset || samples > kLargestReadOffset) {
        return false;
    }
    return discpilot::StoreReadOffset(holder->reader.Identity(), static_cast<LONG>(samples)) != 0;
}

bool CDiscPilot::Diagnostics::GetCheckSummary(const CDiscPilot& controller, CheckSummary& summary) noexcept {
    const cddaCReaderHolder* holder = controller.reader_;
    if (holder == nullptr || holder->checkBusy.load() || holder->lastReport.done == 0) {
        return false;
    }
    const CheckReport& r = holder->lastReport;
    const ReadCondition& c = holder->lastCondition;
    summary.done = r.done;
    summary.success = r.success;
    summary.status = r.status;
    summary.notStored = r.status == kStatusNotStored ? 1 : 0;
    summary.readerStatus = holder->reader.Status();
    summary.grade = r.grade;
    summary.speedMultiple = r.speedMultiple;
    summary.speed = c.speed;
    summary.overlap = c.overlap;
    summary.accurate = static_cast<int>(c.accurate);
    summary.noJitter = static_cast<int>(c.noJitter);
    summary.isrc = r.isrcResult;
    summary.bufferSize = c.bufferSize;
    summary.bytesCompared = r.bytesCompared;
    summary.highDiffer = r.highDiffer;
    summary.largeDiffer = r.largeDiffer;
    summary.lowDiffer = r.lowDiffer;
    summary.realignments = r.realignments;
    return true;
}

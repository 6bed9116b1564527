#include "check/cddaCDriveCheck.h"

#include "Platform/FileIo.h"
#include "Platform/Paths.h"
#include "reader/ReadPlanning.h"
#include "transport/CommandBlock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>

namespace discpilot {

namespace {

constexpr int kOverlapStart = 5;
constexpr int kOverlapDoubled = 10;
constexpr DWORD kProbeUnit = 65536;
// Bytes per second of a drive at 1x, as the speed multiple counts them.
constexpr double kOneTimesBytesPerSecond = 180224.0;
// Above this share of large differences between the two passes a condition fails.
constexpr double kLargeDifferenceLimit = 0.03;
// The sequence ends long before this; the cap only guards against a condition that never advances.
constexpr int kMostConditions = 32;
// Read modes a probe read may switch through before it gives up on the drive's refusals.
constexpr int kMostModeSwitches = 4;
constexpr const char* kErrorCaption = "エラー";

std::mutex boxLock;
CheckMessageBox boxHandler = nullptr;
void* boxContext = nullptr;

void ShowMessage(const char* text) {
    CheckMessageBox handler;
    void* context;
    {
        const std::lock_guard lock(boxLock);
        handler = boxHandler;
        context = boxContext;
    }
    if (handler != nullptr) {
        handler(context, text, kErrorCaption);
    }
}

// A file descriptor closed on every path (the file then goes away: its name was removed at creation).
struct FileCloser {
    int fd;
    ~FileCloser() {
        if (fd >= 0) {
            platform::CloseFile(fd);
        }
    }
};

int Seek(cddaCReader& reader, DWORD lba) {
    const int result = reader.Seek10(lba);
    return result == kTransportInvalidCommand ? reader.Seek6(lba) : result;
}

} // namespace

void SetCheckMessageBox(CheckMessageBox handler, void* context) noexcept {
    const std::lock_guard lock(boxLock);
    boxHandler = handler;
    boxContext = context;
}

int Grade(const CheckReport& report) noexcept {
    if (report.bytesCompared <= 0) {
        return 0;
    }
    const double bytes = report.bytesCompared;
    const double h = report.highDiffer / bytes;
    const double large = report.largeDiffer / bytes;
    if (large > 0) {
        if (large <= 0.0001) {
            return 4;
        }
        if (large <= 0.001) {
            return h <= 0.005 ? 5 : 6;
        }
        if (h <= 0.01) {
            return 7;
        }
        if (h <= 0.015) {
            return 8;
        }
        return h <= 0.02 ? 9 : 10;
    }
    if (report.highDiffer > 0 || report.lowDiffer > 0) {
        return h <= 0.0001 ? 2 : 3;
    }
    return 1;
}

bool NextCondition(const ReadCondition& from, int maxSpeed, ReadCondition& next) noexcept {
    const int s = from.speed;
    const int m = maxSpeed;
    ReadCondition c = from;
    if (from.accurate != 0) {
        // Accurate reading first at full speed, then at 1x; then overlap reading from full speed down.
        if (m > 1 && s == m) {
            c.speed = 1;
        } else if (m > 1) {
            c.accurate = 0;
            c.speed = static_cast<WORD>(m);
        } else {
            c.accurate = 0;
        }
        next = c;
        return true;
    }
    const int twoThirds = 2 * m / 3;
    const int third = m / 3;
    bool speedsEnd = false;
    if (s < 2) {
        speedsEnd = true;
    } else if (s == m) {
        c.speed = static_cast<WORD>(twoThirds);
    } else if (s < twoThirds) {
        if (s < third) {
            speedsEnd = true;
        } else {
            c.speed = 1;
        }
    } else {
        c.speed = static_cast<WORD>(third);
    }
    if (speedsEnd) {
        if (from.overlap != kOverlapStart) {
            return false;
        }
        c.overlap = kOverlapDoubled;
    }
    next = c;
    return true;
}

void cddaCDriveCheck::SetStage(int stage) {
    r_.stage_ = stage;
    if (onStage) {
        onStage(stage);
    }
}

void cddaCDriveCheck::AddProgress(int step, double amount) noexcept {
    // A read test never reaches its next whole step by itself: the step after the last test is the end
    // of the check, which only the caller announces.
    passProgress_ = std::min(passProgress_ + amount, 0.999);
    r_.progress_ = step + passProgress_;
}

void cddaCDriveCheck::Abandon(const ReadCondition& saved) {
    r_.progress_ = 0.0;
    r_.condition_ = saved;
    Forget(r_.Identity());
}

void cddaCDriveCheck::Run(CheckReport& report, int seconds) {
    report = CheckReport{};
    r_.SetCheckRangeLimit(static_cast<WORD>(std::clamp(seconds, 1, 65535 / 75) * 75));
    r_.progress_ = 0.0;
    SetStage(0);
    const ReadCondition saved = r_.condition_;

    ReadCondition start = saved;
    start.speed = static_cast<WORD>(r_.maxSpeed_);
    start.isrc = r_.isrcCapable_ ? 1 : 0;
    start.accurate = r_.cddaAccurate_ ? 1 : 0;
    start.valid = 1;
    start.cddaCommands = 1;
    start.overlap = kOverlapStart;
    int steps = 1;
    for (ReadCondition c = start; steps <= kMostConditions && NextCondition(c, r_.maxSpeed_, c);) {
        ++steps;
    }
    r_.stepCount_ = steps + 2;
    start.valid = 0;
    r_.condition_ = start;

    try {
        first_.resize(kPieceBytes);
        second_.resize(kPieceBytes);
    } catch (const std::bad_alloc&) {
        r_.status_ = kStatusNoMemory;
        report.status = kStatusNoMemory;
        report.done = 1;
        r_.condition_ = saved;
        return;
    }

    SetStage(1);
    report.isrcResult = IsrcTest();
    r_.condition_.isrc = static_cast<DWORD>(report.isrcResult);
    r_.progress_ = 1.0;
    if (!Running()) {
        Abandon(saved);
        return;
    }

    SetStage(2);
    if (!BufferProbe()) {
        report.status = kStatusProbeFailed;
        r_.status_ = kStatusProbeFailed;
        report.done = 1;
        r_.condition_ = saved;
        Forget(r_.Identity());
        return;
    }

    r_.progress_ = 2.0;
    SetStage(3);
    int lastAudio = r_.TrackCount() - 1;
    while (lastAudio >= 0 && r_.tracks_[static_cast<std::size_t>(lastAudio)].IsData()) {
        --lastAudio;
    }
    int check = lastAudio - 1;
    while (check >= 0 && r_.tracks_[static_cast<std::size_t>(check)].IsData()) {
        --check;
    }
    if (check < 0) {
        check = lastAudio;
    }
    if (check < 0) {
        // Without an audio track there is nothing to read: a finished check without success.
        r_.progress_ = 0.0;
        report.status = kStatusDataTrack;
        r_.status_ = kStatusDataTrack;
        report.done = 1;
        r_.condition_ = saved;
        r_.running_ = 0;
        return;
    }
    const int checkTrack = r_.tracks_[static_cast<std::size_t>(check)].number;

    bool endedByDrive = false;
    for (int m = 2; Running() && m < 2 + kMostConditions; ++m) {
        r_.progress_ = static_cast<double>(m);
        TrackTest(checkTrack, m, report);
        if (report.speedMultiple != 0.0) {
            r_.condition_.valid = 1;
            break;
        }
        if (report.status == kStatusNotReady || report.status == kStatusPlaying) {
            r_.status_ = report.status;
            endedByDrive = true;
            break;
        }
        ReadCondition next;
        if (!NextCondition(r_.condition_, r_.maxSpeed_, next)) {
            break;
        }
        r_.condition_ = next;
    }

    if (IsReadCdMode(r_.readMode_.load())) {
        r_.cddaCommands_ = true;
        r_.condition_.cddaCommands = 1;
    }
    if (!Running() && !endedByDrive) {
        Abandon(saved);
        return;
    }
    bool valid = r_.condition_.valid != 0;
    if (valid && !(stored_ && Store(r_.Identity(), r_.condition_, false) == 1)) {
        // A condition that later opens cannot find is no result: the drive stays unchecked.
        valid = false;
        report.status = kStatusNotStored;
        r_.status_ = kStatusNotStored;
    }
    report.done = 1;
    report.success = valid ? 1 : 0;
    report.cddaCommands = static_cast<int>(r_.condition_.cddaCommands);
    report.accurate = static_cast<int>(r_.condition_.accurate);
    report.noJitter = static_cast<int>(r_.condition_.noJitter);
    report.fullToc = r_.fullToc_ ? 1 : 0;
    report.transferSize = r_.transferSize_;
    report.speed = r_.condition_.speed;
    if (valid) {
        report.grade = Grade(report);
    } else {
        report.speedMultiple = 0.0;
        r_.condition_ = saved;
    }
    r_.running_ = 0;
}

int cddaCDriveCheck::IsrcTest() {
    if (!r_.isrcCapable_) {
        return 0;
    }
    const int count = r_.TrackCount();
    std::vector<std::string> seen;
    for (int i = 0; i < count; ++i) {
        const TrackEntry& track = r_.tracks_[static_cast<std::size_t>(i)];
        if (track.IsData()) {
            // A data track has no ISRC; a dummy no audio track can have keeps the comparison simple.
            seen.emplace_back(10, static_cast<char>(i + 1));
            continue;
        }
        if (!Running()) {
            return 0;
        }
        Seek(r_, track.start + track.length / 2);
        bool valid = false;
        std::string isrc;
        if (!r_.GetIsrc(i, valid, isrc)) {
            r_.status_ = kStatusIsrcUnread;
            return 0;
        }
        if (!valid) {
            r_.status_ = kStatusIsrcInvalid;
            return 0;
        }
        r_.progress_ = r_.progress_.load() + 1.0 / count;
        if (std::find(seen.begin(), seen.end(), isrc) != seen.end()) {
            return 0;
        }
        seen.push_back(std::move(isrc));
    }
    return 1;
}

bool cddaCDriveCheck::BufferProbe() {
    const auto audio =
        std::find_if(r_.tracks_.begin(), r_.tracks_.end(), [](const TrackEntry& t) { return !t.IsData(); });
    if (audio == r_.tracks_.end()) {
        r_.condition_.bufferSize = kProbeUnit;
        return true;
    }
    const DWORD lba = audio->start;
    const int rememberedSpeed = r_.condition_.speed;
    r_.SetReadSpeed(1);
    Seek(r_, lba);
    // Never past the disc's end: a refusal there would say nothing about the transfer size.
    const DWORD onDisc = r_.lastReadableLba_ >= lba ? r_.lastReadableLba_ - lba + 1 : 1;

    DWORD size = 0;
    // The largest transfer a read of this probe has delivered so far. Only a size that was read may be
    // stored: later opens of the model read with it, and a size the drive never delivered would make
    // every read of theirs fail.
    DWORD delivered = 0;
    bool stopped = false;
    for (DWORD k = 1; k <= 16 && !stopped; k *= 2) {
        r_.progress_ = r_.progress_.load() + 0.2;
        const auto bytes = static_cast<std::size_t>(k * kProbeUnit * 0.95);
        const DWORD sectors = std::min(static_cast<DWORD>(bytes / kSectorBytes), onDisc);
        std::vector<BYTE> buffer;
        try {
            buffer.resize(std::size_t{sectors} * kSectorBytes);
        } catch (const std::bad_alloc&) {
            size = delivered;
            break;
        }
        for (int switches = 0;; ++switches) {
            // Stored before reading: a drive that hangs the machine on this size leaves the last size
            // that worked behind.
            r_.condition_.bufferSize = delivered == 0 ? kProbeUnit / 2 : delivered;
            Store(r_.Identity(), r_.condition_, true);
            const int result = r_.ReadAudio(r_.readMode_.load(), lba, sectors, buffer.data());
            if (result == kTransportInvalidCommand) {
                if (IsReadCdMode(r_.readMode_.load()) && switches < kMostModeSwitches &&
                    r_.SwitchReadMode()) {
                    continue;
                }
                size = kProbeUnit;
                stopped = true;
                break;
            }
            if (result != kTransportOk) {
                if (r_.TestUnitReady() != kTransportOk) {
                    return false;
                }
                size = delivered;
                stopped = true;
                break;
            }
            delivered = k * kProbeUnit;
            if (r_.driveBufferKB_ > 0 && k * kProbeUnit >= r_.driveBufferKB_ * 1024) {
                size = k * kProbeUnit;
                stopped = true;
            } else if (r_.condition_.accurate != 0) {
                size = kProbeUnit;
                stopped = true;
            }
            break;
        }
    }
    if (!stopped && size == 0) {
        size = 16 * kProbeUnit;
    }
    if (size == 0) {
        size = kProbeUnit / 2;
    }
    r_.condition_.bufferSize = size;
    stored_ = Store(r_.Identity(), r_.condition_, true) == 1;
    r_.SetReadSpeed(rememberedSpeed);
    return true;
}

void cddaCDriveCheck::TempFileFailed(CheckReport& report) {
    const int error = errno;
    ShowMessage(std::strerror(error));
    report.status = kStatusTempFile;
}

void cddaCDriveCheck::TrackTest(int track, int step, CheckReport& report) {
    report.speedMultiple = 0.0;
    report.status = kStatusOk;
    report.bytesCompared = report.highDiffer = report.largeDiffer = report.lowDiffer = 0;
    report.realignments = report.averageRealign = report.largestRealign = 0;
    passProgress_ = 0.0;

    FileCloser file{platform::CreateDeleteOnCloseFile(platform::TempDir(), "cda")};
    if (file.fd < 0) {
        TempFileFailed(report);
        return;
    }
    const auto started = std::chrono::steady_clock::now();
    std::size_t written = 0;
    if (!FirstPass(track, file.fd, written, step, report)) {
        return;
    }
    report.jitterCount = r_.JitterCount();
    report.fetchCount = r_.FetchCount();
    r_.condition_.noJitter = r_.NoJitter() ? 1 : 0;
    r_.Release();
    const auto whole =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
    const double seconds = whole.count() < 1 ? 0.5 : static_cast<double>(whole.count());
    const double multiple = static_cast<double>(written) / (seconds * kOneTimesBytesPerSecond);

    if (!SecondPass(track, file.fd, written, step, report)) {
        r_.Release();
        return;
    }
    r_.Release();
    if (report.bytesCompared == 0 ||
        static_cast<double>(report.largeDiffer) / report.bytesCompared > kLargeDifferenceLimit) {
        report.status = kStatusCheckErrors;
        return;
    }
    report.status = kStatusOk;
    report.speedMultiple = multiple;
}

bool cddaCDriveCheck::FirstPass(int track, int fd, std::size_t& written, int step, CheckReport& report) {
    if (r_.SetupRange(track, track, 0) == 0) {
        report.status = r_.Status();
        return false;
    }
    const double total = static_cast<double>(r_.rangeLength_) * kSectorBytes;
    while (Running()) {
        const std::size_t n = r_.Deliver(first_.data(), kPieceBytes);
        const int status = r_.Status();
        if (status == kStatusNoMatch || status == kStatusReadFailed) {
            report.status = status;
            r_.SetStatus(kStatusOk);
            r_.Release();
            return false;
        }
        if (n == 0) {
            if (status == kStatusOk) {
                return true;
            }
            report.status = status;
            r_.Release();
            return false;
        }
        if (!platform::WriteFully(fd, first_.data(), n)) {
            TempFileFailed(report);
            r_.Release();
            return false;
        }
        written += n;
        AddProgress(step, static_cast<double>(n) / total * 0.5);
    }
    r_.Release();
    return false; // stopped
}

bool cddaCDriveCheck::SecondPass(int track, int fd, std::size_t written, int step, CheckReport& report) {
    if (r_.SetupRange(track, track, 0) == 0) {
        report.status = r_.Status();
        return false;
    }
    const double total = static_cast<double>(r_.rangeLength_) * kSectorBytes;
    std::size_t filePosition = 0;
    long long shiftSum = 0;
    while (Running() && filePosition < written) {
        const std::size_t wanted = std::min(kPieceBytes, written - filePosition);
        const std::size_t n = r_.Deliver(second_.data(), wanted);
        const int status = r_.Status();
        if (status != kStatusOk) {
            report.status = status;
            if (status != kStatusNotReady && status != kStatusPlaying) {
                r_.SetStatus(kStatusOk);
            }
            return false;
        }
        if (n == 0) {
            break;
        }
        const std::int64_t got = platform::ReadFullyAt(fd, first_.data(), n, filePosition);
        if (got != static_cast<std::int64_t>(n)) {
            if (got >= 0) {
                errno = EIO;
            }
            TempFileFailed(report);
            return false;
        }
        // The second pass may start a little later in the audio than the first: find where the file's
        // piece begins in the new one and compare from there.
        const std::size_t referenceLength = std::min<std::size_t>(n, kSectorBytes);
        const ReferenceMatch match =
            FindReference(first_.data(), referenceLength, second_.data(), n, 1, kMaxAlignComparisons);
        if (!match.found) {
            report.status = kStatusUnaligned;
            return false;
        }
        const std::size_t shift = match.position;
        const std::size_t compared = n - shift;
        const ByteDifferences d = CountDifferences(first_.data(), second_.data() + shift, compared);
        report.bytesCompared += static_cast<int>(compared);
        report.highDiffer += static_cast<int>(d.highDiffer);
        report.largeDiffer += static_cast<int>(d.large);
        report.lowDiffer += static_cast<int>(d.lowDiffer);
        if (shift != 0) {
            ++report.realignments;
            shiftSum += static_cast<long long>(shift);
            report.largestRealign = std::max(report.largestRealign, static_cast<int>(shift));
        }
        // The next piece of the second pass follows the compared part, not the whole piece read.
        filePosition += compared;
        AddProgress(step, static_cast<double>(n) / total * 0.5);
    }
    report.averageRealign = report.realignments == 0 ? 0 : static_cast<int>(shiftSum / report.realignments);
    return Running();
}

} // namespace discpilot

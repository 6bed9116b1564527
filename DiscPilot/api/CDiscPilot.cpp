#include "CDiscPilot.h"

#include "Platform/CdAddress.h"
#include "Platform/FileIo.h"
#include "Platform/Paths.h"
#include "api/cddaCReaderHolder.h"
#include "check/cddaCDriveCheck.h"
#include "store/DriveSettings.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <system_error>

namespace {

// The check thread writes the result and the flags while the caller's thread reads them: the words
// stay plain members of the exported layout, and are accessed atomically.
template <typename T> T Load(const T& word) noexcept {
    return std::atomic_ref<T>(const_cast<T&>(word)).load();
}
template <typename T> void Put(T& word, T value) noexcept {
    std::atomic_ref<T>(word).store(value);
}

} // namespace

CDiscPilot::CDiscPilot()
    : reader_(nullptr), trackCount_(0), checkResult_(CheckDriveSucceeded), stopRequested_(0),
      checkStarted_(0) {}

CDiscPilot::CDiscPilot(const CDiscPilot& other)
    : reader_(other.reader_), trackCount_(other.trackCount_), checkResult_(Load(other.checkResult_)),
      stopRequested_(Load(other.stopRequested_)), checkStarted_(Load(other.checkStarted_)) {
    if (reader_ != nullptr) {
        ++reader_->references;
    }
}

CDiscPilot& CDiscPilot::operator=(const CDiscPilot& other) {
    if (this == &other) {
        return *this;
    }
    // The reader is shared, not duplicated; counting its owners keeps the second close from destroying
    // it twice.
    if (other.reader_ != nullptr) {
        ++other.reader_->references;
    }
    CloseDrive();
    reader_ = other.reader_;
    trackCount_ = other.trackCount_;
    Put(checkResult_, Load(other.checkResult_));
    Put(stopRequested_, Load(other.stopRequested_));
    Put(checkStarted_, Load(other.checkStarted_));
    return *this;
}

CDiscPilot::~CDiscPilot() {
    CloseDrive();
}

bool CDiscPilot::SetDrive(unsigned char letter) {
    CloseDrive();
    auto* holder = new (std::nothrow) discpilot::cddaCReaderHolder;
    if (holder == nullptr) {
        return false;
    }
    holder->reader.Open(static_cast<char>(letter), false);
    unsigned count = static_cast<unsigned>(holder->reader.TrackCount());
    const int status = holder->reader.Status();
    if (status != discpilot::kStatusOk && status != discpilot::kStatusNoCondition) {
        count = 0;
    }
    if (count != 0 && IsAudioCDInserted(letter) == 0) {
        count = 0;
    }
    if (count == 0) {
        delete holder;
        return false;
    }
    reader_ = holder;
    trackCount_ = count;
    return true;
}

void CDiscPilot::CloseDrive() {
    discpilot::cddaCReaderHolder* holder = reader_;
    if (holder != nullptr && holder->checkOwner == this && holder->checkThread.joinable()) {
        // The check thread works on this object and on the reader: it must end before either goes.
        holder->reader.Running() = 0;
        holder->checkThread.join();
        holder->checkOwner = nullptr;
    }
    reader_ = nullptr;
    trackCount_ = 0;
    if (holder != nullptr && --holder->references == 0) {
        delete holder;
    }
}

bool CDiscPilot::IsOpenDrive() const {
    return reader_ != nullptr;
}

bool CDiscPilot::GetTrackNum(unsigned long& count) {
    if (reader_ == nullptr) {
        return false;
    }
    count = trackCount_;
    return true;
}

bool CDiscPilot::GetTrackLength(unsigned long track, unsigned long& ms) {
    ms = 0;
    if (reader_ == nullptr || track == 0 || track > trackCount_) {
        return false;
    }
    discpilot::TrackEntry entry;
    if (!reader_->reader.GetTrackEntry(static_cast<int>(track - 1), entry)) {
        return false;
    }
    ms = static_cast<DWORD>(entry.length * 40u / 3u);
    return true;
}

bool CDiscPilot::SetPosition(unsigned long track, unsigned long ms) {
    if (reader_ == nullptr) {
        return false;
    }
    DWORD offset = static_cast<DWORD>(ms) * 3u / 40u;
    // The range holds audio tracks only: a data track chosen gives way to the next audio track, and the
    // range ends before the next data track (the drive refuses to read one as audio).
    discpilot::cddaCReader& reader = reader_->reader;
    const auto& tracks = reader.Tracks();
    const auto isData = [&tracks](unsigned long number) {
        return number >= 1 && number <= tracks.size() && tracks[number - 1].IsData();
    };
    unsigned long first = track;
    while (first < trackCount_ && isData(first)) {
        ++first;
        offset = 0;
    }
    unsigned long last = first;
    while (last < trackCount_ && !isData(last + 1) && !isData(first)) {
        ++last;
    }
    if (first != track && isData(first)) {
        last = trackCount_; // nothing audio follows: the set-up refuses the range as before
    }
    reader.SetupRange(static_cast<int>(first), static_cast<int>(std::max(first, last)),
                      static_cast<long>(offset));
    return true;
}

bool CDiscPilot::GetData(unsigned char* buffer, unsigned long bytes) {
    if (reader_ == nullptr) {
        return false;
    }
    reader_->lastDelivered = reader_->reader.Deliver(buffer, bytes);
    return true;
}

int CDiscPilot::IsVolumeEjected(unsigned char) {
    return 0;
}

int CDiscPilot::CheckDrive() {
    if (reader_ != nullptr && reader_->checkThread.joinable()) {
        if (reader_->checkBusy.load()) {
            return 0; // two checks on one reader would read over each other
        }
        reader_->checkThread.join();
        reader_->checkOwner = nullptr;
    }
    Put(checkStarted_, 1);
    Put(stopRequested_, 0);
    Put(checkResult_, CheckDriveSucceeded);
    if (PreDriveCheck() == 0) {
        return 0;
    }
    discpilot::cddaCReader& reader = reader_->reader;
    reader.Progress() = 0.0;
    reader.StepCount() = 0;
    // Running is raised here rather than on the thread, so that a stop asked for before the thread
    // begins is not lost.
    reader.Running() = 1;
    reader_->checkBusy = true;
    reader_->checkOwner = this;
    try {
        reader_->checkThread = std::thread([this] { CheckThreadProc(this); });
    } catch (const std::system_error&) {
        reader_->checkBusy = false;
        reader_->checkOwner = nullptr;
        reader.Running() = 0;
        Put(checkResult_, CheckDriveFailed);
        return 0;
    }
    return 1;
}

int CDiscPilot::PreDriveCheck() {
    if (reader_ == nullptr || reader_->reader.TrackCount() < 1) {
        Put(checkResult_, CheckDriveFailed);
        return 0;
    }
    discpilot::cddaCReader& reader = reader_->reader;
    int index = reader.TrackCount() - 1;
    discpilot::TrackEntry entry;
    while (index >= 0 && (!reader.GetTrackEntry(index, entry) || entry.IsData())) {
        --index;
    }
    std::uint64_t available = 0;
    if (index < 0 || !platform::FreeBytesForCaller(platform::TempDir(), available) ||
        available < std::uint64_t{entry.length} * platform::kCdSectorBytes) {
        Put(checkResult_, CheckDriveFailed);
        return 0;
    }
    return 1;
}

unsigned CDiscPilot::CheckThreadProc(void* controller) {
    auto* self = static_cast<CDiscPilot*>(controller);
    discpilot::cddaCReaderHolder* holder = self->reader_;
    discpilot::CheckReport report;
    discpilot::cddaCDriveCheck check(holder->reader);
    check.Run(report, 90);
    if (report.done != 0) {
        if (report.success != 0) {
            Put(self->checkResult_, CheckDriveSucceeded);
        } else {
            Put(self->checkResult_,
                report.status == discpilot::kStatusProbeFailed ? CheckDriveNotReady : CheckDriveFailed);
        }
        // Only now, with the result in place, may a poller see the check at its end.
        check.FinishProgress();
    }
    if (Load(self->stopRequested_) != 0) {
        Put(self->checkStarted_, 0);
    }
    holder->lastReport = report;
    holder->lastCondition = holder->reader.Condition();
    holder->checkBusy = false;
    return 0;
}

void CDiscPilot::SetMessageBoxHandler(MessageBoxHandler handler, void* context) {
    discpilot::SetCheckMessageBox(handler, context);
}

long CDiscPilot::StopDriveCheck() {
    if (Load(checkStarted_) != 1 || reader_ == nullptr) {
        return E_FAIL;
    }
    Put(stopRequested_, 1);
    reader_->reader.Running() = 0;
    return 0;
}

int CDiscPilot::IsDriveChecked() const {
    if (reader_ == nullptr) {
        return 0;
    }
    discpilot::ReadCondition stored;
    return discpilot::LookUp(reader_->reader.Identity(), false, stored);
}

long CDiscPilot::GetDriveCheckProgress(int& percent) const {
    if (Load(checkStarted_) != 1 || reader_ == nullptr) {
        return E_FAIL;
    }
    if (Load(checkResult_) != CheckDriveSucceeded) {
        percent = -1;
        return 0;
    }
    const double progress = reader_->reader.Progress().load();
    const int steps = reader_->reader.StepCount().load();
    if (steps <= 0) {
        percent = 0;
        return 0;
    }
    percent = static_cast<int>(progress / steps * 100.0);
    if (percent >= 100 && progress != steps) {
        percent = 99;
    }
    return 0;
}

CDiscPilot::CheckDriveResult CDiscPilot::GetDriveCheckError() const {
    return Load(checkResult_);
}

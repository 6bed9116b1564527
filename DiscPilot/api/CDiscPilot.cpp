#include "CDiscPilot.h"

#include "Platform/CdAddress.h"
#include "api/cddaCReaderHolder.h"
#include "store/DriveSettings.h"

#include <filesystem>
#include <new>
#include <system_error>

CDiscPilot::CDiscPilot()
    : reader_(nullptr), trackCount_(0), checkResult_(CheckDriveSucceeded), stopRequested_(0),
      checkStarted_(0) {}

CDiscPilot::CDiscPilot(const CDiscPilot& other)
    : reader_(other.reader_), trackCount_(other.trackCount_), checkResult_(other.checkResult_),
      stopRequested_(other.stopRequested_), checkStarted_(other.checkStarted_) {
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
    checkResult_ = other.checkResult_;
    stopRequested_ = other.stopRequested_;
    checkStarted_ = other.checkStarted_;
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
    const DWORD offset = static_cast<DWORD>(ms) * 3u / 40u;
    reader_->reader.SetupRange(static_cast<int>(track), static_cast<int>(trackCount_),
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
    checkStarted_ = 1;
    stopRequested_ = 0;
    checkResult_ = CheckDriveSucceeded;
    PreDriveCheck();
    // The check thread's work (ISRC test, buffer probe, condition loop) is not in this build.
    checkResult_ = CheckDriveFailed;
    return 0;
}

int CDiscPilot::PreDriveCheck() {
    if (reader_ == nullptr || reader_->reader.TrackCount() < 1) {
        return 0;
    }
    discpilot::cddaCReader& reader = reader_->reader;
    int index = reader.TrackCount() - 1;
    discpilot::TrackEntry entry;
    while (index >= 0 && (!reader.GetTrackEntry(index, entry) || entry.IsData())) {
        --index;
    }
    if (index < 0) {
        return 0;
    }
    std::error_code error;
    const auto space = std::filesystem::space(std::filesystem::temp_directory_path(error), error);
    if (error) {
        return 0;
    }
    return space.available >= static_cast<std::uintmax_t>(entry.length) * platform::kCdSectorBytes ? 1 : 0;
}

unsigned CDiscPilot::CheckThreadProc(void*) {
    return 0;
}

long CDiscPilot::StopDriveCheck() {
    if (checkStarted_ != 1 || reader_ == nullptr) {
        return E_FAIL;
    }
    stopRequested_ = 1;
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
    if (checkStarted_ != 1 || reader_ == nullptr) {
        return E_FAIL;
    }
    if (checkResult_ != CheckDriveSucceeded) {
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
    return checkResult_;
}

namespace discpilot {

const cddaCReaderHolder* ControllerDiagnostics::Holder(const CDiscPilot& controller) noexcept {
    return controller.reader_;
}

} // namespace discpilot

#include "transport/cddaCRawDevice.h"

#include "Platform/ByteOrder.h"
#include "Platform/DriveTable.h"
#include "Platform/VirtualDrive.h"
#include "store/DriveSettings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

namespace discpilot {

namespace {

// Between the end of a session's audio and the next session's first track: its lead-out and the next
// lead-in, in seconds.
constexpr int kSessionGapSeconds = 150;

// A READ TOC reply of formats 0 and 1: the 4-byte header and one 8-byte descriptor.
constexpr std::size_t kTocTrackReplyBytes = 12;

bool IsDataTrack(const platform::CdTocEntry& entry) noexcept {
    return (entry.adrControl & platform::kCdControlData) != 0;
}

} // namespace

cddaCRawDevice::cddaCRawDevice() : marginLba_(ReadMarginLba()) {}

int cddaCRawDevice::Open(char letter) {
    Close();
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    if (upper < 'A' || upper > 'Z') {
        return kTransportNoDevice;
    }
    std::string error;
    auto device = platform::OpenCdDevice(upper, error);
    if (!device) {
        return kTransportNoDevice;
    }
    bool accurate = false, supported = false;
    const platform::DriveEntry entry = platform::FindDrive(upper);
    if (entry.IsImage()) {
        platform::VirtualDriveProfile profile;
        if (platform::LoadVirtualDriveProfile(upper, profile, error)) {
            accurate = profile.cddaAccurate;
            supported = profile.cddaCommands;
        }
    }
    return Attach(letter, std::move(device), accurate, supported);
}

int cddaCRawDevice::Attach(char letter, std::unique_ptr<platform::CdDevice> device, bool cddaAccurate,
                           bool cddaSupported) {
    Close();
    letter_ = letter;
    device_ = std::move(device);
    cddaAccurate_ = cddaAccurate;
    cddaSupported_ = cddaSupported;
    return device_ ? kTransportOk : kTransportNoDevice;
}

void cddaCRawDevice::Close() noexcept {
    device_.reset();
    tocKnown_ = false;
    multiSession_ = false;
    firstSession_ = lastSession_ = 0;
    lastReadableLba_ = -1;
    toc_ = {};
}

int cddaCRawDevice::LoadToc() {
    if (tocKnown_) {
        return kTransportOk;
    }
    platform::CdToc toc;
    if (const int result = device_->ReadToc(toc); result != 0) {
        return result;
    }
    if (toc.entries.empty() || toc.entries.back().track != platform::kCdLeadOutTrack) {
        return EIO;
    }
    platform::CdSessionInfo session;
    if (device_->GetLastSession(session) == 0) {
        firstSession_ = session.firstSession;
        lastSession_ = session.lastSession;
    } else {
        firstSession_ = lastSession_ = 1;
    }
    multiSession_ = lastSession_ > 1;

    // On a multi-session disc whose audio is followed by data, the audio session ends 150 seconds
    // (lead-out and lead-in of the next session) before the first data track that follows audio.
    if (multiSession_) {
        bool sawAudio = false;
        for (std::size_t i = 0; i + 1 < toc.entries.size(); ++i) {
            const platform::CdTocEntry& entry = toc.entries[i];
            if (!IsDataTrack(entry)) {
                sawAudio = true;
                continue;
            }
            if (!sawAudio) {
                continue;
            }
            int seconds = entry.minute * 60 + entry.second - kSessionGapSeconds;
            if (seconds < 0) {
                seconds = 0;
            }
            const platform::CdTocEntry leadOut = platform::CdTocEntry::At(
                platform::kCdLeadOutTrack, toc.entries.back().adrControl,
                {static_cast<BYTE>(seconds / 60), static_cast<BYTE>(seconds % 60), entry.frame});
            toc.entries.resize(i);
            toc.entries.push_back(leadOut);
            toc.lastTrack = toc.entries[i - 1].track;
            break;
        }
    }
    toc_ = std::move(toc);
    const platform::CdTocEntry& leadOut = toc_.entries.back();
    // The last sector before the lead-out.
    lastReadableLba_ = leadOut.Lba() - 1;
    tocKnown_ = true;
    return kTransportOk;
}

LONG cddaCRawDevice::LastReadableLba() {
    if (!device_ || LoadToc() != kTransportOk) {
        return -1;
    }
    return lastReadableLba_;
}

int cddaCRawDevice::ModeSense(int page, bool tenByte, ModeBuffer buffer) {
    if (!device_) {
        return kTransportNoDevice;
    }
    std::ranges::fill(buffer, BYTE{0});
    if ((page & 0x3F) == 0x3F) {
        // A header with one block descriptor: density code 0, block length 0.
        if (tenByte) {
            buffer[1] = 6 + 8;
            buffer[7] = 8;
        } else {
            buffer[0] = 3 + 8;
            buffer[3] = 8;
        }
        return kTransportOk;
    }
    if ((page & 0x3F) != 0x2A) {
        return kTransportBadArgument;
    }
    const std::size_t at = tenByte ? 8 : 4;
    BYTE* p = buffer.data() + at;
    if (tenByte) {
        buffer[1] = static_cast<BYTE>(6 + 22);
    } else {
        buffer[0] = static_cast<BYTE>(3 + 22);
    }
    p[0] = 0x2A;
    p[1] = 20;
    p[5] = static_cast<BYTE>(0x20 | (cddaSupported_ ? 0x01 : 0) | (cddaAccurate_ ? 0x02 : 0));
    p[8] = 0;
    p[9] = 176; // maximum speed: 1× (176 kB/s); the device controls cannot change it
    p[14] = 0;
    p[15] = 176; // current speed
    return kTransportOk;
}

int cddaCRawDevice::ModeSelect(BYTE, WORD, bool) {
    return device_ ? kTransportOk : kTransportNoDevice;
}

int cddaCRawDevice::Seek6(DWORD) {
    return device_ ? kTransportOk : kTransportNoDevice;
}

int cddaCRawDevice::Seek10(DWORD) {
    return device_ ? kTransportOk : kTransportNoDevice;
}

int cddaCRawDevice::SetSpeed(int) {
    return kTransportNoDevice;
}

int cddaCRawDevice::TestUnitReady() {
    if (!device_) {
        return kTransportNoDevice;
    }
    // The drive's own status tells a drive still spinning up from an empty one; a device that cannot
    // tell is asked what the disc holds.
    platform::CdDriveStatus status = platform::CdDriveStatus::NoInfo;
    if (device_->DriveStatus(status) == 0) {
        if (status == platform::CdDriveStatus::NotReady) {
            return kTransportNotReady;
        }
        if (status == platform::CdDriveStatus::NoDisc || status == platform::CdDriveStatus::TrayOpen) {
            return kTransportNoMedium;
        }
    }
    DWORD type = 0;
    if (const int result = device_->GetDiskType(type); result != 0) {
        return result == ENOMEDIUM ? kTransportNoMedium : result;
    }
    // A mixed disc (audio and data) is as ready for audio reading as an audio-only one.
    return (type & platform::kCdDiskAudio) != 0 ? kTransportOk : kTransportNoMedium;
}

int cddaCRawDevice::ReadSubChannel(int format, int track, SubChannelBuffer buffer) {
    if (!device_) {
        return kTransportNoDevice;
    }
    if (format < 1 || format > 3) {
        return kTransportBadArgument;
    }
    std::ranges::fill(buffer, BYTE{0});
    buffer[3] = kSubChannelReplyBytes; // data length as the device controls report it
    buffer[4] = static_cast<BYTE>(format);
    if (format == 1) {
        platform::CdQPosition position;
        if (const int result = device_->ReadPosition(position); result != 0) {
            return result;
        }
        buffer[1] = position.audioStatus;
        buffer[5] = position.adrControl;
        buffer[6] = position.track;
        buffer[7] = position.index;
        platform::WriteBe32(buffer.data() + 8, static_cast<DWORD>(position.absoluteLba));
        platform::WriteBe32(buffer.data() + 12, static_cast<DWORD>(position.relativeLba));
        return kTransportOk;
    }
    platform::CdQText text;
    const int result =
        format == 2 ? device_->ReadCatalogue(text) : device_->ReadIsrc(static_cast<BYTE>(track), text);
    if (result != 0) {
        return result;
    }
    buffer[8] = text.valid ? 0x80 : 0x00;
    std::memcpy(buffer.data() + 9, text.text.data(), std::min<std::size_t>(text.text.size(), 14));
    return kTransportOk;
}

int cddaCRawDevice::ReadCdText(std::span<BYTE> buffer) {
    if (!device_) {
        return kTransportNoDevice;
    }
    if (buffer.empty()) {
        return kTransportBadArgument;
    }
    DWORD length = 0;
    return device_->ReadCdText(buffer.data(),
                               static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 0xFFFF)), length);
}

int cddaCRawDevice::ReadToc(int format, int trackOrSession, bool, TocBuffer buffer) {
    if (!device_) {
        return kTransportNoDevice;
    }
    if (format < 0 || format > 2) {
        return kTransportBadArgument;
    }
    if (const int result = LoadToc(); result != kTransportOk) {
        return result;
    }
    // Only the bytes the drive would transfer are cleared: a header and one descriptor for formats 0 and
    // 1, the whole buffer for the full TOC.
    std::fill_n(buffer.begin(), format == 2 ? kTocReplyBytes : kTocTrackReplyBytes, BYTE{0});
    if (format == 0) {
        const auto wanted = static_cast<BYTE>(trackOrSession == 0 ? toc_.firstTrack : trackOrSession);
        const auto found =
            std::find_if(toc_.entries.begin(), toc_.entries.end(),
                         [wanted](const platform::CdTocEntry& e) { return e.track == wanted; });
        if (found == toc_.entries.end()) {
            return EINVAL;
        }
        buffer[1] = 10;
        buffer[2] = toc_.firstTrack;
        buffer[3] = toc_.lastTrack;
        buffer[5] = found->adrControl;
        buffer[6] = found->track;
        platform::WriteBe32(buffer.data() + 8, static_cast<DWORD>(found->Lba()));
        return kTransportOk;
    }
    if (format == 1) {
        buffer[1] = 10;
        buffer[2] = firstSession_;
        buffer[3] = lastSession_;
        buffer[5] = toc_.entries.front().adrControl;
        buffer[6] = toc_.entries.front().track;
        platform::WriteBe32(buffer.data() + 8, static_cast<DWORD>(toc_.entries.front().Lba()));
        return kTransportOk;
    }
    // Full TOC of session 1: first track, last track, lead-out and track 1's start.
    buffer[1] = 2 + 4 * 11;
    buffer[2] = firstSession_;
    buffer[3] = lastSession_;
    const platform::CdTocEntry& first = toc_.entries.front();
    const platform::CdTocEntry& leadOut = toc_.entries.back();
    auto descriptor = [&](int index, BYTE point, BYTE adrControl, BYTE m, BYTE s, BYTE f) {
        BYTE* d = buffer.data() + 4 + index * 11;
        d[0] = 1;
        d[1] = adrControl;
        d[3] = point;
        d[8] = m;
        d[9] = s;
        d[10] = f;
    };
    descriptor(0, 0xA0, first.adrControl, toc_.firstTrack, 0, 0);
    descriptor(1, 0xA1, toc_.entries[toc_.entries.size() - 2].adrControl, toc_.lastTrack, 0, 0);
    descriptor(2, 0xA2, leadOut.adrControl, leadOut.minute, leadOut.second, leadOut.frame);
    descriptor(3, first.track, first.adrControl, first.minute, first.second, first.frame);
    return kTransportOk;
}

int cddaCRawDevice::ReadAudio(DWORD, DWORD lba, DWORD count, BYTE* buffer) {
    if (!device_) {
        return kTransportNoDevice;
    }
    if (count == 0) {
        return kTransportOk;
    }
    std::vector<BYTE> request(kRawReadSectors * kSectorBytes);
    for (DWORD done = 0; done < count;) {
        const DWORD n = std::min(kRawReadSectors, count - done);
        const auto from = static_cast<LONG>(lba + done);
        std::fill(request.begin(), request.end(), 0);
        const int result = device_->ReadAudio(from, n, request.data());
        if (result == 0) {
            std::memcpy(buffer + std::size_t{done} * kSectorBytes, request.data(),
                        std::size_t{n} * kSectorBytes);
            done += n;
            continue;
        }
        if (result == ETIMEDOUT) {
            return kTransportTimedOut;
        }
        // Drives often cannot read the very last sectors before the lead-out; only there is a failure
        // retried sector by sector, so that the sectors before the one that fails are delivered. The
        // failure itself is reported: the reader retries it, and what stays unreadable it counts and
        // delivers as silence, as anywhere else on the disc.
        const LONG last = LastReadableLba();
        const LONG margin = static_cast<LONG>(std::min<DWORD>(marginLba_, 0x7FFFFFFF));
        const LONG limit = margin < last ? last - margin : last;
        if (last < 0 || from + static_cast<LONG>(n) - 1 < limit) {
            return result;
        }
        for (DWORD i = 0; i < n; ++i) {
            std::fill(request.begin(), request.begin() + kSectorBytes, 0);
            if (const int one = device_->ReadAudio(from + static_cast<LONG>(i), 1, request.data());
                one != 0) {
                return one == ETIMEDOUT ? kTransportTimedOut : one;
            }
            std::memcpy(buffer + std::size_t{done + i} * kSectorBytes, request.data(), kSectorBytes);
        }
        done += n;
    }
    return kTransportOk;
}

} // namespace discpilot

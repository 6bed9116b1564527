// Helpers shared by every pass-through implementation: sense in the fixed format and INQUIRY.
#include "Platform/ScsiPassThrough.h"

#include "Platform/ByteOrder.h"
#include "Platform/MmcCommands.h"

#include <cerrno>
#include <cstring>

namespace platform {

std::array<BYTE, kSenseBytes> MakeFixedSense(BYTE key, BYTE asc, BYTE ascq, LONG information) noexcept {
    std::array<BYTE, kSenseBytes> sense{};
    sense[0] = 0x70;
    if (information >= 0) {
        sense[0] |= 0x80;
        WriteBe32(sense.data() + 3, static_cast<DWORD>(information));
    }
    sense[2] = key & 0x0F;
    sense[7] = kSenseBytes - 8;
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

std::array<BYTE, kSenseBytes> ToFixedSense(const BYTE* sense, std::size_t length) noexcept {
    std::array<BYTE, kSenseBytes> fixed{};
    if (sense == nullptr || length < 1) {
        return fixed;
    }
    const BYTE code = sense[0] & 0x7F;
    if ((code == 0x70 || code == 0x71) && length >= 14) {
        std::memcpy(fixed.data(), sense, length < kSenseBytes ? length : kSenseBytes);
        return fixed;
    }
    if ((code == 0x72 || code == 0x73) && length >= 4) {
        // Descriptor format: key, ASC and ASCQ sit in bytes 1..3; the information descriptor (type 0)
        // carries the LBA when present.
        LONG information = -1;
        const std::size_t total = length >= 8 ? 8 + std::size_t{sense[7]} : length;
        for (std::size_t at = 8; at + 12 <= total && at + 12 <= length; at += 2 + sense[at + 1]) {
            if (sense[at] == 0x00 && (sense[at + 2] & 0x80) != 0) {
                information = static_cast<LONG>(ReadBe32(sense + at + 8));
                break;
            }
        }
        fixed = MakeFixedSense(sense[1], sense[2], sense[3], information);
        if (code == 0x73) {
            fixed[0] = (fixed[0] & 0x80) | 0x71;
        }
    }
    return fixed;
}

int Inquire(ScsiPassThrough& device, ScsiIdentity& identity) {
    ScsiCommand cmd;
    cmd.cdb[0] = mmc::kInquiry;
    cmd.cdb[4] = 36;
    cmd.cdbLength = 6;
    cmd.direction = ScsiDirection::In;
    cmd.data = identity.raw.data();
    cmd.dataLength = static_cast<DWORD>(identity.raw.size());
    identity.raw.fill(0);
    ScsiAnswer answer;
    if (device.Execute(cmd, answer) != 0) {
        return answer.error;
    }
    if (answer.status != kScsiGood || answer.transferred < 8) {
        return EIO;
    }
    const auto text = [&](std::size_t from, std::size_t count) {
        std::string s(reinterpret_cast<const char*>(identity.raw.data() + from), count);
        for (char& c : s) {
            if (c == '\0') {
                c = ' ';
            }
        }
        return s;
    };
    identity.deviceType = identity.raw[0] & 0x1F;
    identity.removable = (identity.raw[1] & 0x80) != 0;
    identity.vendor = text(8, 8);
    identity.product = text(16, 16);
    identity.revision = text(32, 4);
    return 0;
}

} // namespace platform

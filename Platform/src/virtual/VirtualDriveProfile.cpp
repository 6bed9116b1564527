// The virtual drive's profile: identity, capabilities and faults from the machine registry, and the
// parsers of its fault lists.
#include "Platform/ByteOrder.h"
#include "Platform/Registry.h"
#include "Platform/Text.h"
#include "Platform/VirtualDrive.h"

#include <algorithm>

namespace platform {

namespace {

// A number in base with an optional sign, within [low, high]. Longer texts than any value in range
// are refused before conversion.
bool ParseLong(std::string_view text, int base, long long low, long long high, long long& value) {
    if (text.size() > 12) {
        return false;
    }
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text[0] == '-') {
            return false;
        }
    }
    const std::optional<long long> parsed = ParseInteger<long long>(text, base);
    if (!parsed || *parsed < low || *parsed > high) {
        return false;
    }
    value = *parsed;
    return true;
}

std::vector<std::string_view> Split(std::string_view text, std::string_view separators) {
    std::vector<std::string_view> parts;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const std::size_t end = std::min(text.find_first_of(separators, pos), text.size());
        parts.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return parts;
}

std::vector<std::string_view> Entries(std::string_view text) {
    std::vector<std::string_view> entries;
    for (std::string_view part : Split(text, ", \t")) {
        if (!part.empty()) {
            entries.push_back(part);
        }
    }
    return entries;
}

constexpr long long kMaxLba = kCdMaxMsfFrames;
constexpr long long kMaxShift = 1 << 20;

// Reads the values of one drive's key. The first value of the wrong type stops the reading: later reads
// leave their defaults and Error() names that value.
class ProfileValues {
public:
    explicit ProfileValues(char letter)
        : keyPath_(std::string("Software\\Orva Corporation\\Drives\\") + letter) {
        open_ = RegOpenKeyEx(HKEY_LOCAL_MACHINE, keyPath_, KEY_READ, key_.Out()) == ERROR_SUCCESS;
    }

    bool Open() const noexcept { return open_; }
    bool Ok() const noexcept { return error_.empty(); }
    const std::string& Error() const noexcept { return error_; }

    void Fail(std::string_view name, std::string_view why) {
        if (Ok()) {
            error_ = "HKEY_LOCAL_MACHINE\\" + keyPath_ + " value \"" + std::string(name) +
                     "\": " + std::string(why);
        }
    }

    // True when the value is there and is a string (out then holds it).
    bool String(std::string_view name, std::string& out) {
        DWORD type = 0;
        std::vector<BYTE> data;
        if (!Ok() || !Query(name, type, data)) {
            return false;
        }
        if (type != REG_SZ) {
            Fail(name, "must be a string");
            return false;
        }
        out = RegStringFromData(data.data(), data.size());
        return true;
    }

    void Dword(std::string_view name, DWORD& out) {
        DWORD type = 0;
        std::vector<BYTE> data;
        if (!Ok() || !Query(name, type, data)) {
            return;
        }
        if (type != REG_DWORD || data.size() != 4) {
            Fail(name, "must be a DWORD");
            return;
        }
        out = ReadLe32(data.data());
    }

    void Flag(std::string_view name, bool& out) {
        DWORD value = out ? 1 : 0;
        Dword(name, value);
        out = value != 0;
    }

private:
    bool Query(std::string_view name, DWORD& type, std::vector<BYTE>& data) {
        return RegQueryValueData(key_.Get(), name, &type, &data);
    }

    std::string keyPath_;
    RegKeyHolder key_;
    bool open_ = false;
    std::string error_;
};

} // namespace

bool ParseJitterList(std::string_view text, std::vector<VirtualDriveProfile::Jitter>& out,
                     std::string& error) {
    out.clear();
    for (std::string_view entry : Entries(text)) {
        const auto fields = Split(entry, ":");
        long long lba = 0, shift = 0, reads = 0;
        if ((fields.size() != 2 && fields.size() != 3) || !ParseLong(fields[0], 10, 0, kMaxLba, lba) ||
            !ParseLong(fields[1], 10, -kMaxShift, kMaxShift, shift) ||
            (fields.size() == 3 && !ParseLong(fields[2], 10, 0, 0xFFFFFFFF, reads))) {
            error = "\"" + std::string(entry) + "\" is not LBA:SHIFT[:READS]";
            return false;
        }
        out.push_back({static_cast<LONG>(lba), static_cast<int>(shift), static_cast<DWORD>(reads), 0});
    }
    return true;
}

bool ParseReadErrorList(std::string_view text, std::vector<VirtualDriveProfile::ReadError>& out,
                        std::string& error) {
    out.clear();
    for (std::string_view entry : Entries(text)) {
        const auto fields = Split(entry, ":");
        const auto sense = fields.size() >= 2 ? Split(fields[1], "/") : std::vector<std::string_view>{};
        long long lba = 0, key = 0, asc = 0, ascq = 0, tries = 0;
        if ((fields.size() != 2 && fields.size() != 3) || sense.size() != 3 ||
            !ParseLong(fields[0], 10, 0, kMaxLba, lba) || !ParseLong(sense[0], 16, 1, 0x0F, key) ||
            !ParseLong(sense[1], 16, 0, 0xFF, asc) || !ParseLong(sense[2], 16, 0, 0xFF, ascq) ||
            (fields.size() == 3 && !ParseLong(fields[2], 10, 0, 0xFFFFFFFF, tries))) {
            error = "\"" + std::string(entry) + "\" is not LBA:KEY/ASC/ASCQ[:TRIES]";
            return false;
        }
        out.push_back({static_cast<LONG>(lba), static_cast<BYTE>(key), static_cast<BYTE>(asc),
                       static_cast<BYTE>(ascq), static_cast<DWORD>(tries), 0});
    }
    return true;
}

bool ParseHangList(std::string_view text, std::vector<VirtualDriveProfile::Hang>& out, std::string& error) {
    out.clear();
    for (std::string_view entry : Entries(text)) {
        const auto fields = Split(entry, ":");
        long long lba = 0, times = 0;
        if ((fields.size() != 1 && fields.size() != 2) || !ParseLong(fields[0], 10, 0, kMaxLba, lba) ||
            (fields.size() == 2 && !ParseLong(fields[1], 10, 0, 0xFFFFFFFF, times))) {
            error = "\"" + std::string(entry) + "\" is not LBA[:TIMES]";
            return false;
        }
        out.push_back({static_cast<LONG>(lba), static_cast<DWORD>(times), 0});
    }
    return true;
}

bool LoadVirtualDriveProfile(char letter, VirtualDriveProfile& profile, std::string& error) {
    ProfileValues values(letter);
    if (!values.Open()) {
        return true; // no key: every default
    }
    values.String("Vendor", profile.vendor);
    values.String("Product", profile.product);
    values.String("Revision", profile.revision);
    values.Dword("MaxSpeed", profile.maxSpeed);
    values.Dword("BufferKB", profile.bufferKB);
    values.Dword("MaxTransfer", profile.maxTransfer);
    values.Flag("CddaCommands", profile.cddaCommands);
    values.Flag("CddaAccurate", profile.cddaAccurate);
    values.Flag("Isrc", profile.isrc);
    values.Flag("Upc", profile.upc);
    values.Flag("RefuseReadCd", profile.refuseReadCd);
    values.Flag("BigEndianRead", profile.bigEndianRead10);
    values.Dword("NotReadyCommands", profile.notReadyCommands);
    values.Dword("StaleCache", profile.staleCacheSectors);
    values.Dword("BusyLocks", profile.busyLocks);
    values.Flag("HeldOpen", profile.heldOpen);
    values.Dword("HostAdapter", profile.hostAdapter);
    values.Dword("Target", profile.target);
    values.Dword("DriveType", profile.driveType);
    values.Dword("Noise", profile.noisePerMille);
    values.Dword("SpinUpMs", profile.spinUpMs);
    values.Dword("SeekJitter", profile.seekJitterBytes);
    values.Dword("SeekJitterPercent", profile.seekJitterPercent);
    DWORD offset = static_cast<DWORD>(profile.readOffset);
    values.Dword("ReadOffset", offset);
    profile.readOffset = static_cast<LONG>(offset); // a negative offset is stored in two's complement
    values.Dword("HangMs", profile.hangMs);
    values.String("CommandLog", profile.commandLog);
    std::string list;
    std::string why;
    if (values.String("Jitter", list) && !ParseJitterList(list, profile.jitter, why)) {
        values.Fail("Jitter", why);
    }
    if (values.String("ReadErrors", list) && !ParseReadErrorList(list, profile.readErrors, why)) {
        values.Fail("ReadErrors", why);
    }
    if (values.String("HangReads", list) && !ParseHangList(list, profile.hangReads, why)) {
        values.Fail("HangReads", why);
    }
    if (values.Ok() && profile.seekJitterBytes > kMaxShift) {
        values.Fail("SeekJitter", "more than 1048576 bytes");
    }
    if (values.Ok() && profile.seekJitterPercent > 100) {
        values.Fail("SeekJitterPercent", "more than 100 per cent");
    }
    if (values.Ok() && (profile.readOffset > VirtualDriveProfile::kLargestReadOffset ||
                        profile.readOffset < -VirtualDriveProfile::kLargestReadOffset)) {
        values.Fail("ReadOffset", "must be within -5880..5880 samples");
    }
    if (values.Ok() && profile.noisePerMille > 1000) {
        values.Fail("Noise", "more than 1000 per mille");
    }
    if (values.Ok() && profile.hostAdapter > 15) {
        values.Fail("HostAdapter", "must be 0..15");
    }
    if (values.Ok() && profile.target != VirtualDriveProfile::kTargetByLetter && profile.target > 15) {
        values.Fail("Target", "must be 0..15");
    }
    if (values.Ok() && profile.driveType != 2 && profile.driveType != 5) {
        values.Fail("DriveType", "must be 2 (removable) or 5 (CD)");
    }
    if (values.Ok() && profile.maxSpeed == 0) {
        values.Fail("MaxSpeed", "must be at least 1");
    }
    if (!values.Ok()) {
        error = values.Error();
        return false;
    }
    return true;
}

} // namespace platform

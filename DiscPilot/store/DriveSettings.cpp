#include "store/DriveSettings.h"

#include "Platform/ByteOrder.h"
#include "Platform/Registry.h"
#include "Platform/Text.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <system_error>
#include <vector>

namespace discpilot {

using namespace platform;

namespace {

using KeyHolder = RegKeyHolder;

// The machine key is only read: reading the transport settings never writes the machine file, which an
// administrator may have written by hand. A missing key leaves every value at its default.
bool OpenMachineKey(KeyHolder& key) {
    return RegOpenKeyEx(HKEY_LOCAL_MACHINE, kMachineKey, KEY_READ, key.Out()) == ERROR_SUCCESS;
}

// A string value as text, cut at its first NUL; false when missing, not a string or longer than maxBytes.
bool ReadString(HKEY key, const char* name, DWORD maxBytes, std::string& text) {
    std::vector<BYTE> data(maxBytes);
    DWORD type = 0;
    DWORD size = maxBytes;
    if (RegQueryValueEx(key, name, &type, data.data(), &size) != ERROR_SUCCESS || type != REG_SZ) {
        return false;
    }
    text = RegStringFromData(data.data(), size);
    return true;
}

std::string LetterKeyPath(const DriveIdentity& identity) {
    return std::string(kUserKey) + "\\" + static_cast<char>(identity.letter);
}

} // namespace

int ReadCdromMode() {
    KeyHolder key;
    std::string text;
    if (!OpenMachineKey(key) || !ReadString(key.Get(), "Cdrom_Mode", 32, text)) {
        return kCdromModeRaw;
    }
    if (EqualsNoCase(text, "ASPI&RAW")) {
        return kCdromModeAspiThenRaw;
    }
    if (EqualsNoCase(text, "ASPI")) {
        return kCdromModeAspi;
    }
    if (EqualsNoCase(text, "RAW")) {
        return kCdromModeRaw;
    }
    return kCdromModeRaw;
}

DWORD ReadAspiTimeOut() {
    KeyHolder key;
    std::string text;
    if (!OpenMachineKey(key) || !ReadString(key.Get(), "ASPITimeOut", 64, text)) {
        return kDefaultAspiTimeOutMs;
    }
    // Leading digits count, as a C conversion reads them; anything else (and a zero time-out, which
    // would fail every command that is not answered at once) keeps the default.
    const std::size_t from = std::min(text.find_first_not_of(" \t"), text.size());
    DWORD value = 0;
    const auto [stop, error] = std::from_chars(text.data() + from, text.data() + text.size(), value);
    return error == std::errc{} && value != 0 ? value : kDefaultAspiTimeOutMs;
}

DWORD ReadMarginLba() {
    KeyHolder key;
    if (!OpenMachineKey(key)) {
        return kDefaultMarginLba;
    }
    BYTE data[4] = {};
    DWORD type = 0;
    DWORD size = sizeof data;
    if (RegQueryValueEx(key.Get(), "MARGIN_LBA", &type, data, &size) != ERROR_SUCCESS || type != REG_DWORD ||
        size != 4) {
        return kDefaultMarginLba;
    }
    return platform::ReadLe32(data);
}

std::array<BYTE, kReadConditionBytes> ReadCondition::Pack() const noexcept {
    std::array<BYTE, kReadConditionBytes> out{};
    platform::WriteLe32(out.data(), valid);
    platform::WriteLe32(out.data() + 4, cddaCommands);
    platform::WriteLe32(out.data() + 8, isrc);
    platform::WriteLe32(out.data() + 12, accurate);
    platform::WriteLe32(out.data() + 16, noJitter);
    platform::WriteLe16(out.data() + 20, speed);
    platform::WriteLe16(out.data() + 22, overlap);
    platform::WriteLe32(out.data() + 24, bufferSize);
    return out;
}

ReadCondition ReadCondition::Unpack(const std::array<BYTE, kReadConditionBytes>& bytes) noexcept {
    const BYTE* b = bytes.data();
    ReadCondition c;
    c.valid = platform::ReadLe32(b);
    c.cddaCommands = platform::ReadLe32(b + 4);
    c.isrc = platform::ReadLe32(b + 8);
    c.accurate = platform::ReadLe32(b + 12);
    c.noJitter = platform::ReadLe32(b + 16);
    c.speed = static_cast<WORD>(platform::ReadLe16(b + 20));
    c.overlap = static_cast<WORD>(platform::ReadLe16(b + 22));
    c.bufferSize = platform::ReadLe32(b + 24);
    return c;
}

int Store(const DriveIdentity& identity, const ReadCondition& condition, bool bufferSizeFlag) {
    KeyHolder key;
    const std::string path = LetterKeyPath(identity) + "\\" + identity.ModelName();
    if (RegCreateKeyEx(HKEY_CURRENT_USER, path, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, key.Out(),
                       nullptr) != ERROR_SUCCESS) {
        return 0;
    }
    const auto info = identity.Pack();
    if (RegSetValueEx(key.Get(), "Drive Info", REG_BINARY, info.data(), static_cast<DWORD>(info.size())) !=
        ERROR_SUCCESS) {
        return 0;
    }
    const auto record = condition.Pack();
    const LONG result = bufferSizeFlag
                            ? RegSetValueEx(key.Get(), "Buffer Size", REG_BINARY, record.data() + 24, 4)
                            : RegSetValueEx(key.Get(), "Read Condition", REG_BINARY, record.data(),
                                            static_cast<DWORD>(record.size()));
    return result == ERROR_SUCCESS ? 1 : 0;
}

namespace {

// Calls found(model key) for each model key below the identity's letter key whose "Drive Info" is the same
// drive in the same place, until it returns true; true then.
template <typename Found> bool ForEachSameDrive(const DriveIdentity& identity, Found found) {
    // Opened, not created: a look-up only reads, and a missing chain holds nothing to find, so a command
    // that reads a disc leaves the user's settings file as it was (or absent).
    KeyHolder letterKey;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, LetterKeyPath(identity), KEY_READ, letterKey.Out()) !=
        ERROR_SUCCESS) {
        return false;
    }
    for (DWORD index = 0;; ++index) {
        std::string name;
        DWORD nameChars = 129;
        const LONG result = RegEnumKeyEx(letterKey.Get(), index, &name, &nameChars);
        if (result == ERROR_NO_MORE_ITEMS) {
            return false;
        }
        if (result != ERROR_SUCCESS) {
            continue; // a name too long for the original's buffer is passed over
        }
        KeyHolder model;
        if (RegOpenKeyEx(letterKey.Get(), name, KEY_READ, model.Out()) != ERROR_SUCCESS) {
            continue;
        }
        std::array<BYTE, kDriveIdentityBytes> info{};
        DWORD type = 0;
        DWORD size = static_cast<DWORD>(info.size());
        if (RegQueryValueEx(model.Get(), "Drive Info", &type, info.data(), &size) != ERROR_SUCCESS ||
            !DriveIdentity::Unpack(info).SameDrive(identity)) {
            continue;
        }
        if (found(model.Get())) {
            return true;
        }
    }
}

} // namespace

int StoreReadOffset(const DriveIdentity& identity, LONG samples) {
    if (samples < -kLargestReadOffset || samples > kLargestReadOffset) {
        return 0;
    }
    KeyHolder key;
    const std::string path = LetterKeyPath(identity) + "\\" + identity.ModelName();
    if (RegCreateKeyEx(HKEY_CURRENT_USER, path, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, key.Out(),
                       nullptr) != ERROR_SUCCESS) {
        return 0;
    }
    const auto info = identity.Pack();
    BYTE data[4];
    platform::WriteLe32(data, static_cast<DWORD>(samples)); // a negative offset in two's complement
    return RegSetValueEx(key.Get(), "Drive Info", REG_BINARY, info.data(), static_cast<DWORD>(info.size())) ==
                       ERROR_SUCCESS &&
                   RegSetValueEx(key.Get(), "Read Offset", REG_DWORD, data, 4) == ERROR_SUCCESS
               ? 1
               : 0;
}

int LookUpReadOffset(const DriveIdentity& identity, LONG& samples) {
    return ForEachSameDrive(identity,
                            [&samples](HKEY model) {
                                BYTE data[4] = {};
                                DWORD type = 0;
                                DWORD size = sizeof data;
                                if (RegQueryValueEx(model, "Read Offset", &type, data, &size) !=
                                        ERROR_SUCCESS ||
                                    type != REG_DWORD || size != 4) {
                                    return false;
                                }
                                const auto value = static_cast<LONG>(platform::ReadLe32(data));
                                if (value < -kLargestReadOffset || value > kLargestReadOffset) {
                                    return false; // a damaged value is no offset
                                }
                                samples = value;
                                return true;
                            })
               ? 1
               : 0;
}

int LookUp(const DriveIdentity& identity, bool bufferSizeFlag, ReadCondition& condition) {
    if (bufferSizeFlag) {
        condition.bufferSize = 0;
    }
    bool found = false;
    ForEachSameDrive(identity, [&](HKEY model) {
        DWORD type = 0;
        DWORD size = 0;
        if (bufferSizeFlag) {
            BYTE data[4] = {};
            size = sizeof data;
            if (RegQueryValueEx(model, "Buffer Size", &type, data, &size) == ERROR_SUCCESS && size == 4) {
                condition.bufferSize = platform::ReadLe32(data);
                found = true;
            }
        } else {
            std::array<BYTE, kReadConditionBytes> record{};
            size = static_cast<DWORD>(record.size());
            if (RegQueryValueEx(model, "Read Condition", &type, record.data(), &size) == ERROR_SUCCESS &&
                size == record.size()) {
                condition = ReadCondition::Unpack(record);
                found = true;
            }
        }
        return found;
    });
    return found ? 1 : 0;
}

int LoadAtOpen(const DriveIdentity& identity, ReadCondition& condition) {
    const int found = LookUp(identity, false, condition);
    ReadCondition size;
    if (LookUp(identity, true, size) != 0) {
        condition.bufferSize = size.bufferSize;
    }
    return found;
}

void Forget(const DriveIdentity& identity) {
    ReadCondition stored;
    if (LookUp(identity, false, stored) != 0) {
        return;
    }
    KeyHolder letterKey;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, LetterKeyPath(identity), KEY_ALL_ACCESS, letterKey.Out()) ==
        ERROR_SUCCESS) {
        RegDeleteKey(letterKey.Get(), identity.ModelName());
    }
}

} // namespace discpilot

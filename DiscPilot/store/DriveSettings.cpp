#include "store/DriveSettings.h"

#include "Platform/Registry.h"
#include "Platform/Text.h"

#include <string>
#include <vector>

namespace discpilot {

using namespace platform;

namespace {

// Closes a key on every path out of a function.
class KeyHolder {
public:
    KeyHolder() = default;
    ~KeyHolder() { RegCloseKey(key_); }
    KeyHolder(const KeyHolder&) = delete;
    KeyHolder& operator=(const KeyHolder&) = delete;
    HKEY* Out() noexcept { return &key_; }
    HKEY Get() const noexcept { return key_; }

private:
    HKEY key_ = nullptr;
};

// The machine key is opened through create, so an administrator finds it in place after the first run;
// when the machine root cannot be written the key may be missing, and every value keeps its default.
bool OpenMachineKey(KeyHolder& key) {
    return RegCreateKeyEx(HKEY_LOCAL_MACHINE, kMachineKey, REG_OPTION_NON_VOLATILE, KEY_READ, key.Out(),
                          nullptr) == ERROR_SUCCESS;
}

// A string value as text, cut at its first NUL; false when missing, not a string or longer than maxBytes.
bool ReadString(HKEY key, const char* name, DWORD maxBytes, std::string& text) {
    std::vector<BYTE> data(maxBytes);
    DWORD type = 0;
    DWORD size = maxBytes;
    if (RegQueryValueEx(key, name, &type, data.data(), &size) != ERROR_SUCCESS || type != REG_SZ) {
        return false;
    }
    std::u16string units;
    for (DWORD i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit == u'\0') {
            break;
        }
        units.push_back(unit);
    }
    text = Utf16ToUtf8(units);
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
    std::size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) {
        ++pos;
    }
    unsigned long long value = 0;
    bool digits = false;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        digits = true;
        value = value * 10 + static_cast<unsigned>(text[pos] - '0');
        if (value > 0xFFFFFFFFull) {
            return kDefaultAspiTimeOutMs;
        }
    }
    return digits && value != 0 ? static_cast<DWORD>(value) : kDefaultAspiTimeOutMs;
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
    return static_cast<DWORD>(data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24);
}

std::array<BYTE, kReadConditionBytes> ReadCondition::Pack() const noexcept {
    std::array<BYTE, kReadConditionBytes> out{};
    auto put = [&out](std::size_t at, DWORD value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out[at + i] = static_cast<BYTE>(value >> (8 * i));
        }
    };
    put(0, valid, 4);
    put(4, cddaCommands, 4);
    put(8, isrc, 4);
    put(12, accurate, 4);
    put(16, noJitter, 4);
    put(20, speed, 2);
    put(22, overlap, 2);
    put(24, bufferSize, 4);
    return out;
}

ReadCondition ReadCondition::Unpack(const std::array<BYTE, kReadConditionBytes>& bytes) noexcept {
    auto get = [&bytes](std::size_t at, int count) {
        DWORD value = 0;
        for (int i = count - 1; i >= 0; --i) {
            value = value << 8 | bytes[at + i];
        }
        return value;
    };
    ReadCondition c;
    c.valid = get(0, 4);
    c.cddaCommands = get(4, 4);
    c.isrc = get(8, 4);
    c.accurate = get(12, 4);
    c.noJitter = get(16, 4);
    c.speed = static_cast<WORD>(get(20, 2));
    c.overlap = static_cast<WORD>(get(22, 2));
    c.bufferSize = get(24, 4);
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

int LookUp(const DriveIdentity& identity, bool bufferSizeFlag, ReadCondition& condition) {
    if (bufferSizeFlag) {
        condition.bufferSize = 0;
    }
    KeyHolder letterKey;
    if (RegCreateKeyEx(HKEY_CURRENT_USER, LetterKeyPath(identity), REG_OPTION_NON_VOLATILE,
                       KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, letterKey.Out(),
                       nullptr) != ERROR_SUCCESS) {
        return 0;
    }
    for (DWORD index = 0;; ++index) {
        std::string name;
        DWORD nameChars = 129;
        const LONG result = RegEnumKeyEx(letterKey.Get(), index, &name, &nameChars);
        if (result == ERROR_NO_MORE_ITEMS) {
            return 0;
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
        if (bufferSizeFlag) {
            BYTE data[4] = {};
            size = sizeof data;
            if (RegQueryValueEx(model.Get(), "Buffer Size", &type, data, &size) == ERROR_SUCCESS &&
                size == 4) {
                condition.bufferSize = static_cast<DWORD>(data[0] | data[1] << 8 | data[2] << 16 |
                                                          static_cast<DWORD>(data[3]) << 24);
                return 1;
            }
        } else {
            std::array<BYTE, kReadConditionBytes> record{};
            size = static_cast<DWORD>(record.size());
            if (RegQueryValueEx(model.Get(), "Read Condition", &type, record.data(), &size) ==
                    ERROR_SUCCESS &&
                size == record.size()) {
                condition = ReadCondition::Unpack(record);
                return 1;
            }
        }
    }
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

#include "Settings.h"

#include "Platform/Registry.h"
#include "Platform/Text.h"

#include <cstring>
#include <vector>

using namespace platform;

namespace {

// Queries a value's data. The registry type is not examined, as the stored type of these values was never
// checked.
bool QueryData(HKEY root, const char* keyPath, std::string_view name, std::vector<BYTE>* data) {
    RegKeyHolder key;
    if (RegOpenKeyEx(root, keyPath, KEY_QUERY_VALUE, key.Out()) != ERROR_SUCCESS)
        return false;
    return RegQueryValueData(key.Get(), name, nullptr, data);
}

bool ReadDwordValue(HKEY root, const char* keyPath, std::string_view name, DWORD* value) {
    std::vector<BYTE> data;
    if (!QueryData(root, keyPath, name, &data))
        return false;
    *value = RegDwordFromData(data.data(), data.size());
    return true;
}

bool ReadStringValue(HKEY root, const char* keyPath, std::string_view name, std::string* value) {
    std::vector<BYTE> data;
    if (!QueryData(root, keyPath, name, &data))
        return false;
    // The data must fit a 260-character buffer with room left for its terminator.
    if (data.size() >= 2 * kSettingStringChars)
        return false;
    *value = RegStringFromData(data.data(), data.size());
    return true;
}

bool WriteValue(const char* keyPath, std::string_view name, DWORD type, const BYTE* data, DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyEx(HKEY_CURRENT_USER, keyPath, REG_OPTION_NON_VOLATILE, KEY_WRITE, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    RegKeyHolder closer(key);
    return RegSetValueEx(key, name, type, data, size) == ERROR_SUCCESS;
}

bool WriteDwordValue(const char* keyPath, std::string_view name, DWORD value) {
    BYTE bytes[4];
    std::memcpy(bytes, &value, sizeof bytes);
    return WriteValue(keyPath, name, REG_DWORD, bytes, sizeof bytes);
}

// Stores at most 259 UTF-16 code units, without a terminator.
bool WriteStringValue(const char* keyPath, std::string_view name, std::string_view value) {
    std::u16string text = Utf8ToUtf16(value);
    if (auto nul = text.find(u'\0'); nul != std::u16string::npos)
        text.resize(nul);
    if (text.size() > kSettingStringChars - 1) {
        text.resize(kSettingStringChars - 1);
        // Never leave half of a surrogate pair at the cut.
        if (char16_t last = text.back(); last >= 0xD800 && last <= 0xDBFF)
            text.pop_back();
    }
    std::vector<BYTE> bytes(text.size() * 2);
    std::memcpy(bytes.data(), text.data(), bytes.size());
    return WriteValue(keyPath, name, REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size()));
}

} // namespace

bool ReadSkinName(std::string* skinName) {
    return ReadStringValue(HKEY_CURRENT_USER, kSettingsKey, "SkinName", skinName);
}

bool WriteSkinName(std::string_view skinName) {
    return WriteStringValue(kSettingsKey, "SkinName", skinName);
}

DWORD ReadMode() {
    DWORD mode = 0;
    ReadDwordValue(HKEY_CURRENT_USER, kSettingsKey, "DefaultMode", &mode);
    return mode;
}

bool WriteMode(DWORD mode) {
    return WriteDwordValue(kSettingsKey, "DefaultMode", mode);
}

bool WriteFolder(std::string_view folder) {
    return WriteStringValue(kSettingsKey, "DefaultFolder", folder);
}

bool ReadDrive(DWORD* drive) {
    return ReadDwordValue(HKEY_CURRENT_USER, kSettingsKey, "DefaultDrive", drive);
}

bool WriteDrive(DWORD drive) {
    return WriteDwordValue(kSettingsKey, "DefaultDrive", drive);
}

bool ReadRepeat(DWORD* repeat) {
    return ReadDwordValue(HKEY_CURRENT_USER, kSettingsKey, "Repeat", repeat);
}

bool WriteRepeat(DWORD repeat) {
    return WriteDwordValue(kSettingsKey, "Repeat", repeat);
}

DWORD ReadDsdRate() {
    DWORD value = 64;
    ReadDwordValue(HKEY_CURRENT_USER, kSettingsKey, "DsdRate", &value);
    return DsdRateFromSetting(value);
}

bool WriteDsdRate(DWORD rate) {
    return WriteDwordValue(kSettingsKey, "DsdRate", rate);
}

bool ReadRFMode() {
    DWORD value = 0;
    return ReadDwordValue(HKEY_LOCAL_MACHINE, kProgramKey, "useRFMode", &value) && value == 1;
}

bool ReadGaplessPlayback() {
    DWORD value = 0;
    return ReadDwordValue(HKEY_CURRENT_USER, kSettingsKey, "GaplessPlayback", &value) && value == 1;
}

bool WriteGaplessPlayback(bool gapless) {
    return WriteDwordValue(kSettingsKey, "GaplessPlayback", gapless ? 1 : 0);
}

bool ReadShowRemainingTime() {
    DWORD value = 0;
    return ReadDwordValue(HKEY_CURRENT_USER, kSettingsKey, "ShowRemainingTime", &value) && value == 1;
}

bool WriteShowRemainingTime(bool remaining) {
    return WriteDwordValue(kSettingsKey, "ShowRemainingTime", remaining ? 1 : 0);
}

bool ReadShowTitles() {
    DWORD value = 1;
    return !ReadDwordValue(HKEY_CURRENT_USER, kSettingsKey, "ShowTitles", &value) || value != 0;
}

bool WriteShowTitles(bool show) {
    return WriteDwordValue(kSettingsKey, "ShowTitles", show ? 1 : 0);
}

bool ReadASIODriverName(std::string* driverName) {
    return ReadStringValue(HKEY_LOCAL_MACHINE, kAsioSettingsKey, "DefaultASIODriverName", driverName);
}

StoredValue ASIODriverNameStored() {
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kAsioSettingsKey, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return StoredValue::Missing;
    RegKeyHolder closer(key);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueEx(key, "DefaultASIODriverName", &type, nullptr, &size) != ERROR_SUCCESS)
        return StoredValue::Missing;
    return type == REG_SZ || type == REG_EXPAND_SZ ? StoredValue::String : StoredValue::OtherType;
}

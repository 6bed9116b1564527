// Values read back from the user's registry root, to see what the program under test stored.
#pragma once

#include "Platform/Registry.h"
#include "Platform/Text.h"

#include <optional>
#include <string>
#include <vector>

namespace testkit {

// The value's bytes and type; nothing when the key or the value is missing.
inline std::optional<std::vector<BYTE>> UserValue(const std::string& keyPath, const std::string& name,
                                                  DWORD* type) {
    platform::HKEY key = nullptr;
    if (platform::RegOpenKeyEx(platform::HKEY_CURRENT_USER, keyPath, platform::KEY_READ, &key) !=
        ERROR_SUCCESS)
        return std::nullopt;
    std::vector<BYTE> data(4096);
    DWORD size = static_cast<DWORD>(data.size());
    const LONG result = platform::RegQueryValueEx(key, name, type, data.data(), &size);
    platform::RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return std::nullopt;
    data.resize(size);
    return data;
}

// A REG_DWORD of four bytes; nothing when missing or stored as anything else.
inline std::optional<DWORD> UserDword(const std::string& keyPath, const std::string& name) {
    DWORD type = 0;
    const auto data = UserValue(keyPath, name, &type);
    if (!data || type != platform::REG_DWORD || data->size() != 4)
        return std::nullopt;
    return DWORD((*data)[0]) | DWORD((*data)[1]) << 8 | DWORD((*data)[2]) << 16 | DWORD((*data)[3]) << 24;
}

// A REG_SZ up to its first zero unit (UTF-16LE, given back as UTF-8); nothing when missing or of another
// type.
inline std::optional<std::string> UserString(const std::string& keyPath, const std::string& name) {
    DWORD type = 0;
    const auto data = UserValue(keyPath, name, &type);
    if (!data || type != platform::REG_SZ)
        return std::nullopt;
    std::u16string units;
    for (std::size_t i = 0; i + 1 < data->size(); i += 2) {
        const char16_t unit = char16_t((*data)[i] | (*data)[i + 1] << 8);
        if (unit == 0)
            break;
        units.push_back(unit);
    }
    return platform::Utf16ToUtf8(units);
}

} // namespace testkit

// Small helpers shared by the settings accessors.
#pragma once

#include "Platform/Registry.h"
#include "Platform/Text.h"
#include "Platform/Types.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

// Closes a key on every path out of a function.
class KeyCloser {
public:
    explicit KeyCloser(platform::HKEY key) noexcept : key_(key) {}
    ~KeyCloser() { platform::RegCloseKey(key_); }
    KeyCloser(const KeyCloser&) = delete;
    KeyCloser& operator=(const KeyCloser&) = delete;

private:
    platform::HKEY key_;
};

// The first four bytes of a value's data; data shorter than that is zero-extended rather than read past.
inline DWORD DwordFromData(const BYTE* data, std::size_t size) noexcept {
    BYTE bytes[4] = {};
    std::memcpy(bytes, data, std::min(size, sizeof bytes));
    DWORD value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// Stored string data (UTF-16 code units) as UTF-8, ending at the first NUL or at the end of the data.
inline std::string StringFromData(const BYTE* data, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    std::memcpy(text.data(), data, text.size() * 2);
    if (auto nul = text.find(u'\0'); nul != std::u16string::npos)
        text.resize(nul);
    return platform::Utf16ToUtf8(text);
}

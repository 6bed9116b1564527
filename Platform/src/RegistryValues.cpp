// Reading values' data the way every settings reader needs it: whole, and decoded as strings or DWORDs.
#include "Platform/ByteOrder.h"
#include "Platform/Registry.h"
#include "Platform/Text.h"

#include <algorithm>
#include <cstring>

namespace platform {

bool RegQueryValueData(HKEY key, std::string_view valueName, DWORD* type, std::vector<BYTE>* data) {
    DWORD size = 0;
    if (RegQueryValueEx(key, valueName, type, nullptr, &size) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<BYTE> buffer(size);
    if (RegQueryValueEx(key, valueName, type, buffer.data(), &size) != ERROR_SUCCESS) {
        return false;
    }
    buffer.resize(std::min<std::size_t>(size, buffer.size()));
    *data = std::move(buffer);
    return true;
}

std::string RegStringFromData(const BYTE* data, std::size_t size) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(ReadLe16(data + i));
        if (unit == u'\0') {
            break;
        }
        units.push_back(unit);
    }
    return Utf16ToUtf8(units);
}

DWORD RegDwordFromData(const BYTE* data, std::size_t size) noexcept {
    BYTE bytes[4] = {};
    if (size > 0) {
        std::memcpy(bytes, data, std::min(size, sizeof bytes));
    }
    return ReadLe32(bytes);
}

} // namespace platform

#include "CRegistrySection.h"

#include "Platform/Registry.h"
#include "Platform/Text.h"

#include <cstring>
#include <vector>

using namespace platform;

int CRegistrySection::SetNames(std::string_view company, std::string_view product, std::string_view section) {
    company_ = company;
    product_ = product;
    section_ = section;
    return 1;
}

std::string CRegistrySection::KeyPath() const {
    return "Software\\" + company_ + "\\" + product_ + "\\" + section_;
}

bool CRegistrySection::EnumerationRead(HKEY root, std::string_view name, std::vector<BYTE>* data) const {
    HKEY key = nullptr;
    if (RegOpenKeyEx(root, KeyPath(), KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegKeyHolder closer(key);
    DWORD valueCount = 0;
    DWORD longestName = 0;
    DWORD longestData = 0;
    if (RegQueryInfoKey(key, nullptr, nullptr, &valueCount, &longestName, &longestData) != ERROR_SUCCESS)
        return false;

    std::string valueName;
    std::vector<BYTE> buffer(longestData + 1);
    for (DWORD index = 0; index < valueCount; ++index) {
        DWORD nameChars = longestName + 1;
        DWORD dataSize = longestData + 1;
        std::fill(buffer.begin(), buffer.end(), BYTE{0});
        if (RegEnumValue(key, index, &valueName, &nameChars, nullptr, buffer.data(), &dataSize) !=
            ERROR_SUCCESS)
            continue;
        if (!EqualsNoCase(valueName, name))
            continue;
        buffer.resize(dataSize);
        *data = std::move(buffer);
        return true;
    }
    return false;
}

bool CRegistrySection::ReadDwordFrom(HKEY root, std::string_view name, DWORD* value) const {
    std::vector<BYTE> data;
    if (!EnumerationRead(root, name, &data))
        return false;
    *value = RegDwordFromData(data.data(), data.size());
    return true;
}

bool CRegistrySection::ReadDWORD(std::string_view name, DWORD* value) const {
    return ReadDwordFrom(HKEY_LOCAL_MACHINE, name, value);
}

bool CRegistrySection::ReadUserDWORD(std::string_view name, DWORD* value) const {
    return ReadDwordFrom(HKEY_CURRENT_USER, name, value);
}

bool CRegistrySection::ReadDWORDUserThenMachine(std::string_view name, DWORD* value) const {
    return ReadUserDWORD(name, value) || ReadDWORD(name, value);
}

bool CRegistrySection::ReadString(std::string_view name, std::string* value) const {
    std::vector<BYTE> data;
    if (!EnumerationRead(HKEY_LOCAL_MACHINE, name, &data))
        return false;
    *value = RegStringFromData(data.data(), data.size());
    return true;
}

bool CRegistrySection::WriteDWORD(std::string_view name, const DWORD* value, bool flush) const {
    const std::string path = KeyPath();
    HKEY key = nullptr;
    LONG result = RegOpenKeyEx(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, &key);
    if (result == ERROR_FILE_NOT_FOUND) {
        // Create the chain one key at a time. "Software" is created too: a new user's registry is empty.
        const std::string_view names[] = {company_, product_, section_};
        HKEY parent = nullptr;
        if (RegCreateKeyEx(HKEY_CURRENT_USER, "Software", REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, &parent,
                           nullptr) != ERROR_SUCCESS)
            return false;
        bool created = true;
        for (std::string_view child : names) {
            HKEY next = nullptr;
            created = RegCreateKeyEx(parent, child, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, &next,
                                     nullptr) == ERROR_SUCCESS;
            RegCloseKey(parent);
            parent = next;
            if (!created)
                break;
        }
        RegCloseKey(parent);
        if (!created)
            return false;
        result = RegOpenKeyEx(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, &key);
    }
    if (result != ERROR_SUCCESS)
        return false;
    RegKeyHolder closer(key);
    BYTE bytes[4];
    std::memcpy(bytes, value, sizeof bytes);
    const bool set = RegSetValueEx(key, name, REG_DWORD, bytes, sizeof bytes) == ERROR_SUCCESS;
    if (flush)
        RegFlushKey(key);
    return set;
}

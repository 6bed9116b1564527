// A registry key named by company, product and section ("Software\<company>\<product>\<section>"), whose
// values are found by enumerating the key and comparing names without regard to case. Made on the stack for
// one or two reads or writes. Callers keep their own defaults: every read leaves the output untouched when
// it fails.
#pragma once

#include "Platform/Registry.h"
#include "Platform/Types.h"

#include <string>
#include <string_view>
#include <vector>

class CRegistrySection {
public:
    // Stores the three names. Always returns 1.
    int SetNames(std::string_view company, std::string_view product, std::string_view section);

    // DWORD from the machine root: the value's first four data bytes.
    bool ReadDWORD(std::string_view name, DWORD* value) const;
    // DWORD from the user root.
    bool ReadUserDWORD(std::string_view name, DWORD* value) const;
    // The user root's value when there is one (even 0), else the machine root's.
    bool ReadDWORDUserThenMachine(std::string_view name, DWORD* value) const;
    // String from the machine root, up to its first NUL.
    bool ReadString(std::string_view name, std::string* value) const;

    // Writes a DWORD to the user root, creating the key chain when it is missing; flushes when asked.
    bool WriteDWORD(std::string_view name, const DWORD* value, bool flush) const;

    // "Software\<company>\<product>\<section>"; an empty section leaves the trailing backslash.
    std::string KeyPath() const;

private:
    // Finds the value by enumeration and copies its data (and size) out. False when the key or value is
    // missing.
    bool EnumerationRead(platform::HKEY root, std::string_view name, std::vector<BYTE>* data) const;
    bool ReadDwordFrom(platform::HKEY root, std::string_view name, DWORD* value) const;

    std::string company_;
    std::string product_;
    std::string section_;
};

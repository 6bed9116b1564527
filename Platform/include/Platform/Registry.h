// The settings registry: two roots (current user, local machine) of keys with typed values, in the shape
// of the original platform's registry API so that callers keep their algorithms unchanged.
//
// Storage: each root is one `.reg` text file in the registry editor's export format. The user root lives in
// $XDG_CONFIG_HOME/quellwave/user.reg, the machine root in /etc/quellwave/machine.reg; when the environment
// variable QUELLWAVE_REGISTRY_DIR is set, both live in that folder (user.reg, machine.reg).
//
// Key paths are backslash-separated below a root ("Software\Orva Corporation\Quellwave"). Key and value
// names compare without regard to case and keep the case they were created with. The empty value name is
// the key's unnamed value. Names are UTF-8; names that are not valid UTF-8 or contain NUL, CR or LF, and
// paths with an empty key name ("A\\B", a leading backslash) are refused with ERROR_INVALID_PARAMETER.
// One trailing backslash is tolerated ("Software\Orva Corporation\Quellwave\" names the Quellwave key).
//
// All functions are thread-safe and may be used by several processes at once: every change takes an
// exclusive file lock, re-reads the file when another writer changed it, and replaces the file atomically.
// Reads see the file as it is at the time of the call. An empty file (0 bytes) is an empty root. A damaged
// file is reported once on standard error, naming its line, and reads as empty; it is never replaced:
// changes fail with ERROR_BADDB until it is mended. A file that exists but cannot be read is never
// replaced either: changes fail with ERROR_ACCESS_DENIED. A change that would make the file larger than
// 64 MiB fails with ERROR_OUTOFMEMORY. A change that changes nothing (creating a key that exists, setting
// a value to what it holds) does not write the file.
//
// Handles name a key by its path. A handle whose key was deleted answers ERROR_KEY_DELETED; if a key of
// the same path is created again, the old handle refers to the new key. Invalid or closed handles give
// ERROR_INVALID_HANDLE.
#pragma once

#include "Platform/Types.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct RegistryKey;
using HKEY = RegistryKey*;

// The two roots. They need no opening and closing.
extern const HKEY HKEY_CURRENT_USER;
extern const HKEY HKEY_LOCAL_MACHINE;

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

// Access rights. Reading is always allowed; a key opened without a write right refuses changes with
// ERROR_ACCESS_DENIED. Changes to a root whose file cannot be written fail with ERROR_ACCESS_DENIED.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens an existing key below root (or root itself for an empty subKey). ERROR_FILE_NOT_FOUND when any
// key of the path is missing. The handle must be closed with RegCloseKey.
LONG RegOpenKeyEx(HKEY root, std::string_view subKey, REGSAM access, HKEY* result);

// Opens a key, creating every missing key of the chain. disposition (may be null) tells which happened.
// An existing key is opened without writing, so this also works on a root that cannot be written;
// creating needs KEY_CREATE_SUB_KEY on `root` (the two roots have it). Blocks on the root's lock only when
// something is created.
LONG RegCreateKeyEx(HKEY root, std::string_view subKey, DWORD options, REGSAM access, HKEY* result,
                    DWORD* disposition);

// Closes a handle from RegOpenKeyEx/RegCreateKeyEx. Closing a root or a null handle is harmless.
LONG RegCloseKey(HKEY key);

// Closes the key it holds on every path out of a scope: one opened into Out(), or one handed over.
class RegKeyHolder {
public:
    RegKeyHolder() = default;
    explicit RegKeyHolder(HKEY key) noexcept : key_(key) {}
    ~RegKeyHolder() { RegCloseKey(key_); }
    RegKeyHolder(const RegKeyHolder&) = delete;
    RegKeyHolder& operator=(const RegKeyHolder&) = delete;
    HKEY* Out() noexcept { return &key_; }
    HKEY Get() const noexcept { return key_; }

private:
    HKEY key_ = nullptr;
};

// Queries a value. type and data may be null. *dataSize is in: the buffer's size in bytes, out: the value's
// size. With data null only the size is reported; with a buffer too small ERROR_MORE_DATA and the size.
// Strings (REG_SZ) are stored as UTF-16LE code units, two bytes each, exactly as they were set (a string
// read from a .reg file has no terminator).
LONG RegQueryValueEx(HKEY key, std::string_view valueName, DWORD* type, BYTE* data, DWORD* dataSize);

// A value's type (type may be null) and all its data, its size asked for first. False when the value
// cannot be read.
bool RegQueryValueData(HKEY key, std::string_view valueName, DWORD* type, std::vector<BYTE>* data);
// Stored string data (UTF-16LE code units) as UTF-8, ending at the first NUL or at the end of the data; an
// odd last byte is ignored.
std::string RegStringFromData(const BYTE* data, std::size_t size);
// The first four bytes of a value's data as a little-endian DWORD; shorter data is zero-extended rather
// than read past.
DWORD RegDwordFromData(const BYTE* data, std::size_t size) noexcept;

// Sets a value, replacing any value of the same name (whose name's case is then kept). Needs KEY_SET_VALUE.
// Blocks on the root's lock; the file is rewritten before it returns (not when nothing changed).
LONG RegSetValueEx(HKEY key, std::string_view valueName, DWORD type, const BYTE* data, DWORD dataSize);

// Value number `index` of the key, in a stable order (the order in which values were created).
// ERROR_NO_MORE_ITEMS past the last. nameChars is in: the room for the name in UTF-16 code units
// including a terminator, out: the name's length without it; ERROR_MORE_DATA when the name or data does
// not fit (the outputs that did fit are filled). name receives the name in UTF-8. With nameChars null the
// name is not limited. type, data and dataSize as for RegQueryValueEx.
LONG RegEnumValue(HKEY key, DWORD index, std::string* name, DWORD* nameChars, DWORD* type, BYTE* data,
                  DWORD* dataSize);

// Subkey number `index`, in a stable order (the order in which keys were created). nameChars as above.
LONG RegEnumKeyEx(HKEY key, DWORD index, std::string* name, DWORD* nameChars);

// Counts and maxima of a key: lengths of names in UTF-16 code units without terminator, data in bytes.
// Any pointer may be null.
LONG RegQueryInfoKey(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* values, DWORD* maxValueNameLen,
                     DWORD* maxValueLen);

// Needs KEY_SET_VALUE. ERROR_FILE_NOT_FOUND when there is no such value.
LONG RegDeleteValue(HKEY key, std::string_view valueName);

// Deletes the subkey and everything below it. Needs a write right (KEY_SET_VALUE or KEY_CREATE_SUB_KEY)
// on key; an empty subKey is ERROR_INVALID_PARAMETER.
LONG RegDeleteKey(HKEY key, std::string_view subKey);

// Every change is written to the file before the changing call returns, so this only confirms the handle.
LONG RegFlushKey(HKEY key);

// Runs fn with the root's file lock held, so that a read followed by a write inside fn is atomic with
// respect to every other thread and process using the same root (for example a counter). Registry calls
// made inside fn on the same root do not take the lock again. Returns what fn returns, or
// ERROR_ACCESS_DENIED without calling fn when the lock cannot be taken (the root's folder cannot be
// written). Other threads' changes wait meanwhile; reads do not. Changing the other root inside fn takes
// that root's lock too: two processes nesting the roots in opposite orders would deadlock, so don't.
LONG RegWithLock(HKEY root, const std::function<LONG()>& fn);

// Where each root is stored (after QUELLWAVE_REGISTRY_DIR and XDG_CONFIG_HOME were applied at the call).
// Empty for an invalid handle, or for the user root when no home folder can be found.
std::filesystem::path RegistryFilePath(HKEY root);

} // namespace platform

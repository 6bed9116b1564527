// The in-memory form of a registry file and its `.reg` text format (the registry editor's export format,
// version 5.00). Internal to Platform: the registry keeps one Document per file and the fuzz target drives
// the parser and writer directly. Nothing here locks: a Document belongs to one thread at a time, or is
// shared read-only.
#pragma once

#include "Platform/Types.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform::reg {

// Files larger than this are treated as damaged rather than read, and the registry refuses a change that
// would make its file larger.
inline constexpr std::size_t kMaxFileBytes = 64u << 20;
// Deepest key path below a root. Keeps hostile files from building trees deep enough to exhaust the stack
// when they are destroyed or compared.
inline constexpr std::size_t kMaxKeyDepth = 512;

inline constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

struct Value {
    std::string name; // UTF-8; empty for the key's unnamed value
    DWORD type = 0;
    std::vector<BYTE> data;

    bool operator==(const Value&) const = default;
};

// A key: its subkeys and values in creation order, looked up without regard to case.
class Key {
public:
    explicit Key(std::string name) : name_(std::move(name)) {}
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    const std::string& Name() const noexcept { return name_; }
    const std::vector<std::unique_ptr<Key>>& SubKeys() const noexcept { return subKeys_; }
    const std::vector<Value>& Values() const noexcept { return values_; }

    Key* FindSubKey(std::string_view name);
    const Key* FindSubKey(std::string_view name) const;
    // Returns the subkey, appending it when missing; *created (may be null) tells which happened.
    Key& CreateSubKey(std::string_view name, bool* created = nullptr);
    // Removes the subkey with everything below it; false when there is none.
    bool DeleteSubKey(std::string_view name);

    const Value* FindValue(std::string_view name) const;
    // Replaces the data of a value of the same name (keeping its name's case and its place) or appends a
    // new value. Returns false when the value existed with exactly this type and data (nothing changed).
    bool SetValue(std::string_view name, DWORD type, std::vector<BYTE> data);
    bool DeleteValue(std::string_view name);

private:
    std::string name_;
    std::vector<std::unique_ptr<Key>> subKeys_;
    std::unordered_map<std::string, Key*> subKeyIndex_; // folded name -> subkey
    std::vector<Value> values_;
    std::unordered_map<std::string, std::size_t> valueIndex_; // folded name -> index in values_
};

// A whole file: its root sections ("HKEY_CURRENT_USER", ...) in the order they first appear.
struct Document {
    std::vector<std::unique_ptr<Key>> roots;

    Key* FindRoot(std::string_view rootName);
    const Key* FindRoot(std::string_view rootName) const;
    Key& GetRoot(std::string_view rootName); // appended when missing
};

struct ParseError {
    std::size_t line = 0; // 1-based line of the text where reading stopped
    std::string reason;
};

// Parses a file's bytes: UTF-8 with or without BOM (bytes that are not UTF-8 are read as Latin-1), or
// UTF-16LE with BOM; LF or CRLF. On damage returns false with the line and reason; doc is then partial
// and must not be used. Never reads more than maxBytes (larger input is damage).
bool ParseDocument(std::string_view bytes, Document& doc, ParseError& error,
                   std::size_t maxBytes = kMaxFileBytes);

// The document as UTF-8 `.reg` text with LF line ends, each key its own section after its parent, long
// hex data wrapped as the editor wraps it. ParseDocument reads it back to an equal document.
std::string WriteDocument(const Document& doc);

// Exact equality: names with their case, order of keys and values, types and data.
bool Equal(const Document& a, const Document& b);

} // namespace platform::reg

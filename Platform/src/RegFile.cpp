#include "RegFile.h"

#include "Platform/ByteOrder.h"
#include "Platform/Registry.h"
#include "Platform/Text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace platform::reg {

namespace {

// Root names the editor writes. Other roots would not import, so they mark a file as damaged.
constexpr std::array<std::string_view, 5> kRootNames = {
    "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT", "HKEY_USERS", "HKEY_CURRENT_CONFIG"};

bool IsBlank(char c) noexcept {
    return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view s) noexcept {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    return s;
}

std::string_view TrimRight(std::string_view s) noexcept {
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) noexcept {
    if (s.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// 1 to 8 hex digits as a number.
bool ParseHexNumber(std::string_view s, DWORD& value) noexcept {
    if (s.empty() || s.size() > 8) {
        return false;
    }
    value = 0;
    for (const char c : s) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return false;
        }
        value = (value << 4) | static_cast<DWORD>(digit);
    }
    return true;
}

// "01,02, ff" -> bytes. An empty list is no bytes; one trailing comma is tolerated (a continuation
// marker at the end of the file leaves one behind).
bool ParseHexList(std::string_view s, std::vector<BYTE>& out) {
    out.clear();
    if (TrimLeft(TrimRight(s)).empty()) {
        return true;
    }
    out.reserve(s.size() / 3 + 1);
    std::size_t pos = 0;
    while (true) {
        const std::size_t comma = s.find(',', pos);
        const std::string_view token = TrimLeft(
            TrimRight(s.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos)));
        if (token.empty()) {
            // Only the last token may be empty, and only after a comma.
            return comma == std::string_view::npos && pos != 0;
        }
        if (token.size() > 2) {
            return false;
        }
        DWORD byte = 0;
        if (!ParseHexNumber(token, byte)) {
            return false;
        }
        out.push_back(static_cast<BYTE>(byte));
        if (comma == std::string_view::npos) {
            return true;
        }
        pos = comma + 1;
    }
}

// A quoted string starting at s[pos] == '"', with the escapes \\ and \". On success pos is just past
// the closing quote.
bool ParseQuoted(std::string_view s, std::size_t& pos, std::string& out, std::string& reason) {
    out.clear();
    ++pos;
    while (pos < s.size()) {
        const char c = s[pos++];
        if (c == '"') {
            return true;
        }
        if (c == '\\') {
            if (pos >= s.size() || (s[pos] != '\\' && s[pos] != '"')) {
                reason = "bad escape in a quoted string";
                return false;
            }
            out.push_back(s[pos++]);
            continue;
        }
        out.push_back(c);
    }
    reason = "unterminated quoted string";
    return false;
}

std::vector<BYTE> Utf16Bytes(std::string_view utf8) {
    const std::u16string units = Utf8ToUtf16(utf8);
    std::vector<BYTE> bytes;
    bytes.reserve(units.size() * 2);
    for (const char16_t unit : units) {
        bytes.push_back(static_cast<BYTE>(unit & 0xFF));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    return bytes;
}

// Decodes UTF-16LE (after its BOM) to UTF-8, refusing unpaired surrogates.
bool DecodeUtf16Le(std::string_view bytes, std::string& out, ParseError& error) {
    if (bytes.size() % 2 != 0) {
        error = {1, "UTF-16 text of odd length"};
        return false;
    }
    std::u16string units(bytes.size() / 2, u'\0');
    std::size_t line = 1;
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (unit == u'\n') {
            ++line;
        } else if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) {
                error = {line, "unpaired UTF-16 surrogate"};
                return false;
            }
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            error = {line, "unpaired UTF-16 surrogate"};
            return false;
        }
    }
    out = Utf16ToUtf8(units);
    return true;
}

std::string_view CanonicalRoot(std::string_view name) {
    for (const std::string_view root : kRootNames) {
        std::string lower(root);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
        if (name.size() == root.size() && StartsWithNoCase(name, lower)) {
            return root;
        }
    }
    return {};
}

class Parser {
public:
    Parser(Document& doc, ParseError& error) : doc_(doc), error_(error) {}

    bool Run(std::string_view text) {
        SplitLines(text);
        if (!lines_.empty() && TrimRight(lines_[0]) == "REGEDIT4") {
            // The older export format stores strings in the system's code page, which cannot be read
            // faithfully: say so instead of calling the file damaged for no visible reason.
            return Fail(1, "REGEDIT4 files are not supported; save it as \"" + std::string(kHeader) + "\"");
        }
        if (lines_.empty() || TrimRight(lines_[0]) != kHeader) {
            return Fail(1, "missing header line");
        }
        for (index_ = 1; index_ < lines_.size(); ++index_) {
            const std::string_view line = TrimLeft(lines_[index_]);
            if (line.empty() || line.front() == ';') {
                continue;
            }
            bool ok = false;
            if (line.front() == '[') {
                ok = Section(TrimRight(line));
            } else if (line.front() == '"' || line.front() == '@') {
                ok = ValueLine(line);
            } else {
                ok = Fail(index_ + 1, "unparsable line");
            }
            if (!ok) {
                return false;
            }
        }
        return true;
    }

private:
    void SplitLines(std::string_view text) {
        std::size_t pos = 0;
        while (pos <= text.size()) {
            std::size_t end = text.find('\n', pos);
            if (end == std::string_view::npos) {
                end = text.size();
            }
            std::string_view line = text.substr(pos, end - pos);
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            lines_.push_back(line);
            pos = end + 1;
        }
    }

    bool Fail(std::size_t line, std::string reason) {
        error_ = {line, std::move(reason)};
        return false;
    }

    bool Section(std::string_view line) {
        if (line.size() < 2 || line.back() != ']') {
            return Fail(index_ + 1, "section line without closing bracket");
        }
        std::string_view inner = line.substr(1, line.size() - 2);
        const bool remove = !inner.empty() && inner.front() == '-';
        if (remove) {
            inner.remove_prefix(1);
        }
        const std::size_t slash = inner.find('\\');
        const std::string_view root = CanonicalRoot(inner.substr(0, slash));
        if (root.empty()) {
            return Fail(index_ + 1, "unknown root key");
        }
        std::vector<std::string_view> parts;
        if (slash != std::string_view::npos) {
            std::string_view rest = inner.substr(slash + 1);
            while (true) {
                const std::size_t next = rest.find('\\');
                const std::string_view part = rest.substr(0, next);
                if (part.empty()) {
                    return Fail(index_ + 1, "empty key name in a section path");
                }
                parts.push_back(part);
                if (parts.size() > kMaxKeyDepth) {
                    return Fail(index_ + 1, "key path too deep");
                }
                if (next == std::string_view::npos) {
                    break;
                }
                rest.remove_prefix(next + 1);
            }
        }
        sectionSeen_ = true;
        current_ = nullptr;
        if (remove) {
            // Deleting a whole root is not something a settings file can ask for; ignore it.
            Key* parent = doc_.FindRoot(root);
            for (std::size_t i = 0; parent != nullptr && i + 1 < parts.size(); ++i) {
                parent = parent->FindSubKey(parts[i]);
            }
            if (parent != nullptr && !parts.empty()) {
                parent->DeleteSubKey(parts.back());
            }
            return true;
        }
        Key* key = &doc_.GetRoot(root);
        for (const std::string_view part : parts) {
            key = &key->CreateSubKey(part);
        }
        current_ = key;
        return true;
    }

    bool ValueLine(std::string_view line) {
        const std::size_t lineNumber = index_ + 1;
        if (!sectionSeen_) {
            return Fail(lineNumber, "value before any section");
        }
        std::string name;
        std::size_t pos = 0;
        std::string reason;
        if (line.front() == '@') {
            pos = 1;
        } else if (!ParseQuoted(line, pos, name, reason)) {
            return Fail(lineNumber, reason);
        }
        std::string_view rest = TrimLeft(line.substr(pos));
        if (rest.empty() || rest.front() != '=') {
            return Fail(lineNumber, "value line without '='");
        }
        rest = TrimLeft(rest.substr(1));

        DWORD type = 0;
        std::vector<BYTE> data;
        if (!rest.empty() && rest.front() == '-' && TrimRight(rest.substr(1)).empty()) {
            if (current_ != nullptr) {
                current_->DeleteValue(name);
            }
            return true;
        }
        if (!rest.empty() && rest.front() == '"') {
            std::size_t textPos = 0;
            std::string text;
            if (!ParseQuoted(rest, textPos, text, reason)) {
                return Fail(lineNumber, reason);
            }
            if (!TrimRight(rest.substr(textPos)).empty()) {
                return Fail(lineNumber, "text after a quoted string");
            }
            type = REG_SZ;
            data = Utf16Bytes(text);
        } else if (StartsWithNoCase(rest, "dword:")) {
            DWORD number = 0;
            if (!ParseHexNumber(TrimRight(rest.substr(6)), number)) {
                return Fail(lineNumber, "bad dword data");
            }
            type = REG_DWORD;
            data.assign(4, 0);
            WriteLe32(data.data(), number);
        } else if (StartsWithNoCase(rest, "hex")) {
            rest.remove_prefix(3);
            type = REG_BINARY;
            if (!rest.empty() && rest.front() == '(') {
                const std::size_t close = rest.find(')');
                if (close == std::string_view::npos || !ParseHexNumber(rest.substr(1, close - 1), type)) {
                    return Fail(lineNumber, "bad hex type");
                }
                rest.remove_prefix(close + 1);
            }
            if (rest.empty() || rest.front() != ':') {
                return Fail(lineNumber, "bad hex data");
            }
            if (!ParseHexList(JoinContinuation(rest.substr(1)), data)) {
                return Fail(lineNumber, "bad hex data");
            }
        } else {
            return Fail(lineNumber, "unknown value data");
        }
        if (current_ != nullptr) {
            current_->SetValue(name, type, std::move(data));
        }
        return true;
    }

    // Hex data may go on over following lines: a line ending in a backslash continues on the next,
    // whose leading blanks are not part of the data.
    std::string JoinContinuation(std::string_view first) {
        std::string data(first);
        while (true) {
            const std::size_t trimmed = TrimRight(data).size();
            if (trimmed == 0 || data[trimmed - 1] != '\\') {
                break;
            }
            data.resize(trimmed - 1);
            if (index_ + 1 >= lines_.size()) {
                break;
            }
            ++index_;
            data += TrimLeft(lines_[index_]);
        }
        return data;
    }

    Document& doc_;
    ParseError& error_;
    std::vector<std::string_view> lines_;
    std::size_t index_ = 0;
    bool sectionSeen_ = false;
    Key* current_ = nullptr;
};

// Text that reads back to exactly these REG_SZ bytes: whole UTF-16 code units, properly paired, and no
// NUL or other control character a line-based format cannot carry (a tab is fine).
bool SzAsText(const std::vector<BYTE>& data, std::string& text) {
    if (data.size() % 2 != 0) {
        return false;
    }
    std::u16string units(data.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (unit < 0x20 && unit != u'\t') {
            return false;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) {
                return false;
            }
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        }
    }
    text = Utf16ToUtf8(units);
    return true;
}

void AppendQuoted(std::string& out, std::string_view text) {
    out.push_back('"');
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    out.push_back('"');
}

void AppendValue(std::string& out, const Value& value) {
    const std::size_t lineStart = out.size();
    if (value.name.empty()) {
        out.push_back('@');
    } else {
        AppendQuoted(out, value.name);
    }
    out.push_back('=');
    char buffer[32];
    std::string text;
    if (value.type == REG_DWORD && value.data.size() == 4) {
        const DWORD number = ReadLe32(value.data.data());
        std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
        out += buffer;
    } else if (value.type == REG_SZ && SzAsText(value.data, text)) {
        AppendQuoted(out, text);
    } else {
        if (value.type == REG_BINARY) {
            out += "hex:";
        } else {
            std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
            out += buffer;
        }
        // Wrap as the editor does: no line longer than 80 columns, continued lines indented by two.
        std::size_t column = out.size() - lineStart;
        for (std::size_t i = 0; i < value.data.size(); ++i) {
            const bool last = i + 1 == value.data.size();
            if (column + 3 > 77) {
                out += "\\\n  ";
                column = 2;
            }
            std::snprintf(buffer, sizeof buffer, last ? "%02x" : "%02x,", value.data[i]);
            out += buffer;
            column += last ? 2 : 3;
        }
    }
    out.push_back('\n');
}

void AppendSection(std::string& out, std::string_view path, const Key& key) {
    out.push_back('[');
    out += path;
    out += "]\n";
    for (const Value& value : key.Values()) {
        AppendValue(out, value);
    }
    out.push_back('\n');
}

bool EqualKeys(const Key& a, const Key& b) {
    if (a.Name() != b.Name() || a.Values() != b.Values() || a.SubKeys().size() != b.SubKeys().size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.SubKeys().size(); ++i) {
        if (!EqualKeys(*a.SubKeys()[i], *b.SubKeys()[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

Key* Key::FindSubKey(std::string_view name) {
    const auto it = subKeyIndex_.find(FoldNoCase(name));
    return it == subKeyIndex_.end() ? nullptr : it->second;
}

const Key* Key::FindSubKey(std::string_view name) const {
    return const_cast<Key*>(this)->FindSubKey(name);
}

Key& Key::CreateSubKey(std::string_view name, bool* created) {
    std::string folded = FoldNoCase(name);
    const auto it = subKeyIndex_.find(folded);
    if (created != nullptr) {
        *created = it == subKeyIndex_.end();
    }
    if (it != subKeyIndex_.end()) {
        return *it->second;
    }
    subKeys_.push_back(std::make_unique<Key>(std::string(name)));
    Key* key = subKeys_.back().get();
    subKeyIndex_.emplace(std::move(folded), key);
    return *key;
}

bool Key::DeleteSubKey(std::string_view name) {
    const auto it = subKeyIndex_.find(FoldNoCase(name));
    if (it == subKeyIndex_.end()) {
        return false;
    }
    const Key* key = it->second;
    subKeyIndex_.erase(it);
    subKeys_.erase(std::find_if(subKeys_.begin(), subKeys_.end(),
                                [key](const std::unique_ptr<Key>& k) { return k.get() == key; }));
    return true;
}

const Value* Key::FindValue(std::string_view name) const {
    const auto it = valueIndex_.find(FoldNoCase(name));
    return it == valueIndex_.end() ? nullptr : &values_[it->second];
}

bool Key::SetValue(std::string_view name, DWORD type, std::vector<BYTE> data) {
    std::string folded = FoldNoCase(name);
    const auto it = valueIndex_.find(folded);
    if (it != valueIndex_.end()) {
        Value& value = values_[it->second];
        if (value.type == type && value.data == data) {
            return false;
        }
        value.type = type;
        value.data = std::move(data);
        return true;
    }
    values_.push_back(Value{std::string(name), type, std::move(data)});
    valueIndex_.emplace(std::move(folded), values_.size() - 1);
    return true;
}

bool Key::DeleteValue(std::string_view name) {
    const auto it = valueIndex_.find(FoldNoCase(name));
    if (it == valueIndex_.end()) {
        return false;
    }
    const std::size_t index = it->second;
    valueIndex_.erase(it);
    values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(index));
    for (auto& entry : valueIndex_) {
        if (entry.second > index) {
            --entry.second;
        }
    }
    return true;
}

Key* Document::FindRoot(std::string_view rootName) {
    for (const auto& root : roots) {
        if (root->Name() == rootName) {
            return root.get();
        }
    }
    return nullptr;
}

const Key* Document::FindRoot(std::string_view rootName) const {
    return const_cast<Document*>(this)->FindRoot(rootName);
}

Key& Document::GetRoot(std::string_view rootName) {
    if (Key* root = FindRoot(rootName)) {
        return *root;
    }
    roots.push_back(std::make_unique<Key>(std::string(rootName)));
    return *roots.back();
}

bool ParseDocument(std::string_view bytes, Document& doc, ParseError& error, std::size_t maxBytes) {
    if (bytes.size() > maxBytes) {
        error = {1, "file too large"};
        return false;
    }
    std::string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (!DecodeUtf16Le(bytes.substr(2), text, error)) {
            return false;
        }
    } else {
        if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
            bytes.remove_prefix(3);
        }
        // Files saved by an editor in a legacy 8-bit code page are read as Latin-1 rather than
        // refused, so that their names and strings survive the next rewrite.
        text = IsValidUtf8(bytes) ? std::string(bytes) : Latin1ToUtf8(bytes);
    }
    Parser parser(doc, error);
    return parser.Run(text);
}

std::string WriteDocument(const Document& doc) {
    std::string out(kHeader);
    out += "\n\n";
    struct Frame {
        const Key* key;
        std::size_t next; // index of the next subkey to visit
        std::size_t pathLength;
    };
    std::string path;
    std::vector<Frame> stack;
    for (const auto& root : doc.roots) {
        path = root->Name();
        // A root gets a section of its own only when it holds values, or when it would otherwise
        // leave no trace in the file.
        if (!root->Values().empty() || root->SubKeys().empty()) {
            AppendSection(out, path, *root);
        }
        stack.push_back({root.get(), 0, path.size()});
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next == frame.key->SubKeys().size()) {
                stack.pop_back();
                continue;
            }
            const Key& child = *frame.key->SubKeys()[frame.next++];
            path.resize(frame.pathLength);
            path.push_back('\\');
            path += child.Name();
            AppendSection(out, path, child);
            stack.push_back({&child, 0, path.size()});
        }
    }
    return out;
}

bool Equal(const Document& a, const Document& b) {
    if (a.roots.size() != b.roots.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.roots.size(); ++i) {
        if (!EqualKeys(*a.roots[i], *b.roots[i])) {
            return false;
        }
    }
    return true;
}

} // namespace platform::reg

#include "Platform/Text.h"

#include <algorithm>
#include <cstdint>

namespace platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one well-formed UTF-8 sequence at text[pos]. Returns its length, or 0 when the bytes there do
// not form one (the caller decides what an invalid byte becomes).
std::size_t DecodeUtf8(std::string_view text, std::size_t pos, char32_t& cp) noexcept {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    std::size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - pos < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(pos + i);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    cp = value;
    return length;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Simple upper-case mapping for the scripts whose names users type in either case. Characters without a
// one-to-one upper-case partner (final sigma aside) are left alone so the mapping never changes a length.
char32_t FoldUpper(char32_t cp) noexcept {
    if (cp < 0x80) {
        return (cp >= 'a' && cp <= 'z') ? cp - 0x20 : cp;
    }
    if (cp < 0x100) {
        if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) {
            return cp - 0x20;
        }
        if (cp == 0xFF) {
            return 0x178; // y with diaeresis
        }
        return cp;
    }
    // Greek.
    if (cp >= 0x3B1 && cp <= 0x3C9) {
        return cp == 0x3C2 ? 0x3A3 : cp - 0x20; // final sigma folds with sigma
    }
    if (cp == 0x3AC) {
        return 0x386;
    }
    if (cp >= 0x3AD && cp <= 0x3AF) {
        return cp - 0x25;
    }
    if (cp == 0x3CC) {
        return 0x38C;
    }
    if (cp == 0x3CD || cp == 0x3CE) {
        return cp - 0x3F;
    }
    if (cp == 0x3CA || cp == 0x3CB) {
        return cp - 0x20;
    }
    // Cyrillic.
    if (cp >= 0x430 && cp <= 0x44F) {
        return cp - 0x20;
    }
    if (cp >= 0x450 && cp <= 0x45F) {
        return cp - 0x50;
    }
    return cp;
}

} // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t cp = 0;
        const std::size_t length = DecodeUtf8(text, pos, cp);
        if (length == 0) {
            out.push_back(static_cast<char16_t>(kReplacement));
            ++pos;
            continue;
        }
        pos += length;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::string Latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        AppendUtf8(out, static_cast<unsigned char>(c));
    }
    return out;
}

bool IsValidUtf8(std::string_view text) noexcept {
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t cp = 0;
        const std::size_t length = DecodeUtf8(text, pos, cp);
        if (length == 0) {
            return false;
        }
        pos += length;
    }
    return true;
}

std::string FoldNoCase(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t cp = 0;
        const std::size_t length = DecodeUtf8(text, pos, cp);
        if (length == 0) {
            out.push_back(text[pos]);
            ++pos;
            continue;
        }
        AppendUtf8(out, FoldUpper(cp));
        pos += length;
    }
    return out;
}

std::string ControlCharactersAsSpaces(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    // One definition of equality for comparisons and for the folded keys that look-ups index by.
    return FoldNoCase(a) == FoldNoCase(b);
}

bool EndsWithAsciiNoCase(std::string_view text, std::string_view suffix) noexcept {
    if (text.size() < suffix.size()) {
        return false;
    }
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    text.remove_prefix(text.size() - suffix.size());
    return std::equal(text.begin(), text.end(), suffix.begin(),
                      [&](char a, char b) { return lower(a) == lower(b); });
}

} // namespace platform

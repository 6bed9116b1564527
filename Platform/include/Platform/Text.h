// Text conversions between the UTF-8 used in our interfaces and the UTF-16 that stored strings are
// measured in, the case-insensitive comparison that names in the registry use, and numbers in text. All
// functions are pure and may be called from any thread.
#pragma once

#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace platform {

// Invalid UTF-8 sequences become U+FFFD (one per byte that cannot start or continue a sequence).
std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// Latin-1 (ISO 8859-1) bytes to UTF-8.
std::string Latin1ToUtf8(std::string_view text);

// True when text is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text) noexcept;

// Case-insensitive equality as names are compared by the registry: simple upper-case folding of ASCII,
// Latin-1, Greek and Cyrillic letters; other characters compare exactly.
bool EqualsNoCase(std::string_view a, std::string_view b);

// True when text ends in suffix, ASCII letters compared without regard to case (file name extensions).
bool EndsWithAsciiNoCase(std::string_view text, std::string_view suffix) noexcept;

// The folded form that EqualsNoCase compares: EqualsNoCase(a, b) == (FoldNoCase(a) == FoldNoCase(b)).
// Bytes that are not valid UTF-8 are kept as they are. Useful as a key for case-insensitive look-up.
std::string FoldNoCase(std::string_view text);

// text for a terminal or a one-line report: every control character (below U+0020, and DEL) becomes a
// space, so a file name or a tag can neither break the line nor send an escape sequence.
std::string ControlCharactersAsSpaces(std::string_view text);

// The whole of text as an integer of type T in base (2..36, letters in either case): digits only, with a
// leading '-' only for a signed T, nothing before or after. Empty when text is not such a number or T
// cannot hold it.
template <typename T> std::optional<T> ParseInteger(std::string_view text, int base = 10) noexcept {
    if (text.empty()) {
        return std::nullopt;
    }
    T value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return value;
}

} // namespace platform

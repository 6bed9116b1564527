// Text conversions between the UTF-8 used in our interfaces and the UTF-16 that stored strings are
// measured in, and the case-insensitive comparison that names in the registry use. All functions are pure
// and may be called from any thread.
#pragma once

#include <string>
#include <string_view>

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

// The folded form that EqualsNoCase compares: EqualsNoCase(a, b) == (FoldNoCase(a) == FoldNoCase(b)).
// Bytes that are not valid UTF-8 are kept as they are. Useful as a key for case-insensitive look-up.
std::string FoldNoCase(std::string_view text);

} // namespace platform

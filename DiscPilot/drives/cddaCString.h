// The library's own small 8-bit string, used as the drive table's key. Allocation failure throws
// std::runtime_error("MemoryException: cddaCString: cddaread"); nothing else throws.
#pragma once

#include <cstddef>
#include <string_view>

namespace discpilot {

inline constexpr const char* kStringMemoryException = "MemoryException: cddaCString: cddaread";

class cddaCString {
public:
    cddaCString() noexcept = default;
    cddaCString(std::string_view text);
    cddaCString(const cddaCString& other);
    cddaCString& operator=(const cddaCString& other);
    ~cddaCString();

    // Makes room for length characters plus a terminator and returns the buffer; the contents up to the
    // old length are kept, the rest is zero. Throws on allocation failure (the string is then unchanged).
    char* GetBuffer(std::size_t length);
    // Sets the length to that of the NUL-terminated text now in the buffer.
    void ReleaseBuffer() noexcept;

    std::size_t GetLength() const noexcept { return length_; }
    const char* c_str() const noexcept { return data_ != nullptr ? data_ : ""; }
    std::string_view View() const noexcept { return {c_str(), length_}; }
    void MakeUpper() noexcept;
    bool operator==(const cddaCString& other) const noexcept { return View() == other.View(); }

private:
    char* data_ = nullptr;
    std::size_t length_ = 0;
    std::size_t capacity_ = 0;
};

} // namespace discpilot

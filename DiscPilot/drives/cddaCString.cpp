#include "drives/cddaCString.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace discpilot {

cddaCString::cddaCString(std::string_view text) {
    char* buffer = GetBuffer(text.size());
    std::memcpy(buffer, text.data(), text.size());
    length_ = text.size();
}

cddaCString::cddaCString(const cddaCString& other) : cddaCString(other.View()) {}

cddaCString& cddaCString::operator=(const cddaCString& other) {
    if (this != &other) {
        const std::string_view text = other.View();
        char* buffer = GetBuffer(text.size());
        std::memcpy(buffer, text.data(), text.size());
        buffer[text.size()] = '\0';
        length_ = text.size();
    }
    return *this;
}

cddaCString::~cddaCString() {
    std::free(data_);
}

char* cddaCString::GetBuffer(std::size_t length) {
    if (length >= capacity_) {
        if (length == static_cast<std::size_t>(-1)) {
            throw std::runtime_error(kStringMemoryException);
        }
        auto* grown = static_cast<char*>(std::calloc(length + 1, 1));
        if (grown == nullptr) {
            throw std::runtime_error(kStringMemoryException);
        }
        if (data_ != nullptr) {
            std::memcpy(grown, data_, length_);
        }
        std::free(data_);
        data_ = grown;
        capacity_ = length + 1;
    }
    return data_;
}

void cddaCString::ReleaseBuffer() noexcept {
    length_ = data_ != nullptr ? std::strlen(data_) : 0;
}

void cddaCString::MakeUpper() noexcept {
    for (std::size_t i = 0; i < length_; ++i) {
        data_[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(data_[i])));
    }
}

} // namespace discpilot

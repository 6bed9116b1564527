#include "FileTags.h"

#include "InputFile.h"
#include "Platform/ByteOrder.h"
#include "Platform/FileIo.h"
#include "Platform/Text.h"

#include <cstring>
#include <string>
#include <vector>

namespace engine {

namespace {

// A tag larger than this is not one a player needs to read for three short texts.
constexpr std::size_t kMaxTagBytes = 1 << 20;
constexpr std::size_t kId3HeaderBytes = 10;
constexpr std::uint64_t kDsfMetadataPointerOffset = 20;

std::uint32_t SyncSafe(const std::uint8_t* p) noexcept {
    return std::uint32_t{p[0]} << 21 | std::uint32_t{p[1]} << 14 | std::uint32_t{p[2]} << 7 | p[3];
}

std::uint32_t Be(const std::uint8_t* p, int n) noexcept {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | p[i];
    return v;
}

// A text frame's body: its encoding byte, then the text (the first of several, NUL-separated, values).
std::string FrameText(const std::uint8_t* p, std::size_t size) {
    if (size < 1)
        return {};
    const std::uint8_t encoding = p[0];
    ++p, --size;
    if (encoding == 0 || encoding == 3) {
        std::size_t n = 0;
        while (n < size && p[n] != 0)
            ++n;
        const std::string_view raw(reinterpret_cast<const char*>(p), n);
        return encoding == 0 ? platform::Latin1ToUtf8(raw) : std::string(raw);
    }
    if (encoding != 1 && encoding != 2)
        return {};
    bool bigEndian = encoding == 2;
    if (encoding == 1 && size >= 2) {
        if (p[0] == 0xFE && p[1] == 0xFF) {
            bigEndian = true;
            p += 2, size -= 2;
        } else if (p[0] == 0xFF && p[1] == 0xFE) {
            p += 2, size -= 2;
        }
    }
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(bigEndian ? p[i] << 8 | p[i + 1] : p[i + 1] << 8 | p[i]);
        if (unit == 0)
            break;
        text.push_back(unit);
    }
    return platform::Utf16ToUtf8(text);
}

} // namespace

bool ParseId3Tag(const std::uint8_t* data, std::size_t size, PcmTags* tags) {
    if (data == nullptr || tags == nullptr || size < kId3HeaderBytes || std::memcmp(data, "ID3", 3) != 0)
        return false;
    const int version = data[3];
    if (version < 2 || version > 4)
        return false;
    const std::uint8_t flags = data[5];
    if ((data[6] | data[7] | data[8] | data[9]) & 0x80)
        return false; // not a sync-safe size
    const std::size_t tagSize = std::min<std::size_t>(SyncSafe(data + 6), size - kId3HeaderBytes);
    std::vector<std::uint8_t> body(data + kId3HeaderBytes, data + kId3HeaderBytes + tagSize);
    if (flags & 0x80) {
        // Unsynchronisation: every 0xFF 0x00 pair was written for a 0xFF.
        std::size_t out = 0;
        for (std::size_t in = 0; in < body.size(); ++in) {
            body[out++] = body[in];
            if (body[in] == 0xFF && in + 1 < body.size() && body[in + 1] == 0x00)
                ++in;
        }
        body.resize(out);
    }
    std::size_t at = 0;
    if (version >= 3 && (flags & 0x40)) {
        if (body.size() < 4)
            return false;
        const std::uint32_t extended = version == 4 ? SyncSafe(body.data()) : Be(body.data(), 4) + 4;
        if (extended > body.size())
            return false;
        at = extended;
    }
    const std::size_t idBytes = version == 2 ? 3 : 4;
    const std::size_t headerBytes = version == 2 ? 6 : 10;
    bool any = false;
    while (at + headerBytes <= body.size()) {
        const std::uint8_t* header = body.data() + at;
        if (header[0] == 0)
            break; // padding
        const std::size_t frameSize = version == 2   ? Be(header + 3, 3)
                                      : version == 4 ? SyncSafe(header + 4)
                                                     : Be(header + 4, 4);
        if (frameSize > body.size() - at - headerBytes)
            break;
        const std::string id(reinterpret_cast<const char*>(header), idBytes);
        const std::uint8_t* frame = header + headerBytes;
        // Compressed or encrypted frames (2.3/2.4 format flags) are not text that can be read as it stands.
        const std::uint8_t format = version == 2 ? 0 : header[9];
        const bool plain = version == 3 ? (format & 0xC0) == 0 : version == 4 ? (format & 0x0D) == 0 : true;
        std::string* target = nullptr;
        if (id == "TIT2" || id == "TT2")
            target = &tags->title;
        else if (id == "TPE1" || id == "TP1")
            target = &tags->artist;
        else if (id == "TALB" || id == "TAL")
            target = &tags->album;
        if (target != nullptr && plain && target->empty()) {
            *target = FrameText(frame, frameSize);
            any = any || !target->empty();
        }
        at += headerBytes + frameSize;
    }
    return any;
}

bool ReadFileTags(const char* path, PcmTags* tags) {
    if (path == nullptr || tags == nullptr)
        return false;
    InputFileError error = InputFileError::None;
    std::uint64_t fileSize = 0;
    const int fd = OpenInputFile(path, &error, &fileSize);
    if (fd < 0)
        return false;
    std::uint8_t header[28] = {};
    const bool dsf =
        platform::ReadFullyAt(fd, header, sizeof header, 0) == static_cast<std::int64_t>(sizeof header) &&
        std::memcmp(header, "DSD ", 4) == 0;
    bool found = false;
    if (dsf) {
        const std::uint64_t at = platform::ReadLe64(header + kDsfMetadataPointerOffset);
        if (at != 0 && at < fileSize) {
            const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize - at, kMaxTagBytes));
            std::vector<std::uint8_t> tag(size);
            if (platform::ReadFullyAt(fd, tag.data(), size, at) == static_cast<std::int64_t>(size))
                found = ParseId3Tag(tag.data(), size, tags);
        }
    }
    platform::CloseFile(fd);
    if (dsf)
        return found;
    return ReadPcmFileTags(path, tags) &&
           (!tags->title.empty() || !tags->artist.empty() || !tags->album.empty());
}

} // namespace engine

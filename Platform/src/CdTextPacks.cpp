#include "Platform/CdTextPacks.h"

#include "Platform/Text.h"

#include <algorithm>
#include <array>

namespace platform {

namespace {

// The text as ISO 8859-1 bytes, without control characters.
std::string ToLatin1(const std::string& text) {
    std::string out;
    if (IsValidUtf8(text)) {
        const std::u16string wide = Utf8ToUtf16(text);
        for (std::size_t i = 0; i < wide.size(); ++i) {
            const char16_t c = wide[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size()) {
                ++i; // one character beyond the basic plane: one replacement
            }
            if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
                continue;
            }
            out += c <= 0xFF ? static_cast<char>(c) : '?';
        }
        return out;
    }
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b != 0x7F && !(b >= 0x80 && b < 0xA0)) {
            out += c;
        }
    }
    return out;
}

struct PackWriter {
    std::vector<BYTE> packs;
    int sequence = 0;

    bool Full() const noexcept { return sequence >= static_cast<int>(kCdTextMaxPacks); }

    void Add(BYTE type, int track, int characterPosition, const BYTE* payload) {
        const std::size_t at = packs.size();
        packs.resize(at + kCdTextPackBytes, 0);
        BYTE* p = packs.data() + at;
        p[0] = type;
        p[1] = static_cast<BYTE>(track & 0x7F);
        p[2] = static_cast<BYTE>(sequence++);
        p[3] = static_cast<BYTE>(std::min(characterPosition, 15)); // block 0, single-byte characters
        std::copy_n(payload, kCdTextPayloadBytes, p + 4);
        const WORD crc = CdTextCrc(p);
        p[16] = static_cast<BYTE>(crc >> 8);
        p[17] = static_cast<BYTE>(crc & 0xFF);
    }
};

} // namespace

std::vector<BYTE> BuildCdTextPacks(const std::vector<CdTextEntry>& entries, int firstTrack) {
    if (entries.empty()) {
        return {};
    }
    std::vector<std::string> titles, performers;
    bool anyTitle = false, anyPerformer = false;
    for (const CdTextEntry& entry : entries) {
        titles.push_back(ToLatin1(entry.title));
        performers.push_back(ToLatin1(entry.performer));
        anyTitle = anyTitle || !titles.back().empty();
        anyPerformer = anyPerformer || !performers.back().empty();
    }
    if (!anyTitle && !anyPerformer) {
        return {};
    }
    const int lastTrack = firstTrack + static_cast<int>(entries.size()) - 2;
    // Three packs of size information end the block.
    constexpr int kSizePacks = 3;
    PackWriter writer;
    std::array<int, 16> packCount{};
    const auto writeType = [&](BYTE type, const std::vector<std::string>& texts) {
        // The texts one after another, each ended by a NUL; a track's text the same as the one before
        // is a single tab.
        std::vector<BYTE> stream;
        std::vector<int> owner;  // the entry each byte of stream belongs to
        std::vector<int> offset; // its place within that entry's text
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const std::string text =
                i >= 2 && !texts[i].empty() && texts[i] == texts[i - 1] ? "\t" : texts[i];
            for (std::size_t k = 0; k <= text.size(); ++k) {
                stream.push_back(k < text.size() ? static_cast<BYTE>(text[k]) : 0);
                owner.push_back(static_cast<int>(i));
                offset.push_back(static_cast<int>(k));
            }
        }
        for (std::size_t at = 0; at < stream.size(); at += kCdTextPayloadBytes) {
            if (writer.sequence + kSizePacks >= static_cast<int>(kCdTextMaxPacks)) {
                return; // the rest does not fit in the block
            }
            std::array<BYTE, kCdTextPayloadBytes> payload{};
            const std::size_t n = std::min(kCdTextPayloadBytes, stream.size() - at);
            std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(at), n, payload.begin());
            const int entry = owner[at];
            writer.Add(type, entry == 0 ? 0 : firstTrack + entry - 1, offset[at], payload.data());
            ++packCount[type & 0x0F];
        }
    };
    if (anyTitle) {
        writeType(kCdTextPackTitle, titles);
    }
    if (anyPerformer) {
        writeType(kCdTextPackPerformer, performers);
    }
    packCount[kCdTextPackSizeInfo & 0x0F] = kSizePacks;
    const int lastSequence = writer.sequence + kSizePacks - 1;
    std::array<BYTE, 36> size{};
    size[0] = 0x00; // character code: ISO 8859-1
    size[1] = static_cast<BYTE>(firstTrack);
    size[2] = static_cast<BYTE>(std::max(lastTrack, firstTrack));
    size[3] = 0x00; // no copyright flags
    for (std::size_t i = 0; i < 16; ++i) {
        size[4 + i] = static_cast<BYTE>(packCount[i]);
    }
    size[20] = static_cast<BYTE>(lastSequence); // block 0's last sequence number; blocks 1..7 unused
    size[28] = 0x09;                            // block 0's language: English
    for (int k = 0; k < kSizePacks; ++k) {
        writer.Add(kCdTextPackSizeInfo, k, 0, size.data() + std::size_t(k) * kCdTextPayloadBytes);
    }
    return writer.packs;
}

} // namespace platform

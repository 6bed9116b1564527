#include "transport/CdText.h"

#include "Platform/ByteOrder.h"
#include "Platform/CdTextPacks.h"

#include <algorithm>
#include <vector>

namespace discpilot {

namespace {

using platform::kCdTextPackBytes;
using platform::kCdTextPayloadBytes;

constexpr BYTE kCharacterCodeLatin1 = 0x00;
constexpr BYTE kCharacterCodeAscii = 0x01;

int BlockOf(const BYTE* pack) noexcept {
    return (pack[3] >> 4) & 0x07;
}

// ISO 8859-1 bytes to UTF-8, control characters (C0, DEL, C1) left out.
std::string Latin1Text(const std::string& bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || (b >= 0x80 && b < 0xA0)) {
            continue;
        }
        if (b < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

// The texts of one pack type from its packs in sequence order. A text is kept only when every pack it
// spans is there: after a gap the next text begins where a pack says its first character starts a
// text (character position 0), or after the first NUL of a pack that continues a lost one.
void DecodeType(const std::vector<const BYTE*>& packs, std::array<std::string, kCdTextEntries>& texts) {
    int track = 0;
    std::string current;
    bool whole = false; // current holds its text from the start
    int previousSequence = -2;
    for (const BYTE* p : packs) {
        const int sequence = p[2];
        if (sequence != previousSequence + 1) {
            track = p[1] & 0x7F;
            current.clear();
            whole = (p[3] & 0x0F) == 0;
        }
        previousSequence = sequence;
        for (std::size_t i = 0; i < kCdTextPayloadBytes; ++i) {
            const char c = static_cast<char>(p[4 + i]);
            if (c != '\0') {
                current += c;
                continue;
            }
            if (whole && track < kCdTextEntries) {
                if (current == "\t") {
                    // The same text as the track before.
                    texts[static_cast<std::size_t>(track)] =
                        track > 0 ? texts[static_cast<std::size_t>(track - 1)] : std::string();
                } else {
                    texts[static_cast<std::size_t>(track)] = Latin1Text(current);
                }
            }
            ++track;
            current.clear();
            whole = true;
        }
    }
}

} // namespace

const std::string& CdText::Get(int type, int track) const noexcept {
    static const std::string kNone;
    const int index = type - kCdTextFirstType;
    if (index < 0 || index >= kCdTextTypes || track < 0 || track >= kCdTextEntries) {
        return kNone;
    }
    return texts[static_cast<std::size_t>(index)][static_cast<std::size_t>(track)];
}

bool CdText::Empty() const noexcept {
    return std::all_of(texts.begin(), texts.end(), [](const auto& type) {
        return std::all_of(type.begin(), type.end(), [](const std::string& t) { return t.empty(); });
    });
}

CdTextOutcome ParseCdText(const BYTE* reply, std::size_t size, CdText& text, CdTextCounts& counts) {
    text = CdText{};
    counts = CdTextCounts{};
    if (reply == nullptr || size < 4) {
        return kCdTextNone;
    }
    // The data length counts the bytes after its own two.
    const std::size_t stated = std::size_t{platform::ReadBe16(reply)} + 2;
    const bool truncated = size < stated;
    const std::size_t end = std::min(size, stated);
    if (end <= 4) {
        return kCdTextNone;
    }
    std::vector<const BYTE*> all;
    for (std::size_t at = 4; at + kCdTextPackBytes <= end; at += kCdTextPackBytes) {
        all.push_back(reply + at);
    }
    counts.packs = static_cast<int>(all.size());
    const bool noCrcs =
        std::all_of(all.begin(), all.end(), [](const BYTE* p) { return p[16] == 0 && p[17] == 0; });

    std::vector<const BYTE*> good;
    for (const BYTE* p : all) {
        const WORD crc = static_cast<WORD>(p[16] << 8 | p[17]);
        if (!noCrcs && crc != platform::CdTextCrc(p)) {
            ++counts.badCrc;
            continue;
        }
        if (BlockOf(p) == 0 && (p[1] & 0x80) == 0) {
            good.push_back(p);
        }
    }
    // The character code is in the first size-information pack; without one, ISO 8859-1.
    BYTE characterCode = kCharacterCodeLatin1;
    bool doubleByte = false;
    for (const BYTE* p : good) {
        if (p[0] == platform::kCdTextPackSizeInfo && p[1] == 0) {
            characterCode = p[4];
        }
        if (p[0] >= kCdTextFirstType && p[0] < kCdTextFirstType + kCdTextTypes && (p[3] & 0x80) != 0) {
            doubleByte = true;
        }
    }
    if (good.empty()) {
        return kCdTextNone;
    }
    if (doubleByte || (characterCode != kCharacterCodeLatin1 && characterCode != kCharacterCodeAscii)) {
        return kCdTextUnsupported;
    }
    for (int type = 0; type < kCdTextTypes; ++type) {
        std::vector<const BYTE*> packs;
        for (const BYTE* p : good) {
            if (p[0] == kCdTextFirstType + type) {
                packs.push_back(p);
            }
        }
        // In sequence order, each sequence number once (a repeated pack is the same pack again).
        std::stable_sort(packs.begin(), packs.end(),
                         [](const BYTE* a, const BYTE* b) { return a[2] < b[2]; });
        packs.erase(std::unique(packs.begin(), packs.end(),
                                [](const BYTE* a, const BYTE* b) { return a[2] == b[2]; }),
                    packs.end());
        DecodeType(packs, text.texts[static_cast<std::size_t>(type)]);
    }
    if (text.Empty()) {
        return kCdTextNone;
    }
    return truncated ? kCdTextTruncated : kCdTextRead;
}

} // namespace discpilot

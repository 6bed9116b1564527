// Parses the input as a drive's CD-Text reply (READ TOC/PMA/ATIP format 5). The parser must stay within
// the reply, keep no text of a pack whose CRC fails, and give only UTF-8 without control characters. The
// first input byte, when it is odd, has every pack's CRC set right first, so that the packs' contents
// are explored and not just their rejection.
#include "Platform/CdTextPacks.h"
#include "transport/CdText.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace discpilot;

namespace {

bool Utf8WithoutControls(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            return false;
        }
        if (c < 0x80) {
            ++i;
            continue;
        }
        // Only the two-byte forms of U+00A0 .. U+00FF come out of ISO 8859-1.
        if ((c != 0xC2 && c != 0xC3) || i + 1 >= text.size() ||
            (static_cast<unsigned char>(text[i + 1]) & 0xC0) != 0x80 ||
            (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)) {
            return false;
        }
        i += 2;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool fixCrcs = (data[0] & 1) != 0;
    // An exact-size copy: reading past it is caught.
    std::vector<BYTE> reply(data + 1, data + size);
    if (fixCrcs) {
        for (std::size_t at = 4; at + platform::kCdTextPackBytes <= reply.size();
             at += platform::kCdTextPackBytes) {
            const WORD crc = platform::CdTextCrc(reply.data() + at);
            reply[at + 16] = static_cast<BYTE>(crc >> 8);
            reply[at + 17] = static_cast<BYTE>(crc & 0xFF);
        }
    }
    CdText text;
    CdTextCounts counts;
    const CdTextOutcome outcome = ParseCdText(reply.data(), reply.size(), text, counts);
    if (outcome != kCdTextRead && outcome != kCdTextTruncated && !text.Empty()) {
        std::abort(); // texts only with a reply that was read
    }
    if (counts.badCrc > counts.packs || (fixCrcs && counts.badCrc != 0)) {
        std::abort();
    }
    for (const auto& type : text.texts) {
        for (const std::string& t : type) {
            if (!Utf8WithoutControls(t)) {
                std::abort();
            }
        }
    }
    return 0;
}

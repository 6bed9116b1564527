// How the drive check finds the first pass's piece in the second: a genuine shift is found wherever it
// lies in a piece of sound, and a second pass of silence where the first read sound is found nowhere
// (the search gives up, rather than settling on the last few bytes of the piece).
#include "check/cddaCDriveCheck.h"
#include "reader/ReadPlanning.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using discpilot::cddaCDriveCheck;
using discpilot::FindReference;

constexpr std::size_t kPiece = cddaCDriveCheck::kPieceBytes;
constexpr std::size_t kSector = 2352;

// Noise-like 16-bit audio, different for each seed.
std::vector<BYTE> Sound(std::size_t bytes, std::uint32_t seed) {
    std::vector<BYTE> out(bytes);
    for (auto& b : out) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<BYTE>(seed >> 24);
    }
    return out;
}

TEST(AlignmentTest, AShiftedSecondPassIsFoundAnywhereInThePiece) {
    const std::vector<BYTE> first = Sound(kPiece, 1);
    for (const std::size_t shift : {std::size_t{0}, std::size_t{4}, 10 * kSector, kPiece - kSector - 4}) {
        SCOPED_TRACE(shift);
        // Other audio, then the first pass's piece from its start.
        std::vector<BYTE> second = Sound(shift, 2);
        second.insert(second.end(), first.begin(), first.end() - static_cast<long>(shift));
        const auto match = FindReference(first.data(), kSector, second.data(), second.size(), 1,
                                         cddaCDriveCheck::kMaxAlignComparisons);
        ASSERT_TRUE(match.found);
        EXPECT_EQ(match.position, shift);
        EXPECT_FALSE(match.unaligned);
    }
}

TEST(AlignmentTest, SilenceWhereTheFirstPassReadSoundIsFoundNowhere) {
    // Sound that begins with a zero byte: every place of the silence passes the first-byte test.
    std::vector<BYTE> first = Sound(kPiece, 3);
    first[0] = 0;
    const std::vector<BYTE> silence(kPiece, 0);
    const auto match = FindReference(first.data(), kSector, silence.data(), silence.size(), 1,
                                     cddaCDriveCheck::kMaxAlignComparisons);
    EXPECT_FALSE(match.found) << "aligned at " << match.position;
}

} // namespace

// The reader's arithmetic, kept apart from its threads and transports so that each rule can be checked on
// its own: slot sizes, the overlap schedule of a fetch, finding the last delivered sector again in new
// data, and the sample filters applied on delivery. Everything here is pure; any thread.
#pragma once

#include "Platform/Types.h"

#include <cstddef>

namespace discpilot {

inline constexpr int kDefaultTransferSize = 62259;  // 95 % of 64 KB
inline constexpr int kLargestTransferSize = 996147; // 95 % of 1 MB
inline constexpr int kRingBytes = 1048576;
inline constexpr int kMinSlots = 3;
inline constexpr int kMaxSlots = 8;

// Bytes per ring slot: 95 % of a stored buffer size when there is one (but no more than 95 % of the
// transport's maximum transfer length when that is known), else of the transport's maximum
// transfer length (below 64 KB or unknown gives 62 259, above 1 MB gives 996 147); then no more than 95 %
// of the drive's own buffer when it reports one (driveBufferKB > 0).
int TransferSize(DWORD storedBufferSize, DWORD maxTransferLength, DWORD driveBufferKB) noexcept;

// 1 MB / transfer size, kept within 3..8.
int SlotCount(int transferSize) noexcept;

// The number of fetch attempts with different overlaps before a fetch gives up.
inline constexpr int kOverlapAttempts = 20;

// Sectors to re-read before the next LBA on attempt k (0..19) of a fetch of c sectors, with the read
// condition's overlap h: a spread over the slot that changes with every attempt, plus the condition's
// overlap growing slowly towards the end of the disc. At most c − 1; never negative.
int OverlapSectors(int c, int h, int attempt, DWORD nextLba) noexcept;

// The outcome of looking for the last delivered sector in new data.
struct ReferenceMatch {
    bool found = false;
    std::size_t position = 0; // where the reference starts in the new data
    bool unaligned = false;   // taken at a position that is not a whole stereo frame
};

// Whether the new data at `at` is the reference: over the compared length (the reference's length, or what
// is left of the data), counted against the reference's length, high bytes far apart (top three bits
// differ and more than 15 apart, counting across the 255/0 wrap) below 15 %, differing high bytes below
// 20 % and differing low bytes below 40 %. Requires the first bytes to be equal.
bool MatchesAt(const BYTE* reference, std::size_t referenceLength, const BYTE* data, std::size_t size,
               std::size_t at) noexcept;

// Searches outward from the expected position (overlap − 1 sectors in, clamped to the data) in 2-byte
// steps, before then after at each distance. A match off a whole frame is tried 2 bytes further on and
// taken there when that matches too. At most maxComparisons places whose first byte is the reference's
// are compared in full; past that nothing is found. Data that repeats the reference's first byte at
// every step (silence read where the reference holds sound) would otherwise cost a whole comparison at
// every step, while real audio passes the first-byte test about once in 256 steps.
ReferenceMatch FindReference(const BYTE* reference, std::size_t referenceLength, const BYTE* data,
                             std::size_t size, int overlapSectors,
                             std::size_t maxComparisons = static_cast<std::size_t>(-1)) noexcept;

// Counts of how two equally long blocks of 16-bit little-endian samples differ (the drive check compares
// its two passes with the same rules as the matching above).
struct ByteDifferences {
    std::size_t highDiffer = 0; // high bytes that differ
    std::size_t large = 0;      // high bytes that differ in their top three bits and by more than 15
    std::size_t lowDiffer = 0;  // low bytes that differ
};
// With limits, the counting stops as soon as one count reaches its limit (the counts are then as far as
// they got): enough to know the blocks differ too much.
ByteDifferences CountDifferences(const BYTE* a, const BYTE* b, std::size_t size, std::size_t firstOffset = 0,
                                 const ByteDifferences* limits = nullptr) noexcept;

// Swaps the two bytes of every whole 16-bit sample.
void SwapSampleBytes(BYTE* data, std::size_t size) noexcept;

// The de-emphasis filter's memory per channel: previous input and (unclipped) previous output.
struct DeemphasisState {
    int xLeft = 0, yLeft = 0, xRight = 0, yRight = 0;
};

// De-emphasises 16-bit little-endian stereo samples in place: y = (7595 x + 10409 y' − 1627 x') / 16384,
// truncating, clipped on output. firstChannel says which channel the first sample belongs to (0 left, 1
// right), so a block may begin in the middle of a frame. The state is carried on only for blocks of 8
// bytes or more.
void Deemphasize(BYTE* data, std::size_t size, int firstChannel, DeemphasisState& state) noexcept;

} // namespace discpilot

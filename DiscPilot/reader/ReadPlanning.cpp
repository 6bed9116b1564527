#include "reader/ReadPlanning.h"

#include "transport/CommandBlock.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace discpilot {

int TransferSize(DWORD storedBufferSize, DWORD maxTransferLength, DWORD driveBufferKB) noexcept {
    int size = 0;
    if (storedBufferSize != 0) {
        size = static_cast<int>(storedBufferSize * 0.95);
        // A stored size (from another adapter, or a damaged record) never goes beyond what this
        // transport carries in one request: every read would fail.
        if (maxTransferLength != 0 && static_cast<double>(size) > maxTransferLength * 0.95) {
            size = static_cast<int>(maxTransferLength * 0.95);
        }
    } else if (maxTransferLength < 65536) {
        size = kDefaultTransferSize; // unknown (0) as well
    } else if (maxTransferLength > 1048576) {
        size = kLargestTransferSize;
    } else {
        size = static_cast<int>(maxTransferLength * 0.95);
    }
    if (driveBufferKB != 0 && static_cast<double>(driveBufferKB) * 1024 < size) {
        size = static_cast<int>(driveBufferKB * 1024 * 0.95);
    }
    return size;
}

int SlotCount(int transferSize) noexcept {
    if (transferSize <= 0) {
        return kMaxSlots;
    }
    return std::clamp(kRingBytes / transferSize, kMinSlots, kMaxSlots);
}

int OverlapSectors(int c, int h, int attempt, DWORD nextLba) noexcept {
    // The order in which the attempts spread the overlap over the slot: every fifth of it in turn, so that
    // successive attempts land far apart.
    static constexpr int kSpread[kOverlapAttempts] = {0,  4,  9, 14, 1,  5,  10, 15, 2,  6,
                                                      11, 16, 3, 7,  12, 17, 8,  13, 18, 19};
    const int k = std::clamp(attempt, 0, kOverlapAttempts - 1);
    // The outer part of the disc holds more sectors per turn, so a drive's positioning errors grow there.
    int overlap = (c - h) * kSpread[k] / 20 + static_cast<int>((nextLba / 333000.0 + 1.0) * h);
    overlap = std::min(overlap, c - 1);
    return std::max(overlap, 0);
}

namespace {

// Distance between two high bytes, counting across the 255/0 wrap when one is near each end.
int HighDistance(int a, int b) noexcept {
    int d = std::abs(a - b);
    if ((a < 15 && b > 240) || (b < 15 && a > 240)) {
        d = 256 - d;
    }
    return d;
}

bool IsLarge(BYTE a, BYTE b) noexcept {
    return ((a ^ b) & 0xE0) != 0 && HighDistance(a, b) > 15;
}

} // namespace

ByteDifferences CountDifferences(const BYTE* a, const BYTE* b, std::size_t size, std::size_t firstOffset,
                                 const ByteDifferences* limits) noexcept {
    ByteDifferences d;
    for (std::size_t i = 0; i < size; ++i) {
        if (a[i] == b[i]) {
            continue;
        }
        // Samples are little-endian: the high byte sits at odd offsets of the stream.
        if (((firstOffset + i) & 1) != 0) {
            ++d.highDiffer;
            if (IsLarge(a[i], b[i])) {
                ++d.large;
            }
        } else {
            ++d.lowDiffer;
        }
        if (limits != nullptr && (d.highDiffer >= limits->highDiffer || d.large >= limits->large ||
                                  d.lowDiffer >= limits->lowDiffer)) {
            break;
        }
    }
    return d;
}

bool MatchesAt(const BYTE* reference, std::size_t referenceLength, const BYTE* data, std::size_t size,
               std::size_t at) noexcept {
    if (at >= size || referenceLength == 0 || data[at] != reference[0]) {
        return false;
    }
    const std::size_t compared = std::min(referenceLength, size - at);
    const double total = static_cast<double>(referenceLength);
    // The smallest count of each kind that fails the match: counting stops there.
    const auto limit = [](double bound) { return static_cast<std::size_t>(std::ceil(bound)); };
    const ByteDifferences limits{limit(0.20 * total), limit(0.15 * total), limit(0.40 * total)};
    const ByteDifferences d = CountDifferences(reference, data + at, compared, 0, &limits);
    return d.large < 0.15 * total && d.highDiffer < 0.20 * total && d.lowDiffer < 0.40 * total;
}

ReferenceMatch FindReference(const BYTE* reference, std::size_t referenceLength, const BYTE* data,
                             std::size_t size, int overlapSectors, std::size_t maxComparisons) noexcept {
    ReferenceMatch match;
    if (size == 0 || referenceLength == 0) {
        return match;
    }
    const std::size_t highest = size > referenceLength ? size - referenceLength : 0;
    long long wanted = (static_cast<long long>(overlapSectors) - 1) * kSectorBytes;
    const std::size_t expected =
        static_cast<std::size_t>(std::clamp<long long>(wanted, 0, static_cast<long long>(highest))) &
        ~std::size_t{1};

    auto take = [&](std::size_t at) {
        match.found = true;
        match.position = at;
        if (at % 4 != 0) {
            // Half a frame off: the whole frame 2 bytes on is the better answer when it matches too.
            if (MatchesAt(reference, referenceLength, data, size, at + 2)) {
                match.position = at + 2;
            } else {
                match.unaligned = true;
            }
        }
        return match;
    };

    // Only a place that passes the first-byte test costs a whole comparison; those are counted.
    std::size_t comparisons = 0;
    bool givenUp = false;
    auto matches = [&](std::size_t at) {
        if (at >= size || data[at] != reference[0]) {
            return false;
        }
        if (comparisons++ == maxComparisons) {
            givenUp = true;
            return false;
        }
        return MatchesAt(reference, referenceLength, data, size, at);
    };

    if (matches(expected)) {
        return take(expected);
    }
    for (std::size_t d = 2; !givenUp; d += 2) {
        const bool before = d <= expected;
        const bool after = expected + d < size;
        if (!before && !after) {
            break;
        }
        if (before && matches(expected - d)) {
            return take(expected - d);
        }
        if (after && matches(expected + d)) {
            return take(expected + d);
        }
    }
    return match;
}

void SwapSampleBytes(BYTE* data, std::size_t size) noexcept {
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        std::swap(data[i], data[i + 1]);
    }
}

void Deemphasize(BYTE* data, std::size_t size, int firstChannel, DeemphasisState& state) noexcept {
    DeemphasisState s = state;
    int channel = firstChannel & 1;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const int x = static_cast<std::int16_t>(static_cast<std::uint16_t>(data[i] | data[i + 1] << 8));
        int& xPrev = channel == 0 ? s.xLeft : s.xRight;
        int& yPrev = channel == 0 ? s.yLeft : s.yRight;
        // Integer division truncates toward zero, as the filter was designed.
        const int y = (7595 * x + 10409 * yPrev - 1627 * xPrev) / 16384;
        xPrev = x;
        yPrev = y;
        const int out = std::clamp(y, -32768, 32767);
        data[i] = static_cast<BYTE>(out & 0xFF);
        data[i + 1] = static_cast<BYTE>((out >> 8) & 0xFF);
        channel ^= 1;
    }
    if (size >= 8) {
        state = s;
    }
}

} // namespace discpilot

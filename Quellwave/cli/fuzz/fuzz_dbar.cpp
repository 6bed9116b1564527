// Feeds arbitrary bytes to the dBAR reader and checks its promises: a refusal says why, and what it
// accepts accounts for every byte (13 per entry and 9 per track) with no entry of zero tracks; the
// verdicts of every track of every entry can be asked for.
#include "rip/AccurateRip.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<rip::DbarEntry> entries;
    std::string error;
    if (!rip::ParseDbar(data, size, entries, &error)) {
        if (error.empty() || !entries.empty()) {
            std::fprintf(stderr, "refused without a message, or with entries left\n");
            std::abort();
        }
        return 0;
    }
    std::size_t bytes = 0;
    for (const rip::DbarEntry& e : entries) {
        if (e.trackCount == 0 || e.tracks.size() != static_cast<std::size_t>(e.trackCount)) {
            std::abort();
        }
        bytes += 13 + 9 * e.tracks.size();
    }
    if (bytes != size) {
        std::fprintf(stderr, "accepted %zu bytes of %zu\n", bytes, size);
        std::abort();
    }
    rip::DiscIds ids;
    if (!entries.empty()) {
        ids = {entries[0].trackCount, entries[0].id1, entries[0].id2, entries[0].cddb};
    }
    for (int t = -1; t <= ids.audioTracks; ++t) {
        rip::Verdict(entries, ids, t, {entries.empty() ? 0u : entries[0].tracks[0].crc, 0});
    }
    return 0;
}

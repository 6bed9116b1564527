// Feeds arbitrary bytes to the PlayList.txt reader. Whatever list it gives must survive a write and a
// second read unchanged, and the second write must give the same bytes: otherwise a list the program
// rewrites at start would drift from the one the listener made.
#include "shell/PlaylistFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const TrackList first = DecodePlaylist(bytes);
    const std::string written = EncodePlaylist(first);
    const TrackList second = DecodePlaylist(written);
    if (second != first) {
        std::fprintf(stderr, "list read back differs: %zu entries, then %zu\n", first.size(), second.size());
        std::abort();
    }
    if (EncodePlaylist(second) != written) {
        std::fprintf(stderr, "second write differs from the first\n");
        std::abort();
    }
    return 0;
}

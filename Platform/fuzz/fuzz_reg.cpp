// Feeds arbitrary bytes to the .reg parser. Whatever parses must survive a write and a second parse
// unchanged, and the second write must give the same text: otherwise a rewrite of a user's file would
// lose or alter data.
#include "../src/RegFile.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace platform::reg;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Document first;
    ParseError error;
    if (!ParseDocument(bytes, first, error)) {
        return 0;
    }
    const std::string text = WriteDocument(first);
    Document second;
    ParseError secondError;
    if (!ParseDocument(text, second, secondError)) {
        std::fprintf(stderr, "written text does not parse: line %zu: %s\n%s\n", secondError.line,
                     secondError.reason.c_str(), text.c_str());
        std::abort();
    }
    if (!Equal(first, second)) {
        std::fprintf(stderr, "re-parsed document differs from the first parse\n%s\n", text.c_str());
        std::abort();
    }
    if (WriteDocument(second) != text) {
        std::fprintf(stderr, "second write differs from the first\n");
        std::abort();
    }
    return 0;
}

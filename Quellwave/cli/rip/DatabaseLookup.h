// Fetching a disc's dBAR file from the AccurateRip database over HTTP (libcurl).
#pragma once

#include <string>
#include <vector>

namespace rip {

// The address rips look discs up at unless the machine setting names another.
inline constexpr const char* kDefaultDatabaseAddress = "http://www.accuraterip.com/accuraterip";

struct LookupResult {
    enum Outcome { kFound, kNotInDatabase, kFailed } outcome = kFailed;
    std::vector<unsigned char> body; // the file, when found
    std::string why;                 // what failed, for a listener
};

// GETs address + "/" + path. 404 is "not in the database"; no answer, another status or a file over
// 1 MiB (no disc's file is near that) is a failure. Blocks for at most timeoutSeconds; any thread.
LookupResult FetchDbar(const std::string& address, const std::string& path, long timeoutSeconds);

} // namespace rip

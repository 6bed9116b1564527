// Opening a file the player reads (a WAV, DSF or DSDIFF file), with the reason when it cannot be read.
#pragma once

#include "Platform/FileIo.h"

#include <cstdint>

namespace engine {

// Why an input file could not be opened.
using InputFileError = platform::ReadFileError;

// Short fixed English text, e.g. "no such file"; never null.
const char* InputFileErrorText(InputFileError error) noexcept;

// Opens path read-only as a blocking descriptor, but only when it is a regular file (after following
// symbolic links): anything else is refused before it is opened, and the open itself never waits for a
// writer. Returns the descriptor and stores the file's size, or -1 with *error set. error and size may be
// null. Never throws.
inline int OpenInputFile(const char* path, InputFileError* error, std::uint64_t* size) noexcept {
    return platform::OpenRegularFileForReading(path, error, size);
}

} // namespace engine

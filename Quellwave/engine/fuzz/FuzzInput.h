// Shared by the file-parser fuzz targets: the input becomes an anonymous memory file, so the real
// open/read/seek path runs without touching the disk, and a broken rule aborts for the fuzzer to catch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Platform/FileIo.h"

// A path that opens the fuzz input as a file; empty when the memory file cannot be written.
inline std::string FuzzInputPath(const std::uint8_t* data, std::size_t size) {
    return platform::MemoryFilePath(data, size);
}

inline void Check(bool condition) {
    if (!condition)
        std::abort();
}

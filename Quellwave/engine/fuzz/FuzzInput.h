// Shared by the file-parser fuzz targets: the input becomes an anonymous memory file, so the real
// open/read/seek path runs without touching the disk, and a broken rule aborts for the fuzzer to catch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

// A path that opens the fuzz input as a file; empty when the memory file cannot be written.
inline std::string FuzzInputPath(const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("fuzz_input", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        return {};
    return "/proc/self/fd/" + std::to_string(fd);
}

inline void Check(bool condition) {
    if (!condition)
        std::abort();
}

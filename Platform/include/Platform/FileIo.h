// Whole-buffer reads and writes on an open file descriptor: interrupted calls (EINTR) are repeated and
// short transfers continued, so a caller sees all its bytes, the end of the file, or an error. Block on
// the file; any thread (each call on its own descriptor, or with the file position in mind).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace platform {

// Reads size bytes from the file position. Returns the bytes read (fewer only at the end of the file),
// or -1 with errno set when a read fails.
std::int64_t ReadFully(int fd, void* data, std::size_t size) noexcept;
// The same at a file offset, leaving the file position alone.
std::int64_t ReadFullyAt(int fd, void* data, std::size_t size, std::uint64_t offset) noexcept;

// Writes all size bytes at the file position. False when a write fails (errno set) or takes nothing.
bool WriteFully(int fd, const void* data, std::size_t size) noexcept;
// The same at a file offset, leaving the file position alone.
bool WriteFullyAt(int fd, const void* data, std::size_t size, std::uint64_t offset) noexcept;

// Creates a new file named <prefix>XXXXXX in dir, opened for reading and writing, and removes its name at
// once, so that the file goes away when the descriptor is closed, whatever ends the process. Returns the
// descriptor, or -1 with errno set. Any thread.
int CreateDeleteOnCloseFile(const std::filesystem::path& dir, const char* prefix) noexcept;

// The bytes of the file system holding path that the calling user may still write (statvfs). False with
// errno set when the file system cannot be asked.
bool FreeBytesForCaller(const std::filesystem::path& path, std::uint64_t& bytes) noexcept;

} // namespace platform

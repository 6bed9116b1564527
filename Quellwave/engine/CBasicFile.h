// A thin file wrapper with the operations the DSD file reader needs: open, seek, read, tell, write, close.
#pragma once

#include "InputFile.h"
#include "Platform/Types.h"

#include <cstdint>

namespace engine {

// Access modes of CBasicFile::Open, with the values the system's files were opened with.
inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;

// Move methods of CBasicFile::Seek.
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;

// One file descriptor. Not thread-safe: one thread uses an object at a time. Every operation blocks on
// file I/O and reports failure by its result; none throws.
class CBasicFile {
public:
    CBasicFile() noexcept = default;
    // Closes the file if it is still open.
    virtual ~CBasicFile();
    CBasicFile(const CBasicFile&) = delete;
    CBasicFile& operator=(const CBasicFile&) = delete;

    // Opens path (UTF-8). GENERIC_READ alone opens an existing regular file read-only (anything else, such
    // as a FIFO, is refused without waiting on it); any other access creates or truncates the file for
    // writing (and reading when GENERIC_READ is also given). A file already open is closed first. False on
    // failure, leaving the object closed; LastOpenError() then says why.
    virtual bool Open(const char* path, DWORD access);

    // Moves the file position by distance from the start, the current position or the end (FILE_BEGIN,
    // FILE_CURRENT, FILE_END). Returns the new absolute position, or -1 (position unchanged) when closed,
    // when the method is unknown or when the target would lie before the start of the file. A position
    // past the end is allowed; reads there return 0.
    virtual std::int64_t Seek(std::int64_t distance, DWORD moveMethod);

    // Reads up to count bytes, retrying until count arrived or the file ends. Returns the bytes read; 0 at
    // the end of the file, when closed or when the first read fails.
    virtual std::uint32_t Read(void* buffer, std::uint32_t count);

    // The current absolute position, or -1 when closed.
    virtual std::int64_t Tell();

    // Writes all count bytes. False when closed or on any failed write.
    virtual bool Write(const void* buffer, std::uint32_t count);

    // Closes the file. False when it was not open.
    virtual bool Close();

    bool IsOpen() const noexcept { return handle_ >= 0; }
    // Why the last Open failed; None after a success.
    InputFileError LastOpenError() const noexcept { return lastOpenError_; }
    // The file's current size in bytes, or -1 when closed or unknown.
    std::int64_t Size() const noexcept;

private:
    int handle_ = -1; // POSIX descriptor; -1 when closed
    InputFileError lastOpenError_ = InputFileError::None;
};

} // namespace engine

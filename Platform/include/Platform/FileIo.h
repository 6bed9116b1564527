// Whole-buffer reads and writes on an open file descriptor: interrupted calls (EINTR) are repeated and
// short transfers continued, so a caller sees all its bytes, the end of the file, or an error. Block on
// the file; any thread (each call on its own descriptor, or with the file position in mind).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

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

// Creates path, or empties the file it names, for writing (and reading too when readToo); a new file gets
// permissions less the umask. Returns the descriptor, or -1 with errno set.
int CreateFileForWriting(const char* path, bool readToo, unsigned permissions = 0666) noexcept;
// Creates path for writing only when nothing has that name yet (not even a dangling symbolic link), so no
// existing file is ever emptied; the new file gets permissions less the umask. Returns the descriptor, or
// -1 with errno set (EEXIST when the name is taken).
int CreateNewFileForWriting(const char* path, unsigned permissions = 0666) noexcept;

// Why a file to be read could not be opened.
enum class ReadFileError {
    None,
    NoSuchFile,       // the path or one of its folders does not exist
    IsDirectory,      // the path names a folder
    PermissionDenied, // the file or a folder on its path may not be read
    NotRegularFile,   // a FIFO, a device, a socket: reading it could block for ever
    Unreadable,       // any other failure to open or examine it
};
// Opens path read-only as a blocking descriptor, but only when it is a regular file (after following
// symbolic links): anything else is refused before it is opened, and the open itself never waits for a
// writer. Returns the descriptor and stores the file's size, or -1 with *error set. error and size may be
// null.
int OpenRegularFileForReading(const char* path, ReadFileError* error, std::uint64_t* size) noexcept;

// Opens path read-only (whatever kind of file it is). Returns the descriptor, or -1 with errno set.
int OpenFileForReading(const char* path) noexcept;

enum class SeekOrigin { Begin, Current, End };
// Moves the file position; returns the new position, or -1 with errno set.
std::int64_t SeekFile(int fd, std::int64_t distance, SeekOrigin origin) noexcept;
// The file's size in bytes, or -1 with errno set.
std::int64_t FileSize(int fd) noexcept;
// Cuts the file (or extends it with zeros) to size bytes. False with errno set on failure.
bool TruncateFile(int fd, std::uint64_t size) noexcept;
// Puts the file's data on the disk. False with errno set on failure.
bool SyncFile(int fd) noexcept;
// Closes the descriptor. False with errno set when the close reported an error (data may be lost).
bool CloseFile(int fd) noexcept;

// Creates a new file named after pathTemplate, whose last six characters "XXXXXX" are replaced in place
// to make the name unique; opened for reading and writing, readable by its owner only. Returns the
// descriptor, or -1 with errno set.
int CreateUniqueFile(char* pathTemplate) noexcept;
// Creates a file without a name in folder, opened for writing, readable by its owner only: a process that
// is killed before the file is given a name (GiveName) leaves nothing behind. Returns the descriptor, or -1
// with errno set (EOPNOTSUPP and EISDIR where the file system cannot make such files).
int CreateUnnamedFile(const std::filesystem::path& folder) noexcept;
// Gives a file made by CreateUnnamedFile the name path, which must not exist yet. False with errno set.
bool GiveName(int fd, const std::filesystem::path& path) noexcept;
// The permission bits a new file gets: 0666 less the process's umask.
unsigned NewFilePermissions() noexcept;
// Gives the open file these permission bits. False with errno set on failure.
bool SetFilePermissions(int fd, unsigned permissions) noexcept;
// Removes the file's name. Safe to call from a signal handler. False with errno set on failure.
bool RemoveFile(const char* path) noexcept;
// Puts the folder's entries on the disk, so that a file renamed into it keeps its new name after a power
// loss. False when the folder cannot be opened or synced.
bool SyncFolder(const std::filesystem::path& folder) noexcept;
// Whether the process's standard error is a terminal (a progress bar may be drawn there).
bool StandardErrorIsTerminal() noexcept;

// The bytes of the file system holding path that the calling user may still write (statvfs). False with
// errno set when the file system cannot be asked.
bool FreeBytesForCaller(const std::filesystem::path& path, std::uint64_t& bytes) noexcept;

// A path under which the given bytes open as a regular file that lives in memory only, never on disk
// (fuzz targets run the real open/read/seek path on their input this way). Each call replaces the bytes
// of the process's one memory file and returns its path; empty when it cannot be written. One thread.
std::string MemoryFilePath(const void* data, std::size_t size) noexcept;

} // namespace platform

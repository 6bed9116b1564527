#include "Platform/FileIo.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace platform {

namespace {

// Repeats transfer(done) until size bytes moved, the transfer returns 0, or it fails other than with
// EINTR. Returns the bytes moved, or -1 on failure.
template <typename Transfer> std::int64_t Repeat(std::size_t size, Transfer transfer) noexcept {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = transfer(done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

} // namespace

std::int64_t ReadFully(int fd, void* data, std::size_t size) noexcept {
    auto* bytes = static_cast<unsigned char*>(data);
    return Repeat(size, [&](std::size_t done) { return ::read(fd, bytes + done, size - done); });
}

std::int64_t ReadFullyAt(int fd, void* data, std::size_t size, std::uint64_t offset) noexcept {
    auto* bytes = static_cast<unsigned char*>(data);
    return Repeat(size, [&](std::size_t done) {
        return ::pread(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
    });
}

bool WriteFully(int fd, const void* data, std::size_t size) noexcept {
    const auto* bytes = static_cast<const unsigned char*>(data);
    return Repeat(size, [&](std::size_t done) { return ::write(fd, bytes + done, size - done); }) ==
           static_cast<std::int64_t>(size);
}

bool WriteFullyAt(int fd, const void* data, std::size_t size, std::uint64_t offset) noexcept {
    const auto* bytes = static_cast<const unsigned char*>(data);
    return Repeat(size, [&](std::size_t done) {
               return ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
           }) == static_cast<std::int64_t>(size);
}

int CreateDeleteOnCloseFile(const std::filesystem::path& dir, const char* prefix) noexcept {
    try {
        std::string name = (dir / (std::string(prefix) + "XXXXXX")).string();
        const int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) {
            return -1;
        }
        if (::unlink(name.c_str()) != 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
        return fd;
    } catch (...) {
        errno = ENOMEM;
        return -1;
    }
}

int CreateFileForWriting(const char* path, bool readToo, unsigned permissions) noexcept {
    if (path == nullptr) {
        errno = ENOENT;
        return -1;
    }
    return ::open(path, O_CLOEXEC | (readToo ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC,
                  static_cast<mode_t>(permissions));
}

int CreateNewFileForWriting(const char* path, unsigned permissions) noexcept {
    if (path == nullptr) {
        errno = ENOENT;
        return -1;
    }
    return ::open(path, O_CLOEXEC | O_WRONLY | O_CREAT | O_EXCL, static_cast<mode_t>(permissions));
}

int OpenFileForReading(const char* path) noexcept {
    if (path == nullptr) {
        errno = ENOENT;
        return -1;
    }
    return ::open(path, O_RDONLY | O_CLOEXEC);
}

namespace {

ReadFileError FromErrno(int error) noexcept {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ReadFileError::NoSuchFile;
    case EISDIR:
        return ReadFileError::IsDirectory;
    case EACCES:
    case EPERM:
        return ReadFileError::PermissionDenied;
    case ENXIO:
    case ENODEV:
        return ReadFileError::NotRegularFile;
    default:
        return ReadFileError::Unreadable;
    }
}

ReadFileError FromMode(mode_t mode) noexcept {
    if (S_ISDIR(mode)) {
        return ReadFileError::IsDirectory;
    }
    return S_ISREG(mode) ? ReadFileError::None : ReadFileError::NotRegularFile;
}

} // namespace

int OpenRegularFileForReading(const char* path, ReadFileError* error, std::uint64_t* size) noexcept {
    ReadFileError dummy = ReadFileError::None;
    ReadFileError& result = error ? *error : dummy;
    result = ReadFileError::None;
    if (path == nullptr) {
        result = ReadFileError::NoSuchFile;
        return -1;
    }
    // Look before opening: opening a FIFO waits for a writer, and opening a device may act on it.
    struct stat before {};
    if (::stat(path, &before) != 0) {
        result = FromErrno(errno);
        return -1;
    }
    if ((result = FromMode(before.st_mode)) != ReadFileError::None) {
        return -1;
    }
    // The path may have been replaced since: open without waiting and look again at what was opened.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        result = FromErrno(errno);
        return -1;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0) {
        result = ReadFileError::Unreadable;
    } else {
        result = FromMode(opened.st_mode);
    }
    const int flags = result == ReadFileError::None ? ::fcntl(fd, F_GETFL) : -1;
    if (result == ReadFileError::None && (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)) {
        result = ReadFileError::Unreadable;
    }
    if (result != ReadFileError::None) {
        ::close(fd);
        return -1;
    }
    if (size) {
        *size = static_cast<std::uint64_t>(opened.st_size);
    }
    return fd;
}

std::int64_t SeekFile(int fd, std::int64_t distance, SeekOrigin origin) noexcept {
    const int whence = origin == SeekOrigin::Begin     ? SEEK_SET
                       : origin == SeekOrigin::Current ? SEEK_CUR
                                                       : SEEK_END;
    const off_t moved = ::lseek(fd, static_cast<off_t>(distance), whence);
    return moved < 0 ? -1 : static_cast<std::int64_t>(moved);
}

std::int64_t FileSize(int fd) noexcept {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(info.st_size);
}

bool TruncateFile(int fd, std::uint64_t size) noexcept {
    return ::ftruncate(fd, static_cast<off_t>(size)) == 0;
}

bool SyncFile(int fd) noexcept {
    return ::fsync(fd) == 0;
}

bool CloseFile(int fd) noexcept {
    return ::close(fd) == 0;
}

int CreateUniqueFile(char* pathTemplate) noexcept {
    return ::mkostemp(pathTemplate, O_CLOEXEC);
}

int CreateUnnamedFile(const std::filesystem::path& folder) noexcept {
    return ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
}

bool GiveName(int fd, const std::filesystem::path& path) noexcept {
    // The descriptor's own entry in /proc names the unnamed file; linkat follows it to the file.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

unsigned NewFilePermissions() noexcept {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
}

bool SetFilePermissions(int fd, unsigned permissions) noexcept {
    return ::fchmod(fd, static_cast<mode_t>(permissions)) == 0;
}

bool RemoveFile(const char* path) noexcept {
    return ::unlink(path) == 0;
}

bool SyncFolder(const std::filesystem::path& folder) noexcept {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

bool StandardErrorIsTerminal() noexcept {
    return ::isatty(STDERR_FILENO) == 1;
}

bool FreeBytesForCaller(const std::filesystem::path& path, std::uint64_t& bytes) noexcept {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) {
        return false;
    }
    bytes = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    return true;
}

std::string MemoryFilePath(const void* data, std::size_t size) noexcept {
    static const int fd = ::memfd_create("memory_file", MFD_CLOEXEC);
    if (fd < 0 || ::ftruncate(fd, 0) != 0 || !WriteFullyAt(fd, data, size, 0))
        return {};
    try {
        return "/proc/self/fd/" + std::to_string(fd);
    } catch (...) {
        return {};
    }
}

} // namespace platform

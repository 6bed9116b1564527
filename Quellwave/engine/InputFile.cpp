#include "InputFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

InputFileError FromErrno(int error) noexcept {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return InputFileError::NoSuchFile;
    case EISDIR:
        return InputFileError::IsDirectory;
    case EACCES:
    case EPERM:
        return InputFileError::PermissionDenied;
    case ENXIO:
    case ENODEV:
        return InputFileError::NotRegularFile;
    default:
        return InputFileError::Unreadable;
    }
}

InputFileError FromMode(mode_t mode) noexcept {
    if (S_ISDIR(mode))
        return InputFileError::IsDirectory;
    return S_ISREG(mode) ? InputFileError::None : InputFileError::NotRegularFile;
}

} // namespace

const char* InputFileErrorText(InputFileError error) noexcept {
    switch (error) {
    case InputFileError::None:
        return "ok";
    case InputFileError::NoSuchFile:
        return "no such file";
    case InputFileError::IsDirectory:
        return "is a directory";
    case InputFileError::PermissionDenied:
        return "permission denied";
    case InputFileError::NotRegularFile:
        return "not a regular file";
    case InputFileError::Unreadable:
        return "unreadable";
    }
    return "unreadable";
}

int OpenInputFile(const char* path, InputFileError* error, std::uint64_t* size) noexcept {
    InputFileError dummy = InputFileError::None;
    InputFileError& result = error ? *error : dummy;
    result = InputFileError::None;
    if (path == nullptr) {
        result = InputFileError::NoSuchFile;
        return -1;
    }
    // Look before opening: opening a FIFO waits for a writer, and opening a device may act on it.
    struct stat before {};
    if (::stat(path, &before) != 0) {
        result = FromErrno(errno);
        return -1;
    }
    if ((result = FromMode(before.st_mode)) != InputFileError::None)
        return -1;
    // The path may have been replaced since: open without waiting and look again at what was opened.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        result = FromErrno(errno);
        return -1;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0) {
        result = InputFileError::Unreadable;
    } else {
        result = FromMode(opened.st_mode);
    }
    const int flags = result == InputFileError::None ? ::fcntl(fd, F_GETFL) : -1;
    if (result == InputFileError::None && (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0))
        result = InputFileError::Unreadable;
    if (result != InputFileError::None) {
        ::close(fd);
        return -1;
    }
    if (size)
        *size = static_cast<std::uint64_t>(opened.st_size);
    return fd;
}

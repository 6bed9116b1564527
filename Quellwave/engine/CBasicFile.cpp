#include "CBasicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CBasicFile::~CBasicFile() {
    if (handle_ >= 0)
        ::close(handle_);
}

bool CBasicFile::Open(const char* path, DWORD access) {
    if (handle_ >= 0)
        Close();
    lastOpenError_ = InputFileError::None;
    if (path == nullptr) {
        lastOpenError_ = InputFileError::NoSuchFile;
        return false;
    }
    // Reading alone opens an existing file; anything that writes creates the file afresh.
    if (access == GENERIC_READ) {
        handle_ = OpenInputFile(path, &lastOpenError_, nullptr);
        return handle_ >= 0;
    }
    const int flags = O_CLOEXEC | ((access & GENERIC_READ) != 0 ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
    handle_ = ::open(path, flags, 0666);
    if (handle_ < 0)
        lastOpenError_ = InputFileError::Unreadable;
    return handle_ >= 0;
}

std::int64_t CBasicFile::Seek(std::int64_t distance, DWORD moveMethod) {
    if (handle_ < 0)
        return -1;
    int whence = SEEK_SET;
    switch (moveMethod) {
    case FILE_BEGIN:
        whence = SEEK_SET;
        break;
    case FILE_CURRENT:
        whence = SEEK_CUR;
        break;
    case FILE_END:
        whence = SEEK_END;
        break;
    default:
        return -1;
    }
    const off_t moved = ::lseek(handle_, static_cast<off_t>(distance), whence);
    return moved < 0 ? -1 : static_cast<std::int64_t>(moved);
}

std::uint32_t CBasicFile::Read(void* buffer, std::uint32_t count) {
    if (handle_ < 0 || buffer == nullptr)
        return 0;
    auto* out = static_cast<unsigned char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(handle_, out + done, count - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (got == 0)
            break;
        done += static_cast<std::uint32_t>(got);
    }
    return done;
}

std::int64_t CBasicFile::Tell() {
    if (handle_ < 0)
        return -1;
    const off_t position = ::lseek(handle_, 0, SEEK_CUR);
    return position < 0 ? -1 : static_cast<std::int64_t>(position);
}

bool CBasicFile::Write(const void* buffer, std::uint32_t count) {
    if (handle_ < 0 || (buffer == nullptr && count != 0))
        return false;
    const auto* in = static_cast<const unsigned char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        const ssize_t put = ::write(handle_, in + done, count - done);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::uint32_t>(put);
    }
    return true;
}

std::int64_t CBasicFile::Size() const noexcept {
    struct stat info {};
    if (handle_ < 0 || ::fstat(handle_, &info) != 0)
        return -1;
    return static_cast<std::int64_t>(info.st_size);
}

bool CBasicFile::Close() {
    if (handle_ < 0)
        return false;
    const int result = ::close(handle_);
    handle_ = -1;
    return result == 0;
}

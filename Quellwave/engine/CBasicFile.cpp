#include "CBasicFile.h"

#include "Platform/FileIo.h"

namespace engine {

CBasicFile::~CBasicFile() {
    if (handle_ >= 0)
        platform::CloseFile(handle_);
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
    handle_ = platform::CreateFileForWriting(path, (access & GENERIC_READ) != 0);
    if (handle_ < 0)
        lastOpenError_ = InputFileError::Unreadable;
    return handle_ >= 0;
}

std::int64_t CBasicFile::Seek(std::int64_t distance, DWORD moveMethod) {
    if (handle_ < 0)
        return -1;
    platform::SeekOrigin origin = platform::SeekOrigin::Begin;
    switch (moveMethod) {
    case FILE_BEGIN:
        origin = platform::SeekOrigin::Begin;
        break;
    case FILE_CURRENT:
        origin = platform::SeekOrigin::Current;
        break;
    case FILE_END:
        origin = platform::SeekOrigin::End;
        break;
    default:
        return -1;
    }
    return platform::SeekFile(handle_, distance, origin);
}

std::uint32_t CBasicFile::Read(void* buffer, std::uint32_t count) {
    if (handle_ < 0 || buffer == nullptr)
        return 0;
    // A read error counts as the end: the caller sees fewer bytes than it asked for.
    const std::int64_t got = platform::ReadFully(handle_, buffer, count);
    return got < 0 ? 0 : static_cast<std::uint32_t>(got);
}

std::int64_t CBasicFile::Tell() {
    if (handle_ < 0)
        return -1;
    return platform::SeekFile(handle_, 0, platform::SeekOrigin::Current);
}

bool CBasicFile::Write(const void* buffer, std::uint32_t count) {
    if (handle_ < 0 || (buffer == nullptr && count != 0))
        return false;
    return platform::WriteFully(handle_, buffer, count);
}

std::int64_t CBasicFile::Size() const noexcept {
    return handle_ < 0 ? -1 : platform::FileSize(handle_);
}

bool CBasicFile::Close() {
    if (handle_ < 0)
        return false;
    const bool closed = platform::CloseFile(handle_);
    handle_ = -1;
    return closed;
}

} // namespace engine

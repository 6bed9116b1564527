#include "Platform/FileIo.h"

#include <fcntl.h>
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

bool FreeBytesForCaller(const std::filesystem::path& path, std::uint64_t& bytes) noexcept {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) {
        return false;
    }
    bytes = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    return true;
}

} // namespace platform

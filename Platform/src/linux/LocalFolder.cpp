#include "Platform/LocalFolder.h"

#include <algorithm>
#include <array>
#include <system_error>

#include <sys/vfs.h>

namespace platform {

namespace {

// File system type numbers (statfs f_type) of the network file systems.
constexpr std::array<unsigned long, 10> kNetworkTypes = {
    0x6969,     // NFS
    0x517B,     // SMB
    0xFF534D42, // CIFS
    0xFE534D42, // SMB2
    0x73757245, // Coda
    0x5346414F, // AFS
    0x6B414653, // kernel AFS
    0x01021997, // 9P
    0x00C36400, // Ceph
    0x564C,     // NCP
};

} // namespace

bool IsLocalFolder(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_directory(path, error)) {
        return false;
    }
    struct statfs info {};
    if (::statfs(path.c_str(), &info) != 0) {
        return false;
    }
    const auto type = static_cast<unsigned long>(info.f_type) & 0xFFFFFFFFul;
    return std::find(kNetworkTypes.begin(), kNetworkTypes.end(), type) == kNetworkTypes.end();
}

} // namespace platform

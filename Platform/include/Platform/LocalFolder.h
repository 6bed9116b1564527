// Where a folder lives.
#pragma once

#include <filesystem>

namespace platform {

// True when path names an existing folder (links followed) on a file system of this machine; false for a
// file, a missing path, or a folder on a network file system (NFS, SMB/CIFS, AFS, Coda, 9P, Ceph, NCP).
// Any thread; blocks on the file system (a stalled network mount may block).
bool IsLocalFolder(const std::filesystem::path& path);

} // namespace platform

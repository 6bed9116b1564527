#include "Platform/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace platform {

namespace {

namespace fs = std::filesystem;

// An environment variable that names an absolute folder; relative or empty values are ignored, as the
// base-directory convention asks, so that nothing is ever written relative to the working directory.
fs::path AbsoluteFromEnvironment(const char* variable) {
    const char* value = std::getenv(variable);
    if (value == nullptr || value[0] == '\0') {
        return {};
    }
    fs::path path(value);
    return path.is_absolute() ? path : fs::path{};
}

// $HOME, else the home folder of the user database entry; empty when neither gives an absolute folder.
fs::path HomeDir() {
    if (fs::path home = AbsoluteFromEnvironment("HOME"); !home.empty()) {
        return home;
    }
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == ERANGE &&
           buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (result == nullptr || result->pw_dir == nullptr || result->pw_dir[0] != '/') {
        return {};
    }
    return fs::path(result->pw_dir);
}

fs::path BaseDir(const char* variable, const char* underHome) {
    if (fs::path dir = AbsoluteFromEnvironment(variable); !dir.empty()) {
        return dir;
    }
    fs::path home = HomeDir();
    return home.empty() ? fs::path{} : home / underHome;
}

} // namespace

fs::path AppDataDir() {
    return BaseDir("XDG_DATA_HOME", ".local/share");
}

fs::path ConfigDir() {
    return BaseDir("XDG_CONFIG_HOME", ".config");
}

fs::path ProgramPath() {
    std::error_code error;
    fs::path path = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path{} : path;
}

fs::path ProgramDir() {
    return ProgramPath().parent_path();
}

fs::path ProgramDataDirFor(const fs::path& program) {
    const fs::path folder = program.parent_path();
    if (folder.filename() == "bin") {
        const fs::path shared = folder.parent_path() / "share" / program.filename();
        std::error_code error;
        if (fs::is_directory(shared, error)) {
            return shared;
        }
    }
    return folder;
}

fs::path ProgramDataDir() {
    return ProgramDataDirFor(ProgramPath());
}

fs::path TempDir() {
    if (fs::path dir = AbsoluteFromEnvironment("TMPDIR"); !dir.empty()) {
        return dir;
    }
    return "/tmp";
}

} // namespace platform

#include "CliSupport.h"

#include "Platform/DriveTable.h"
#include "Platform/EndingSignals.h"
#include "Platform/FileIo.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace cli {

namespace {

// The temporary file's name for the signal handler, which may only call async-signal-safe functions.
char gTemporaryPath[4096];

extern "C" void RemoveTemporaryOutputAndExit(int signal) {
    if (gTemporaryPath[0] != '\0')
        platform::RemoveFile(gTemporaryPath);
    std::_Exit(128 + signal);
}

} // namespace

bool TakeOperands(const std::vector<std::string>& args, std::vector<std::string>* operands,
                  std::string* bad) {
    bool optionsEnded = false;
    for (const std::string& a : args) {
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && a.size() > 1 && a[0] == '-') {
            if (bad)
                *bad = a;
            return false;
        }
        operands->push_back(a);
    }
    return true;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

std::string ErrnoText(int error) {
    std::string text = std::strerror(error);
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

TemporaryOutput::~TemporaryOutput() {
    Discard();
}

bool TemporaryOutput::Create(const std::filesystem::path& target, const char* tag, std::string* error) {
    Discard();
    // Renaming over a device or a folder would replace it: only a regular file (or nothing) is replaced.
    std::error_code statusError;
    const std::filesystem::file_status existing = std::filesystem::status(target, statusError);
    const bool exists = !statusError && std::filesystem::exists(existing);
    if (exists && !std::filesystem::is_regular_file(existing)) {
        *error = std::filesystem::is_directory(existing) ? "is a directory" : "not a regular file";
        return false;
    }
    const std::filesystem::path folder =
        target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
    std::string name = (folder / ("." + target.filename().string() + "." + tag + "-XXXXXX")).string();
    if (name.size() >= sizeof gTemporaryPath) {
        *error = "the path is too long";
        return false;
    }
    // The name is published before the file exists, so a signal in between removes nothing of anyone's.
    catcher_.emplace(RemoveTemporaryOutputAndExit);
    int fd = -1;
    int savedErrno = 0;
    {
        const platform::EndingSignalsHeld held;
        fd = platform::CreateUniqueFile(name.data());
        savedErrno = errno;
        if (fd >= 0)
            std::memcpy(gTemporaryPath, name.c_str(), name.size() + 1);
    }
    if (fd < 0) {
        *error = "cannot create a file beside it: " + ErrnoText(savedErrno);
        Release();
        return false;
    }
    // A unique file is private; the finished file gets the target's permissions, or a new file's.
    const unsigned mode = exists
                              ? static_cast<unsigned>(existing.permissions() & std::filesystem::perms::mask)
                              : platform::NewFilePermissions();
    platform::SetFilePermissions(fd, mode);
    platform::CloseFile(fd);
    target_ = target;
    path_ = name;
    return true;
}

bool TemporaryOutput::Commit(std::string* error) {
    if (path_.empty()) {
        *error = "nothing to commit";
        return false;
    }
    if (std::rename(path_.c_str(), target_.c_str()) != 0) {
        *error = "cannot rename the finished file into place: " + ErrnoText(errno);
        Discard();
        return false;
    }
    path_.clear();
    Release();
    return true;
}

void TemporaryOutput::Discard() noexcept {
    if (!path_.empty())
        platform::RemoveFile(path_.c_str());
    path_.clear();
    Release();
}

void TemporaryOutput::Release() noexcept {
    gTemporaryPath[0] = '\0';
    catcher_.reset();
}

std::string NoDiscText(unsigned char letter) {
    std::string error;
    if (platform::GetDriveType(static_cast<char>(letter)) == platform::DRIVE_CDROM &&
        !platform::OpenCdDevice(static_cast<char>(letter), error) && !error.empty()) {
        return error;
    }
    return std::string("drive ") + static_cast<char>(letter) + ": no audio disc can be read in this drive";
}

} // namespace cli

// A test's own folder under the temporary directory: made fresh, removed with everything in it when the
// test is done, so tests neither see one another's files nor leave any behind.
#pragma once

#include <filesystem>
#include <string>

namespace testkit {

class ScratchFolder {
public:
    // tag goes into the folder's name ("qw-<tag>-XXXXXX"), so a folder left by a crash says whose it was.
    // The current test fails when no folder can be made.
    explicit ScratchFolder(const std::string& tag = "test");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    // Writes a file below the folder (making the folders above it) and returns its path.
    std::filesystem::path Put(const std::string& name, const std::string& bytes = {}) const;

private:
    std::filesystem::path path_;
};

} // namespace testkit

// Pieces the subcommands share: operands after options, file identity, error texts, and an output file
// that appears under its name only when it is complete.
#pragma once

#include "Platform/EndingSignals.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// The operands of a subcommand that takes no options: every argument, except that a first "--" ends the
// options and is dropped (so an operand may start with '-'). False when an argument before "--" looks
// like an option ('-' and more); *bad then names it.
bool TakeOperands(const std::vector<std::string>& args, std::vector<std::string>* operands, std::string* bad);

// Whether two paths name the same file (through ".", symbolic links or hard links). False when either
// does not exist.
bool SameFile(const std::string& a, const std::string& b);

// An errno value as lower-case English text, e.g. "no space left on device".
std::string ErrnoText(int error);

// Why the CD controller could not open the drive behind a letter, for a user: the drive's own complaint
// when the letter is a CD drive whose device cannot be opened at all (a virtual drive's CUE sheet refused
// at its line: "drive V: /path/disc.cue:4: ..."), else "drive V: no audio disc can be read in this
// drive". Opens and closes the letter's device.
std::string NoDiscText(unsigned char letter);

// A private file beside the target, named ".<target name>.<tag>-XXXXXX", that becomes the target only by
// Commit: the target is never a half file. Until then SIGINT, SIGTERM and SIGHUP remove the file and end
// the process (status 128 + the signal); after SIGKILL only the clearly named temporary file can remain.
// One at a time per process.
class TemporaryOutput {
public:
    TemporaryOutput() = default;
    ~TemporaryOutput(); // Discard
    TemporaryOutput(const TemporaryOutput&) = delete;
    TemporaryOutput& operator=(const TemporaryOutput&) = delete;

    // Creates the file with the permissions the target has (a new file's when it has none) and installs
    // the signal handlers. False with *error set when it cannot be made, or when the target exists and is
    // not a regular file (a device or a folder is never replaced).
    bool Create(const std::filesystem::path& target, const char* tag, std::string* error);
    const std::string& Path() const noexcept { return path_; }
    // Renames the finished (flushed and synced) file over the target. False with *error set; the
    // temporary file is then removed and the target left as it was.
    bool Commit(std::string* error);
    // Removes the temporary file, if any, and restores the signal handlers.
    void Discard() noexcept;

private:
    void Release() noexcept;

    std::filesystem::path target_;
    std::string path_;
    std::optional<platform::EndingSignalCatcher> catcher_;
};

} // namespace cli

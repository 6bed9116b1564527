// This process and the processes it starts: identities, CPU time, starting the program again, and child
// processes with their exit status. Everything above Platform asks here instead of calling the system.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// The process's id and the real user id it runs as.
int ProcessId() noexcept;
unsigned UserId() noexcept;

// CPU time this process has used so far, user and system time of all its threads, in seconds.
double ProcessCpuSeconds() noexcept;
// The most memory this process has held resident at once so far, in MiB.
double PeakResidentMiB() noexcept;
// How many file descriptors this process has open now; -1 when that cannot be read.
long OpenDescriptorCount() noexcept;
// The kernel's folder that describes a process (its CPU times, name and threads), as the system probe reads
// it.
std::filesystem::path ProcessInfoFolder(int pid);

// Replaces this process with a new run of the same executable and the given argument vector (argv[0]
// first, ending with a null pointer); the environment is kept. Returns false, with the process unchanged,
// when the executable cannot be started again.
bool RestartProgram(char** argv) noexcept;

// How a child process ended.
struct ExitStatus {
    bool exited = false; // it returned from main or called exit: code holds its status
    int code = -1;
    int signal = 0; // the signal that ended it, when it did not exit
    // The exit code, or -1 when the process did not exit by itself.
    int Code() const noexcept { return exited ? code : -1; }
};

// Decodes the raw status std::system and pclose return.
ExitStatus DecodeExitStatus(int raw) noexcept;

// A process started by this one. Waited for by Wait; a child still running when its holder goes is killed
// and waited for, so no zombie is left behind.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Runs program with args; `environment` entries ("NAME=value") are set on top of this process's
    // environment; with quiet the child's standard output and error go to /dev/null. Not started (Started()
    // false) when the process cannot be created.
    static ChildProcess Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                              const std::vector<std::string>& environment = {}, bool quiet = false);
    // Runs body in a copy of this process and exits with what it returns. The copy has only the calling
    // thread: body must not rely on locks or threads of the parent (tests use it for a process that burns
    // CPU, sleeps, or is killed midway through a write).
    static ChildProcess Fork(const std::function<int()>& body);

    bool Started() const noexcept { return pid_ > 0; }
    int Id() const noexcept { return pid_; }
    // Sends a signal; false when it could not be delivered.
    bool Signal(int signal) const noexcept;
    // Waits for the child to end and returns how it ended; the holder is empty afterwards.
    ExitStatus Wait() noexcept;

private:
    explicit ChildProcess(int pid) : pid_(pid) {}
    int pid_ = -1;
};

} // namespace platform

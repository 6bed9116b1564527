#include "Platform/Process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/resource.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace platform {

int ProcessId() noexcept {
    return static_cast<int>(::getpid());
}

unsigned UserId() noexcept {
    return static_cast<unsigned>(::getuid());
}

double ProcessCpuSeconds() noexcept {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double PeakResidentMiB() noexcept {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

long OpenDescriptorCount() noexcept {
    std::error_code error;
    long count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error))
        ++count;
    return error ? -1 : count;
}

std::filesystem::path ProcessInfoFolder(int pid) {
    return "/proc/" + std::to_string(pid);
}

bool RestartProgram(char** argv) noexcept {
    ::execv("/proc/self/exe", argv);
    return false;
}

ExitStatus DecodeExitStatus(int raw) noexcept {
    ExitStatus status;
    if (raw == -1)
        return status;
    if (WIFEXITED(raw)) {
        status.exited = true;
        status.code = WEXITSTATUS(raw);
    } else if (WIFSIGNALED(raw)) {
        status.signal = WTERMSIG(raw);
    }
    return status;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        Wait();
    }
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        ChildProcess old(std::exchange(pid_, std::exchange(other.pid_, -1)));
    }
    return *this;
}

ChildProcess ChildProcess::Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                                 const std::vector<std::string>& environment, bool quiet) {
    // Everything the child needs is built before fork: between fork and exec only async-signal-safe calls.
    const std::string path = program.string();
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The environment: this process's, with each entry of `environment` replacing one of the same name.
    std::vector<std::string> entries;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view current(*e);
        const auto name = current.substr(0, current.find('='));
        bool replaced = false;
        for (const auto& entry : environment)
            replaced = replaced || entry.rfind(std::string(name) + "=", 0) == 0;
        if (!replaced)
            entries.emplace_back(current);
    }
    for (const auto& entry : environment)
        if (entry.find('=') != std::string::npos)
            entries.push_back(entry);
    std::vector<char*> envp;
    for (auto& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0)
        return ChildProcess(pid < 0 ? -1 : pid);
    if (quiet) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
        }
    }
    ::execve(path.c_str(), argv.data(), envp.data());
    ::_exit(127);
}

ChildProcess ChildProcess::Fork(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid != 0)
        return ChildProcess(pid < 0 ? -1 : pid);
    ::_exit(body());
}

bool ChildProcess::Signal(int signal) const noexcept {
    return pid_ > 0 && ::kill(pid_, signal) == 0;
}

ExitStatus ChildProcess::Wait() noexcept {
    if (pid_ <= 0)
        return {};
    int raw = 0;
    pid_t got;
    do {
        got = ::waitpid(pid_, &raw, 0);
    } while (got < 0 && errno == EINTR);
    pid_ = -1;
    return got < 0 ? ExitStatus{} : DecodeExitStatus(raw);
}

} // namespace platform

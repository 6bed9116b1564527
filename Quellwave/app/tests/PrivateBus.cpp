#include "PrivateBus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

extern char** environ;

namespace apptest {

ChildProcess::~ChildProcess() {
    Kill();
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
    // Everything the child needs is built before the fork: after it only exec and descriptor calls run.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const std::string& extra : extraEnv)
            replaced = replaced || entry.compare(0, extra.find('=') + 1, extra, 0, extra.find('=') + 1) == 0;
        if (!replaced)
            env.push_back(entry);
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& arg : args)
        argp.push_back(arg.data());
    argp.push_back(nullptr);

    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return false;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        ::execve(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    outFd_ = outPipe[0];
    errFd_ = errPipe[0];
    if (pid_ < 0) {
        Kill();
        return false;
    }
    ::fcntl(outFd_, F_SETFL, O_NONBLOCK);
    ::fcntl(errFd_, F_SETFL, O_NONBLOCK);
    return true;
}

void ChildProcess::Read(int waitMs) {
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    if (outFd_ < 0 || ::poll(fds, 2, waitMs) <= 0)
        return;
    char buffer[4096];
    for (auto [fd, text] : {std::pair{outFd_, &out}, std::pair{errFd_, &err}}) {
        ssize_t got = 0;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
            text->append(buffer, static_cast<std::size_t>(got));
    }
}

bool ChildProcess::Finished() {
    if (pid_ <= 0)
        return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_)
        return false;
    pid_ = -1;
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    Read();
    return true;
}

void ChildProcess::Kill() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 500 && !Finished(); ++i)
            ::usleep(10'000);
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    for (int* fd : {&outFd_, &errFd_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

PrivateBus::PrivateBus() {
    if (!daemon_.Start({QW_DBUS_DAEMON, "--session", "--nofork", "--nopidfile", "--print-address"}))
        return;
    // The address is the first line the daemon prints once it listens.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (daemon_.out.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end &&
           !daemon_.Finished())
        daemon_.Read(100);
    if (const auto newline = daemon_.out.find('\n'); newline != std::string::npos)
        address_ = QString::fromStdString(daemon_.out.substr(0, newline)).trimmed();
}

PrivateBus::~PrivateBus() = default;

QDBusConnection PrivateBus::Connect(const QString& name) const {
    return QDBusConnection::connectToBus(address_, name);
}

std::string PrivateBus::SessionEnv() const {
    return "DBUS_SESSION_BUS_ADDRESS=" + address_.toStdString();
}

ClientRun RunClient(const PrivateBus& bus, const std::string& program, const std::vector<std::string>& args,
                    const std::function<void()>& pump, unsigned timeoutMs) {
    ChildProcess client;
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    ClientRun run;
    if (!client.Start(argv, {bus.SessionEnv()}))
        return run;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!client.Finished()) {
        if (std::chrono::steady_clock::now() > end)
            return run;
        pump();
        client.Read(2);
    }
    run.exitCode = client.exitCode;
    run.out = QString::fromStdString(client.out).trimmed();
    run.err = QString::fromStdString(client.err).trimmed();
    return run;
}

} // namespace apptest

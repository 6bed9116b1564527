// A D-Bus daemon of the tests' own (a session-type bus on a private address), so that bus tests never
// touch the machine's buses, and real client programs run against it.
//
// Child programs are started with fork and exec rather than QProcess: QProcess starts them with vfork
// semantics, and a child running in the parent's memory corrupts what ThreadSanitizer records of the
// parent's threads (the tsan preset then reports races in code that is correctly locked).
#pragma once

#include <QDBusConnection>
#include <QString>

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace apptest {

// One child program with its standard output and error read through pipes. Not copyable.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // argv[0] is the program's full path; extraEnv entries ("NAME=value") replace or add to this
    // process's environment.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {});
    // Appends what the child has written so far to out and err; waits at most waitMs for something.
    void Read(int waitMs = 0);
    // Whether the child has ended (its exit code is then in exitCode, -1 when a signal ended it).
    bool Finished();
    // Ends the child (SIGTERM, then SIGKILL) and reaps it.
    void Kill();

    std::string out;
    std::string err;
    int exitCode = -1;

private:
    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
};

class PrivateBus {
public:
    // Starts dbus-daemon; Address() is empty when it could not be started.
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const QString& Address() const noexcept { return address_; }
    // A new connection of this process to the bus, under a name of its own.
    QDBusConnection Connect(const QString& name) const;
    // The environment entry that makes this bus a client's session bus.
    std::string SessionEnv() const;

private:
    ChildProcess daemon_;
    QString address_;
};

struct ClientRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs program with args against the bus while keeping this process's event loop and the panel's
// messages going (the client waits on answers from this process). exitCode stays -1 when it did not end
// within timeoutMs.
ClientRun RunClient(const PrivateBus& bus, const std::string& program, const std::vector<std::string>& args,
                    const std::function<void()>& pump, unsigned timeoutMs = 20000);

} // namespace apptest

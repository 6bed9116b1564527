// A D-Bus daemon of the tests' own (a session-type bus on a socket in a scratch folder), so that bus tests
// never touch the machine's buses, and real client programs run against it.
//
// Children are started through platform::ChildProcess (fork and exec), not QProcess: QProcess starts them
// with vfork semantics, and a child running in the parent's memory corrupts what ThreadSanitizer records
// of the parent's threads (the tsan preset then reports races in code that is correctly locked).
#pragma once

#include "Platform/Process.h"

#include <QDBusConnection>
#include <QString>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace apptest {

class PrivateBus {
public:
    // Starts dbus-daemon listening in folder; Address() is empty when it could not be started.
    explicit PrivateBus(const std::filesystem::path& folder);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const QString& Address() const noexcept { return address_; }
    const std::filesystem::path& Folder() const noexcept { return folder_; }
    // A new connection of this process to the bus, under a name of its own.
    QDBusConnection Connect(const QString& name) const;
    // The environment entry that makes this bus a client's session bus.
    std::string SessionEnv() const;

private:
    std::filesystem::path folder_;
    platform::ChildProcess daemon_;
    QString address_;
};

// A client program run against the bus with its standard output and error going to files, so that this
// process can keep answering the client's calls while it runs.
class BusClient {
public:
    BusClient(const PrivateBus& bus, const std::string& program, const std::vector<std::string>& args);
    ~BusClient();
    BusClient(const BusClient&) = delete;
    BusClient& operator=(const BusClient&) = delete;

    bool Started() const noexcept { return child_.Started(); }
    // Whether the client has ended; its exit code is then in ExitCode().
    bool Finished();
    int ExitCode() const noexcept { return exitCode_; }
    // What the client has written so far.
    std::string Out() const;
    std::string Err() const;
    // Ends a client that runs until stopped.
    void Stop();

private:
    std::filesystem::path run_;
    platform::ChildProcess child_;
    int exitCode_ = -1;
};

struct ClientRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs program with args against the bus while pump keeps this process's event loop and the panel's
// messages going (the client waits on answers from this process). exitCode stays -1 when the client did
// not end within timeoutMs.
ClientRun RunClient(const PrivateBus& bus, const std::string& program, const std::vector<std::string>& args,
                    const std::function<void()>& pump, unsigned timeoutMs = 20000);

} // namespace apptest

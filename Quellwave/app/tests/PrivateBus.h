// A D-Bus daemon of the tests' own (a session-type bus on a private address), so that bus tests never
// touch the machine's buses, and a real client program run against it.
#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

namespace apptest {

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
    // The environment for a client program: this bus as its session bus.
    QProcessEnvironment ClientEnvironment() const;

private:
    QProcess daemon_;
    QString address_;
};

struct ClientRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs program with args against the bus while keeping this process's event loop and the panel's
// messages going (the client waits on answers from this process). Fails after timeoutMs.
ClientRun RunClient(const PrivateBus& bus, const QString& program, const QStringList& args,
                    const std::function<void()>& pump, unsigned timeoutMs = 20000);

} // namespace apptest

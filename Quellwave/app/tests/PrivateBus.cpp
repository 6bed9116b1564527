#include "PrivateBus.h"

#include <QCoreApplication>
#include <QUuid>

#include <chrono>
#include <thread>

namespace apptest {

PrivateBus::PrivateBus() {
    daemon_.start(QStringLiteral(QW_DBUS_DAEMON),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                   QStringLiteral("--print-address")});
    if (!daemon_.waitForStarted(10000))
        return;
    // The address is the first line the daemon prints once it listens.
    while (!daemon_.canReadLine() && daemon_.state() == QProcess::Running)
        daemon_.waitForReadyRead(10000);
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
    if (daemon_.state() == QProcess::NotRunning)
        return;
    daemon_.terminate();
    if (!daemon_.waitForFinished(5000)) {
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }
}

QDBusConnection PrivateBus::Connect(const QString& name) const {
    return QDBusConnection::connectToBus(address_, name);
}

QProcessEnvironment PrivateBus::ClientEnvironment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    return env;
}

ClientRun RunClient(const PrivateBus& bus, const QString& program, const QStringList& args,
                    const std::function<void()>& pump, unsigned timeoutMs) {
    QProcess client;
    client.setProcessEnvironment(bus.ClientEnvironment());
    client.start(program, args);
    ClientRun run;
    if (!client.waitForStarted(10000))
        return run;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (client.state() != QProcess::NotRunning && std::chrono::steady_clock::now() < end) {
        pump();
        client.waitForFinished(2);
    }
    if (client.state() != QProcess::NotRunning) {
        client.kill();
        client.waitForFinished(5000);
        return run;
    }
    run.exitCode = client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1;
    run.out = QString::fromUtf8(client.readAllStandardOutput()).trimmed();
    run.err = QString::fromUtf8(client.readAllStandardError()).trimmed();
    return run;
}

} // namespace apptest

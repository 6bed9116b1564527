#include "SingleInstance.h"

#include "CommandLine.h"

#include "Platform/Process.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

namespace app {

namespace {
constexpr int kConnectMs = 2000;
constexpr QByteArrayView kRaise = "raise\n";
constexpr QByteArrayView kReload = "reload\n";
} // namespace

QString InstanceSocketPath() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(QString::fromLocal8Bit(runtime)).exists())
        return QString::fromLocal8Bit(runtime) + QLatin1Char('/') + QLatin1String(kInstanceName);
    return QDir::tempPath() + QLatin1Char('/') + QLatin1String(kInstanceName) + QLatin1Char('-') +
           QString::number(platform::UserId());
}

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), path_(std::move(socketPath)) {}

SingleInstance::~SingleInstance() {
    if (server_ != nullptr)
        server_->close(); // removes the socket file
}

SingleInstance::Claim SingleInstance::Take() {
    // Two copies started at once must not both find no socket and replace each other's: the test and the
    // listen happen under a lock file beside the socket.
    QLockFile lock(path_ + QStringLiteral(".lock"));
    lock.setStaleLockTime(5000);
    if (!lock.tryLock(10000))
        return Claim::Failed;
    {
        QLocalSocket probe;
        probe.connectToServer(path_);
        if (probe.waitForConnected(kConnectMs)) {
            probe.disconnectFromServer();
            return Claim::Running;
        }
    }
    // Nobody answers: whatever socket file is there was left behind.
    QLocalServer::removeServer(path_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path_)) {
        delete server_;
        server_ = nullptr;
        return Claim::Failed;
    }
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::OnConnection);
    return Claim::First;
}

bool SingleInstance::Hand(bool reload) {
    QLocalSocket socket;
    socket.connectToServer(path_);
    if (!socket.waitForConnected(kConnectMs))
        return false;
    const QByteArrayView request = reload ? kReload : kRaise;
    socket.write(request.data(), request.size());
    const bool sent = socket.waitForBytesWritten(kConnectMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(kConnectMs);
    return sent;
}

void SingleInstance::SetHandlers(std::function<void()> onRaise, std::function<void()> onReload) {
    onRaise_ = std::move(onRaise);
    onReload_ = std::move(onReload);
    handlersSet_ = true;
    const bool raise = heldRaise_;
    const bool reload = heldReload_;
    heldRaise_ = heldReload_ = false;
    if (raise && onRaise_)
        onRaise_();
    if (reload && onReload_)
        onReload_();
}

void SingleInstance::ReadArrivedRequests(int waitMs) {
    if (server_ == nullptr)
        return;
    bool timedOut = false;
    while (server_->waitForNewConnection(0, &timedOut) && !timedOut) {
    }
    OnConnection();
    for (QLocalSocket* socket : server_->findChildren<QLocalSocket*>()) {
        if (!socket->canReadLine() && socket->bytesAvailable() == 0)
            socket->waitForReadyRead(waitMs); // its readyRead handles the line
    }
}

void SingleInstance::OnRequest(bool reload) {
    if (!handlersSet_) {
        heldRaise_ = true;
        heldReload_ = heldReload_ || reload;
        return;
    }
    if (onRaise_)
        onRaise_();
    if (reload && onReload_)
        onReload_();
}

void SingleInstance::OnConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        const auto handle = [this, socket] {
            while (socket->canReadLine()) {
                const QByteArray line = socket->readLine(kMaxRequestLine);
                const InstanceRequest request =
                    ParseInstanceRequest(std::string_view(line.data(), line.size()));
                if (request != InstanceRequest::None)
                    OnRequest(request == InstanceRequest::Reload);
            }
            // A peer that sends no line end within a line's room is not one of ours.
            if (socket->bytesAvailable() > static_cast<qint64>(kMaxRequestLine))
                socket->abort();
        };
        connect(socket, &QLocalSocket::readyRead, this, handle);
        handle();
    }
}

} // namespace app

// A stand-in for the desktop's screen saver service on the session bus, for the program tests: it owns
// org.freedesktop.ScreenSaver, answers Inhibit with a new cookie and UnInhibit with nothing, and prints
// each call as a line ("Inhibit 1 Quellwave", "UnInhibit 1") to its standard output.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <cstdio>

namespace {

class StandInScreenSaver final : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override {
        return QStringLiteral("<interface name=\"org.freedesktop.ScreenSaver\">"
                              "<method name=\"Inhibit\"><arg type=\"s\" direction=\"in\"/>"
                              "<arg type=\"s\" direction=\"in\"/><arg type=\"u\" direction=\"out\"/></method>"
                              "<method name=\"UnInhibit\"><arg type=\"u\" direction=\"in\"/></method>"
                              "</interface>");
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != QLatin1String("org.freedesktop.ScreenSaver"))
            return false;
        const QList<QVariant> args = message.arguments();
        if (message.member() == QLatin1String("Inhibit") && args.size() == 2) {
            const uint cookie = ++last_;
            std::printf("Inhibit %u %s\n", cookie, qPrintable(args[0].toString()));
            connection.send(message.createReply(QVariant::fromValue(cookie)));
        } else if (message.member() == QLatin1String("UnInhibit") && args.size() == 1) {
            std::printf("UnInhibit %u\n", args[0].toUInt());
            connection.send(message.createReply());
        } else {
            return false;
        }
        std::fflush(stdout);
        return true;
    }

private:
    uint last_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    StandInScreenSaver standIn;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &standIn) ||
        !bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver"))) {
        std::fprintf(stderr, "standin_screensaver: cannot take the name on the session bus\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

// The screen saver held off while playing, against a stand-in org.freedesktop.ScreenSaver on a private bus:
// the stand-in hands out a cookie for each Inhibit and records each UnInhibit.
#include "AppTestSupport.h"
#include "PrivateBus.h"

#include "app/ScreenSaver.h"

#include <QDBusMessage>
#include <QDBusVirtualObject>

namespace apptest {
namespace {

using namespace app;
using Transport = PlayerState::Transport;

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
        const QList<QVariant> args = message.arguments();
        if (message.member() == QLatin1String("Inhibit") && args.size() == 2) {
            const uint cookie = ++last_;
            held_.push_back(cookie);
            calls.push_back(QStringLiteral("Inhibit %1 %2").arg(cookie).arg(args[0].toString()));
            connection.send(message.createReply(QVariant::fromValue(cookie)));
            return true;
        }
        if (message.member() == QLatin1String("UnInhibit") && args.size() == 1) {
            const uint cookie = args[0].toUInt();
            calls.push_back(QStringLiteral("UnInhibit %1").arg(cookie));
            held_.erase(std::remove(held_.begin(), held_.end(), cookie), held_.end());
            connection.send(message.createReply());
            return true;
        }
        return false;
    }
    std::size_t Held() const { return held_.size(); }
    QStringList calls;

private:
    uint last_ = 0;
    std::vector<uint> held_;
};

class ScreenSaverTest : public PlayerFixture {
protected:
    void SetUp() override {
        if (QString(QW_DBUS_DAEMON).isEmpty())
            FAIL() << "dbus-daemon missing: run scripts/setup";
        PlayerFixture::SetUp();
        ASSERT_FALSE(bus_.Address().isEmpty()) << "dbus-daemon did not start";
        serviceSide_ = bus_.Connect(QStringLiteral("standin-screensaver"));
        ASSERT_TRUE(
            serviceSide_.registerVirtualObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &standIn_));
        ASSERT_TRUE(serviceSide_.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
        saver_ = std::make_unique<ScreenSaver>(bus_.Connect(QStringLiteral("player-session")));
        // The window's screen saver switch reaches the real one, as the program's services pass it on.
        services_.screenSaverQuery = [this] { return saver_->Active(); };
        services_.onScreenSaver = [this](bool active) { saver_->SetActive(active); };
    }
    void TearDown() override {
        window_.reset();
        saver_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("player-session"));
        serviceSide_.unregisterObject(QStringLiteral("/org/freedesktop/ScreenSaver"));
        QDBusConnection::disconnectFromBus(QStringLiteral("standin-screensaver"));
        PlayerFixture::TearDown();
    }
    bool HeldIs(bool held) {
        return Pump(Panel(),
                    [&] { return saver_->Inhibited() == held && standIn_.Held() == (held ? 1u : 0u); });
    }

    PrivateBus bus_{dir_.Path()};
    StandInScreenSaver standIn_;
    // No connection until SetUp: a connection object made by name (even of a name never connected) starts
    // Qt's bus thread, and SetUp sets the environment first.
    QDBusConnection serviceSide_{QString()};
    std::unique_ptr<ScreenSaver> saver_;
};

TEST_F(ScreenSaverTest, HeldOffWhilePlayingAndLetGoAtPauseStopAndClose) {
    const std::string wav = WriteWav(dir_ / "tone.wav", 20.0);
    StartFiles({wav, wav});
    EXPECT_TRUE(HeldIs(false));
    struct Step {
        const char* what;
        std::function<void()> act;
        Transport transport;
        bool held;
    };
    const std::vector<Step> steps = {
        {"play", [&] { Key(Qt::Key_F6); }, Transport::Playing, true},
        {"pause", [&] { Key(Qt::Key_F6); }, Transport::Paused, false},
        {"resume", [&] { Key(Qt::Key_F6); }, Transport::Playing, true},
        {"stop", [&] { Key(Qt::Key_F7); }, Transport::Stopped, false},
        {"play again", [&] { Key(Qt::Key_F6); }, Transport::Playing, true},
        {"close the window", [&] { Panel().post(WM_CLOSE, 0, 0); }, Transport::Stopped, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        EXPECT_TRUE(Pump(Panel(), [&] {
            return Panel().State().transport == step.transport &&
                   Playing() == (step.transport == Transport::Playing);
        }));
        EXPECT_TRUE(HeldIs(step.held)) << standIn_.calls.join(QStringLiteral(", ")).toStdString();
    }
    // Each play asked once, and each cookie went back.
    EXPECT_EQ(standIn_.calls, (QStringList{"Inhibit 1 Quellwave", "UnInhibit 1", "Inhibit 2 Quellwave",
                                           "UnInhibit 2", "Inhibit 3 Quellwave", "UnInhibit 3"}));
}

TEST_F(ScreenSaverTest, TheEndOfTheListLetsItGo) {
    const std::string wav = WriteWav(dir_ / "short.wav", 2.0);
    StartFiles({wav});
    Key(Qt::Key_F6);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    ASSERT_TRUE(HeldIs(true));
    // The list plays out by itself: no pause, no stop from the listener. Waited for generously: under the
    // arm64 emulator on a busy machine the up-converter runs slower than the audio plays.
    EXPECT_TRUE(Pump(
        Panel(), [&] { return Panel().State().transport == Transport::Stopped && !Playing(); }, 120000));
    EXPECT_TRUE(HeldIs(false)) << standIn_.calls.join(QStringLiteral(", ")).toStdString();
    EXPECT_EQ(standIn_.calls, (QStringList{"Inhibit 1 Quellwave", "UnInhibit 1"}));
}

TEST_F(ScreenSaverTest, WithoutTheServiceThePlayerPlaysOn) {
    ASSERT_TRUE(serviceSide_.unregisterService(QStringLiteral("org.freedesktop.ScreenSaver")));
    const std::string wav = WriteWav(dir_ / "tone.wav", 20.0);
    StartFiles({wav});
    Key(Qt::Key_F6);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    Settle(Panel());
    EXPECT_FALSE(saver_->Inhibited());
    Key(Qt::Key_F6);
    EXPECT_TRUE(Pump(Panel(), [&] { return !Playing(); }));
    // No bus at all.
    ScreenSaver offBus{QDBusConnection(QStringLiteral("no-such-connection"))};
    offBus.SetActive(false);
    EXPECT_FALSE(offBus.Inhibited());
    EXPECT_FALSE(offBus.Active());
    offBus.SetActive(true);
    EXPECT_TRUE(offBus.Active());
}

} // namespace
} // namespace apptest

// The sleep and idle inhibitors and suspend and resume against a stand-in logind on a private bus: the
// stand-in hands out a descriptor for each Inhibit, as logind does, and counts the descriptors still open.
#include "AppTestSupport.h"
#include "PrivateBus.h"

#include "app/DesktopEventSources.h"
#include "app/PlayerMessages.h"
#include "app/SleepInhibitor.h"

#include "Platform/FileIo.h"
#include "Platform/Process.h"

#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>

#include <algorithm>
#include <filesystem>
#include <mutex>

namespace apptest {
namespace {

using namespace app;
using Transport = PlayerState::Transport;

constexpr char kPath[] = "/org/freedesktop/login1";
constexpr char kManager[] = "org.freedesktop.login1.Manager";

// Hands out, for each Inhibit, a descriptor of a file of its own (inhibitor-N in its folder) and keeps none
// itself; an inhibitor is held while some descriptor of this process still refers to its file. The player
// runs in this process, so the descriptors it holds are among those.
class StandInLogind final : public QDBusVirtualObject {
public:
    explicit StandInLogind(std::filesystem::path folder) : folder_(std::move(folder)) {
        std::filesystem::create_directories(folder_);
    }

    QString introspect(const QString&) const override {
        return QStringLiteral("<interface name=\"org.freedesktop.login1.Manager\">"
                              "<method name=\"Inhibit\"><arg type=\"s\" direction=\"in\"/>"
                              "<arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
                              "<arg type=\"s\" direction=\"in\"/><arg type=\"h\" direction=\"out\"/></method>"
                              "<signal name=\"PrepareForSleep\"><arg type=\"b\"/></signal></interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != QLatin1String(kManager) || message.member() != QLatin1String("Inhibit"))
            return false;
        std::filesystem::path file;
        {
            std::lock_guard lock(mutex_);
            QStringList args;
            for (const QVariant& arg : message.arguments())
                args << arg.toString();
            calls_.push_back(args);
            file = folder_ / ("inhibitor-" + std::to_string(calls_.size()));
            files_.push_back(file);
        }
        const int fd = platform::CreateFileForWriting(file.c_str(), false);
        if (fd < 0) {
            connection.send(message.createErrorReply(QDBusError::Failed, QStringLiteral("no file")));
            return true;
        }
        // The reply carries a copy of the descriptor; this one is closed at once.
        connection.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fd))));
        platform::CloseFile(fd);
        return true;
    }

    // Inhibitors whose file some descriptor of this process still refers to.
    int Held() const {
        std::vector<std::filesystem::path> files;
        {
            std::lock_guard lock(mutex_);
            files = files_;
        }
        std::vector<std::filesystem::path> open;
        std::error_code error;
        const auto fds = platform::ProcessInfoFolder(platform::ProcessId()) / "fd";
        for (const auto& entry : std::filesystem::directory_iterator(fds, error))
            open.push_back(std::filesystem::read_symlink(entry.path(), error));
        int held = 0;
        for (const auto& file : files)
            held += std::find(open.begin(), open.end(), file) != open.end();
        return held;
    }
    std::vector<QStringList> Calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    const std::filesystem::path folder_;
    mutable std::mutex mutex_;
    std::vector<std::filesystem::path> files_;
    std::vector<QStringList> calls_;
};

class LogindTest : public PlayerFixture {
protected:
    void SetUp() override {
        if (QString(QW_DBUS_DAEMON).isEmpty())
            FAIL() << "dbus-daemon missing: run scripts/setup";
        PlayerFixture::SetUp();
        ASSERT_FALSE(bus_.Address().isEmpty()) << "dbus-daemon did not start";
        // The player finds "logind" where the environment points it, as the program does; set before the
        // first connection starts Qt's bus thread.
        SetEnvironment("QUELLWAVE_LOGIND_BUS", bus_.Address().toStdString());
        logindSide_ = bus_.Connect(QStringLiteral("standin-logind"));
        ASSERT_TRUE(logindSide_.registerVirtualObject(QString::fromLatin1(kPath), &standIn_));
        ASSERT_TRUE(logindSide_.registerService(QStringLiteral("org.freedesktop.login1")));
        inhibitor_ = std::make_unique<SleepInhibitor>(LogindBus());
        sleepEvents_ = std::make_unique<LogindSleepEvents>(LogindBus());
        services_.onExecutionState = [this](DWORD flags) { inhibitor_->SetExecutionState(flags); };
    }
    void TearDown() override {
        window_.reset();
        sleepEvents_.reset();
        inhibitor_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("quellwave-logind"));
        logindSide_.unregisterObject(QString::fromLatin1(kPath));
        QDBusConnection::disconnectFromBus(QStringLiteral("standin-logind"));
        PlayerFixture::TearDown();
    }
    void StartTracks() {
        const std::string wav = WriteWav(dir_ / "tone.wav", 20.0);
        StartFiles({wav, wav});
        inhibitor_->Follow(Panel());
        ASSERT_TRUE(sleepEvents_->Start(&Panel()));
    }
    // Waits until the player and the stand-in agree on which inhibitors are held: the idle one while
    // playing, the sleep one while the window runs.
    bool HeldIs(bool idle, bool sleep = true) {
        return Pump(Panel(), [&] {
            return inhibitor_->IdleHeld() == idle && inhibitor_->SleepHeld() == sleep &&
                   standIn_.Held() == int(idle) + int(sleep);
        });
    }
    void PrepareForSleep(bool sleeping) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QString::fromLatin1(kPath), QString::fromLatin1(kManager), QStringLiteral("PrepareForSleep"));
        signal << sleeping;
        ASSERT_TRUE(logindSide_.send(signal));
    }

    PrivateBus bus_{dir_.Path()};
    StandInLogind standIn_{dir_.Path() / "logind"};
    // No connection until SetUp: a connection object made by name (even of a name never connected) starts
    // Qt's bus thread, and SetUp sets the environment first.
    QDBusConnection logindSide_{QString()};
    std::unique_ptr<SleepInhibitor> inhibitor_;
    std::unique_ptr<LogindSleepEvents> sleepEvents_;
};

TEST_F(LogindTest, SleepIsInhibitedForTheRunAndIdleWhilePlaying) {
    StartTracks();
    EXPECT_TRUE(HeldIs(false)) << "the window keeps the system awake from its start";
    struct Step {
        const char* what;
        std::function<void()> act;
        Transport transport;
        bool idle;
        bool sleep;
    };
    const std::vector<Step> steps = {
        {"play", [&] { Key(Qt::Key_F6); }, Transport::Playing, true, true},
        {"next while playing", [&] { Key(Qt::Key_Right, Qt::ControlModifier); }, Transport::Playing, true,
         true},
        {"pause", [&] { Key(Qt::Key_F6); }, Transport::Paused, false, true},
        {"resume", [&] { Key(Qt::Key_F6); }, Transport::Playing, true, true},
        {"stop", [&] { Key(Qt::Key_F7); }, Transport::Stopped, false, true},
        {"play again", [&] { Key(Qt::Key_F6); }, Transport::Playing, true, true},
        {"close the window", [&] { Panel().post(WM_CLOSE, 0, 0); }, Transport::Stopped, false, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        // Playing means the output has begun (a pause before it begins is no pause to the window).
        EXPECT_TRUE(Pump(Panel(), [&] {
            return Panel().State().transport == step.transport &&
                   Playing() == (step.transport == Transport::Playing);
        }));
        EXPECT_TRUE(HeldIs(step.idle, step.sleep))
            << "player idle " << inhibitor_->IdleHeld() << " sleep " << inhibitor_->SleepHeld()
            << ", stand-in " << standIn_.Held();
    }
    // One sleep request for the run, one idle request per start of playback (a track change while playing
    // keeps the one it has), each as logind's manual asks for a player's.
    const std::vector<QStringList> calls = standIn_.Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0], QStringList({"sleep", "Quellwave", "The player is running", "block"}));
    for (std::size_t i = 1; i < calls.size(); ++i)
        EXPECT_EQ(calls[i], QStringList({"idle", "Quellwave", "Playing audio", "block"})) << i;
}

TEST_F(LogindTest, PrepareForSleepStopsAsTheSuspendHandlingDoesAndTheResumedPlayerPlaysOn) {
    StartTracks();
    Key(Qt::Key_Right, Qt::ControlModifier);
    Key(Qt::Key_F6);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing() && Panel().CurrentTrack() == 2; }));
    ASSERT_TRUE(HeldIs(true));

    PrepareForSleep(true);
    EXPECT_TRUE(Pump(Panel(), [&] { return Panel().State().transport == Transport::Stopped; }));
    EXPECT_FALSE(Panel().Started());
    EXPECT_EQ(Panel().CurrentTrack(), 1u);
    EXPECT_TRUE(HeldIs(false)) << "stopped for the suspend, the window still runs";

    PrepareForSleep(false);
    Settle(Panel());
    EXPECT_EQ(Panel().State().transport, Transport::Stopped);
    Key(Qt::Key_F6);
    EXPECT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    EXPECT_TRUE(HeldIs(true));
}

TEST_F(LogindTest, WithoutLogindThePlayerPlaysAndHoldsNothing) {
    // The name is gone: Inhibit fails, and the player plays on without an inhibitor.
    ASSERT_TRUE(logindSide_.unregisterService(QStringLiteral("org.freedesktop.login1")));
    StartTracks();
    Key(Qt::Key_F6);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    Key(Qt::Key_Right, Qt::ControlModifier);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing() && Panel().CurrentTrack() == 2; }));
    Settle(Panel());
    EXPECT_FALSE(inhibitor_->IdleHeld());
    EXPECT_FALSE(inhibitor_->SleepHeld());
    EXPECT_TRUE(standIn_.Calls().empty());
    // No bus at all.
    SleepInhibitor offBus{QDBusConnection(QStringLiteral("no-such-connection"))};
    offBus.SetExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    offBus.SetPlaying(true);
    EXPECT_FALSE(offBus.IdleHeld());
    EXPECT_FALSE(offBus.SleepHeld());
    LogindSleepEvents offBusEvents{QDBusConnection(QStringLiteral("no-such-connection"))};
    EXPECT_FALSE(offBusEvents.Start(&Panel()));
}

} // namespace
} // namespace apptest

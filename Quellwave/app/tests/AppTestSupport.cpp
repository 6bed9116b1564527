#include "AppTestSupport.h"

#include "TestKit/QtApplication.h"
#include "TestKit/RegistrySandbox.h"
#include "shell/PlaylistFile.h"
#include "shell/ResourceModules.h"
#include "ui/CDialCtrl.h"
#include "ui/ControlNotify.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace apptest {

namespace {

// The application (the kit's) works in the program's folder, so the built skin, resource module and dial
// images are found as the program finds them.
[[maybe_unused]] const bool gProgramSteps = testkit::AddQtApplicationSteps(
    [] {
        std::filesystem::current_path(QW_PROGRAM_DIR);
        TheResources().LoadResourceModule(kStringResourceModule, QW_PROGRAM_DIR);
        // Choosing the skin stores its name: in a registry of the program's own, never the user's.
        testkit::RegistrySandbox registry("apptests");
        TheResources().ChooseSkin(std::filesystem::path(QW_PROGRAM_DIR) / "skin");
    },
    [] {
        TheResources().ReleaseSkin();
        TheResources().ReleaseResourceModule();
    });

} // namespace

std::string WriteWav(const std::filesystem::path& path, double seconds) {
    testkit::WavShape shape;
    const auto frames = static_cast<std::size_t>(seconds * 44100);
    shape.data.reserve(frames * 4);
    for (std::size_t i = 0; i < frames * 2; ++i)
        testkit::PutLe(shape.data, 600, 2);
    testkit::WriteBytes(path, testkit::BuildWav(shape));
    return path.string();
}

bool Pump(app::CPlayerDialog& panel, const std::function<bool()>& done, unsigned timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        panel.DispatchPostedMessages();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void Settle(app::CPlayerDialog& panel) {
    QCoreApplication::processEvents();
    while (panel.DispatchPostedMessages() > 0) {
    }
}

int ThreadCount() {
    int threads = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc/self/task", error), end; !error && it != end;
         it.increment(error))
        ++threads;
    return threads;
}

void PlayerFixture::SetUp() {
    ASSERT_FALSE(dir_.Path().empty());
    // Never the settings, play list or running copy of the person running the tests.
    SetEnvironment("QUELLWAVE_REGISTRY_DIR", (dir_.Path() / "registry").string());
    SetEnvironment("XDG_DATA_HOME", (dir_.Path() / "data").string());
    SetEnvironment("XDG_CACHE_HOME", (dir_.Path() / "cache").string());
    SetEnvironment("XDG_RUNTIME_DIR", dir_.Path().string());
    std::filesystem::create_directories(dir_.Path() / "registry");
    // None of the machine's own optical drives: only the letters a test maps are drives.
    std::filesystem::create_directories(dir_.Path() / "sysblock");
    SetEnvironment("QUELLWAVE_SYSFS_BLOCK", (dir_.Path() / "sysblock").string());
}

void PlayerFixture::SetEnvironment(const std::string& name, const std::string& value) {
    // Adding a name is what may move the array; a new value for a name already there replaces one entry
    // in place (a test that sets up again keeps its names). Fewer threads than at the start is harmless
    // (a pool thread that expired); more is a fault.
    if (std::getenv(name.c_str()) == nullptr) {
        EXPECT_LE(ThreadCount(), threadsAtStart_)
            << name << " is added while a thread started by the fixture may read the environment";
    }
    environment_.Set(name, value);
}

void PlayerFixture::TearDown() {
    window_.reset();
}

void PlayerFixture::StartFiles(const std::vector<std::string>& files, const std::string& driver) {
    ASSERT_TRUE(WritePlaylist(files));
    SetDword(platform::HKEY_CURRENT_USER, "Software\\Orva Corporation\\Quellwave\\Settings", "DefaultMode",
             1);
    StartWindow(driver);
}

void PlayerFixture::StartWindow(const std::string& driver) {
    app::PlayerOptions options;
    options.driverName = driver;
    window_ = std::make_unique<app::CBGDialog>(services_, options);
    window_->OnInitDialog();
    Settle(Panel());
}

void PlayerFixture::Key(int key, Qt::KeyboardModifiers modifiers) {
    // Sent as events (Qt Test has no text for the media keys); the release goes where the press went.
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QCoreApplication::sendEvent(&Panel(), &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QCoreApplication::sendEvent(&Panel(), &release);
    Settle(Panel());
}

void PlayerFixture::Command(unsigned id) {
    Panel().post(WM_COMMAND, id, 0);
    Settle(Panel());
}

void PlayerFixture::Click(int controlId) {
    QWidget* control = ui::FindControl(&Panel(), controlId);
    ASSERT_NE(control, nullptr) << controlId;
    ASSERT_TRUE(control->isVisible()) << controlId;
    QTest::mouseClick(control, Qt::LeftButton, Qt::NoModifier, control->rect().center());
    Settle(Panel());
}

int PlayerFixture::DragDialTo(int position) {
    CDialCtrl* dial = Panel().Dial();
    // The point 80 pixels from the centre whose direction to the centre is 300 degrees past the position.
    const auto pointOf = [](double angle) {
        const double a = angle * M_PI / 180.0;
        return QPointF(117 - 80 * std::cos(a), 117 - 80 * std::sin(a));
    };
    const auto send = [dial](QEvent::Type type, QPointF at, Qt::MouseButtons held) {
        QMouseEvent event(type, at, dial->mapToGlobal(at),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
        QCoreApplication::sendEvent(dial, &event);
    };
    // Half a degree on: the dial reads angles with pi taken a few millionths short, and truncates.
    const QPointF target = pointOf(std::fmod(300.5 + position, 360.0));
    const int from = dial->Position();
    send(QEvent::MouseButtonPress, pointOf(std::fmod(300.0 + from, 360.0)), Qt::LeftButton);
    send(QEvent::MouseMove, target, Qt::LeftButton);
    const int steps = 2 * 8;
    Pump(
        Panel(),
        [&] { return std::abs(dial->Position() - from) >= std::min(steps, std::abs(position - from)); },
        3000);
    const int held = dial->Position();
    send(QEvent::MouseButtonRelease, target, Qt::NoButton);
    Pump(
        Panel(), [&] { return !dial->IsAnimating(); }, 3000);
    return held;
}

} // namespace apptest

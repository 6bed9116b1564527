// quellwave: the player window. "quellwave [--driver NAME] [--play] [FILE.wav ...] [/cdplay -X]";
// "quellwave --check-install" checks the files it loads and ends.
#include "CPlayerApp.h"
#include "CommandLine.h"
#include "DesktopEventSources.h"
#include "DisplayHold.h"
#include "InstallCheck.h"
#include "MprisService.h"
#include "ScreenSaver.h"
#include "SessionEnd.h"
#include "SleepInhibitor.h"

#include "Platform/Paths.h"
#include "Platform/Process.h"
#include "ui/ScreenScale.h"

#include <QApplication>
#include <QScreen>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

namespace {
// On a screen larger than the panel the program starts again with Qt's scale factor set to the largest
// factor with which the panel fits, so that it fills the screen in height; its pictures then come from the
// artwork drawn for the next whole scale, smoothly reduced. Returns only when nothing needs to change.
void ScaleToScreen(char** argv) {
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        return;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QSize pixels = screen->geometry().size() * screen->devicePixelRatio();
    const double scale = app::CBGDialog::FitScale(pixels.width(), pixels.height());
    if (scale <= 1.0 || screen->devicePixelRatio() >= scale)
        return;
    ui::SetScaleForRestart(scale / screen->devicePixelRatio(), pixels);
    platform::RestartProgram(argv);
}
} // namespace

int main(int argc, char** argv) {
    // The install check opens no window: it runs without a display too.
    if (std::find(argv + 1, argv + argc, std::string_view("--check-install")) != argv + argc &&
        !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::optional<app::DisplayHold> display(std::in_place, std::chrono::seconds(5));
    QApplication application(argc, argv);
    display.reset();
    std::vector<std::string> raw;
    for (int i = 1; i < argc; ++i)
        raw.emplace_back(argv[i]);
    const app::CommandLine line = app::ParseCommandLine(raw);
    // The resource module, skins, dial images, help page and Version.txt: beside the program in a build
    // tree, in <prefix>/share/quellwave when installed.
    const std::filesystem::path dataFolder = platform::ProgramDataDir();
    if (line.checkInstall)
        return app::ReportInstall(app::CheckInstall(dataFolder, platform::ProgramPath().filename().string()));

    ScaleToScreen(argv);
    QApplication::setApplicationName(QStringLiteral("quellwave"));

    app::StartContext context;
    context.arguments = line.args;
    context.driverName = line.driverName;
    context.play = line.play;
    context.programFolder = dataFolder;
    std::error_code ignored;
    context.startFolder = std::filesystem::current_path(ignored);
    context.screenPixels = ui::ScreenPixelsFromRestart();

    // The desktop around the player: logind (sleep and idle inhibit, suspend and resume), udev (media
    // changes) and the session bus (MPRIS2, the screen saver). Each is left out where it is not there; the
    // player runs without it.
    const QDBusConnection logind = app::LogindBus();
    app::SleepInhibitor inhibitor(logind);
    app::LogindSleepEvents sleepEvents(logind);
    app::UdevMediaEvents mediaEvents;
    SystemEventSources events({&sleepEvents, &mediaEvents});

    app::ScreenSaver screenSaver(QDBusConnection::sessionBus());
    const auto services = app::MakeDesktopServices(&inhibitor, &screenSaver);
    app::CPlayerApp player(*services, &events);
    // The session's end and SIGTERM, SIGHUP and SIGINT close the player as its close button does.
    app::SessionEnd sessionEnd([&player] { player.EndSession(); });
    sessionEnd.Start();
    if (!player.Prepare(context))
        return 0;
    app::CBGDialog& window = player.CreateMainWindow();
    inhibitor.Follow(window.Panel());
    app::MprisService mpris(window, QDBusConnection::sessionBus());
    mpris.Start();
    player.Run();
    return 0;
}

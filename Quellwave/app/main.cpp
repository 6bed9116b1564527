// quellwave: the player window. "quellwave [--driver NAME] [--play] [FILE.wav ...] [/cdplay -X]"
#include "CPlayerApp.h"
#include "CommandLine.h"

#include "Platform/Process.h"

#include <QApplication>
#include <QScreen>

#include <filesystem>
#include <system_error>

namespace {
// On a screen of two or three times the panel's size the program starts again with Qt's scale factor set
// to that whole number: the panel then fills the screen with the artwork drawn for that scale, never
// stretched. Returns only when nothing needs to change.
void ScaleToScreen(char** argv) {
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        return;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QSize pixels = screen->geometry().size() * screen->devicePixelRatio();
    const int scale = app::CBGDialog::WholeScale(pixels.width(), pixels.height());
    if (scale <= 1 || screen->devicePixelRatio() >= scale)
        return;
    qputenv("QT_SCALE_FACTOR", QByteArray::number(static_cast<double>(scale) / screen->devicePixelRatio()));
    platform::RestartProgram(argv);
}
} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ScaleToScreen(argv);
    QApplication::setApplicationName(QStringLiteral("quellwave"));

    std::vector<std::string> raw;
    for (int i = 1; i < argc; ++i)
        raw.emplace_back(argv[i]);
    const app::CommandLine line = app::ParseCommandLine(raw);

    app::StartContext context;
    context.arguments = line.args;
    context.driverName = line.driverName;
    context.play = line.play;
    context.programFolder = QApplication::applicationDirPath().toStdString();
    std::error_code ignored;
    context.startFolder = std::filesystem::current_path(ignored);

    const auto services = app::MakeDesktopServices();
    app::CPlayerApp player(*services, nullptr);
    if (!player.Prepare(context))
        return 0;
    player.CreateMainWindow();
    player.Run();
    return 0;
}

// quellwave: the player window. "quellwave [--driver NAME] [--play] [FILE.wav ...] [/cdplay -X]"
#include "CPlayerApp.h"
#include "CommandLine.h"

#include <QApplication>

#include <filesystem>
#include <system_error>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
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

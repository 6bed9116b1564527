#include "HelpFile.h"

#include "HelpViewer.h"
#include "Platform/Paths.h"
#include "ScreenScale.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

std::filesystem::path HelpFilePath(const std::filesystem::path& program) {
    if (program.empty())
        return {};
    std::filesystem::path page = program;
    // A program with an extension of its own (the other platform's ".exe") has it replaced, so both
    // platforms look for "<name>.html" beside the program; a Linux program name has no extension to cut.
    if (page.extension() == ".exe" || page.extension() == ".EXE")
        page.replace_extension();
    page += ".html";
    return page;
}

void OpenHelpPage(const std::filesystem::path& page) {
    // The desktop's launcher opens the page with whatever viewer the desktop has for it, and says by its
    // exit status when it found none (or no page). Its answer comes later, so this returns at once; when it
    // cannot start, or fails, the program shows the page itself, so HELP always shows something.
    const QString launcher = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (launcher.isEmpty()) {
        HelpViewer::ShowPage(page);
        return;
    }
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProgram(launcher);
    // The browser sizes itself for the screen; the scale this program gave itself is not the browser's.
    process->setProcessEnvironment(ui::ChildEnvironment());
    process->setArguments({QString::fromStdString(page.string())});
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, page](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return; // a crash or a read error also ends in finished()
                         HelpViewer::ShowPage(page);
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::finished, process,
                     [process, page](int exitCode, QProcess::ExitStatus status) {
                         if (status != QProcess::NormalExit || exitCode != 0)
                             HelpViewer::ShowPage(page);
                         process->deleteLater();
                     });
    process->start();
}

void ShowHelpFile() {
    // The page is kept with the program's other files: beside it, or in the shared folder of an installed
    // tree.
    const std::filesystem::path page =
        HelpFilePath(platform::ProgramDataDir() / platform::ProgramPath().filename());
    if (page.empty())
        return;
    OpenHelpPage(page);
}

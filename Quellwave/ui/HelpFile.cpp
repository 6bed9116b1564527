#include "HelpFile.h"

#include "Platform/Paths.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

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

void ShowHelpFile() {
    // The page is kept with the program's other files: beside it, or in the shared folder of an installed
    // tree.
    const std::filesystem::path page =
        HelpFilePath(platform::ProgramDataDir() / platform::ProgramPath().filename());
    if (page.empty())
        return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(page.string())));
}

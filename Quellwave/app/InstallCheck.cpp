#include "InstallCheck.h"

#include "shell/ResourceModules.h"
#include "ui/AboutBox.h"
#include "ui/HelpFile.h"
#include "ui/ImageSource.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

namespace app {

namespace {
// The dial's seven images, by the names the dial loads them under.
constexpr const char* kDialImages[] = {"volume_dial.png",        "mojiban.png",
                                       "indicator_slit.png",     "indicator_glow_on.png",
                                       "indicator_glow_off.png", "indicator_glow_muting.png",
                                       "volume_dial_marks_7.png"};
} // namespace

std::vector<InstallItem> CheckInstall(const std::filesystem::path& dataFolder,
                                      const std::string& programName) {
    std::vector<InstallItem> items;
    CResourceModules chain;
    // The module's file name is a string of the program's own table, as at start-up.
    const std::filesystem::path module = dataFolder / chain.String(kStringResourceModule).toStdString();
    items.push_back({"resource module", module, chain.LoadResourceModule(kStringResourceModule, dataFolder)});
    // Every skin the program could choose from; none at all is missing. Nothing is stored: the program
    // itself stores the skin it chooses when it starts.
    const std::filesystem::path skins = dataFolder / "skin";
    std::vector<std::filesystem::path> skinFiles;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(skins, error), end; !error && entry != end;
         entry.increment(error)) {
        const QString extension = QString::fromStdString(entry->path().extension().string());
        if (extension.compare(QStringLiteral(".rcc"), Qt::CaseInsensitive) == 0)
            skinFiles.push_back(entry->path());
    }
    std::sort(skinFiles.begin(), skinFiles.end());
    for (const std::filesystem::path& file : skinFiles) {
        const auto skin = CResourceModule::Load(file);
        items.push_back({"skin", file, skin && !skin->String(kStringSkinName).isEmpty()});
    }
    if (skinFiles.empty())
        items.push_back({"skin", skins, false});

    const std::filesystem::path images = dataFolder / "Data" / "Image";
    const ui::NamedImageLoader load = ui::DialImagesIn(QString::fromStdString(images.string()));
    for (const char* name : kDialImages)
        items.push_back({"dial image", images / name, !load(QString::fromUtf8(name), 1).isNull()});

    const std::filesystem::path page = HelpFilePath(dataFolder / programName);
    items.push_back({"help page", page, std::filesystem::file_size(page, error) > 0 && !error});
    const std::filesystem::path version = dataFolder / "Version.txt";
    items.push_back({"version", version, !AboutBox::FirstLine(version).isEmpty()});
    return items;
}

int ReportInstall(const std::vector<InstallItem>& items) {
    bool all = true;
    for (const InstallItem& item : items) {
        std::printf("%-7s %-15s %s\n", item.found ? "ok" : "MISSING", item.what.c_str(), item.path.c_str());
        all = all && item.found;
    }
    return all ? 0 : 1;
}

} // namespace app

#include "FolderChooser.h"

#include "Platform/LocalFolder.h"

bool IsChoosableFolder(const std::string& folder) {
    if (folder.empty() || folder.find_first_of("\"*<>?|") != std::string::npos) {
        return false;
    }
    return platform::IsLocalFolder(folder);
}

bool ChooseFolder(FolderBrowser& browser, std::string* folder, bool allowNewFolder,
                  const std::string& initialFolder, const std::string& caption, const std::string& title) {
    FolderBrowser::Request request;
    request.allowNewFolder = allowNewFolder;
    request.initialFolder = initialFolder;
    request.caption = caption;
    request.title = title;
    request.canChoose = IsChoosableFolder;
    std::optional<std::string> chosen = browser.Browse(request);
    // The browser's OK may not have followed canChoose to the letter (a path typed by hand), so the
    // choice is checked once more.
    if (!chosen || !IsChoosableFolder(*chosen)) {
        return false;
    }
    *folder = std::move(*chosen);
    return true;
}

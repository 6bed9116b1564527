#include "FolderChooser.h"

#include "Platform/DriveTable.h"

#include <filesystem>
#include <system_error>

bool IsChoosableFolder(const std::string& folder) {
    if (folder.empty() || folder.find_first_of("\"*<>?|") != std::string::npos) {
        return false;
    }
    // Only a folder on a fixed local disk: a removable or optical disc may be gone at the next start, a
    // network share (FUSE mounts included) may stall the player or be away, a RAM disk empties itself.
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        return false;
    return platform::GetPathDriveType(folder) == platform::DRIVE_FIXED;
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

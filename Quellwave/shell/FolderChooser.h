// The folder chooser of the settings dialog. The dialog itself belongs to the window framework (the user
// interface implements FolderBrowser); which folders may be chosen is decided here. UI thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>

class FolderBrowser {
public:
    struct Request {
        bool allowNewFolder = false; // offer a button that makes a new folder
        std::string initialFolder;   // selected when the browser opens
        std::string caption;         // the browser window's caption
        std::string title;           // the text above the folder tree
        // Whether the selected folder may be taken: the browser enables OK only while this is true.
        std::function<bool(const std::string& folder)> canChoose;
    };
    virtual ~FolderBrowser() = default;
    // Shows the browser modally over the main window. The chosen folder, or nothing when cancelled.
    virtual std::optional<std::string> Browse(const Request& request) = 0;
};

// A folder the listener may choose: an existing folder (links followed) on a fixed local disk; folders on
// removable or optical discs, RAM disks and network file systems (FUSE mounts without a disk under them
// included) cannot be chosen. Paths holding one of the characters " * < > ? | are refused.
bool IsChoosableFolder(const std::string& folder);

// Lets the listener choose a folder through browser. True with *folder set to the choice when one was
// made and it may be chosen; false (and *folder untouched) when cancelled or refused.
bool ChooseFolder(FolderBrowser& browser, std::string* folder, bool allowNewFolder,
                  const std::string& initialFolder, const std::string& caption, const std::string& title);

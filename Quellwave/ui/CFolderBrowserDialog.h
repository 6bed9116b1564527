// The folder chooser's window: a tree of the file system's folders under the browser caption, the
// instruction text above it, OK and Cancel (control ids IDOK and IDCANCEL), and a button that makes a new
// folder (control id 14150) when the request allows it. OK is enabled only while the request's canChoose
// holds for the selected folder. QtFolderBrowser runs it for ChooseFolder. UI thread only.
#pragma once

#include "shell/FolderChooser.h"

#include <QDialog>

class QFileSystemModel;
class QLabel;
class QPushButton;
class QTreeView;

class CFolderBrowserDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kIdTree = 100;
    static constexpr int kIdNewFolder = 14150;

    CFolderBrowserDialog(const FolderBrowser::Request& request, QWidget* parent = nullptr);
    ~CFolderBrowserDialog() override;

    // The selected folder's absolute path; empty when none is selected.
    QString SelectedFolder() const;
    // Selects a folder (and shows it); false when the tree has no such folder.
    bool SelectFolder(const QString& path);

    // Ends the dialog with Accepted only while OK is enabled (Enter cannot take a folder OK refuses).
    void accept() override;

private:
    void OnSelectionChanged();
    void OnNewFolder();

    FolderBrowser::Request request_;
    QFileSystemModel* model_ = nullptr;
    QTreeView* tree_ = nullptr;
    QPushButton* ok_ = nullptr;
};

// FolderBrowser through CFolderBrowserDialog, shown modally over `parent` (may be null).
class QtFolderBrowser : public FolderBrowser {
public:
    explicit QtFolderBrowser(QWidget* parent = nullptr) : parent_(parent) {}
    std::optional<std::string> Browse(const Request& request) override;

private:
    QWidget* parent_;
};

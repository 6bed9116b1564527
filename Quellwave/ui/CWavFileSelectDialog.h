// The open-file dialog for the play list: Qt's own file dialog (never the desktop's native one, so it
// behaves the same everywhere) for one or several existing files, whose standard OK and Cancel are
// replaced by a pair of its own (control ids IDOK and IDCANCEL) beside a select-all button (control 358)
// that selects every file shown in the current folder: folders and files the filter hides are left out.
// The caption is string 601. Made on the caller's stack for one run, usually inside CDialogAlphaBlend;
// exec() ends with IDOK when files were chosen and IDCANCEL otherwise. UI thread only.
#pragma once

#include "Platform/Types.h"

#include <QFileDialog>

#include <string>
#include <vector>

class CWavFileSelectDialog : public QFileDialog {
    Q_OBJECT

public:
    static constexpr int kIdSelectAll = 358;
    static constexpr DWORD OFN_HIDEREADONLY = 0x0004;
    static constexpr DWORD OFN_ALLOWMULTISELECT = 0x0200;
    static constexpr DWORD OFN_FILEMUSTEXIST = 0x1000;

    // open: an open (not a save) dialog. defaultExtension: added to a typed name without one.
    // fileName: the initial name; a wildcard name ("*.wav") only filters, as the filter does already.
    // flags: OFN_ALLOWMULTISELECT lets several files be chosen. filter: "text|patterns|...|" pairs, the
    // patterns separated by ';' (string 600's form).
    CWavFileSelectDialog(bool open, const QString& defaultExtension, const QString& fileName, DWORD flags,
                         const QString& filter, QWidget* parent = nullptr);
    ~CWavFileSelectDialog() override;

    // The filter the player window passes: string 600, or string 602 (WAV, DSF and DSDIFF) when DSD files
    // play (useRFMode = 1).
    static QString PlayListFilter();
    // "text|patterns|text|patterns||" as Qt's name filters ("text (patterns)", patterns separated by
    // spaces). Patterns holding brackets or blanks are left out, and pairs left without patterns dropped;
    // text that already ends with the patterns in brackets is kept as it is.
    static QStringList NameFilters(const QString& filter);

    // Selects every file (not folder) shown in the current folder, adding to the selection; gives the file
    // list the focus. Files not yet listed (a folder still being read) are not selected.
    void SelectAllFiles();
    // The chosen files as full paths, in the order the dialog returns them; empty after Cancel.
    std::vector<std::string> SelectedPaths() const;

    void accept() override;
    void reject() override; // ends with IDCANCEL

private:
    void OnInitDialog();
    // Rewrites the file name field with the selected files in the order the list shows them.
    void ListSelectionInOrder();
};

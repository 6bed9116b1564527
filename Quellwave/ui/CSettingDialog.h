// The settings dialog: the CD drive for disc playback (every letter the drive table maps to a CD drive,
// virtual drives included), the folder for file playback with the folder chooser, whether the start-up
// notice is shown, whether consecutive tracks play without a gap, whether the panel shows the title and
// cover of what is playing, the DSD rate PCM is up-converted to, and a button that opens the about box. It
// starts from the settings store and writes back on OK only: OK ends it with IDOK after storing, Cancel (or
// closing it) with IDCANCEL and nothing stored. Values that cannot be written are not reported. Made on the
// caller's stack for one run, usually inside CDialogAlphaBlend. UI thread only.
#pragma once

#include <QDialog>

#include <functional>

class FolderBrowser;
class QCheckBox;
class QComboBox;
class QLineEdit;

class CSettingDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kIdDriveList = 5001;
    static constexpr int kIdFolder = 5002;
    static constexpr int kIdBrowse = 5003;
    static constexpr int kIdAbout = 5009;
    static constexpr int kIdShowNotice = 5010;
    static constexpr int kIdGapless = 5011;
    static constexpr int kIdDsdRate = 5012; // DSD64 to DSD512: the DsdRate setting
    static constexpr int kIdShowTitles = 5013;

    // The caption and instruction of the folder chooser, as the program has always shown them.
    static constexpr const char* kBrowseCaption = "Foder Path";
    static constexpr const char* kBrowseTitle = "Select Folder";

    // browser: the folder chooser to run (null: QtFolderBrowser over this dialog); not owned, must outlive
    // the dialog.
    explicit CSettingDialog(QWidget* parent = nullptr, FolderBrowser* browser = nullptr);
    ~CSettingDialog() override;

    // What the about button runs; by default an AboutBox without a parent, modally and without an
    // overlay.
    void SetAboutRunner(std::function<void()> runner) { aboutRunner_ = std::move(runner); }

    // Stores the folder (when not empty), the selected drive (when one is), the notice setting, the
    // gapless setting and the DSD rate, then ends with IDOK.
    void accept() override;
    // Ends with IDCANCEL, storing nothing.
    void reject() override;

private:
    void OnInitDialog();
    void OnBrowse();
    void OnAbout();

    QComboBox* driveList_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QCheckBox* showNotice_ = nullptr;
    QCheckBox* gapless_ = nullptr;
    QComboBox* dsdRate_ = nullptr;
    QCheckBox* showTitles_ = nullptr;
    FolderBrowser* browser_ = nullptr;
    std::function<void()> aboutRunner_;
};

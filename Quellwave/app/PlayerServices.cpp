#include "PlayerServices.h"

#include "PlayerMessages.h"
#include "ScreenSaver.h"
#include "SleepInhibitor.h"
#include "shell/ResourceModules.h"
#include "ui/AboutBox.h"
#include "ui/CDialogAlphaBlend.h"
#include "ui/CDlgCheckDrive.h"
#include "ui/CSettingDialog.h"
#include "ui/CWavFileSelectDialog.h"
#include "ui/ControlNotify.h"
#include "ui/DialogSupport.h"
#include "ui/HelpFile.h"
#include "ui/StartupNotice.h"

#include "Platform/DriveTable.h"

#include <QMessageBox>

namespace app {

namespace {

class DesktopServices final : public PlayerServices {
public:
    DesktopServices(SleepInhibitor* inhibitor, ScreenSaver* screenSaver)
        : inhibitor_(inhibitor), screenSaver_(screenSaver) {}

    void MessageBox(QWidget* owner, unsigned textId, unsigned captionId, UINT style) override {
        const QMessageBox::Icon icon = style == MB_ICONHAND ? QMessageBox::Critical : QMessageBox::Warning;
        QMessageBox box(icon, ResourceString(captionId), ResourceString(textId), QMessageBox::Ok, owner);
        ui::StyleDialog(&box);
        box.exec();
    }
    // The session's screen saver, held off over the session bus while the player plays.
    bool ScreenSaverActive() override { return screenSaver_ != nullptr && screenSaver_->Active(); }
    void SetScreenSaverActive(bool active) override {
        if (screenSaver_ != nullptr)
            screenSaver_->SetActive(active);
    }
    // The system stays awake through logind's sleep inhibitor, held for the whole run.
    void SetExecutionState(DWORD flags) override {
        if (inhibitor_ != nullptr)
            inhibitor_->SetExecutionState(flags);
    }
    DWORD TickCount() override { return probe_->TickCount(); }
    platform::SystemProbe& Probe() override { return *probe_; }

    TrayState GetTrayState(unsigned char letter) override {
        switch (platform::ReadTrayStatus(static_cast<char>(letter))) {
        case platform::TrayStatus::Open:
            return TrayState::Open;
        case platform::TrayStatus::Closed:
            return TrayState::Closed;
        case platform::TrayStatus::Unknown:
            break;
        }
        return TrayState::Unknown;
    }

    bool RunSettings(QWidget* owner) override {
        CSettingDialog settings(owner);
        CDialogAlphaBlend overlay(&settings, owner);
        return overlay.exec() == ui::IDOK;
    }

    bool RunFileSelect(QWidget* owner, bool, std::vector<std::string>* paths) override {
        CWavFileSelectDialog files(true, QStringLiteral("wav"), QStringLiteral("*.wav"),
                                   CWavFileSelectDialog::OFN_HIDEREADONLY |
                                       CWavFileSelectDialog::OFN_ALLOWMULTISELECT |
                                       CWavFileSelectDialog::OFN_FILEMUSTEXIST,
                                   CWavFileSelectDialog::PlayListFilter(), owner);
        CDialogAlphaBlend overlay(&files, owner);
        if (overlay.exec() != ui::IDOK)
            return false;
        *paths = files.SelectedPaths();
        return true;
    }

    void RunDriveCheck(QWidget* owner, unsigned letter, UINT queryCancelAutoPlay) override {
        CDlgCheckDrive check(letter, owner);
        check.SetAutoPlayQueryMessage(queryCancelAutoPlay);
        CDialogAlphaBlend overlay(&check, owner);
        overlay.exec();
    }

    void RunAbout(QWidget* owner) override {
        AboutBox about(owner);
        about.exec();
    }

    bool RunStartupNotice() override {
        StartupNotice notice;
        return notice.exec() != ui::IDCANCEL;
    }

    void ShowHelp() override { ShowHelpFile(); }

private:
    SleepInhibitor* inhibitor_;
    ScreenSaver* screenSaver_;
    std::unique_ptr<platform::SystemProbe> probe_ = platform::OpenSystemProbe();
};

} // namespace

std::unique_ptr<PlayerServices> MakeDesktopServices(SleepInhibitor* inhibitor, ScreenSaver* screenSaver) {
    return std::make_unique<DesktopServices>(inhibitor, screenSaver);
}

} // namespace app

#include "PlayerServices.h"

#include "CRegistrySection.h"
#include "PlayerMessages.h"
#include "ResourceIds.h"
#include "ResourceModules.h"
#include "Settings.h"

#include "Platform/DriveTable.h"
#include "Platform/VirtualDrive.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace app {

namespace {

class DesktopServices final : public PlayerServices {
public:
    void MessageBox(QWidget* owner, unsigned textId, unsigned captionId, UINT style) override {
        const QMessageBox::Icon icon = style == MB_ICONHAND ? QMessageBox::Critical : QMessageBox::Warning;
        QMessageBox box(icon, ResourceString(captionId), ResourceString(textId), QMessageBox::Ok, owner);
        box.exec();
    }
    // The session's screen saver is left to the desktop: the player keeps the display awake through its
    // execution state instead.
    bool ScreenSaverActive() override { return false; }
    void SetScreenSaverActive(bool) override {}
    void SetExecutionState(DWORD flags) override { executionState_ = flags; }
    DWORD TickCount() override { return probe_.TickCount(); }
    platform::SystemProbe& Probe() override { return probe_; }

    TrayState GetTrayState(unsigned char letter) override {
        const platform::DriveEntry entry = platform::FindDrive(static_cast<char>(letter));
        if (entry.type != platform::DRIVE_CDROM)
            return TrayState::Unknown;
        if (entry.IsImage()) {
            std::string error;
            const auto drive = platform::VirtualDrive::ForLetter(entry.letter, entry.ImagePath(), error);
            if (!drive)
                return TrayState::Unknown;
            return drive->TrayOpen() ? TrayState::Open : TrayState::Closed;
        }
        const int fd = ::open(entry.device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return TrayState::Unknown;
        const int status = ::ioctl(fd, CDROM_DRIVE_STATUS, CDSL_CURRENT);
        ::close(fd);
        if (status == CDS_TRAY_OPEN)
            return TrayState::Open;
        if (status == CDS_NO_DISC || status == CDS_DISC_OK)
            return TrayState::Closed;
        return TrayState::Unknown;
    }

    bool RunSettings(QWidget*) override { return false; }

    bool RunFileSelect(QWidget* owner, bool rfMode, std::vector<std::string>* paths) override {
        const QString filter =
            rfMode ? QStringLiteral("WAV, DSF, DSDIFF (*.wav *.dsf *.dff)") : QStringLiteral("WAV (*.wav)");
        const QStringList chosen =
            QFileDialog::getOpenFileNames(owner, ResourceString(resid::kStrFileDialogTitle), QString(),
                                          filter, nullptr, QFileDialog::DontUseNativeDialog);
        if (chosen.isEmpty())
            return false;
        paths->clear();
        for (const QString& path : chosen)
            paths->push_back(path.toStdString());
        return true;
    }

    void RunDriveCheck(QWidget*, unsigned, UINT) override {}

    void RunAbout(QWidget* owner) override {
        QMessageBox::about(owner, ResourceString(kStringAppTitle), ResourceString(kStringAppTitle));
    }

    bool RunStartupNotice() override {
        QMessageBox box(QMessageBox::Information, ResourceString(resid::kStrNoticeCaption),
                        ResourceString(resid::kStrNoticeBody));
        QPushButton* go = box.addButton(ResourceString(resid::kStrNoticeContinue), QMessageBox::AcceptRole);
        box.addButton(ResourceString(resid::kStrNoticeQuit), QMessageBox::RejectRole);
        auto* dontShow = new QCheckBox(ResourceString(resid::kStrNoticeDontShow));
        box.setCheckBox(dontShow);
        QObject::connect(dontShow, &QCheckBox::toggled, [](bool ticked) {
            CRegistrySection section;
            section.SetNames(kCompanyName, kProductName, "Settings");
            const DWORD value = ticked ? 1 : 0;
            section.WriteDWORD("NoDispNext", &value, true);
        });
        box.exec();
        return box.clickedButton() == go;
    }

    void ShowHelp() override {
        const QString page = QCoreApplication::applicationFilePath() + QStringLiteral(".html");
        QDesktopServices::openUrl(QUrl::fromLocalFile(page));
    }

private:
    platform::LinuxSystemProbe probe_;
    DWORD executionState_ = ES_CONTINUOUS;
};

} // namespace

std::unique_ptr<PlayerServices> MakeDesktopServices() {
    return std::make_unique<DesktopServices>();
}

} // namespace app

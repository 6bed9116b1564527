// The drive check dialog: Start (control 5005) starts the DiscPilot drive check of one drive through the
// dialog's own controller object, a progress bar (5007, 0..100) follows it, polled every 100 ms, and a
// message box closes the dialog when the check has finished (string 232) or failed (231). Cancel (IDCANCEL,
// or closing the window) stops the check (the check puts the drive's stored read condition back as it was)
// and says so (230). The modal loop always ends with IDOK. The drive text ("D:") is control 5008. While a
// dialog is open, the check's own message (its temporary file could not be made) is shown over it once.
//
// The other platform's dialog also answered the shell's AutoPlay query while open, so that a disc put in
// for the check did not start another program; desktops here start nothing of the kind for a program's
// open drive, so SetAutoPlayQueryMessage only keeps the id and nothing answers it.
//
// Made on the caller's stack for one run, usually inside CDialogAlphaBlend. The controller lives and dies
// with the dialog: its destructor waits for a stopped check to wind down and releases the drive. UI thread
// only.
#pragma once

#include "Platform/Types.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

class QProgressBar;
class QPushButton;
class QTimer;

// The controller calls the dialog makes, as CDiscPilot answers them. The dialog's own object is a
// CDiscPilot; tests may give it a controller of their own.
class DriveCheckController {
public:
    virtual ~DriveCheckController() = default;
    virtual bool SetDrive(unsigned char letter) = 0;
    // True when the check started.
    virtual bool CheckDrive() = 0;
    virtual bool IsOpenDrive() const = 0;
    // Below 0 when no progress could be read; else percent holds 0..100, or a negative value after a
    // failed check.
    virtual long GetDriveCheckProgress(int& percent) const = 0;
    virtual long StopDriveCheck() = 0;
};

// A DriveCheckController over a CDiscPilot of its own.
std::unique_ptr<DriveCheckController> MakeDiscPilotCheckController();

class CDlgCheckDrive : public QDialog {
    Q_OBJECT

public:
    static constexpr int kIdStart = 5005;
    static constexpr int kIdProgress = 5007;
    static constexpr int kIdDrive = 5008;
    static constexpr int kTimerId = 101;
    static constexpr int kPollMs = 100;
    // Message box styles, as the box's icon is chosen.
    static constexpr UINT MB_OK = 0x00, MB_ICONEXCLAMATION = 0x30, MB_ICONINFORMATION = 0x40;

    // How a message box is shown: modal over owner, with the text and one of the styles above; returns
    // when the listener closed it. The default is a QMessageBox with the application title as caption.
    using MessageBoxRunner = std::function<void(QWidget* owner, const QString& text, UINT style)>;

    // Opens the drive through the controller (null: a CDiscPilot of the dialog's own). Opening a drive
    // that is spinning up blocks for a few seconds.
    CDlgCheckDrive(unsigned letter, QWidget* parent = nullptr,
                   std::unique_ptr<DriveCheckController> controller = nullptr);
    ~CDlgCheckDrive() override;

    void SetAutoPlayQueryMessage(UINT message) noexcept { autoPlayQuery_ = message; }
    UINT AutoPlayQueryMessage() const noexcept { return autoPlayQuery_; }
    void SetMessageBoxRunner(MessageBoxRunner runner) {
        messageBox_ = std::move(runner);
        defaultMessageBox_ = false;
    }
    // A message of the check itself (its temporary file could not be made), handed over from the check's
    // thread: a warning box with the check's caption, or the runner given above. UI thread only.
    void ShowCheckMessage(const QString& text, const QString& caption);

    // Starts the check and the 100 ms poll: 0, or E_FAIL when the check did not start.
    virtual int StartCheck();
    // Stops the check and the poll; 0.
    virtual int StopCheck();

    // Cancel: StopCheck, message 230, end with IDOK.
    void reject() override;
    // Enter does not end the dialog: only a result or Cancel does.
    void accept() override {}

    const QString& DriveText() const noexcept { return driveText_; }
    bool Polling() const noexcept;

private:
    void OnInitDialog();
    void OnStart();
    void OnTimer();
    void ShowMessage(const QString& text, UINT style);

    std::unique_ptr<DriveCheckController> controller_;
    QString driveText_;
    UINT autoPlayQuery_ = 0;
    MessageBoxRunner messageBox_;
    bool defaultMessageBox_ = true;
    QPushButton* start_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QTimer* timer_ = nullptr;
};

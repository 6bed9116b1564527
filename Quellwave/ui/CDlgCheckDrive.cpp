#include "CDlgCheckDrive.h"

#include "CDiscPilot.h"
#include "DialogSupport.h"
#include "shell/ResourceIds.h"
#include "shell/ResourceModules.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <QApplication>
#include <QEvent>
#include <QPointer>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>

namespace {

class DiscPilotCheckController : public DriveCheckController {
public:
    bool SetDrive(unsigned char letter) override { return pilot_.SetDrive(letter); }
    bool CheckDrive() override { return pilot_.CheckDrive() != 0; }
    bool IsOpenDrive() const override { return pilot_.IsOpenDrive(); }
    long GetDriveCheckProgress(int& percent) const override { return pilot_.GetDriveCheckProgress(percent); }
    long StopDriveCheck() override { return pilot_.StopDriveCheck(); }

private:
    CDiscPilot pilot_;
};

void DefaultMessageBox(QWidget* owner, const QString& text, UINT style) {
    QMessageBox box(owner);
    box.setWindowTitle(TheResources().ApplicationTitle());
    box.setText(text);
    box.setIcon(style == CDlgCheckDrive::MB_ICONINFORMATION   ? QMessageBox::Information
                : style == CDlgCheckDrive::MB_ICONEXCLAMATION ? QMessageBox::Warning
                                                              : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    ui::StyleDialog(&box);
    box.exec();
}

// The dialog on screen, which shows the check's own messages; UI thread only.
QPointer<CDlgCheckDrive> g_openDialog;
// Set once a message of the check was handed over, until the next check starts: the check tries each read
// condition in turn and would say the same thing once for each, so only the first is shown.
std::atomic<bool> g_checkMessageHandedOver{false};

// The check's message waiting for the UI thread, and the object on the UI thread that takes it. The check's
// thread leaves the message here under the lock and posts a plain event; the receiver takes it under the
// same lock. Qt's event queue orders the two as well, but inside Qt, where ThreadSanitizer cannot see it:
// this way everything our code hands over is ordered by a lock it can check.
struct CheckMessage {
    QString text;
    QString caption;
};
std::mutex g_pendingLock;
std::optional<CheckMessage> g_pendingMessage;

class CheckMessageReceiver final : public QObject {
public:
    using QObject::QObject;

protected:
    void customEvent(QEvent*) override {
        std::optional<CheckMessage> message;
        {
            std::lock_guard lock(g_pendingLock);
            message.swap(g_pendingMessage);
        }
        if (message && g_openDialog)
            g_openDialog->ShowCheckMessage(message->text, message->caption);
    }
};

// Created on the UI thread with the first dialog; lives as long as the application object.
std::atomic<QObject*> g_messageReceiver{nullptr};

void EnsureMessageReceiver() {
    if (g_messageReceiver.load() != nullptr || qApp == nullptr)
        return;
    auto* receiver = new CheckMessageReceiver(qApp);
    QObject::connect(receiver, &QObject::destroyed, [] { g_messageReceiver = nullptr; });
    g_messageReceiver = receiver;
}

// Called on the check's thread: hands the message to the UI thread without waiting for it, so a check
// that is being stopped (the dialog's end waits for it) never waits on the window.
void PostCheckMessage(void*, const char* text, const char* caption) {
    QObject* receiver = g_messageReceiver.load();
    if (receiver == nullptr || g_checkMessageHandedOver.exchange(true))
        return;
    {
        std::lock_guard lock(g_pendingLock);
        g_pendingMessage = CheckMessage{QString::fromUtf8(text), QString::fromUtf8(caption)};
    }
    QCoreApplication::postEvent(receiver, new QEvent(QEvent::User));
}

} // namespace

std::unique_ptr<DriveCheckController> MakeDiscPilotCheckController() {
    return std::make_unique<DiscPilotCheckController>();
}

CDlgCheckDrive::CDlgCheckDrive(unsigned letter, QWidget* parent,
                               std::unique_ptr<DriveCheckController> controller)
    : QDialog(parent), controller_(controller ? std::move(controller) : MakeDiscPilotCheckController()),
      messageBox_(DefaultMessageBox) {
    setObjectName(QStringLiteral("CDlgCheckDrive"));
    ui::StyleDialog(this);
    g_openDialog = this;
    EnsureMessageReceiver();
    CDiscPilot::SetMessageBoxHandler(PostCheckMessage, nullptr);
    controller_->SetDrive(static_cast<unsigned char>(letter));
    driveText_ = QStringLiteral("%1:").arg(QChar(char16_t(letter)));

    timer_ = new QTimer(this);
    timer_->setInterval(kPollMs);
    connect(timer_, &QTimer::timeout, this, &CDlgCheckDrive::OnTimer);

    setWindowTitle(ui::Text(resid::kStrCheckCaption));
    auto* intro = new QLabel(ui::Text(resid::kStrCheckIntro), this);
    intro->setWordWrap(true);
    auto* driveLabel = new QLabel(ui::Text(resid::kStrCheckDrive), this);
    auto* drive = ui::MakeStatic(this, kIdDrive, driveText_);
    progress_ = ui::MakeProgressBar(this, kIdProgress);
    start_ = ui::MakeButton(this, kIdStart, ui::Text(resid::kStrCheckStart));
    start_->setDefault(true);
    cancel_ = ui::MakeButton(this, ui::IDCANCEL, ui::Text(resid::kStrCancel));

    auto* driveRow = new QHBoxLayout;
    driveRow->addWidget(driveLabel);
    driveRow->addWidget(drive);
    driveRow->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(start_);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(driveRow);
    layout->addWidget(progress_);
    layout->addSpacing(ui::DluY(this, 4));
    layout->addLayout(buttons);
    setFixedWidth(ui::DluX(this, 220));

    connect(start_, &QPushButton::clicked, this, &CDlgCheckDrive::OnStart);
    connect(cancel_, &QPushButton::clicked, this, &CDlgCheckDrive::reject);
    OnInitDialog();
}

CDlgCheckDrive::~CDlgCheckDrive() = default;

void CDlgCheckDrive::OnInitDialog() {
    // Tool tips are on for every widget here; the drive text is set in the constructor.
    setAttribute(Qt::WA_AlwaysShowToolTips);
}

bool CDlgCheckDrive::Polling() const noexcept {
    return timer_->isActive();
}

int CDlgCheckDrive::StartCheck() {
    g_checkMessageHandedOver = false;
    if (!controller_->CheckDrive())
        return static_cast<int>(E_FAIL);
    timer_->start();
    return 0;
}

int CDlgCheckDrive::StopCheck() {
    controller_->StopDriveCheck();
    timer_->stop();
    return 0;
}

void CDlgCheckDrive::OnStart() {
    if (StartCheck() < 0)
        return; // still ready: the listener may press Start again
    start_->setEnabled(false);
    cancel_->setEnabled(true);
    cancel_->setFocus();
}

void CDlgCheckDrive::OnTimer() {
    if (!controller_->IsOpenDrive())
        return;
    int percent = 0;
    if (controller_->GetDriveCheckProgress(percent) < 0)
        return; // read again on the next tick
    unsigned message = 0;
    UINT style = MB_OK;
    if (percent == 100) {
        message = resid::kStrCheckDone;
        style = MB_ICONINFORMATION;
    } else if (percent < 0) {
        message = resid::kStrCheckFailed;
        style = MB_ICONEXCLAMATION;
    }
    progress_->setValue(std::clamp(percent, 0, 100));
    if (message != 0) {
        timer_->stop();
        ShowMessage(ui::Text(message), style);
        done(ui::IDOK);
    }
}

void CDlgCheckDrive::reject() {
    StopCheck();
    ShowMessage(ui::Text(resid::kStrCheckCancelled), MB_OK);
    done(ui::IDOK);
}

void CDlgCheckDrive::ShowCheckMessage(const QString& text, const QString& caption) {
    if (!defaultMessageBox_) {
        ShowMessage(text, MB_ICONEXCLAMATION);
        return;
    }
    QMessageBox box(this);
    box.setWindowTitle(caption);
    box.setText(text);
    box.setIcon(QMessageBox::Warning);
    box.setStandardButtons(QMessageBox::Ok);
    ui::StyleDialog(&box);
    box.exec();
}

void CDlgCheckDrive::ShowMessage(const QString& text, UINT style) {
    if (messageBox_)
        messageBox_(this, text, style);
}

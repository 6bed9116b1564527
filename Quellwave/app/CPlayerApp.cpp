#include "CPlayerApp.h"

#include "CommandLine.h"
#include "PlayerMessages.h"
#include "shell/ResourceIds.h"
#include "shell/ResourceModules.h"
#include "shell/Settings.h"
#include "ui/ControlNotify.h"
#include "ui/StartupNotice.h"

#include <QApplication>
#include <QWidget>

#include <chrono>
#include <system_error>
#include <thread>

namespace app {

CPlayerApp::CPlayerApp(PlayerServices& services, SystemEventSource* events)
    : services_(services), events_(events) {}

CPlayerApp::~CPlayerApp() {
    if (events_ != nullptr)
        events_->Stop();
    window_.reset();
}

bool CPlayerApp::Prepare(const StartContext& context) {
    context_ = context;
    if (context_.changeFolder && !context_.programFolder.empty()) {
        std::error_code ignored;
        std::filesystem::current_path(context_.programFolder, ignored);
    }
    TheResources().LoadResourceModule(kStringResourceModule, context_.programFolder);

    monitor_ = std::make_unique<CProcessLoadMonitor>(services_.Probe());
    monitor_->Sample();

    instance_ = std::make_unique<SingleInstance>(context_.socketPath);
    switch (instance_->Take()) {
    case SingleInstance::Claim::First:
        break;
    case SingleInstance::Claim::Running: {
        // The running copy comes to the front; files named here replace its list. A command line whose
        // files do not exist leaves its list, and its playback, alone.
        const bool files = TakeOverFiles(context_.arguments, ReadRFMode(), context_.startFolder);
        instance_->Hand(files);
        return false;
    }
    case SingleInstance::Claim::Failed:
        services_.MessageBox(nullptr, resid::kStrSecondCopyFailed, kStringAppTitle, MB_ICONHAND);
        return false;
    }

    if (StartupNoticeWanted() && !services_.RunStartupNotice())
        return false;
    if (endRequested_)
        return false;

    TheResources().ChooseSkin(context_.programFolder / "skin");

    ApplyCdPlay(context_.arguments);

    if (MaxProcessorState(services_.Probe()) < 100)
        services_.MessageBox(nullptr, resid::kStrPowerLimited, resid::kStrWarningCaption, MB_ICONEXCLAMATION);

    if (monitor_->TimeSinceLastSample() < 100)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const LoadThresholds thresholds = ReadLoadThresholds(kStartupOverloadValue);
    if (monitor_->Sample() > thresholds.load)
        services_.MessageBox(nullptr, resid::kStrOverloadAtStart, resid::kStrWarningCaption,
                             MB_ICONEXCLAMATION);

    // A later start that handed its files over while the notice or a warning was up has written its list
    // already: the later start wins, so this copy's own files are not written over it. Requests (and a stop
    // signal) still on their way are taken in first.
    QApplication::processEvents();
    instance_->ReadArrivedRequests();
    if (endRequested_)
        return false;
    if (!instance_->ReloadHeld())
        TakeOverFiles(context_.arguments, ReadRFMode(), context_.startFolder);
    return true;
}

CBGDialog& CPlayerApp::CreateMainWindow() {
    PlayerOptions options;
    options.driverName = context_.driverName;
    window_ = std::make_unique<CBGDialog>(services_, options);
    CBGDialog* window = window_.get();
    window->SetScreenPixels(context_.screenPixels);
    window->OnInitDialog();
    if (instance_) {
        // Requests held since the start are carried out now that the window exists.
        instance_->SetHandlers([window] { window->RestoreAndRaise(); },
                               [window] { window->Panel().post(WM_RELOAD_PLAYLIST, 0, 0); });
    }
    if (events_ != nullptr)
        events_->Start(&window->Panel());
    if (context_.play)
        window->Panel().post(WM_COMMAND, kCmdPlay, 0);
    return *window;
}

void CPlayerApp::EndSession() {
    endRequested_ = true;
    if (window_) {
        CPlayerDialog& panel = window_->Panel();
        panel.post(WM_QUERYENDSESSION, 0, 0);
        panel.post(WM_COMMAND, kCmdClose, 0);
        return;
    }
    if (QWidget* modal = QApplication::activeModalWidget())
        modal->close();
}

int CPlayerApp::Run() {
    CBGDialog& window = window_ ? *window_ : CreateMainWindow();
    const int result = window.exec();
    if (events_ != nullptr)
        events_->Stop();
    TheResources().ReleaseSkin();
    window_.reset();
    monitor_.reset();
    return result;
}

} // namespace app

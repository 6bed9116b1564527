// The program's start and end: the working folder, the resource module and the skin, the load monitor,
// the single instance, the start-up notice, the command line, the power and load warnings, then the main
// window's modal loop, and the release of everything in the reverse order. UI thread only.
#pragma once

#include "CBGDialog.h"
#include "PlayerServices.h"
#include "SingleInstance.h"
#include "shell/CProcessLoadMonitor.h"
#include "shell/SystemEvents.h"
#include "ui/DialogCentring.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace app {

struct StartContext {
    std::vector<std::string> arguments;    // without the program's own name and this port's options
    std::optional<std::string> driverName; // the output for this run (--driver), else the setting's
    bool play = false;                     // start playing once the window is up (--play)
    std::filesystem::path programFolder;   // resources, skins and dial images are found here (data folder)
    std::filesystem::path startFolder;     // relative file arguments are taken from here
    QString socketPath = InstanceSocketPath();
    bool changeFolder = true; // make the program's folder the current one
    QSize screenPixels;       // the screen's size in pixels where the program scaled itself (else empty)
};

class CPlayerApp {
public:
    // events: the power and device event source (null: none); not owned, must outlive the app.
    CPlayerApp(PlayerServices& services, SystemEventSource* events);
    ~CPlayerApp();
    CPlayerApp(const CPlayerApp&) = delete;
    CPlayerApp& operator=(const CPlayerApp&) = delete;

    // Everything before the main window. False when the program ends here: another copy runs (it got the
    // files), the single instance failed, or the notice was cancelled.
    bool Prepare(const StartContext& context);
    // Makes and starts the main window and connects the single instance and the events to it.
    CBGDialog& CreateMainWindow();
    // Runs the main window's modal loop, then releases the window, the skin and the monitor. Returns the
    // modal loop's result.
    int Run();

    // The session ends or the program was told to stop: with the window up, the panel stops and closes as
    // its close button does (fade, settings and play list written, sources closed) and the program ends by
    // itself; before it, the start-up ends at the next step and an open notice or warning is closed.
    void EndSession();
    bool EndRequested() const noexcept { return endRequested_; }

    CBGDialog* MainWindow() noexcept { return window_.get(); }
    SingleInstance* Instance() noexcept { return instance_.get(); }

private:
    PlayerServices& services_;
    SystemEventSource* events_;
    // Every dialog from the start-up notice to the last warning, in the middle of the panel.
    ui::DialogCentring centring_{QSize(CPlayerDialog::kWidth, CPlayerDialog::kHeight)};
    StartContext context_;
    std::unique_ptr<CProcessLoadMonitor> monitor_;
    std::unique_ptr<SingleInstance> instance_;
    std::unique_ptr<CBGDialog> window_;
    bool endRequested_ = false;
};

} // namespace app

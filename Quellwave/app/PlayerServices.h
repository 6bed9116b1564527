// What the player window asks of the desktop and of its dialogs: message boxes, the screen saver and the
// sleep inhibit, the clock, the machine probe for the load and battery checks, and the modal dialogs
// (settings, file selection, drive check, about, help). The program passes DesktopServices; tests pass a
// recorder that answers at once, so the window's logic runs without a modal loop in the way.
#pragma once

#include "Platform/SystemProbe.h"
#include "Platform/Types.h"

#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace app {

enum class TrayState { Unknown, Open, Closed };

class PlayerServices {
public:
    virtual ~PlayerServices() = default;

    // A modal message box with the texts of two string ids; returns when it is dismissed.
    virtual void MessageBox(QWidget* owner, unsigned textId, unsigned captionId, UINT style) = 0;
    // Whether the screen saver may run now, and switching it on and off.
    virtual bool ScreenSaverActive() = 0;
    virtual void SetScreenSaverActive(bool active) = 0;
    // ES_* flags: what must stay awake while the player runs (ES_CONTINUOUS alone releases it).
    virtual void SetExecutionState(DWORD flags) = 0;
    // Milliseconds on a clock that never goes back.
    virtual DWORD TickCount() = 0;
    // The machine as the load monitor and the battery check see it.
    virtual platform::SystemProbe& Probe() = 0;
    // Whether the tray of the drive behind a letter is open, where the drive can tell.
    virtual TrayState GetTrayState(unsigned char letter) = 0;

    // The settings dialog over the dimming overlay; true when it ended with OK (it stored its values).
    virtual bool RunSettings(QWidget* owner) = 0;
    // The file selection dialog over the dimming overlay; true with the chosen paths in order on OK.
    virtual bool RunFileSelect(QWidget* owner, bool rfMode, std::vector<std::string>* paths) = 0;
    // The drive check of one drive over the dimming overlay; returns when it is closed.
    virtual void RunDriveCheck(QWidget* owner, unsigned letter, UINT queryCancelAutoPlay) = 0;
    virtual void RunAbout(QWidget* owner) = 0;
    // The start-up notice; false when the user chose to quit.
    virtual bool RunStartupNotice() = 0;
    virtual void ShowHelp() = 0;
};

class ScreenSaver;
class SleepInhibitor;

// The services of a desktop session: Qt message boxes with the resource strings, the real clock and
// machine, and the dialogs. The execution state goes to inhibitor and the screen saver's switch to
// screenSaver when there are such (not owned; they must outlive the services).
std::unique_ptr<PlayerServices> MakeDesktopServices(SleepInhibitor* inhibitor = nullptr,
                                                    ScreenSaver* screenSaver = nullptr);

} // namespace app

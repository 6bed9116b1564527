// Shared by the player window tests: one application object on the offscreen platform with the built
// resources and dial images, services that record what the window asks of the desktop and answer at once,
// a scripted machine for the load and battery checks, and a fixture that starts the real main window
// against a scratch registry and play list with the engine writing to a given driver.
#pragma once

#include "TestKit/Environment.h"
#include "TestKit/RegistrySandbox.h"
#include "TestKit/RegistryValues.h"
#include "TestKit/Scratch.h"
#include "TestKit/Wav.h"
#include "app/CBGDialog.h"
#include "app/PlayerServices.h"
#include "ui/CLEDDialog.h"

#include "Platform/Registry.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace apptest {

class ScriptedProbe final : public platform::SystemProbe {
public:
    void WalkProcesses(const std::function<bool(DWORD, std::uint64_t)>& visit) override {
        for (const auto& [pid, time] : processes)
            if (!visit(pid, time))
                return;
    }
    DWORD CurrentProcessId() override { return 1; }
    DWORD ProcessorCount() override { return 1; }
    DWORD TickCount() override { return now; }
    std::optional<DWORD> MaxProcessorState() override { return maxState; }
    bool GetPowerStatus(platform::PowerStatus* status) override {
        if (power)
            *status = *power;
        return power.has_value();
    }
    // interval ms pass in which process pid uses the given share of the one processor.
    void Run(DWORD interval, DWORD pid, double share) {
        now += interval;
        processes[pid] += static_cast<std::uint64_t>(share * interval * 10'000);
    }

    std::map<DWORD, std::uint64_t> processes = {{1, 0}, {200, 0}, {300, 0}};
    DWORD now = 1000;
    std::optional<DWORD> maxState = 100;
    std::optional<platform::PowerStatus> power;
};

struct Box {
    unsigned text;
    unsigned caption;
    UINT style;
};

class RecordingServices final : public app::PlayerServices {
public:
    void MessageBox(QWidget*, unsigned textId, unsigned captionId, UINT style) override {
        boxes.push_back({textId, captionId, style});
        if (duringBox)
            duringBox();
    }
    bool ScreenSaverActive() override { return screenSaverQuery ? screenSaverQuery() : screenSaver; }
    void SetScreenSaverActive(bool active) override {
        screenSaver = active;
        if (onScreenSaver)
            onScreenSaver(active);
    }
    void SetExecutionState(DWORD flags) override {
        executionState = flags;
        if (onExecutionState)
            onExecutionState(flags);
    }
    DWORD TickCount() override {
        // Each look at the clock lets the scripted time of an operation pass.
        const DWORD now = tick;
        tick += tickStep;
        return now;
    }
    platform::SystemProbe& Probe() override { return probe; }
    app::TrayState GetTrayState(unsigned char letter) override {
        trayAsked.push_back(letter);
        return trayQuery ? trayQuery(letter) : trayState;
    }
    bool RunSettings(QWidget*) override {
        ++settingsRuns;
        if (settingsAction)
            settingsAction();
        return settingsOk;
    }
    bool RunFileSelect(QWidget*, bool, std::vector<std::string>* paths) override {
        ++fileSelectRuns;
        if (!fileSelection)
            return false;
        *paths = *fileSelection;
        return true;
    }
    void RunDriveCheck(QWidget*, unsigned letter, UINT) override {
        driveChecks.push_back(letter);
        if (duringDriveCheck)
            duringDriveCheck();
    }
    void RunAbout(QWidget*) override { ++aboutRuns; }
    bool RunStartupNotice() override {
        ++noticeRuns;
        if (duringNotice)
            duringNotice();
        return noticeContinues;
    }
    void ShowHelp() override { ++helpRuns; }

    std::size_t BoxesWith(unsigned text) const {
        std::size_t n = 0;
        for (const Box& b : boxes)
            n += b.text == text;
        return n;
    }

    std::vector<Box> boxes;
    std::function<void()> duringBox;
    bool screenSaver = false;
    // When set, the screen saver's switch goes there as well (a bus test's real screen saver).
    std::function<bool()> screenSaverQuery;
    std::function<void(bool)> onScreenSaver;
    DWORD executionState = 0;
    std::function<void(DWORD)> onExecutionState;
    DWORD tick = 10'000;
    DWORD tickStep = 0;
    ScriptedProbe probe;
    app::TrayState trayState = app::TrayState::Unknown;
    std::function<app::TrayState(unsigned char)> trayQuery;
    std::vector<unsigned char> trayAsked;
    int settingsRuns = 0;
    bool settingsOk = false;
    std::function<void()> settingsAction;
    int fileSelectRuns = 0;
    std::optional<std::vector<std::string>> fileSelection;
    std::vector<unsigned> driveChecks;
    std::function<void()> duringDriveCheck;
    int aboutRuns = 0;
    int noticeRuns = 0;
    bool noticeContinues = true;
    std::function<void()> duringNotice;
    int helpRuns = 0;
};

// Registry values for a test (the scratch registry of the fixture).
inline constexpr auto& SetDword = testkit::RegistrySandbox::SetDword;
inline constexpr auto& SetString = testkit::RegistrySandbox::SetString;
inline constexpr auto& GetUserDword = testkit::UserDword;

// A stereo 16-bit WAV of `seconds` of a quiet constant level.
std::string WriteWav(const std::filesystem::path& path, double seconds);

// Threads of this process now.
int ThreadCount();

// Runs the event loop and the window's posted messages until done() holds or timeoutMs passes.
bool Pump(app::CPlayerDialog& panel, const std::function<bool()>& done, unsigned timeoutMs = 20000);
// Dispatches whatever is posted now (and runs pending events once).
void Settle(app::CPlayerDialog& panel);

class PlayerFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the main window in file mode with the given files (PlayList.txt) and output driver.
    void StartFiles(const std::vector<std::string>& files, const std::string& driver = "null");
    // Starts the main window with the settings as they stand.
    void StartWindow(const std::string& driver = "null");

    app::CPlayerDialog& Panel() { return window_->Panel(); }
    CLEDDialog& Display() { return *Panel().Display(); }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void Command(unsigned id);
    void Click(int controlId);
    bool Playing() { return Panel().Engine().Playing() == 1; }
    // Presses the dial's ring and drags to the place of position (0..300) on its scale, the button held.
    // Returns the knob's position once it has turned at least two animation steps towards there while
    // still held, or where it stood when it had not within 3 s; then releases the button there and lets
    // the knob arrive.
    int DragDialTo(int position);

    // Sets an environment variable for the test. A name is added only while this process runs no thread
    // it did not run when the fixture was made: adding one may move the environment's array and free the
    // old one under another thread's getenv (Qt reads the environment as each of its threads starts,
    // its bus thread among them). A fixture therefore sets its variables before it makes its first bus
    // connection, or anything else that starts a thread.
    void SetEnvironment(const std::string& name, const std::string& value);

    // Threads of this process when the fixture was made (before any member of a derived fixture).
    const int threadsAtStart_ = ThreadCount();
    testkit::ScratchFolder dir_;
    testkit::EnvironmentGuard environment_;
    RecordingServices services_;
    std::unique_ptr<app::CBGDialog> window_;
};

} // namespace apptest

// "check LETTER": the drive check of the disc's drive, with a progress bar on a terminal and the report.
#include "CdCommands.h"

#include "CDiscPilot.h"
#include "CliSupport.h"
#include "DiscPilotDiagnostics.h"
#include "Platform/EndingSignals.h"
#include "Platform/FileIo.h"
#include "Platform/Registry.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace cli {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(100);

std::atomic<bool> stopAsked{false};

extern "C" void OnStop(int) {
    stopAsked = true;
}

// The check's message box, on the command line: its caption and text on standard error.
void PrintMessage(void*, const char* text, const char* caption) {
    std::fprintf(stderr, "quellwave-cli check: %s: %s\n", caption, text);
}

void ShowBar(int percent, int& shown) {
    if (!platform::StandardErrorIsTerminal() || percent == shown)
        return;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r\033[Kchecking [%s%s] %3d%%",
                 std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kWidth - filled), '-').c_str(), percent);
    std::fflush(stderr);
    shown = percent;
}

void ClearBar(int shown) {
    if (platform::StandardErrorIsTerminal() && shown >= 0)
        std::fputs("\r\033[K", stderr);
}

const char* ResultText(CDiscPilot::CheckDriveResult result, bool notStored) {
    if (notStored)
        return "checked, but the read condition could not be stored";
    switch (result) {
    case CDiscPilot::CheckDriveSucceeded:
        return "checked, read condition stored";
    case CDiscPilot::CheckDriveNotReady:
        return "the drive stopped being ready during the buffer probe";
    case CDiscPilot::CheckDriveFailed:
        break;
    }
    return "failed";
}

} // namespace

int RunCheck(const std::vector<std::string>& args) {
    unsigned char letter = 0;
    if (args.size() != 1 || !ParseDriveLetter(args[0], letter)) {
        std::fputs("usage: quellwave-cli check LETTER\n", stderr);
        return 2;
    }
    CDiscPilot pilot;
    if (!pilot.SetDrive(letter)) {
        std::fprintf(stderr, "quellwave-cli check: %s\n", NoDiscText(letter).c_str());
        return 1;
    }
    CDiscPilot::SetMessageBoxHandler(PrintMessage, nullptr);
    const platform::EndingSignalCatcher catcher(OnStop);

    if (pilot.CheckDrive() == 0) {
        std::fprintf(stderr,
                     "quellwave-cli check: the check cannot start: drive %c holds no audio track, or the "
                     "temporary folder has less room than the check track takes\n",
                     letter);
        std::printf("result %d\n", static_cast<int>(pilot.GetDriveCheckError()));
        return 1;
    }
    int shown = -1;
    int percent = 0;
    bool stopped = false;
    for (;;) {
        if (stopAsked && !stopped) {
            pilot.StopDriveCheck();
            stopped = true;
        }
        if (pilot.GetDriveCheckProgress(percent) != 0)
            break; // stopped: the check no longer counts as started
        if (percent < 0 || percent >= 100)
            break;
        ShowBar(percent, shown);
        std::this_thread::sleep_for(kPollInterval);
    }
    if (stopped && percent < 100) {
        pilot.CloseDrive(); // waits for the check to wind down
        ClearBar(shown);
        std::fputs("quellwave-cli check: stopped; nothing new is stored\n", stderr);
        return 130;
    }
    ShowBar(percent < 0 ? shown : 100, shown);
    ClearBar(shown);

    const CDiscPilot::CheckDriveResult result = pilot.GetDriveCheckError();
    discpilot::CheckSummary summary;
    const bool known = CDiscPilot::Diagnostics::GetCheckSummary(pilot, summary);
    const bool notStored = known && summary.notStored != 0;
    if (notStored)
        std::fprintf(stderr,
                     "quellwave-cli check: the result could not be stored in %s: the settings cannot be "
                     "written there, so drive %c stays unchecked\n",
                     platform::RegistryFilePath(platform::HKEY_CURRENT_USER).c_str(), letter);
    std::printf("result %d (%s)\n", static_cast<int>(result), ResultText(result, notStored));
    if (known) {
        std::printf("grade %d\n", summary.grade);
        std::printf("speed %dx (read at %.1fx)\n", summary.speed, summary.speedMultiple);
        std::printf("overlap %d sectors, %s\n", summary.overlap,
                    summary.accurate ? "read plainly first" : "overlap-corrected");
        std::printf("buffer %u bytes\n", summary.bufferSize);
        std::printf("compared %d bytes: %d high and %d low bytes differ, %d differ widely, %d realignments\n",
                    summary.bytesCompared, summary.highDiffer, summary.lowDiffer, summary.largeDiffer,
                    summary.realignments);
        std::printf("isrc %s\n", summary.isrc ? "readable and distinct" : "not usable");
        std::printf("status %d, reader status %d\n", summary.status, summary.readerStatus);
    }
    std::fflush(stdout);
    return result == CDiscPilot::CheckDriveSucceeded ? 0 : 1;
}

} // namespace cli

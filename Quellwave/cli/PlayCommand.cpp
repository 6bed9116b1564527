#include "CdCommands.h"
#include "CdReport.h"
#include "CliSupport.h"
#include "Commands.h"

#include "FileProbe.h"

#include "engine/CPlaybackEngine.h"
#include "shell/Settings.h"

#include "Mervane/DsdDriver.h"
#include "Platform/DsdRate.h"
#include "Platform/EndingSignals.h"
#include "Platform/FileIo.h"
#include "Platform/MessageTarget.h"
#include "Platform/Text.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

using engine::CPlaybackEngine;
using engine::kStopCommandId;

namespace cli {

namespace {

constexpr int kExitPlayed = 0;
constexpr int kExitBadArguments = 1;
constexpr int kExitNothingPlayable = 2;
constexpr int kExitNoDriver = 3;
constexpr int kExitDeviceFailed = 4;
constexpr int kExitInterrupted = 130;

// How often the loop looks for Ctrl-C while no message comes.
constexpr unsigned kInterruptPollMs = 50;

std::atomic<int> interrupted{0};

extern "C" void OnInterrupt(int signal) {
    interrupted = signal;
}

struct PlayOptions {
    std::string driver;
    bool driverGiven = false;
    bool rfMode = false;
    bool gapless = false;
    DWORD dsdRate = 0; // --dsd-rate, 0 when not given
    std::int32_t repeat = 0;
    std::vector<std::string> paths;
    unsigned char cd = 0;         // the drive letter of --cd, 0 for files
    std::uint32_t firstTrack = 0; // --track, 0 when not given
    std::uint32_t startMs = 0;    // --start: where in the first track the run starts
};

// "M:SS" or "M:SS.mmm" (one to three digits of the fraction) as ms; none for anything else.
std::optional<std::uint32_t> ParseStart(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || text.size() < colon + 3)
        return std::nullopt;
    const std::size_t dot = text.find('.', colon);
    const std::string minutes = text.substr(0, colon);
    const std::string seconds =
        text.substr(colon + 1, dot == std::string::npos ? std::string::npos : dot - colon - 1);
    std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    if (seconds.size() != 2 || (dot != std::string::npos && (fraction.empty() || fraction.size() > 3)))
        return std::nullopt;
    const auto m = platform::ParseInteger<std::uint32_t>(minutes);
    const auto sec = platform::ParseInteger<std::uint32_t>(seconds);
    fraction.resize(3, '0');
    const auto ms = platform::ParseInteger<std::uint32_t>(fraction);
    if (!m || !sec || !ms || *sec > 59 || *m > 71582) // 71 582 minutes: the most ms a 32-bit count holds
        return std::nullopt;
    return *m * 60000 + *sec * 1000 + *ms;
}

// The message may name a file: its control characters are shown as spaces.
int BadArguments(const std::string& message) {
    std::fprintf(stderr, "quellwave-cli play: %s\n\n%s", platform::ControlCharactersAsSpaces(message).c_str(),
                 UsageText());
    return kExitBadArguments;
}

// Returns -1 when the arguments are good, else the exit status.
int ParseArguments(const std::vector<std::string>& args, PlayOptions* options) {
    bool pathsOnly = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (pathsOnly || a.empty() || a[0] != '-' || a == "-") {
            options->paths.push_back(a);
        } else if (a == "--") {
            pathsOnly = true;
        } else if (a == "--cd" || a == "--track") {
            if (i + 1 >= args.size())
                return BadArguments(a + " needs a value");
            const std::string& value = args[++i];
            if (a == "--cd") {
                if (!ParseDriveLetter(value, options->cd))
                    return BadArguments("--cd takes a drive letter, not \"" + value + "\"");
            } else {
                const auto track = platform::ParseInteger<std::uint32_t>(value);
                if (!track || *track < 1 || *track > 99)
                    return BadArguments("--track takes a track number 1..99, not \"" + value + "\"");
                options->firstTrack = *track;
            }
        } else if (a == "--start") {
            if (i + 1 >= args.size())
                return BadArguments(a + " needs a value");
            const std::string& value = args[++i];
            const auto ms = ParseStart(value);
            if (!ms)
                return BadArguments("--start takes a time as M:SS or M:SS.mmm, not \"" + value + "\"");
            options->startMs = *ms;
        } else if (a == "--dsd-rate") {
            if (i + 1 >= args.size())
                return BadArguments(a + " needs a value");
            const std::string& value = args[++i];
            const auto number = platform::ParseInteger<unsigned>(value);
            if (!number || !platform::DsdRateFromNumber(*number))
                return BadArguments("--dsd-rate takes 64, 128, 256 or 512, not \"" + value + "\"");
            options->dsdRate = *number;
        } else if (a == "--driver" || a == "--repeat") {
            if (i + 1 >= args.size())
                return BadArguments(a + " needs a value");
            const std::string& value = args[++i];
            if (a == "--driver") {
                options->driver = value;
                options->driverGiven = true;
            } else if (value == "off") {
                options->repeat = 0;
            } else if (value == "one") {
                options->repeat = 1;
            } else if (value == "all") {
                options->repeat = 2;
            } else {
                return BadArguments("--repeat takes off, one or all, not \"" + value + "\"");
            }
        } else if (a == "--rf-mode") {
            options->rfMode = true;
        } else if (a == "--gapless") {
            options->gapless = true;
        } else {
            return BadArguments("unknown option \"" + a + "\"");
        }
    }
    if (options->cd != 0 && !options->paths.empty())
        return BadArguments("--cd plays a disc, not files");
    if (options->cd == 0 && options->firstTrack != 0)
        return BadArguments("--track is for --cd");
    if (options->cd == 0 && options->paths.empty())
        return BadArguments("no file to play");
    return -1;
}

// The file a "dsf:" driver name records to, or empty for any other driver.
std::string RecordingPath(const std::string& driver) {
    constexpr std::string_view kPrefix = "dsf:";
    return driver.starts_with(kPrefix) ? driver.substr(kPrefix.size()) : std::string();
}

std::string Clock(std::uint32_t ms) {
    const std::uint32_t s = ms / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u", s / 60, s % 60);
    return text;
}

// M:SS.mmm, as --start takes it.
std::string ExactClock(std::uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u.%03u", ms / 60000, ms / 1000 % 60, ms % 1000);
    return text;
}

// The live line on standard error, only when a person is watching it.
class ProgressLine {
public:
    ProgressLine() : shown_(platform::StandardErrorIsTerminal()) {}
    void Show(std::uint32_t track, std::uint32_t tracks, std::uint32_t ms, std::uint32_t lengthMs) {
        if (!shown_)
            return;
        constexpr int kWidth = 30;
        const int filled =
            lengthMs ? static_cast<int>(std::min<std::uint64_t>(ms, lengthMs) * kWidth / lengthMs) : 0;
        const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                                std::string(static_cast<std::size_t>(kWidth - filled), '-');
        std::fprintf(stderr, "\r\033[Ktrack %u of %u  %s / %s  [%s]", track, tracks, Clock(ms).c_str(),
                     Clock(lengthMs).c_str(), bar.c_str());
        std::fflush(stderr);
        dirty_ = true;
    }
    void Clear() {
        if (shown_ && dirty_)
            std::fputs("\r\033[K", stderr);
        dirty_ = false;
    }

private:
    bool shown_;
    bool dirty_ = false;
};

void Line(const char* format, unsigned long a = 0, unsigned long b = 0) {
    std::printf(format, a, b);
    std::fflush(stdout);
}

// Names every path that will be skipped and why (the engine skips them silently) and returns how many
// will play. The tests are the engine's: WAV first, then DSF/DSDIFF, which play only in RF mode, then
// every other PCM file.
std::size_t CountPlayable(const std::vector<std::string>& paths, bool rfMode) {
    std::size_t playable = 0;
    for (const std::string& path : paths) {
        const FileProbe probe = ProbeFile(path);
        std::string reason = probe.reason;
        if (probe.kind == FileProbe::Kind::Dsd && !rfMode)
            reason = "DSD file: needs --rf-mode or useRFMode = 1";
        else if (probe.kind != FileProbe::Kind::Rejected) {
            ++playable;
            continue;
        }
        std::fprintf(stderr, "quellwave-cli: %s: rejected (%s)\n",
                     platform::ControlCharactersAsSpaces(path).c_str(), reason.c_str());
    }
    return playable;
}

// Opens the disc or the files and selects the first track. Returns -1 when something will play, else
// the exit status.
int OpenSource(CPlaybackEngine& engine, const PlayOptions& options) {
    std::uint32_t firstTrack = 1;
    if (options.cd != 0) {
        if (engine.OpenDrive(options.cd) == 0) {
            std::fprintf(stderr, "quellwave-cli: %s\n", NoDiscText(options.cd).c_str());
            return kExitNothingPlayable;
        }
        const std::uint32_t count = engine.GetTrackCount();
        if (options.firstTrack > count)
            return BadArguments("the disc has " + std::to_string(count) + " tracks, not " +
                                std::to_string(options.firstTrack));
        firstTrack = options.firstTrack != 0 ? options.firstTrack : 1;
    } else if (engine.OpenFiles(options.paths) == 0) {
        std::fputs("quellwave-cli: nothing to play\n", stderr);
        return kExitNothingPlayable;
    }
    std::uint32_t length = 0;
    if (options.startMs != 0 && engine.GetTrackLength(firstTrack, &length) && options.startMs >= length) {
        std::fprintf(stderr, "quellwave-cli play: --start %s is past the end of track %u, which is %s long\n",
                     ExactClock(options.startMs).c_str(), firstTrack, ExactClock(length).c_str());
        return kExitBadArguments;
    }
    engine.SelectTrack(firstTrack, options.startMs);
    return -1;
}

int DriverFailed(const CPlaybackEngine& engine) {
    const std::string name = engine.DriverName();
    // A recording that cannot begin is a matter of its file (a full disk, a folder that cannot be
    // written), not of choosing another driver.
    if (!RecordingPath(name).empty()) {
        std::fprintf(stderr, "quellwave-cli: %s\n",
                     platform::ControlCharactersAsSpaces(engine.DriverOpenError()).c_str());
        return kExitNoDriver;
    }
    std::fprintf(stderr,
                 "quellwave-cli: cannot open the output driver \"%s\" (%s).\n"
                 "Choose one with --driver NAME, NAME being %s, or store it as DefaultASIODriverName\n"
                 "under HKEY_LOCAL_MACHINE\\%s (see README.md, \"Choosing the output\").\n",
                 name.c_str(), engine.DriverOpenError().c_str(), mervane::DsdDriverNamesText(),
                 kAsioSettingsKey);
    return kExitNoDriver;
}

int DeviceFailed(CPlaybackEngine& engine) {
    const CDSDASIO* device = engine.OutputProcessor().GetDSDASIO(0);
    const int error = device ? device->LastWriteErrno() : 0;
    if (error != 0)
        std::fprintf(stderr, "quellwave-cli: the output failed: %s\n", ErrnoText(error).c_str());
    else
        std::fputs("quellwave-cli: the output device failed and asked for a reset\n", stderr);
    return kExitDeviceFailed;
}

// Prints the engine's messages while it plays, until the end, a failure or a signal; returns the exit
// status.
// What the disc's read met while it plays: unreadable sectors (played as silence) and a read that ended
// early, each said once on standard error.
class CdReadReport {
public:
    explicit CdReadReport(const CPlaybackEngine& engine)
        : cd_(engine.IsCD()), drive_(engine.CdDrive()), unreadable_(drive_) {}
    void Poll(ProgressLine& progress) { Look(progress, false); }
    void Finish(ProgressLine& progress) { Look(progress, true); }

private:
    void Look(ProgressLine& progress, bool finish) {
        if (!cd_)
            return;
        const std::vector<std::string> lines = unreadable_.Take(finish);
        if (!lines.empty())
            progress.Clear();
        for (const std::string& line : lines)
            std::fprintf(stderr, "quellwave-cli: %s\n", line.c_str());
        discpilot::ReadCounts counts;
        if (!CDiscPilot::Diagnostics::GetReadCounts(drive_, counts))
            return;
        const bool failed = counts.status != 0 && counts.status != 11;
        if (failed && !failureShown_) {
            progress.Clear();
            discpilot::DiscToc toc;
            std::string where;
            if (CDiscPilot::Diagnostics::GetDiscToc(drive_, toc)) {
                for (int t = 0; t < toc.count; ++t) {
                    const discpilot::DiscTrack& track = toc.tracks[t];
                    if (counts.endedAt >= track.start && counts.endedAt - track.start < track.length)
                        where = " at " + TrackTime(counts.endedAt - track.start) + " of track " +
                                std::to_string(track.number);
                }
            }
            std::fprintf(stderr, "quellwave-cli: the disc's read ended%s: %s; the rest plays as silence\n",
                         where.c_str(), ReaderStatusText(counts.status).c_str());
        }
        failureShown_ = failed;
    }

    bool cd_;
    const CDiscPilot& drive_;
    UnreadableReporter unreadable_;
    bool failureShown_ = false;
};

int ReportUntilEnd(CPlaybackEngine& engine, platform::MessageQueue& window, UINT driverError) {
    ProgressLine progress;
    CdReadReport cdRead(engine);
    const std::uint32_t tracks = engine.GetTrackCount();
    for (;;) {
        cdRead.Poll(progress);
        if (interrupted) {
            // Through the engine, so the stream ends with its fade-out and trailing silence.
            engine.Pause();
            progress.Clear();
            return platform::IsInterruptSignal(interrupted) ? kExitInterrupted : 128 + interrupted;
        }
        const auto message = window.WaitFor(kInterruptPollMs);
        if (!message)
            continue;
        if (message->msg == WM_PLAYER_POSITION) {
            const auto track = static_cast<std::uint32_t>(message->lParam);
            const auto ms = static_cast<std::uint32_t>(message->wParam);
            progress.Clear();
            Line("position %lu %lu\n", track, ms);
            std::uint32_t length = 0;
            engine.GetTrackLength(track, &length);
            progress.Show(track, tracks, ms, length);
        } else if (message->msg == WM_PLAYER_RATE_REFUSED) {
            progress.Clear();
            std::fprintf(stderr, "quellwave-cli: track %u not played: %s\n",
                         static_cast<unsigned>(message->wParam), engine.RateRefusal().c_str());
        } else if (message->msg == WM_PLAYER_END) {
            progress.Clear();
            cdRead.Finish(progress);
            Line("end\n");
            return kExitPlayed;
        } else if (message->msg == WM_COMMAND && message->wParam == kStopCommandId) {
            engine.Pause();
            progress.Clear();
            return DeviceFailed(engine);
        } else if (message->msg == driverError) {
            progress.Clear();
            return DriverFailed(engine);
        }
    }
}

} // namespace

int RunPlay(const std::vector<std::string>& args) {
    PlayOptions options;
    if (const int status = ParseArguments(args, &options); status >= 0)
        return status;
    // From here on every polite way of ending the program fades out and lets the engine finish the output,
    // so a recording's header says how much audio it holds.
    const platform::EndingSignalCatcher catcher(OnInterrupt);

    // The engine's threads post to the queue until the engine is gone, so the queue is made first and
    // outlives it.
    platform::MessageQueue window;
    // Opening a recording creates its file afresh: it must not be one of the files to play, under any
    // name. Checked before anything is opened.
    CPlaybackEngine engine;
    if (options.driverGiven)
        engine.SetDriverNameOverride(options.driver);
    const std::string recording = RecordingPath(engine.DriverName());
    for (const std::string& path : options.paths) {
        if (!recording.empty() && SameFile(path, recording))
            return BadArguments("the recording \"" + recording + "\" is " + path +
                                ", one of the files to play");
    }

    const bool rfMode = options.rfMode || ReadRFMode();
    if ((options.cd != 0 ? 1 : 0) + CountPlayable(options.paths, rfMode) == 0) {
        std::fputs("quellwave-cli: nothing to play\n", stderr);
        return kExitNothingPlayable;
    }

    const UINT driverError = platform::RegisterMessageName(kLoadDriverErrorName);
    if (options.rfMode)
        engine.SetRFModeOverride(true);
    if (options.gapless)
        engine.SetGaplessOverride(true);
    if (options.dsdRate != 0)
        engine.SetDsdRateOverride(options.dsdRate);
    engine.SetRepeatMode(options.repeat);
    if (FAILED(engine.Initialize(&window, driverError)))
        std::fputs("quellwave-cli: the level control is not available\n", stderr);
    if (const int status = OpenSource(engine, options); status >= 0)
        return status;
    if (engine.Play() == 0) {
        if (const std::string refusal = engine.RateRefusal(); !refusal.empty()) {
            std::fprintf(stderr, "quellwave-cli: %s\n", refusal.c_str());
            return kExitNothingPlayable;
        }
        return DriverFailed(engine);
    }
    return ReportUntilEnd(engine, window, driverError);
}

} // namespace cli

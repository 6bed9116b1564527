// One seek while playing, recorded as the DAC would receive it: plays a file (or a disc's track) through
// the engine into a DSF recording taken at a DAC's pace, seeks once the position has passed --after, and
// stops --play-ms after the queued audio has played out. seek_accuracy.py finds in the recording where the
// audio resumed.
//
//   seek-probe OUT.dsf (FILE | --cd LETTER [--track N]) --after MS --to MS [--rf-mode] [--play-ms MS]
#include "Mervane/DsdDriver.h"
#include "Platform/MessageTarget.h"
#include "engine/CPlaybackEngine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

namespace {

// Takes blocks no faster than a DSD64 DAC would, so the reader stays a ring ahead of what is heard and a
// seek lands in the middle of real playback.
class PacedDriver final : public mervane::DsdDriver {
public:
    explicit PacedDriver(std::unique_ptr<mervane::DsdDriver> inner) : inner_(std::move(inner)) {}
    bool WriteBlock(const std::uint8_t* left, const std::uint8_t* right) noexcept override {
        std::this_thread::sleep_until(next_);
        next_ = std::max(next_, std::chrono::steady_clock::now() - std::chrono::milliseconds(50)) +
                std::chrono::microseconds(11610);
        return inner_->WriteBlock(left, right);
    }
    bool Close() noexcept override { return inner_->Close(); }

private:
    std::unique_ptr<mervane::DsdDriver> inner_;
    std::chrono::steady_clock::time_point next_ = std::chrono::steady_clock::now();
};

int Usage() {
    std::fputs("usage: seek-probe OUT.dsf (FILE | --cd LETTER [--track N]) --after MS --to MS [--rf-mode] "
               "[--play-ms MS]\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string out, file;
    unsigned char cd = 0;
    std::uint32_t track = 1, afterMs = 0, toMs = 0, playMs = 1500;
    bool toGiven = false, rfMode = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--cd" && hasValue)
            cd = static_cast<unsigned char>(argv[++i][0]);
        else if (a == "--track" && hasValue)
            track = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (a == "--after" && hasValue)
            afterMs = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (a == "--to" && hasValue) {
            toMs = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
            toGiven = true;
        } else if (a == "--play-ms" && hasValue)
            playMs = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (a == "--rf-mode")
            rfMode = true;
        else if (out.empty())
            out = a;
        else if (file.empty())
            file = a;
        else
            return Usage();
    }
    if (out.empty() || (file.empty() == (cd == 0)) || !toGiven)
        return Usage();

    mervane::RegisterDsdDriver("paced-dsf:", [](std::string_view path, std::string* error) {
        auto inner = mervane::OpenDsdDriver("dsf:" + std::string(path), error);
        return inner ? std::make_unique<PacedDriver>(std::move(inner))
                     : std::unique_ptr<mervane::DsdDriver>();
    });
    platform::MessageQueue window;
    engine::CPlaybackEngine engine;
    engine.SetDriverNameOverride("paced-dsf:" + out);
    engine.SetRFModeOverride(rfMode);
    if (FAILED(engine.Initialize(&window, platform::RegisterMessageName("SeekProbeDriverError"))))
        std::fputs("seek-probe: no level control\n", stderr);
    if (cd != 0 ? engine.OpenDrive(cd) == 0 : engine.OpenFiles({file}) == 0) {
        std::fputs("seek-probe: nothing to play\n", stderr);
        return 1;
    }
    if (engine.SelectTrack(track, 0) == 0 || engine.Play() == 0) {
        std::fprintf(stderr, "seek-probe: cannot play: %s\n", engine.RateRefusal().c_str());
        return 1;
    }
    // Position reports come once a second; the exact heard position is polled between them.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    bool sought = false;
    std::uint32_t seekReported = 0;
    auto stopAt = deadline;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto message = window.WaitFor(5);
        if (message && message->msg == WM_PLAYER_END)
            break;
        const std::uint32_t heard = engine.PositionMs();
        if (!sought && heard >= afterMs) {
            if (engine.Seek(toMs) == 0) {
                std::fprintf(stderr, "seek-probe: the engine refused a seek to %u ms\n", toMs);
                return 1;
            }
            sought = true;
            // The audio queued before the seek plays out first (up to a ring of blocks).
            stopAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(500 + playMs);
            seekReported = engine.LastReportedMs();
            std::printf("sought at %u ms to %u ms (reported %u)\n", heard, toMs, seekReported);
        } else if (sought && std::chrono::steady_clock::now() >= stopAt) {
            break;
        }
    }
    engine.Pause();
    return sought ? 0 : 1;
}

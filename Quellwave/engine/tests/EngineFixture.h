// Test support: an engine posting to a message queue with a registry of its own, WAV files of a constant
// level, DSF and DSDIFF files of distinct bytes, and waits that fail instead of hanging when a broken
// engine never answers.
#pragma once

#include "TestKit/DsdFiles.h"
#include "TestKit/DsfReadback.h"
#include "TestKit/RegistrySandbox.h"
#include "TestKit/Scratch.h"
#include "TestKit/Wav.h"
#include "engine/CPlaybackEngine.h"

#include <gtest/gtest.h>

#include "Mervane/DsdDriver.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>

namespace enginetest {

using platform::Message;

// Generous bounds on waits: they only decide when a test gives up on a hung engine.
inline constexpr unsigned kMessageTimeoutMs = 60000;

// Records like "dsf:" but takes blocks no faster than a DAC would: "paced-dsf:PATH". With the output
// slower than the reader, the rings are full whenever a stop is requested, as in real playback. A test
// may watch the blocks as they reach the device (on the output thread, before each is recorded).
class PacedRecorder final : public mervane::DsdDriver {
public:
    using Watch = std::function<void(const std::uint8_t* left)>;
    static Watch& OnBlock() {
        static Watch watch;
        return watch;
    }

    explicit PacedRecorder(std::unique_ptr<mervane::DsdDriver> inner) : inner_(std::move(inner)) {}
    bool WriteBlock(const std::uint8_t* left, const std::uint8_t* right) noexcept override {
        std::this_thread::sleep_for(std::chrono::microseconds(11610)); // one block of DSD64
        if (OnBlock())
            OnBlock()(left);
        return inner_->WriteBlock(left, right);
    }
    bool Close() noexcept override { return inner_->Close(); }

private:
    std::unique_ptr<mervane::DsdDriver> inner_;
};

inline void RegisterPacedRecorder() {
    static const bool registered = [] {
        mervane::RegisterDsdDriver("paced-dsf:", [](std::string_view path, std::string* error) {
            auto inner = mervane::OpenDsdDriver("dsf:" + std::string(path), error);
            return inner ? std::make_unique<PacedRecorder>(std::move(inner))
                         : std::unique_ptr<mervane::DsdDriver>();
        });
        return true;
    }();
    (void)registered;
}

class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir_.Path().empty()); }

    std::string Write(const std::string& name, const testkit::Bytes& bytes) {
        testkit::WriteBytes(dir_ / name, bytes);
        return (dir_ / name).string();
    }
    // A stereo WAV holding `seconds` of a constant level (fraction of full scale) on both channels.
    std::string ConstantWav(const std::string& name, std::uint16_t bits, double seconds, double level) {
        return Write(name, testkit::ConstantWav(bits, seconds, level));
    }
    // DSF and DSDIFF files at a rate holding bytesPerChannel distinct bytes per channel.
    static testkit::DsfShape Dsf(std::size_t bytesPerChannel, std::uint32_t seed,
                                 platform::DsdRate rate = platform::DsdRate::kDsd64) {
        return testkit::StereoShape<testkit::DsfShape>(bytesPerChannel, seed, platform::DsdSampleRate(rate));
    }
    static testkit::DsdiffShape Dsdiff(std::size_t bytesPerChannel, std::uint32_t seed,
                                       platform::DsdRate rate = platform::DsdRate::kDsd64) {
        return testkit::StereoShape<testkit::DsdiffShape>(bytesPerChannel, seed,
                                                          platform::DsdSampleRate(rate));
    }

    std::string DsfPath() const { return (dir_ / "device.dsf").string(); }

    // Initialises the engine with a driver; returns Initialize's result.
    HRESULT Start(const std::string& driver) {
        engine_.SetDriverNameOverride(driver);
        return engine_.Initialize(&queue_, driverError_);
    }
    void StartRecording() { ASSERT_EQ(Start("dsf:" + DsfPath()), S_OK); }

    void PlayFiles(const std::vector<std::string>& paths) {
        ASSERT_EQ(engine_.OpenFiles(paths), 1);
        ASSERT_EQ(engine_.SelectTrack(1, 0), 1);
        ASSERT_EQ(engine_.Play(), 1);
    }

    // Takes messages into seen_ until one matches; false when none comes in time.
    bool WaitUntil(const std::function<bool(const Message&)>& match, unsigned timeoutMs = kMessageTimeoutMs) {
        for (;;) {
            const auto m = queue_.WaitFor(timeoutMs);
            if (!m)
                return false;
            seen_.push_back(*m);
            if (match(*m))
                return true;
        }
    }
    bool WaitForEnd() {
        return WaitUntil([](const Message& m) { return m.msg == WM_PLAYER_END; });
    }
    // Ends the engine (the recording gets its final header) and reads what reached the device.
    testkit::DsfStream Finish() {
        engine_.Shutdown();
        while (auto m = queue_.TryGet())
            seen_.push_back(*m);
        return testkit::ReadDsf(DsfPath());
    }
    std::vector<Message> Positions() const {
        std::vector<Message> out;
        for (const Message& m : seen_)
            if (m.msg == WM_PLAYER_POSITION)
                out.push_back(m);
        return out;
    }
    std::size_t Count(UINT msg) const {
        std::size_t n = 0;
        for (const Message& m : seen_)
            n += m.msg == msg;
        return n;
    }
    // Runs fn on another thread and says whether it finished within timeoutMs (its result in *result).
    static bool Finishes(const std::function<int()>& fn, int* result, unsigned timeoutMs = 30000) {
        auto future = std::async(std::launch::async, fn);
        if (future.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
            // The thread is stuck in the engine; the test cannot recover from that.
            ADD_FAILURE() << "call did not return";
            std::abort();
        }
        *result = future.get();
        return true;
    }

    // Never read the settings of the person running the tests, nor the machine's drives.
    testkit::RegistrySandbox registry_{"engine"};
    testkit::ScratchFolder dir_;
    platform::MessageQueue queue_;
    const UINT driverError_ = platform::RegisterMessageName(kLoadDriverErrorName);
    engine::CPlaybackEngine engine_;
    std::vector<Message> seen_;
};

} // namespace enginetest

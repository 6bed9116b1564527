// A device that fails during play: the engine asks the window to stop, and the next Play opens the device
// again and goes on with the track.
#include "EngineFixture.h"

#include <atomic>
#include <chrono>
#include <thread>

using engine::kStopCommandId;

namespace enginetest {
namespace {

// What the "failing:" driver saw, across every time it was opened.
struct DeviceLog {
    std::atomic<int> opens{0};
    std::atomic<int> writes{0};
    std::atomic<int> writesAfterReopen{0};
    std::atomic<int> failAt{0}; // the write number (from 1, over all opens) that fails
};
DeviceLog gLog;

// Takes blocks at a little under the DSD64 rate's pace and fails the write numbered gLog.failAt, once.
class FailingDriver final : public mervane::DsdDriver {
public:
    bool WriteBlock(const std::uint8_t*, const std::uint8_t*) noexcept override {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        if (++gLog.writes == gLog.failAt)
            return false;
        if (gLog.opens > 1)
            ++gLog.writesAfterReopen;
        return true;
    }
    bool Close() noexcept override { return true; }
};

class EngineDeviceFaultTest : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        static const bool registered = [] {
            mervane::RegisterDsdDriver("failing:", [](std::string_view, std::string*) {
                ++gLog.opens;
                return std::make_unique<FailingDriver>();
            });
            return true;
        }();
        (void)registered;
        gLog.opens = 0;
        gLog.writes = 0;
        gLog.writesAfterReopen = 0;
    }
};

TEST_F(EngineDeviceFaultTest, TheNextPlayReopensAFailedDeviceAndTheTrackGoesOn) {
    const std::string a = ConstantWav("a.wav", 16, 6.0, 0.25);
    gLog.failAt = 50 + 20 + 40; // the 40th block of audio, about 0.46 s into the track
    ASSERT_EQ(Start("failing:"), S_OK);
    PlayFiles({a});
    ASSERT_TRUE(
        WaitUntil([](const Message& m) { return m.msg == WM_COMMAND && m.wParam == kStopCommandId; }));
    // The window answers the Stop command by pausing.
    int result = 0;
    ASSERT_TRUE(Finishes([&] { return engine_.Pause(); }, &result));
    const auto before = Positions();
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(gLog.opens, 1);
    CDSDASIO* device = engine_.OutputProcessor().GetDSDASIO(0);
    ASSERT_NE(device, nullptr);
    EXPECT_FALSE(device->open); // a failed device counts as closed

    ASSERT_TRUE(Finishes([&] { return engine_.Play(); }, &result));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(gLog.opens, 2);
    EXPECT_TRUE(device->open);
    seen_.clear();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_GT(gLog.writesAfterReopen, 400); // the rest of the track reached the device
    const auto after = Positions();
    ASSERT_FALSE(after.empty());
    // The track continues from where it was, it does not start again.
    EXPECT_GE(after.front().wParam, before.back().wParam);
    EXPECT_GE(after.back().wParam, 5000u);
    EXPECT_EQ(Count(WM_COMMAND), 0u);
}

TEST_F(EngineDeviceFaultTest, PauseAndPlayAfterStopThreadsReturnAtOnce) {
    const std::string a = ConstantWav("a.wav", 16, 30.0, 0.25);
    gLog.failAt = -1;
    ASSERT_EQ(Start("failing:"), S_OK);
    PlayFiles({a});
    ASSERT_TRUE(WaitUntil([](const Message& m) { return m.msg == WM_PLAYER_POSITION; }));
    engine_.StopThreads();
    int result = 0;
    ASSERT_TRUE(Finishes([&] { return engine_.Pause(); }, &result));
    EXPECT_EQ(result, 1);
    ASSERT_TRUE(Finishes([&] { return engine_.Play(); }, &result));
    EXPECT_EQ(result, 0);
}

} // namespace
} // namespace enginetest

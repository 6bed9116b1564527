// The output device as the engine uses it: drivers chosen by name, what the "dsf:" driver records, the
// device's flags.
#include "Mervane/CProcessProc.h"

#include "TestKit/Bytes.h"
#include "TestKit/Scratch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using testkit::Bytes;
using testkit::Le;
using testkit::ReadBytes;

class OutputDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        device_ = proc_.GetDSDASIO(0);
        ASSERT_NE(device_, nullptr);
        for (int c = 0; c < CDSDASIO::kTableEntries; ++c) {
            buffers_[c].assign(CDSDASIO::kChannelBlockBytes, 0x69);
            table_[c] = buffers_[c].data();
        }
    }
    void TearDown() override { proc_.Release(); }
    bool Open(const std::string& name) {
        const std::u16string wide(name.begin(), name.end());
        proc_.LockProcess();
        const bool ok = device_->OpenDriver(wide.c_str());
        proc_.UnlockProcess();
        return ok;
    }
    // Writes a block whose left bytes are all `left` and right bytes all `right`.
    bool Write(std::uint8_t left, std::uint8_t right) {
        std::fill(buffers_[0].begin(), buffers_[0].end(), left);
        std::fill(buffers_[1].begin(), buffers_[1].end(), right);
        const bool ok = device_->WriteBlock(position_, table_, table_);
        position_ += CDSDASIO::kPositionPerBlock;
        return ok;
    }
    std::string Path(const char* name) const { return (scratch_ / name).string(); }

    const testkit::ScratchFolder scratch_{"dev"};
    CProcessProc proc_;
    CDSDASIO* device_ = nullptr;
    Bytes buffers_[CDSDASIO::kTableEntries];
    std::uint8_t* table_[CDSDASIO::kTableEntries]{};
    std::int64_t position_ = 0;
};

TEST_F(OutputDeviceTest, OnlyDeviceZeroExists) {
    EXPECT_EQ(proc_.GetDSDASIO(1), nullptr);
    EXPECT_EQ(proc_.GetDSDASIO(-1), nullptr);
    EXPECT_EQ(proc_.GetDSDASIO(0), device_);
}

TEST_F(OutputDeviceTest, UnknownNamesDoNotOpenAndSayWhy) {
    for (const char* name : {"", "alsa", "nul", "dsf:", "NULL", "dsf"}) {
        EXPECT_FALSE(Open(name)) << name;
        EXPECT_FALSE(device_->open.load()) << name;
        EXPECT_FALSE(device_->LastOpenError().empty()) << name;
    }
    EXPECT_FALSE(Write(1, 2));
    EXPECT_FALSE(Open("dsf:" + Path("no/such/folder/x.dsf")));
}

TEST_F(OutputDeviceTest, SetupAcceptsTheEngineCallsInOrder) {
    EXPECT_TRUE(proc_.Setup(512, 44100.0f, true));
    EXPECT_TRUE(proc_.Enable(true));
    EXPECT_TRUE(proc_.SetRate(44100.0f));
    EXPECT_TRUE(proc_.Enabled());
    EXPECT_FALSE(proc_.SetRate(48000.0f));
}

TEST_F(OutputDeviceTest, DsfDriverRecordsExactlyTheBlocksInOrder) {
    ASSERT_TRUE(Open("dsf:" + Path("a.dsf")));
    EXPECT_TRUE(device_->open.load());
    device_->started = false;
    ASSERT_TRUE(Write(0x11, 0x22));
    EXPECT_TRUE(device_->started.load());
    ASSERT_TRUE(Write(0x33, 0x44));
    ASSERT_TRUE(Write(0x69, 0x69));
    proc_.Release();
    EXPECT_FALSE(device_->open.load());

    const Bytes f = ReadBytes(Path("a.dsf"));
    ASSERT_EQ(f.size(), 92u + 3 * 8192);
    EXPECT_EQ(Le(f, 64, 8), 3u * 4096 * 8);  // samples per channel
    EXPECT_EQ(Le(f, 84, 8), 12u + 3 * 8192); // data chunk size
    const std::uint8_t expected[] = {0x11, 0x22, 0x33, 0x44, 0x69, 0x69};
    for (std::size_t part = 0; part < 6; ++part) {
        const std::size_t at = 92 + part * 4096;
        EXPECT_EQ(std::count(f.begin() + static_cast<long>(at), f.begin() + static_cast<long>(at + 4096),
                             expected[part]),
                  4096)
            << "channel block " << part;
    }
}

TEST_F(OutputDeviceTest, DsfHeaderFollowsTheAudioWrittenNotTheClock) {
    // Recording runs many times faster than real time: a header kept up to date once a second of
    // wall-clock time would, after a SIGKILL, lose most of what was written. It must lag the audio by
    // about a second of audio at most, however fast the blocks come.
    ASSERT_TRUE(Open("dsf:" + Path("fast.dsf")));
    constexpr int kBlocks = 1000;       // 11.6 s of audio, written in far less than a second
    constexpr int kSecondOfBlocks = 87; // 2 822 400 / 32 768 = 86.1 blocks
    for (int i = 0; i < kBlocks; ++i)
        ASSERT_TRUE(Write(0x69, 0x96));
    const Bytes f = ReadBytes(Path("fast.dsf"));
    ASSERT_GE(f.size(), 92u);
    const std::uint64_t headerBlocks = Le(f, 64, 8) / 32768;
    EXPECT_GE(headerBlocks, static_cast<std::uint64_t>(kBlocks - kSecondOfBlocks));
    EXPECT_EQ(Le(f, 84, 8), 12u + headerBlocks * 8192); // the two sizes agree
    proc_.Release();
}

TEST_F(OutputDeviceTest, DsfHeaderCatchesUpWhileTheDriverIsStillOpen) {
    ASSERT_TRUE(Open("dsf:" + Path("live.dsf")));
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(Write(0x69, 0x96));
    // The header thread brings the sizes up to date within a second or so; poll generously rather than
    // assume a time.
    std::uint64_t samples = 0;
    for (int i = 0; i < 100 && samples != 5u * 32768; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const Bytes f = ReadBytes(Path("live.dsf"));
        samples = f.size() >= 92 ? Le(f, 64, 8) : 0;
    }
    EXPECT_EQ(samples, 5u * 32768);
    EXPECT_TRUE(device_->open.load());
}

TEST_F(OutputDeviceTest, ReopeningFinishesTheFirstRecording) {
    ASSERT_TRUE(Open("dsf:" + Path("first.dsf")));
    ASSERT_TRUE(Write(1, 1));
    ASSERT_TRUE(Open("null"));
    EXPECT_EQ(Le(ReadBytes(Path("first.dsf")), 64, 8), 32768u);
    EXPECT_TRUE(Write(2, 2));
}

} // namespace

namespace {

class CountingDriver final : public mervane::DsdDriver {
public:
    explicit CountingDriver(int* blocks) : blocks_(blocks) {}
    bool WriteBlock(const std::uint8_t*, const std::uint8_t*) noexcept override { return ++*blocks_ > 0; }
    bool Close() noexcept override { return true; }

private:
    int* blocks_;
};

TEST_F(OutputDeviceTest, RegisteredDriversAreFoundByPrefixBeforeTheBuiltInOnes) {
    static int blocks = 0;
    static std::string restSeen;
    mervane::RegisterDsdDriver("dsf:counting/", [](std::string_view rest, std::string*) {
        restSeen = std::string(rest);
        return std::make_unique<CountingDriver>(&blocks);
    });
    mervane::RegisterDsdDriver(
        "refuse:", [](std::string_view, std::string*) { return std::unique_ptr<mervane::DsdDriver>(); });
    ASSERT_TRUE(Open("dsf:counting/x"));
    EXPECT_EQ(restSeen, "x");
    ASSERT_TRUE(Write(1, 1));
    EXPECT_EQ(blocks, 1);
    EXPECT_FALSE(std::filesystem::exists("counting/x"));
    EXPECT_FALSE(Open("refuse:me"));
    EXPECT_NE(device_->LastOpenError().find("refuse:me"), std::string::npos);
    ASSERT_TRUE(Open("dsf:" + Path("plain.dsf"))); // other dsf: names still record
    ASSERT_TRUE(Write(1, 1));
    EXPECT_EQ(blocks, 1);
}

// A driver that says what it is, keeps the gain it was given and has had `underruns` underruns.
class DescribedDriver final : public mervane::DsdDriver {
public:
    DescribedDriver(platform::OutputKind kind, std::string pcm, std::uint64_t underruns)
        : kind_(kind), pcm_(std::move(pcm)), underruns_(underruns) {}
    bool WriteBlock(const std::uint8_t*, const std::uint8_t*) noexcept override { return true; }
    bool Close() noexcept override { return true; }
    platform::OutputInfo Describe() const override { return {kind_, pcm_, 4, "Fake DAC", 99}; }
    void SetSoftwareGain(float gain) noexcept override { gain_ = gain; }
    std::uint64_t Underruns() const noexcept override { return underruns_; }

    static inline float gain_ = -1.0f; // the last gain any of them was given
private:
    platform::OutputKind kind_;
    std::string pcm_;
    std::uint64_t underruns_;
};

TEST_F(OutputDeviceTest, DescribesTheOpenDriverToTheLevelControlAndPassesItsGainOn) {
    mervane::RegisterDsdDriver("described:", [](std::string_view rest, std::string*) {
        const auto kind = rest == "dop" ? platform::OutputKind::Dop : platform::OutputKind::NativeDsd;
        return std::make_unique<DescribedDriver>(kind, "hw:4," + std::string(rest), rest == "dop" ? 2 : 3);
    });
    platform::OutputLevelTarget& target = *device_;
    EXPECT_EQ(target.CurrentOutput().kind, platform::OutputKind::None);
    target.SetSoftwareGain(0.25f); // before any driver: kept for the next one
    std::uint64_t generation = target.CurrentOutputGeneration();

    struct Step {
        const char* name;
        platform::OutputKind kind;
        const char* pcm;
        std::uint64_t underruns; // of every driver opened so far
    };
    const Step steps[] = {
        {"described:alsa", platform::OutputKind::NativeDsd, "hw:4,alsa", 3},
        {"described:dop", platform::OutputKind::Dop, "hw:4,dop", 5},
        {"null", platform::OutputKind::None, "", 5},
        {"described:dop", platform::OutputKind::Dop, "hw:4,dop", 7},
    };
    for (const Step& step : steps) {
        DescribedDriver::gain_ = -1.0f;
        ASSERT_TRUE(Open(step.name)) << step.name;
        const platform::OutputInfo info = target.CurrentOutput();
        EXPECT_EQ(info.kind, step.kind) << step.name;
        EXPECT_EQ(info.pcmName, step.pcm) << step.name;
        // The device counts the generations, whatever the driver says: closing the last driver and
        // opening this one each changed it.
        EXPECT_GT(info.generation, generation) << step.name;
        EXPECT_EQ(target.CurrentOutputGeneration(), info.generation) << step.name;
        generation = info.generation;
        if (step.kind != platform::OutputKind::None) {
            EXPECT_EQ(DescribedDriver::gain_, 0.25f) << step.name;
        }
        EXPECT_EQ(device_->Underruns(), step.underruns) << step.name;
    }
    target.SetSoftwareGain(0.5f); // reaches the open driver at once
    EXPECT_EQ(DescribedDriver::gain_, 0.5f);

    ASSERT_TRUE(device_->CloseDriver());
    EXPECT_EQ(target.CurrentOutput().kind, platform::OutputKind::None);
    EXPECT_GT(target.CurrentOutputGeneration(), generation);
    EXPECT_EQ(device_->Underruns(), 7u);
}

} // namespace

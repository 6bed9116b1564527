// The pass-through transport: the sense table row by row, the fall-through formula, time-outs, and what
// happens without a drive letter or without a pass-through bus. A fake bus stands in for the drives.
#include "TestSupport.h"
#include "transport/cddaCAspiDevice.h"
#include "transport/cddaCAspiLibrary.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace discpilot {
namespace {

using platform::ScsiAnswer;
using platform::ScsiCommand;

// A device that answers every command with a set sense (or GOOD), optionally only after a delay, and
// keeps what it was sent.
class FakeDevice final : public platform::ScsiPassThrough {
public:
    int Execute(const ScsiCommand& cmd, ScsiAnswer& answer) override {
        {
            std::unique_lock lock(mutex_);
            commands_.push_back(cmd);
            released_.wait_for(lock, delay_, [this] { return release_; });
        }
        answer = {};
        answer.error = error_;
        if (sense_[2] != 0 || sense_[12] != 0 || sense_[13] != 0) {
            answer.status = platform::kScsiCheckCondition;
            answer.sense = sense_;
        } else if (checkWithoutSense_) {
            answer.status = platform::kScsiCheckCondition;
        }
        if (cmd.direction == platform::ScsiDirection::In && cmd.data != nullptr) {
            std::memset(cmd.data, 0xA5, cmd.dataLength);
            answer.transferred = cmd.dataLength;
        }
        return answer.error;
    }
    platform::ScsiAddress Address() const override { return {2, 0, 3, 0}; }
    DWORD MaxTransferLength() const override { return 65536; }

    void Answer(BYTE key, BYTE asc, BYTE ascq) { sense_ = platform::MakeFixedSense(key, asc, ascq); }
    void Release() {
        const std::lock_guard lock(mutex_);
        release_ = true;
        released_.notify_all();
    }
    std::size_t Commands() {
        const std::lock_guard lock(mutex_);
        return commands_.size();
    }

    std::chrono::milliseconds delay_{0};
    int error_ = 0;
    bool checkWithoutSense_ = false;

private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;
    std::vector<ScsiCommand> commands_;
    std::array<BYTE, platform::kSenseBytes> sense_{};
};

class FakeBus final : public AspiBus {
public:
    explicit FakeBus(std::shared_ptr<FakeDevice> device) : device_(std::move(device)) {}
    int AdapterCount() override { return 3; }
    std::shared_ptr<platform::ScsiPassThrough> Device(int hostAdapter, int target) override {
        ++deviceCalls_;
        return hostAdapter == 2 && target == 3 ? device_ : nullptr;
    }
    bool AddressOf(char, int& hostAdapter, int& target) override {
        hostAdapter = 2;
        target = 3;
        return true;
    }
    std::string StorageDescriptor(char) override { return {}; }
    int deviceCalls_ = 0;

private:
    std::shared_ptr<FakeDevice> device_;
};

class AspiDeviceTest : public dptest::RegistryTest {
protected:
    void SetUp() override {
        dptest::RegistryTest::SetUp();
        device_ = std::make_shared<FakeDevice>();
        bus_ = std::make_shared<FakeBus>(device_);
        cddaCAspiLibrary::Instance().SetBus(bus_);
    }
    void TearDown() override {
        device_->Release();
        cddaCAspiLibrary::Instance().SetBus(MakePlatformAspiBus());
        dptest::RegistryTest::TearDown();
    }

    // The result of a TEST UNIT READY answered with the given sense.
    int ResultFor(BYTE key, BYTE asc, BYTE ascq) {
        device_->Answer(key, asc, ascq);
        cddaCAspiDevice aspi(kKindAspi);
        aspi.Select('d', 2, 3);
        return aspi.TestUnitReady();
    }

    std::shared_ptr<FakeDevice> device_;
    std::shared_ptr<FakeBus> bus_;
};

TEST_F(AspiDeviceTest, EveryRowOfTheSenseTable) {
    struct Row {
        BYTE key, asc, ascq;
        int result;
    };
    const Row rows[] = {
        {2, 0x04, 0x01, 509}, {2, 0x04, 0x00, 509}, {2, 0x3A, 0x02, 510},    {2, 0x3A, 0x00, 510},
        {2, 0x53, 0x07, 511}, {3, 0x02, 0x00, 512}, {3, 0x02, 0x05, 512},    {5, 0x00, 0x11, 521},
        {5, 0x1A, 0x00, 527}, {5, 0x20, 0x00, 526}, {5, 0x24, 0x00, 519},    {5, 0x26, 0x00, 520},
        {5, 0x2C, 0x00, 514}, {5, 0x2C, 0x09, 514}, {5, 0x30, 0x00, 513},    {5, 0x30, 0x06, 513},
        {5, 0x64, 0x00, 525}, {5, 0x6F, 0x01, 515}, {5, 0xBF, 0x00, 528},    {6, 0x28, 0x00, 522},
        {6, 0x29, 0x00, 523}, {6, 0x2A, 0x01, 524}, {0x0B, 0xB9, 0x00, 529}, {0x0B, 0xBF, 0x00, 528},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ResultFor(row.key, row.asc, row.ascq), row.result)
            << "sense " << int(row.key) << "/" << std::hex << int(row.asc) << "/" << int(row.ascq);
    }
}

TEST_F(AspiDeviceTest, RowsWithAFixedQualifierFallThroughForAnyOther) {
    EXPECT_EQ(ResultFor(3, 0x11, 0x00), 201460); // 500 + 0x031100
    EXPECT_EQ(ResultFor(5, 0x20, 0x01), 500 + 0x052001);
    EXPECT_EQ(ResultFor(5, 0x00, 0x12), 500 + 0x050012);
    EXPECT_EQ(ResultFor(6, 0x2A, 0x00), 500 + 0x062A00);
    EXPECT_EQ(ResultFor(0x0B, 0xB9, 0x01), 500 + 0x0BB901);
    EXPECT_EQ(ResultFor(4, 0x04, 0x00), 500 + 0x040400); // ASC 04 is "not ready" only with key 2
}

TEST_F(AspiDeviceTest, FailureWithoutSenseGivesFiveHundred) {
    device_->checkWithoutSense_ = true;
    cddaCAspiDevice aspi(kKindAspi);
    aspi.Select('D', 2, 3);
    EXPECT_EQ(aspi.TestUnitReady(), 500);
    const BYTE zero[18] = {};
    EXPECT_EQ(MapSense(zero), 500);
}

TEST_F(AspiDeviceTest, GoodStatusDeliversTheDataIntoTheCallersBuffer) {
    cddaCAspiDevice aspi(kKindAspi);
    aspi.Select('D', 2, 3);
    std::vector<BYTE> sectors(3 * 2352, 0);
    EXPECT_EQ(aspi.ReadAudio(0xBE0010, 100, 3, sectors.data()), 0);
    EXPECT_EQ(sectors.front(), 0xA5);
    EXPECT_EQ(sectors.back(), 0xA5);
}

TEST_F(AspiDeviceTest, NoDriveLetterSelectedGives506WithoutTouchingTheBus) {
    cddaCAspiDevice aspi(kKindAspi);
    BYTE buffer[128] = {};
    EXPECT_EQ(aspi.TestUnitReady(), 506);
    EXPECT_EQ(aspi.ModeSense(0x2A, true, buffer), 506);
    EXPECT_EQ(aspi.ReadAudio(0xD80000, 0, 1, std::vector<BYTE>(2352).data()), 506);
    EXPECT_EQ(bus_->deviceCalls_, 0);
    EXPECT_EQ(device_->Commands(), 0u);
}

TEST_F(AspiDeviceTest, KindsWithoutAPassThroughAndAMissingBusGive503) {
    cddaCAspiDevice bridge(kKind9xBridge);
    bridge.Select('D', 2, 3);
    EXPECT_EQ(bridge.TestUnitReady(), 503);
    EXPECT_EQ(bridge.HostAdapterInquiry(), 503);

    cddaCAspiLibrary::Instance().SetBus(nullptr);
    EXPECT_EQ(cddaCAspiLibrary::Instance().SupportInfo(), 503);
    cddaCAspiDevice aspi(kKindAspi);
    aspi.Select('D', 2, 3);
    EXPECT_EQ(aspi.TestUnitReady(), 503);
    EXPECT_EQ(aspi.RescanBus(), 503);
    EXPECT_EQ(device_->Commands(), 0u);
}

TEST_F(AspiDeviceTest, NothingAtTheAddressFailsWithoutSense) {
    cddaCAspiDevice aspi(kKindAspi);
    aspi.Select('D', 1, 3);
    EXPECT_EQ(aspi.TestUnitReady(), 500);
}

TEST_F(AspiDeviceTest, HostAdapterInquiryGivesTheMaximumTransferLength) {
    cddaCAspiDevice aspi(kKindAspi);
    EXPECT_EQ(aspi.AdapterCount(), 3);
    aspi.Select('D', 2, 3);
    EXPECT_EQ(aspi.MaxTransferLength(), 0u);
    EXPECT_EQ(aspi.HostAdapterInquiry(), 0);
    EXPECT_EQ(aspi.MaxTransferLength(), 65536u);
    aspi.Select('D', 3, 3);
    EXPECT_EQ(aspi.HostAdapterInquiry(), 505);
}

TEST_F(AspiDeviceTest, RequestOutlivingTheTimeOutGives507AndLeavesTheBufferAlone) {
    SetMachineString("ASPITimeOut", "30");
    device_->delay_ = std::chrono::milliseconds(60000); // until released
    cddaCAspiDevice aspi(kKindAspi);
    EXPECT_EQ(aspi.TimeOutMs(), 30u);
    aspi.Select('D', 2, 3);
    std::vector<BYTE> buffer(2352, 0x11);
    EXPECT_EQ(aspi.ReadAudio(0xBE0010, 0, 1, buffer.data()), 507);
    // The device is still busy with the first request: the next one times out as well.
    EXPECT_EQ(aspi.TestUnitReady(), 507);
    device_->Release();
    // Once the late request finishes, its data has not reached the caller and the device serves again.
    for (int i = 0; i < 200 && aspi.TestUnitReady() != 0; ++i) {
    }
    EXPECT_EQ(aspi.TestUnitReady(), 0);
    EXPECT_EQ(buffer, std::vector<BYTE>(2352, 0x11));
}

TEST_F(AspiDeviceTest, DeviceTimeOutReportedByThePassThroughGives507) {
    device_->error_ = ETIMEDOUT;
    cddaCAspiDevice aspi(kKindAspi);
    aspi.Select('D', 2, 3);
    EXPECT_EQ(aspi.TestUnitReady(), 507);
}

TEST_F(AspiDeviceTest, TimeOutSettingDefaultsWhenMissingOrNotANumber) {
    EXPECT_EQ(cddaCAspiDevice(kKindAspi).TimeOutMs(), 16000u);
    SetMachineString("ASPITimeOut", "soon");
    EXPECT_EQ(cddaCAspiDevice(kKindAspi).TimeOutMs(), 16000u);
    SetMachineString("ASPITimeOut", "0");
    EXPECT_EQ(cddaCAspiDevice(kKindAspi).TimeOutMs(), 16000u);
    SetMachineString("ASPITimeOut", "2500");
    EXPECT_EQ(cddaCAspiDevice(kKindAspi).TimeOutMs(), 2500u);
}

} // namespace
} // namespace discpilot

namespace discpilot {
namespace {

class DirectPassThroughTest : public dptest::RegistryTest {};

TEST_F(DirectPassThroughTest, KindZeroSendsToTheLettersOwnDeviceWithAnEightSecondTimeOut) {
    AddVirtualDrive('V', 300, "TOSHIBA");
    cddaCAspiDevice direct(kKindNtPassThrough);
    direct.Select('v', 7, 7); // adapter and target play no part: the letter names the device
    DriveInquiry inquiry;
    ASSERT_EQ(direct.Inquiry(inquiry), 0);
    EXPECT_STREQ(inquiry.vendor, "TOSHIBA ");
    EXPECT_EQ(direct.TestUnitReady(), 0);
    std::vector<BYTE> sectors(2352 * 2);
    EXPECT_EQ(direct.ReadAudio(kReadModeReadCd10, 10, 2, sectors.data()), 0);

    // A letter with no device behind it fails as a request that reached nothing.
    cddaCAspiDevice none(kKindNtPassThrough);
    none.Select('Q', 0, 0);
    EXPECT_EQ(none.TestUnitReady(), 500);
}

} // namespace
} // namespace discpilot

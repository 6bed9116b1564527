// The transports behind their one interface: cddaCDevice answers through whichever transport it opened,
// and both transports deliver the same disc through the same calls.
#include "TestSupport.h"
#include "drives/DriveDiscovery.h"
#include "transport/CdTransport.h"
#include "transport/cddaCAspiLibrary.h"
#include "transport/cddaCDevice.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace discpilot {
namespace {

// Other suites swap the pass-through bus for fakes and leave drives of their own in DiscPilot's drive
// table; these tests use the platform's bus and a table built from their own drives.
class TransportTest : public dptest::RegistryTest {
protected:
    void SetUp() override {
        dptest::RegistryTest::SetUp();
        cddaCAspiLibrary::Instance().SetBus(MakePlatformAspiBus());
    }
};

TEST_F(TransportTest, EachModeReadsTheDiscThroughTheInterface) {
    const std::vector<BYTE> image = testkit::ReadBytes(AddVirtualDrive('V', 300));
    cddaCDriveTable::Get(kKindAspi, true);
    ASSERT_EQ(image.size(), 300 * kSectorBytes);
    struct Case {
        const char* mode;
        int active;
    };
    for (const Case& c : {Case{"RAW", kActiveRaw}, Case{"ASPI", kActiveAspi}}) {
        SCOPED_TRACE(c.mode);
        SetMachineString("Cdrom_Mode", c.mode);
        cddaCDevice device(kKindAspi);
        ASSERT_EQ(device.OpenTransport('V'), 0);
        ASSERT_EQ(device.ActiveTransport(), c.active);
        EXPECT_EQ(device.Aspi() != nullptr, c.active == kActiveAspi);
        EXPECT_EQ(device.Raw() != nullptr, c.active == kActiveRaw);

        CdTransport& transport = device;
        EXPECT_EQ(transport.TestUnitReady(), 0);
        BYTE toc[kTocReplyBytes] = {};
        ASSERT_EQ(transport.ReadToc(0, 1, false, toc), 0);
        const TocAnswer answer = ParseToc(toc);
        EXPECT_EQ(answer.first, 1);
        EXPECT_EQ(answer.last, 1);
        EXPECT_EQ(answer.lba, 0u);

        std::vector<BYTE> sectors(3 * kSectorBytes, 0xEE);
        ASSERT_EQ(transport.ReadAudio(kReadModeReadCd10, 297, 3, sectors.data()), 0);
        EXPECT_TRUE(std::equal(sectors.begin(), sectors.end(), image.end() - 3 * kSectorBytes));

        // Closing leaves nothing to answer through.
        device.CloseTransport();
        EXPECT_EQ(device.Aspi(), nullptr);
        EXPECT_EQ(device.Raw(), nullptr);
        EXPECT_EQ(transport.TestUnitReady(), 502);
    }
}

TEST_F(TransportTest, NothingOpenAnswers502ToEveryOperation) {
    cddaCDevice device(kKindAspi);
    BYTE mode[kModeBufferBytes] = {};
    BYTE subChannel[kSubChannelReplyBytes] = {};
    BYTE toc[kTocReplyBytes] = {};
    std::vector<BYTE> sector(kSectorBytes);
    const std::vector<std::function<int()>> operations = {
        [&] { return device.TestUnitReady(); },
        [&] { return device.ModeSense(0x2A, true, mode); },
        [&] { return device.ModeSelect(0, 2352, false); },
        [&] { return device.ReadSubChannel(1, 0, subChannel); },
        [&] { return device.ReadToc(2, 1, false, toc); },
        [&] { return device.Seek6(10); },
        [&] { return device.Seek10(10); },
        [&] { return device.SetSpeed(4); },
        [&] { return device.ReadAudio(kReadModeReadCd10, 0, 1, sector.data()); },
    };
    for (std::size_t i = 0; i < operations.size(); ++i) {
        EXPECT_EQ(operations[i](), 502) << "operation " << i;
    }
    EXPECT_EQ(device.MaxTransferLength(), 0u);
}

} // namespace
} // namespace discpilot
